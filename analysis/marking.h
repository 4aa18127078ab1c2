// The marking: peak positions and the division of the analysed interval into fitting intervals
// ("cadres"), and the marking data set file that lets spectra with the same peaks be marked alike.
#pragma once

#include <array>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "core/port.h"
#include "core/state.h"

namespace orv {

// One fitting interval; its peaks are peakList[firstPeak..lastPeak] (firstPeak = lastPeak + 1: none).
struct MarkInterval {
  std::int32_t startChannel = 0;
  std::int32_t endChannel = 0;
  std::int32_t firstPeak = 1;
  std::int32_t lastPeak = 0;
};

// Every interval of a data set may be empty, so intervals get the same capacity as peaks.
inline constexpr int kMaxMarkedIntervals = kMaxMarkedPeaks;

struct Marking {
  std::array<double, kMaxMarkedPeaks + 1> peakList{};  // 1-based peak channels
  int peakCount = 0;
  std::array<MarkInterval, kMaxMarkedIntervals + 1> intervalTable{};  // 1-based, ascending
  int intervalCount = 0;
  int markingLength = 0;  // 2 * intervalCount + peakCount after a data set; 0 otherwise
  // Working width law of the marking: width at channel c is (kw1 * c + kw0) * compr.
  double kw1 = 0.0;
  double kw0 = 0.0;
  double compr = 1.0;
};

inline int PeaksInInterval(const MarkInterval& m) {
  return m.lastPeak - m.firstPeak + 1;
}

// The listing form: per interval -startChannel, its peak channels, -endChannel.
std::vector<double> FlatMarking(const Marking& marking);

// What reading a data set did to the marking.
enum class MarkingRead {
  kRead,       // the whole file was read
  kTruncated,  // "Error, too many marking points": the marking holds what fitted before
};

// Reads a marking data set from `in` into `marking` (replacing its peaks and intervals, keeping the
// width law). Blocks: a header "first last m" (signs ignored, bounds exchanged when reversed), then
// m peak channels in free field over any number of lines. The message goes to the port.
MarkingRead ReadMarkingDataSet(std::istream& in, Marking& marking, UiPort& port);

// Opens and reads the named file into a copy and keeps the copy: the marking changes only when the
// file could be opened ("Failure, file= " + name otherwise). state.markedCount follows markingLength.
bool LoadMarkingFile(const std::string& fileName, Marking& marking, AnalysisState& state, UiPort& port);

// Marking mode 3: the dialog "Enter the marking data file", the file selection (`fileName` in and
// out), then LoadMarkingFile. False with the marking unchanged when cancelled or not readable.
bool ReadMarkingFile(Marking& marking, AnalysisState& state, UiPort& port, std::string& fileName);

}  // namespace orv
