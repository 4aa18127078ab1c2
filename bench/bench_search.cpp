// Cost of one automatic peak search, the first half of every automatic marking: a 4096-channel
// spectrum with about 40 peaks, and a 16,384-channel one with four times as many; wide peaks; flat noise. The
// work arrays are allocated once, as the workspace keeps them.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analysis/peak_search.h"
#include "core/numeric.h"

namespace {

// A falling Compton-like continuum with Gaussian peaks every ~100 channels whose width grows from 3 to
// 6 channels, and Poisson-like noise from the seeded generator.
orv::TSpectrum GammaSpectrum(int channels) {
  orv::TSpectrum s;
  s.a1 = 1;
  s.a2 = channels;
  s.b1 = 2;
  s.b2 = channels - 1;
  orv::RandomGenerator g;
  for (int ch = 1; ch <= channels; ++ch) s.sp[ch] = 50 + 5000.0 / (1 + ch / 400.0);
  for (int k = 0; 100 * k + 60 < channels; ++k) {
    const double centre = 60 + 100 * k + 37 * std::sin(k);
    const double sigma = (3 + 3.0 * centre / channels) / 2.3548;
    const double amplitude = 200 + 8000 * std::fabs(std::cos(1.7 * k));
    for (int ch = std::max(1, static_cast<int>(centre - 8 * sigma));
         ch <= std::min(channels, static_cast<int>(centre + 8 * sigma)); ++ch) {
      const double u = (ch - centre) / sigma;
      s.sp[ch] += amplitude * std::exp(-u * u / 2);
    }
  }
  for (int ch = 1; ch <= channels; ++ch) {
    s.sp[ch] = std::max(0.0, std::round(s.sp[ch] + std::sqrt(s.sp[ch]) * orv::RandomNormalPair(g).first));
  }
  return s;
}

// The default settings and model, and work arrays allocated once, as the workspace keeps them.
struct Searcher {
  orv::AnalysisState settings;
  const orv::TPeakModel model;
  std::unique_ptr<orv::PeakSearchWork> work = std::make_unique<orv::PeakSearchWork>();
  orv::Marking marking;
  orv::SilentPort port{true};

  int Run(const orv::TSpectrum& s, double deltaWidth, double width2, double width1) {
    const int peaks =
        orv::SearchPeaks(s, s.b1, s.b2, deltaWidth, width2, width1, settings, model, *work, marking, port)
            .peakCount;
    benchmark::DoNotOptimize(marking.peakList.data());
    return peaks;
  }
};

// The gamma spectrum searched with a width law from width1 to width2.
void SearchGamma(benchmark::State& state, double width1, double width2) {
  const int channels = static_cast<int>(state.range(0));
  const orv::TSpectrum s = GammaSpectrum(channels);
  Searcher searcher;
  int peaks = 0;
  for (auto _ : state) peaks = searcher.Run(s, 3.5, width2, width1);
  state.counters["peaks"] = peaks;
  state.SetItemsProcessed(state.iterations() * channels);
}

void BM_SearchPeaks(benchmark::State& state) {
  SearchGamma(state, 3, 6);
}
BENCHMARK(BM_SearchPeaks)->Arg(4096)->Arg(16384)->Unit(benchmark::kMillisecond);

// Wide peaks (FWHM 16) go through the 1000-part re-binning; the true peaks being 3 to 6 channels wide,
// many candidates reach the local significance fit.
void BM_SearchCompressed(benchmark::State& state) {
  SearchGamma(state, 16, 16);
}
BENCHMARK(BM_SearchCompressed)->Arg(16384)->Unit(benchmark::kMillisecond);

// Flat Poisson noise at 100 counts per channel: every bump the segments pass on must be judged by
// the local fit, so this is the most work per listed peak.
void BM_SearchNoise(benchmark::State& state) {
  const int channels = static_cast<int>(state.range(0));
  orv::TSpectrum s;
  s.a1 = 1;
  s.a2 = channels;
  s.b1 = 2;
  s.b2 = channels - 1;
  orv::RandomGenerator g;
  for (int ch = 1; ch <= channels; ++ch) s.sp[ch] = std::round(100 + 10 * orv::RandomNormalPair(g).first);
  Searcher searcher;
  int peaks = 0;
  for (auto _ : state) peaks = searcher.Run(s, 1.0, 5.0, 3.0);
  state.counters["peaks"] = peaks;
  state.SetItemsProcessed(state.iterations() * channels);
}
BENCHMARK(BM_SearchNoise)->Arg(16384)->Unit(benchmark::kMillisecond);

}  // namespace
