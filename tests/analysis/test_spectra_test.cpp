#include "analysis/test_spectra.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "tests/support/fake_port.h"
#include "tests/support/workspace_test.h"

namespace orv {
namespace {

namespace fs = std::filesystem;

using testing::ChooseRadio;
using testing::FakePort;

class SimulationAndTestSpectra : public testing::WorkspaceTest {
 protected:
  SimulationAndTestSpectra() : WorkspaceTest("orv_testspectra_") {}
  void SetUp() override {
    WorkspaceTest::SetUp();
    ASSERT_TRUE(ws_->output.Create((dir_ / "a.res").string()));
    ASSERT_TRUE(ws_->output.WriteLine("earlier line"));
  }
  std::vector<std::string> OutputLines() {
    std::ifstream in(dir_ / "a.res");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
};

TEST_F(SimulationAndTestSpectra, SimulationFillsChannelsAndListsPeaks) {
  TSpectrum& s = ws_->spectrum;
  s.fileName = "old.spc";
  ws_->state.scaleMode = 2;
  s.sp[1025] = 77;  // outside the simulated range: kept
  FakePort port;
  SimulateCommand(*ws_, 20261207, port);

  EXPECT_EQ(s.a1, 1);
  EXPECT_EQ(s.b1, 1);
  EXPECT_EQ(s.a2, 1024);
  EXPECT_EQ(s.b2, 1024);
  EXPECT_EQ(ws_->state.intervalFirst, 1);
  EXPECT_EQ(ws_->state.intervalLast, 1024);
  EXPECT_EQ(s.fileName, "");
  EXPECT_EQ(ws_->state.scaleMode, 0);
  EXPECT_EQ(s.sp[1025], 77);
  double largest = 0, sum = 0;
  for (int i = 1; i <= 1024; ++i) {
    ASSERT_GE(s.sp[i], 0) << i;
    EXPECT_DOUBLE_EQ(s.err[i], std::sqrt(s.sp[i] + 1)) << i;
    largest = std::max(largest, s.sp[i]);
    sum += s.sp[i];
  }
  EXPECT_EQ(s.maxValue, largest);
  EXPECT_EQ(s.minValue, 0);

  auto lines = OutputLines();
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(lines[1], "Peaks are simulated (pos, area, width)");
  std::vector<double> position, height;
  for (int k = 2; k < 12; ++k) {
    ASSERT_EQ(lines[k].size(), 30u) << lines[k];
    // The true FWHM (twice the half width of 4) and the true area, which is the height times
    // 4 sqrt(pi / ln 2); a report of the height or of 2 * 4 * sqrt(ln 2) would mislead a fit check.
    EXPECT_EQ(lines[k].substr(20), "      8.00");
    position.push_back(std::stod(lines[k].substr(0, 10)));
    height.push_back(std::stod(lines[k].substr(10, 10)) / (4 * std::sqrt(M_PI / std::log(2.0))));
    EXPECT_GE(position.back(), 21.0);
    EXPECT_LT(position.back(), 21.0 + 1023 * 0.95);
    EXPECT_GE(height.back(), 200.0);
    EXPECT_LT(height.back(), 1200.0);
  }
  // Each listed peak stands where the list says: the counts there carry most of its height.
  for (size_t k = 0; k < position.size(); ++k) {
    const int c = static_cast<int>(std::lround(position[k]));
    const double top = (s.sp[c - 1] + s.sp[c] + s.sp[c + 1]) / 3;
    EXPECT_GT(top, 0.8 * height[k]) << position[k];
  }
  // Removing the listed peaks (half width 4 at half maximum) leaves a nearly flat background with
  // counting noise: a wrong shape or a misplaced peak would leave hundreds of counts behind.
  double residualSum = 0, residualSquares = 0;
  for (int i = 1; i <= 1024; ++i) {
    double r = s.sp[i];
    for (size_t k = 0; k < position.size(); ++k) {
      const double u = std::sqrt(std::log(2.0)) * (i - position[k]) / 4.0;
      r -= height[k] * std::exp(-u * u);
    }
    residualSum += r;
    residualSquares += r * r;
  }
  const double mean = residualSum / 1024;
  const double spread = std::sqrt(residualSquares / 1024 - mean * mean);
  EXPECT_GT(mean, -5.0);
  EXPECT_LT(mean, 300 + 10.24 + 5.0);
  EXPECT_LT(spread, 1.5 * std::sqrt(sum / 1024) + 6);
  EXPECT_TRUE(port.messages.empty());
}

TEST_F(SimulationAndTestSpectra, SimulationIsReseededFromTheClockArgument) {
  FakePort port;
  SimulateCommand(*ws_, 42, port);
  const std::vector<double> first(ws_->spectrum.sp.begin(), ws_->spectrum.sp.begin() + 1025);
  for (int i = 0; i < 5; ++i) RandomUniform(ws_->random);  // the generator's history does not matter
  SimulateCommand(*ws_, 42, port);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), ws_->spectrum.sp.begin()));
  SimulateCommand(*ws_, 43, port);
  EXPECT_FALSE(std::equal(first.begin(), first.end(), ws_->spectrum.sp.begin()));
  EXPECT_EQ(OutputLines().size(), 1u + 3 * 11);
}

