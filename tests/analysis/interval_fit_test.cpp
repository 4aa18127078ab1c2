#include "analysis/interval_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <vector>

#include "analysis/workspace.h"
#include "tests/support/synthetic.h"

namespace orv {
namespace {

using testing::ExpectedCount;
using Peak = testing::TruePeak;

class IntervalFitTest : public ::testing::Test {
 protected:
  IntervalFitTest() : ws(std::filesystem::temp_directory_path().string()) {
    ResetAnalysisState(ws);
    ws.state.covar = 0;
  }

  // Fills the spectrum with the truth plus Gaussian counting noise (none when rng is null) and
  // Poisson-like deviations.
  void Fill(const std::vector<Peak>& peaks, double b0, double b1, RandomGenerator* rng) {
    for (int ch = 1; ch <= 4096; ++ch) {
      const double mean = ExpectedCount(ch, peaks, b0, b1);
      double y = mean;
      if (rng) y += std::sqrt(mean) * RandomNormalPair(*rng).first;
      ws.spectrum.sp[ch] = y;
      ws.spectrum.err[ch] = std::sqrt(std::max(mean, 1.0));
    }
  }

  // One interval with the given marked positions.
  void Mark(int start, int end, const std::vector<double>& positions, double width) {
    ws.fit = IntervalFitState{};
    ws.fit.startChannel = start;
    ws.fit.endChannel = end;
    ws.fit.n = static_cast<int>(positions.size());
    ws.fit.wInt = width;
    marks.assign(1, 0.0);
    marks.insert(marks.end(), positions.begin(), positions.end());
  }

