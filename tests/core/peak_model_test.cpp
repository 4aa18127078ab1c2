#include "core/peak_model.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <string>
#include <tuple>

#include "tests/support/fake_port.h"

namespace orv {
namespace {

using testing::ChooseRadio;
using testing::FakePort;

TPeakModel Built(int kind) {
  TPeakModel m;
  m.kind = kind;
  EXPECT_TRUE(m.BuildModel()) << kind;
  return m;
}

// Simpson area and half-maximum width of the normalised table, both in u.
double TableArea(const TPeakModel& m) {
  double sum = 0;
  for (int k = 1; k <= 96; ++k) sum += std::fabs(m.samples[2 * k - 1]) + 2 * std::fabs(m.samples[2 * k]);
  return (m.range / 96) * (2.0 / 3.0) * sum;
}

double TableFwhm(const TPeakModel& m) {
  double top = 0;
  for (int i = 1; i <= 193; ++i) top = std::max(top, std::fabs(m.samples[i]));
  auto mag = [&](int i) { return i < 1 || i > 193 ? 0.0 : std::fabs(m.samples[i]); };
  int i = 1, j = 193;
  while (mag(i) < top / 2) ++i;
  while (mag(j) < top / 2) --j;
  const double a = (mag(i) - top / 2) / (mag(i) - mag(i - 1));
  const double b = (mag(j) - top / 2) / (mag(j) - mag(j + 1));
  return (j - i + a + b) * m.range / 96;
}

struct KindFigures {
  int kind;
  double integral;  // tolerance of the integral of Evaluate over the table
  double halfMax;   // tolerance of 2·m(±0.5)/m(0) − 1; negative for asymmetric and closed-form kinds
};

// Tolerances about twice the measured deviations: the interpolant follows the samples.
constexpr KindFigures kFigures[] = {
    {1, 1e-6, 2e-4},    // Gauss: integral 3.7e-7, half max 9.0e-5
    {2, 1e-4, -1},      // Lorentz: 5.5e-5 (sharp top, 9 samples per FWHM)
    {3, 1e-5, -1},      // IAEA: 4.7e-6
    {4, 2e-6, 2e-4},    // Voigt with r = 0: 8.5e-7, 9.3e-5
    {5, 1.2e-4, 2e-4},  // ConvExp with r = 0: 5.8e-5, 9.3e-5
    {6, 2e-3, -1},      // Exponential: 1.03e-3 (cusp at the centre)
    {7, 2e-6, -1},      // Detector4: 5.9e-7
    {9, 2.5e-4, 2e-4},  // ExpPeak: 1.2e-4, 8.3e-5
    {10, 1e-6, -1},     // Popa: 1e-8
    {11, 5e-4, 3e-4},   // Fourier (integral of |m|: the lobes are signed): 2.3e-4, 1.5e-4
    {12, 1e-6, -1},     // Step-Function: 2e-12
};

TEST(PeakModelTables, AreaWidthAndIntegralPerKind) {
  for (const KindFigures& f : kFigures) {
    SCOPED_TRACE(PeakModelName(f.kind));
    TPeakModel m = Built(f.kind);
    EXPECT_EQ(std::tuple(m.samples[1], m.samples[193]), std::tuple(0.0, 0.0));
    EXPECT_NEAR(m.range * m.fwhmSteps, 96, 1e-9);
    EXPECT_NEAR(TableArea(m), 1, 1e-6);
    EXPECT_NEAR(TableFwhm(m), 1, 1e-6);
    const int n = 200000;
    const double du = 2 * m.range / n;
    double integral = 0;
    for (int i = 0; i < n; ++i) {
      double v, d1, d2;
      m.Evaluate(-m.range + (i + 0.5) * du, v, d1, d2);
      integral += (f.kind == 11 ? std::fabs(v) : v) * du;
    }
    EXPECT_NEAR(integral, 1, f.integral);
    if (f.halfMax > 0) {
      for (double u : {-0.5, 0.5})
        EXPECT_NEAR(2 * m.EvaluateShape(u) / m.EvaluateShape(0), 1, f.halfMax) << u;
    }
  }
}

TEST(PeakModelTables, KnownShapes) {
  // Gaussian exp(−1.1·u²), 32 samples per unit: FWHM 64·sqrt(ln 2 / 1.1) = 50.80 steps.
  TPeakModel g;
  EXPECT_TRUE(g.kind == 1 && g.positive && std::fabs(g.centroidShift) < 1e-12);
  EXPECT_NEAR(g.fwhmSteps, 64 * std::sqrt(std::log(2.0) / 1.1), 0.01);
  // Unit-area, unit-FWHM Gaussian peaks at 2·sqrt(ln 2 / π).
  EXPECT_NEAR(g.EvaluateShape(0), 2 * std::sqrt(std::log(2.0) / M_PI), 1e-3);
  // The step 64..129 moves to 97..162: FWHM exactly 66 steps.
  TPeakModel step = Built(12);
  EXPECT_EQ(std::tuple(step.fwhmSteps, step.range), std::tuple(66.0, 96.0 / 66));
  // Without a shape parameter the Voigt is the Gaussian exp(−((i − 97)/32)²).
  TPeakModel voigt = Built(4);
  EXPECT_NEAR(voigt.samples[97 + 32] / voigt.samples[97], std::exp(-1.0), 1e-9);
  TPeakModel conv = Built(5);  // same Gaussian, shifted from 65 to the centre
  EXPECT_NEAR(conv.samples[97 + 16] / conv.samples[97], std::exp(-0.25), 1e-9);
  // A shape parameter widens the Voigt's wings and skews the convolved exponential.
  TPeakModel wide;
  wide.shapeParameter = 4, wide.kind = 4;
  ASSERT_TRUE(wide.BuildModel());
  EXPECT_GT(wide.EvaluateShape(1.5), g.EvaluateShape(1.5));
  wide.kind = 5;
  ASSERT_TRUE(wide.BuildModel());
  EXPECT_TRUE(std::fabs(TableArea(wide) - 1) < 1e-6 && std::fabs(wide.centroidShift) > 1);
  // Closed forms: Lorentz 1/(π(1 + u²)), Exponential with half value at |u| = 0.5.
  EXPECT_DOUBLE_EQ(Built(2).EvaluateShape(0), 1 / M_PI);
  EXPECT_NEAR(Built(6).EvaluateShape(-0.5), 0.5, 1e-7);
}

TEST(PeakModelTables, StoredTablesAreCentredOnFirstMaximum) {
  struct Stored {
    int kind, shift;  // shift: 97 minus the stored position of the maximum
    double top;
  };
  for (Stored s : {Stored{3, 20, 8647}, Stored{7, 50, 23196}, Stored{10, -1, 5656}, Stored{12, 33, 1}}) {
    SCOPED_TRACE(PeakModelName(s.kind));
    TPeakModel m = Built(s.kind);
    EXPECT_NEAR(m.samples[97] * m.area, s.top, 1e-9 * s.top);
    for (int i = 1; i <= 193; ++i)
      EXPECT_TRUE(i < 97 ? m.samples[i] < m.samples[97] : m.samples[i] <= m.samples[97]) << i;
  }
  // The stored edge values arrive shifted with the maximum.
  const TPeakModel iaea = Built(3), det = Built(7), popa = Built(10);
  for (auto [m, i, value] :
       {std::tuple{&iaea, 22, 2.0}, {&iaea, 119, 19.0}, {&iaea, 121, 0.0}, {&det, 136, 5.0}, {&popa, 2, 4.0}})
    EXPECT_NEAR(m->samples[i] * m->area, value, 1e-9) << i;
  // Low-energy tails pull the centroid below the maximum.
  EXPECT_TRUE(iaea.centroidShift > 0 && det.centroidShift > 0);
}

TEST(PeakModelEvaluate, DerivativesMatchFiniteDifferences) {
  for (int kind : {1, 3, 6, 11}) {
    SCOPED_TRACE(PeakModelName(kind));
    TPeakModel m = Built(kind);
    const double h = m.range / 96;
    for (int k = -92; k <= 92; ++k) {
      // A quarter step off the node keeps u ± δ on the same interpolation node.
      const double u = (k + 0.27) * h, delta = 1e-4 * h;
      double v, d1, d2, vm, vp, unused;
      m.Evaluate(u, v, d1, d2);
      m.Evaluate(u - delta, vm, unused, unused);
      m.Evaluate(u + delta, vp, unused, unused);
      const double scale = 1 + std::fabs(d1) + std::fabs(d2);
      EXPECT_NEAR((vp - vm) / (2 * delta), d1, 1e-6 * scale) << u;
      EXPECT_NEAR((vp - 2 * v + vm) / (delta * delta), d2, 1e-3 * scale) << u;
    }
  }
}

TEST(PeakModelEvaluate, OutsideTableAndBadInputGiveZeros) {
  TPeakModel g;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (double u : {-1.9, g.range * 1.000001, -1e300, inf, -inf, nan}) {
    double v = 1, d1 = 1, d2 = 1;
    g.Evaluate(u, v, d1, d2);
    EXPECT_EQ(std::tuple(v, d1, d2), std::tuple(0.0, 0.0, 0.0)) << u;
  }
  // Just inside the edge the outermost nodes answer with their own (zero-ish) value, flat.
  double v, d1, d2;
  g.Evaluate(g.range, v, d1, d2);
  EXPECT_EQ(std::tuple(v, d1), std::tuple(0.0, 0.0));
  g.Evaluate(g.range * 0.99, v, d1, d2);
  EXPECT_TRUE(d1 == 0 && d2 == 0 && v > 0);
}

TEST(PeakModelBuild, RefusedShapesKeepThePreviousTable) {
  FakePort port;
  TPeakModel m;
  const TPeakModel gauss = m;
  for (int kind : {8, 13, -7}) {
    m.kind = kind;
    port.messages.clear();
    EXPECT_FALSE(m.BuildModel(&port)) << kind;
    ASSERT_FALSE(port.messages.empty()) << kind;
    EXPECT_EQ(port.messages.back().rfind("Illegal model", 0), 0u) << port.messages.back();
    EXPECT_TRUE(m.samples == gauss.samples && m.range == gauss.range);
  }
  // Measured kinds are built elsewhere: BuildModel leaves them alone.
  m = gauss, m.samples[97] = 42;
  for (int kind : {-1, 0}) {
    m.kind = kind;
    EXPECT_TRUE(m.BuildModel());
    EXPECT_EQ(m.samples[97], 42);
  }
  // A spike on the last sample has no Simpson weight: refused, not divided by zero.
  TPeakModel edge;
  edge.samples.fill(0);
  edge.samples[193] = 5;
  const auto before = edge.samples;
  EXPECT_FALSE(edge.Normalize(&port));
  EXPECT_TRUE(edge.samples == before && edge.range == gauss.range);
  // A spike on the first sample measures with the outside taken as 0: one step wide.
  edge.samples[193] = 0, edge.samples[1] = 5;
  EXPECT_TRUE(edge.Normalize(&port));
  EXPECT_DOUBLE_EQ(edge.fwhmSteps, 1);
  // CenterSamples with nothing positive must not shift anything off the table.
  edge.work.fill(-1);
  edge.CenterSamples(193);
  EXPECT_EQ(std::tuple(edge.samples[1], edge.samples[193]), std::tuple(0.0, 0.0));
  EXPECT_EQ(std::string(PeakModelName(-1)) + PeakModelName(INT_MIN), "Double-signed");
}

TEST(PeakModelDialog, SpecialModelCommand) {
  FakePort port;
  TPeakModel m;
  m.kind = 3;
  ASSERT_TRUE(m.BuildModel());
  port.answers = {ChooseRadio(3)};
  EXPECT_TRUE(SpecialModelCommand(m, port));
  EXPECT_EQ(std::tuple(m.kind, m.range), std::tuple(7, Built(7).range));
  // No answer queued: Cancel.
  const auto table = m.samples;
  EXPECT_FALSE(SpecialModelCommand(m, port));
  EXPECT_TRUE(m.kind == 7 && m.samples == table);
  m.kind = 12;
  port.answers = {ChooseRadio(1)};
  EXPECT_TRUE(SpecialModelCommand(m, port));
  EXPECT_TRUE(m.kind == 1 && m.samples == TPeakModel().samples);
}

}  // namespace
}  // namespace orv