TEST(TestSpectraData, TextMustHoldExactlyTheChannelCount) {
  TestSpectrumRecord r{"c", "n", 3, 1, 1, 1, 1, 1, 0.01, 512, 3, "* comment 9 9\n1, 2\n3\n"};
  EXPECT_EQ(TestSpectrumCounts(r), (std::vector<double>{0, 1, 2, 3}));
  r.text = "1 2\n";
  EXPECT_TRUE(TestSpectrumCounts(r).empty());
  r.text = "1 2 3 4\n";
  EXPECT_TRUE(TestSpectrumCounts(r).empty());
}

TEST_F(SimulationAndTestSpectra, EachTestSpectrumLoadsWithItsSettings) {
  struct Expected {
    const char *caption, *name;
    int channels;
    double low, high, width1, width2, deltaWidth, sensitivity, resolution, covar;
    int maxInterval, dback;
  };
  const Expected table[] = {
      {"Set Raa Spectrum", "raa.spc", 3600, 318, 3290859, 1.5, 3.0, 2.5, 5.0, 5.0, 0.025, 512, 3},
      {"Set Negray Spectrum", "negr.spc", 820, 1, 18603, 3.0, 4.0, 2.0, 2.0, 3.0, 0.01, 512, 3},
      {"Set Front Spectrum", "front.spc", 3493, 0, 2165, 4.0, 5.0, 1.0, 1.5, 1.0, 0.02, 512, 3},
      {"Set Euu Spectrum", "euu.spc", 1605, 121, 43556, 4.0, 7.0, 2.5, 2.0, 3.0, 0.01, 512, 3},
      {"Set Broad Peak Spectrum", "bpeak.spc", 1024, 487, 2919, 79.5, 80.5, 20.0, 1.0, 1.0, 0.01, 1024, 1}};
  for (int k = 1; k <= 5; ++k) {
    const Expected& e = table[k - 1];
    AnalysisState& st = ws_->state;
    TSpectrum& s = ws_->spectrum;
    st.resultCount = 7;
    st.markedCount = 4;
    st.energyCalibrated = st.efficiencyCalibrated = true;
    s.sp[e.channels + 1] = -5;  // beyond the loaded channels: kept
    const double kw0 = st.kw0, kw1 = st.kw1;
    FakePort port;
    port.answers = {ChooseRadio(k)};
    ASSERT_TRUE(TestSpectraCommand(*ws_, port)) << k;

    ASSERT_EQ(port.dialogs.size(), 1u);
    const DialogRequest& d = port.dialogs[0];
    EXPECT_EQ(d.caption, "Set Test Spectra");
    ASSERT_TRUE(d.radio1.has_value());
    ASSERT_EQ(d.radio1->items.size(), 5u);
    EXPECT_EQ(d.radio1->items[k - 1], e.caption);
    EXPECT_EQ(d.radio1->chosen, k);
    EXPECT_TRUE(port.questions.empty());  // nothing unsaved

    EXPECT_EQ(s.fileName, e.name);
    EXPECT_EQ(std::tuple(s.a1, s.b1, s.a2, s.b2, st.intervalLast),
              std::tuple(1, 1, e.channels, e.channels, e.channels));
    EXPECT_EQ(std::tuple(s.maxValue, s.minValue), std::tuple(e.high, 0.0));
    EXPECT_EQ(std::tuple(s.width1, s.width2, s.deltaWidth, st.sensitivity, st.resolution, st.covar),
              std::tuple(e.width1, e.width2, e.deltaWidth, e.sensitivity, e.resolution, e.covar));
    EXPECT_EQ(std::tuple(st.maxInterval, s.dback), std::tuple(e.maxInterval, e.dback));
    EXPECT_EQ(std::tuple(st.kw0, st.kw1), std::tuple(kw0, kw1));  // the width law stays as it was
    EXPECT_EQ(std::tuple(st.resultCount, st.markedCount, st.energyCalibrated, st.efficiencyCalibrated,
                         st.resultsUnsaved),
              std::tuple(0, 0, false, false, false));
    EXPECT_EQ(s.sp[e.channels + 1], -5);
    // The counting-statistics deviations with the record's coefficient replace sqrt(count + 1).
    for (int i : {1, e.channels / 2, e.channels}) {
      const double v = s.sp[i];
      EXPECT_DOUBLE_EQ(s.err[i], std::sqrt(std::fabs(0.9 * v + 0.1 * std::pow(e.covar * v, 2)) + 0.1));
    }
    auto [low, high] = std::minmax_element(s.sp.begin() + 1, s.sp.begin() + e.channels + 1);
    EXPECT_EQ(*low, e.low);
    EXPECT_EQ(*high, e.high);
    EXPECT_TRUE(std::all_of(s.sp.begin() + 1, s.sp.begin() + e.channels + 1,
                            [](double v) { return v == std::floor(v); }));  // counts are whole
  }
  EXPECT_EQ(OutputLines().size(), 1u);  // the model was Gauss throughout: nothing written
}

