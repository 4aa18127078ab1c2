// The auto-calibration search at its largest admissible size: the nine lines of a sample against
// kMaxCalibrationPeaks candidates, every pair of lines on every pair of candidates a trial line
// (36 * C(24, 2) = 9,936 trials per run), and against 16 candidates for comparison with earlier
// figures.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "analysis/auto_calibration.h"
#include "core/numeric.h"

namespace {

// The nine Ra lines at 0.7 keV per channel with 0.1-channel position errors, then peaks of other
// emitters, strongest first as the command hands them over.
std::vector<orv::CalibrationPeak> Candidates(const orv::ReferenceSample& s, int count) {
  orv::RandomGenerator g;
  std::vector<orv::CalibrationPeak> peaks;
  auto add = [&](double energy, double jitter) {
    const double c = (energy - 0.35) / 0.7 + jitter * orv::RandomNormalPair(g).first;
    peaks.push_back({c, 1.5 + 0.0004 * c, 1000.0 - static_cast<double>(peaks.size())});
  };
  for (double e : s.energies) add(e, 0.1);
  for (double e : {75.0, 139.5, 511.0, 583.2, 727.3, 860.6, 911.2, 969.0, 1460.8, 1592.5, 2103.5, 2614.5,
                   84.9, 87.3, 1238.1})
    add(e, 0);
  peaks.resize(static_cast<std::size_t>(count));
  return peaks;
}

void BM_AutoCalibrate(benchmark::State& state) {
  const orv::ReferenceSample& ra = orv::ReferenceSamples()[0];
  const int n = static_cast<int>(state.range(0));
  const std::vector<orv::CalibrationPeak> peaks = Candidates(ra, n);
  orv::SilentPort port;
  orv::AutoCalibration best;
  for (auto _ : state) {
    orv::AutoCalibrate(peaks, ra.energies, best, port);
    benchmark::DoNotOptimize(best.criterion);
  }
  if (best.size != 9) state.SkipWithError("the Ra lines were not all matched");
  const double trials = 36.0 * n * (n - 1) / 2;
  state.counters["trials_per_run"] = trials;
  state.counters["ns_per_trial"] =
      benchmark::Counter(trials * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_AutoCalibrate)->Arg(16)->Arg(orv::kMaxCalibrationPeaks)->Unit(benchmark::kMillisecond);

}  // namespace
