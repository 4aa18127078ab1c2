#include "analysis/output_sections.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "analysis/workspace.h"
#include "tests/support/fake_port.h"
#include "tests/support/text_file.h"
#include "tests/support/workspace_test.h"

namespace orv {
namespace {

using testing::FakePort;
using Strings = std::vector<std::string>;

class OutputSections : public testing::WorkspaceTest {
 protected:
  OutputSections() : WorkspaceTest("orv_output_sections_") {}
  void SetUp() override {
    WorkspaceTest::SetUp();
    ASSERT_TRUE(CreateOutputFile(*ws_, port));
    Workspace& ws = *ws_;
    ws.spectrum.fileName = "/data/run/sample.spc", ws.spectrum.b1 = 2, ws.spectrum.b2 = 4095;
    ws.spectrum.width1 = 4.0, ws.spectrum.width2 = 6.0, ws.state.usedBackgroundDegree = 2;
    ws.state.sensitivity = ws.state.resolution = 1.0, ws.model().kind = 1;
  }
  // Three fitted peaks; the one at channel 1.2 is nearest to the default normalising channel 1.
  void FillResults() {
    ws_->results[1] = {100.0, 0.05, 1234.56, 40.2, 4.1, 0.02, 25.3, 500.4};
    ws_->results[2] = {250.5, 0.12, 1.0, 3.0, 4.2, 0.03, 0.5, 800.0};
    ws_->results[3] = {1.2, 0.01, 20000.0, 150.0, 4.0, 0.01, 90.12, 1500.0};
    ws_->state.resultCount = ws_->state.markedCount = 3, ws_->state.resultsUnsaved = true;
  }
  Strings FileLines() const { return testing::ReadLines(ws_->output.path()); }
  FakePort port;
};

TEST_F(OutputSections, SummaryTableNormalisedToTheNearestPeak) {
  FillResults();
  ASSERT_TRUE(WriteSummaryTable(*ws_, ws_->state.normCoefficient));
  EXPECT_FALSE(ws_->state.resultsUnsaved);
  EXPECT_EQ(FileLines(),
            (Strings{"", "               SUMMARY TABLE.", "File             = /data/run/sample.spc",
                     "Number of peaks  =   3  Peak model type  = Gauss",
                     "Peak_norm, chan. =      20000.0    1.00", "Sens, Res =    1.000    1.00",
                     "Spectrum interval=       2   4095", "Widths, Backgr.  =    4.000   6.000   2", "",
                     "   Channel  Energy     Area     Intensity    Width   Norm.area Crit/Back", "",
                     // 1234.56 rounds to 1235 in the area and intensity columns.
                     "   100.00   100.00     1235          1235     4.10        6.17     25.30",
                     "     0.05     0.05       40            40     0.02        0.21    500.40", "",
                     // A normalised area below 0.01 takes three decimals, its error line too.
                     "   250.50   250.50        1             1     4.20       0.005      0.50",
                     "     0.12     0.12        3             3     0.03       0.015    800.00", "",
                     // The reference peak itself: 100 %, error 100 * sqrt(2) * 150 / 20000.
                     "     1.20     1.20    20000         20000     4.00      100.00     90.12",
                     "     0.01     0.01      150           150     0.01        1.06   1500.00", ""}));
}

TEST_F(OutputSections, SummaryTableVariants) {
  Workspace& ws = *ws_;
  FillResults();
  // Equal distances: the later row is the reference. Row 1 and row 2 are both 75.25 from 175.25.
  ws.results[2].area = 500.0;
  ws.results[2].areaError = 0.0;  // bounded below by 0.1
  ws.state.resultCount = 2;
  ASSERT_TRUE(WriteSummaryTable(ws, 175.25));
  Strings lines = FileLines();
  ASSERT_EQ(lines.size(), 17u);
  EXPECT_EQ(lines[4], "Peak_norm, chan. =        500.0  175.25");
  EXPECT_EQ(lines[14].substr(50, 12), "      100.00");
  EXPECT_EQ(lines[15].substr(50, 12), "        0.02");  // 100 * 500 * 0.1 / 500^2
  // By coefficient: area / coefficient; 0.01 exactly keeps two decimals. LIM shows the background, and
  // a background too wide for its fields widens them, a blank still in front. A value that is no
  // number fills its field with asterisks.
  ws.state.normaliseByCoefficient = ws.state.limFormat = true;
  ws.results[1] = {100.0, 0.05, 1.0, 0.5, 4.1, 0.02, std::nan(""), 500.4};
  ws.results[2] = {250.5, 0.12, 0.5, 0.25, 4.2, 0.03, 0.5, 1e12};
  ASSERT_TRUE(WriteSummaryTable(ws, 100.0));
  lines = FileLines();
  ASSERT_EQ(lines.size(), 2u * 17u);
  EXPECT_EQ(lines[17 + 4], "Ncoef =   100.00");
  EXPECT_EQ(lines[17 + 11], "   100.00   100.00        1           500     4.10        0.01 **********");
  EXPECT_EQ(lines[17 + 14], "   250.50   250.50        0 1000000000000     4.20       0.005      0.50");
  EXPECT_EQ(lines[17 + 15].substr(50), "       0.003 1000000000000.00");
  // Intensities come through the calibrations: a flat efficiency of 4 quarters the areas.
  ws.state.limFormat = false, ws.state.efficiencyCalibrated = true, ws.state.efficiencyItemCount = 2;
  ws.calibration.efficiencyItems[1] = {4.0, 0.0, 0.0};
  ws.calibration.efficiencyItems[2] = {4.0, 10000.0, 0.0};
  ws.results[1].area = 4000.0, ws.results[1].areaError = 80.0;
  ASSERT_TRUE(WriteSummaryTable(ws, 100.0));
  lines = FileLines();
  EXPECT_EQ(lines[34 + 11].substr(18, 23), "     4000          1000");
  EXPECT_EQ(lines[34 + 12].substr(18, 23), "       80            20");
  // Nothing to write: no section, the unsaved mark stays.
  ws.state.resultCount = 0, ws.state.resultsUnsaved = true;
  EXPECT_FALSE(WriteSummaryTable(ws, 1.0));
  EXPECT_EQ(FileLines().size(), 3u * 17u);
  EXPECT_TRUE(ws.state.resultsUnsaved);
}

TEST_F(OutputSections, SaveCommandWritesOnceAndTakesTheSpectrumOffTheList) {
  Workspace& ws = *ws_;
  FillResults();
  ws.results.resultBase = 3, ws.names.names[1] = "/data/run/a.spc";
  ws.names.names[2] = "/data/run/sample.spc", ws.names.names[3] = "/data/run/b.spc", ws.state.nameCount = 3;
  port.answers.push_back([](DialogRequest& r) { return r.checkList->checked[0] = true; });
  SaveFitResultsCommand(ws, port);
  ASSERT_EQ(port.shown.size(), 1u);
  EXPECT_EQ(
      std::tuple(ws.state.limFormat, ws.state.resultCount, ws.state.resultsUnsaved, ws.results.resultBase),
      std::tuple(true, 0, false, 0));
  EXPECT_EQ(ws.state.nameCount, 2);
  EXPECT_EQ(ws.names.names[2], "/data/run/b.spc");
  const Strings written = FileLines();
  ASSERT_EQ(written.size(), 11u + 9u);
  EXPECT_EQ(written[11].substr(27, 14), "           500");  // LIM: the background
  // Saving again writes nothing: the command ends quietly, the table no longer holds the saved rows.
  SaveFitResultsCommand(ws, port);
  EXPECT_EQ(port.shown.size(), 1u);
  EXPECT_TRUE(port.statuses.empty());
  for (int r = 1; r <= 3; ++r) EXPECT_EQ(ws.results[r].area, 0.0);
  EXPECT_FALSE(WriteSummaryTable(ws, 1.0));
  EXPECT_EQ(FileLines().size(), written.size());
  // A new spectrum: nothing marked, nothing fitted.
  ws.state.markedCount = 0;
  SaveFitResultsCommand(ws, port);
  EXPECT_EQ(port.statuses, Strings{"Error! No peaks fitted|"});
  EXPECT_EQ(port.shown.size(), 1u);
}

TEST_F(OutputSections, FailedOrCancelledSaveKeepsTheResults) {
  Workspace& ws = *ws_;
  FillResults();
  ws.names.names[1] = "/data/run/sample.spc", ws.state.nameCount = 1;
  auto expectKept = [&] {
    EXPECT_EQ(
        std::tuple(ws.state.resultCount, ws.state.resultsUnsaved, ws.results[1].area, ws.state.nameCount),
        std::tuple(3, true, 1234.56, 1));
  };
  SaveFitResultsCommand(ws, port);  // no answers: Cancel
  EXPECT_EQ(port.shown.size(), 1u);
  EXPECT_TRUE(FileLines().empty());
  expectKept();
  // A full device, then no output file at all: the message tells why, nothing counts as saved.
  ASSERT_TRUE(ws.output.Create("/dev/full"));
  port.AcceptNext();
  SaveFitResultsCommand(ws, port);
  ASSERT_EQ(port.messages.size(), 1u);
  EXPECT_EQ(port.messages[0].rfind("I/O error", 0), 0u) << port.messages[0];
  expectKept();
  ws.output.Close();
  port.AcceptNext();
  SaveFitResultsCommand(ws, port);
  EXPECT_EQ(port.messages.back(), "Output file is not open");
  expectKept();
}

// The sections are read back by the calibration entry (the scripted runs check that).
TEST_F(OutputSections, CalibrationSections) {
  Workspace& ws = *ws_;
  EXPECT_FALSE(WriteEnergyCalibration(ws, port));
  EXPECT_FALSE(WriteEfficiencyCalibration(ws, port));
  EXPECT_EQ(port.messages, (Strings{"No calibration data", "No calibration data"}));
  EXPECT_TRUE(FileLines().empty());
  ws.state.energyItemCount = 3;
  ws.calibration.energyItems[1] = {121.78, 100.25, 0.05};
  ws.calibration.energyItems[2] = {1408.01, 1170.5, 0.12};
  ws.calibration.energyItems[3] = {-3.5, 2.0, 1.0};
  ASSERT_TRUE(WriteEnergyCalibration(ws, port));
  EXPECT_EQ(FileLines(), (Strings{"*                    Energy calibration data.", "",
                                  "*  Channel    Energy     Error", "    100.25    121.78      0.05",
                                  "   1170.50   1408.01      0.12", "      2.00     -3.50      1.00"}));
  ASSERT_TRUE(ws.output.Create((dir_ / "efficiency.res").string()));
  ws.state.efficiencyItemCount = 2;
  ws.calibration.efficiencyItems[1] = {0.0123457, 121.78, 0.0004321};
  ws.calibration.efficiencyItems[2] = {0.0031, 1408.01, 0.0000123};
  ASSERT_TRUE(WriteEfficiencyCalibration(ws, port));
  EXPECT_EQ(FileLines(),
            (Strings{"*                    Efficiency calibration data.", "",
                     "*   Energy    Coefficient          Error", "    121.78      0.0123457      0.0004321",
                     "   1408.01      0.0031000      0.0000123"}));
  EXPECT_EQ(port.messages.size(), 2u);
}

TEST_F(OutputSections, MarkingInformation) {
  Workspace& ws = *ws_;
  ws.spectrum.deltaWidth = 3.5, ws.spectrum.dback = -3, ws.state.maxInterval = 256;
  ws.state.sensitivity = 0.123456, ws.state.resolution = 1.5, ws.state.kWidth = 2.0, ws.state.adInterv = 2.25;
  ASSERT_TRUE(WriteMarkingInfo(ws, port));
  EXPECT_EQ(FileLines(),
            (Strings{"", "               MARKING INFORMATION", "Spectrum interval =       2   4095",
                     "W0, W1, dW        =      4.00     6.00     3.50", "Background degree =        -3",
                     "Maximum interval  =       256", "Sensitivity       =      0.12346",
                     "Resolution        =      1.50", "kWidth, adInterv  =       2.0      2.2"}));
  EXPECT_EQ(port.statuses, Strings{"Marking Info saved|"});
  ws.output.Close();
  EXPECT_FALSE(WriteMarkingInfo(ws, port));
  EXPECT_EQ(port.messages, Strings{"Output file is not open"});
  EXPECT_EQ(port.statuses.size(), 1u);
}

}  // namespace
}  // namespace orv
