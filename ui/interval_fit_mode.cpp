#include "ui/interval_fit_mode.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

#include "analysis/interval_checks.h"
#include "analysis/marking_modes.h"
#include "analysis/spectrum_fit.h"
#include "core/dialog.h"
#include "core/numtext.h"
#include "graphics/bitmap_export.h"
#include "graphics/graphs.h"
#include "graphics/plot.h"
#include "ui/settings_dialogs.h"

namespace orv {
namespace {

std::string Bounds(const IntervalFitState& fs) {
  return std::to_string(fs.startChannel) + " " + std::to_string(fs.endChannel);
}

const std::vector<std::string> kChangeMenu = {
    "Correct the blunders",    "Change the background", "",           "Check the parameters",
    "Set new interval bounds", "Click on new peak",     "Delete peak"};

// A record sits on a bound that leaves it room to move.
bool OnBoundary(const ParamRec& r) {
  return r.lower != r.upper && (r.value == r.lower || r.value == r.upper);
}

}  // namespace

bool IntervalFitSession::Command() {
  AnalysisState& st = ws_.state;
  if (st.resultsUnsaved && !port_.AskOkCancel("Previous fit results not saved")) return false;
  if (!FittingDataDialog(ws_, port_)) return false;
  return Start();
}

bool IntervalFitSession::Start() {
  ws_.state.currentInterval = 1;
  ws_.state.usedBackgroundDegree = 0;
  return Continue();
}

bool IntervalFitSession::Continue() {
  AnalysisState& st = ws_.state;
  const Marking& mk = ws_.marking;
  if (mk.peakCount <= 0 || mk.intervalCount <= 0) {
    port_.ShowMessage("No marking data");
    return false;
  }
  port_.ClearForm();
  active_ = true;
  st.graphMode = 2;
  // Results of an earlier walk stay unsaved even when this first fit fails.
  const bool wasUnsaved = st.resultsUnsaved;
  st.resultsUnsaved = true;
  WriteOutputLine(ws_, "New Fitting");
  ShowIntervalFit(0);
  if (!ws_.fit.fitDone) st.resultsUnsaved = wasUnsaved;
  return true;
}

bool IntervalFitSession::AtLastInterval() const {
  return ws_.state.currentInterval >= ws_.marking.intervalCount;
}

bool IntervalFitSession::NextEnabled() const {
  return active_ && !AtLastInterval();
}

bool IntervalFitSession::PreviousEnabled() const {
  return active_ && ws_.state.currentInterval > 1;
}

bool IntervalFitSession::Next() {
  if (!NextEnabled()) return false;
  ++ws_.state.currentInterval;
  ShowIntervalFit(0);
  return true;
}

bool IntervalFitSession::Previous() {
  if (!PreviousEnabled()) return false;
  --ws_.state.currentInterval;
  ShowIntervalFit(0);
  return true;
}

void IntervalFitSession::Fail() {
  ws_.fit.fitDone = false;
  if (fitCanvas)
    fitCanvas->Fill(0, 0, kFitSurfaceWidth - 1, kFitSurfaceHeight - 1,
                    ColorFromInt(ws_.state.colorBackground));
}

void IntervalFitSession::ShowIntervalFit(int mode) {
  AnalysisState& st = ws_.state;
  const Marking& mk = ws_.marking;
  IntervalFitState& fs = ws_.fit;
  clickMode_ = FitClickMode::kNone;
  grid_.clear();
  warnings_.clear();
  quality_.clear();
  if (mk.peakCount <= 0 || mk.intervalCount <= 0) {
    // The corrections deleted the last peak: nothing is left to walk through.
    port_.ShowMessage("No marking data");
    active_ = false;
    Fail();
    return;
  }
  st.currentInterval = std::clamp(st.currentInterval, 1, std::min(mk.intervalCount, kMaxMarkedIntervals));
  LoadInterval(ws_, st.currentInterval);
  fs.fitDone = true;
  // A damaged interval table must not send the fit outside the peak list.
  const bool peaksInList = fs.firstPeak >= 1 && fs.firstPeak + fs.n - 1 <= mk.peakCount;
  if (fs.n <= 0 || !peaksInList) {
    port_.ShowMessage("Error, no peaks in " + Bounds(fs));
    Fail();
    return;
  }
  if (!CheckIntervalForFit(ws_, mk.intervalTable[st.currentInterval], port_)) {
    Fail();
    return;
  }
  if (fs.endChannel - fs.startChannel + 1 > st.maxInterval) {
    port_.ShowStatus("Error, too long interval " + Bounds(fs), "");
    Fail();
    return;
  }
  // The width law in channels: the marking keeps the search's law divided by its compression.
  fs.wInt = st.kw0 + st.kw1 * (fs.startChannel + fs.endChannel) / 2.0;
  ws_.engine.port = &port_;
  if (!FitInterval(ws_, mk.peakList.data() + fs.firstPeak - 1, mode)) {
    Fail();
    return;
  }
  NoteBackgroundDegree(ws_);
  if (fitCanvas) DrawFitGraph(ws_, *fitCanvas);
  StoreRows();
  Report();
}

void IntervalFitSession::StoreRows() {
  AnalysisState& st = ws_.state;
  const IntervalFitState& fs = ws_.fit;
  const TParameter& e = ws_.engine;
  grid_.push_back({"", " Channel", " Energy", " Area", "Intensity", " Width", "Crit/Bckg", "Chi2/Ch+"});
  bool overflow = false;
  for (int k = 1; k <= fs.n; ++k) {
    const PeakFigures p = PeakResult(ws_, k);
    const ResultRow row{p.position, p.positionError, p.area,      p.areaError,
                        p.width,    p.widthError,    p.criterion, p.background};
    const int r = ws_.results.resultBase + fs.firstPeak + k - 1;
    overflow |= r > ResultTable::resultCapacity;
    // The count never passes the capacity: rows beyond it share the last slot.
    st.resultCount = std::min(std::max(r, st.resultCount), ResultTable::resultCapacity);
    ws_.results[r] = row;
    const CalibratedPeak c =
        ApplyCalibrations(st, ws_.calibration, row.channel, row.channelError, row.area, row.areaError);
    grid_.push_back({" Peak", FormatNumber(9, 2, row.channel), FormatNumber(9, 2, c.energy),
                     FormatNumber(10, 0, row.area), FormatNumber(12, 0, c.intensity),
                     FormatNumber(8, 2, row.width), FormatNumber(8, 2, row.criterion),
                     FormatNumber(8, 2, e.chi2)});
    grid_.push_back({" Errors", FormatNumber(9, 2, row.channelError), FormatNumber(9, 2, c.energyError),
                     FormatNumber(10, 0, row.areaError), FormatNumber(12, 0, c.intensityError),
                     FormatNumber(8, 2, row.widthError), FormatNumber(8, 0, row.background),
                     FormatNumber(8, 2, e.chiPlus)});
  }
  // Rows were added since the last save, whichever step stored them.
  if (fs.n > 0) st.resultsUnsaved = true;
  if (overflow) port_.ShowMessage("Error, too many peaks in the table");
}

void IntervalFitSession::Report() {
  const IntervalFitState& fs = ws_.fit;
  const TParameter& e = ws_.engine;
  const int n = fs.n;
  bool position = false, width = false;
  for (int k = 1; k <= n; ++k) position |= OnBoundary(e.params[PositionIndex(n, k)]);
  for (int i = WidthIndex(n); i <= std::min(e.nParams, static_cast<int>(e.params.size()) - 1); ++i)
    width |= OnBoundary(e.params[i]);
  if (position) warnings_.push_back("Peak pos. on the boundary");
  if (width) warnings_.push_back("Peak width on the boundary");
  quality_ = "Ch2/df=" + FormatNumber(9, 3, e.chi2) + "  Ch+=" + FormatNumber(9, 3, e.chiPlus);
  std::string line2;
  for (const std::string& w : warnings_) line2 += (line2.empty() ? "" : "  ") + w;
  port_.ShowStatus("FILE=" + ws_.spectrum.fileName + "  " + quality_, line2);
  if (AtLastInterval() && ws_.state.resultsUnsaved)
    port_.ShowPrompt("  Fitting finished. Save the results. ");
}

bool IntervalFitSession::Change() {
  if (!active_) return false;
  DialogRequest r = PrepareDialog("Menu", 250, 300, 300);
  ShowRadioGroup(r, 1, 1, 20, 200, 250, 20, kChangeMenu, 1);
  if (!port_.ShowDialog(r) || !r.radio1) return false;
  const int chosen = r.radio1->chosen;
  if (chosen < 1 || chosen > static_cast<int>(kChangeMenu.size())) return false;
  return Correct(static_cast<FitCorrection>(chosen));
}

bool IntervalFitSession::Correct(FitCorrection correction) {
  if (!active_) return false;
  switch (correction) {
    case FitCorrection::kBlunders:
    case FitCorrection::kEmpty:
      clickMode_ = FitClickMode::kBlunder;
      break;
    case FitCorrection::kNewPeak:
      clickMode_ = FitClickMode::kNewPeak;
      break;
    case FitCorrection::kDeletePeak:
      clickMode_ = FitClickMode::kDeletePeak;
      break;
    case FitCorrection::kBackground:
      // The cubic background frees records 2..4.
      ShowIntervalFit(1);
      return true;
    case FitCorrection::kParameters:
      ShowParameters();
      return true;
    case FitCorrection::kBounds:
      return NewBounds();
    default:
      return false;
  }
  port_.ShowPrompt(" Click on the point. ");
  return true;
}

bool IntervalFitSession::Click(int channel) {
  switch (clickMode_) {
    case FitClickMode::kBlunder:
      return BlunderClick(channel);
    case FitClickMode::kNewPeak:
      return NewPeakClick(channel);
    case FitClickMode::kDeletePeak:
      return DeletePeakClick(channel);
    case FitClickMode::kNone:
      break;
  }
  return false;
}

void IntervalFitSession::CancelClick() {
  if (clickMode_ == FitClickMode::kNone) return;
  clickMode_ = FitClickMode::kNone;
  port_.ShowPrompt("");
}

bool IntervalFitSession::BlunderClick(int channel) {
  TSpectrum& s = ws_.spectrum;
  // Both neighbours must be counts of the spectrum.
  if (channel <= std::max(s.a1, 1) || channel >= std::min(s.a2, kSpectrumCapacity)) return false;
  corrected_.push_back({channel, s.sp[channel], s.err[channel]});
  s.sp[channel] = (s.CountAt(channel - 1) + s.CountAt(channel + 1)) / 2;
  // The old deviation belonged to the blunder: the mean of two counts has the deviation of that mean.
  s.err[channel] = std::hypot(s.err[channel - 1], s.err[channel + 1]) / 2;
  port_.ShowPrompt("");
  ShowIntervalFit(0);
  return true;
}

bool IntervalFitSession::NewPeakClick(int channel) {
  Marking& mk = ws_.marking;
  const IntervalFitState& fs = ws_.fit;
  if (channel < fs.startChannel || channel > fs.endChannel) return false;
  if (mk.peakCount >= kMaxMarkedPeaks) {
    port_.ShowStatus("Error, too many marking points", "");
    return false;
  }
  mk.peakList[++mk.peakCount] = channel;
  ws_.state.markedCount = mk.peakCount;
  port_.ShowPrompt("");
  Reform(channel);
  // Rows follow the peak indexes: an empty row at the new peak's index keeps the later rows on theirs.
  // Without later rows nothing moves, and no empty row is left behind should the refit fail.
  int index = 1;
  while (index < mk.peakCount && mk.peakList[index] != channel) ++index;
  const int after = ws_.results.resultBase + index - 1;
  if (after < ws_.state.resultCount) InsertResultRow(ws_, after);
  ShowIntervalFit(0);
  return true;
}

bool IntervalFitSession::DeletePeakClick(int channel) {
  Marking& mk = ws_.marking;
  const IntervalFitState& fs = ws_.fit;
  const int first = std::max(fs.firstPeak, 1), last = std::min(fs.lastPeak, mk.peakCount);
  if (first > last) return false;
  int nearest = first;
  for (int k = first + 1; k <= last; ++k)  // the later one on ties
    if (std::fabs(mk.peakList[k] - channel) <= std::fabs(mk.peakList[nearest] - channel)) nearest = k;
  for (int k = nearest; k < mk.peakCount; ++k) mk.peakList[k] = mk.peakList[k + 1];
  --mk.peakCount;
  ws_.state.markedCount = mk.peakCount;
  // The deleted peak's own row goes, so every other row stays with its peak.
  const int row = ws_.results.resultBase + nearest;
  if (row <= ws_.state.resultCount) DeleteResultRow(ws_, row);
  port_.ShowPrompt("");
  Reform(channel);
  ShowIntervalFit(0);
  return true;
}

void IntervalFitSession::Reform(int channel) {
  const TSpectrum& s = ws_.spectrum;
  Marking& mk = ws_.marking;
  FormIntervals(ws_, s.b1, s.b2);
  // The interval that now holds the click, or else the last one starting before it.
  int current = 1;
  for (int i = 1; i <= mk.intervalCount; ++i) {
    if (mk.intervalTable[i].startChannel <= channel) current = i;
    if (mk.intervalTable[i].startChannel <= channel && channel <= mk.intervalTable[i].endChannel) break;
  }
  ws_.state.currentInterval = current;
}

bool IntervalFitSession::NewBounds() {
  TSpectrum& s = ws_.spectrum;
  Marking& mk = ws_.marking;
  const IntervalFitState& fs = ws_.fit;
  // The blunder corrections of this interval are undone first.
  auto inside = [&fs](const CorrectedPoint& c) {
    return c.channel >= fs.startChannel && c.channel <= fs.endChannel;
  };
  for (auto it = corrected_.rbegin(); it != corrected_.rend(); ++it) {
    if (!inside(*it)) continue;
    s.sp[it->channel] = it->count;
    s.err[it->channel] = it->error;
  }
  std::erase_if(corrected_, inside);
  DialogRequest r = PrepareDialog("Enter new bounds", 250, 300, 200);
  ShowParameterGrid(r, 40, 30, 2, 10, 1, {" i1=", " i2="},
                    {{static_cast<double>(fs.startChannel)}, {static_cast<double>(fs.endChannel)}},
                    {100, 100});
  if (!port_.ShowDialog(r)) {
    ShowIntervalFit(0);
    return false;
  }
  int accepted = 1;
  const double i1 = ReadGridValue(r, 0, 0, accepted);
  const double i2 = ReadGridValue(r, 1, 0, accepted);
  const int lo = std::max(s.a1, 1), hi = std::min(s.a2, kSpectrumCapacity);
  // Bounds outside the spectrum or without room for a fit are refused; the interval stays.
  if (!accepted || !std::isfinite(i1) || !std::isfinite(i2) || i1 < lo || i2 > hi || i2 - i1 < 2) {
    ShowIntervalFit(0);
    return false;
  }
  MarkInterval& m = mk.intervalTable[std::clamp(ws_.state.currentInterval, 1, kMaxMarkedIntervals)];
  m.startChannel = RoundHalfEven(i1);
  m.endChannel = RoundHalfEven(i2);
  ShowIntervalFit(1);
  return true;
}

void IntervalFitSession::ShowParameters() {
  const TParameter& e = ws_.engine;
  const int n = ws_.fit.n;
  std::vector<std::string> names;
  std::vector<std::array<double, 10>> values;
  const int count = std::min(2 * n + 6, static_cast<int>(e.params.size()) - 1);
  for (int i = 1; i <= count; ++i) {
    std::string name;
    if (i <= 4)
      name = "Background " + std::to_string(i);
    else if (i <= 4 + n)
      name = "Amplitude " + std::to_string(i - 4);
    else if (i <= 4 + 2 * n)
      name = "Position " + std::to_string(i - 4 - n);
    else
      name = "Width " + std::to_string(i - 4 - 2 * n);
    names.push_back(name);
    const ParamRec& p = e.params[i];
    values.push_back({static_cast<double>(i), p.lower, p.value, p.upper, p.coef, p.offset});
  }
  DialogRequest r = PrepareDialog("Parameter array", 5, 590, 420);
  ShowParameterGrid(r, 5, 10, std::min(count, 14), 12, 6, names, values, {110, 50, 80, 80, 80, 60, 60});
  ShowLabel(r, 1, 10, 370, "Eps=" + FormatNumber(12, 6, e.accuracy));
  port_.ShowDialog(r);
}

bool IntervalFitSession::FitToBitmap(ImageCanvas& canvas) {
  if (!active_ || !FitAvailable(ws_)) return false;
  const bool saved = SaveFitBitmap(ws_, port_, canvas);
  // The colours were reversed on the surface itself for the file; the screen shows the graph again.
  if (fitCanvas) DrawFitGraph(ws_, *fitCanvas);
  return saved;
}

bool IntervalFitSession::GraphSinglePeaks(Canvas& canvas) {
  if (!active_ || !FitAvailable(ws_)) return false;
  DrawSinglePeaks(ws_, canvas, FitGraphScale(ws_));
  return true;
}

}  // namespace orv
