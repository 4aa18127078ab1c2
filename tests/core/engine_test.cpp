#include "core/engine.h"
#include "core/numeric.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/fake_port.h"

namespace orv {
namespace {

using testing::FakePort;

using Mat3 = Matrix3;

Mat3 Inverse3(Mat3 a) {  // the numeric library's inversion, checked on its own
  Invert3(a, 0);
  return a;
}

// f(i) = Σ value[k]·phi(k, i) over the first `terms` records; y and w are 1-based.
struct LinearProblem {
  std::vector<double> y, w;
  std::function<double(int, int)> phi;
  int terms = 1;
  auto Model(TParameter& e) {
    return [this, &e](double& yy, double& ww, double& f, int, int i) {
      yy = y[i], ww = w[i], f = 0;
      for (int k = 1; k <= terms; ++k) f += e.params[k].value * (e.params[k].deriv = phi(k, i));
    };
  }
};

LinearProblem Constant(std::vector<double> y, std::vector<double> w) {
  return {std::move(y), std::move(w), [](int, int) { return 1.0; }, 1};
}

// Quadratic through 8 points with uneven weights and residuals that do not vanish.
LinearProblem Quadratic() {
  LinearProblem p{{0}, {0}, [](int k, int i) { return std::pow(i, k - 1); }, 3};
  for (int i = 1; i <= 8; ++i) {
    p.y.push_back(2 - 0.5 * i + 0.1 * i * i + (i % 3 == 0 ? 0.3 : -0.2));
    p.w.push_back(1 / ((0.2 + 0.05 * i) * (0.2 + 0.05 * i)));
  }
  return p;
}

constexpr int kCapacity = 2 * 150 + 6;

// The program's capacities, plain least squares and full undamped Gauss–Newton steps.
TParameter PlainEngine(int n, int points, std::optional<int> maxIter = {}, std::optional<double> eps = {}) {
  TParameter e;
  e.Create(kCapacity, 4096, kCapacity);
  e.nParams = n, e.nPoints = points, e.step = 1, e.damper = 0;
  if (maxIter) e.maxIter = *maxIter;
  if (eps) e.eps = *eps;
  return e;
}

TEST(EngineLeastSquares, LinearModelsMatchClosedForms) {
  LinearProblem p = Quadratic();
  Mat3 a{};
  std::array<double, 3> b{}, sol{};
  for (int i = 1; i <= 8; ++i) {
    for (int k = 0; k < 3; ++k) {
      b[k] += p.w[i] * p.phi(k + 1, i) * p.y[i];
      for (int l = 0; l < 3; ++l) a[k][l] += p.w[i] * p.phi(k + 1, i) * p.phi(l + 1, i);
    }
  }
  const Mat3 inv = Inverse3(a);
  for (int k = 0; k < 3; ++k) sol[k] = inv[k][0] * b[0] + inv[k][1] * b[1] + inv[k][2] * b[2];
  auto chiSum = [&](const double* v) {
    double s = 0;
    for (int i = 1; i <= 8; ++i) s += p.w[i] * std::pow(p.y[i] - (v[0] + v[1] * i + v[2] * i * i), 2);
    return s;
  };
  for (int compact : {0, 1}) {
    for (double damper : {0.0, 0.01}) {
      SCOPED_TRACE(::testing::Message() << "compact " << compact << " damper " << damper);
      // Undamped one step is exact; damped, the final pass damps the diagonal by 1e-5.
      Mat3 damped = a;
      for (int k = 0; k < 3; ++k) damped[k][k] *= damper == 0 ? 1 : 1 + 1e-5;
      const Mat3 cov = Inverse3(damped);
      TParameter e = PlainEngine(3, 8, damper == 0 ? 1 : 40, 1e-14);
      e.compactMode = compact, e.damper = damper;
      e.Fit(p.Model(e));
      EXPECT_EQ(std::tuple(e.inverted, e.definite, e.dof), std::tuple(1, 1, 5));
      EXPECT_NEAR(e.chi2, chiSum(sol.data()) / 5, 1e-9);
      for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(e.params[k + 1].value, sol[k], 1e-9 * std::max(1.0, std::fabs(sol[k])));
        EXPECT_NEAR(e.params[k + 1].error, std::sqrt(cov[k][k]), 1e-9 * std::sqrt(cov[k][k]));
        for (int l = 0; l < 3; ++l) EXPECT_NEAR(e.Covariance(k + 1, l + 1), cov[k][l], 1e-9 * cov[k][k]);
      }
    }
  }
  // maxIter 0: nothing moves; chi2, ν and errors belong to the start values.
  TParameter e = PlainEngine(3, 8, 0);
  const double start[] = {1, 0, 0.05};
  for (int k = 1; k <= 3; ++k) e.params[k].value = start[k - 1];
  e.Fit(p.Model(e));
  EXPECT_EQ(std::tuple(e.iter, e.dof), std::tuple(0, 5));
  EXPECT_NEAR(e.chi2, chiSum(start) / 5, 1e-12 * chiSum(start));
  for (int k = 1; k <= 3; ++k) {
    EXPECT_EQ(e.params[k].value, start[k - 1]);
    EXPECT_NEAR(e.params[k].error, std::sqrt(inv[k - 1][k - 1]), 1e-9 * std::sqrt(inv[k - 1][k - 1]));
  }
  // A copy (a fit worker's engine) takes settings and values but not the copied fit's covariances.
  TParameter fitted = PlainEngine(3, 8, 1), copy = PlainEngine(1, 1);
  fitted.Fit(p.Model(fitted));
  copy = fitted;
  EXPECT_EQ(std::tuple(copy.params[3].value, copy.Covariance(1, 2)), std::tuple(fitted.params[3].value, 0.0));
  copy.Fit(p.Model(copy));
  EXPECT_DOUBLE_EQ(copy.Covariance(1, 2), fitted.Covariance(1, 2));
}

TEST(EngineLeastSquares, GaussianPeakOnConstantConverges) {
  const double truth[] = {0, 5, 100, 20.3, 2.1};  // level, amplitude, centre, sigma
  auto gauss = [](const double* v, int i, double* d) {
    const double u = (i - v[3]) / v[4], g = std::exp(-0.5 * u * u);
    d[1] = 1, d[2] = g, d[3] = v[2] * g * u / v[4], d[4] = v[2] * g * u * u / v[4];
    return v[1] + v[2] * g;
  };
  TParameter e = PlainEngine(4, 40, 30, 1e-9);
  e.damper = 1e-5;
  const double start[] = {0, 4, 80, 19.5, 2.5};
  for (int k = 1; k <= 4; ++k) e.params[k].value = start[k];
  e.Fit([&](double& y, double& w, double& f, int, int i) {
    double v[5], d[5];
    for (int k = 1; k <= 4; ++k) v[k] = e.params[k].value;
    y = gauss(truth, i, d), w = 1 / y, f = gauss(v, i, d);
    for (int k = 1; k <= 4; ++k) e.params[k].deriv = d[k];
  });
  EXPECT_TRUE(e.iter < 30 && e.chi2 < 1e-12);
  for (int k = 1; k <= 4; ++k) EXPECT_NEAR(e.params[k].value, truth[k], 1e-6 * truth[k]) << k;
  e.Diagnose();
  EXPECT_FALSE(e.notDefinite || e.notInverted || e.poorQuality || e.accuracyNotReached);
}

// A Gaussian on a straight line.
struct GaussOnLine {
  TParameter& e;
  const std::vector<double>& y;

