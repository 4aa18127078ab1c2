// Synthetic spectra: Gaussian peaks on a linear background, optionally with counting noise.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/numeric.h"
#include "spectrum/spectrum.h"

namespace orv::testing {

struct TruePeak {
  double position, area, fwhm;
};

inline double ExpectedCount(double ch, const std::vector<TruePeak>& peaks, double b0, double b1) {
  double y = b0 + b1 * ch;
  for (const TruePeak& p : peaks) {
    const double sigma = p.fwhm / (2 * std::sqrt(2 * std::log(2.0)));
    const double z = (ch - p.position) / sigma;
    y += p.area / (sigma * std::sqrt(2 * M_PI)) * std::exp(-0.5 * z * z);
  }
  return y;
}

// A Poisson deviate: exact by multiplication of uniforms for small means, the rounded normal
// approximation above 50 (its bias is far below what the tests resolve).
inline double PoissonDeviate(RandomGenerator& g, double mean) {
  if (mean <= 0) return 0;
  if (mean > 50) return std::max(0.0, std::round(mean + std::sqrt(mean) * RandomNormalPair(g).first));
  const double limit = std::exp(-mean);
  double product = RandomUniform(g);
  int k = 0;
  while (product > limit) {
    product *= RandomUniform(g);
    ++k;
  }
  return k;
}

// Fills channels 1..channels; bounds: the whole spectrum; deviations: sqrt(expected).
inline void FillSpectrum(TSpectrum& s, int channels, const std::vector<TruePeak>& peaks, double b0, double b1,
                         RandomGenerator* noise) {
  for (int ch = 1; ch <= channels; ++ch) {
    const double mean = ExpectedCount(ch, peaks, b0, b1);
    double y = mean;
    if (noise) y += std::sqrt(std::max(mean, 0.0)) * RandomNormalPair(*noise).first;
    s.sp[ch] = y;
    s.err[ch] = std::sqrt(std::max(mean, 1.0));
  }
  s.a1 = 1;
  s.a2 = channels;
  s.b1 = 1;
  s.b2 = channels;
  s.FindExtremes();
}

// Stores counts as the binary reader does: raw Poisson deviates of expected(ch) (the expectations
// themselves when `noise` is null) over 1..channels with their first deviations, channel 1 empty,
// the channels up to the previous end emptied, the bounds the whole spectrum.
template <class Expected>
void StoreRawCounts(TSpectrum& s, int channels, const Expected& expected, RandomGenerator* noise) {
  channels = std::clamp(channels, 2, kSpectrumCapacity);
  const int previous = std::clamp(s.a2, 1, kSpectrumCapacity);
  s.fileType = 1;
  s.errorsFromFile = false;
  s.processed = false;
  for (int ch = 1; ch <= channels; ++ch) {
    const double mean = expected(ch);
    s.sp[ch] = noise ? PoissonDeviate(*noise, mean) : mean;
    s.err[ch] = std::sqrt(std::max(1.0, s.sp[ch]));
  }
  for (int ch = channels + 1; ch <= previous; ++ch) {
    s.sp[ch] = 0;
    s.err[ch] = 1;
  }
  s.a1 = 1;
  s.a2 = channels;
  s.sp[1] = 0;
  s.err[1] = 1;
  s.FindExtremes();
}

inline double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace orv::testing
