#include "core/measured_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <deque>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/fake_port.h"

namespace orv {
namespace {

using testing::FakePort;

// A spectrum of 2000 channels: a Gaussian peak on a sloping background, optionally with counting
// noise (fixed seeds, so every run sees the same numbers).
struct Spectrum {
  std::vector<double> y = std::vector<double>(2001), e = std::vector<double>(2001);
  Spectrum(double centre, double fwhm, double height, double level, double slope, bool noise) {
    RandomGenerator g;
    const double s = fwhm / 2.354820045;
    for (int c = 1; c <= 2000; ++c) {
      double v = level + slope * (c - 1000) + height * std::exp(-0.5 * std::pow((c - centre) / s, 2));
      if (noise) v += std::sqrt(v) * RandomNormalPair(g).first;
      y[c] = v, e[c] = std::sqrt(std::fabs(v) + 1);
    }
  }
  ModelSource Source(double smallStatistics = 7) const { return {y.data(), e.data(), 2000, smallStatistics}; }
};

struct Fixture {
  std::unique_ptr<SplineWork> spline = std::make_unique<SplineWork>();
  std::unique_ptr<MeasuredModelWork> work = std::make_unique<MeasuredModelWork>();
  FakePort port;
  Fixture() { port.yes = false; }  // questions are answered No once the queued answers run out
  bool Prepare(const ModelSource& source, int left, int right, int edge, bool positive = true) {
    return PrepareMeasuredModel({left, right, edge, 1.0}, positive, source, *spline, *work, port);
  }
  bool Build(TPeakModel& m) { return BuildMeasuredModel(m, *spline, *work, port); }
};

TEST(MeasuredModel, IntervalLengthLimits) {
  Fixture f;
  const Spectrum wide(1000, 300, 20000, 100, 0, false), narrow(1000, 3, 20000, 100, 0, false);
  EXPECT_TRUE(f.Prepare(narrow.Source(), 996, 1004, 1));
  EXPECT_EQ(f.work->count, 9 * 20);
  EXPECT_TRUE(f.Prepare(wide.Source(), 488, 1511, 1));
  EXPECT_EQ(std::tuple(f.work->count, f.work->refinement), std::tuple(1024, 1));
  const std::string few = "Error, lack of points (<9) for model",
                    outside = "Error, model bounds outside the spectrum",
                    tooLong = "Model interval too long, use compression to make < 1024";
  for (auto [left, right, message] : {std::tuple{996, 1003, few},
                                      {488, 1512, tooLong},
                                      {-5, 20, outside},
                                      {1990, 2010, outside},
                                      {INT_MIN, INT_MAX, tooLong}}) {
    f.port.messages.clear();
    EXPECT_FALSE(f.Prepare((left == 996 ? narrow : wide).Source(), left, right, 1)) << left;
    EXPECT_EQ(f.port.messages, std::vector<std::string>{message}) << left;
  }
  EXPECT_TRUE(f.port.questions.empty());
}

TEST(MeasuredModel, EdgeBackgroundAndRefinement) {
  Fixture f;
  // The peak tails are negligible at the edges, so the edge line is the background itself.
  const Spectrum s(1000, 10, 5000, 200, 0.5, false);
  ASSERT_TRUE(f.Prepare(s.Source(), 950, 1049, 3));
  ASSERT_EQ(f.work->count, 100);  // trunc(180/100) = 1: no refinement
  for (int j = 1; j <= 100; ++j) EXPECT_NEAR(f.work->background[j], 200 + 0.5 * (949 + j - 1000), 1e-6) << j;
  EXPECT_NEAR(f.work->net[51], 5000, 1e-6);
  // No edge channels: nothing is subtracted.
  ASSERT_TRUE(f.Prepare(s.Source(), 950, 1049, 0));
  for (int j = 1; j <= 100; ++j) {
    ASSERT_EQ(f.work->background[j], 0);
    ASSERT_EQ(f.work->net[j], s.y[949 + j]);
    ASSERT_EQ(f.spline->input[j], s.y[949 + j]);  // the smoothing gives the net peak back unchanged
  }
  // A 20-channel peak is refined 9-fold; every ninth point is an original channel.
  ASSERT_TRUE(f.Prepare(s.Source(), 990, 1009, 1));
  EXPECT_EQ(f.work->refinement, 9);
  ASSERT_EQ(f.work->count, 180);
  for (int j = 1; j <= 20; ++j) EXPECT_NEAR(f.work->net[9 * j], s.y[989 + j] - f.work->background[j], 1e-9);
  // Edge channels beyond the peak length are held to it.
  EXPECT_TRUE(f.Prepare(s.Source(), 990, 1009, 50));
}

TEST(MeasuredModel, EstimateEdgeChannels) {
  std::vector<double> y(40, 100.0), e(40, 10.0);  // a flat run
  EXPECT_EQ(EstimateEdgeChannels(y.data(), e.data(), 5, 30), 3);
  y[7] = 160;  // two channels inside the left bound: more than two combined errors away
  EXPECT_EQ(EstimateEdgeChannels(y.data(), e.data(), 5, 30), 2);
  y[29] = 40;  // next to the right bound
  EXPECT_EQ(EstimateEdgeChannels(y.data(), e.data(), 5, 30), 1);
  EXPECT_EQ(EstimateEdgeChannels(y.data(), e.data(), 10, 11), 2);  // never reads past the other bound
}

double TableArea(const TPeakModel& m) {
  double sum = 0;
  for (int k = 1; k <= 96; ++k) sum += std::fabs(m.samples[2 * k - 1]) + 2 * std::fabs(m.samples[2 * k]);
  return (m.range / 96) * (2.0 / 3.0) * sum;
}

double Value(const TPeakModel& m, double u) {
  double v, d1, d2;
  m.Evaluate(u, v, d1, d2);
  return v;
}

TEST(MeasuredModel, GaussianPeakGivesTheGaussModel) {
  const TPeakModel gauss;
  for (bool noise : {false, true}) {
    Fixture f;
    const Spectrum s(1000.4, 12, 3000, 300, -0.8, noise);
    TPeakModel m;
    ASSERT_TRUE(f.Prepare(s.Source(), 960, 1040, 3));
    ASSERT_TRUE(f.Build(m));
    EXPECT_EQ(std::tuple(m.kind, m.halfCount), std::tuple(0, 96));
    EXPECT_NEAR(TableArea(m), 1, 1e-9);
    // The table is centred on its highest point, which may sit a little off the true centre; the mean of
    // the two sides cancels such a shift to first order.
    auto even = [&](double u) { return (Value(m, u) + Value(m, -u)) / 2; };
    EXPECT_NEAR(2 * even(0.5) / Value(m, 0), 1, 0.02);
    const double top = Value(gauss, 0);
    for (double u : {0.0, 0.2, 0.45, 0.8, 1.2}) {
      EXPECT_NEAR(even(u), Value(gauss, u), 0.025 * top) << "u=" << u << " noise=" << noise;
    }
    EXPECT_TRUE(f.port.messages.empty());
  }
}

TEST(MeasuredModel, PositiveModelHasNoNegativeSamples) {
  Fixture f;
  // The edge line runs above the true background at the right, so the net peak dips below zero.
  Spectrum s(1000, 10, 2000, 100, 0, true);
  for (int c = 1025; c <= 1030; ++c) s.y[c] += 300;
  TPeakModel m;
  ASSERT_TRUE(f.Prepare(s.Source(), 970, 1030, 3));
  for (int j = 1; j <= f.work->count; ++j) ASSERT_GE(f.work->net[j], 0) << j;
  ASSERT_TRUE(f.Build(m));
  for (int i = 1; i <= kPeakModelSamples; ++i) ASSERT_GE(m.samples[i], 0) << i;
  EXPECT_EQ(std::tuple(m.samples[1], m.samples[kPeakModelSamples]), std::tuple(0.0, 0.0));
  // Not positive: the dip is kept and the model is double-signed.
  m.positive = false;
  ASSERT_TRUE(f.Prepare(s.Source(), 970, 1030, 3, false));
  bool negative = false;
  for (int j = 1; j <= f.work->count; ++j) negative |= f.work->net[j] < 0;
  EXPECT_TRUE(negative);
  ASSERT_TRUE(f.Build(m));
  EXPECT_EQ(m.kind, -1);
}

TEST(MeasuredModel, QuestionsOnLowStatisticsAndBadData) {
  Fixture f;
  const Spectrum weak(1000, 10, 15, 0, 0, false);
  EXPECT_FALSE(f.Prepare(weak.Source(), 970, 1030, 1));
  ASSERT_EQ(f.port.questions, std::vector<std::string>{"Low ststistics for the model 15\n Still proceed?"});
  f.port.yesNoAnswers = {true};
  EXPECT_TRUE(f.Prepare(weak.Source(), 970, 1030, 1));
  EXPECT_TRUE(f.Prepare(weak.Source(2), 970, 1030, 1));
  EXPECT_EQ(f.port.questions.size(), 2u);  // 15 > 3 × 2: no question
  // A ramp has its maximum at the end: bad data.
  std::vector<double> ramp(101), e(101, 1.0);
  for (int c = 1; c <= 100; ++c) ramp[c] = 100 + 10 * c;
  const ModelSource source{ramp.data(), e.data(), 100, 7};
  f.port.questions.clear();
  EXPECT_FALSE(f.Prepare(source, 10, 60, 0));
  EXPECT_EQ(f.port.questions, std::vector<std::string>{"Bad data for peak model.\nStill proceed?"});
  EXPECT_EQ(f.port.messages, std::vector<std::string>{"Wrong data for real model"});
  f.port.yesNoAnswers = {true};
  ASSERT_TRUE(f.Prepare(source, 10, 60, 0));
  EXPECT_EQ(std::tuple(f.spline->output[1], f.spline->output[f.work->count]), std::tuple(0.0, 0.0));
  // A zero peak, taken on both questions, is refused and the model kept.
  std::fill(ramp.begin(), ramp.end(), 0.0);
  f.port.yesNoAnswers = {true, true};
  f.port.messages.clear();
  ASSERT_TRUE(f.Prepare(source, 10, 60, 1));
  TPeakModel m;
  EXPECT_FALSE(f.Build(m));
  EXPECT_EQ(f.port.messages, std::vector<std::string>{"Error, zero-valued peak model"});
  EXPECT_TRUE(m.samples == TPeakModel().samples && m.kind == 1);
}

TEST(MeasuredModelCommand, DialogsSmoothingLoopReportAndFailures) {
  Fixture f;
  const Spectrum s(1000, 12, 3000, 300, -0.8, true);
  TPeakModel m;
  MeasuredModelSettings settings;
  FakePort sink;
  auto run = [&](MeasuredPeakView view = {}) {
    return FormRealPeakModelCommand(m, settings, s.Source(), 958, 1041, *f.spline, *f.work, f.port, &sink,
                                    view);
  };
  auto answer = [&](std::string left, std::string right, std::string edge = "1") {
    f.port.fallback = [=](DialogRequest& r) {
      if (!r.grid) return false;  // the smoothing loop cancelled
      r.grid->cells[0][0] = left, r.grid->cells[1][0] = right, r.grid->cells[2][0] = edge;
      return true;
    };
    return run();
  };
  EXPECT_FALSE(answer("990", "997"));  // 8 channels
  EXPECT_FALSE(answer("990", "abc"));
  EXPECT_EQ(f.port.messages,
            (std::vector<std::string>{"Error, lack of points (<9) for model", "Error, not a number"}));
  f.port.fallback = [](DialogRequest&) { return false; };
  EXPECT_FALSE(run());
  EXPECT_TRUE(m.samples == TPeakModel().samples && m.kind == 1 && sink.lines.empty());
  // Cancelling the smoothing loop keeps the curve and still builds the model.
  EXPECT_TRUE(answer("985", "1015"));
  EXPECT_TRUE(m.kind == 0 && sink.lines.size() == 1u);

  std::deque<int> choices = {1, 1, 2, 3};  // less, less, more, quit
  answer("1040", "960", "3.4");            // bounds typed in reverse order
  f.port.fallback = [&, grid = f.port.fallback](DialogRequest& r) {
    if (r.grid) return grid(r);
    r.radio1->chosen = choices.front();
    choices.pop_front();
    return true;
  };
  std::vector<double> lambdas;
  sink.lines.clear();
  ASSERT_TRUE(run([&](const double*, const double*, int count, DialogRequest&) {
    EXPECT_EQ(count, 162);  // 81 channels refined twofold
    lambdas.push_back(f.work->lambda);
  }));
  EXPECT_EQ(std::tuple(settings.modelLeft, settings.modelRight, settings.edgeChannels),
            std::tuple(960, 1040, 3));
  ASSERT_EQ(lambdas.size(), 4u);
  for (int k : {1, 2, 3})
    EXPECT_NEAR(lambdas[k], lambdas[0] * (k == 2 ? 2.25 : 1.5), 1e-12 * lambdas[0]) << k;
  EXPECT_TRUE(m.kind == 0 && m.positive);
  EXPECT_NEAR(TableArea(m), 1, 1e-9);
  EXPECT_EQ(sink.lines, std::vector<std::string>{"Real peak model is formed    960   1040 bkg=  3"});
}

}  // namespace
}  // namespace orv
