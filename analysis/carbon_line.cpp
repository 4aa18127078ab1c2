#include "analysis/carbon_line.h"

#include <algorithm>
#include <cmath>
#include <istream>

#include "core/numtext.h"

namespace orv {

CarbonLineResult MeasureCarbonLine(const TSpectrum& s, double ec1, double ec2) {
  CarbonLineResult r;
  r.first = std::clamp(s.b1, 1, kSpectrumCapacity);
  r.last = std::clamp(s.b2, r.first, kSpectrumCapacity);
  r.step = (s.x[r.last] - s.x[r.first]) / std::max(1, r.last - r.first);
  if (r.step == 0.0 || !std::isfinite(r.step)) return r;
  r.computed = true;

  for (int i = r.first; i <= r.last; ++i) {
    if (s.x[i] < ec1 || s.x[i] > ec2) continue;
    ++r.regionChannels;
    r.S += RoundHalfEven(s.CountAt(i));
    r.variance += s.err[i] * s.err[i];
  }

  // Once no channel from i onward reaches ec2, none from a later channel does either, so the level is
  // then set by the last channel reaching ec1.
  int lower = 0;
  for (int i = r.first; i <= r.last && lower == 0; ++i)
    if (s.x[i] >= ec1) lower = i;
  if (lower != 0) {
    int upper = 0;
    for (int j = lower; j <= r.last && upper == 0; ++j)
      if (s.x[j] >= ec2) upper = j;
    if (upper != 0) {
      r.B = (s.CountAt(lower) + s.CountAt(upper)) / 2;
    } else {
      for (int i = r.last; i >= lower; --i)
        if (s.x[i] >= ec1) {
          r.B = s.CountAt(i);
          break;
        }
    }
  }

  r.background = r.B * r.regionChannels;
  r.criterion = r.variance > 0 ? (r.S - r.background) / std::sqrt(r.variance) : 0.0;
  return r;
}

std::vector<double> CarbonLineCurves(const TSpectrum& s) {
  const int first = std::clamp(s.b1, 1, kSpectrumCapacity);
  const int last = std::clamp(s.b2, first, kSpectrumCapacity);
  const std::size_t n = static_cast<std::size_t>(last - first + 1);
  std::vector<double> v(2 * n);
  for (int i = first; i <= last; ++i) {
    const std::size_t k = static_cast<std::size_t>(i - first);
    v[k] = s.sp[i];
    const bool inWindow = s.x[i] >= kCarbonMarkLow && s.x[i] <= kCarbonMarkHigh;
    v[n + k] = inWindow ? s.maxValue - 1 : s.minValue + 1;
  }
  return v;
}

std::vector<std::string> ReadCarbonNameList(std::istream& in) {
  std::vector<std::string> names;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '*') continue;
    const auto begin = line.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) continue;
    const auto end = line.find_last_not_of(" \t\r\n");
    names.push_back(line.substr(begin, end - begin + 1));
  }
  return names;
}

}  // namespace orv
