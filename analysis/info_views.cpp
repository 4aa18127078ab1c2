#include "analysis/info_views.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/dialog.h"
#include "core/help_texts.h"
#include "core/numtext.h"

namespace orv {

namespace {

constexpr int kViewLeft = 100, kViewWidth = 550, kViewHeight = 430;
constexpr int kListLeft = 10, kListTop = 25, kListWidth = 530, kListHeight = 340;
// The result table needs room for its seven columns side by side.
constexpr int kResultViewWidth = 660, kResultListTop = 5, kResultListWidth = 640, kResultListHeight = 360;

// The column captions of the result table. Each number ends under the last letter of its caption:
// the caption starts after " Peak" and the row number, and the field widths are the gaps between the
// captions' ends, so every field keeps at least one blank before it.
constexpr const char* kResultHeader = "Channel  Energy       Area      Intensity      Width    Crit/Bckg";
constexpr int kResultPrefix = 9;  // " Peak" and the row number (4 wide), or " Errors" and two blanks

DialogRequest ListView(const std::string& caption, const std::vector<std::string>& lines, bool withSave) {
  DialogRequest r = PrepareDialog(caption, kViewLeft, kViewWidth, kViewHeight, withSave);
  ShowListBox(r, kListLeft, kListTop, kListWidth, kListHeight, lines);
  return r;
}

std::vector<std::string> ResultLines(const Workspace& ws) {
  std::vector<std::string> lines;
  const int rows = std::min({ws.state.resultCount, kResultViewRows, ResultTable::resultCapacity});
  for (int k = 1; k <= rows; ++k) {
    const ResultRow& row = ws.results[k];
    const CalibratedPeak c =
        ApplyCalibrations(ws.state, ws.calibration, row.channel, row.channelError, row.area, row.areaError);
    lines.push_back(" Peak" + FormatNumber(4, 0, k) + FormatNumber(9, 2, row.channel) +
                    FormatNumber(8, 2, c.energy) + FormatNumber(11, 0, row.area) +
                    FormatNumber(15, 0, c.intensity) + FormatNumber(11, 2, row.width) +
                    FormatNumber(13, 2, row.criterion));
    lines.push_back(" Errors  " + FormatNumber(9, 2, row.channelError) + FormatNumber(8, 2, c.energyError) +
                    FormatNumber(11, 0, row.areaError) + FormatNumber(15, 0, c.intensityError) +
                    FormatNumber(11, 2, row.widthError) + FormatNumber(13, 2, row.background));
  }
  return lines;
}

}  // namespace

void ShowResultTableView(Workspace& ws, UiPort& port) {
  if (ws.state.resultCount <= 0) {
    port.ShowMessage(" No fitted peaks");
    return;
  }
  DialogRequest r = PrepareDialog("Result Table", kViewLeft, kResultViewWidth, kViewHeight, true);
  ShowListBox(r, kListLeft, kResultListTop, kResultListWidth, kResultListHeight, ResultLines(ws));
  // The captions head the list in its own font, so that they stand over their columns.
  r.listBox->header = std::string(kResultPrefix + 2, ' ') + kResultHeader;
  r.helpLines = HelpText(HelpId::kPeakCriterion, ws.state.russianHelp);
  ws.state.reportLines[0].clear();
  // Only the first press writes, whatever the back-end does with further presses.
  auto pressed = std::make_shared<bool>(false);
  r.onSave = [&ws, pressed](const DialogRequest& shown) {
    if (*pressed) return;
    *pressed = true;
    // Without an open output file nothing reaches disk; that must not count as saved.
    bool written = ws.output.isOpen() && WriteOutputLine(ws, "   " + shown.caption);
    if (shown.listBox)
      for (const std::string& line : shown.listBox->lines) written = written && WriteOutputLine(ws, line);
    if (!written) return;
    ws.state.resultsUnsaved = false;
    ws.state.reportLines[0] = "Results saved";
  };
  port.ShowDialog(r);
}

void ShowNameListView(const Workspace& ws, UiPort& port) {
  const int n = std::min(ws.state.nameCount, static_cast<int>(ws.names.names.size()) - 1);
  if (n <= 0) {
    port.ShowMessage("No spectrum names in the list");
    return;
  }
  std::vector<std::string> lines(ws.names.names.begin() + 1, ws.names.names.begin() + 1 + n);
  DialogRequest r = ListView("List of spectrum names for processing", lines, false);
  port.ShowDialog(r);
}

void ShowMarkingView(const Workspace& ws, UiPort& port) {
  const Marking& m = ws.marking;
  const int intervals = std::min(m.intervalCount, kMaxMarkedIntervals);
  if (intervals <= 0) {
    port.ShowMessage("No marked intervals");
    return;
  }
  const bool calibrated = EnergyCalibrationInForce(ws.state);
  std::vector<std::string> lines;
  for (int i = 1; i <= intervals; ++i) {
    const MarkInterval& cadre = m.intervalTable[i];
    // A damaged table must not index outside the peak list.
    const int first = std::max(cadre.firstPeak, 1);
    const int last = std::min(cadre.lastPeak, kMaxMarkedPeaks);
    lines.push_back(FormatNumber(4, 0, i) + ":" + FormatNumber(8, 0, cadre.startChannel) + " -" +
                    FormatNumber(8, 0, cadre.endChannel) + FormatNumber(6, 0, std::max(0, last - first + 1)) +
                    " peak(s)");
    for (int p = first; p <= last; ++p) {
      std::string line = std::string(8, ' ') + FormatNumber(10, 2, m.peakList[p]);
      if (calibrated)
        line += "  ( E= " +
                RemoveBlanks(FormatNumber(
                    12, 2, ApplyCalibrations(ws.state, ws.calibration, m.peakList[p], 0, 0, 0).energy)) +
                ")";
      lines.push_back(line);
    }
  }
  DialogRequest r = ListView("Marking data    " + std::to_string(m.intervalCount) + " intervals    " +
                                 std::to_string(m.peakCount) + " peaks ",
                             lines, false);
  port.ShowDialog(r);
}

}  // namespace orv
