#include "spectrum/spectrum.h"

#include <algorithm>
#include <cmath>
#include <fstream>

#include "core/numtext.h"

namespace orv {

TSpectrum::TSpectrum(std::string name)
    : fileName(std::move(name)),
      sp(kSpectrumCapacity + 1, 0.0),
      err(kSpectrumCapacity + 1, 1.0),
      x(kSpectrumCapacity + 1, 0.0) {
  for (int i = 0; i <= kSpectrumCapacity; ++i) x[i] = i;
}

void TSpectrum::ClearData() {
  std::fill(sp.begin(), sp.end(), 0.0);
  std::fill(err.begin(), err.end(), 1.0);
  for (std::size_t i = 0; i < x.size(); ++i) x[i] = static_cast<double>(i);
  xFirst = 1.0;
  xLast = 16384.0;
  xStep = 1.0;
  channelOffset = 0.0;
  channelsPerX = 1.0;
  errorsFromFile = false;
  processed = false;
}

void TSpectrum::FindExtremes() {
  double hi = -1e14, lo = 1e14;
  int first = std::max(a1, 1), last = std::min(a2, kSpectrumCapacity);
  for (int i = first; i <= last; ++i) {
    hi = std::max(hi, sp[i]);
    lo = std::min(lo, sp[i]);
  }
  maxValue = hi;
  minValue = std::min(lo, 0.0);
}

double TSpectrum::Weight(int channel) const {
  if (channel < 1 || channel > kSpectrumCapacity) return 0.0;
  double e = err[channel];
  return e != 0.0 ? 1.0 / (e * e) : 0.0;
}

void TSpectrum::SetErrors(double covar) {
  if (fileType == 3 || errorsFromFile) return;
  int first = std::max(a1, 1), last = std::min(a2, kSpectrumCapacity);
  for (int i = first; i <= last; ++i) {
    double c = covar * sp[i];
    err[i] = std::sqrt(std::fabs(0.9 * sp[i] + 0.1 * c * c) + 0.1);
  }
}

bool TSpectrum::ReadDefinition(const std::string& path) {
  std::ifstream in(path);
  if (!in) return false;
  ReadDefinition(in);
  return true;
}

void TSpectrum::ReadDefinition(std::istream& in) {
  std::string line;
  auto nextLine = [&]() -> bool {
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty() || line[0] != '*') return true;
    }
    return false;
  };
  if (!nextLine()) return;
  definitionTitle = line;
  double* fields[] = {&chanWidth, &delay, &theta, &flightPath, &width1, &lambda};
  std::vector<double> numbers;
  for (double* field : fields) {
    if (!nextLine()) break;
    if (ParseNumberList(line, numbers) >= 1 && numbers[0] != 0.0) *field = numbers[0];
  }
}

std::int32_t TSpectrum::SwapHalves(std::int32_t v) {
  auto u = static_cast<std::uint32_t>(v);
  return static_cast<std::int32_t>((u << 16) | (u >> 16));
}

void SetWidthLaw(AnalysisState& state, const TSpectrum& s) {
  // A one-channel spectrum has no slope; a constant width is the only sound law there.
  state.kw1 = s.a2 != s.a1 ? (s.width2 - s.width1) / (s.a2 - s.a1) : 0.0;
  state.kw0 = s.width1 - s.a1 * state.kw1;
}

void SetInterval(AnalysisState& state, TSpectrum& s, int first, int last) {
  if (first < s.a1 || first > s.a2) first = s.a1 + 1;
  if (last < s.a1 || last > s.a2) last = s.a2 - 1;
  // A spectrum of one or two channels has no inner channels: stay inside the bounds.
  first = std::clamp(first, s.a1, s.a2);
  last = std::clamp(last, s.a1, s.a2);
  if (last < first) std::swap(first, last);
  s.b1 = first;
  s.b2 = last;
  state.intervalFirst = first;
  state.intervalLast = last;
  state.intervalLength = last - first + 1;
}

}  // namespace orv
