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

}  // namespace