TEST_F(SimulationAndTestSpectra, UnsavedResultsAreConfirmedAndCancelChangesNothing) {
  TSpectrum& s = ws_->spectrum;
  AnalysisState& st = ws_->state;
  st.resultsUnsaved = true;
  st.resultCount = 3;
  s.fileName = "mine.spc";
  FakePort port;
  port.okCancel = false;
  EXPECT_FALSE(TestSpectraCommand(*ws_, port));
  ASSERT_EQ(port.questions.size(), 1u);
  EXPECT_EQ(port.questions[0], "Previous fit results not saved");
  EXPECT_TRUE(port.dialogs.empty());
  EXPECT_TRUE(st.resultsUnsaved);
  EXPECT_EQ(st.resultCount, 3);
  EXPECT_EQ(s.fileName, "mine.spc");

  // OK, then Cancel in the choice dialog: still nothing changes.
  port.okCancel = true;  // no dialog answer queued: Cancel
  EXPECT_FALSE(TestSpectraCommand(*ws_, port));
  EXPECT_EQ(port.dialogs.size(), 1u);
  EXPECT_TRUE(st.resultsUnsaved);
  EXPECT_EQ(st.resultCount, 3);
  EXPECT_EQ(st.maxInterval, 256);
  EXPECT_EQ(s.fileName, "mine.spc");

  port.answers = {ChooseRadio(5)};
  EXPECT_TRUE(TestSpectraCommand(*ws_, port));
  EXPECT_EQ(port.questions.size(), 3u);
  EXPECT_FALSE(st.resultsUnsaved);
  EXPECT_EQ(st.resultCount, 0);
  EXPECT_EQ(s.fileName, "bpeak.spc");
}

TEST_F(SimulationAndTestSpectra, OtherPeakModelIsReplacedByGauss) {
  const TPeakModel gauss;
  TPeakModel& model = ws_->model();
  model.kind = 3;  // IAEA
  ASSERT_TRUE(model.BuildModel());
  ASSERT_NE(model.samples, gauss.samples);
  ws_->state.reportLines[0] = "before";
  FakePort port;
  port.fallback = ChooseRadio(2);
  ASSERT_TRUE(TestSpectraCommand(*ws_, port));
  EXPECT_EQ(model.kind, 1);
  EXPECT_EQ(model.samples, gauss.samples);
  EXPECT_EQ(ws_->state.reportLines[0], "The Gauss peak model is restored.");
  auto lines = OutputLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "The Gauss peak model is restored.");

  // Already Gauss: no word about the model.
  ws_->state.reportLines[0] = "before";
  ASSERT_TRUE(TestSpectraCommand(*ws_, port));
  EXPECT_EQ(ws_->state.reportLines[0], "before");
  EXPECT_EQ(OutputLines().size(), 2u);
  EXPECT_TRUE(port.statuses.empty());
  EXPECT_TRUE(port.messages.empty());
}

}  // namespace
}  // namespace orv
