#include "analysis/info_views.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fake_port.h"
#include "tests/support/text_file.h"
#include "tests/support/workspace_test.h"

namespace orv {
namespace {

using testing::FakePort;

class InfoViews : public testing::WorkspaceTest {
 protected:
  InfoViews() : WorkspaceTest("orv_views_") {}
  void AddRow(ResultRow row) { ws_->results[++ws_->state.resultCount] = row; }
  void Calibrate() {
    AnalysisState& st = ws_->state;
    st.energyCalibrated = st.efficiencyCalibrated = true;
    st.energyItemCount = st.efficiencyItemCount = 2;
    st.calibrationMode = 0;
    ws_->calibration.energyItems[1] = {50, 100, 0};
    ws_->calibration.energyItems[2] = {100, 200, 0};
    ws_->calibration.efficiencyItems[1] = {0.5, 10, 0};
    ws_->calibration.efficiencyItems[2] = {0.5, 1000, 0};
  }
  static FakePort::Answer PressSaveTwice() {
    return [](DialogRequest& r) {
      r.onSave(r);
      r.onSave(r);
      return true;
    };
  }
  FakePort port;
};

TEST_F(InfoViews, ResultLinesWithAndWithoutCalibration) {
  AddRow({100.5, 0.2, 1000, 30, 3.25, 0.1, 12.5, 250});
  AddRow({150, 0.4, 2000, 50, 3.5, 0.2, 8, 300});
  ShowResultTableView(*ws_, port);
  Calibrate();
  ShowResultTableView(*ws_, port);
  ASSERT_EQ(port.shown.size(), 2u);
  const auto& plain = port.shown[0].listBox->lines;
  EXPECT_EQ(plain.size(), 4u);
  EXPECT_EQ(plain[0], " Peak   1   100.50  100.50       1000           1000       3.25        12.50");
  EXPECT_EQ(plain[1], " Errors       0.20    0.20         30             30       0.10       250.00");
  // Channel 100 is 50 keV, channel 200 is 100 keV; every coefficient is 0.5.
  EXPECT_EQ(port.shown[1].listBox->lines[1],
            " Errors       0.20    0.10         30             60       0.10       250.00");
  // Every field ends under the last letter of its caption.
  const std::string& header = port.shown[0].listBox->header;
  for (const char* caption : {"Channel", "Energy", "Area", "Intensity", "Width", "Crit/Bckg"}) {
    const std::size_t end = header.find(caption) + std::string(caption).size() - 1;
    for (const std::string& line : plain) {
      EXPECT_NE(line[end], ' ') << caption << " | " << line;
      EXPECT_TRUE(end + 1 == line.size() || line[end + 1] == ' ') << caption << " | " << line;
    }
  }

  for (int k = 3; k <= 700; ++k) AddRow({double(k), 0.1, 100, 10, 3, 0.1, 5, 20});
  ShowResultTableView(*ws_, port);
  EXPECT_EQ(port.shown[2].listBox->lines.size(), 1300u);  // at most 650 rows
}

TEST_F(InfoViews, SaveWritesOnceAndMarksSaved) {
  AddRow({100.5, 0.2, 1000, 30, 3.25, 0.1, 12.5, 250});
  ws_->state.resultsUnsaved = true;
  ws_->state.reportLines[0] = "old report";
  // Without an open output file nothing is written, so nothing counts as saved.
  port.answers.push_back(PressSaveTwice());
  ShowResultTableView(*ws_, port);
  EXPECT_TRUE(ws_->state.resultsUnsaved);
  EXPECT_EQ(ws_->state.reportLines[0], "");

  ASSERT_TRUE(ws_->output.Create((dir_ / "a.res").string()));
  port.answers.push_back(PressSaveTwice());
  ShowResultTableView(*ws_, port);
  EXPECT_FALSE(ws_->state.resultsUnsaved);
  EXPECT_EQ(ws_->state.reportLines[0], "Results saved");
  EXPECT_EQ(testing::ReadLines(ws_->output.path()),
            (std::vector<std::string>{"   Result Table", port.shown.back().listBox->lines[0],
                                      port.shown.back().listBox->lines[1]}));
}

TEST_F(InfoViews, EmptyViewsOnlyTellSoAndNameList) {
  ShowResultTableView(*ws_, port);
  ShowNameListView(*ws_, port);
  ShowMarkingView(*ws_, port);
  EXPECT_EQ(port.messages, (std::vector<std::string>{" No fitted peaks", "No spectrum names in the list",
                                                     "No marked intervals"}));
  EXPECT_TRUE(port.shown.empty());
  ws_->names.names[1] = "a.spe";
  ws_->names.names[2] = "b.spe";
  ws_->state.nameCount = 2;
  ShowNameListView(*ws_, port);
  EXPECT_EQ(port.shown.at(0).listBox->lines, (std::vector<std::string>{"a.spe", "b.spe"}));
}

TEST_F(InfoViews, MarkingWithAndWithoutEnergies) {
  Marking& m = ws_->marking;
  m.peakList[1] = 112.5;
  m.peakList[2] = 118;
  m.peakList[3] = 150;
  m.intervalTable[1] = {100, 130, 1, 2};
  m.intervalTable[2] = {140, 160, 3, 3};
  m.intervalTable[3] = {170, 180, 4, 3};  // no peaks
  m.intervalCount = m.peakCount = 3;
  ShowMarkingView(*ws_, port);
  Calibrate();
  ShowMarkingView(*ws_, port);
  ASSERT_EQ(port.shown.size(), 2u);
  EXPECT_EQ(port.shown[0].caption, "Marking data    3 intervals    3 peaks ");
  EXPECT_EQ(port.shown[0].listBox->lines,
            (std::vector<std::string>{"   1:     100 -     130     2 peak(s)", "            112.50",
                                      "            118.00", "   2:     140 -     160     1 peak(s)",
                                      "            150.00", "   3:     170 -     180     0 peak(s)"}));
  EXPECT_EQ(port.shown[1].listBox->lines[1], "            112.50  ( E= 56.25)");
}

}  // namespace
}  // namespace orv
