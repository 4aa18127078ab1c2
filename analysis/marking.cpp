#include "analysis/marking.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <utility>

#include "analysis/interval_checks.h"
#include "core/dialog.h"
#include "core/help_texts.h"
#include "core/numtext.h"

namespace orv {

namespace {

bool IsBlank(const std::string& line) {
  return line.find_first_not_of(" \t\r") == std::string::npos;
}

}  // namespace

std::vector<double> FlatMarking(const Marking& marking) {
  std::vector<double> flat;
  for (int i = 1; i <= marking.intervalCount; ++i) {
    const MarkInterval& m = marking.intervalTable[i];
    flat.push_back(-static_cast<double>(m.startChannel));
    for (int k = std::max(m.firstPeak, 1); k <= std::min(m.lastPeak, marking.peakCount); ++k)
      flat.push_back(marking.peakList[k]);
    flat.push_back(-static_cast<double>(m.endChannel));
  }
  return flat;
}

MarkingRead ReadMarkingDataSet(std::istream& in, Marking& marking, UiPort& port) {
  int intervals = 0, peaks = 0;
  MarkingRead outcome = MarkingRead::kRead;
  NumberStream stream(in);
  std::vector<double> header, block;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '*') continue;
    // A line holding only blanks or a comment tail carries no header.
    if (auto star = line.find('*'); star != std::string::npos) line.erase(star);
    if (IsBlank(line)) continue;
    if (intervals == kMaxMarkedIntervals) {
      port.ShowMessage("Error, too many marking points");
      outcome = MarkingRead::kTruncated;
      break;
    }
    ParseNumberList(line, header);
    header.resize(std::max<std::size_t>(header.size(), 3), 0.0);
    MarkInterval m;
    m.startChannel = RoundHalfEven(std::fabs(header[0]));
    m.endChannel = RoundHalfEven(std::fabs(header[1]));
    // Reversed bounds would give a fit over a negative number of channels.
    if (m.startChannel > m.endChannel) std::swap(m.startChannel, m.endChannel);
    // A negative count announces no peaks; one more than the room tells a full list from an overfull.
    const int room = kMaxMarkedPeaks - peaks;
    const int wanted = std::clamp(RoundHalfEven(header[2]), 0, room + 1);
    int got = 0;
    if (wanted > 0) {
      block.assign(wanted + 1, 0.0);
      got = stream.Read(block, 1, wanted);
    }
    // The interval owns the peaks actually read: a block cut short by "/" or by the end of the file
    // must not reach back into the previous interval's peaks.
    const int kept = std::min(got, room);
    for (int k = 1; k <= kept; ++k) marking.peakList[peaks + k] = block[k];
    m.firstPeak = peaks + 1;
    peaks += kept;
    m.lastPeak = peaks;
    // A block cut at the capacity keeps its interval only when some of its peaks fitted.
    if (got <= room || kept > 0) marking.intervalTable[++intervals] = m;
    if (got > room) {
      port.ShowMessage("Error, too many marking points");
      outcome = MarkingRead::kTruncated;
      break;
    }
  }
  marking.markingLength = 2 * intervals + peaks;
  marking.peakCount = peaks;
  marking.intervalCount = intervals;
  return outcome;
}

bool LoadMarkingFile(const std::string& fileName, Marking& marking, AnalysisState& state, UiPort& port) {
  std::error_code ec;
  std::ifstream in;
  if (std::filesystem::is_regular_file(fileName, ec)) in.open(fileName);
  if (!in.is_open()) {
    port.ShowMessage("Failure, file= " + fileName);
    return false;
  }
  // The width law stays with the marking; only peaks and intervals come from the file.
  Marking copy = marking;
  ReadMarkingDataSet(in, copy, port);
  if (in.bad()) {  // a device error mid-way: the old marking is more use than half a file
    port.ShowMessage("Failure, file= " + fileName);
    return false;
  }
  // A bound beyond the arrays (a typing slip such as 3000000000) would send a fit far outside them.
  if (!CheckMarkingBounds(copy, port)) return false;
  marking = copy;
  state.markedCount = marking.markingLength;
  return true;
}

bool ReadMarkingFile(Marking& marking, AnalysisState& state, UiPort& port, std::string& fileName) {
  DialogRequest r = PrepareDialog("Enter the marking data file", 0, 600, 420);
  r.helpLines = HelpText(HelpId::kMarkingDataSet, state.russianHelp);
  if (!port.ShowDialog(r)) return false;
  if (!SelectFile(port, fileName, 0)) return false;
  return LoadMarkingFile(fileName, marking, state, port);
}

}  // namespace orv
