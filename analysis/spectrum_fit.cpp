#include "analysis/spectrum_fit.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "analysis/interval_checks.h"
#include "analysis/workspace.h"
#include "core/numtext.h"

namespace orv {
namespace {

std::string Bounds(const IntervalFitState& fs) {
  return std::to_string(fs.startChannel) + " " + std::to_string(fs.endChannel);
}

// The table becomes the marking's: peak k in row k, every row of an earlier marking gone. A peak whose
// interval cannot be fitted keeps its row (so that an interval fit later fills the same row) with its
// marked position and no area; criterion 0 keeps it out of the reported peaks.
void StartTableForMarking(Workspace& ws) {
  AnalysisState& st = ws.state;
  const int rows = std::min(ws.marking.peakCount, ResultTable::resultCapacity);
  for (int r = 1; r <= std::max(rows, std::min(st.resultCount, ResultTable::resultCapacity)); ++r)
    // A mark that is not a number has no place to report: channel 0.
    ws.results[r] =
        r <= rows ? ResultRow{.channel = std::isfinite(ws.marking.peakList[r]) ? ws.marking.peakList[r] : 0.0}
                  : ResultRow{};
  st.resultCount = rows;
  ws.results.resultBase = 0;
}

}  // namespace

void WritePeakLines(const Workspace& ws, LineSink& table, const ResultRow& row) {
  const CalibratedPeak c =
      ApplyCalibrations(ws.state, ws.calibration, row.channel, row.channelError, row.area, row.areaError);
  const double norm = std::max(ws.state.normCoefficient, 0.0001);
  table.WriteLine(
      JoinFields({FormatNumber(9, 2, row.channel), FormatNumber(9, 2, c.energy), FormatNumber(9, 0, row.area),
                  FormatNumber(14, 0, c.intensity), FormatNumber(9, 2, row.width),
                  FormatNumber(12, 2, c.intensity / norm), FormatNumber(10, 2, row.criterion)}));
  table.WriteLine(
      JoinFields({FormatNumber(9, 2, row.channelError), FormatNumber(9, 2, c.energyError),
                  FormatNumber(9, 0, row.areaError), FormatNumber(14, 0, c.intensityError),
                  FormatNumber(9, 2, row.widthError), FormatNumber(12, 2, c.intensityError / norm),
                  FormatNumber(10, 2, row.background)}));
}

bool SpectrumFit(Workspace& ws, UiPort& port, int mode, LineSink* table) {
  AnalysisState& st = ws.state;
  IntervalFitState& fs = ws.fit;
  ws.engine.port = &port;
  st.usedBackgroundDegree = 0;
  if (mode == 0) StartTableForMarking(ws);
  for (st.currentInterval = 1; st.currentInterval <= ws.marking.intervalCount; ++st.currentInterval) {
    port.ShowProgress("Spectrum fit", st.currentInterval - 1, ws.marking.intervalCount);
    LoadInterval(ws, st.currentInterval);
    if (fs.n == 0) {
      port.ShowMessage("Error, no peaks in " + Bounds(fs));
      continue;
    }
    if (!CheckIntervalForFit(ws, ws.marking.intervalTable[st.currentInterval], port)) continue;
    if (fs.endChannel - fs.startChannel + 1 > st.maxInterval) {
      port.ShowMessage("Error, too long interval " + Bounds(fs));
      continue;
    }
    // Every interval starts from the width law at its centre, as in the interval fit: starting all of
    // them from the width at the beginning of the analysed interval would hold the peaks at the far
    // end within deltaWidth of a width they no longer have.
    fs.wInt = st.kw0 + st.kw1 * (fs.startChannel + fs.endChannel) / 2.0;
    if (!FitInterval(ws, ws.marking.peakList.data() + fs.firstPeak - 1, 0)) {
      if (ws.engine.abandoned) return false;
      continue;
    }
    NoteBackgroundDegree(ws);
    for (int k = 1; k <= fs.n; ++k) {
      const PeakFigures p = PeakResult(ws, k);
      const ResultRow row{p.position, p.positionError, p.area,      p.areaError,
                          p.width,    p.widthError,    p.criterion, p.background};
      if (mode == 0) {
        ws.results[fs.firstPeak + k - 1] = row;
      } else if (table) {
        WritePeakLines(ws, *table, row);
      }
    }
  }
  port.ShowProgress("Spectrum fit", ws.marking.intervalCount, ws.marking.intervalCount);
  st.currentInterval = std::clamp(st.currentInterval, 1, std::max(1, ws.marking.intervalCount));
  return true;
}

namespace {

bool RunBatch(Workspace& ws, UiPort& port, bool askFirst) {
  AnalysisState& st = ws.state;
  if (ws.marking.peakCount == 0 || ws.marking.intervalCount == 0) {
    port.ShowStatus("No marking data", "");
    return false;
  }
  if (askFirst && st.resultsUnsaved && !port.AskOkCancel("Previous fit results not saved")) return false;
  SpectrumFit(ws, port, 0, &ws.output);
  st.resultsUnsaved = true;
  return true;
}

}  // namespace

bool SpectrumFitCommand(Workspace& ws, UiPort& port) {
  if (!RunBatch(ws, port, true)) return false;
  ws.state.reportLines = {"The spectrum has been fitted.", "Save the results"};
  port.ShowStatus(ws.state.reportLines[0], ws.state.reportLines[1]);
  return true;
}

bool FitForGraphsCommand(Workspace& ws, UiPort& port) {
  if (!RunBatch(ws, port, false)) return false;
  port.ShowText({"Fitting for graphs", "The fitting graphs have been saved."});
  return true;
}

void InsertResultRow(Workspace& ws, int after) {
  AnalysisState& st = ws.state;
  const int top = std::min(st.resultCount, kMaxResults - 1);
  after = std::clamp(after, 0, top);
  for (int r = top; r > after; --r) ws.results[r + 1] = ws.results[r];
  ws.results[after + 1] = ResultRow{};
  st.resultCount = std::min(st.resultCount + 1, kMaxResults);
}

void DeleteResultRow(Workspace& ws, int row) {
  AnalysisState& st = ws.state;
  if (row < 1 || row > st.resultCount) return;
  for (int r = row; r < st.resultCount; ++r) ws.results[r] = ws.results[r + 1];
  ws.results[st.resultCount] = ResultRow{};
  --st.resultCount;
}

}  // namespace orv