  Workspace ws;
  std::vector<double> marks;
};

TEST_F(IntervalFitTest, SinglePeakWithoutNoiseIsRecoveredExactly) {
  Fill({{500.3, 20000, 5.0}}, 200, 0.05, nullptr);
  Mark(470, 530, {501}, 4.0);
  ASSERT_TRUE(FitInterval(ws, marks.data(), 0));
  const PeakFigures r = PeakResult(ws, 1);
  EXPECT_NEAR(r.position, 500.3, 0.01);
  EXPECT_NEAR(r.width, 5.0, 0.02);
  EXPECT_NEAR(r.area, 20000, 40);
  EXPECT_GT(r.criterion, 3);
  EXPECT_GT(r.areaError, 0);
  // Background under the peak: about 2 * 1.5 FWHM channels of 225 counts.
  EXPECT_NEAR(r.background, 16 * 225, 400);
  EXPECT_LE(ws.fit.backgroundDegree, 1);
}

// A large narrow peak with generous errors (a relative error term on high counts) gives its
// amplitude a tiny normal-matrix diagonal: the fit must still move it, at any offset within a channel,
// and report an error that matches that scale.
TEST_F(IntervalFitTest, LargeNarrowPeakWithRelativeErrorsIsFitted) {
  ws.state.covar = 0.025;
  ws.spectrum.deltaWidth = 2.5;
  for (double offset : {0.0, 0.25, 0.5}) {
    SCOPED_TRACE(offset);
    Fill({{500 + offset, 1e6, 1.4}}, 1000, 0, nullptr);
    ws.spectrum.fileType = 1;
    ws.spectrum.SetErrors(ws.state.covar);
    Mark(490, 510, {500 + offset}, 1.5);
    ASSERT_TRUE(FitInterval(ws, marks.data(), 0));
    const PeakFigures r = PeakResult(ws, 1);
    EXPECT_NEAR(r.area, 1e6, 3000);
    EXPECT_NEAR(r.width, 1.4, 0.005);
    EXPECT_GT(r.areaError, 5000);  // about 2 % from the relative error term, not a few per mille
  }
}

// Over many noisy spectra the spread of the fitted figures must match the errors the fit reports:
// honest errors, the area error including the amplitude-width correlation.
TEST_F(IntervalFitTest, ReportedErrorsMatchTheScatterOfRepeatedFits) {
  RandomGenerator rng;
  const int runs = 300;
  double sumA = 0, sumA2 = 0, sumErrA = 0, sumP = 0, sumP2 = 0, sumErrP = 0, sumNaive = 0;
  for (int run = 0; run < runs; ++run) {
    Fill({{800.0, 5000, 6.0}}, 100, 0.0, &rng);
    Mark(770, 830, {800}, 6.0);
    ASSERT_TRUE(FitInterval(ws, marks.data(), 0));
    const PeakFigures r = PeakResult(ws, 1);
    sumA += r.area;
    sumA2 += r.area * r.area;
    sumErrA += r.areaError;
    sumP += r.position;
    sumP2 += r.position * r.position;
    sumErrP += r.positionError;
    const int n = ws.fit.n;
    const double a = ws.engine.params[AmplitudeIndex(1)].value;
    const double sa = ws.engine.params[AmplitudeIndex(1)].error;
    const double sw = ws.engine.params[WidthIndex(n)].error;
    sumNaive += std::hypot(sa * r.width, sw * a);
  }
  const double meanA = sumA / runs, sdA = std::sqrt(sumA2 / runs - meanA * meanA);
  const double meanP = sumP / runs, sdP = std::sqrt(sumP2 / runs - meanP * meanP);
  EXPECT_NEAR(meanA, 5000, 3 * sdA / std::sqrt(runs) + 25);
  EXPECT_NEAR(meanP, 800, 4 * sdP / std::sqrt(runs));
  // Statistical accuracy of a spread from 300 runs is about 4 %.
  EXPECT_NEAR(sumErrA / runs / sdA, 1.0, 0.15);
  EXPECT_NEAR(sumErrP / runs / sdP, 1.0, 0.15);
  // Ignoring the correlation would overstate the area error markedly.
  EXPECT_GT(sumNaive / sumErrA, 1.2);
}

// A doublet on a curved background with Poisson noise over 200 seeds: the fitted parameters scatter
// around the truth as the errors the engine reports say, and the fit never leaves its bounds.
TEST_F(IntervalFitTest, DoubletPullsOverManySeedsAreHonest) {
  const int runs = 200;
  const double pos1 = 700.0, pos2 = 706.5, fwhm = 5.0;
  double sum[3] = {}, sum2[3] = {}, mean[3] = {};
  double positionSum = 0;
  for (int seed = 1; seed <= runs; ++seed) {
    RandomGenerator g;
    g.Seed(1000 + seed, 77 * seed + 5);
    for (int ch = 660; ch <= 750; ++ch) {
      const double x = (ch - 705) / 40.0;
      const double mean =
          ExpectedCount(ch, {{pos1, 30000, fwhm}, {pos2, 15000, fwhm}}, 800, 0) + 150 * (2 * x * x - 1);
      ws.spectrum.sp[ch] = testing::PoissonDeviate(g, mean);
      ws.spectrum.err[ch] = std::sqrt(std::max(mean, 1.0));
    }
    Mark(670, 740, {699.5, 707.5}, 5.0);
    ws.spectrum.dback = 3;
    ASSERT_TRUE(FitInterval(ws, marks.data(), 0));
    const TParameter& e = ws.engine;
    const int idx[3] = {PositionIndex(2, 1), AmplitudeIndex(1), WidthIndex(2)};
    const double amplitude = 30000 / fwhm;  // unit-area model: the amplitude is area over width
    const double truth[3] = {pos1, amplitude, fwhm};
    for (int j = 0; j < 3; ++j) {
      const ParamRec& r = e.params[idx[j]];
      ASSERT_GT(r.error, 0);
      const double pull = (r.value - truth[j]) / r.error;
      sum[j] += pull;
      sum2[j] += pull * pull;
      mean[j] += r.value;
    }
    positionSum += e.params[PositionIndex(2, 2)].value;
    for (int k = 1; k <= e.nParams; ++k) {
      const ParamRec& r = e.params[k];
      EXPECT_GE(r.value, r.lower);
      EXPECT_LE(r.value, r.upper);
    }
    // The fixed width slope never moves.
    EXPECT_EQ(e.params[WidthVariableIndex(2)].value, 0);
  }
  for (int j = 0; j < 3; ++j) {
    SCOPED_TRACE(j);
    const double m = sum[j] / runs, spread = std::sqrt(sum2[j] / runs - m * m);
    EXPECT_NEAR(m, 0, 3 / std::sqrt(runs) + 0.1);
    EXPECT_GE(spread, 0.85);
    EXPECT_LE(spread, 1.15);
  }
  EXPECT_NEAR(positionSum / runs, pos2, 0.05);
}

TEST_F(IntervalFitTest, DoubletAndMultipletSettings) {
  Fill({{1000.0, 30000, 5.0}, {1007.0, 15000, 5.0}}, 300, 0, nullptr);
  Mark(975, 1035, {999, 1008}, 5.0);
  ws.state.fitStep = 0.99;
  ws.state.iterationLimit = 7;
  ASSERT_TRUE(FitInterval(ws, marks.data(), 0));
  EXPECT_NEAR(PeakResult(ws, 1).position, 1000.0, 0.02);
  EXPECT_NEAR(PeakResult(ws, 2).position, 1007.0, 0.02);
  EXPECT_NEAR(PeakResult(ws, 1).area, 30000, 100);
  EXPECT_NEAR(PeakResult(ws, 2).area, 15000, 100);
  // Both peaks share one width.
  EXPECT_DOUBLE_EQ(PeakResult(ws, 1).width, PeakResult(ws, 2).width);
  if (!ws.fit.retried) {
    // A doublet: damper 0.01, step 0.99, min(3, 2) + round(8 * 0.01) + 7 iterations allowed.
    EXPECT_EQ(ws.engine.maxIter, 2 + 0 + 7);
  }
}

TEST_F(IntervalFitTest, ModelProcedureWeightsAndLocality) {
  Fill({{300.0, 1000, 4.0}}, 50, 0, nullptr);
  Mark(280, 320, {300}, 4.0);
  ASSERT_TRUE(FitInterval(ws, marks.data(), 0));
  double y, w, f;
  // A channel far from the peak: no contribution, no derivatives of the peak's records.
  IntervalModel(ws, y, w, f, 3, 1);
  EXPECT_DOUBLE_EQ(ws.engine.params[AmplitudeIndex(1)].deriv, 0);
  EXPECT_DOUBLE_EQ(ws.engine.params[PositionIndex(1, 1)].deriv, 0);
  EXPECT_DOUBLE_EQ(ws.engine.params[WidthIndex(1)].deriv, 0);
  EXPECT_DOUBLE_EQ(ws.fit.componentValues[2], 0);
  EXPECT_DOUBLE_EQ(ws.fit.componentValues[0], f);
  EXPECT_DOUBLE_EQ(ws.engine.params[1].deriv, 1);   // T0
  EXPECT_DOUBLE_EQ(ws.engine.params[2].deriv, -1);  // T1 at the interval start
  // At the peak the total is the background plus the peak.
  IntervalModel(ws, y, w, f, 3, 21);
  EXPECT_NEAR(ws.fit.componentValues[1], ws.fit.componentValues[0] + ws.fit.componentValues[2], 1e-9);
  EXPECT_GT(ws.engine.params[AmplitudeIndex(1)].deriv, 0.5);
  // A channel with zero deviation and zero counts is left out of the fit.
  ws.spectrum.sp[281] = 0;
  ws.spectrum.err[281] = 0;
  IntervalModel(ws, y, w, f, 3, 2);
  EXPECT_EQ(w, 0);
  // Low statistics: the last point pairs with the channel after the interval.
  ws.fit.lowStatistics = true;
  ws.spectrum.sp[320] = 2;
  ws.spectrum.sp[321] = 4;
  ws.spectrum.err[320] = 3;
  ws.spectrum.err[321] = 4;
  IntervalModel(ws, y, w, f, 3, 41);
  EXPECT_DOUBLE_EQ(y, 3);
  EXPECT_DOUBLE_EQ(w, 1 / (2.5 * 2.5));
}

TEST_F(IntervalFitTest, BackgroundDegreeAndRefusals) {
  Fill({{600.0, 8000, 5.0}}, 400, 0, nullptr);
  // One peak on a flat background: at most a straight line.
  ws.spectrum.dback = -3;
  Mark(570, 630, {600}, 5.0);
  ASSERT_TRUE(FitInterval(ws, marks.data(), 0));
  EXPECT_EQ(ws.fit.backgroundDegree, 1);
  EXPECT_EQ(ws.engine.params[3].upper, 0);
  EXPECT_EQ(ws.engine.params[4].upper, 0);
  // Mode 1 forces the cubic.
  Mark(570, 630, {600}, 5.0);
  ASSERT_TRUE(FitInterval(ws, marks.data(), 1));
  EXPECT_EQ(ws.fit.backgroundDegree, 3);
  EXPECT_NEAR(PeakResult(ws, 1).area, 8000, 20);
  // A NaN count is left out of the fit instead of spoiling it.
  ws.spectrum.sp[605] = std::nan("");
  Mark(570, 630, {600}, 5.0);
  ASSERT_TRUE(FitInterval(ws, marks.data(), 0));
  EXPECT_EQ(ws.engine.nZeroWeight, 1);
  EXPECT_NEAR(PeakResult(ws, 1).area, 8000, 40);
  EXPECT_TRUE(std::isfinite(PeakResult(ws, 1).areaError));
  // Every weight zero: the engine stops the fit and the command ends.
  for (int ch = 560; ch <= 640; ++ch) ws.spectrum.sp[ch] = ws.spectrum.err[ch] = 0;
  Mark(570, 630, {600}, 5.0);
  EXPECT_FALSE(FitInterval(ws, marks.data(), 0));
}

}  // namespace
}  // namespace orv
