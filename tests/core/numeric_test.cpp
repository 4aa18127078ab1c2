#include "core/numeric.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/fake_port.h"

namespace orv {
namespace {

using testing::FakePort;
using V = std::vector<double>;

// 1-based array from a list, and elements 1..n of one back.
V A(std::initializer_list<double> values) {
  V v{0};
  v.insert(v.end(), values);
  return v;
}
V Slice(const V& a, int n) {
  return V(a.begin() + 1, a.begin() + 1 + n);
}

std::int64_t Inverse(std::int64_t b, std::int64_t m) {  // b^(m−2) mod prime m
  std::int64_t r = 1;
  for (std::int64_t e = m - 2; e > 0; e >>= 1, b = b * b % m)
    if (e & 1) r = r * b % m;
  return r;
}

constexpr std::int64_t kM1 = 2147483563, kM2 = 2147483399;

TEST(Random, MatchesTheRecurrenceAndStaysInsideTheOpenInterval) {
  RandomGenerator g;
  std::int64_t s1 = 12345, s2 = 67890;
  for (int i = 0; i < 20000; ++i) {
    s1 = 40014 * s1 % kM1, s2 = 40692 * s2 % kM2;
    const std::int64_t z = s1 - s2 < 1 ? s1 - s2 + kM1 - 1 : s1 - s2;
    const double u = RandomUniform(g);
    ASSERT_EQ(u, z * 4.656613e-10) << i;
    ASSERT_TRUE(u > 0 && u < 1);
  }
  // Seeds one step before equal states give the largest z; one apart, the smallest.
  const std::int64_t i1 = Inverse(40014, kM1), i2 = Inverse(40692, kM2);
  g.Seed(static_cast<std::int32_t>(1000 * i1 % kM1), static_cast<std::int32_t>(1000 * i2 % kM2));
  EXPECT_EQ(RandomUniform(g), (kM1 - 1) * 4.656613e-10);
  g.Seed(static_cast<std::int32_t>(1001 * i1 % kM1), static_cast<std::int32_t>(1000 * i2 % kM2));
  EXPECT_EQ(RandomUniform(g), 4.656613e-10);
  // Zero and negative seeds would freeze the recurrence.
  g.Seed(0, -5);
  EXPECT_TRUE(g.s1 >= 1 && g.s2 >= 1);
  EXPECT_NE(RandomUniform(g), RandomUniform(g));
}

TEST(Random, NormalPairsHaveUnitSpread) {
  RandomGenerator g;
  g.Seed(4711, 815);
  double sum = 0, sumSq = 0, cross = 0;
  const int n = 50000;
  for (int i = 0; i < n; ++i) {
    auto [p, q] = RandomNormalPair(g);
    sum += p + q, sumSq += p * p + q * q, cross += p * q;
  }
  EXPECT_TRUE(std::fabs(sum / (2 * n)) < 0.01 && std::fabs(sumSq / (2 * n) - 1) < 0.02 &&
              std::fabs(cross / n) < 0.02);
}

TEST(ArrayFilters, FilterBySignSortMedianAndMinMax) {
  for (auto [mode, kept] : {std::pair{-1, V{3, 0, 2, 0}}, {0, V{3, -1, 2, -4}}, {1, V{-1, 0, -4, 0}}}) {
    auto a = A({3, -1, 0, 2, -4, 0});
    int n = 6;
    FilterBySign(a.data(), n, mode);
    EXPECT_EQ(Slice(a, n), kept) << mode;
  }
  // Stability shows on +0 and −0, which compare equal.
  auto a = A({2, 0.0, 1, -0.0, -3});
  int n = 5;
  SortArray(a.data(), n, 1);
  EXPECT_EQ(Slice(a, 5), (V{-3, 0, 0, 1, 2}));
  EXPECT_TRUE(!std::signbit(a[2]) && std::signbit(a[3]));
  SortArray(a.data(), n, -1);
  EXPECT_EQ(Slice(a, 5), (V{2, 1, 0, 0, -3}));
  EXPECT_TRUE(n == 5 && !std::signbit(a[3]) && std::signbit(a[4]));
  // Mode 0: runs of equal neighbours collapse to their last member; no sorting.
  auto d = A({1, 1, 2, 0.0, -0.0, 3, 1});
  n = 7;
  SortArray(d.data(), n, 0);
  ASSERT_EQ(n, 5);
  EXPECT_EQ(Slice(d, 5), (V{1, 2, 0, 3, 1}));
  EXPECT_TRUE(std::signbit(d[3]));
  auto odd = A({9, 1, 5, 3, 7}), even = A({4, 1, 10, 2});
  V work(6);
  EXPECT_EQ(std::tuple(Median(odd.data(), 5, work.data()), Median(even.data(), 4, work.data()),
                       Median(even.data(), 0, work.data())),
            std::tuple(5, 3, 0));
  EXPECT_EQ(odd[1], 9);  // the caller's array is untouched
  auto m = A({5, 1, 9, 1, 9, 0});
  auto mm = [&](int from, int to, int limit) {
    const MinMax r = MinMaxInRange(m.data(), from, to, limit);
    return std::tuple(r.minPosition, r.minValue, r.maxPosition, r.maxValue);
  };
  EXPECT_EQ(mm(2, 3, 5), std::tuple(2, 1.0, 3, 9.0));  // the scan runs to the limit
  EXPECT_EQ(mm(0, 6, 6), std::tuple(1, 5.0, 1, 5.0));
  const auto empty = mm(4, 4, 3);
  EXPECT_EQ(std::tuple(std::get<0>(empty), std::get<2>(empty)), std::tuple(0, 0));
}

TEST(SmoothPoint, KeepsQuadraticsExact) {
  const int n = 9;
  V y(n + 1);
  auto f = [](double i) { return 3 + 2 * i - 0.5 * i * i; };
  for (int i = 1; i <= n; ++i) y[i] = f(i);
  for (int i = 3; i <= n - 2; ++i) {
    const SmoothedPoint s = SmoothPoint(y.data(), n, i);
    EXPECT_TRUE(std::fabs(s.value - f(i)) + std::fabs(s.first - 2 + i) + std::fabs(s.second + 1) < 1e-11)
        << i;
  }
  // Next to the ends: three-point formulas, exact derivatives, the chord mean as value.
  const SmoothedPoint s2 = SmoothPoint(y.data(), n, 2), s1 = SmoothPoint(y.data(), n, 1);
  EXPECT_TRUE(std::fabs(s2.value - (f(1) + f(3)) / 2) + std::fabs(s2.first) + std::fabs(s2.second + 1) <
              1e-11);
  EXPECT_EQ(std::tuple(s1.value, s1.first, s1.second), std::tuple(y[1], 0.0, 0.0));
  const SmoothedPoint short4 = SmoothPoint(y.data(), 4, 2);
  EXPECT_EQ(std::tuple(short4.value, short4.second), std::tuple(y[2], 0.0));
}

TEST(Interpolate, LinearEndsMonotonicPiecesAndLocalCubic) {
  // Values then abscissas. Zigzag, x = 2.25: M_j = −4, M_j+1 = 4, by hand
  // y = 0.25·(0 − 4/6) + 0.75·(1 + 4/6) + 0.25³·4/6 − 0.75³·4/6 = 13/16.
  auto mono = A({0, 10, 20, 40, /**/ 1, 2, 4, 8}), zig = A({0, 1, 0, 1, 0, /**/ 1, 2, 3, 4, 5});
  for (auto [x, y] : {std::pair{1.5, 5.0}, {3, 15}, {6, 30}, {-1, -20}, {10, 50}, {8, 40}})
    EXPECT_NEAR(Interpolate(mono.data(), 8, 4, x), y, 1e-12) << x;
  for (auto [x, y] : {std::pair{2.25, 13.0 / 16}, {2, 1}, {1.5, 0.5}, {0, -1}, {7, -2}})
    EXPECT_NEAR(Interpolate(zig.data(), 10, 5, x), y, 1e-14) << x;
  auto single = A({7, 3});
  EXPECT_EQ(Interpolate(single.data(), 2, 1, 100), 7);
  auto twin = A({1, 2, 5, 6, /**/ 1, 1, 2, 2});  // coinciding abscissas stay finite
  EXPECT_TRUE(std::isfinite(Interpolate(twin.data(), 8, 4, 1.5)) &&
              std::isfinite(Interpolate(twin.data(), 8, 4, 0)));
}

TEST(Invert3, KnownInverseSymmetricModeAndSingularRefusal) {
  auto expectIdentity = [](const Matrix3& a, const Matrix3& b) {
    for (int i = 0; i < 9; ++i)
      EXPECT_NEAR(a[i / 3][0] * b[0][i % 3] + a[i / 3][1] * b[1][i % 3] + a[i / 3][2] * b[2][i % 3],
                  i / 3 == i % 3, 1e-14)
          << i;
  };
  const Matrix3 m{{{4, 7, 2}, {3, 6, 1}, {2, 5, 3}}}, s{{{4, 1, 2}, {1, 3, 0}, {2, 0, 5}}};
  Matrix3 inv = m, si = s;
  const Inversion r = Invert3(inv, 0);
  ASSERT_TRUE(r.ok);
  EXPECT_DOUBLE_EQ(r.determinant, 9);
  EXPECT_NEAR(inv[0][0], 13.0 / 9, 1e-15);
  expectIdentity(m, inv);
  ASSERT_TRUE(Invert3(si, 1).ok);
  expectIdentity(si, s);
  Matrix3 singular{{{1, 2, 3}, {2, 4, 6}, {1, 1, 1}}};
  const Matrix3 before = singular;
  const Inversion bad = Invert3(singular, 0);
  EXPECT_TRUE(!bad.ok && bad.determinant == 0 && singular == before);
}

TEST(FitLine, ExactLineResidualShareAndSingularSystem) {
  std::vector<LinePoint> pts(7);
  for (int i = 1; i <= 6; ++i) pts[i] = {2.5 * i - 1, static_cast<double>(i), 0.5, 0};
  FakePort sink;
  LineFit f = FitLine(pts.data(), 6, 1, &sink);
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(f.x0, 3.5);
  EXPECT_TRUE(std::fabs(f.p0 - 2.5) < 1e-6 && std::fabs(f.p1 - 7.75) < 1e-5 && std::fabs(f.chi) < 1e-9);
  for (int i = 1; i <= 6; ++i) EXPECT_NEAR(pts[i].fit, pts[i].y, 1e-5);
  ASSERT_EQ(sink.lines.size(), 3u + 6u);
  EXPECT_EQ(sink.lines[0].rfind("    chi, chi+ = ", 0), 0u);
  // y = 0, 2, 0, 2 at x = 1..4 with unit errors: slope 0.4, level 1, residuals ∓0.4, ±1.2.
  std::vector<LinePoint> zig(5);
  for (int i = 1; i <= 4; ++i) zig[i] = {i % 2 == 0 ? 2.0 : 0.0, static_cast<double>(i), 1, 0};
  sink.lines.clear();
  f = FitLine(zig.data(), 4, 2, &sink);
  ASSERT_TRUE(f.ok);
  const double got[] = {f.p0, f.p1, f.chi, f.chiPlus, f.error0, f.error1};
  const double want[] = {0.4, 1, 1.6, 0.5, std::sqrt(0.2), 0.5};
  for (int k = 0; k < 6; ++k) EXPECT_NEAR(got[k], want[k], 1e-5) << k;
  EXPECT_EQ(sink.lines.size(), 1u);
  EXPECT_TRUE(FitLine(zig.data(), 4, 0, nullptr).ok);
  for (int i = 1; i <= 6; ++i) pts[i].error = 0;
  sink.lines.clear();
  EXPECT_FALSE(FitLine(pts.data(), 6, 1, &sink).ok);
  EXPECT_EQ(sink.lines.at(0).rfind("not ok  det= ", 0), 0u);
}

TEST(EdgeLineAndSmoothness, KnownAnswers) {
  V y(13);
  for (int c = 1; c <= 12; ++c) y[c] = 3 * c + 5;
  y[6] = 1000;  // between the ranges: takes no part
  const EdgeFit e = EdgeLine(y.data(), 1, 3, 8, 10);
  EXPECT_EQ(std::tuple(e.meanChannel, e.meanValue, e.slope), std::tuple(5.5, 21.5, 3.0));
  EXPECT_EQ(EdgeLine(y.data(), 3, 2, 9, 8).slope, 0);
  auto data = A({1, 1, 1}), smooth = A({1, 3, 1});
  const SmoothnessMeasure s = Smoothness(data.data(), smooth.data(), 3);
  EXPECT_DOUBLE_EQ(s.fitMeasure, 4.0 / 3);
  EXPECT_DOUBLE_EQ(s.roughness, 16.0 / 5);
}

TEST(WidthEstimate, GaussianFwhmAndRefusals) {
  const int n = 60;
  V y(n + 1), ramp(n + 1), spike(n + 1, 0.0);
  const double sigma = 4, fwhm = 2 * std::sqrt(2 * std::log(2.0)) * sigma;
  for (int i = 1; i <= n; ++i)
    y[i] = 1000 * std::exp(-0.5 * std::pow((i - 30.3) / sigma, 2)), ramp[i] = 100 - i;
  EXPECT_NEAR(WidthEstimate(y.data(), 30, n), fwhm, 0.03 * fwhm);
  EXPECT_NEAR(WidthEstimate(y.data(), 29, n), fwhm, 0.03 * fwhm);  // the top is found from a neighbour
  EXPECT_EQ(WidthEstimate(y.data(), 30, 36), -1);                  // no right crossing before last − 2
  EXPECT_EQ(WidthEstimate(ramp.data(), 2, n), -1);                 // no left crossing inside the array
  spike[30] = 100;
  EXPECT_EQ(WidthEstimate(spike.data(), 30, n), 1);
  EXPECT_EQ(WidthEstimate(spike.data(), 0, n), -1);
}

TEST(Histogram, CountsIntoSqrtBinsAndRefusesLongArrays) {
  FakePort port;
  std::vector<int> counts(200);
  V v(kHistogramLimit + 2);
  for (int i = 1; i <= 100; ++i) v[i] = i;
  HistogramResult h = Histogram(v.data(), 100, counts.data(), 199, port);
  ASSERT_TRUE(h.ok);
  EXPECT_EQ(std::tuple(h.bins, h.low), std::tuple(10, 1.0));
  EXPECT_NEAR(h.binWidth, 9.9, 1e-12);
  for (int b = 1; b <= h.bins; ++b) EXPECT_EQ(counts[b], 10) << b;
  EXPECT_EQ(Histogram(v.data(), 100, counts.data(), 4, port).bins, 4);
  v[5] = NAN;
  Histogram(v.data(), 10, counts.data(), 199, port);
  EXPECT_EQ(counts[1] + counts[2] + counts[3] + counts[4], 9);
  EXPECT_TRUE(port.messages.empty());
  EXPECT_TRUE(Histogram(v.data(), kHistogramLimit, counts.data(), 199, port).ok);
  EXPECT_FALSE(Histogram(v.data(), kHistogramLimit + 1, counts.data(), 199, port).ok);
  EXPECT_EQ(port.messages, std::vector<std::string>{"Too long array"});
}

// A Gaussian of height `height` and FWHM `fwhm` at `centre` over a flat `level`.
double Peak(double x, double centre, double fwhm, double height, double level = 0) {
  const double s = fwhm / 2.354820045;
  return level + height * std::exp(-0.5 * (x - centre) * (x - centre) / (s * s));
}

double Roughness(const double* z, int n) {
  double r = 0;
  for (int i = 2; i < n; ++i) r += std::pow(z[i - 1] - 2 * z[i] + z[i + 1], 2);
  return r;
}

TEST(BackgroundThroughMinima, StaysUnderTheDataThroughTheValleys) {
  auto w = std::make_unique<SplineWork>();
  const int n = 400;
  for (int i = 1; i <= n; ++i)
    w->input[i] = Peak(i, 100, 8, 500, 50 + 0.05 * i) + Peak(i, 260, 10, 300) + (i % 2 ? 3 : -3);
  w->input[3] = -20;
  ASSERT_TRUE(BackgroundThroughMinima(*w, n, 3, true, 8));
  for (int i = 1; i <= n; ++i) {
    ASSERT_GE(w->output[i], 0);
    ASSERT_LE(w->output[i], w->input[i]);
    EXPECT_NEAR(w->errors[i], std::sqrt(std::fabs(w->input[i]) + 1), 1e-12);
  }
  // Under the peaks: the level, not the peak.
  EXPECT_TRUE(std::fabs(w->output[100] - 55) < 6 && std::fabs(w->output[260] - 63) < 6);
  for (int i = 1; i <= n; ++i) w->input[i] = 10 + 0.5 * i;
  ASSERT_TRUE(BackgroundThroughMinima(*w, n, 0, false, 0));
  for (int i = 1; i <= n; ++i) ASSERT_NEAR(w->output[i], w->input[i], 1e-9);
  EXPECT_FALSE(BackgroundThroughMinima(*w, kSplineCapacity + 1, 1, false, 0));
}

TEST(SplineSmooth, EndsKeptDataWeightSetsTheSmoothing) {
  auto w = std::make_unique<SplineWork>();
  const int n = 60;
  V y(n + 1);
  for (int i = 1; i <= n; ++i) y[i] = 100 + 50 * std::sin(0.5 * i) + (i % 3) * 7;
  auto run = [&](double lambda) {  // largest distances from the data and from the chord of the ends
    std::copy(y.begin() + 1, y.end(), w->input.begin() + 1);
    double fit = -1, rough = -1;
    EXPECT_TRUE(SplineSmooth(*w, n, 0, fit, rough, lambda));
    EXPECT_EQ(std::tuple(fit, rough), std::tuple(w->fitMeasure, w->roughness));
    EXPECT_EQ(std::tuple(w->output[1], w->output[n]), std::tuple(y[1], y[n]));
    double data = 0, line = 0;
    for (int i = 1; i <= n; ++i) {
      data = std::max(data, std::fabs(w->output[i] - y[i]));
      line = std::max(line, std::fabs(w->output[i] - (y[1] + (y[n] - y[1]) * (i - 1) / (n - 1))));
    }
    return std::pair{data, line};
  };
  // λ weights the data: a large one follows them, a tiny one leaves the straight line between the ends.
  EXPECT_LT(run(1e9).first, 1e-6);
  EXPECT_LT(run(1e-12).second, 1e-4);
  EXPECT_GT(run(0.1).first, 1);
  EXPECT_LT(Roughness(w->output.data(), n), Roughness(y.data(), n) / 4);
  EXPECT_GT(run(0.01).first, run(1).first);
  // Caller's weights in the output array (mode 1).
  for (int i = 1; i <= n; ++i) w->output[i] = 1;
  std::copy(y.begin() + 1, y.end(), w->input.begin() + 1);
  double fit, rough;
  ASSERT_TRUE(SplineSmooth(*w, n, 1, fit, rough, 1e9));
  for (int i = 1; i <= n; ++i) ASSERT_NEAR(w->output[i], y[i], 1e-5);
  std::copy(y.begin() + 1, y.begin() + 6, w->input.begin() + 1);
  ASSERT_TRUE(SplineSmooth(*w, 5, 0, fit, rough, 1));
  for (int i = 1; i <= 5; ++i) EXPECT_EQ(w->output[i], y[i]);
  EXPECT_FALSE(SplineSmooth(*w, kSplineCapacity + 1, 0, fit, rough, 1));
}

// Smoothing mode (negative coupling); the background mode is checked through the smoothing command.
TEST(SplineFilter, SmoothingCalmsAndKeepsThePeak) {
  auto w = std::make_unique<SplineWork>();
  const int n = 300;
  RandomGenerator g;
  V y(n + 1);
  for (int i = 1; i <= n; ++i) {
    const double truth = Peak(i, 80, 6, 800, 100 - 0.2 * i) + Peak(i, 200, 9, 400);
    y[i] = w->input[i] = truth + std::sqrt(truth) * RandomNormalPair(g).first;
  }
  ASSERT_TRUE(SplineFilter(*w, n, 1, -1, 0.5, 0.5));
  EXPECT_LT(Roughness(w->output.data(), n), Roughness(y.data(), n));
  EXPECT_GT(w->output[80], 500);
  for (int i = 1; i <= n; ++i) ASSERT_EQ(w->input[i], y[i]);  // the data are left as they were
  ASSERT_TRUE(SplineFilter(*w, 4, 3, 1, 0.5, 0.5));
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(w->output[i], y[i]);
  EXPECT_FALSE(SplineFilter(*w, kSplineCapacity + 1, 3, 1, 0.5, 0.5));
}

TEST(AutoSpline, SmoothsANoisyPeakAndFlagsARamp) {
  auto w = std::make_unique<SplineWork>();
  const int n = 120;
  RandomGenerator g;
  V y(n + 1), truth(n + 1);
  double noise = 0, error = 0;
  for (int i = 1; i <= n; ++i) {
    truth[i] = Peak(i, 60, 20, 1000, 5), y[i] = truth[i] + std::sqrt(truth[i]) * RandomNormalPair(g).first;
    noise += std::pow(y[i] - truth[i], 2);
  }
  std::copy(y.begin() + 1, y.end(), w->input.begin() + 1);
  bool badData = true;
  ASSERT_TRUE(AutoSpline(*w, n, badData, 1, 2));
  EXPECT_TRUE(!badData && w->lambda > 0);
  for (int i = 1; i <= n; ++i) {
    EXPECT_NEAR(w->input[i], y[i], 1e-9 * std::fabs(y[i]));  // restored
    error += std::pow(w->output[i] - truth[i], 2);
  }
  EXPECT_LT(error, 0.75 * noise);
  EXPECT_LT(Roughness(w->output.data(), n), Roughness(y.data(), n) / 10);
  // Half weight: halfway between the data and the spline.
  V full(w->output.begin(), w->output.begin() + n + 1);
  std::copy(y.begin() + 1, y.end(), w->input.begin() + 1);
  ASSERT_TRUE(AutoSpline(*w, n, badData, 0.5, 2));
  for (int i = 1; i <= n; ++i) ASSERT_NEAR(w->output[i], (full[i] + y[i]) / 2, 1e-6 * (1 + y[i]));
  for (double slope : {1.0, 0.0}) {  // a ramp and a zero line are bad data
    for (int i = 1; i <= n; ++i) w->input[i] = slope * i;
    ASSERT_TRUE(AutoSpline(*w, n, badData, 1, 2));
    EXPECT_TRUE(badData) << slope;
  }
  EXPECT_FALSE(AutoSpline(*w, kSplineCapacity + 1, badData, 1, 2));
}

}  // namespace
}  // namespace orv
