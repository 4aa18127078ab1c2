#include "ui/settings_dialogs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <tuple>

#include "core/dialog.h"
#include "core/numtext.h"
#include "tests/support/fake_port.h"
#include "tests/support/workspace_test.h"

namespace orv {
namespace {

using testing::FakePort;

class SettingsDialogsTest : public testing::WorkspaceTest {
 protected:
  SettingsDialogsTest() : WorkspaceTest("orv_settings_dialogs_") {}

  // Answers the next dialog with OK after typing these texts into the value cells, row by row.
  void Type(std::vector<std::string> cells, std::optional<bool> mark = std::nullopt) {
    port.answers.push_back([fill = testing::FillGrid(cells), mark](DialogRequest& r) {
      if (mark) r.checkList->checked[0] = *mark;
      return fill(r);
    });
  }

  FakePort port;
};

TEST_F(SettingsDialogsTest, GraphScale) {
  AnalysisState& st = ws_->state;
  st.scaleMode = 2;
  st.pointStyle = 1;
  st.graphFittedErrors = true;
  port.answers.push_back(testing::Refuse());
  EXPECT_FALSE(GraphScaleCommand(*ws_, port));
  EXPECT_TRUE(st.graphFittedErrors);

  port.answers.push_back([](DialogRequest& d) {
    d.radio1->chosen = 4;
    d.radio2->chosen = 3;
    d.edit->text = " 0,25 ";
    d.checkList->checked = {false, true, true, true};
    return true;
  });
  EXPECT_TRUE(GraphScaleCommand(*ws_, port));
  EXPECT_EQ(std::tuple(st.scaleMode, st.pointStyle, st.trimmingCoefficient), std::tuple(3, 2, 0.25));
  EXPECT_EQ(std::tuple(st.graphFittedErrors, st.xScaleLogarithmic, st.longReflectionIndicators),
            std::tuple(false, true, true));

  // A refused coefficient ends the command as Cancel: nothing is stored.
  port.answers.push_back([](DialogRequest& d) {
    d.radio1->chosen = 1;
    d.edit->text = "half";
    return true;
  });
  EXPECT_FALSE(GraphScaleCommand(*ws_, port));
  EXPECT_EQ(std::tuple(st.scaleMode, st.trimmingCoefficient), std::tuple(3, 0.25));
}

TEST_F(SettingsDialogsTest, FormSizes) {
  AnalysisState& st = ws_->state;
  st.screenScale = 1.0;
  st.fontSize = 8;
  st.russianHelp = true;
  port.AcceptNext();
  EXPECT_TRUE(FormSizesCommand(*ws_, port));
  EXPECT_EQ(std::tuple(st.screenScale, st.fontSize), std::tuple(1.25, 12));

  port.answers.push_back([](DialogRequest& d) {
    d.radio1->chosen = 3;
    d.radio2->chosen = 1;
    d.checkList->checked[0] = false;
    return true;
  });
  EXPECT_TRUE(FormSizesCommand(*ws_, port));
  EXPECT_EQ(std::tuple(st.screenScale, st.fontSize, st.russianHelp), std::tuple(1.5, 8, false));

  EXPECT_FALSE(FormSizesCommand(*ws_, port));  // Cancel
  EXPECT_DOUBLE_EQ(st.screenScale, 1.5);
}

TEST_F(SettingsDialogsTest, InfoAboutSpectrumPresetsAndStoringRules) {
  TSpectrum& s = ws_->spectrum;
  AnalysisState& st = ws_->state;
  s.sp[10] = 100;
  Type({"0", "20000", "-7", "30000", "2.4", "6.5", "0", "12", "1.5", "0.1", "0.1", "2"});
  ASSERT_TRUE(InfoAboutSpectrumCommand(*ws_, port));
  // An interval beginning below the spectrum begins at its beginning + 1.
  EXPECT_EQ(std::tuple(s.a1, s.a2, s.b1, s.b2, st.intervalLength), std::tuple(1, 16384, 2, 16383, 16382));
  EXPECT_EQ(std::tuple(s.fileType, st.smallStatistics, s.width2), std::tuple(2, 6, 0.25));
  EXPECT_DOUBLE_EQ(s.err[10], std::sqrt(90.1));  // deviations follow the new covar
  EXPECT_DOUBLE_EQ(s.err[16384], std::sqrt(0.1));

  // An end typed before the beginning swaps the pair; unreadable types become the nearest one.
  // The last rows are the file's times; a negative time is no time.
  Type({"5000", "100", "200", "300", "12", "7", "0.01", "10", "1.25", "4", "6", "3.5", "300.5", "-1"});
  ASSERT_TRUE(InfoAboutSpectrumCommand(*ws_, port));
  EXPECT_EQ(std::tuple(s.a1, s.a2, s.b1, s.fileType), std::tuple(100, 5000, 200, 9));
  EXPECT_EQ(std::tuple(s.measurement.liveTime, s.measurement.realTime), std::tuple(300.5, 0.0));

  // A refused cell stores nothing.
  const TSpectrum before = ws_->spectrum;
  const double covar = ws_->state.covar;
  Type({"10", "100", "20", "90", "1", "7", "0.5", "10", "1.25", "4", "abc", "3.5"});
  EXPECT_FALSE(InfoAboutSpectrumCommand(*ws_, port));
  EXPECT_EQ(std::tuple(ws_->spectrum.a1, ws_->spectrum.b1, ws_->spectrum.width1),
            std::tuple(before.a1, before.b1, before.width1));
  EXPECT_EQ(ws_->state.covar, covar);
  EXPECT_EQ(ws_->spectrum.err, before.err);
}

TEST_F(SettingsDialogsTest, FittingData) {
  AnalysisState& st = ws_->state;
  TSpectrum& s = ws_->spectrum;
  st.normCoefficient = 662;
  Type({"0.001", "0.0005", "7.5", "-0.5", "0.02", "-5", "3", "2.5", "1332"});
  ASSERT_TRUE(FittingDataDialog(*ws_, port));
  // dback -3: the highest degree the data may choose; the mark chooses the peak channel row.
  EXPECT_EQ(std::tuple(s.deltaWidthVariable, st.iterationLimit, s.dback, st.positionDeviation),
            std::tuple(0.0005, 8, -3, 3));
  EXPECT_EQ(std::tuple(st.normCoefficient, st.normaliseByCoefficient), std::tuple(1332.0, false));

  Type({"0", "0", "100000", "0.99", "0.01", "1.5", "5", "2.5", "1332"}, false);
  ASSERT_TRUE(FittingDataDialog(*ws_, port));
  EXPECT_EQ(st.iterationLimit, kMaxIterationLimit);  // a fit that has not converged by then never will
  EXPECT_EQ(port.messages.back(), "Warning, the iteration limit 100000 is cut to 1000");
  EXPECT_EQ(std::tuple(s.dback, st.normCoefficient, st.normaliseByCoefficient), std::tuple(-2, 2.5, true));

  Type({"0", "0", "x", "0.99", "0.01", "1", "5", "7", "7"}, true);
  EXPECT_FALSE(FittingDataDialog(*ws_, port));
  EXPECT_FALSE(port.shown.at(2).checkList->checked[0]);  // dividing by the coefficient: no mark
  EXPECT_EQ(std::tuple(s.dback, st.normaliseByCoefficient), std::tuple(-2, true));
}

TEST_F(SettingsDialogsTest, WidthDependenceReport) {
  TSpectrum& s = ws_->spectrum;
  // One channel: no division by zero; a slope whose division leaves rounding noise: six digits.
  for (auto [b1, b2, w1, w2, line] : {std::tuple{100, 300, 4.0, 6.0, "   W(chan) = 0.01 * chan + 3"},
                                      {100, 100, 4.0, 4.5, "   W(chan) = 0 * chan + 4"},
                                      {37, 1041, 1.7, 3.1, "   W(chan) = 0.00139442 * chan + 1.64841"}}) {
    std::tie(s.b1, s.b2, s.width1, s.width2) = std::tie(b1, b2, w1, w2);
    WidthDependenceCommand(*ws_);
    EXPECT_EQ(ws_->state.reportLines[0], line);
  }
}

TEST_F(SettingsDialogsTest, AssignSpectrumName) {
  EXPECT_FALSE(AssignSpectrumNameCommand(*ws_, port));
  EXPECT_EQ(port.messages, std::vector<std::string>{"No items in the name list"});
  EXPECT_TRUE(port.shown.empty());

  const std::string first = (dir_ / "first.spc").string();
  const std::string second = (dir_ / "second.txt").string();
  std::ofstream(second) << "1 2 3 40 3 2 1 0\n";
  AnalysisState& st = ws_->state;
  ws_->names.names[1] = first;  // never written: cannot be read
  ws_->names.names[2] = second;
  st.nameCount = 2;
  ws_->spectrum.fileType = 3;

  // Default conditions: read at once with the current type and options.
  port.answers.push_back([](DialogRequest& r) {
    r.combo->chosen = 2;
    r.checkList->checked[0] = true;
    return true;
  });
  port.AcceptNext();
  ASSERT_TRUE(AssignSpectrumNameCommand(*ws_, port));
  EXPECT_EQ(ws_->spectrum.fileName, second);
  EXPECT_EQ(ws_->spectrum.sp[4], 40);

  // An unreadable choice leaves the current spectrum and its name alone.
  port.answers.push_back([](DialogRequest& r) { return r.checkList->checked[0] = true; });
  EXPECT_FALSE(AssignSpectrumNameCommand(*ws_, port));
  EXPECT_EQ(ws_->spectrum.fileName, second);

  // Without the mark the input dialog asks, its file selection starting at the chosen name.
  port.answers.push_back([](DialogRequest& r) { return (r.combo->chosen = 2) > 0; });
  port.files.push_back(second);
  port.answers.push_back(testing::ChooseRadio(3));
  port.AcceptNext();
  ASSERT_TRUE(AssignSpectrumNameCommand(*ws_, port));
  EXPECT_EQ(port.fileRequests.back().initialName, second);

  // A name of a file that shows its format is read in it, under default conditions too.
  std::ofstream(first) << "$DATA:\n0 2\n5 60 5\n";
  port.answers.push_back([](DialogRequest& r) {
    r.combo->chosen = 1;
    return r.checkList->checked[0] = true;
  });
  port.AcceptNext();
  ASSERT_TRUE(AssignSpectrumNameCommand(*ws_, port));
  EXPECT_EQ(std::tuple(ws_->spectrum.fileType, ws_->spectrum.a2, ws_->spectrum.sp[2]),
            std::tuple(5, 3, 60.0));
}

}  // namespace
}  // namespace orv
