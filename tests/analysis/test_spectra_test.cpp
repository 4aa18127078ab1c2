#include "analysis/test_spectra.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "tests/support/fake_port.h"
#include "tests/support/text_file.h"
#include "tests/support/workspace_test.h"

namespace orv {
namespace {

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
  std::vector<std::string> OutputLines() { return testing::ReadLines(dir_ / "a.res"); }
  FakePort port;
};

TEST_F(SimulationAndTestSpectra, SimulationFillsChannelsAndListsPeaks) {
  TSpectrum& s = ws_->spectrum;
  s.fileName = "old.spc", ws_->state.scaleMode = 2;
  s.sp[1025] = 77;  // outside the simulated range: kept
  SimulateCommand(*ws_, 20261207, port);
  EXPECT_EQ(std::tuple(s.a1, s.b1, s.a2, s.b2, ws_->state.intervalFirst, ws_->state.intervalLast, s.fileName,
                       ws_->state.scaleMode, s.sp[1025], s.minValue),
            std::tuple(1, 1, 1024, 1024, 1, 1024, std::string(), 0, 77.0, 0.0));
  double largest = 0, sum = 0;
  for (int i = 1; i <= 1024; ++i) {
    ASSERT_GE(s.sp[i], 0) << i;
    EXPECT_DOUBLE_EQ(s.err[i], std::sqrt(s.sp[i] + 1)) << i;
    largest = std::max(largest, s.sp[i]);
    sum += s.sp[i];
  }
  EXPECT_EQ(s.maxValue, largest);
  const auto lines = OutputLines();
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(lines[1], "Peaks are simulated (pos, area, width)");
  // Each line: position, the true area (height · 4 sqrt(π / ln 2)) and the true FWHM 8 (half width 4).
  std::vector<double> position, height;
  for (int k = 2; k < 12; ++k) {
    ASSERT_EQ(lines[k].size(), 30u) << lines[k];
    EXPECT_EQ(lines[k].substr(20), "      8.00");
    position.push_back(std::stod(lines[k].substr(0, 10)));
    height.push_back(std::stod(lines[k].substr(10, 10)) / (4 * std::sqrt(M_PI / std::log(2.0))));
    EXPECT_TRUE(position.back() >= 21.0 && position.back() < 21.0 + 1023 * 0.95) << lines[k];
    EXPECT_TRUE(height.back() >= 200.0 && height.back() < 1200.0) << lines[k];
  }
  // Removing the listed peaks leaves a nearly flat background.
  double residualSum = 0, residualSquares = 0;
  for (int i = 1; i <= 1024; ++i) {
    double r = s.sp[i];
    for (size_t k = 0; k < position.size(); ++k)
      r -= height[k] * std::exp(-std::log(2.0) * std::pow((i - position[k]) / 4.0, 2));
    residualSum += r;
    residualSquares += r * r;
  }
  const double mean = residualSum / 1024, spread = std::sqrt(residualSquares / 1024 - mean * mean);
  EXPECT_TRUE(mean > -5.0 && mean < 300 + 10.24 + 5.0) << mean;
  EXPECT_LT(spread, 1.5 * std::sqrt(sum / 1024) + 6);
  EXPECT_TRUE(port.messages.empty());
  // The generator is seeded from the clock argument alone, whatever its history.
  const std::vector<double> first(s.sp.begin(), s.sp.begin() + 1025);
  for (int i = 0; i < 5; ++i) RandomUniform(ws_->random);
  SimulateCommand(*ws_, 20261207, port);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), s.sp.begin()));
  SimulateCommand(*ws_, 43, port);
  EXPECT_FALSE(std::equal(first.begin(), first.end(), s.sp.begin()));
}

TEST(TestSpectraData, TextMustHoldExactlyTheChannelCount) {
  TestSpectrumRecord r{"c", "n", 3, 1, 1, 1, 1, 1, 0.01, 512, 3, "* comment 9 9\n1, 2\n3\n"};
  EXPECT_EQ(TestSpectrumCounts(r), (std::vector<double>{0, 1, 2, 3}));
  for (const char* text : {"1 2\n", "1 2 3 4\n"}) {
    r.text = text;
    EXPECT_TRUE(TestSpectrumCounts(r).empty()) << text;
  }
}

