#include "spectrum/smoothing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <tuple>
#include <vector>

#include "tests/support/fake_port.h"
#include "tests/support/synthetic.h"

namespace orv {
namespace {

using testing::ChooseRadio;
using testing::FakePort;
using testing::Refuse;
using testing::TruePeak;

// Answers the first dialog with its entry checked (or not).
FakePort::Answer Apply(bool on) {
  return [on](DialogRequest& r) {
    if (r.checkList) r.checkList->checked[0] = on;
    return true;
  };
}

// Records every curve drawn: its lambda and a copy of the processed values.
struct Recorder {
  std::vector<double> lambdas;
  std::vector<std::vector<double>> curves;
  SplineCurves last;
  SplineCurveView View() {
    return [this](const SplineCurves& c, DialogRequest&) {
      lambdas.push_back(c.lambda);
      curves.emplace_back(c.processed, c.processed + c.count + 1);
      last = c;
    };
  }
};

class Smooth : public ::testing::Test {
 protected:
  std::unique_ptr<SplineWork> work_ = std::make_unique<SplineWork>();
  TSpectrum s_;
  AnalysisState st_;
  FakePort port_;
  RandomGenerator noise_;
  Recorder rec_;

  bool Run(int mode) { return SmoothOrBackgroundCommand(mode, s_, st_, *work_, port_, rec_.View()); }
  void ExpectLastCurveApplied(int n) {
    for (int ch = 1; ch <= n; ++ch) ASSERT_EQ(s_.sp[ch], rec_.curves.back()[ch]) << ch;
  }
};

TEST_F(Smooth, NoisyCurveComesCloserToTruthAndKeepsPeakAreas) {
  const std::vector<TruePeak> peaks{{200, 5000, 6}, {400, 3000, 8}, {700, 8000, 10}};
  testing::FillSpectrum(s_, 1000, peaks, 100, -0.05, &noise_);
  s_.b1 = 101, s_.b2 = 900;
  const std::vector<double> before = s_.sp, errors = s_.err;
  port_.answers = {Apply(true), ChooseRadio(3)};
  ASSERT_TRUE(Run(kSplineSmoothing));
  EXPECT_EQ(st_.reportLines[0], "Spectrum smoothed");
  double noisy = 0, smoothed = 0;
  for (int ch = 101; ch <= 900; ++ch) {
    const double truth = testing::ExpectedCount(ch, peaks, 100, -0.05);
    noisy += std::pow(before[ch] - truth, 2), smoothed += std::pow(s_.sp[ch] - truth, 2);
  }
  EXPECT_LT(smoothed, 0.5 * noisy);
  for (const TruePeak& p : peaks) {
    double raw = 0, kept = 0;
    for (int ch = static_cast<int>(p.position - 2 * p.fwhm); ch <= p.position + 2 * p.fwhm; ++ch)
      raw += before[ch], kept += s_.sp[ch];
    EXPECT_NEAR(kept, raw, std::sqrt(raw)) << "peak at " << p.position;
  }
  // The ends of the interval are kept; nothing outside it and no deviation changes.
  for (int ch : {1, 100, 101, 900, 901, 1000}) EXPECT_DOUBLE_EQ(s_.sp[ch], before[ch]);
  EXPECT_EQ(s_.err, errors);
}

TEST_F(Smooth, TuningLoopStepsLambdaAndTheLastCurveIsApplied) {
  testing::FillSpectrum(s_, 400, {{200, 4000, 8}}, 80, 0, &noise_);
  const std::vector<double> before = s_.sp;
  // The entry unchecked only shows the curves.
  port_.answers = {Apply(false), ChooseRadio(1), ChooseRadio(3)};
  EXPECT_TRUE(Run(kSplineSmoothing));
  EXPECT_EQ(s_.sp, before);
  EXPECT_EQ(st_.reportLines[0], "");
  EXPECT_EQ(std::tuple(rec_.lambdas, rec_.last.count), std::tuple(std::vector<double>{1.0, 1.5}, 400));
  // Cancel first changes nothing.
  rec_ = {};
  port_.answers = {Refuse()};
  EXPECT_FALSE(Run(kSplineSmoothing));
  EXPECT_TRUE(s_.sp == before && rec_.lambdas.empty());

  port_.answers = {Apply(true), ChooseRadio(1), ChooseRadio(1), ChooseRadio(2), ChooseRadio(3)};
  ASSERT_TRUE(Run(kSplineSmoothing));
  EXPECT_EQ(rec_.lambdas, (std::vector<double>{1.0, 1.5, 2.25, 1.5}));
  ExpectLastCurveApplied(400);
  // Less smoothing follows the data more closely.
  double d1 = 0, d2 = 0;
  for (int k = 1; k <= 400; ++k) {
    d1 += std::fabs(rec_.curves[0][k] - work_->input[k]);
    d2 += std::fabs(rec_.curves[2][k] - work_->input[k]);
  }
  EXPECT_LT(d2, d1);

  // Cancel inside the loop applies the last curve.
  rec_ = {};
  port_.answers = {Apply(true), ChooseRadio(2), Refuse()};
  EXPECT_TRUE(Run(kSplineSmoothing));
  EXPECT_EQ(rec_.lambdas, (std::vector<double>{1.0, 1.0 / 1.5}));
  ExpectLastCurveApplied(400);
  port_.answers = {ChooseRadio(1), Refuse()};  // the loop alone reports how it ended
  const SplineTuning t = SplineTuningLoop(*work_, 400, kSplineSmoothing, port_);
  EXPECT_EQ(std::tuple(t.cancelled, t.steps, t.lambda), std::tuple(true, 1, 1.5));
}

TEST_F(Smooth, EndlessSteppingStaysFinite) {
  testing::FillSpectrum(s_, 200, {{100, 3000, 6}}, 40, 0, &noise_);
  for (int choice : {1, 2}) {
    for (int mode : {kSplineSmoothing, kSplineBackground}) {
      for (int k = 1; k <= 200; ++k) work_->input[k] = s_.sp[k];
      port_.answers.assign(200, ChooseRadio(choice));
      port_.answers.push_back(ChooseRadio(3));
      const SplineTuning t = SplineTuningLoop(*work_, 200, mode, port_);
      EXPECT_TRUE(t.lambda >= kSplineLambdaMin && t.lambda <= kSplineLambdaMax) << t.lambda;
      for (int k = 1; k <= 200; ++k) ASSERT_TRUE(std::isfinite(work_->output[k])) << choice << " " << mode;
    }
  }
}

TEST_F(Smooth, ShortOrBadIntervalsAreRefusedWithAMessage) {
  testing::FillSpectrum(s_, 100, {}, 10, 0, &noise_);
  const std::vector<double> before = s_.sp;
  port_.fallback = Apply(true);
  for (auto [b1, b2] : {std::pair{10, 14},
                        {10, 10},
                        {20, 10},
                        {0, 50},
                        {1, kSpectrumCapacity + 1},
                        {1, kSplineCapacity + 1}}) {
    for (int mode : {kSplineSmoothing, kSplineBackground}) {
      s_.b1 = b1, s_.b2 = b2;
      port_.messages.clear();
      EXPECT_FALSE(Run(mode)) << b1 << ".." << b2;
      EXPECT_TRUE(port_.messages.size() == 1u && port_.shown.empty() && s_.sp == before);
    }
  }
  EXPECT_FALSE(SmoothOrBackgroundCommand(7, s_, st_, *work_, port_));
  EXPECT_FALSE(ProcessSplineCurve(*work_, 5, kSplineSmoothing, 1.0));
  s_.b1 = 10, s_.b2 = 15;  // six channels are enough
  port_.answers = {Apply(true), ChooseRadio(3)};
  EXPECT_TRUE(Run(kSplineSmoothing));
  for (int ch = 16; ch <= 100; ++ch) EXPECT_EQ(s_.sp[ch], before[ch]);
}

TEST_F(Smooth, FullLengthIntervalsAtBothEndsOfTheArrays) {
  for (int first : {1, kSpectrumCapacity - kSplineCapacity + 1}) {
    const int last = first + kSplineCapacity - 1;
    for (int ch = 1; ch <= kSpectrumCapacity; ++ch)
      s_.sp[ch] = testing::ExpectedCount(ch - first + 1, {{8000, 50000, 12}}, 200, 0);
    const std::vector<double> before = s_.sp;
    s_.b1 = first, s_.b2 = last;
    for (int mode : {kSplineSmoothing, kSplineBackground}) {
      s_.sp = before;
      port_.answers = {Apply(true), ChooseRadio(2), ChooseRadio(3)};
      ASSERT_TRUE(Run(mode));
      for (int ch = 1; ch <= kSpectrumCapacity; ++ch) {
        const bool inside = ch >= first && ch <= last;
        ASSERT_TRUE(inside ? std::isfinite(s_.sp[ch]) && s_.sp[ch] >= 0 : s_.sp[ch] == before[ch]) << ch;
      }
    }
  }
  // 3 of 1024 is pixel 1.5: halves go to the even neighbour.
  EXPECT_EQ(std::vector({SplineCurvePixel(1, 1), SplineCurvePixel(kSplineCapacity, kSplineCapacity),
                         SplineCurvePixel(3, 1024), SplineCurvePixel(1, 0)}),
            std::vector({512, 512, 2, 512}));
}

TEST_F(Smooth, BackgroundLiesBelowThePeaksAndFollowsTheContinuum) {
  const std::vector<TruePeak> peaks{{200, 20000, 6}, {450, 10000, 8}, {750, 40000, 10}};
  testing::FillSpectrum(s_, 1000, peaks, 1000, -0.5, &noise_);
  const std::vector<double> before = s_.sp;
  port_.answers = {Apply(true), ChooseRadio(3)};
  ASSERT_TRUE(Run(kSplineBackground));
  EXPECT_EQ(st_.reportLines[0], "Background subtracted");
  // The filter hugs the lower side of the noise, never climbing into a peak.
  const std::vector<double>& bg = rec_.curves.back();
  double lowest = 0, highest = -1e9, mean = 0;
  for (int ch = 1; ch <= 1000; ++ch) {
    const double continuum = testing::ExpectedCount(ch, {}, 1000, -0.5);
    const double deviation = (bg[ch] - continuum) / std::sqrt(continuum);
    lowest = std::min(lowest, deviation);
    highest = std::max(highest, deviation);
    mean += deviation / 1000;
    ASSERT_LE(bg[ch], before[ch]) << ch;
    ASSERT_DOUBLE_EQ(s_.sp[ch], before[ch] - bg[ch]) << ch;
    ASSERT_GE(s_.sp[ch], 0) << ch;
  }
  EXPECT_TRUE(highest < 3 && lowest > -4.5 && mean > -2.5 && mean < 0.5)
      << highest << " " << lowest << " " << mean;
  // The net peaks keep their areas; the background's dip below the continuum adds only a little.
  for (const TruePeak& p : peaks) {
    double net = 0;
    for (int ch = static_cast<int>(p.position - 3 * p.fwhm); ch <= p.position + 3 * p.fwhm; ++ch)
      net += s_.sp[ch];
    EXPECT_TRUE(net > 0.97 * p.area && net < 1.2 * p.area) << "peak at " << p.position << ": " << net;
  }
}

TEST_F(Smooth, MoreSmoothingPullsTheBackgroundOutOfATallPeak) {
  testing::FillSpectrum(s_, 1000, {{750, 40000, 10}}, 100, -0.05, &noise_);
  port_.answers = {Apply(false)};
  for (int i = 0; i < 6; ++i) port_.answers.push_back(ChooseRadio(2));
  port_.answers.push_back(ChooseRadio(3));
  ASSERT_TRUE(Run(kSplineBackground));
  const double continuum = testing::ExpectedCount(750, {}, 100, -0.05);
  EXPECT_GT(rec_.curves.front()[750], continuum + 10 * std::sqrt(continuum));
  EXPECT_NEAR(rec_.curves.back()[750], continuum, 3 * std::sqrt(continuum));
}

TEST_F(Smooth, BackgroundNeverLeavesNegativeOrNonNumericCounts) {
  // A flat spectrum is its own background: subtracting it leaves zeros, and nothing else changes.
  for (int ch = 1; ch <= 500; ++ch) s_.sp[ch] = 300;
  s_.b1 = 51, s_.b2 = 450;
  port_.answers = {Apply(true), ChooseRadio(3)};
  ASSERT_TRUE(Run(kSplineBackground));
  for (int ch = 1; ch <= 500; ++ch) EXPECT_NEAR(s_.sp[ch], ch < 51 || ch > 450 ? 300 : 0, 1e-9) << ch;
  // Negative counts and a NaN in the interval.
  testing::FillSpectrum(s_, 300, {{150, 3000, 6}}, 5, 0, &noise_);
  s_.sp[40] = -25, s_.sp[41] = -3, s_.sp[90] = std::nan("");
  port_.answers = {Apply(true), ChooseRadio(1), ChooseRadio(1), ChooseRadio(3)};
  ASSERT_TRUE(SmoothOrBackgroundCommand(kSplineBackground, s_, st_, *work_, port_, {}));  // no view
  for (int ch = 1; ch <= 300; ++ch) ASSERT_TRUE(std::isfinite(s_.sp[ch]) && s_.sp[ch] >= 0) << ch;
}

}  // namespace
}  // namespace orv
