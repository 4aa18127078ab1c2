// The whole automatic analysis (width law from the spectrum, search, fits and their refinement) on
// the line kit's 16,384-channel gamma case and its 4,096-channel X-ray case. With ORVANT_BENCH_SPECTRUM
// set, the 16,384-channel spectrum is also written there as free-field counts, so that the wall time
// of `orvant-batch analyse FILE --type 3` can be measured on the same spectrum.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "analysis/automatic/automatic_analysis.h"
#include "analysis/workspace.h"
#include "tests/support/fake_port.h"
#include "tests/support/line_kit.h"

namespace {

using namespace orv;

std::unique_ptr<Workspace> Loaded(const testing::LineSpectrum& spectrum) {
  auto ws = std::make_unique<Workspace>(std::filesystem::temp_directory_path().string());
  ResetAnalysisState(*ws);
  RandomGenerator noise = testing::KitGenerator(17);
  testing::LoadLineSpectrum(*ws, spectrum, &noise, false);
  return ws;
}

void Run(benchmark::State& state, Workspace& ws) {
  const TSpectrum original = ws.spectrum;
  const AnalysisState settings = ws.state;
  testing::FakePort port;
  AutomaticResult out;
  for (auto _ : state) {
    ws.spectrum.width1 = original.width1;
    ws.spectrum.width2 = original.width2;
    ws.spectrum.deltaWidth = original.deltaWidth;
    ws.state = settings;
    AutomaticAnalysis(ws, port, AutomaticOptions{}, out);
    benchmark::DoNotOptimize(ws.results[1]);
  }
  state.counters["peaks"] = out.peaks;
  state.counters["intervals"] = static_cast<double>(out.intervals.size());
  state.counters["clear_lines"] = out.law.lines;
  state.counters["edges"] = out.edges;  // peaks dropped as edges of the continuum
}

void BM_Automatic16384(benchmark::State& state) {
  auto ws = Loaded(testing::LongSpectrumCase(1));
  if (const char* path = std::getenv("ORVANT_BENCH_SPECTRUM")) {
    std::ofstream file(path);
    for (int ch = 1; ch <= ws->spectrum.a2; ++ch) file << ws->spectrum.sp[ch] << '\n';
  }
  Run(state, *ws);
}
BENCHMARK(BM_Automatic16384)->Unit(benchmark::kMillisecond);

void BM_AutomaticXRay4096(benchmark::State& state) {
  auto ws = Loaded(testing::XRayCase(1));
  Run(state, *ws);
}
BENCHMARK(BM_AutomaticXRay4096)->Unit(benchmark::kMillisecond);

}  // namespace
