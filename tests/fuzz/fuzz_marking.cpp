// Marking data sets and calibration data of arbitrary bytes: the readers never overrun their fixed
// tables and leave a marking whose intervals index only stored peaks.
#include <sstream>

#include "analysis/calibration.h"
#include "analysis/marking.h"
#include "fuzz_common.h"
#include "ui/console_port.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = orv::Text(data, size);
  static orv::Marking marking;
  std::ostringstream sink;
  orv::ConsolePort port(sink);
  std::istringstream in(text);
  orv::ReadMarkingDataSet(in, marking, port);
  orv::Check(marking.peakCount >= 0 && marking.peakCount <= orv::kMaxMarkedPeaks);
  orv::Check(marking.intervalCount >= 0 && marking.intervalCount <= orv::kMaxMarkedIntervals);
  for (int i = 1; i <= marking.intervalCount; ++i) {
    const orv::MarkInterval& m = marking.intervalTable[i];
    orv::Check(m.firstPeak >= 1 && m.lastPeak <= marking.peakCount && m.firstPeak <= m.lastPeak + 1);
  }

  static orv::CalibrationList items;
  std::istringstream calibration(text);
  const int n = orv::ReadCalibrationItems(calibration, items);
  orv::Check(n >= 0 && n <= orv::kMaxCalibrationItems);
  return 0;
}
