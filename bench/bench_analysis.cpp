// Whole analyses: peak search, interval forming and the batch fit of every interval, on the first
// built-in test spectrum and on a 16,384-channel synthetic spectrum with 120 peaks.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>

#include "analysis/marking_modes.h"
#include "analysis/spectrum_fit.h"
#include "analysis/test_spectra.h"
#include "analysis/workspace.h"
#include "tests/support/fake_port.h"
#include "tests/support/synthetic.h"

namespace {

using namespace orv;

void Analyse(benchmark::State& state, Workspace& ws) {
  const TSpectrum original = ws.spectrum;
  const AnalysisState settings = ws.state;
  testing::FakePort port;
  for (auto _ : state) {
    ws.state = settings;
    port.AcceptNext();
    MarkSpectrum(ws, port);
    SpectrumFit(ws, port, 0, nullptr);
    benchmark::DoNotOptimize(ws.results[1]);
  }
  state.counters["peaks"] = ws.marking.peakCount;
  state.counters["intervals"] = ws.marking.intervalCount;
}

void BM_AnalyseTestSpectrumRaa(benchmark::State& state) {
  auto ws = std::make_unique<Workspace>(std::filesystem::temp_directory_path().string());
  ResetAnalysisState(*ws);
  testing::FakePort port;
  port.answers.push_back([](DialogRequest& r) {
    r.radio1->chosen = 1;
    return true;
  });
  TestSpectraCommand(*ws, port);
  SetInterval(ws->state, ws->spectrum, ws->spectrum.a1, ws->spectrum.a2);
  Analyse(state, *ws);
}
BENCHMARK(BM_AnalyseTestSpectrumRaa)->Unit(benchmark::kMillisecond);

void BM_AnalyseSynthetic16k(benchmark::State& state) {
  auto ws = std::make_unique<Workspace>(std::filesystem::temp_directory_path().string());
  ResetAnalysisState(*ws);
  RandomGenerator g;
  std::vector<testing::TruePeak> peaks;
  for (int k = 0; k < 120; ++k) {
    const double ch = 100 + k * 134.0 + 20 * RandomUniform(g);
    peaks.push_back({ch, 300 + 1e5 * RandomUniform(g), 3 + ch * 0.0003});
  }
  TSpectrum& s = ws->spectrum;
  for (int c = 1; c <= 16384; ++c) {
    const double mean = testing::ExpectedCount(c, peaks, 50 + 800 * std::exp(-c / 3000.0), 0);
    s.sp[c] = testing::PoissonDeviate(g, mean);
  }
  s.a1 = 1;
  s.a2 = 16384;
  s.width1 = 3;
  s.width2 = 3 + 16384 * 0.0003;
  s.deltaWidth = 1;
  ws->state.covar = 0;
  s.SetErrors(0);
  s.FindExtremes();
  SetInterval(ws->state, s, 1, 16384);
  Analyse(state, *ws);
}
BENCHMARK(BM_AnalyseSynthetic16k)->Unit(benchmark::kMillisecond);

// One interval fitted through the interval model with the program's iteration limits, on Poisson
// data. With `realizations` = 1: one fixed spectrum, marked positions `offset` FWHM off the truth.
// Otherwise each benchmark iteration fits the next of that many noise realizations, each marked up
// to `offset` FWHM off (uniformly, either side): the mean cost of a fit, retries included.
void FitOneInterval(benchmark::State& state, const std::vector<testing::TruePeak>& peaks, int start, int end,
                    double offset, int realizations = 1) {
  auto ws = std::make_unique<Workspace>(std::filesystem::temp_directory_path().string());
  ResetAnalysisState(*ws);
  RandomGenerator g;
  TSpectrum& s = ws->spectrum;
  s.a1 = 1;
  s.a2 = 1024;
  s.fileType = 1;
  ws->state.covar = 0;
  // The interval's counts, errors and marks of every realization.
  const int points = end - start + 1;
  std::vector<double> counts, errors, marks;
  for (int r = 0; r < realizations; ++r) {
    for (int c = 1; c <= 1024; ++c)
      s.sp[c] = testing::PoissonDeviate(g, testing::ExpectedCount(c, peaks, 200, 0));
    s.SetErrors(0);
    counts.insert(counts.end(), &s.sp[start], &s.sp[end] + 1);
    errors.insert(errors.end(), &s.err[start], &s.err[end] + 1);
    marks.push_back(0);
    for (const auto& p : peaks)
      marks.push_back(p.position +
                      (realizations == 1 ? offset : offset * (2 * RandomUniform(g) - 1)) * p.fwhm);
  }
  const int n = static_cast<int>(peaks.size());
  testing::FakePort port;
  ws->engine.port = &port;
  std::int64_t iterations = 0, retries = 0, fits = 0;
  int r = 0;
  for (auto _ : state) {
    if (realizations > 1) {
      std::copy_n(&counts[static_cast<std::size_t>(r) * points], points, &s.sp[start]);
      std::copy_n(&errors[static_cast<std::size_t>(r) * points], points, &s.err[start]);
    }
    ws->fit.startChannel = start;
    ws->fit.endChannel = end;
    ws->fit.n = n;
    ws->fit.wInt = peaks[0].fwhm;
    ws->engine.robustSoftness = 0.25;  // a retry halves it for good
    FitInterval(*ws, &marks[static_cast<std::size_t>(r) * (n + 1)], 0);
    iterations += ws->engine.iter;
    retries += ws->fit.retried;
    ++fits;
    r = (r + 1) % realizations;
    benchmark::ClobberMemory();
  }
  state.counters["iter"] = static_cast<double>(iterations) / std::max<std::int64_t>(fits, 1);
  state.counters["retried"] = static_cast<double>(retries) / std::max<std::int64_t>(fits, 1);
}

const std::vector<testing::TruePeak> kSinglet = {{500.3, 8000, 5}};
const std::vector<testing::TruePeak> kDoublet = {{500, 8000, 4}, {505.2, 5000, 4}};  // 1.3 FWHM apart
const std::vector<testing::TruePeak> kTriplet = {{480, 8000, 5}, {500, 5000, 5}, {512, 9000, 5}};

void BM_FitSinglet40(benchmark::State& state) {
  FitOneInterval(state, kSinglet, 481, 520, 0.5);
}
BENCHMARK(BM_FitSinglet40)->Unit(benchmark::kMicrosecond);

void BM_FitDoublet21(benchmark::State& state) {
  FitOneInterval(state, kDoublet, 492, 512, 0.3);
}
BENCHMARK(BM_FitDoublet21)->Unit(benchmark::kMicrosecond);

void BM_FitTriplet80(benchmark::State& state) {
  FitOneInterval(state, kTriplet, 455, 534, 0.5);
}
BENCHMARK(BM_FitTriplet80)->Unit(benchmark::kMicrosecond);

// The same over 64 noise realizations with marks up to 1 FWHM off (the doublet's up to 0.6 FWHM, so
// that its marks cannot change places).
void BM_FitSinglet40Mean(benchmark::State& state) {
  FitOneInterval(state, kSinglet, 481, 520, 1.0, 64);
}
BENCHMARK(BM_FitSinglet40Mean)->Unit(benchmark::kMicrosecond);

void BM_FitDoublet21Mean(benchmark::State& state) {
  FitOneInterval(state, kDoublet, 492, 512, 0.6, 64);
}
BENCHMARK(BM_FitDoublet21Mean)->Unit(benchmark::kMicrosecond);

void BM_FitTriplet80Mean(benchmark::State& state) {
  FitOneInterval(state, kTriplet, 455, 534, 1.0, 64);
}
BENCHMARK(BM_FitTriplet80Mean)->Unit(benchmark::kMicrosecond);

// The interval model at one point of a triplet: what every pass pays per point.
void BM_ModelPerPoint(benchmark::State& state) {
  auto ws = std::make_unique<Workspace>(std::filesystem::temp_directory_path().string());
  ResetAnalysisState(*ws);
  for (int c = 1; c <= 1024; ++c) ws->spectrum.sp[c] = 100;
  ws->fit.startChannel = 455;
  ws->fit.endChannel = 534;
  ws->fit.n = 3;
  ws->fit.wInt = 5;
  const double marks[] = {0, 480, 500, 512};
  FitInterval(*ws, marks, 0);
  double y, w, f;
  int i = 0;
  for (auto _ : state) {
    IntervalModel(*ws, y, w, f, 1, 1 + (i++ % 80));
    benchmark::DoNotOptimize(f);
  }
}
BENCHMARK(BM_ModelPerPoint);

}  // namespace
