#include "spectrum/smoothing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "tests/support/fake_port.h"
#include "tests/support/synthetic.h"

namespace orv {
namespace {

using testing::ChooseRadio;
using testing::FakePort;
using testing::TruePeak;

// Answers the first dialog with its entry checked (or not).
FakePort::Answer Apply(bool on) {
  return [on](DialogRequest& r) {
    if (r.checkList) r.checkList->checked[0] = on;
    return true;
  };
}
FakePort::Answer Cancel() {
  return [](DialogRequest&) { return false; };
}

// Records every curve drawn: its lambda and a copy of the processed values.
struct Recorder {
  std::vector<double> lambdas;
  std::vector<std::vector<double>> curves;
  SplineCurves last;
  SplineCurveView View() {
    return [this](const SplineCurves& c) {
      lambdas.push_back(c.lambda);
      curves.emplace_back(c.processed, c.processed + c.count + 1);
      last = c;
    };
  }
};

class SmoothFixture : public ::testing::Test {
 protected:
  std::unique_ptr<SplineWork> work_ = std::make_unique<SplineWork>();
  TSpectrum s_;
  AnalysisState st_;
  FakePort port_;
  RandomGenerator noise_;

  bool Run(int mode, const SplineCurveView& view = {}) {
    return SmoothOrBackgroundCommand(mode, s_, st_, *work_, port_, view);
  }
};

using SmoothSpectrum = SmoothFixture;
using SmoothTuningLoop = SmoothFixture;
using SmoothCommandGuards = SmoothFixture;
using BackgroundBuild = SmoothFixture;

const std::vector<TruePeak> kPeaks{{200, 5000, 6}, {400, 3000, 8}, {700, 8000, 10}};

TEST_F(SmoothSpectrum, NoisyCurveComesCloserToTruthAndKeepsPeakAreas) {
  testing::FillSpectrum(s_, 1000, kPeaks, 100, -0.05, &noise_);
  s_.b1 = 101;
  s_.b2 = 900;
  const std::vector<double> before = s_.sp, errors = s_.err;
  port_.answers = {Apply(true), ChooseRadio(3)};
  ASSERT_TRUE(Run(kSplineSmoothing));
  EXPECT_EQ(st_.reportLines[0], "Spectrum smoothed");

  double noisy = 0, smoothed = 0;
  for (int ch = 101; ch <= 900; ++ch) {
    const double truth = testing::ExpectedCount(ch, kPeaks, 100, -0.05);
    noisy += std::pow(before[ch] - truth, 2);
    smoothed += std::pow(s_.sp[ch] - truth, 2);
  }
  EXPECT_LT(smoothed, 0.5 * noisy);
  for (const TruePeak& p : kPeaks) {
    double raw = 0, kept = 0;
    for (int ch = static_cast<int>(p.position - 2 * p.fwhm); ch <= p.position + 2 * p.fwhm; ++ch) {
      raw += before[ch];
      kept += s_.sp[ch];
    }
    EXPECT_NEAR(kept, raw, std::sqrt(raw)) << "peak at " << p.position;
  }
  // The ends of the interval are kept; nothing outside it and no deviation changes.
  EXPECT_DOUBLE_EQ(s_.sp[101], before[101]);
  EXPECT_DOUBLE_EQ(s_.sp[900], before[900]);
  for (int ch : {1, 100, 901, 1000}) EXPECT_EQ(s_.sp[ch], before[ch]);
  EXPECT_EQ(s_.err, errors);
}

TEST_F(SmoothSpectrum, UncheckedEntryOnlyShowsTheCurve) {
  testing::FillSpectrum(s_, 300, {{150, 2000, 6}}, 50, 0, &noise_);
  const std::vector<double> before = s_.sp;
  Recorder rec;
  port_.answers = {Apply(false), ChooseRadio(1), ChooseRadio(3)};
  EXPECT_TRUE(Run(kSplineSmoothing, rec.View()));
  EXPECT_EQ(s_.sp, before);
  EXPECT_EQ(st_.reportLines[0], "");
  EXPECT_EQ(rec.lambdas, (std::vector<double>{1.0, 1.5}));
  // The view sees the interval's counts, its first channel and the fixed vertical scale.
  EXPECT_EQ(rec.last.count, 300);
  EXPECT_EQ(rec.last.firstChannel, 1);
  EXPECT_EQ(rec.last.original[150], before[150]);
  double lo = before[1], hi = before[1];
  for (int ch = 2; ch <= 300; ++ch) lo = std::min(lo, before[ch]), hi = std::max(hi, before[ch]);
  EXPECT_EQ(rec.last.smallest, lo);
  EXPECT_EQ(rec.last.largest, hi);
}

TEST_F(SmoothTuningLoop, LessAndMoreStepLambdaAndTheLastCurveIsApplied) {
  testing::FillSpectrum(s_, 400, {{200, 4000, 8}}, 80, 0, &noise_);
  Recorder rec;
  port_.answers = {Apply(true), ChooseRadio(1), ChooseRadio(1), ChooseRadio(2), ChooseRadio(3)};
  ASSERT_TRUE(Run(kSplineSmoothing, rec.View()));
  EXPECT_EQ(rec.lambdas, (std::vector<double>{1.0, 1.5, 2.25, 1.5}));

  ASSERT_EQ(port_.shown.size(), 5u);
  const DialogRequest& first = port_.shown[0];
  EXPECT_EQ(first.caption, "Smoothing");
  ASSERT_TRUE(first.checkList);
  EXPECT_EQ(first.checkList->items, (std::vector<std::string>{"Replace the spectrum by the smoothed one"}));
  EXPECT_EQ(first.checkList->checked, (std::vector<bool>{false}));
  EXPECT_EQ(first.helpLines.size(), 3u);
  // Every loop dialog offers the three choices, preset to the last one taken.
  const std::vector<int> presets{3, 1, 1, 2};
  for (std::size_t i = 1; i < port_.shown.size(); ++i) {
    const DialogRequest& d = port_.shown[i];
    EXPECT_EQ(d.caption, "Smoothing: less or more");
    EXPECT_EQ(d.left, 90);
    EXPECT_EQ(d.width, 530);
    EXPECT_EQ(d.height, 450);
    ASSERT_TRUE(d.radio1);
    EXPECT_EQ(d.radio1->items, (std::vector<std::string>{" Less smoothing", " More smoothing", " Quit"}));
    EXPECT_EQ(d.radio1->chosen, presets[i - 1]);
    ASSERT_EQ(d.labels.size(), 2u);
    EXPECT_EQ(d.labels[0].text, "Click on Less or More, then on OK");
    EXPECT_EQ(d.labels[1].text, "If the result is good, click on Quit, then on OK");
    EXPECT_EQ(d.labels[1].top, 50);
  }
  for (int ch = 1; ch <= 400; ++ch) EXPECT_EQ(s_.sp[ch], rec.curves.back()[ch]);
  // Less smoothing follows the data more closely.
  double d1 = 0, d2 = 0;
  for (int k = 1; k <= 400; ++k) {
    d1 += std::fabs(rec.curves[0][k] - work_->input[k]);
    d2 += std::fabs(rec.curves[2][k] - work_->input[k]);
  }
  EXPECT_LT(d2, d1);
}

TEST_F(SmoothTuningLoop, CancelInsideAppliesTheLastCurveCancelFirstChangesNothing) {
  testing::FillSpectrum(s_, 400, {{200, 4000, 8}}, 80, 0, &noise_);
  const std::vector<double> before = s_.sp;
  Recorder rec;
  port_.answers = {Cancel()};
  EXPECT_FALSE(Run(kSplineSmoothing, rec.View()));
  EXPECT_EQ(s_.sp, before);
  EXPECT_TRUE(rec.lambdas.empty());
  EXPECT_EQ(port_.shown.size(), 1u);

  port_.answers = {Apply(true), ChooseRadio(2), Cancel()};
  EXPECT_TRUE(Run(kSplineSmoothing, rec.View()));
  EXPECT_EQ(rec.lambdas, (std::vector<double>{1.0, 1.0 / 1.5}));
  for (int ch = 1; ch <= 400; ++ch) EXPECT_EQ(s_.sp[ch], rec.curves.back()[ch]);

  // The loop alone reports how it ended.
  port_.answers = {ChooseRadio(1), Cancel()};
  const SplineTuning t = SplineTuningLoop(*work_, 400, kSplineSmoothing, port_);
  EXPECT_TRUE(t.cancelled);
  EXPECT_EQ(t.steps, 1);
  EXPECT_DOUBLE_EQ(t.lambda, 1.5);
}

TEST_F(SmoothTuningLoop, EndlessSteppingStaysFinite) {
  testing::FillSpectrum(s_, 200, {{100, 3000, 6}}, 40, 0, &noise_);
  for (int choice : {1, 2}) {
    for (int k = 1; k <= 200; ++k) work_->input[k] = s_.sp[k];
    port_.answers.assign(200, ChooseRadio(choice));
    port_.answers.push_back(ChooseRadio(3));
    for (int mode : {kSplineSmoothing, kSplineBackground}) {
      auto answers = port_.answers;
      const SplineTuning t = SplineTuningLoop(*work_, 200, mode, port_);
      port_.answers = answers;
      EXPECT_GE(t.lambda, kSplineLambdaMin);
      EXPECT_LE(t.lambda, kSplineLambdaMax);
      for (int k = 1; k <= 200; ++k) ASSERT_TRUE(std::isfinite(work_->output[k])) << choice << " " << mode;
    }
  }
}

TEST_F(SmoothCommandGuards, ShortOrBadIntervalsAreRefusedWithAMessage) {
  testing::FillSpectrum(s_, 100, {}, 10, 0, &noise_);
  const std::vector<double> before = s_.sp;
  struct Case {
    int b1, b2;
  };
  for (Case c : {Case{10, 14}, Case{10, 10}, Case{20, 10}, Case{0, 50}, Case{1, kSpectrumCapacity + 1},
                 Case{1, kSplineCapacity + 1}}) {
    for (int mode : {kSplineSmoothing, kSplineBackground}) {
      s_.b1 = c.b1;
      s_.b2 = c.b2;
      port_.messages.clear();
      port_.fallback = Apply(true);
      EXPECT_FALSE(Run(mode)) << c.b1 << ".." << c.b2;
      EXPECT_EQ(port_.messages.size(), 1u);
      EXPECT_TRUE(port_.shown.empty());
      EXPECT_EQ(s_.sp, before);
    }
  }
  EXPECT_FALSE(SmoothOrBackgroundCommand(7, s_, st_, *work_, port_));
  EXPECT_FALSE(ProcessSplineCurve(*work_, 5, kSplineSmoothing, 1.0));

  // Six channels are enough.
  s_.b1 = 10;
  s_.b2 = 15;
  port_.answers = {Apply(true), ChooseRadio(3)};
  EXPECT_TRUE(Run(kSplineSmoothing));
  for (int ch = 16; ch <= 100; ++ch) EXPECT_EQ(s_.sp[ch], before[ch]);
}

TEST_F(SmoothCommandGuards, FullLengthIntervalsAtBothEndsOfTheArrays) {
  // 16,384 channels from channel 1 and at the very top of the spectrum arrays.
  for (int first : {1, kSpectrumCapacity - kSplineCapacity + 1}) {
    const int last = first + kSplineCapacity - 1;
    for (int ch = 1; ch <= kSpectrumCapacity; ++ch)
      s_.sp[ch] = testing::ExpectedCount(ch - first + 1, {{8000, 50000, 12}}, 200, 0);
    const std::vector<double> before = s_.sp;
    s_.b1 = first;
    s_.b2 = last;
    for (int mode : {kSplineSmoothing, kSplineBackground}) {
      s_.sp = before;
      port_.answers = {Apply(true), ChooseRadio(2), ChooseRadio(3)};
      ASSERT_TRUE(Run(mode));
      for (int ch = first; ch <= last; ++ch) ASSERT_TRUE(std::isfinite(s_.sp[ch]) && s_.sp[ch] >= 0) << ch;
      for (int ch = 1; ch < first; ++ch) ASSERT_EQ(s_.sp[ch], before[ch]);
      for (int ch = last + 1; ch <= kSpectrumCapacity; ++ch) ASSERT_EQ(s_.sp[ch], before[ch]);
    }
  }
  EXPECT_EQ(SplineCurvePixel(1, 1), 512);
  EXPECT_EQ(SplineCurvePixel(kSplineCapacity, kSplineCapacity), 512);
  EXPECT_EQ(SplineCurvePixel(3, 1024), 2);  // 1.5: halves go to the even neighbour
  EXPECT_EQ(SplineCurvePixel(1, 0), 512);
}

TEST_F(BackgroundBuild, LiesBelowThePeaksAndFollowsTheContinuum) {
  const std::vector<TruePeak> peaks{{200, 20000, 6}, {450, 10000, 8}, {750, 40000, 10}};
  testing::FillSpectrum(s_, 1000, peaks, 1000, -0.5, &noise_);
  const std::vector<double> before = s_.sp;
  Recorder rec;
  port_.answers = {Apply(true), ChooseRadio(3)};
  ASSERT_TRUE(Run(kSplineBackground, rec.View()));
  EXPECT_EQ(st_.reportLines[0], "Background subtracted");
  EXPECT_EQ(port_.shown[0].caption, "Background");
  EXPECT_EQ(port_.shown[0].checkList->items[0], "Subtract the background from the spectrum");
  EXPECT_EQ(port_.shown[0].helpLines.size(), 6u);

  // The filter hugs the lower side of the noise: about two deviations below the continuum, never
  // climbing into a peak.
  const std::vector<double>& bg = rec.curves.back();
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
  EXPECT_LT(highest, 3);
  EXPECT_GT(lowest, -4.5);
  EXPECT_GT(mean, -2.5);
  EXPECT_LT(mean, 0.5);
  // The net peaks keep their areas: the background takes nothing from them, and its dip below the
  // continuum adds only a little.
  for (const TruePeak& p : peaks) {
    double net = 0;
    for (int ch = static_cast<int>(p.position - 3 * p.fwhm); ch <= p.position + 3 * p.fwhm; ++ch)
      net += s_.sp[ch];
    EXPECT_GT(net, 0.97 * p.area) << "peak at " << p.position;
    EXPECT_LT(net, 1.2 * p.area) << "peak at " << p.position;
  }
}

TEST_F(BackgroundBuild, MoreSmoothingPullsTheBackgroundOutOfATallPeak) {
  // On a low continuum the first curve still climbs into the tall peak; more smoothing pulls it down.
  testing::FillSpectrum(s_, 1000, {{750, 40000, 10}}, 100, -0.05, &noise_);
  Recorder rec;
  port_.answers = {Apply(false)};
  for (int i = 0; i < 6; ++i) port_.answers.push_back(ChooseRadio(2));
  port_.answers.push_back(ChooseRadio(3));
  ASSERT_TRUE(Run(kSplineBackground, rec.View()));
  const double continuum = testing::ExpectedCount(750, {}, 100, -0.05);
  EXPECT_GT(rec.curves.front()[750], continuum + 10 * std::sqrt(continuum));
  EXPECT_NEAR(rec.curves.back()[750], continuum, 3 * std::sqrt(continuum));
}

TEST_F(BackgroundBuild, NeverLeavesNegativeOrNonNumericCounts) {
  // A flat spectrum is its own background: subtracting it leaves zeros, and nothing else changes.
  for (int ch = 1; ch <= 500; ++ch) s_.sp[ch] = 300;
  s_.b1 = 51;
  s_.b2 = 450;
  const std::vector<double> before = s_.sp;
  port_.answers = {Apply(true), ChooseRadio(3)};
  ASSERT_TRUE(Run(kSplineBackground));
  for (int ch = 51; ch <= 450; ++ch) EXPECT_NEAR(s_.sp[ch], 0, 1e-9) << ch;
  for (int ch : {1, 50, 451, 500}) EXPECT_EQ(s_.sp[ch], before[ch]);

  // Negative counts and a NaN in the interval.
  testing::FillSpectrum(s_, 300, {{150, 3000, 6}}, 5, 0, &noise_);
  s_.sp[40] = -25;
  s_.sp[41] = -3;
  s_.sp[90] = std::nan("");
  port_.answers = {Apply(true), ChooseRadio(1), ChooseRadio(1), ChooseRadio(3)};
  ASSERT_TRUE(Run(kSplineBackground));
  for (int ch = 1; ch <= 300; ++ch) ASSERT_TRUE(std::isfinite(s_.sp[ch]) && s_.sp[ch] >= 0) << ch;
}

}  // namespace
}  // namespace orv
