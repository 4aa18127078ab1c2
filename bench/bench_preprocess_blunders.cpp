// Costs of blunder correction and compression over a full 16,384-channel spectrum: both run on the
// whole spectrum at a menu command and should feel instant.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>

#include "core/state.h"
#include "spectrum/blunders.h"
#include "spectrum/compression.h"

namespace {

constexpr int kChannels = 16384;

// A falling continuum with a peak every 512 channels and a spike every 97 channels.
orv::TSpectrum SyntheticSpectrum() {
  orv::TSpectrum s;
  for (int ch = 1; ch <= kChannels; ++ch) {
    const double inPeak = (ch % 512) - 256;
    double v = 20000.0 / (1.0 + ch / 300.0) + 5000.0 * std::exp(-inPeak * inPeak / 8.0);
    if (ch % 97 == 0) v *= 20.0;
    s.sp[ch] = std::round(v);
  }
  s.fileType = 1;
  s.a1 = s.b1 = 1;
  s.a2 = s.b2 = kChannels;
  s.SetErrors(0.01);
  return s;
}

// Puts the counts, deviations and bounds back without timing it.
void Restore(orv::TSpectrum& s, const orv::TSpectrum& original) {
  std::copy(original.sp.begin(), original.sp.begin() + kChannels + 1, s.sp.begin());
  std::copy(original.err.begin(), original.err.begin() + kChannels + 1, s.err.begin());
  std::copy(original.x.begin(), original.x.begin() + kChannels + 1, s.x.begin());
  s.a1 = s.b1 = 1;
  s.a2 = s.b2 = kChannels;
  s.width1 = original.width1;
  s.width2 = original.width2;
  s.deltaWidth = original.deltaWidth;
}

void BM_CorrectBlunders(benchmark::State& state) {
  const orv::TSpectrum original = SyntheticSpectrum();
  orv::TSpectrum s = original;
  orv::AnalysisState st;
  for (auto _ : state) {
    state.PauseTiming();
    Restore(s, original);
    state.ResumeTiming();
    benchmark::DoNotOptimize(orv::CorrectBlunders(s, st, s.a1, s.a2));
  }
  state.SetItemsProcessed(state.iterations() * kChannels);
}
BENCHMARK(BM_CorrectBlunders)->Unit(benchmark::kMicrosecond);

void BM_Compress(benchmark::State& state) {
  const int factor = static_cast<int>(state.range(0));
  const orv::TSpectrum original = SyntheticSpectrum();
  orv::TSpectrum s = original;
  orv::AnalysisState st;
  for (auto _ : state) {
    state.PauseTiming();
    Restore(s, original);
    st = orv::AnalysisState{};
    state.ResumeTiming();
    benchmark::DoNotOptimize(orv::Compress(s, st, factor));
  }
  state.SetItemsProcessed(state.iterations() * kChannels);
}
BENCHMARK(BM_Compress)->Arg(2)->Arg(7)->Unit(benchmark::kMicrosecond);

}  // namespace