  void operator()(double& yy, double& w, double& f, int, int i) {
    auto& p = e.params;
    const double u = (i - p[4].value) / p[5].value, g = std::exp(-0.5 * u * u);
    yy = y[i], w = i >= 100 && i <= 102 ? 0 : 1 / y[i], f = p[1].value + p[2].value * i + p[3].value * g;
    p[1].deriv = 1, p[2].deriv = i, p[3].deriv = g, p[4].deriv = p[3].value * g * u / p[5].value;
    p[5].deriv = p[3].value * g * u * u / p[5].value;
  }
};

// Full mode (identity rows for fixed parameters) and compact mode (no rows for them) solve the same
// problem and must agree, with every point or every second one, points left out (weight 0, a NaN
// count), robust down-weighting, and none, one or two fixed parameters. The per-point diagonal trace
// (sums point by point instead of by chunks) must not change the numbers, and every point kept gets
// its residual line.
TEST(EngineLeastSquares, FullAndCompactModesAgree) {
  const int points = 150;
  std::vector<double> y(points + 1);
  for (int i = 1; i <= points; ++i) {
    const double u = (i - 71.3) / 6.0;
    y[i] = 40 + 0.05 * i + 900 * std::exp(-0.5 * u * u) + ((i * 7) % 11 - 5) * 3.0 + (i == 30 ? 400 : 0);
  }
  y[45] = std::nan("");
  for (int fixedCount : {0, 1, 2}) {
    for (int pointStep : {1, 2}) {
      SCOPED_TRACE(::testing::Message() << "fixed " << fixedCount << " step " << pointStep);
      std::vector<double> results[3];
      for (int path : {0, 1, 2}) {  // full, compact, full with the diagonal traced
        TParameter e = PlainEngine(5, points, 6);
        FakePort sink;
        e.sink = &sink;
        e.compactMode = path == 1, e.traceAccuracy = path == 2;
        e.traceResiduals = true, e.pointStep = pointStep;
        e.damper = 0.01, e.step = 0.9;
        e.robustLimit = 4, e.robustSoftness = 0.25;
        const double start[] = {0, 30, 0.05, 700, 68, 7};
        for (int k = 1; k <= 5; ++k) e.params[k] = {k, -1e9, start[k], 1e9, 1, 0, 0, 0};
        if (fixedCount >= 1) e.params[2].lower = e.params[2].upper = 0.05;
        if (fixedCount >= 2) e.params[1].lower = e.params[1].upper = 30;
        e.Fit(GaussOnLine{e, y});
        for (int k = 1; k <= 5; ++k)
          results[path].insert(results[path].end(), {e.params[k].value, e.params[k].error});
        results[path].insert(results[path].end(), {e.chi2, e.Covariance(3, 5), static_cast<double>(e.iter),
                                                   static_cast<double>(e.nZeroWeight)});
        if (path == 0) {
          long residualLines = 0;
          for (const std::string& line : sink.lines) residualLines += line.size() == 45;
          EXPECT_EQ(residualLines, points - 4);
        }
      }
      EXPECT_EQ(results[0].back(), 4);  // the NaN count and three weights 0
      for (int path : {1, 2}) {
        for (std::size_t j = 0; j < results[0].size(); ++j) {
          EXPECT_NEAR(results[path][j], results[0][j], 1e-9 * std::fabs(results[0][j]) + 1e-12)
              << "path " << path << " item " << j;
        }
      }
    }
  }
}

// f = p1·x + p2·sin x + p3 + p4·cos x with p3 fixed, p2 = −3·p1 + 1 and p4 = 0.5·p2 + 2 (a dependent
// of a dependent): one free parameter, h = x − 3 sin x − 1.5 cos x, with a closed-form solution.
TEST(EngineConstraints, FixedAndDependentParameters) {
  const int n = 12;
  auto basis = [](int k, int i) {
    return k == 1 ? 0.7 * i : k == 2 ? std::sin(0.7 * i) : k == 3 ? 1.0 : std::cos(0.7 * i);
  };
  LinearProblem lp{{0}, {0}, basis, 4};
  double shh = 0, shz = 0;
  for (int i = 1; i <= n; ++i) {
    const double h = lp.phi(1, i) - 3 * lp.phi(2, i) - 1.5 * lp.phi(4, i);
    lp.y.push_back(2 * h + lp.phi(2, i) + 0.7 + 2.5 * lp.phi(4, i) + (i % 2 ? 0.1 : -0.15));
    lp.w.push_back(1 + i % 3);
    shh += lp.w[i] * h * h;
    shz += lp.w[i] * h * (lp.y[i] - lp.phi(2, i) - 0.7 - 2.5 * lp.phi(4, i));
  }
  const double p1 = shz / shh, var1 = 1 / shh, e1 = std::sqrt(var1);
  double scaledAccuracy[2] = {0, 0};
  for (int compact : {0, 1}) {
    SCOPED_TRACE(compact);
    TParameter e = PlainEngine(4, n, 1);
    e.compactMode = compact;
    e.params[1] = {1, -10, 1, 10, 1, 0, 0, 0};
    e.params[2] = {1, 0, 0, 0, -3, 1, 0, 0};
    e.params[3] = {3, 0.7, 0.7, 0.7, 1, 0, 0, 0};
    e.params[4] = {2, 0, 0, 0, 0.5, 2, 0, 0};
    e.Fit(lp.Model(e));
    // The convergence measure of the one step may not depend on how the matrix is stored. Along the
    // fixed parameter the gradient never vanishes, so it must not count (it made converged fits look
    // unconverged in full mode).
    scaledAccuracy[compact] = e.accuracy * std::sqrt(e.nFree);
    EXPECT_EQ(std::tuple(e.warningMsg, e.compressionMsg, e.dof),
              std::tuple("", compact ? ".... Compression: from    4  to    1" : "", n - 1));
    const double want[][2] = {{p1, e1}, {-3 * p1 + 1, 3 * e1}, {0.7, 0}, {-1.5 * p1 + 2.5, 1.5 * e1}};
    for (int k = 1; k <= 4; ++k) {
      EXPECT_NEAR(e.params[k].value, want[k - 1][0], 1e-11) << k;
      EXPECT_NEAR(e.params[k].error, want[k - 1][1], 1e-12) << k;
    }
    EXPECT_EQ(std::tuple(e.params[2].lower, e.params[2].upper), std::tuple(-29, 31));  // −3·[−10, 10] + 1
    EXPECT_NEAR(e.Covariance(2, 4), 4.5 * var1, 1e-12);
    EXPECT_EQ(e.Covariance(3, 1), 0);
  }
  EXPECT_GT(scaledAccuracy[0], 0);
  EXPECT_NEAR(scaledAccuracy[0], scaledAccuracy[1], 1e-9 * scaledAccuracy[1]);
  // A dependent on a fixed master is fixed itself: it becomes independent, with a warning.
  TParameter e = PlainEngine(4, n);
  e.params[1] = {1, 2, 2, 2, 1, 0, 0, 0};
  e.params[2] = {1, 0, 0, 0, -3, 1, 0, 0};
  e.Fit(lp.Model(e));
  EXPECT_EQ(e.warningMsg, "Warning! Fixing and dependence contradiction removed");
  EXPECT_EQ(std::tuple(e.params[2].master, e.params[2].value, e.params[2].error, e.dof),
            std::tuple(2, -5.0, 0.0, n - 2));
}

TEST(EngineConstraints, BoundsAndDegreesOfFreedom) {
  LinearProblem constant = Constant({0, 4, 5, 6}, {0, 1, 1, 1});
  TParameter e = PlainEngine(1, 3, 1);
  e.params[1] = {1, 0, 1, 3, 1, 0, 0, 0};
  e.Fit(constant.Model(e));
  EXPECT_EQ(std::tuple(e.params[1].value, e.atBoundary), std::tuple(3.0, 1));  // the full step would reach 5
  // Three free parameters on two points: ν stays 1; damping keeps the matrix invertible.
  LinearProblem quad = Quadratic();
  TParameter f = PlainEngine(3, 2);
  f.damper = 0.01;
  f.Fit(quad.Model(f));
  EXPECT_EQ(std::tuple(f.dof, f.inverted, f.atBoundary), std::tuple(1, 1, 0));
}

TEST(EngineWeights, RobustRulesAndEqualWeights) {
  // A constant model at 0 with residuals 1, −2, 4, 8, limit c0 = 4 and softness a = 0.25.
  LinearProblem p = Constant({0, 1, -2, 4, 8}, {0, 2.5, 1, 1, 1});
  auto atZero = [&](int kind) {
    TParameter e = PlainEngine(1, 4, 0);
    e.weightKind = kind, e.robustLimit = 4, e.robustSoftness = 0.25;
    e.Fit(p.Model(e));
    EXPECT_EQ(e.dof, 3);
    return e;
  };
  // Rule 2: r²w below c0, factor 1 at t = c0 = 4, q = 1.25 / (2² + 0.25) at t = 8.
  const double q = 1.25 / 4.25, s2 = 1 * 1 * 2.5 + 4 + 16 + 64 * q;
  const TParameter r2 = atZero(2);
  EXPECT_DOUBLE_EQ(r2.chi2, s2 / 3);
  EXPECT_DOUBLE_EQ(r2.chiPlus, (2.5 + 16 + 64 * q) / s2);
  EXPECT_DOUBLE_EQ(r2.goodFraction, 0.25);  // only 2.5 is below 1 + sqrt(18/4)
  EXPECT_EQ(atZero(3).chi2, r2.chi2);       // any other rule number weighs as rule 2
  // Rule 1 contributes |r|·sqrt(w), rule 0 sqrt(|r|)/sqrt(w).
  EXPECT_NEAR(atZero(1).chi2, (std::sqrt(2.5) + 2 + 4 + 8) / 3, 1e-12);
  EXPECT_NEAR(atZero(0).chi2, (1 / std::sqrt(2.5) + std::sqrt(2.0) + 2 + std::sqrt(8.0)) / 3, 1e-12);
  // An outlier pulls the plain mean to 15; rule 2 with a small limit nearly ignores it.
  LinearProblem bulk = Constant({0, 10, 10.5, 9.5, 10.2, 9.8, 40}, std::vector<double>(7, 1.0));
  for (double limit : {2.0, 1e6}) {
    TParameter e = PlainEngine(1, 6, 20, 1e-12);
    e.params[1].value = 10, e.robustLimit = limit, e.robustSoftness = 0.25;
    e.Fit(bulk.Model(e));
    EXPECT_NEAR(e.params[1].value, limit == 2.0 ? 10.03 : 15.0, limit == 2.0 ? 0.02 : 1e-9);
  }
  // Equal weights from the second iteration on: the weighted mean first, then the plain mean.
  LinearProblem uneven = Constant({0, 1, 2, 6}, {0, 100, 1, 1});
  for (bool equal : {false, true}) {
    TParameter e = PlainEngine(1, 3, 2, -1);
    e.equalWeights = equal;
    e.Fit(uneven.Model(e));
    EXPECT_EQ(e.iter, 2);
    EXPECT_NEAR(e.params[1].value, equal ? 3.0 : 108.0 / 102.0, 1e-12);
  }
}

TEST(EngineIteration, SubsampleRotationPoliciesAndRestoredSettings) {
  LinearProblem p = Constant({0, 1, 2, 3, 4, 5, 6}, std::vector<double>(7, 1.0));
  TParameter e = PlainEngine(1, 6, 3, -1);
  e.pointStep = 2, e.chiTarget = -1, e.robustLimit = 0;
  std::vector<int> visits, next, dofs;
  auto model = p.Model(e);
  e.Fit(
      [&](double& y, double& w, double& f, int phase, int i) {
        visits.push_back(phase == 3 ? -i : i);
        model(y, w, f, phase, i);
      },
      [&](int after) { next.push_back(after), dofs.push_back(e.dof); });
  EXPECT_EQ(visits, (std::vector<int>{1, 3, 5, 2, 4, 6, 1, 3, 5, -1, -2, -3, -4, -5, -6}));
  EXPECT_EQ(next, (std::vector<int>{6, 7, 6, 7}));
  EXPECT_EQ(dofs, (std::vector<int>{2, 2, 2, 5}));
  EXPECT_EQ(std::tuple(e.pointStep, e.chiTarget, e.robustLimit), std::tuple(2, -1.0, 0.0));
  // f = p², y = 4, from p = 0.1: the full step lands at 20.05, far worse than the start.
  auto run = [](int policy, int maxIter, std::vector<double>& chis) {
    TParameter e = PlainEngine(1, 1, maxIter, -1);
    e.params[1].value = 0.1, e.increasePolicy = policy;
    e.Fit(
        [&](double& y, double& w, double& f, int, int) {
          y = 4, w = 1, f = std::pow(e.params[1].value, 2), e.params[1].deriv = 2 * e.params[1].value;
        },
        [&](int) { chis.push_back(e.chi2); });
    return e;
  };
  std::vector<double> chis;
  const TParameter stop = run(1, 10, chis);
  EXPECT_EQ(std::tuple(stop.iter, stop.status), std::tuple(2, 0));
  EXPECT_NEAR(stop.params[1].value, 20.05, 1e-12);
  chis.clear();
  const TParameter shrink = run(2, 3, chis);
  ASSERT_EQ(chis.size(), 4u);
  EXPECT_EQ(chis[2], chis[0]);  // the rejected step was taken back
  EXPECT_NEAR(shrink.params[1].value, 0.1 + 0.5 * 19.95, 1e-9);
  EXPECT_EQ(shrink.step, 1);  // the halving lasts for the fit only
}

TEST(EngineFailures, SingularAndRefusedInputs) {
  FakePort port;
  int calls = 0;
  auto fitTwins = [&](TParameter& e) {  // two parameters with identical derivatives
    e.port = &port;
    e.Fit([&](double& y, double& w, double& f, int, int i) {
      ++calls;
      y = i, w = 1, f = e.params[1].value + e.params[2].value, e.params[1].deriv = e.params[2].deriv = 1;
    });
  };
  TParameter e = PlainEngine(2, 5);
  fitTwins(e);
  EXPECT_EQ(std::tuple(e.inverted, e.iter, e.params[1].error, e.params[2].error, e.Covariance(1, 1)),
            std::tuple(0, 1, 0.0, 0.0, 0.0));
  e.Diagnose();
  EXPECT_TRUE(e.notInverted && port.messages.empty());
  // Refused before any point is visited: one message per bad record, counts, no free parameter.
  calls = 0;
  TParameter bad = PlainEngine(3, 5), empty = PlainEngine(2, 0), tooMany = PlainEngine(kCapacity + 1, 5),
             fixed = PlainEngine(2, 5);
  bad.params[1].master = 2, bad.params[3].coef = 0, fixed.compactMode = 1;
  fixed.params[1].lower = fixed.params[1].upper = 0, fixed.params[2].lower = fixed.params[2].upper = 1;
  for (TParameter* t : {&bad, &empty, &tooMany, &fixed}) fitTwins(*t);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(std::tuple(bad.arrayMsg, bad.status), std::tuple("Wrong parameter array", 0));
  EXPECT_EQ(fixed.errorMsg, "Error, no free parameters");
  EXPECT_EQ(port.messages, (std::vector<std::string>{"Wrong parameter array", "Wrong parameter array",
                                                     "N points= 0  N pars= 2", "N points= 5  N pars= 307"}));
  // Every weight 0: one message and the abandon flag; nothing else happens.
  port.messages.clear();
  TParameter zero = PlainEngine(2, 5);
  zero.port = &port, zero.params[1].value = 7;
  zero.Fit([&](double& y, double& w, double& f, int, int) { y = w = f = 0; });
  EXPECT_EQ(std::tuple(zero.abandoned, zero.status, zero.params[1].value), std::tuple(true, 0, 7.0));
  EXPECT_EQ(port.messages, (std::vector<std::string>{"All errors=0.Fit stopped"}));
}

TEST(EngineTrace, TraceLinesAndProgress) {
  // f = p1 + p2·i through (1, 1), (2, 2), (3, 3) from zero: chi2 = 14 / ν = 14 at the start.
  LinearProblem p{{0, 1, 2, 3}, {0, 1, 1, 1}, [](int k, int i) { return k == 1 ? 1.0 : i; }, 2};
  FakePort sink;
  TParameter e = PlainEngine(2, 3, 1);
  e.sink = &sink, e.tracePeriod = 1, e.traceResiduals = true;
  e.Fit(p.Model(e));
  ASSERT_EQ(sink.lines.size(), 7u);
  EXPECT_EQ(std::tuple(sink.lines[0], sink.lines[1], sink.lines[4]),
            std::tuple("Iter.=    1  chi2=    14.00   Eps= ***** Step=  1.000 Damp=  0.000000",
                       "      0.0000      0.0000", "    1      1.00      1.00      0.00      1.00"));
}

TEST(EngineSettings, DiagnoseAndRelax) {
  TParameter e;
  e.Create(kCapacity, 4096, kCapacity);
  e.params[kCapacity].master = 0;
  e.ApplyStartupSettings();
  EXPECT_EQ(std::tuple(e.nParams, e.params[kCapacity].master), std::tuple(0, kCapacity));
  e.Relax();
  EXPECT_EQ(std::tuple(e.damper, e.step), std::tuple(0.1, 0.495));
  for (auto [before, after] : {std::pair{0, 0}, {1, 5}, {3, 5}, {4, 5}, {10, 11}}) {
    e.maxIter = before;
    e.Relax();
    EXPECT_EQ(e.maxIter, after) << before;
  }
  e.definite = 0, e.chi2 = 3.5, e.chiPlus = 0.8, e.accuracy = 0.2;
  e.Diagnose();
  EXPECT_TRUE(e.notDefinite && e.poorQuality && e.accuracyNotReached && e.signImbalance && !e.notInverted);
  e.chi2 = 0.05;  // a tiny criterion excuses the imbalance
  e.Diagnose();
  EXPECT_FALSE(e.poorQuality || e.signImbalance);
}

}  // namespace
}  // namespace orv
