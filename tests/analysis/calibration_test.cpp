#include "analysis/calibration.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include "tests/support/fake_port.h"

namespace orv {
namespace {

using testing::FakePort;
using Answer = FakePort::Answer;

// OK on the source dialog with these sources (0-based) checked and, when given, this energy mode.
Answer Sources(std::vector<int> checks, int mode = -1) {
  return [=](DialogRequest& r) {
    for (int c : checks) r.checkList->checked.at(c) = true;
    if (mode >= 0) r.radio1->chosen = mode + 1;
    return true;
  };
}
Answer Type(std::vector<std::string> typed) {
  return [=](DialogRequest& r) {
    r.textArea->lines = typed;
    return true;
  };
}
const Answer kOk = [](DialogRequest&) { return true; };

// Items as {value, argument, error}.
void SetTable(AnalysisState& st, CalibrationTables& cal, int kind, std::vector<CalibrationItem> items,
              int mode = 0) {
  bool energy = kind == kEnergyCalibration;
  (energy ? st.energyItemCount : st.efficiencyItemCount) = static_cast<int>(items.size());
  std::copy(items.begin(), items.end(), (energy ? cal.energyItems : cal.efficiencyItems).begin() + 1);
  (energy ? st.energyCalibrated : st.efficiencyCalibrated) = true;
  if (energy) st.calibrationMode = mode;
  if (energy && mode == 1) FitLinearEnergyCalibration(st, cal);
}

// Items as flat {argument, value, error} triples.
std::vector<double> Flat(const CalibrationList& items, int n) {
  std::vector<double> v;
  for (int i = 1; i <= n; ++i) v.insert(v.end(), {items[i].argument, items[i].value, items[i].error});
  return v;
}

TEST(CalibrationItems, CountChecksAndStableSort) {
  EXPECT_FALSE(IsValidCalibrationItem(0, 0, 0));
  EXPECT_FALSE(IsValidCalibrationItem(-5, 3, 2));  // the sum decides
  EXPECT_TRUE(IsValidCalibrationItem(0, 0, 0.1));
  FakePort port;
  EXPECT_TRUE(CheckCalibrationItemCount(2, port) && CheckCalibrationItemCount(60, port));
  EXPECT_FALSE(CheckCalibrationItemCount(61, port) || CheckCalibrationItemCount(1, port));
  EXPECT_EQ(port.messages,
            (std::vector<std::string>{"Error, number of peaks > 60", "Error, number of peaks < 2"}));
  CalibrationList items{};
  const double args[] = {300, 100, 200, 100, 50};
  for (int i = 1; i <= 5; ++i) items[i] = {double(i), args[i - 1], 0};
  SortCalibrationItems(items, 5);
  EXPECT_EQ(Flat(items, 5), (std::vector<double>{50, 5, 0, 100, 2, 0, 100, 4, 0, 200, 3, 0, 300, 1, 0}));
}

TEST(CalibrationConversion, LinearEnergyKnownAnswers) {
  AnalysisState st;
  CalibrationTables cal;
  // Exact points with unequal errors (E = 0.25 ch + 1): the line passes through each and inverts.
  SetTable(st, cal, kEnergyCalibration, {{126, 500, 0.01}, {351, 1400, 0.5}, {1429.1, 5712.4, 2}}, 1);
  EXPECT_NEAR(EnergyOfChannel(st, cal, 0), 1, 1e-9);
  EXPECT_NEAR(EnergyOfChannel(st, cal, 5712.4), 1429.1, 1e-9);
  EXPECT_LT(FitLinearEnergyCalibration(st, cal), 1e-12);
  for (double e : {10.0, 661.657, 2000.0})
    EXPECT_NEAR(EnergyOfChannel(st, cal, EnergyToChannel(st, cal, e)), e, 1e-9);
  // Points without errors are weighed alike through the floor 0.01: ordinary least squares.
  SetTable(st, cal, kEnergyCalibration, {{10, 0, 0}, {21, 10, 0}, {30, 20, 0}}, 1);
  EXPECT_NEAR(EnergyOfChannel(st, cal, 10), 61.0 / 3, 1e-9);
  EXPECT_NEAR(EnergyOfChannel(st, cal, 0), 61.0 / 3 - 10, 1e-9);
  EXPECT_NEAR(FitLinearEnergyCalibration(st, cal), 1e4 * 6 / 9, 1e-6);
  // All items on one channel: no scale, but no NaN either.
  SetTable(st, cal, kEnergyCalibration, {{50, 100, 0.1}, {60, 100, 0.1}}, 1);
  EXPECT_TRUE(std::isfinite(EnergyOfChannel(st, cal, 120)) && std::isfinite(EnergyToChannel(st, cal, 55)));
}

TEST(CalibrationConversion, ErrorsIntensitiesAndInverse) {
  AnalysisState st;
  CalibrationTables cal;
  CalibratedPeak c = ApplyCalibrations(st, cal, 100.5, 0.2, 1000, 30);
  EXPECT_EQ(std::vector<double>({c.energy, c.energyError, c.intensity, c.intensityError}),
            std::vector<double>({100.5, 0.2, 1000, 30}));
  // Tables flagged but holding one item are never applied.
  SetTable(st, cal, kEnergyCalibration, {{50, 100, 0.1}});
  SetTable(st, cal, kEfficiencyCalibration, {{0.5, 100, 0}});
  c = ApplyCalibrations(st, cal, 100.5, 0.2, 1000, 30);
  EXPECT_EQ(c.energy + c.intensity, 100.5 + 1000);
  for (int mode : {0, 1}) {
    SCOPED_TRACE(mode);
    // 0.5 keV per channel; the table's error grows from 0.1 to 0.3 keV; K falls from 0.5 to 0.25.
    SetTable(st, cal, kEnergyCalibration, {{50, 100, 0.1}, {100, 200, 0.3}}, mode);
    SetTable(st, cal, kEfficiencyCalibration, {{0.5, 50, 0.01}, {0.25, 100, 0.01}});
    c = ApplyCalibrations(st, cal, 150, 2, 1000, 30);
    EXPECT_NEAR(c.energy, 75, 1e-9);
    EXPECT_NEAR(c.energyError, std::sqrt(0.2 * 0.2 + 1.0 * 1.0), 1e-9);  // table error, 2 channels' shift
    EXPECT_NEAR(c.intensity, 1000 / 0.375, 1e-9);                        // K at 75 keV
    EXPECT_NEAR(c.intensityError, 30 / 0.375, 1e-9);
  }
  SetTable(st, cal, kEnergyCalibration, {{50, 100, 0}, {100, 200, 0}});
  EXPECT_EQ(ApplyCalibrations(st, cal, 130, 0, 1, 1).energyError, 0);
  st.energyCalibrated = false;  // the efficiency is then taken at the position itself
  EXPECT_NEAR(ApplyCalibrations(st, cal, 75, 0.5, 1000, 30).intensity, 1000 / 0.375, 1e-9);
  SetTable(st, cal, kEfficiencyCalibration, {{0, 50, 0}, {0, 100, 0}});
  c = ApplyCalibrations(st, cal, 75, 0.5, 1000, 30);
  EXPECT_EQ(c.intensity + c.intensityError, 1000 + 30);  // K = 0 leaves the area
  SetTable(st, cal, kEnergyCalibration, {{50, 100, 0}, {100, 200, 0}, {150, 400, 0}, {300, 600, 0}});
  EXPECT_NEAR(EnergyToChannel(st, cal, 125), 300, 1e-12);
  EXPECT_NEAR(EnergyToChannel(st, cal, 25), 50, 1e-12);  // first segment extended
  for (double ch : {120.0, 399.0, 555.5})
    EXPECT_NEAR(EnergyToChannel(st, cal, EnergyOfChannel(st, cal, ch)), ch, 1e-9);
}

TEST(CalibrationFiles, NumberStreamAndTypedLines) {
  CalibrationList items{};
  // One stream of numbers: the first item takes 200 as its error, the rest of that line is lost.
  std::istringstream a("100 50\n200 100 0.1\n");
  ASSERT_EQ(ReadCalibrationItems(a, items), 1);
  EXPECT_EQ(Flat(items, 1), (std::vector<double>{100, 50, 200}));
  std::istringstream b(
      "* channel energy error\n100, 50\t0.1 * comment\n0 0 0\n150 75\n/\n7\n/\n200 100 0.2 999\nabc 300 x150 "
      ".5\n\n*\n");
  ASSERT_EQ(ReadCalibrationItems(b, items), 4);
  EXPECT_EQ(Flat(items, 4), (std::vector<double>{100, 50, 0.1, 150, 75, 0, 200, 100, 0.2, 300, 150, 0.5}));
  // From the 61st item on each one replaces the 60th.
  std::string text;
  for (int i = 1; i <= 62; ++i) text += std::to_string(i) + " " + std::to_string(10 * i) + " 1\n";
  std::istringstream c(text);
  EXPECT_EQ(ReadCalibrationItems(c, items), 60);
  EXPECT_EQ(items[60].argument, 62);
  // Typed lines count every item given, so that more than 60 can be refused.
  EXPECT_EQ(ParseCalibrationLines({"100 50 0.1", "", "  ", "0,0,0", "150 75", "x"}, items), 2);
  EXPECT_EQ(Flat(items, 2), (std::vector<double>{100, 50, 0.1, 150, 75, 0}));
  EXPECT_EQ(ParseCalibrationLines(std::vector<std::string>(61, "1 2 3"), items), 61);
}

class CalibrationEntry : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directories(dir_); }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string File(const std::string& text) {
    std::string name = (dir_ / ("f" + std::to_string(files_++))).string();
    std::ofstream(name) << text;
    return name;
  }
  bool Enter(int kind) { return EnterCalibration(kind, st_, cal_, marking_, results_, port_, &port_); }
  std::filesystem::path dir_ =
      std::filesystem::temp_directory_path() / ("orv_calibration_" + std::to_string(::getpid()));
  int files_ = 0;
  AnalysisState st_;
  CalibrationTables cal_;
  Marking marking_;
  ResultTable results_;
  FakePort port_;
};

