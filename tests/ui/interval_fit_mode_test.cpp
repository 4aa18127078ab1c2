#include "ui/interval_fit_mode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>
#include <tuple>

#include "analysis/marking_modes.h"
#include "analysis/test_spectra.h"
#include "core/numtext.h"
#include "graphics/graphs.h"
#include "tests/support/fake_port.h"
#include "tests/support/recording_canvas.h"
#include "tests/support/synthetic.h"
#include "tests/support/text_file.h"
#include "tests/support/workspace_test.h"

namespace orv {
namespace {

using testing::ChooseRadio;
using testing::FakePort;
using testing::FillGrid;
using testing::FillSpectrum;

// Loads built-in test spectrum `k` and marks it automatically.
void LoadAndMark(Workspace& ws, int k) {
  FakePort port;
  port.answers = {ChooseRadio(k)};
  ASSERT_TRUE(TestSpectraCommand(ws, port));
  ws.state.markingMode = 0;
  port.AcceptNext();
  ASSERT_TRUE(MarkSpectrum(ws, port));
  ASSERT_GE(ws.marking.intervalCount, 1);
}

class IntervalFitModeTest : public testing::WorkspaceTest {
 protected:
  IntervalFitModeTest() : WorkspaceTest("orv_ifit_") {}

  // Two peaks 300 and 312 (FWHM 5) on 200 counts, a spike at 285, one marked peak at 300.
  void SyntheticDoublet() {
    TSpectrum& s = ws_->spectrum;
    FillSpectrum(s, 1024, {{300, 20000, 5}, {312, 12000, 5}}, 200, 0, nullptr);
    std::tie(s.sp[285], s.err[285], s.deltaWidth) = std::tuple(2000.0, std::sqrt(2000.0), 1.0);
    std::tie(ws_->state.kw0, ws_->state.kw1) = std::pair(5.0, 0.0);
    Marking& mk = ws_->marking;
    std::tie(mk.kw0, mk.kw1, mk.compr, mk.peakCount, mk.peakList[1]) = std::tuple(5.0, 0.0, 1, 1, 300.0);
    mk.intervalCount = 1;
    mk.intervalTable[1] = {270, 340, 1, 1};
  }

