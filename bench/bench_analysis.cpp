// Whole analyses: peak search, interval forming and the batch fit of every interval, on the first
// built-in test spectrum and on a 16,384-channel synthetic spectrum with 120 peaks.
#include <benchmark/benchmark.h>

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

// One interval fitted through the interval model with the program's iteration limits, from marked
// positions `offset` FWHM off the truth, on Poisson data. The spectrum is fixed; only the fit repeats.
void FitOneInterval(benchmark::State& state, const std::vector<testing::TruePeak>& peaks, int start, int end,
                    double offset) {
  auto ws = std::make_unique<Workspace>(std::filesystem::temp_directory_path().string());
  ResetAnalysisState(*ws);
  RandomGenerator g;
  TSpectrum& s = ws->spectrum;
  for (int c = 1; c <= 1024; ++c)
    s.sp[c] = testing::PoissonDeviate(g, testing::ExpectedCount(c, peaks, 200, 0));
  s.a1 = 1;
  s.a2 = 1024;
  s.fileType = 1;
  ws->state.covar = 0;
  s.SetErrors(0);
  std::vector<double> marks(1, 0.0);
  for (const auto& p : peaks) marks.push_back(p.position + offset * p.fwhm);
  testing::FakePort port;
  ws->engine.port = &port;
  int iterations = 0;
  for (auto _ : state) {
    ws->fit.startChannel = start;
    ws->fit.endChannel = end;
    ws->fit.n = static_cast<int>(peaks.size());
    ws->fit.wInt = peaks[0].fwhm;
    FitInterval(*ws, marks.data(), 0);
    iterations = ws->engine.iter;
    benchmark::ClobberMemory();
  }
  state.counters["iter"] = iterations;
  state.counters["retried"] = ws->fit.retried;
}

void BM_FitSinglet40(benchmark::State& state) {
  FitOneInterval(state, {{500.3, 8000, 5}}, 481, 520, 0.5);
}
BENCHMARK(BM_FitSinglet40)->Unit(benchmark::kMicrosecond);

void BM_FitDoublet21(benchmark::State& state) {
  FitOneInterval(state, {{500, 8000, 4}, {505.2, 5000, 4}}, 492, 512, 0.3);
}
BENCHMARK(BM_FitDoublet21)->Unit(benchmark::kMicrosecond);

void BM_FitTriplet80(benchmark::State& state) {
  FitOneInterval(state, {{480, 8000, 5}, {500, 5000, 5}, {512, 9000, 5}}, 455, 534, 0.5);
}
BENCHMARK(BM_FitTriplet80)->Unit(benchmark::kMicrosecond);

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
