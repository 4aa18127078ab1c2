// Cost of one step of the smoothing and background tuning loop on a full 16,384-channel interval (and a
// 4096-channel one), and of a whole command run answered at once: every less/more click recomputes the
// curve, so one step must stay far below what a user notices (target: smoothing well under 10 ms).
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/numeric.h"
#include "spectrum/smoothing.h"

namespace {

// Accepts the first dialog with its entry checked and answers " Quit" in the loop.
class QuitPort : public orv::UiPort {
 public:
  bool ShowDialog(orv::DialogRequest& r) override {
    if (r.checkList) r.checkList->checked.assign(r.checkList->checked.size(), true);
    if (r.radio1) r.radio1->chosen = 3;
    return r.accepted = true;
  }
  void ShowMessage(const std::string&) override {}
  bool AskYesNo(const std::string&) override { return true; }
  bool AskOkCancel(const std::string&) override { return true; }
  void ShowStatus(const std::string&, const std::string&) override {}
  void ShowPrompt(const std::string&) override {}
  std::optional<std::string> ChooseFileToOpen(const orv::FileOpenRequest&) override { return std::nullopt; }
  void ShowText(const std::vector<std::string>&) override {}
};

// A falling continuum with a Gaussian peak every 100 channels and seeded counting noise.
void FillSpectrum(orv::TSpectrum& s, int channels) {
  orv::RandomGenerator g;
  for (int ch = 1; ch <= channels; ++ch) {
    double y = 50 + 5000.0 / (1 + ch / 400.0);
    const double u = (ch % 100 - 50) / 2.0;
    y += 3000 * std::exp(-u * u / 2);
    s.sp[ch] = std::max(0.0, std::round(y + std::sqrt(y) * orv::RandomNormalPair(g).first));
  }
  s.a1 = s.b1 = 1;
  s.a2 = s.b2 = channels;
}

void BM_SplineStep(benchmark::State& state, int mode) {
  const int n = static_cast<int>(state.range(0));
  orv::TSpectrum s;
  FillSpectrum(s, n);
  auto work = std::make_unique<orv::SplineWork>();
  for (int k = 1; k <= n; ++k) work->input[k] = s.sp[k];
  for (auto _ : state) {
    orv::ProcessSplineCurve(*work, n, mode, 1.0);
    benchmark::DoNotOptimize(work->output[n / 2]);
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void BM_SmoothStep(benchmark::State& state) {
  BM_SplineStep(state, orv::kSplineSmoothing);
}
void BM_BackgroundStep(benchmark::State& state) {
  BM_SplineStep(state, orv::kSplineBackground);
}
BENCHMARK(BM_SmoothStep)->Arg(4096)->Arg(16384)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BackgroundStep)->Arg(4096)->Arg(16384)->Unit(benchmark::kMicrosecond);

// The whole command: copy in, one curve, apply. The spectrum is refilled outside the timing.
void BM_SmoothCommand(benchmark::State& state, int mode) {
  const int n = 16384;
  orv::TSpectrum original;
  FillSpectrum(original, n);
  orv::TSpectrum s = original;
  orv::AnalysisState st;
  QuitPort port;
  auto work = std::make_unique<orv::SplineWork>();
  for (auto _ : state) {
    state.PauseTiming();
    s.sp = original.sp;
    state.ResumeTiming();
    benchmark::DoNotOptimize(orv::SmoothOrBackgroundCommand(mode, s, st, *work, port));
  }
}
BENCHMARK_CAPTURE(BM_SmoothCommand, smooth, orv::kSplineSmoothing)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_SmoothCommand, background, orv::kSplineBackground)->Unit(benchmark::kMicrosecond);

}  // namespace
