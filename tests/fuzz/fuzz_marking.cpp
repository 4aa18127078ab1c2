// Marking data sets and calibration data of arbitrary bytes: the readers never overrun their fixed
// tables and leave a marking whose intervals index only stored peaks.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "analysis/calibration.h"
#include "analysis/marking.h"
#include "ui/console_port.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  static orv::Marking marking;
  std::ostringstream sink;
  orv::ConsolePort port(sink);
  std::istringstream in(text);
  orv::ReadMarkingDataSet(in, marking, port);
  if (marking.peakCount < 0 || marking.peakCount > orv::kMaxMarkedPeaks) std::abort();
  if (marking.intervalCount < 0 || marking.intervalCount > orv::kMaxMarkedIntervals) std::abort();
  for (int i = 1; i <= marking.intervalCount; ++i) {
    const orv::MarkInterval& m = marking.intervalTable[i];
    if (m.firstPeak < 1 || m.lastPeak > marking.peakCount || m.firstPeak > m.lastPeak + 1) std::abort();
  }

  static orv::CalibrationList items;
  std::istringstream calibration(text);
  const int n = orv::ReadCalibrationItems(calibration, items);
  if (n < 0 || n > orv::kMaxCalibrationItems) std::abort();
  return 0;
}
