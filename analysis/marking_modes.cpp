#include "analysis/marking_modes.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>
#include <vector>

#include "analysis/peak_search.h"
#include "analysis/workspace.h"
#include "core/dialog.h"
#include "core/help_texts.h"
#include "core/numeric.h"
#include "core/numtext.h"

namespace orv {
namespace {

// Channel with the lowest count among round(bound) - 1 .. round(bound) + 1, the first on ties.
double LowestNear(const TSpectrum& s, double bound) {
  const int c = RoundHalfEven(bound);
  int best = c - 1;
  for (int ch = c; ch <= c + 1; ++ch)
    if (s.CountAt(ch) < s.CountAt(best)) best = ch;
  return best;
}

std::string Str(long long v) {
  return std::to_string(v);
}

// Built by appending: GCC 12 at -O3 warns falsely (-Wrestrict) on "literal" + a temporary string.
std::string FoundText(int peaks) {
  std::string text = " ";
  text += Str(peaks);
  text += " peak(s) found. ";
  return text;
}

}  // namespace

void FormIntervals(Workspace& ws, int first, int last) {
  Marking& mk = ws.marking;
  const AnalysisState& st = ws.state;
  const int n = std::clamp(mk.peakCount, 0, kMaxMarkedPeaks);
  mk.peakCount = n;
  mk.intervalCount = 0;
  if (n == 0) return;
  std::sort(mk.peakList.begin() + 1, mk.peakList.begin() + n + 1);

  // Extended list with the interval limits as sentinels; left and right bound of each peak, NaN once
  // dropped because the stretches of two neighbours overlap.
  std::vector<double> P(n + 2), L(n + 2), R(n + 2);
  P[0] = 1;
  for (int k = 1; k <= n; ++k) P[k] = mk.peakList[k];
  P[n + 1] = last;
  auto width = [&](int k) { return (mk.kw1 * P[k] + mk.kw0) * mk.compr; };
  for (int k = 1; k <= n; ++k) {
    const double reach = st.kWidth * width(k) + st.adInterv;
    L[k] = std::max(P[k] - reach, P[k - 1]);
    R[k] = std::min(P[k] + reach, P[k + 1]);
  }
  const double kDropped = std::nan("");
  for (int k = 1; k < n; ++k) {
    R[k] = LowestNear(ws.spectrum, R[k]);
    L[k + 1] = LowestNear(ws.spectrum, L[k + 1]);
    if (R[k] > L[k + 1]) R[k] = L[k + 1] = kDropped;
  }
  L[1] = RoundHalfEven(std::max(P[1] - st.kWidth * width(1) - st.adInterv, static_cast<double>(first)));
  R[n] = RoundHalfEven(std::min(P[n] + st.kWidth * width(n) + st.adInterv, static_cast<double>(last)));

  int count = 0;
  for (int k = 1; k <= n && count < kMaxMarkedIntervals; ++k) {
    if (!std::isnan(L[k])) {
      MarkInterval& m = mk.intervalTable[++count];
      m.startChannel = RoundHalfEven(L[k]);
      m.firstPeak = k;
    }
    if (!std::isnan(R[k])) {
      mk.intervalTable[count].endChannel = RoundHalfEven(R[k]);
      mk.intervalTable[count].lastPeak = k;
    }
  }
  mk.intervalCount = count;

  // Split over-long intervals at their widest gap between neighbouring peaks; a single peak cannot
  // be split, so such an interval is left as it is.
  while (mk.intervalCount < kMaxMarkedIntervals) {
    int longest = 0, longestLength = 0;
    for (int i = 1; i <= mk.intervalCount; ++i) {
      const MarkInterval& m = mk.intervalTable[i];
      const int length = m.endChannel - m.startChannel + 1;
      if (m.lastPeak > m.firstPeak && length > st.maxInterval && length > longestLength) {
        longest = i;
        longestLength = length;
      }
    }
    if (longest == 0) break;
    MarkInterval& m = mk.intervalTable[longest];
    int j = m.firstPeak, widest = -1;
    for (int k = m.firstPeak; k < m.lastPeak; ++k) {
      const int gap = RoundHalfEven(mk.peakList[k + 1] - mk.peakList[k] + 1);
      if (gap > widest) {
        widest = gap;
        j = k;
      }
    }
    const int split = RoundHalfEven(mk.peakList[j]) + RoundHalfEven(widest / 2.0);
    for (int i = mk.intervalCount; i > longest; --i) mk.intervalTable[i + 1] = mk.intervalTable[i];
    ++mk.intervalCount;
    MarkInterval second{split, m.endChannel, j + 1, m.lastPeak};
    m.endChannel = split;
    m.lastPeak = j;
    mk.intervalTable[longest + 1] = second;
  }
}

bool SetPeakSearchControls(Workspace& ws, UiPort& port) {
  TSpectrum& s = ws.spectrum;
  AnalysisState& st = ws.state;
  DialogRequest r = PrepareDialog("Find the Peaks", 0, 600, 420);
  r.helpLines = HelpText(HelpId::kMarking, st.russianHelp);
  ShowLabel(r, 1, 20, 10, "Set the control data for peak search");
  ShowParameterGrid(r, 20, 40, 6, 10, 1,
                    {" Width at the beginning (chan)", " Width at the end(chan)", " Width accuracy(chan)",
                     " Sensitivity (0.5 - 3)", " Resolution (1-3)", " Interval length"},
                    {{s.width1},
                     {s.width2},
                     {s.deltaWidth},
                     {st.sensitivity},
                     {st.resolution},
                     {static_cast<double>(st.maxInterval)}},
                    {220, 100});
  ShowLabel(r, 2, 20, 220, "         Warning.");
  ShowLabel(r, 3, 20, 240, "The quality of peak search strongly");
  ShowLabel(r, 4, 20, 260, "depends on the accuracy of widths.");
  if (!port.ShowDialog(r)) return false;
  // Each value stands on its own: a refused one keeps its old value, says why, and the others still
  // apply. A row that is not a number is left as it was.
  auto take = [&](int row, double& field, bool (*valid)(double), const char* refusal) {
    int accepted = 1;
    const double v = ReadGridValue(r, row, 0, accepted);
    if (accepted == 0) return;
    if (valid(v))
      field = v;
    else
      port.ShowMessage(refusal);
  };
  auto positive = [](double v) { return v > 0; };
  take(0, s.width1, positive, "Erroneous width");
  take(1, s.width2, positive, "Erroneous width");
  take(
      2, s.deltaWidth, [](double v) { return v >= 0; }, "Erroneous width accuracy");
  take(3, st.sensitivity, positive, "Erroneous sensitivity");
  take(
      4, st.resolution, [](double) { return true; }, "");
  double length = st.maxInterval;
  take(
      5, length, [](double v) { return RoundHalfEven(v) >= 64 && RoundHalfEven(v) <= 4096; },
      "Wrong interval");
  st.maxInterval = RoundHalfEven(length);
  return true;
}

bool EnterMarkingEnergies(Workspace& ws, UiPort& port) {
  MarkingInput& in = ws.markingInput;
  DialogRequest r = PrepareDialog("Enter the energy list for marking", 0, 600, 420);
  r.helpLines = HelpText(HelpId::kEnergyList, ws.state.russianHelp);
  ShowRadioGroup(r, 1, 1, 20, 80, 300, 40, {"Enter energies from the screen", "Enter energies from a file"},
                 1);
  if (!port.ShowDialog(r)) return false;
  const int source = r.radio1 ? r.radio1->chosen : 1;
  int count = 0;
  if (source == 1) {
    DialogRequest t = PrepareDialog("Enter the energy list for marking", 0, 600, 420);
    t.helpLines = r.helpLines;
    std::vector<std::string> lines;
    for (int i = 1; i <= in.count; ++i) lines.push_back(FormatNumber(12, 4, in.points[i]));
    ShowTextArea(t, 5, 590, lines);
    if (!port.ShowDialog(t)) return false;
    std::vector<double> numbers;
    for (const std::string& line : t.textArea ? t.textArea->lines : std::vector<std::string>{}) {
      ParseNumberList(line, numbers);
      for (double v : numbers)
        if (count < kMaxPresetPoints) in.points[++count] = v;
    }
  } else {
    std::string name = in.energyFile;
    if (!SelectFile(port, name, 0)) return false;
    std::ifstream file(name);
    if (!file) {
      port.ShowMessage("Failure, file= " + name);
      return false;
    }
    in.energyFile = name;
    count = ReadEnergyList(file, in);
  }
  SetPresetEnergies(ws, port, count);
  return true;
}

int ReadEnergyList(std::istream& file, MarkingInput& in) {
  std::vector<double> values(kMaxPresetPoints + 1, 0.0);
  NumberStream stream(file);
  const int count = stream.Read(values, 1, kMaxPresetPoints);
  for (int i = 1; i <= count; ++i) in.points[i] = values[i];
  return count;
}

void SetPresetEnergies(Workspace& ws, UiPort& port, int count) {
  MarkingInput& in = ws.markingInput;
  if (!ws.state.energyCalibrated) {
    port.ShowMessage("Warning, no previous calibration; energies treated as channels");
  } else {
    for (int i = 1; i <= count; ++i) in.points[i] = EnergyToChannel(ws.state, ws.calibration, in.points[i]);
  }
  // A channel that is not a finite positive number marks nothing (and would upset the sorting).
  int kept = 0;
  for (int i = 1; i <= count; ++i)
    if (in.points[i] > 0 && std::isfinite(in.points[i])) in.points[++kept] = in.points[i];
  std::sort(in.points.begin() + 1, in.points.begin() + kept + 1);
  in.count = kept;
}

void MergePresetPeaks(Workspace& ws, int first, int last) {
  Marking& mk = ws.marking;
  const MarkingInput& in = ws.markingInput;
  for (int i = 1; i <= in.count; ++i) {
    const int c = RoundHalfEven(in.points[i]);
    if (c >= first && c <= last && mk.peakCount < kMaxMarkedPeaks) mk.peakList[++mk.peakCount] = in.points[i];
  }
  std::sort(mk.peakList.begin() + 1, mk.peakList.begin() + mk.peakCount + 1);
  // A preset peak the search also found is one peak: merge pairs closer than the resolution.
  // Every merge removes one peak, so the loop ends; its bound must not be the shrinking count.
  const double minGap = std::max(std::fabs(ws.state.resolution), 1.1);
  while (mk.peakCount >= 2) {
    int closest = 1;
    for (int k = 2; k < mk.peakCount; ++k)
      if (mk.peakList[k + 1] - mk.peakList[k] < mk.peakList[closest + 1] - mk.peakList[closest]) closest = k;
    if (mk.peakList[closest + 1] - mk.peakList[closest] >= minGap) break;
    mk.peakList[closest] = (mk.peakList[closest] + mk.peakList[closest + 1]) / 2;
    std::copy(mk.peakList.begin() + closest + 2, mk.peakList.begin() + mk.peakCount + 1,
              mk.peakList.begin() + closest + 1);
    --mk.peakCount;
  }
  FormIntervals(ws, first, last);
  // Keep only the intervals of interest, with every peak found inside them.
  int kept = 0;
  for (int i = 1; i <= mk.intervalCount; ++i) {
    const MarkInterval& m = mk.intervalTable[i];
    bool wanted = false;
    for (int j = 1; j <= in.count && !wanted; ++j) {
      const int c = RoundHalfEven(in.points[j]);
      wanted = c >= m.startChannel && c <= m.endChannel;
    }
    if (!wanted) continue;
    for (int k = m.firstPeak; k <= m.lastPeak; ++k) mk.peakList[++kept] = mk.peakList[k];
  }
  mk.peakCount = kept;
  FormIntervals(ws, first, last);
}

bool MarkSpectrum(Workspace& ws, UiPort& port) {
  AnalysisState& st = ws.state;
  TSpectrum& s = ws.spectrum;
  Marking& mk = ws.marking;
  const int mode = st.markingMode;
  // Mode 2 searches (replacing the peaks and the width laws) before it asks for the energy list; a
  // Cancel at any dialog must leave the marking and everything the search changed as it was.
  const auto before = std::make_unique<Marking>(mk);
  const double kw1Before = st.kw1, kw0Before = st.kw0;
  const int baseBefore = ws.results.resultBase;
  const bool consistentBefore = ws.markingInput.widthConsistent;
  ws.results.resultBase = st.resultCount;
  st.viewFirst = s.b1;
  st.viewLast = s.b2;
  st.viewWidth = s.b2 - s.b1 + 1;
  WriteOutputLine(ws, "Width function (chan)= " + FormatNumber(9, 4, st.kw1) + " * chan + " +
                          FormatNumber(9, 2, st.kw0) + "  +- " + FormatNumber(9, 2, s.deltaWidth));
  auto cancelled = [&] {
    mk = *before;
    st.kw1 = kw1Before;
    st.kw0 = kw0Before;
    ws.results.resultBase = baseBefore;
    ws.markingInput.widthConsistent = consistentBefore;
    st.reportLines = {"", ""};
    return false;
  };
  if (mode != 3 && !SetPeakSearchControls(ws, port)) return cancelled();
  ws.markingInput.widthConsistent = true;
  bool listFull = false;
  if (mode == 1) {
    MarkingInput& in = ws.markingInput;
    if (in.count == 0) {
      port.ShowMessage("No marked points; first, mark the peaks");
      return false;
    }
    // Each clicked channel moves to the last higher count within two channels.
    mk.peakCount = 0;
    for (int i = 1; i <= in.count && mk.peakCount < kMaxMarkedPeaks; ++i) {
      const int c = RoundHalfEven(in.points[i]);
      int best = c;
      for (int ch = c - 2; ch <= c + 2; ++ch)
        if (s.CountAt(ch) > s.CountAt(c)) best = ch;
      mk.peakList[++mk.peakCount] = best;
    }
    mk.kw1 = st.kw1;
    mk.kw0 = st.kw0;
    mk.compr = 1;
  } else if (mode == 3) {
    if (!ReadMarkingFile(mk, st, port, ws.markingInput.markingFile)) return cancelled();
    st.reportLines = {FoundText(mk.peakCount), ""};
    return true;
  } else {
    if (!ws.searchWork) ws.searchWork = std::make_unique<PeakSearchWork>();
    const PeakSearchResult found = SearchPeaks(s, s.b1, s.b2, s.deltaWidth, s.width2, s.width1, st,
                                               ws.model(), *ws.searchWork, mk, port);
    ws.markingInput.widthConsistent = found.widthConsistent;
    listFull = found.listFull;
    if (listFull) WriteOutputLine(ws, kPeakListFullText);
    // The search's width law, in channels, becomes the law of the analysis.
    st.kw1 = found.kw1;
    st.kw0 = found.kw0;
    if (mode == 2) {
      if (!EnterMarkingEnergies(ws, port)) return cancelled();
      MergePresetPeaks(ws, s.b1, s.b2);  // forms the intervals itself
    }
  }
  if (mode != 2) FormIntervals(ws, s.b1, s.b2);
  st.markedCount = mk.peakCount;
  WriteOutputLine(ws, "The spectrum has been marked. Mode=" + FormatNumber(2, 0, mode) + "  " +
                          FormatNumber(4, 0, mk.intervalCount) + " intervals  " +
                          FormatNumber(5, 0, mk.peakCount) + " peaks");
  std::string status = FoundText(mk.peakCount);
  if (!ws.markingInput.widthConsistent) status += "Inexact peak width dependence; ";
  if (listFull) status += kPeakListFullText;
  st.reportLines = {status, ""};
  return true;
}

void BeginManualMarking(Workspace& ws, UiPort& port) {
  if (ws.marking.peakCount > 0 && port.AskYesNo("Reset the counter?")) {
    ws.marking.peakCount = 0;
    ws.markingInput.count = 0;
  }
  ws.markingInput.manualActive = true;
  port.ShowPrompt(" Click on the peaks, at finish - on OK");
}

void ManualMarkingClick(Workspace& ws, UiPort& port, int channel, int shownChannels) {
  MarkingInput& in = ws.markingInput;
  Marking& mk = ws.marking;
  if (!in.manualActive) return;
  const int h = std::min(3, shownChannels / 1024);
  int best = channel - h;
  for (int ch = channel - h + 1; ch <= channel + h; ++ch)
    if (ws.spectrum.CountAt(ch) > ws.spectrum.CountAt(best)) best = ch;
  if (mk.peakCount < kMaxMarkedPeaks) mk.peakList[++mk.peakCount] = best;
  if (in.count < kMaxPresetPoints) in.points[++in.count] = best;
  port.ShowStatus(" Chan=" + Str(best), "N of peaks =" + Str(mk.peakCount));
}

void UndoManualMarkingClick(Workspace& ws, UiPort& port) {
  Marking& mk = ws.marking;
  MarkingInput& in = ws.markingInput;
  if (!in.manualActive || mk.peakCount == 0) return;
  --mk.peakCount;
  in.count = std::min(in.count, mk.peakCount);
  const std::string last = mk.peakCount > 0 ? Str(RoundHalfEven(mk.peakList[mk.peakCount])) : "";
  port.ShowStatus(" Chan=" + last, "N of peaks =" + Str(mk.peakCount));
}

void FinishManualMarking(Workspace& ws) {
  ws.markingInput.manualActive = false;
  ws.markingInput.count = std::min(ws.marking.peakCount, kMaxPresetPoints);
}

bool CheckPeakAndAdd(Workspace& ws, UiPort& port, int channel, int firstShown, int lastShown) {
  AnalysisState& st = ws.state;
  const TSpectrum& s = ws.spectrum;
  Marking& mk = ws.marking;
  ws.markingInput.checkActive = false;
  const double x = channel;
  const PeakEstimate est = EstimatePeak(s, x, st.kw0 + st.kw1 * x);
  double w = -1;
  double p = x;
  if (est.ok) {
    p = est.position;
    const int last = std::min(s.a2, static_cast<int>(s.sp.size()) - 1);
    w = WidthEstimate(s.sp.data(), RoundHalfEven(p), last);
  }
  if (w <= 0) {
    const double t = (x - s.a1) / (s.a2 - s.a1 + 1);
    w = t * s.width2 + (1 - t) * s.width1;
  }
  w = std::max(w, 4.0);
  const int lo = std::max(firstShown, RoundHalfEven(p - 1.5 * w));
  const int hi = std::min(lastShown, RoundHalfEven(p + 1.5 * w));
  double total = 0;
  for (int ch = lo; ch <= hi; ++ch) total += s.CountAt(ch);
  const double b =
      (hi - lo + 1) * (s.CountAt(lo) + s.CountAt(lo + 1) + s.CountAt(hi) + s.CountAt(hi - 1)) / 4;
  const double area = std::max(total - b, 0.0);
  const double error = std::sqrt(std::fabs(area) + std::fabs(b) + 1);
  const double criterion = area / error;
  const std::string question =
      "Interval " + Str(lo) + " " + Str(hi) + "\nCryt=" + FormatNumber(8, 2, criterion) +
      "     (if < 3, no effect)\nBackgr=" + FormatNumber(10, 1, b) + "\nSave to res-table? (Y,No)";
  if (!port.AskYesNo(question)) return false;
  if (st.resultCount + 1 > kMaxResults) {
    port.ShowStatus("Error, too many peaks in the table", "");
    return false;
  }
  if (mk.peakCount >= kMaxMarkedPeaks || mk.intervalCount >= kMaxMarkedIntervals) {
    port.ShowStatus("Error, too many marking points", "");
    return false;
  }
  ++st.resultCount;
  ws.results[st.resultCount] = ResultRow{p, 0, area, error, w, 0, criterion, b};
  st.resultsUnsaved = true;
  mk.peakList[++mk.peakCount] = p;
  mk.intervalTable[++mk.intervalCount] = MarkInterval{lo, hi, mk.peakCount, mk.peakCount};
  st.markedCount = mk.peakCount;
  return true;
}

}  // namespace orv
