// Cost of one interval fit: a multiplet of Gaussian peaks of one width on a Chebyshev background,
// laid out as the interval model lays out its parameters, with the start-up engine settings and the
// iteration limit of a multiplet. Every benchmark iteration starts again from the same start values.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "core/engine.h"

namespace {

constexpr int kCapacity = 2 * 150 + 6;
constexpr double kLn2 = 0.69314718055994531;
constexpr double kTableRange = 3.0;  // |u| beyond which the shape is exactly 0, as in a finite table

// Unit-area Gaussian of unit FWHM and its derivative in u.
inline void Shape(double u, double& m, double& dm) {
  if (std::fabs(u) > kTableRange) {
    m = dm = 0;
    return;
  }
  m = 2 * std::sqrt(kLn2 / std::numbers::pi) * std::exp(-4 * kLn2 * u * u);
  dm = -8 * kLn2 * u * m;
}

// Records: 1..4 background T0..T3, 4+k amplitude, 4+n+k position, 2n+5 width w0, 2n+6 width slope w1.
struct Interval {
  int n = 0, points = 0;
  std::vector<double> y, w;
  std::vector<orv::ParamRec> start;

  double Evaluate(orv::TParameter& e, int i) const {
    auto& p = e.params;
    const double x = (2.0 * i - 1 - points) / (points - 1.0);  // −1 at the first point, 1 at the last
    const double t2 = 2 * x * x - 1, t3 = 2 * x * t2 - x;
    p[1].deriv = 1;
    p[2].deriv = x;
    p[3].deriv = t2;
    p[4].deriv = t3;
    double f = p[1].value + p[2].value * x + p[3].value * t2 + p[4].value * t3;
    const double wx = p[2 * n + 5].value + p[2 * n + 6].value * x;
    double g = 0;
    for (int k = 1; k <= n; ++k) {
      const double a = p[4 + k].value;
      const double u = (i - p[4 + n + k].value) / wx;
      double m, dm;
      Shape(u, m, dm);
      f += a * m;
      p[4 + k].deriv = m;
      p[4 + n + k].deriv = -(a / wx) * dm;
      g += -(a / wx) * u * dm;
    }
    p[2 * n + 5].deriv = g;
    p[2 * n + 6].deriv = g * x;
    return f;
  }
};

// Peaks at `centres` with FWHM `width` on a quadratic background; Poisson-like noise with a fixed
// seed; start values off by a few per cent, positions by 0.4 channel.
Interval MakeInterval(int points, const std::vector<double>& centres, double width) {
  Interval iv;
  iv.n = static_cast<int>(centres.size());
  iv.points = points;
  const int n = iv.n;
  orv::TParameter truth;
  truth.Create(2 * n + 6, points, 2 * n + 6);
  auto& p = truth.params;
  p[1].value = 200;
  p[2].value = -40;
  p[3].value = 15;
  for (int k = 1; k <= n; ++k) {
    p[4 + k].value = 3000.0 + 500.0 * (k % 4);
    p[4 + n + k].value = centres[k - 1];
  }
  p[2 * n + 5].value = width;
  std::mt19937 rng(12345);
  iv.y.assign(points + 1, 0);
  iv.w.assign(points + 1, 0);
  for (int i = 1; i <= points; ++i) {
    const double f = iv.Evaluate(truth, i);
    std::normal_distribution<double> noise(0.0, std::sqrt(f));
    iv.y[i] = std::max(0.0, std::round(f + noise(rng)));
    iv.w[i] = 1 / (iv.y[i] + 1);
  }
  iv.start.assign(p.begin(), p.end());
  auto& s = iv.start;
  s[1] = {1, std::sqrt(p[1].value), p[1].value * 1.1, 1e11, 1, 0, 0, 0};
  for (int k = 2; k <= 3; ++k) s[k] = {k, -1e11, 0, 1e11, 1, 0, 0, 0};
  s[4] = {4, 0, 0, 0, 1, 0, 0, 0};  // quadratic background: T3 fixed at 0
  for (int k = 1; k <= n; ++k) {
    s[4 + k] = {4 + k, std::sqrt(p[4 + k].value * 0.8 + 1), p[4 + k].value * 0.8, 1e12, 1, 0, 0, 0};
    s[4 + n + k] = {4 + n + k, 1, centres[k - 1] + 0.4, static_cast<double>(points), 1, 0, 0, 0};
  }
  s[2 * n + 5] = {2 * n + 5, std::max(0.5, width - 2), width * 1.1, width + 2, 1, 0, 0, 0};
  s[2 * n + 6] = {2 * n + 6, 0, 0, 0, 1, 0, 0, 0};
  return iv;
}

void RunFit(benchmark::State& state, const Interval& iv) {
  orv::TParameter e;
  e.Create(kCapacity, 4096, kCapacity);
  e.ApplyStartupSettings();
  e.step = 0.99;
  e.damper = 0.01;
  e.maxIter = std::min(3, iv.n) + 7;
  e.compactMode = static_cast<int>(state.range(0));
  e.nParams = 2 * iv.n + 6;
  e.nPoints = iv.points;
  auto model = [&](double& y, double& w, double& f, int, int i) {
    y = iv.y[i];
    w = iv.w[i];
    f = iv.Evaluate(e, i);
  };
  for (auto _ : state) {
    std::copy(iv.start.begin(), iv.start.end(), e.params.begin());
    e.Fit(model);
    benchmark::ClobberMemory();  // the fit writes through `e`; DoNotOptimize(T&) may write back a stale copy
  }
  state.counters["iter"] = e.iter;
  state.counters["chi2"] = e.chi2;
  state.counters["inverted"] = e.inverted;
}

void BM_FitTriplet(benchmark::State& state) {
  static const Interval iv = MakeInterval(120, {40, 52, 80}, 5);
  RunFit(state, iv);
}
BENCHMARK(BM_FitTriplet)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_Fit20Peaks(benchmark::State& state) {
  static const Interval iv = [] {
    std::vector<double> centres;
    for (int k = 0; k < 20; ++k) centres.push_back(30 + 48.0 * k + (k % 5 == 2 ? -30 : 0));
    return MakeInterval(1000, centres, 6);
  }();
  RunFit(state, iv);
}
BENCHMARK(BM_Fit20Peaks)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The largest fit the engine holds: 150 peaks over 4096 points, a 306 × 306 normal matrix.
void BM_FitFullCapacity(benchmark::State& state) {
  static const Interval iv = [] {
    std::vector<double> centres;
    for (int k = 0; k < 150; ++k) centres.push_back(20 + 27.0 * k);
    return MakeInterval(4096, centres, 6);
  }();
  RunFit(state, iv);
}
BENCHMARK(BM_FitFullCapacity)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace
