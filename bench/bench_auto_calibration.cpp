// The auto-calibration search at its largest admissible size: 16 found peaks against the nine lines
// of a sample, sum over k = 3..9 of C(9, k) * C(16, k) = 2,038,510 straight-line fits per run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "analysis/auto_calibration.h"
#include "core/numeric.h"

namespace {

// The nine Ra lines at 0.7 keV per channel with 0.1-channel position errors, and seven extra peaks.
std::vector<double> FoundPeaks(const orv::ReferenceSample& s) {
  orv::RandomGenerator g;
  std::vector<double> channels;
  for (double e : s.energies) channels.push_back((e - 0.35) / 0.7 + 0.1 * orv::RandomNormalPair(g).first);
  for (double e : {75.0, 139.5, 511.0, 583.2, 911.2, 1460.8, 2614.5}) channels.push_back((e - 0.35) / 0.7);
  std::sort(channels.begin(), channels.end());
  return channels;
}

std::size_t FitsPerRun(int n, int r) {
  auto binomial = [](int m, int k) {
    std::size_t c = 1;
    for (int i = 1; i <= k; ++i) c = c * static_cast<std::size_t>(m - k + i) / static_cast<std::size_t>(i);
    return c;
  };
  std::size_t fits = 0;
  for (int k = 3; k <= std::min(n, r); ++k) fits += binomial(r, k) * binomial(n, k);
  return fits;
}

void BM_AutoCalibrate16x9(benchmark::State& state) {
  const orv::ReferenceSample& ra = orv::ReferenceSamples()[0];
  const std::vector<double> channels = FoundPeaks(ra);
  orv::SilentPort port;
  orv::AutoCalibration best;
  for (auto _ : state) {
    orv::AutoCalibrate(channels, ra.energies, orv::kAutoCalibrationPairError, best, port, nullptr);
    benchmark::DoNotOptimize(best.criterion);
  }
  const auto fits = static_cast<double>(FitsPerRun(16, 9));
  state.counters["fits_per_run"] = fits;
  state.counters["ns_per_fit"] =
      benchmark::Counter(fits * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_AutoCalibrate16x9)->Unit(benchmark::kMillisecond);

// FitLine itself on nine points, for comparison with the search's per-pairing cost.
void BM_FitLine9(benchmark::State& state) {
  const orv::ReferenceSample& ra = orv::ReferenceSamples()[0];
  std::array<orv::LinePoint, 10> points{};
  for (int i = 0; i < 9; ++i)
    points[i + 1] = {ra.energies[i], (ra.energies[i] - 0.35) / 0.7 + 0.01 * i, 1.0, 0};
  for (auto _ : state) {
    benchmark::DoNotOptimize(points.data());
    benchmark::DoNotOptimize(orv::FitLine(points.data(), 9, 0, nullptr).chi);
  }
}
BENCHMARK(BM_FitLine9);

}  // namespace