  FakePort port_;
};

TEST_F(IntervalFitModeTest, WalkWithNextPreviousAndContinue) {
  Workspace& ws = *ws_;
  LoadAndMark(ws, 2);
  ASSERT_GT(ws.marking.intervalCount, 2);

  ASSERT_TRUE(CreateOutputFile(ws, port_));
  IntervalFitSession session(ws, port_);
  ASSERT_TRUE(session.Start());
  EXPECT_FALSE(session.Previous());
  int steps = 1;
  while (session.Next()) ++steps;
  EXPECT_EQ(steps, ws.marking.intervalCount);
  EXPECT_FALSE(session.NextEnabled());
  EXPECT_EQ(port_.prompts.back(), "  Fitting finished. Save the results. ");
  ASSERT_EQ(ws.state.resultCount, ws.marking.peakCount);  // equal to the batch fit: see the window test

  // Without a calibration the energy column of the grid is the channel.
  const std::vector<FitGridRow>& grid = session.Grid();
  ASSERT_EQ(static_cast<int>(grid.size()), 1 + 2 * ws.fit.n);
  EXPECT_EQ(grid[1][1], grid[1][2]);

  // Previous refits the interval before into its own rows: nothing is appended.
  const int rows = ws.state.resultCount;
  const MarkInterval before = ws.marking.intervalTable[ws.marking.intervalCount - 1];
  const double channel = ws.results[before.firstPeak].channel;
  ASSERT_TRUE(session.Previous());
  EXPECT_EQ(ws.state.resultCount, rows);
  EXPECT_NEAR(ws.results[before.firstPeak].channel, channel, 0.05);

  // "Continue Fit" starts again from the current interval with a "New Fitting" line.
  ASSERT_TRUE(session.Continue());
  EXPECT_EQ(ws.state.currentInterval, ws.marking.intervalCount - 1);
  ws.output.Close();
  const auto out = testing::ReadLines(dir_ / ws.state.outputFileName);
  EXPECT_EQ(std::count(out.begin(), out.end(), "New Fitting"), 2);
}

TEST_F(IntervalFitModeTest, BroadPeaksStartFromTheWidthLawInChannels) {
  Workspace& ws = *ws_;
  LoadAndMark(ws, 5);
  const Marking& mk = ws.marking;
  // The search compressed the spectrum: its working law is far narrower than the peaks.
  ASSERT_GT(mk.compr, 4);
  IntervalFitSession session(ws, port_);
  ASSERT_TRUE(session.Start());
  const IntervalFitState& fs = ws.fit;
  const double centre = (fs.startChannel + fs.endChannel) / 2.0;
  EXPECT_DOUBLE_EQ(fs.wInt, ws.state.kw0 + ws.state.kw1 * centre);
  EXPECT_NEAR(fs.wInt, (mk.kw0 + mk.kw1 * centre) * mk.compr, 1e-6);
  EXPECT_GT(fs.wInt, 60);
  ASSERT_TRUE(fs.fitDone);
  for (int k = fs.firstPeak; k <= fs.lastPeak; ++k)
    EXPECT_TRUE(ws.results[k].width > 50 && ws.results[k].width < 110) << ws.results[k].width;
}

TEST_F(IntervalFitModeTest, CorrectionsChangeTheFit) {
  Workspace& ws = *ws_;
  SyntheticDoublet();
  IntervalFitSession session(ws, port_);
  testing::RecordingCanvas fitGraph(kFitSurfaceWidth, kFitSurfaceHeight);
  session.fitCanvas = &fitGraph;
  ASSERT_TRUE(session.Start());
  ASSERT_EQ(ws.state.resultCount, 1);
  EXPECT_EQ(fitGraph.primitives.at(fitGraph.primitives.size() - 1).text,
            "INT.= 270 -340  1 peak(s)  DB=" + std::to_string(ws.fit.backgroundDegree));
  EXPECT_TRUE(session.GraphSinglePeaks(fitGraph));

  EXPECT_FALSE(session.Click(300));  // nothing waits for a click yet
  EXPECT_EQ(ws.state.usedBackgroundDegree, ws.fit.backgroundDegree);
  ASSERT_TRUE(session.Correct(FitCorrection::kBackground));
  // The summary shows what the fits used.
  EXPECT_EQ(std::pair(ws.fit.backgroundDegree, ws.state.usedBackgroundDegree), std::pair(3, 3));

  // The blunder: the spike becomes the mean of its neighbours and the fit improves.
  const double chiBefore = ws.engine.chi2;
  port_.answers = {ChooseRadio(3)};  // the empty row corrects blunders too
  ASSERT_TRUE(session.Change());
  EXPECT_EQ(session.WaitingFor(), FitClickMode::kBlunder);
  ASSERT_TRUE(session.Click(285));
  EXPECT_DOUBLE_EQ(ws.spectrum.sp[285], (ws.spectrum.sp[284] + ws.spectrum.sp[286]) / 2);
  // The corrected count has the deviation of the mean it now is, not the spike's.
  EXPECT_DOUBLE_EQ(ws.spectrum.err[285], std::hypot(ws.spectrum.err[284], ws.spectrum.err[286]) / 2);
  EXPECT_EQ(session.WaitingFor(), FitClickMode::kNone);
  EXPECT_LT(ws.engine.chi2, chiBefore);

  // New bounds undo the blunder corrections inside.
  port_.answers = {FillGrid({"280", "330.4"})};
  ASSERT_TRUE(session.Correct(FitCorrection::kBounds));
  EXPECT_EQ(std::tuple(ws.spectrum.sp[285], ws.spectrum.err[285]), std::tuple(2000.0, std::sqrt(2000.0)));
  EXPECT_EQ(std::tuple(ws.fit.startChannel, ws.marking.intervalTable[1].endChannel), std::tuple(280, 330));
  EXPECT_EQ(ws.fit.backgroundDegree, 3);
  // Bounds outside the spectrum or reversed are refused; the interval stays.
  port_.answers = {FillGrid({"400", "390"})};
  EXPECT_FALSE(session.Correct(FitCorrection::kBounds));
  EXPECT_EQ(ws.fit.startChannel, 280);
  EXPECT_TRUE(ws.fit.fitDone);

  // A new peak by click: marked, the interval refitted with both, one row more.
  ASSERT_TRUE(session.Correct(FitCorrection::kNewPeak));
  EXPECT_FALSE(session.Click(500));  // outside the interval: refused, still waiting
  EXPECT_EQ(session.WaitingFor(), FitClickMode::kNewPeak);
  ASSERT_TRUE(session.Click(311));
  ASSERT_EQ(ws.state.resultCount, 2);
  EXPECT_TRUE(std::abs(ws.results[2].channel - 312) < 0.1 && std::abs(ws.results[2].area - 12000) < 300);

  // Deleting the peak nearest to the click: one peak and one row again.
  port_.answers = {ChooseRadio(7)};
  ASSERT_TRUE(session.Change());
  ASSERT_EQ(session.WaitingFor(), FitClickMode::kDeletePeak);
  ASSERT_TRUE(session.Click(309));
  EXPECT_EQ(std::pair(ws.marking.peakList[1], ws.state.resultCount), std::pair(300.0, 1));
}

TEST_F(IntervalFitModeTest, WarningsFailuresAndBadMarkings) {
  Workspace& ws = *ws_;
  AnalysisState& st = ws.state;
  IntervalFitSession session(ws, port_);
  // No marking.
  EXPECT_FALSE(session.Start());
  EXPECT_EQ(port_.messages.back(), "No marking data");

  // A width law too narrow for the peaks holds the width on its bound.
  SyntheticDoublet();
  st.kw0 = 3;
  ws.spectrum.deltaWidth = 0.5;
  ASSERT_TRUE(session.Start());
  EXPECT_EQ(session.Warnings(), std::vector<std::string>{"Peak width on the boundary"});

  // Intervals without peaks or too long: reported; unsaved results stay unsaved.
  Marking& mk = ws.marking;
  mk.intervalCount = 3;
  mk.intervalTable[2] = {400, 420, 5, 6};
  mk.intervalTable[3] = {100, 900, 1, 1};
  st.currentInterval = 2;
  st.resultsUnsaved = true;
  ASSERT_TRUE(session.Continue());
  EXPECT_EQ(port_.messages.back(), "Error, no peaks in 400 420");
  EXPECT_TRUE(st.resultsUnsaved);
  ASSERT_TRUE(session.Next());
  EXPECT_EQ(port_.statuses.back(), "Error, too long interval 100 900|");
  // Without a fit shown there is no picture to save and no single peak to draw.
  testing::RecordingCanvas canvas(kFitSurfaceWidth, kFitSurfaceHeight);
  const size_t dialogs = port_.shown.size();
  EXPECT_FALSE(session.FitToBitmap(canvas));
  EXPECT_FALSE(session.GraphSinglePeaks(canvas));
  EXPECT_EQ(port_.shown.size(), dialogs);
  st.resultsUnsaved = false;
  st.currentInterval = 3;
  ASSERT_TRUE(session.Continue());
  EXPECT_FALSE(st.resultsUnsaved);

  // A current interval beyond the table is clamped; rows past the capacity share the last one.
  mk.intervalCount = 1;
  st.currentInterval = 7;
  ws.results.resultBase = ResultTable::resultCapacity;
  ASSERT_TRUE(session.Continue());
  EXPECT_EQ(std::tuple(st.currentInterval, port_.messages.back(), st.resultCount),
            std::tuple(1, "Error, too many peaks in the table", ResultTable::resultCapacity));
  EXPECT_NEAR(ws.results[ResultTable::resultCapacity].channel, 300, 0.5);

  // "Interval  Fit" asks before it overwrites unsaved results; Cancel leaves everything.
  port_.okCancel = false;
  EXPECT_FALSE(session.Command());
  EXPECT_EQ(port_.questions.back(), "Previous fit results not saved");
  EXPECT_EQ(st.currentInterval, 1);
}

}  // namespace
}  // namespace orv