TEST_F(CalibrationEntry, LinearFromFileWithListing) {
  st_.calibrationMode = 0;
  port_.files = {File("* channel energy error\n200 100 0.1\n100 50 0.1\n300 150 0.1\n")};
  port_.answers = {Sources({3}, 1), kOk};
  ASSERT_TRUE(Enter(kEnergyCalibration));
  EXPECT_EQ(std::tuple(st_.energyCalibrated, st_.calibrationMode, st_.reportLines[0]),
            std::tuple(true, 1, std::string(" Energy calibration set up")));
  EXPECT_EQ(Flat(cal_.energyItems, st_.energyItemCount),
            (std::vector<double>{100, 50, 0.1, 200, 100, 0.1, 300, 150, 0.1}));  // sorted
  EXPECT_NEAR(ApplyCalibrations(st_, cal_, 250, 0, 0, 0).energy, 125, 1e-9);
  ASSERT_EQ(port_.lines.size(), 4u);
  EXPECT_EQ(port_.lines[1], "   100.00    50.00    0.100    50.00        0.00 (chi2)");
}

TEST_F(CalibrationEntry, CancelsAndRefusedCounts) {
  // The calibration goes out of force as soon as the entry starts, even when it is cancelled.
  SetTable(st_, cal_, kEnergyCalibration, {{50, 100, 0.1}, {100, 200, 0.1}});
  EXPECT_FALSE(Enter(kEnergyCalibration));
  EXPECT_FALSE(st_.energyCalibrated);
  // Cancel on the listing: out of force, but the table holds the new items.
  port_.answers = {Sources({2}), Type({"10 5 0.1", "20 10 0.1", "30 15 0.1"})};
  EXPECT_FALSE(Enter(kEnergyCalibration));
  EXPECT_FALSE(st_.energyCalibrated);
  EXPECT_EQ(st_.energyItemCount, 3);
  // One item from a file, or an old table of one item with no source checked, is never put in force.
  port_.files = {File("100 50 0.1\n")};
  port_.answers = {Sources({3}), kOk};
  EXPECT_FALSE(Enter(kEnergyCalibration));
  EXPECT_EQ(st_.energyItemCount, 3);  // a refused entry leaves the table
  st_.energyItemCount = 1;
  port_.answers = {Sources({}), kOk};
  EXPECT_FALSE(Enter(kEnergyCalibration));
  EXPECT_EQ(port_.messages,
            (std::vector<std::string>{"Error, number of peaks < 2", "Error, number of peaks < 2"}));
  st_.energyItemCount = 3;
  port_.answers = {Sources({}), kOk};
  EXPECT_TRUE(Enter(kEnergyCalibration));
  // 61 typed items are refused.
  port_.answers = {Sources({2}), Type(std::vector<std::string>(61, "1 2 3")), kOk};
  EXPECT_FALSE(Enter(kEnergyCalibration));
  EXPECT_EQ(port_.messages.back(), "Error, number of peaks > 60");
  // Both points on one channel give no calibration: every energy would be the same.
  port_.answers = {Sources({2}), Type({"100 50 0.1", "100 60 0.1"}), kOk};
  EXPECT_FALSE(Enter(kEnergyCalibration));
  EXPECT_EQ(port_.messages.back(),
            "Error, all calibration items at 100; a calibration needs two different points");
  EXPECT_FALSE(st_.energyCalibrated);
  port_.files.clear();  // Cancel in the file selection
  port_.answers = {Sources({3}), kOk};
  EXPECT_FALSE(Enter(kEnergyCalibration) || st_.energyCalibrated);
}

