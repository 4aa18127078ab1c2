#include "ui/settings_dialogs.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "analysis/spectrum_input.h"
#include "core/dialog.h"
#include "core/help_texts.h"
#include "core/numtext.h"
#include "spectrum/formats/formats.h"

namespace orv {
namespace {

constexpr Rgb kLightCyan{128, 255, 255};
constexpr Rgb kGreen{0, 128, 0};

const std::vector<std::string> kAssignNameHelp = {
    "The chosen name of the spectrum name list becomes the current spectrum.",
    "Under default conditions it is read at once with the current file type,",
    "options and interval bounds; otherwise the spectrum input dialog asks."};

std::vector<std::string> Help(const AnalysisState& st, HelpId id) {
  return HelpText(id, st.russianHelp);
}

int Chosen(const std::optional<DialogRadioGroup>& g, int count) {
  return g ? std::clamp(g->chosen, 1, count) : 1;
}

bool Checked(const std::optional<DialogCheckList>& list, std::size_t index) {
  return list && index < list->checked.size() && list->checked[index];
}

// Reads every value cell of a one-column grid; nothing when a cell is refused.
std::optional<std::vector<double>> ReadGrid(const DialogRequest& r, int rows) {
  std::vector<double> v(rows);
  int accepted = 1;
  for (int i = 0; i < rows; ++i) {
    v[i] = ReadGridValue(r, i, 0, accepted);
    if (accepted == 0) return std::nullopt;
  }
  return v;
}

// General floating form of the width report: six significant digits, no padding. More would only
// show the rounding noise of the division (0.00999999999999979 for a slope of 0.01).
std::string General(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

// A file name without its folder and extension, as the name list shows it.
std::string BareName(const std::string& name) {
  const auto slash = name.find_last_of("/\\");
  std::string bare = slash == std::string::npos ? name : name.substr(slash + 1);
  const auto dot = bare.find_last_of('.');
  if (dot != std::string::npos && dot > 0) bare.resize(dot);
  return bare;
}

}  // namespace

bool GraphScaleCommand(Workspace& ws, UiPort& port) {
  AnalysisState& st = ws.state;
  DialogRequest r = PrepareDialog(" Graph modes", 250, 330, 430);
  r.helpLines = Help(st, HelpId::kGraphScales);
  ShowLabel(r, 1, 30, 10, "Select the scale", kWhite);
  ShowLabel(r, 2, 170, 10, "Select the pixel mode", kWhite);
  ShowRadioGroup(r, 1, 1, 30, 120, 120, 30, {"Normal", "SQRT", "LN", "Trimmed"},
                 std::clamp(st.scaleMode, 0, 3) + 1);
  ShowRadioGroup(r, 2, 1, 170, 120, 130, 30, {" 5 points ", " 1 point ", " Line "},
                 std::clamp(st.pointStyle, 0, 2) + 1);
  ShowLabel(r, 3, 10, 170, " Trimming coefficient = ", kWhite);
  ShowEditField(r, 30, 190, FormatNumberCompact(10, st.trimmingCoefficient), 240);
  ShowCheckList(r, 10, 290, 280, 75,
                {" Graph errors of fitted spectrum", " X scale logarithmic", " Long reflection indicators",
                 " Change the object colors"});
  if (!port.ShowDialog(r)) return false;
  int accepted = 1;
  const double trimming = ReadNumber(r.edit ? r.edit->text : "", accepted);
  if (accepted == 0) return false;
  st.scaleMode = Chosen(r.radio1, 4) - 1;
  st.pointStyle = Chosen(r.radio2, 3) - 1;
  st.trimmingCoefficient = trimming;
  st.graphFittedErrors = Checked(r.checkList, 0);
  st.xScaleLogarithmic = Checked(r.checkList, 1);
  st.longReflectionIndicators = Checked(r.checkList, 2);
  // The fourth mark is read and ignored: the colour table is kept in the settings file.
  return true;
}

bool FormSizesCommand(Workspace& ws, UiPort& port) {
  AnalysisState& st = ws.state;
  DialogRequest r = PrepareDialog("", 100, 320, 430);
  r.helpLines = Help(st, HelpId::kFormSizes);
  ShowLabel(r, 1, 50, 32, "   Set the screen scale ", kWhite, kMaroon);
  ShowRadioGroup(r, 1, 1, 50, 80, 200, 50, {"1", "1.25", "1.5"}, 2);
  ShowLabel(r, 2, 50, 152, "   Set the font size ", kWhite, kMaroon);
  ShowRadioGroup(r, 2, 1, 50, 80, 200, 170, {" Small (8)", " Regular (10)", " Large (12)"}, 3);
  ShowCheckList(r, 50, 280, 200, 20, {" Use Russian Helps"});
  r.checkList->checked[0] = st.russianHelp;
  if (!port.ShowDialog(r)) return false;
  constexpr std::array<double, 3> kScales{1.0, 1.25, 1.5};
  constexpr std::array<int, 3> kFonts{8, 10, 12};
  st.russianHelp = Checked(r.checkList, 0);
  st.screenScale = kScales[Chosen(r.radio1, 3) - 1];
  st.fontSize = kFonts[Chosen(r.radio2, 3) - 1];
  return true;
}

bool InfoAboutSpectrumCommand(Workspace& ws, UiPort& port) {
  AnalysisState& st = ws.state;
  TSpectrum& s = ws.spectrum;
  DialogRequest r = PrepareDialog("Setting the spectrum data", 250, 330, 430);
  r.helpLines = Help(st, HelpId::kDataNames);
  // The last two rows are the times the spectrum file gave (0 when it gave none).
  ShowParameterGrid(
      r, 40, 30, 14, 10, 1,
      {" Spectrum beginning", " Spectrum end", " Interval beginning", " Interval end", " Spectrum File Type",
       " Small Statistics", " Covar", " Order for blunders", " Chi2 for blunders", " Width_1(chan)",
       " Width_2(chan)", " Delta Width(chan)", " Live time (s)", " Real time (s)"},
      {{static_cast<double>(s.a1)},
       {static_cast<double>(s.a2)},
       {static_cast<double>(s.b1)},
       {static_cast<double>(s.b2)},
       {static_cast<double>(s.fileType)},
       {st.smallStatistics},
       {st.covar},
       {st.blunderOrder},
       {st.chibc},
       {s.width1},
       {s.width2},
       {s.deltaWidth},
       {s.measurement.liveTime},
       {s.measurement.realTime}},
      {150, 90});
  if (!port.ShowDialog(r)) return false;
  const auto v = ReadGrid(r, 14);
  if (!v) return false;

  // Typed bounds stay within 1..16384 at both ends, and an end typed before the beginning is taken
  // as the pair in the other order rather than as an empty spectrum.
  int first = std::clamp(RoundHalfEven((*v)[0]), 1, kTypedBoundLimit);
  int last = std::clamp(RoundHalfEven((*v)[1]), 1, kTypedBoundLimit);
  if (last < first) std::swap(first, last);
  s.a1 = first;
  s.a2 = last;
  // The typed interval bounds are judged before any clamping, so a beginning of 0 is "below the
  // spectrum" and becomes its beginning + 1, like every other bound outside it.
  SetInterval(st, s, RoundHalfEven((*v)[2]), RoundHalfEven((*v)[3]));
  st.selectedFirst = s.b1;
  st.selectedLast = s.b2;
  st.selectedLength = s.b2 - s.b1 + 1;
  // Only types 1..9 can be read; another number would make every later reading fail silently.
  s.fileType = std::clamp(RoundHalfEven((*v)[4]), 1, kLastFileType);
  st.smallStatistics = RoundHalfEven((*v)[5]);
  st.covar = (*v)[6];
  st.blunderOrder = (*v)[7];
  st.chibc = (*v)[8];
  s.width1 = std::max((*v)[9], 0.25);
  s.width2 = std::max((*v)[10], 0.25);
  s.deltaWidth = (*v)[11];
  auto time = [](double t) { return std::isfinite(t) ? std::max(t, 0.0) : 0.0; };
  s.measurement.liveTime = time((*v)[12]);
  s.measurement.realTime = time((*v)[13]);
  s.SetErrors(st.covar);
  return true;
}

bool FittingDataDialog(Workspace& ws, UiPort& port) {
  AnalysisState& st = ws.state;
  TSpectrum& s = ws.spectrum;
  DialogRequest r = PrepareDialog("Setting the fitting data", 250, 330, 430);
  r.helpLines = Help(st, HelpId::kFittingParameters);
  ShowParameterGrid(
      r, 40, 30, 9, 10, 1,
      {" Width variable", " Delta Width V", " N of iterations ", "     Step       ", "  Damper     ",
       " Max Backgr.degree ", " Delta Pos.    ", " Normalization coef.", " Peak chan.number N "},
      {{s.widthVariable},
       {s.deltaWidthVariable},
       {static_cast<double>(st.iterationLimit)},
       {st.fitStep},
       {st.fitDamper},
       {std::fabs(static_cast<double>(s.dback))},
       {st.positionDeviation},
       {st.normCoefficient},
       {st.normCoefficient}},
      {140, 100});
  ShowCheckList(r, 5, 250, 310, 20, {" Set peak channel number N for normalisation"});
  r.checkList->checked[0] = !st.normaliseByCoefficient;
  if (!port.ShowDialog(r)) return false;
  const auto v = ReadGrid(r, 9);
  if (!v) return false;
  const bool byPeak = Checked(r.checkList, 0);
  s.widthVariable = (*v)[0];
  s.deltaWidthVariable = (*v)[1];
  st.iterationLimit = LimitIterations((*v)[2], port);
  st.fitStep = std::fabs((*v)[3]);
  st.fitDamper = (*v)[4];
  // The entry is the highest degree the data may choose: kept as the automatic choice (negative), so
  // that confirming the dialog does not force a cubic on every interval.
  s.dback = -RoundHalfEven(std::min(3.0, std::fabs((*v)[5])));
  st.positionDeviation = (*v)[6];
  // The coefficient is a divisor without the mark and a channel with it: each has its own row.
  st.normCoefficient = byPeak ? (*v)[8] : (*v)[7];
  st.normaliseByCoefficient = !byPeak;
  return true;
}

void WidthDependenceCommand(Workspace& ws) {
  const TSpectrum& s = ws.spectrum;
  // A one-channel interval has no slope; a constant width is the only law through it.
  const double w1 = s.b2 != s.b1 ? (s.width2 - s.width1) / (s.b2 - s.b1) : 0.0;
  const double w0 = s.width1 - s.b1 * w1;
  ws.state.reportLines[0] = "   W(chan) = " + General(w1) + " * chan + " + General(w0);
  ws.state.reportLines[1] = "     W(" + std::to_string(s.b1) + ") = " + General(s.width1) + ";        W(" +
                            std::to_string(s.b2) + ") = " + General(s.width2);
}

bool AssignSpectrumNameCommand(Workspace& ws, UiPort& port) {
  AnalysisState& st = ws.state;
  TSpectrum& s = ws.spectrum;
  const int count = std::min(st.nameCount, static_cast<int>(ws.names.names.size()) - 1);
  if (count <= 0) {
    port.ShowMessage("No items in the name list");
    return false;
  }
  std::vector<std::string> items;
  for (int k = 1; k <= count; ++k) items.push_back(BareName(ws.names.names[k]));

  DialogRequest r = PrepareDialog("Set the current spectrum name", 250, 330, 430);
  r.helpLines = LoadHelpText(-static_cast<int>(kAssignNameHelp.size()), kAssignNameHelp, st.russianHelp);
  ShowLabel(r, 1, 40, 30, "Select the name:", kLightCyan, kGreen);
  ShowComboBox(r, 40, 60, 250, items, 1);
  ShowCheckList(r, 40, 100, 250, 20, {"Spectrum input under default conditions"});
  if (!port.ShowDialog(r)) return false;
  const int chosen = r.combo ? std::clamp(r.combo->chosen, 1, count) : 1;
  const bool defaults = Checked(r.checkList, 0);

  // The spectrum keeps its name, type and interval when the chosen file cannot be read.
  const SpectrumChoice before(s);
  s.fileName = ws.names.names[chosen];
  bool ok;
  if (defaults) {
    // As the input dialog accepted at its presets: current type and options (or the format the file
    // shows), ini-bounds restored.
    if (const int shown = DetectSpectrumFormat(s.fileName).type; IsFormatType(shown)) s.fileType = shown;
    SetInputBounds(ws, true);
    ok = ConfirmDiscardResults(ws, port) && FinishSpectrumInput(ws, port);
  } else {
    // The input dialog starts its file selection at the chosen name.
    ok = InputSpectrumCommand(ws, port);
  }
  if (!ok) {
    before.RestoreTo(s);
    return false;
  }

  DialogRequest done = PrepareDialog("Set the current spectrum name", 250, 330, 430);
  ShowListBox(done, 10, 40, 300, 100,
              {items[chosen - 1] + "-name set", "After processing this spectrum",
               "and saving the results, its name", "will be deleted from the list"});
  port.ShowDialog(done);
  return true;
}

}  // namespace orv
