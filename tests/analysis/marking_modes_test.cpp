#include "analysis/marking_modes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <tuple>
#include <vector>

#include "analysis/workspace.h"
#include "tests/support/fake_port.h"
#include "tests/support/synthetic.h"

namespace orv {
namespace {

using testing::FakePort;
using testing::FillSpectrum;

class MarkingModesTest : public ::testing::Test {
 protected:
  MarkingModesTest() : ws(std::filesystem::temp_directory_path().string()) { ResetAnalysisState(ws); }
  void Peaks(std::initializer_list<double> positions, double fwhm) {
    ws.marking.peakCount = 0;
    for (double p : positions) ws.marking.peakList[++ws.marking.peakCount] = p;
    ws.marking.kw1 = 0, ws.marking.kw0 = fwhm, ws.marking.compr = 1;
  }
  // Automatic marking of the spectrum without its end channels, with the given width law.
  void AutomaticOver(int channels, double width1, double width2, double deltaWidth) {
    ws.spectrum.b1 = 2, ws.spectrum.b2 = channels - 1, ws.spectrum.width1 = width1;
    ws.spectrum.width2 = width2, ws.spectrum.deltaWidth = deltaWidth, ws.state.markingMode = 0;
  }
  // Each interval as {start, end, firstPeak, lastPeak}.
  std::vector<std::array<int, 4>> Intervals() const {
    std::vector<std::array<int, 4>> v;
    for (int i = 1; i <= ws.marking.intervalCount; ++i) {
      const MarkInterval& t = ws.marking.intervalTable[i];
      v.push_back({t.startChannel, t.endChannel, t.firstPeak, t.lastPeak});
    }
    return v;
  }
  Workspace ws;
  FakePort port;
};
using Table = std::vector<std::array<int, 4>>;

TEST_F(MarkingModesTest, FormIntervalsJoinsSplitsAndBoundsAtMinima) {
  FillSpectrum(ws.spectrum, 2048, {}, 100, 0, nullptr);
  // A close pair shares an interval; an inner bound moves to the lowest neighbouring channel.
  ws.spectrum.sp[524] = 50;
  Peaks({500, 515, 800}, 4);
  FormIntervals(ws, 1, 2048);
  EXPECT_EQ(Intervals(), (Table{{490, 524, 1, 2}, {789, 810, 3, 3}}));
  // A long chain is split at its widest gap; a lone long peak stays whole.
  ws.state.maxInterval = 64;
  Peaks({1000, 1015, 1030, 1048, 1063, 1078}, 4);
  FormIntervals(ws, 1, 2048);
  EXPECT_EQ(Intervals(), (Table{{990, 1040, 1, 3}, {1040, 1088, 4, 6}}));  // widest gap 19: round(9.5) = 10
  Peaks({1000}, 40);
  FormIntervals(ws, 1, 2048);
  ASSERT_EQ(ws.marking.intervalCount, 1);
  EXPECT_GT(ws.marking.intervalTable[1].endChannel - ws.marking.intervalTable[1].startChannel + 1, 64);
  // The peaks are put in order, each in its interval.
  Peaks({300, 100, 200}, 4);
  FormIntervals(ws, 1, 2048);
  EXPECT_EQ(Intervals(),
            (Table{{90, 109, 1, 1}, {189, 209, 2, 2}, {289, 310, 3, 3}}));  // inner bounds at minima
}

TEST_F(MarkingModesTest, ControlDialogRefusesBadValuesOneByOne) {
  port.answers.push_back([](DialogRequest& r) {
    r.grid->cells[0][0] = "-1";    // width at the beginning
    r.grid->cells[1][0] = "7.5";   // width at the end: accepted
    r.grid->cells[2][0] = "-0.5";  // accuracy
    r.grid->cells[3][0] = "0";     // sensitivity
    r.grid->cells[4][0] = "2";     // resolution: as entered
    r.grid->cells[5][0] = "63";    // interval length
    return true;
  });
  ASSERT_TRUE(SetPeakSearchControls(ws, port));
  EXPECT_EQ(std::tuple(ws.spectrum.width1, ws.spectrum.width2, ws.spectrum.deltaWidth, ws.state.sensitivity,
                       ws.state.resolution, ws.state.maxInterval),
            std::tuple(4.0, 7.5, 3.5, 1.0, 2.0, 256));
  EXPECT_EQ(port.messages, (std::vector<std::string>{"Erroneous width", "Erroneous width accuracy",
                                                     "Erroneous sensitivity", "Wrong interval"}));
  port.answers.push_back([](DialogRequest& r) {
    r.grid->cells[5][0] = "4097";
    return true;
  });
  ASSERT_TRUE(SetPeakSearchControls(ws, port));
  EXPECT_EQ(port.messages.back(), "Wrong interval");
  EXPECT_FALSE(SetPeakSearchControls(ws, port));  // Cancel
}

TEST_F(MarkingModesTest, AutomaticAndEnergyMarking) {
  FillSpectrum(ws.spectrum, 2048, {{400, 20000, 5}, {900, 15000, 5.5}, {1500, 30000, 6}}, 150, -0.03,
               nullptr);
  AutomaticOver(2048, 5, 6, 1.5);
  ws.output.Create((std::filesystem::temp_directory_path() / "orv_marking_modes.res").string());
  port.AcceptNext();
  ASSERT_TRUE(MarkSpectrum(ws, port));
  ASSERT_EQ(ws.marking.peakCount, 3);
  EXPECT_NEAR(ws.marking.peakList[2], 900, 1);
  EXPECT_EQ(std::tuple(ws.marking.intervalCount, ws.state.reportLines[0]),
            std::tuple(3, " 3 peak(s) found. "));
  // The search's width law, in channels, is now the law of the analysis.
  EXPECT_NEAR(ws.state.kw0 + ws.state.kw1 * 2, 5, 1e-9);
  // By energies without a calibration: the values are channels, and only intervals that hold one
  // survive, with every peak found in them.
  ws.state.markingMode = 2;
  port.AcceptNext();  // controls
  port.answers.push_back(testing::ChooseRadio(1));
  port.answers.push_back([](DialogRequest& r) {
    r.textArea->lines = {"899.6 5000", "1500.4"};  // 5000 lies outside the interval
    return true;
  });
  ASSERT_TRUE(MarkSpectrum(ws, port));
  EXPECT_EQ(port.messages.back(), "Warning, no previous calibration; energies treated as channels");
  ASSERT_EQ(ws.marking.peakCount, 2);  // each preset merged with the found peak beside it
  EXPECT_NEAR(ws.marking.peakList[1], 900, 1);
  EXPECT_NEAR(ws.marking.peakList[2], 1500, 1);
  EXPECT_EQ(ws.marking.intervalCount, 2);
  // Mode 2 searches before it asks for the energies: a Cancel there, or of the choice before it, leaves
  // the marking, both width laws and the results as they were.
  const Marking before = ws.marking;
  ws.state.kw1 = 0.001, ws.state.kw0 = 6.5, ws.results.resultBase = 4;
  for (bool cancelFirst : {true, false}) {
    ws.state.markingMode = 2;
    port.AcceptNext();  // controls
    if (!cancelFirst) port.answers.push_back(testing::ChooseRadio(1));
    port.answers.push_back(testing::Refuse());
    EXPECT_FALSE(MarkSpectrum(ws, port));
    EXPECT_EQ(FlatMarking(ws.marking), FlatMarking(before));
    EXPECT_EQ(std::tuple(ws.marking.kw1, ws.marking.kw0, ws.marking.compr, ws.state.kw1, ws.state.kw0,
                         ws.results.resultBase, ws.state.reportLines[0]),
              std::tuple(before.kw1, before.kw0, before.compr, 0.001, 6.5, 4, ""));
  }
  // Cancel of the controls clears the status and leaves the marking.
  ws.state.markingMode = 0;
  EXPECT_FALSE(MarkSpectrum(ws, port));
  EXPECT_EQ(std::tuple(ws.state.reportLines[0], ws.marking.peakCount), std::tuple("", 2));
}

// Merging continues until no two peaks are closer than the resolution (at least 1.1 channels), however
// many merges a crowded stretch needs.
TEST_F(MarkingModesTest, PresetMergingLeavesNoPairTooClose) {
  FillSpectrum(ws.spectrum, 1024, {}, 100, 0, nullptr);
  for (double resolution : {1.0, 2.0, -3.0}) {
    for (double spacing : {0.4, 1.0, 1.05}) {
      SCOPED_TRACE(::testing::Message() << "resolution " << resolution << " spacing " << spacing);
      ws.state.resolution = resolution;
      ws.marking.peakCount = 0;
      for (int k = 0; k < 9; ++k) ws.marking.peakList[++ws.marking.peakCount] = 500 + spacing * k;
      ws.marking.peakList[++ws.marking.peakCount] = 700;  // an interval without a preset: removed
      ws.marking.kw1 = 0, ws.marking.kw0 = 4, ws.marking.compr = 1;
      ws.markingInput.count = 1;
      ws.markingInput.points[1] = 502;
      MergePresetPeaks(ws, 2, 1023);
      const double minGap = std::max(std::fabs(resolution), 1.1);
      ASSERT_GE(ws.marking.peakCount, 1);
      EXPECT_LT(ws.marking.peakList[ws.marking.peakCount], 600);
      for (int k = 1; k < ws.marking.peakCount; ++k)
        EXPECT_GE(ws.marking.peakList[k + 1] - ws.marking.peakList[k], minGap) << k;
    }
  }
}

// After a compressed search the width law is in channels again.
TEST_F(MarkingModesTest, CompressedSearchLeavesAChannelWidthLaw) {
  FillSpectrum(ws.spectrum, 4096, {{1000, 200000, 16}, {2500, 150000, 16}}, 300, 0, nullptr);
  AutomaticOver(4096, 16, 16, 3);
  port.AcceptNext();
  ASSERT_TRUE(MarkSpectrum(ws, port));
  EXPECT_EQ(ws.marking.compr, 2);
  EXPECT_NEAR(ws.state.kw0 + ws.state.kw1 * 1000, 16, 1e-9);
  ASSERT_EQ(ws.marking.peakCount, 2);
  for (int i = 1; i <= ws.marking.intervalCount; ++i) {
    const MarkInterval& m = ws.marking.intervalTable[i];
    EXPECT_GE(m.endChannel - m.startChannel, 2 * (2 * 16 + 2) - 2);
  }
}

TEST_F(MarkingModesTest, ManualMarkingAndPeakCheck) {
  FillSpectrum(ws.spectrum, 1024, {{300, 8000, 5}, {700, 6000, 5}}, 100, 0, nullptr);
  ws.state.markingMode = 1;
  port.AcceptNext();
  EXPECT_FALSE(MarkSpectrum(ws, port));
  EXPECT_EQ(port.messages.back(), "No marked points; first, mark the peaks");
  BeginManualMarking(ws, port);
  ManualMarkingClick(ws, port, 298, 2048);  // moves to the top within two channels
  ManualMarkingClick(ws, port, 701, 2048);
  FinishManualMarking(ws);
  EXPECT_EQ(std::tuple(ws.marking.peakList[1], ws.marking.peakList[2]), std::tuple(300.0, 700.0));
  EXPECT_EQ(port.statuses.back(), " Chan=700|N of peaks =2");
  port.AcceptNext();
  ASSERT_TRUE(MarkSpectrum(ws, port));
  EXPECT_EQ(ws.marking.intervalCount, 2);
  // Checking a peak adds a result row, a peak and an interval around it.
  ws.state.resultCount = 0;
  ASSERT_TRUE(CheckPeakAndAdd(ws, port, 301, 1, 1024));
  EXPECT_EQ(std::tuple(ws.state.resultCount, ws.marking.peakCount, ws.marking.intervalCount),
            std::tuple(1, 3, 3));
  EXPECT_NEAR(ws.results[1].channel, 300, 0.2);
  EXPECT_NEAR(ws.results[1].area, 8000, 800);
  EXPECT_GT(ws.results[1].criterion, 3);
  EXPECT_NE(port.questions.back().find("Save to res-table? (Y,No)"), std::string::npos);
  port.yesNoAnswers.push_back(false);
  EXPECT_FALSE(CheckPeakAndAdd(ws, port, 701, 1, 1024));
  EXPECT_EQ(ws.state.resultCount, 1);
}

}  // namespace
}  // namespace orv
