#include "analysis/calibration.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <utility>

#include "core/dialog.h"
#include "core/help_texts.h"
#include "core/numeric.h"
#include "core/numtext.h"

namespace orv {

namespace {

// Half-width of the normalised abscissa: sqrt(3) makes a uniform spread of channels have unit variance,
// which keeps the intercept and the slope nearly uncorrelated.
constexpr double kHalfSpan = 1.732051;

const std::vector<std::string> kSources = {" Use marked peaks as channels ",
                                           " Take the data from result table ",
                                           " Take the data from the screen ", " Take the data from a file "};

int TableCount(int count) {
  return std::clamp(count, 0, kMaxCalibrationItems);
}

// Interpolation through items[1..n] with y and x taken from the given fields; the routine wants the n
// node values followed by the n abscissas.
double InterpolateItems(const CalibrationList& items, int n, double CalibrationItem::*y,
                        double CalibrationItem::*x, double at) {
  std::array<double, 2 * kMaxCalibrationItems + 1> table{};
  n = TableCount(n);
  for (int i = 1; i <= n; ++i) {
    table[i] = items[i].*y;
    table[n + i] = items[i].*x;
  }
  return Interpolate(table.data(), static_cast<int>(table.size()), n, at);
}

void Write(LineSink* sink, const std::string& line) {
  if (sink) sink->WriteLine(line);
}

}  // namespace

bool IsValidCalibrationItem(double argument, double value, double error) {
  return argument + value + error != 0.0;
}

bool CheckCalibrationItemCount(int n, UiPort& port) {
  if (n > kMaxCalibrationItems) {
    port.ShowMessage("Error, number of peaks > 60");
    return false;
  }
  if (n < 2) {
    port.ShowMessage("Error, number of peaks < 2");
    return false;
  }
  return true;
}

bool CheckCalibrationSpread(const CalibrationList& items, int n, UiPort& port) {
  n = TableCount(n);
  if (n < 2 || items[1].argument != items[n].argument) return true;
  port.ShowMessage("Error, all calibration items at " + FormatNumberCompact(12, items[1].argument) +
                   "; a calibration needs two different points");
  return false;
}

void SortCalibrationItems(CalibrationList& items, int n) {
  n = TableCount(n);
  for (int pass = 1; pass < n; ++pass)
    for (int i = 1; i <= n - pass; ++i)
      if (items[i].argument > items[i + 1].argument) std::swap(items[i], items[i + 1]);
}

int ReadCalibrationItems(std::istream& in, CalibrationList& items) {
  NumberStream stream(in);
  std::vector<double> numbers(4);
  int count = 0;
  for (;;) {
    std::fill(numbers.begin(), numbers.end(), 0.0);
    int got = stream.Read(numbers, 1, 3);
    if (got == 0 && !in) break;  // end of the file (an early "/" leaves the stream good)
    if (got >= 2 && IsValidCalibrationItem(numbers[1], numbers[2], numbers[3])) {
      count = std::min(count + 1, kMaxCalibrationItems);
      items[count] = {numbers[2], numbers[1], numbers[3]};
    }
  }
  return count;
}

int ParseCalibrationLines(const std::vector<std::string>& lines, CalibrationList& items) {
  std::vector<double> numbers;
  int count = 0;
  for (const std::string& line : lines) {
    if (ParseNumberList(line, numbers) == 0) continue;
    numbers.resize(std::max<std::size_t>(numbers.size(), 3), 0.0);
    if (!IsValidCalibrationItem(numbers[0], numbers[1], numbers[2])) continue;
    ++count;
    if (count <= kMaxCalibrationItems) items[count] = {numbers[1], numbers[0], numbers[2]};
  }
  return count;
}

double NormalisedAbscissa(const AnalysisState& state, double channel) {
  double span = state.lastChannel - state.firstChannel;
  // One channel for all items leaves no scale; every item then sits at the centre.
  if (span == 0.0) return 0.0;
  return kHalfSpan * (2.0 * channel - state.firstChannel - state.lastChannel) / span;
}

double FitLinearEnergyCalibration(AnalysisState& state, CalibrationTables& cal) {
  const int n = TableCount(state.energyItemCount);
  if (n == 0) return 0.0;
  const CalibrationList& items = cal.energyItems;
  state.firstChannel = items[1].argument;
  state.lastChannel = items[n].argument;
  // The floor keeps items with tiny or zero errors from taking all the weight.
  double meanError = 0;
  for (int i = 1; i <= n; ++i) meanError += items[i].error;
  const double s0 = std::max(0.01, meanError / n);
  auto weight = [s0](const CalibrationItem& item) {
    double s = std::max(s0, item.error);
    return 1.0 / (s * s);
  };
  double S = 0, St = 0, Stt = 0, Sy = 0, Sty = 0;
  for (int i = 1; i <= n; ++i) {
    double w = weight(items[i]), t = NormalisedAbscissa(state, items[i].argument), y = items[i].value;
    S += w;
    St += w * t;
    Stt += w * t * t;
    Sy += w * y;
    Sty += w * t * y;
  }
  const double D = std::max(S * Stt - St * St, 0.000001);
  cal.linearIntercept = (Stt * Sy - St * Sty) / D;
  cal.linearSlope = (S * Sty - St * Sy) / D;
  double chi2 = 0;
  for (int i = 1; i <= n; ++i) {
    double d = items[i].value -
               (cal.linearIntercept + cal.linearSlope * NormalisedAbscissa(state, items[i].argument));
    chi2 += weight(items[i]) * d * d;
  }
  return chi2;
}

double EnergyOfChannel(const AnalysisState& state, const CalibrationTables& cal, double channel) {
  if (state.calibrationMode == 1)
    return cal.linearIntercept + cal.linearSlope * NormalisedAbscissa(state, channel);
  return InterpolateItems(cal.energyItems, state.energyItemCount, &CalibrationItem::value,
                          &CalibrationItem::argument, channel);
}

bool EnergyCalibrationInForce(const AnalysisState& state) {
  return state.energyCalibrated && state.energyItemCount >= 2;
}

bool EfficiencyCalibrationInForce(const AnalysisState& state) {
  return state.efficiencyCalibrated && state.efficiencyItemCount >= 2;
}

CalibratedPeak ApplyCalibrations(const AnalysisState& state, const CalibrationTables& cal, double position,
                                 double positionError, double area, double areaError) {
  CalibratedPeak out{position, positionError, area, areaError};
  if (EnergyCalibrationInForce(state)) {
    out.energy = EnergyOfChannel(state, cal, position);
    double shifted = EnergyOfChannel(state, cal, position + positionError);
    // The table's own error adds to the position error carried through the calibration.
    double e = InterpolateItems(cal.energyItems, state.energyItemCount, &CalibrationItem::error,
                                &CalibrationItem::argument, position);
    double d = std::fabs(shifted - out.energy);
    out.energyError = std::sqrt(e * e + d * d);
  }
  if (EfficiencyCalibrationInForce(state)) {
    double k = InterpolateItems(cal.efficiencyItems, state.efficiencyItemCount, &CalibrationItem::value,
                                &CalibrationItem::argument, out.energy);
    if (k != 0.0) {
      out.intensity = area / k;
      out.intensityError = areaError / k;
    }
  }
  return out;
}

double EnergyToChannel(const AnalysisState& state, const CalibrationTables& cal, double energy) {
  if (state.calibrationMode == 1) {
    double centre = (state.firstChannel + state.lastChannel) / 2.0;
    if (cal.linearSlope == 0.0) return centre;  // a flat line has no inverse; its channels' middle
    return ((energy - cal.linearIntercept) * (state.lastChannel - state.firstChannel) /
                (kHalfSpan * cal.linearSlope) +
            state.firstChannel + state.lastChannel) /
           2.0;
  }
  return InterpolateItems(cal.energyItems, state.energyItemCount, &CalibrationItem::argument,
                          &CalibrationItem::value, energy);
}

namespace {

struct Entry {
  CalibrationList items{};
  int count = 0;
};

std::string CaptionOf(int kind) {
  return kind == kEnergyCalibration ? "Data here:  channel, Energy, error, [Fit, chi^2]"
                                    : "Data here: Energy, Effic.coef, error";
}

DialogRequest CalibrationDialog(int kind, bool russianHelp) {
  DialogRequest r = PrepareDialog(CaptionOf(kind), 0, 600, 420);
  r.helpLines = HelpText(
      kind == kEnergyCalibration ? HelpId::kEnergyCalibration : HelpId::kEfficiencyCalibration, russianHelp);
  return r;
}

bool FromMarkedPeaks(const Marking& marking, Entry& entry, UiPort& port) {
  if (!CheckCalibrationItemCount(marking.peakCount, port)) return false;
  // Channels only: the energies are still to be given.
  entry.count = marking.peakCount;
  for (int k = 1; k <= entry.count; ++k) entry.items[k] = {0.0, marking.peakList[k], 0.0};
  return true;
}

bool FromResults(const AnalysisState& state, const CalibrationTables& cal, const ResultTable& results,
                 Entry& entry, UiPort& port) {
  if (!CheckCalibrationItemCount(state.resultCount, port)) return false;
  entry.count = state.resultCount;
  for (int row = 1; row <= entry.count; ++row) {
    const ResultRow& r = results[row];
    CalibratedPeak c = ApplyCalibrations(state, cal, r.channel, r.channelError, r.area, r.areaError);
    entry.items[row] = {c.energy, r.channel, c.energyError};
  }
  return true;
}

bool FromScreen(int kind, const CalibrationList& table, int tableCount, Entry& entry, UiPort& port,
                bool russianHelp) {
  std::vector<std::string> lines;
  if (!port.AskYesNo("Reset the old calibration?")) {
    for (int i = 1; i <= TableCount(tableCount); ++i)
      lines.push_back(FormatNumber(15, 3, table[i].argument) + FormatNumber(15, 3, table[i].value) +
                      FormatNumber(15, 3, table[i].error));
  }
  DialogRequest r = CalibrationDialog(kind, russianHelp);
  ShowTextArea(r, 5, 590, lines);
  if (!port.ShowDialog(r)) return false;
  entry.count =
      ParseCalibrationLines(r.textArea ? r.textArea->lines : std::vector<std::string>{}, entry.items);
  return CheckCalibrationItemCount(entry.count, port);
}

bool FromFile(const AnalysisState& state, Entry& entry, UiPort& port) {
  std::string name =
      state.lastDir.empty() ? std::string() : (std::filesystem::path(state.lastDir) / "").string();
  if (!SelectFile(port, name, 0)) return false;
  std::ifstream in(name);
  if (!in) {
    port.ShowMessage("Failure, file= " + name);
    return false;
  }
  entry.count = ReadCalibrationItems(in, entry.items);
  if (in.bad()) {
    port.ShowMessage("Failure, file= " + name);
    return false;
  }
  return CheckCalibrationItemCount(entry.count, port);
}

}  // namespace

bool EnterCalibration(int kind, AnalysisState& state, CalibrationTables& cal, const Marking& marking,
                      const ResultTable& results, UiPort& port, LineSink* sink) {
  const bool energy = kind == kEnergyCalibration;
  bool& inForce = energy ? state.energyCalibrated : state.efficiencyCalibrated;
  int& tableCount = energy ? state.energyItemCount : state.efficiencyItemCount;
  CalibrationList& table = energy ? cal.energyItems : cal.efficiencyItems;
  inForce = false;
  Write(sink, std::string(15, ' ') + (energy ? "Energy calibration" : "Efficiency calibration"));

  DialogRequest r = CalibrationDialog(kind, state.russianHelp);
  if (energy) {
    ShowLabel(r, 1, 10, 10, " Select the mode ");
    ShowRadioGroup(r, 1, 1, 10, 60, 200, 30, {" Non-linear", " Linear"},
                   std::clamp(state.calibrationMode, 0, 1) + 1);
  }
  ShowLabel(r, 2, 10, 100, "Number of calibration items = " + std::to_string(tableCount));
  std::vector<std::string> sources = kSources;
  if (!energy) sources[0] = sources[1] = " ";
  ShowCheckList(r, 10, 130, 300, 100, sources);
  if (!port.ShowDialog(r)) return false;
  if (energy && r.radio1) state.calibrationMode = std::clamp(r.radio1->chosen, 1, 2) - 1;

  Entry entry;
  entry.count = TableCount(tableCount);
  entry.items = table;
  std::vector<bool> checked = r.checkList ? r.checkList->checked : std::vector<bool>{};
  checked.resize(kSources.size(), false);
  // Each checked source replaces the whole list, so the last one checked wins.
  if (energy && checked[0] && !FromMarkedPeaks(marking, entry, port)) return false;
  if (energy && checked[1] && !FromResults(state, cal, results, entry, port)) return false;
  if (checked[2] && !FromScreen(kind, table, tableCount, entry, port, state.russianHelp)) return false;
  if (checked[3] && !FromFile(state, entry, port)) return false;
  // With no source checked the old table is taken again; it too must hold 2..60 items.
  if (!CheckCalibrationItemCount(entry.count, port)) return false;

  SortCalibrationItems(entry.items, entry.count);
  if (!CheckCalibrationSpread(entry.items, entry.count, port)) return false;
  table = entry.items;
  tableCount = entry.count;
  const bool linear = energy && state.calibrationMode == 1;
  if (linear) FitLinearEnergyCalibration(state, cal);

  DialogRequest listing = CalibrationDialog(kind, state.russianHelp);
  std::vector<std::string> lines;
  for (int i = 1; i <= tableCount; ++i) {
    const CalibrationItem& item = table[i];
    // Efficiency coefficients are small numbers: they get the digits the output file gives them.
    std::string line = energy
                           ? JoinFields({FormatNumber(9, 2, item.argument), FormatNumber(9, 2, item.value),
                                         FormatNumber(9, 3, item.error)})
                           : JoinFields({FormatNumber(9, 2, item.argument), FormatNumber(15, 7, item.value),
                                         FormatNumber(15, 7, item.error)});
    if (linear) {
      double fitted = EnergyOfChannel(state, cal, item.argument);
      double s = std::max(0.0001, item.error);
      double d = item.value - fitted;
      line = JoinFields({line, FormatNumber(9, 2, fitted), FormatNumber(12, 2, d * d / (s * s))}) + " (chi2)";
    }
    lines.push_back(line);
    Write(sink, line);
  }
  ShowTextArea(listing, 5, 590, lines);
  if (!port.ShowDialog(listing)) return false;
  inForce = true;
  state.reportLines[0] = energy ? " Energy calibration set up" : " Efficiency calibration set up";
  return true;
}

}  // namespace orv
