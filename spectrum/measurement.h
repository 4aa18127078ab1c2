// What a spectrum file knows about its measurement beyond the counts: the times, the start, the
// energy calibration and the descriptions. Files of the bare word and number types know none of it.
#pragma once

#include <string>
#include <vector>

namespace orv {

struct SpectrumMeasurement {
  double liveTime = 0.0;  // seconds; 0 when the file does not say
  double realTime = 0.0;
  // "yyyy-mm-dd hh:mm:ss" when the file's own form was understood, otherwise as written.
  std::string startTime;
  // E(c) = sum of coefficient k times c^k, with c our channel (1 = the file's first stored channel);
  // empty when the file has no usable calibration.
  std::vector<double> energyCoefficients;
  // Peak width (FWHM) by channel, in the same numbering, when the file has one.
  std::vector<double> widthCoefficients;
  std::string description;  // detector, sample or spectrum identification
  std::string note;         // which spectrum was taken from a file that holds several

  bool HasTimes() const { return liveTime > 0.0 || realTime > 0.0; }
};

}  // namespace orv
