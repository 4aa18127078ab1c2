#include "analysis/output_sections.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "analysis/workspace.h"
#include "core/dialog.h"
#include "core/help_texts.h"
#include "core/numtext.h"
#include "core/peak_model.h"

namespace orv {
namespace {

// Every section is formed first and then written, so a section is never half computed. An output file
// that is not open drops lines silently for headless tools; a saving command must not report success
// on that, so it counts as a failure here.
bool WriteSection(Workspace& ws, const std::vector<std::string>& lines) {
  if (!ws.output.isOpen()) return false;
  for (const std::string& line : lines)
    if (!WriteOutputLine(ws, line)) return false;
  return true;
}

std::string OutputError(const Workspace& ws) {
  return ws.output.isOpen() ? ws.output.lastError() : std::string("Output file is not open");
}

// The file name after its last folder separator; spectrum names may come with either separator.
std::string WithoutDirectory(const std::string& name) {
  const std::size_t slash = name.find_last_of("/\\");
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

double Square(double x) {
  return x * x;
}

std::vector<std::string> SummaryLines(const Workspace& ws, double normalisingValue) {
  const AnalysisState& st = ws.state;
  const TSpectrum& s = ws.spectrum;
  const int count = std::min(st.resultCount, kMaxResults);
  const bool byCoefficient = st.normaliseByCoefficient;

  // The reference peak: the row nearest to the normalising channel, the later row on equal distances.
  // Its area and error are bounded below so that an empty reference cannot divide by zero.
  double normArea = 1.0, normError = 0.1;
  if (!byCoefficient) {
    double best = 1e15, refArea = 0, refError = 0;
    for (int r = 1; r <= count; ++r) {
      const double distance = std::fabs(ws.results[r].channel - normalisingValue);
      if (distance <= best) {
        best = distance;
        refArea = ws.results[r].area;
        refError = ws.results[r].areaError;
      }
    }
    normArea = refArea > 1.0 ? refArea : 1.0;
    normError = refError > 0.1 ? refError : 0.1;
  }

  std::vector<std::string> lines;
  lines.push_back("");
  lines.push_back(std::string(15, ' ') + "SUMMARY TABLE.");
  lines.push_back("File             = " + s.fileName);
  lines.push_back("Number of peaks  = " + FormatInt(count, 3) +
                  "  Peak model type  = " + PeakModelName(ws.model().kind));
  if (byCoefficient)
    lines.push_back("Ncoef = " + FormatFixed(normalisingValue, 8, 2));
  else
    lines.push_back("Peak_norm, chan. = " +
                    JoinFields({FormatFixed(normArea, 12, 1), FormatFixed(normalisingValue, 8, 2)}));
  lines.push_back("Sens, Res = " +
                  JoinFields({FormatFixed(st.sensitivity, 8, 3), FormatFixed(st.resolution, 8, 2)}));
  lines.push_back("Spectrum interval= " + JoinFields({FormatInt(s.b1, 7), FormatInt(s.b2, 7)}));
  lines.push_back("Widths, Backgr.  = " +
                  JoinFields({FormatFixed(s.width1, 8, 3), FormatFixed(s.width2, 8, 3),
                              FormatInt(st.usedBackgroundDegree, 4)}));
  lines.push_back("");
  lines.push_back("   Channel  Energy     Area     Intensity    Width   Norm.area Crit/Back");
  lines.push_back("");

  for (int r = 1; r <= count; ++r) {
    const ResultRow& row = ws.results[r];
    const CalibratedPeak c =
        ApplyCalibrations(st, ws.calibration, row.channel, row.channelError, row.area, row.areaError);
    double norm, normErr;
    if (byCoefficient) {
      norm = row.area / normalisingValue;
      normErr = row.areaError / normalisingValue;
    } else {
      norm = row.area / normArea * 100;
      normErr =
          100 * std::sqrt(Square(row.areaError / normArea) + Square(row.area * normError / Square(normArea)));
    }
    const int d = norm >= 0.01 ? 2 : 3;
    const double intensityColumn = st.limFormat ? row.background : c.intensity;
    lines.push_back(
        JoinFields({FormatFixed(row.channel, 9, 2), FormatFixed(c.energy, 9, 2), FormatFixed(row.area, 9, 0),
                    FormatFixed(intensityColumn, 14, 0), FormatFixed(row.width, 9, 2),
                    FormatFixed(norm, 12, d), FormatFixed(row.criterion, 10, 2)}));
    lines.push_back(JoinFields({FormatFixed(row.channelError, 9, 2), FormatFixed(c.energyError, 9, 2),
                                FormatFixed(row.areaError, 9, 0), FormatFixed(c.intensityError, 14, 0),
                                FormatFixed(row.widthError, 9, 2), FormatFixed(normErr, 12, d),
                                FormatFixed(row.background, 10, 2)}));
    lines.push_back("");
  }
  return lines;
}

// Both calibration sections: a title and a heading behind "*", then one line per item.
bool WriteCalibrationSection(Workspace& ws, UiPort& port, const std::string& title,
                             const std::string& heading, const CalibrationList& items, int itemCount,
                             int valueWidth, int valueDecimals) {
  const int count = std::clamp(itemCount, 0, kMaxCalibrationItems);
  if (count == 0) {
    port.ShowMessage("No calibration data");
    return false;
  }
  std::vector<std::string> lines = {"*" + std::string(20, ' ') + title, "", heading};
  for (int k = 1; k <= count; ++k) {
    const CalibrationItem& item = items[k];
    // Argument first, as the calibration entry reads an item back.
    lines.push_back(
        JoinFields({FormatFixed(item.argument, 10, 2), FormatFixed(item.value, valueWidth, valueDecimals),
                    FormatFixed(item.error, valueWidth, valueDecimals)}));
  }
  if (!WriteSection(ws, lines)) {
    port.ShowMessage(OutputError(ws));
    return false;
  }
  return true;
}

}  // namespace

bool WriteSummaryTable(Workspace& ws, double normalisingValue) {
  if (ws.state.resultCount < 1) return false;
  if (!WriteSection(ws, SummaryLines(ws, normalisingValue))) return false;
  ws.state.resultsUnsaved = false;
  return true;
}

bool WriteEnergyCalibration(Workspace& ws, UiPort& port) {
  return WriteCalibrationSection(ws, port, "Energy calibration data.", "*  Channel    Energy     Error",
                                 ws.calibration.energyItems, ws.state.energyItemCount, 10, 2);
}

bool WriteEfficiencyCalibration(Workspace& ws, UiPort& port) {
  return WriteCalibrationSection(ws, port, "Efficiency calibration data.",
                                 "*   Energy    Coefficient          Error", ws.calibration.efficiencyItems,
                                 ws.state.efficiencyItemCount, 15, 7);
}

bool WriteMarkingInfo(Workspace& ws, UiPort& port) {
  const AnalysisState& st = ws.state;
  const TSpectrum& s = ws.spectrum;
  const std::vector<std::string> lines = {
      "",
      std::string(15, ' ') + "MARKING INFORMATION",
      "Spectrum interval = " + JoinFields({FormatInt(s.b1, 7), FormatInt(s.b2, 7)}),
      "W0, W1, dW        = " + JoinFields({FormatFixed(s.width1, 9, 2), FormatFixed(s.width2, 9, 2),
                                           FormatFixed(s.deltaWidth, 9, 2)}),
      "Background degree = " + FormatInt(s.dback, 9),
      "Maximum interval  = " + FormatInt(st.maxInterval, 9),
      "Sensitivity       = " + FormatFixed(st.sensitivity, 12, 5),
      "Resolution        = " + FormatFixed(st.resolution, 9, 2),
      "kWidth, adInterv  = " + JoinFields({FormatFixed(st.kWidth, 9, 1), FormatFixed(st.adInterv, 9, 1)})};
  if (!WriteSection(ws, lines)) {
    port.ShowMessage(OutputError(ws));
    return false;
  }
  port.ShowStatus("Marking Info saved", "");
  return true;
}

void SaveFitResultsCommand(Workspace& ws, UiPort& port) {
  AnalysisState& st = ws.state;
  if (st.resultCount < 1 && st.markedCount < 1) {
    port.ShowStatus("Error! No peaks fitted", "");
    return;
  }
  if (st.resultCount < 1) return;  // saved already, or marked and not fitted yet

  DialogRequest r = PrepareDialog("Save the Summary Table", 0, 600, 420);
  r.helpLines = HelpText(HelpId::kSavingResults, st.russianHelp);
  ShowLabel(r, 1, 10, 40,
            "Saving " + std::to_string(st.resultCount) + " " + WithoutDirectory(ws.spectrum.fileName) +
                " peaks analyzed");
  ShowCheckList(r, 10, 80, 300, 40, {" LIM format for res-file"});
  if (!port.ShowDialog(r)) return;
  st.limFormat = r.checkList && !r.checkList->checked.empty() && r.checkList->checked[0];

  if (!WriteSummaryTable(ws, st.normCoefficient)) {
    port.ShowMessage(OutputError(ws));
    return;
  }
  // The saved rows are cleared and the next fit starts again at row 1, so that rows an interval fit
  // or a skipped interval does not overwrite can never be written a second time.
  const int saved = std::min(st.resultCount, kMaxResults);
  for (int row = 1; row <= saved; ++row) ws.results[row] = ResultRow{};
  ws.results.resultBase = 0;
  st.resultCount = 0;
  if (st.nameCount > 0) RemoveSpectrumName(ws.names, st.nameCount, ws.spectrum.fileName);
}

}  // namespace orv
