// The fit loop over a series of 100 type-1 spectra of 2048 channels, ten marked peaks each (eight
// intervals, two of them doublets), with one and with two workers. Wall time is what a user waits, so
// the figures are real time; the speed-up is the ratio of the two.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "analysis/fit_loop.h"
#include "analysis/workspace.h"
#include "tests/support/fake_port.h"
#include "tests/support/synthetic.h"

namespace {

using namespace orv;

class NullSink : public LineSink {
 public:
  bool WriteLine(const std::string&) override { return true; }
};

// The series on disk for the whole run, removed at exit.
struct Series {
  std::filesystem::path dir;
  std::vector<std::string> names;
  std::unique_ptr<Workspace> ws;

  Series() : dir(std::filesystem::temp_directory_path() / ("orv_bench_loop_" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(dir);
    const std::vector<testing::TruePeak> peaks = {
        {150.2, 6000, 4.2},   {402.7, 9000, 4.4},   {415.1, 5000, 4.4},  {700.4, 12000, 4.6},
        {951.8, 4000, 4.8},   {1200.3, 15000, 5.0}, {1450.6, 7000, 5.1}, {1462.2, 6000, 5.1},
        {1700.9, 10000, 5.3}, {1900.5, 8000, 5.4}};
    for (int k = 1; k <= 100; ++k) {
      TSpectrum s;
      RandomGenerator noise;
      noise.Seed(100 + k, 500 + 3 * k);
      testing::FillSpectrum(s, 2048, peaks, 300, -0.1, &noise);
      std::string bytes;
      for (int ch = 1; ch <= 2048; ++ch) {
        const auto v = static_cast<std::uint16_t>(std::clamp(std::round(s.sp[ch]), 0.0, 65535.0));
        bytes += static_cast<char>(v & 0xff);
        bytes += static_cast<char>(v >> 8);
      }
      names.push_back((dir / ("s" + std::to_string(k) + ".bin")).string());
      std::ofstream(names.back(), std::ios::binary) << bytes;
    }
    ws = std::make_unique<Workspace>(dir.string());
    ResetAnalysisState(*ws);
    std::istringstream marking(
        "140 160 1\n150\n392 426 2\n403 415\n688 712 1\n700\n940 963 1\n952\n1187 1213 1\n1200\n"
        "1437 1476 2\n1451 1462\n1688 1714 1\n1701\n1887 1914 1\n1900\n");
    testing::FakePort port;
    ReadMarkingDataSet(marking, ws->marking, port);
  }
  ~Series() {
    ws.reset();
    std::filesystem::remove_all(dir);
  }
};

Series& TheSeries() {
  static Series series;
  return series;
}

void BM_FitLoop100Spectra(benchmark::State& state) {
  Series& series = TheSeries();
  testing::FakePort port;
  NullSink table;
  FitLoopSummary summary;
  for (auto _ : state) {
    port.statuses.clear();
    summary = RunFitLoop(*series.ws, series.names, static_cast<int>(state.range(0)), table, port);
    benchmark::DoNotOptimize(summary);
  }
  state.counters["spectra"] = summary.processed;
  state.counters["failed"] = summary.failed;
  state.counters["messages"] = static_cast<double>(port.messages.size());
}
BENCHMARK(BM_FitLoop100Spectra)
    ->ArgName("workers")
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The fresh start every spectrum gets: a whole copy of the snapshot workspace.
void BM_CopyWorkspaceForWorker(benchmark::State& state) {
  Series& series = TheSeries();
  Workspace worker(series.dir.string());
  for (auto _ : state) {
    CopyWorkspaceForWorker(*series.ws, worker);
    benchmark::DoNotOptimize(worker.engine.robustSoftness);
  }
}
BENCHMARK(BM_CopyWorkspaceForWorker)->Unit(benchmark::kMicrosecond);

}  // namespace