TEST_F(CalibrationEntry, SourcesAndTheLastOneWins) {
  SetTable(st_, cal_, kEnergyCalibration, {{50, 100, 0.1}, {100, 200, 0.25}});
  // Not reset, the screen shows the current table; the file checked after it wins.
  port_.yes = false;
  port_.files = {File("10 1 0\n20 2 0\n30 3 0\n")};
  port_.answers = {Sources({2, 3}), Type({"1 1 1", "2 2 2"}), kOk};
  ASSERT_TRUE(Enter(kEnergyCalibration));
  EXPECT_EQ(port_.shown.at(1).textArea->lines,
            (std::vector<std::string>{"        100.000         50.000          0.100",
                                      "        200.000        100.000          0.250"}));
  EXPECT_EQ(Flat(cal_.energyItems, st_.energyItemCount), (std::vector<double>{10, 1, 0, 20, 2, 0, 30, 3, 0}));
  marking_.peakCount = 2;  // marked peaks give channels only
  marking_.peakList[1] = 410.5;
  marking_.peakList[2] = 120.25;
  port_.answers = {Sources({0}), kOk};
  ASSERT_TRUE(Enter(kEnergyCalibration));
  EXPECT_EQ(Flat(cal_.energyItems, st_.energyItemCount), (std::vector<double>{120.25, 0, 0, 410.5, 0, 0}));
  // Fit results: the energy calibration is out of force meanwhile, so energy = position.
  st_.resultCount = 2;
  results_[1] = {300, 0.5, 1000, 30, 4, 0.1, 10, 50};
  results_[2] = {100, 0.2, 2000, 40, 4, 0.1, 10, 50};
  port_.answers = {Sources({1}), kOk};
  ASSERT_TRUE(Enter(kEnergyCalibration));
  EXPECT_EQ(Flat(cal_.energyItems, st_.energyItemCount), (std::vector<double>{100, 100, 0.2, 300, 300, 0.5}));
}

TEST_F(CalibrationEntry, Efficiency) {
  port_.files = {File("50 0.5 0.01\n100 0.25 0.01\n")};
  marking_.peakCount = 5;
  port_.answers = {Sources({0, 1, 3}), kOk};  // the blank entries are no sources
  ASSERT_TRUE(Enter(kEfficiencyCalibration));
  EXPECT_TRUE(st_.efficiencyCalibrated && !st_.energyCalibrated);
  EXPECT_EQ(st_.reportLines[0], " Efficiency calibration set up");
  // Coefficients are listed with the digits they need: 0.0045 would show as 0.00 with two decimals.
  EXPECT_EQ(port_.shown.at(1).textArea->lines.at(0), "    50.00      0.5000000      0.0100000");
  EXPECT_NEAR(ApplyCalibrations(st_, cal_, 75, 0, 300, 3).intensity, 800, 1e-9);
}

}  // namespace
}  // namespace orv
