#include "analysis/interval_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <tuple>
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
  // The truth plus Gaussian counting noise (none when rng is null), deviations from the truth.
  void Fill(const std::vector<Peak>& peaks, double b0, double b1, RandomGenerator* rng) {
    for (int ch = 1; ch <= 4096; ++ch) {
      const double mean = ExpectedCount(ch, peaks, b0, b1);
      ws.spectrum.sp[ch] = mean + (rng ? std::sqrt(mean) * RandomNormalPair(*rng).first : 0);
      ws.spectrum.err[ch] = std::sqrt(std::max(mean, 1.0));
    }
  }
  // Fits one interval with the given marked positions.
  bool Fit(int start, int end, const std::vector<double>& positions, double width, int mode = 0) {
    ws.fit = IntervalFitState{};
    ws.fit.startChannel = start, ws.fit.endChannel = end, ws.fit.n = static_cast<int>(positions.size());
    ws.fit.wInt = width;
    marks.assign(1, 0.0);
    marks.insert(marks.end(), positions.begin(), positions.end());
    return FitInterval(ws, marks.data(), mode);
  }
  Workspace ws;
  std::vector<double> marks;
};

TEST_F(IntervalFitTest, SinglePeakWithoutNoiseIsRecoveredExactly) {
  Fill({{500.3, 20000, 5.0}}, 200, 0.05, nullptr);
  ASSERT_TRUE(Fit(470, 530, {501}, 4.0));
  const PeakFigures r = PeakResult(ws, 1);
  EXPECT_NEAR(r.position, 500.3, 0.01);
  EXPECT_NEAR(r.width, 5.0, 0.02);
  EXPECT_NEAR(r.area, 20000, 40);
  EXPECT_TRUE(r.criterion > 3 && r.areaError > 0);
  EXPECT_NEAR(r.background, 16 * 225, 400);  // about 2 · 1.5 FWHM channels of 225 counts
  EXPECT_LE(ws.fit.backgroundDegree, 1);
}

// A large narrow peak with a relative error term on high counts has a tiny normal-matrix diagonal for
// its amplitude: the fit must still move it, at any offset within a channel, with an error of that scale.
TEST_F(IntervalFitTest, LargeNarrowPeakWithRelativeErrorsIsFitted) {
  ws.state.covar = 0.025, ws.spectrum.deltaWidth = 2.5;
  for (double offset : {0.0, 0.25, 0.5}) {
    SCOPED_TRACE(offset);
    Fill({{500 + offset, 1e6, 1.4}}, 1000, 0, nullptr);
    ws.spectrum.fileType = 1;
    ws.spectrum.SetErrors(ws.state.covar);
    ASSERT_TRUE(Fit(490, 510, {500 + offset}, 1.5));
    const PeakFigures r = PeakResult(ws, 1);
    EXPECT_NEAR(r.area, 1e6, 3000);
    EXPECT_NEAR(r.width, 1.4, 0.005);
    EXPECT_GT(r.areaError, 5000);  // about 2 % from the relative error term, not a few per mille
  }
}

TEST_F(IntervalFitTest, DoubletAndMultipletSettings) {
  Fill({{1000.0, 30000, 5.0}, {1007.0, 15000, 5.0}}, 300, 0, nullptr);
  ws.state.fitStep = 0.99, ws.state.iterationLimit = 7;
  ASSERT_TRUE(Fit(975, 1035, {999, 1008}, 5.0));
  const PeakFigures a = PeakResult(ws, 1), b = PeakResult(ws, 2);
  EXPECT_NEAR(a.position, 1000.0, 0.02);
  EXPECT_NEAR(b.position, 1007.0, 0.02);
  EXPECT_NEAR(a.area, 30000, 100);
  EXPECT_NEAR(b.area, 15000, 100);
  EXPECT_DOUBLE_EQ(a.width, b.width);  // one shared width
  // Every parameter within its bounds; the fixed width slope never moves.
  const TParameter& e = ws.engine;
  for (int k = 1; k <= e.nParams; ++k)
    EXPECT_TRUE(e.params[k].value >= e.params[k].lower && e.params[k].value <= e.params[k].upper) << k;
  EXPECT_EQ(e.params[WidthVariableIndex(2)].value, 0);
  // The doublet's own iteration budget and any retry's relaxation last for this fit only.
  EXPECT_EQ(std::tuple(ws.engine.maxIter, ws.engine.step, ws.engine.damper, ws.engine.robustSoftness),
            std::tuple(10, 0.99, 0.01, 0.25));
}