TEST_F(SimulationAndTestSpectra, EachTestSpectrumLoadsWithItsSettings) {
  struct Expected {
    const char* name;
    int channels;
    double low, high, covar;
  };
  const Expected table[] = {{"raa.spc", 3600, 318, 3290859, 0.025},
                            {"negr.spc", 820, 1, 18603, 0.01},
                            {"front.spc", 3493, 0, 2165, 0.02},
                            {"euu.spc", 1605, 121, 43556, 0.01},
                            {"bpeak.spc", 1024, 487, 2919, 0.01}};
  AnalysisState& st = ws_->state;
  TSpectrum& s = ws_->spectrum;
  for (int k = 1; k <= 5; ++k) {
    const Expected& e = table[k - 1];
    SCOPED_TRACE(e.name);
    st.resultCount = 7, st.markedCount = 4, st.energyCalibrated = st.efficiencyCalibrated = true;
    s.sp[e.channels + 1] = -5;  // beyond the loaded channels: nothing of the old spectrum stays
    const double kw0 = st.kw0, kw1 = st.kw1;
    FakePort choice;
    choice.answers = {ChooseRadio(k)};
    ASSERT_TRUE(TestSpectraCommand(*ws_, choice));
    EXPECT_TRUE(choice.questions.empty());  // nothing unsaved
    EXPECT_EQ(s.fileName, e.name);
    EXPECT_EQ(
        std::tuple(s.a1, s.b1, s.a2, s.b2, st.intervalLast, s.maxValue, s.minValue, s.sp[e.channels + 1]),
        std::tuple(1, 1, e.channels, e.channels, e.channels, e.high, 0.0, 0.0));
    EXPECT_EQ(std::tuple(st.kw0, st.kw1), std::tuple(kw0, kw1));  // the width law stays as it was
    EXPECT_EQ(std::tuple(st.resultCount, st.markedCount, st.energyCalibrated, st.efficiencyCalibrated,
                         st.resultsUnsaved),
              std::tuple(0, 0, false, false, false));
    // The counting-statistics deviations with the record's coefficient replace sqrt(count + 1).
    for (int i : {1, e.channels / 2, e.channels}) {
      const double v = s.sp[i];
      EXPECT_DOUBLE_EQ(s.err[i], std::sqrt(std::fabs(0.9 * v + 0.1 * std::pow(e.covar * v, 2)) + 0.1));
    }
    auto [low, high] = std::minmax_element(s.sp.begin() + 1, s.sp.begin() + e.channels + 1);
    EXPECT_EQ(std::tuple(*low, *high), std::tuple(e.low, e.high));
    EXPECT_TRUE(std::all_of(s.sp.begin() + 1, s.sp.begin() + e.channels + 1,
                            [](double v) { return v == std::floor(v); }));  // counts are whole
  }
  EXPECT_EQ(OutputLines().size(), 1u);  // the model was Gauss throughout: nothing written
}

TEST_F(SimulationAndTestSpectra, UnsavedResultsAreConfirmedAndCancelChangesNothing) {
  AnalysisState& st = ws_->state;
  st.resultsUnsaved = true, st.resultCount = 3, ws_->spectrum.fileName = "mine.spc";
  auto state = [&] {
    return std::tuple(st.resultsUnsaved, st.resultCount, ws_->spectrum.fileName, st.maxInterval);
  };
  const auto before = state();
  port.okCancel = false;
  EXPECT_FALSE(TestSpectraCommand(*ws_, port));
  EXPECT_EQ(port.questions, std::vector<std::string>{"Previous fit results not saved"});
  EXPECT_TRUE(port.dialogs.empty());
  EXPECT_EQ(state(), before);
  // OK, then Cancel in the choice dialog: still nothing changes.
  port.okCancel = true;  // no dialog answer queued: Cancel
  EXPECT_FALSE(TestSpectraCommand(*ws_, port));
  EXPECT_EQ(port.dialogs.size(), 1u);
  EXPECT_EQ(state(), before);
  port.answers = {ChooseRadio(5)};
  EXPECT_TRUE(TestSpectraCommand(*ws_, port));
  EXPECT_EQ(port.questions.size(), 3u);
  EXPECT_EQ(state(), std::tuple(false, 0, std::string("bpeak.spc"), 1024));
}

TEST_F(SimulationAndTestSpectra, OtherPeakModelIsReplacedByGauss) {
  const TPeakModel gauss;
  TPeakModel& model = ws_->model();
  model.kind = 3;  // IAEA
  ASSERT_TRUE(model.BuildModel());
  ws_->state.reportLines[0] = "before", port.fallback = ChooseRadio(2);
  ASSERT_TRUE(TestSpectraCommand(*ws_, port));
  EXPECT_EQ(model.kind, 1);
  EXPECT_EQ(model.samples, gauss.samples);
  EXPECT_EQ(ws_->state.reportLines[0], "The Gauss peak model is restored.");
  EXPECT_EQ(OutputLines(), (std::vector<std::string>{"earlier line", "The Gauss peak model is restored."}));
  // Already Gauss: no word about the model.
  ws_->state.reportLines[0] = "before";
  ASSERT_TRUE(TestSpectraCommand(*ws_, port));
  EXPECT_EQ(ws_->state.reportLines[0], "before");
  EXPECT_EQ(OutputLines().size(), 2u);
  EXPECT_TRUE(port.statuses.empty() && port.messages.empty());
}

}  // namespace
}  // namespace orv