TEST_F(IntervalFitTest, ModelProcedureWeightsAndLocality) {
  Fill({{300.0, 1000, 4.0}}, 50, 0, nullptr);
  ASSERT_TRUE(Fit(280, 320, {300}, 4.0));
  double y, w, f;
  const auto deriv = [&](int k) { return ws.engine.params[k].deriv; };
  // A channel far from the peak: no contribution, no derivatives of the peak's records; T0 = 1, T1 = −1
  // at the interval start.
  IntervalModel(ws, y, w, f, 3, 1);
  EXPECT_EQ(std::tuple(deriv(AmplitudeIndex(1)), deriv(PositionIndex(1, 1)), deriv(WidthIndex(1)),
                       ws.fit.componentValues[2], deriv(1), deriv(2)),
            std::tuple(0.0, 0.0, 0.0, 0.0, 1.0, -1.0));
  EXPECT_DOUBLE_EQ(ws.fit.componentValues[0], f);
  // At the peak the total is the background plus the peak.
  IntervalModel(ws, y, w, f, 3, 21);
  EXPECT_NEAR(ws.fit.componentValues[1], ws.fit.componentValues[0] + ws.fit.componentValues[2], 1e-9);
  EXPECT_GT(deriv(AmplitudeIndex(1)), 0.5);
  // Raw counts: the measured weight counts a zero as one (the model's takes over in the fit), and
  // covar is not counted twice.
  ws.spectrum.sp[281] = ws.spectrum.err[281] = 0;
  ws.state.covar = 0.1;
  IntervalModel(ws, y, w, f, 3, 2);
  EXPECT_EQ(w, 1);
  ws.spectrum.sp[282] = 400;
  IntervalModel(ws, y, w, f, 3, 3);
  EXPECT_DOUBLE_EQ(w, 1 / (400 + 0.01 * 400 * 400));
  // Counts with deviations of their own: a channel with zero deviation is left out of the fit.
  ws.spectrum.errorsFromFile = true;
  IntervalModel(ws, y, w, f, 3, 2);
  EXPECT_EQ(w, 0);
  // Low statistics: the last point pairs with the channel after the interval and stands at their
  // midpoint, with half the weight of their mean (every channel enters two points).
  ws.fit.lowStatistics = true;
  ws.spectrum.sp[320] = 2, ws.spectrum.sp[321] = 4, ws.spectrum.err[320] = 3, ws.spectrum.err[321] = 4;
  IntervalModel(ws, y, w, f, 3, 41);
  EXPECT_DOUBLE_EQ(y, 3);
  EXPECT_DOUBLE_EQ(w, 1 / (2 * 2.5 * 2.5));
}

TEST_F(IntervalFitTest, BackgroundDegreeAndRefusals) {
  Fill({{600.0, 8000, 5.0}}, 400, 0, nullptr);
  // One peak on a flat background: at most a straight line.
  ws.spectrum.dback = -3;
  ASSERT_TRUE(Fit(570, 630, {600}, 5.0));
  EXPECT_EQ(std::tuple(ws.fit.backgroundDegree, ws.engine.params[3].upper, ws.engine.params[4].upper),
            std::tuple(1, 0.0, 0.0));
  // Mode 1 forces the cubic.
  ASSERT_TRUE(Fit(570, 630, {600}, 5.0, 1));
  EXPECT_EQ(ws.fit.backgroundDegree, 3);
  EXPECT_NEAR(PeakResult(ws, 1).area, 8000, 20);
  // Marks that are not numbers or lie far outside the interval start inside it: finite rows.
  for (double mark : {std::nan(""), 1e300, -1e300, 10.0}) {
    ASSERT_TRUE(Fit(570, 630, {mark}, 5.0)) << mark;
    const PeakFigures r = PeakResult(ws, 1);
    EXPECT_TRUE(std::isfinite(r.area) && std::isfinite(r.areaError) && std::isfinite(r.criterion)) << mark;
    EXPECT_GE(r.position, 570);
    EXPECT_LE(r.position, 630);
  }
  // A NaN count is left out of the fit instead of spoiling it.
  ws.spectrum.sp[605] = std::nan("");
  ASSERT_TRUE(Fit(570, 630, {600}, 5.0));
  EXPECT_EQ(ws.engine.nZeroWeight, 1);
  EXPECT_NEAR(PeakResult(ws, 1).area, 8000, 40);
  EXPECT_TRUE(std::isfinite(PeakResult(ws, 1).areaError));
  // Every weight zero (deviations of their own, all 0): the engine stops the fit and the command ends.
  ws.spectrum.errorsFromFile = true;
  for (int ch = 560; ch <= 640; ++ch) ws.spectrum.sp[ch] = ws.spectrum.err[ch] = 0;
  EXPECT_FALSE(Fit(570, 630, {600}, 5.0));
}

}  // namespace
}  // namespace orv
