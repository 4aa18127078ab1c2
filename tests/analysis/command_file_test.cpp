#include "analysis/command_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/spectrum_input.h"
#include "tests/support/fake_port.h"
#include "tests/support/workspace_test.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using testing::FakePort;

const std::string kInvalid = "Invalid command in INI-file:";

class CommandFileTest : public testing::WorkspaceTest {
 protected:
  CommandFileTest() : WorkspaceTest("orv_ini_") {}

  void Read(const std::string& text, const CommandFileOptions& options = {}) {
    std::istringstream in(text);
    ReadCommandStream(*ws_, port_, in, options);
  }
  std::string Write(const std::string& name, const std::string& text) {
    const fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary) << text;
    return p.string();
  }
  std::vector<std::string> WrittenLines() {
    std::ifstream in(dir_ / "a.ini");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  int Count(const std::string& message) const {
    return static_cast<int>(std::count(port_.messages.begin(), port_.messages.end(), message));
  }

  FakePort port_;
};

TEST(CommandFile, CommandWords) {
  EXPECT_EQ(CommandWord(".......Input the Spectrum"), "IS");
  EXPECT_EQ(CommandWord(".......Enter Data for ENergy Calibration"), "EDENC");
  EXPECT_EQ(CommandWord(".......Enter Data for EFiciency Calibration"), "EDEFC");
  EXPECT_EQ(CommandWord(".......Maximum Interval"), "MI");
  EXPECT_EQ(CommandWord(".......Degree of the Background"), "DB");
  EXPECT_EQ(CommandWord("ABCDEFGHIJKLMNOP"), "ABCDEFGHIJK");  // at most 11 letters
  EXPECT_EQ(CommandWord(".......set the analysis bounds"), "");
  EXPECT_EQ(CommandWord("  12.5 1E3 \xC4Z"), "EZ");  // only A..Z count
}

TEST_F(CommandFileTest, EveryCommandStoresItsNumbers) {
  Read(
      "* settings of a run\n\n"
      ".......Data for Marking the Spectrum\n2, 0.75\t1.5\n"
      "   \t\n"  // a line of blanks is empty
      ".......Set the Analysis Bounds\n* bounds over two lines\n100\n2000.5  * half to even\n"
      ".......Enter the Width Information\n3 7 2.5\n"
      "EVWI\n0.001 .0002\n"
      ".......Maximum Interval\n512\n"
      "FS\n9 9\n"
      ".......COVAR\n0.025\n"
      "SMAST\n6.5\nORDER\n12\nCHIO\n1.5\nDPOS\n4\n"
      ".......Degree of the Background\n2\n"
      "STEP\n0.9\nDAMP\n0.05\nNITER\n7.6\nSGM\n1\n");
  const AnalysisState& st = ws_->state;
  const TSpectrum& s = ws_->spectrum;
  EXPECT_TRUE(port_.messages.empty());
  EXPECT_EQ(st.markingMode, 2);
  EXPECT_DOUBLE_EQ(st.sensitivity, 0.75);
  EXPECT_DOUBLE_EQ(st.resolution, 1.5);
  EXPECT_EQ(s.b1, 100);
  EXPECT_EQ(s.b2, 2000);
  EXPECT_EQ(st.intervalFirst, 100);
  EXPECT_EQ(st.intervalLast, 2000);
  EXPECT_EQ(st.intervalLength, 1901);
  EXPECT_EQ(st.iniB1, 100);
  EXPECT_EQ(st.iniB2, 2000);
  EXPECT_DOUBLE_EQ(s.width1, 3);
  EXPECT_DOUBLE_EQ(s.width2, 7);
  EXPECT_DOUBLE_EQ(s.deltaWidth, 2.5);
  EXPECT_DOUBLE_EQ(st.kw1, 4.0 / 4095.0);  // a1 = 1, a2 = 4096
  EXPECT_DOUBLE_EQ(st.kw0, 3 - 4.0 / 4095.0);
  EXPECT_DOUBLE_EQ(s.widthVariable, 0.001);
  EXPECT_DOUBLE_EQ(s.deltaWidthVariable, 0.0002);
  EXPECT_EQ(st.maxInterval, 512);
  EXPECT_DOUBLE_EQ(st.covar, 0.025);
  EXPECT_EQ(st.smallStatistics, 6);
  EXPECT_DOUBLE_EQ(st.blunderOrder, 12);
  EXPECT_DOUBLE_EQ(st.chibc, 1.5);
  EXPECT_DOUBLE_EQ(st.positionDeviation, 4);
  EXPECT_EQ(s.dback, 2);
  EXPECT_DOUBLE_EQ(st.fitStep, 0.9);
  EXPECT_DOUBLE_EQ(st.fitDamper, 0.05);
  EXPECT_EQ(st.iterationLimit, 8);
  EXPECT_EQ(st.scaleMode, 1);

  // The short words, halves to even, CR line ends.
  Read("MAXINT\r\n100\r\nDBACK\n-1\nNITER\n2.5\n");
  EXPECT_EQ(st.maxInterval, 100);
  EXPECT_EQ(s.dback, -1);
  EXPECT_EQ(st.iterationLimit, 2);
  EXPECT_TRUE(port_.messages.empty());
}

TEST_F(CommandFileTest, NumberBufferEarlyEndAndLeftOverLines) {
  // "/" ends DMS after one number: the others keep what EWI left in the buffer.
  Read("EWI\n3 5 2\nDMS\n1\n/\n");
  EXPECT_EQ(ws_->state.markingMode, 1);
  EXPECT_DOUBLE_EQ(ws_->state.sensitivity, 5);
  EXPECT_DOUBLE_EQ(ws_->state.resolution, 2);
  // Numbers missing at the end of the file: the same.
  Read("EWI\n3 5 2\nDMS\n0 4");
  EXPECT_DOUBLE_EQ(ws_->state.sensitivity, 4);
  EXPECT_DOUBLE_EQ(ws_->state.resolution, 2);
  EXPECT_TRUE(port_.messages.empty());
  // The rest of the line is dropped; a data line of its own is read as a command.
  Read("MAXINT\n300 77 88\nCOVAR\n0.02\n0.5\n.......set the analysis bounds\n10 20\nDB\n1\n");
  EXPECT_EQ(ws_->state.maxInterval, 300);
  EXPECT_DOUBLE_EQ(ws_->state.covar, 0.02);
  EXPECT_EQ(ws_->spectrum.b1, 2);  // the small-letter line is no SAB
  EXPECT_EQ(ws_->spectrum.dback, 1);
  EXPECT_EQ(port_.messages, (std::vector<std::string>{kInvalid, kInvalid, kInvalid}));
  port_.messages.clear();
  Read("XYZ\n");
  EXPECT_EQ(port_.messages, (std::vector<std::string>{kInvalid + "XYZ"}));
}

TEST_F(CommandFileTest, StopEndsTheFile) {
  Read(".......Maximum Interval\n400\n.......STOP\n.......Maximum Interval\n100\nnonsense\n");
  EXPECT_EQ(ws_->state.maxInterval, 400);
  EXPECT_TRUE(port_.messages.empty());
}

TEST_F(CommandFileTest, CalibrationTables) {
  // 40 announced: 30 items are read (zero lines dropped, the rest sorted); the other 10 lines are
  // then command lines without a word.
  std::string text = ".......Enter Data for ENergy Calibration\n*      npt  mode   pri\n   40  1  1\n";
  for (int i = 40; i >= 1; --i)
    text += i == 20 ? "0 0 0\n" : std::to_string(100 * i) + " " + std::to_string(50 * i) + " 0.1\n";
  Read(text);
  const AnalysisState& st = ws_->state;
  const CalibrationTables& cal = ws_->calibration;
  EXPECT_EQ(Count(kInvalid), 10);
  EXPECT_EQ(st.energyItemCount, 29);
  EXPECT_TRUE(st.energyCalibrated);
  EXPECT_EQ(st.calibrationMode, 1);
  EXPECT_DOUBLE_EQ(cal.energyItems[1].argument, 1100);  // items 40..11 read, 20 was zeros
  EXPECT_DOUBLE_EQ(cal.energyItems[1].value, 550);
  EXPECT_DOUBLE_EQ(cal.energyItems[29].argument, 4000);
  EXPECT_DOUBLE_EQ(cal.energyItems[29].error, 0.1);
  // Mode 1 fits the line: E = channel / 2 exactly.
  EXPECT_DOUBLE_EQ(st.firstChannel, 1100);
  EXPECT_DOUBLE_EQ(st.lastChannel, 4000);
  EXPECT_NEAR(ApplyCalibrations(st, cal, 3000, 0, 1, 0).energy, 1500, 1e-6);

  // Efficiency: energy, K, error; "/" ends an item early and the buffer supplies the error.
  port_.messages.clear();
  Read("EWI\n3 5 0.1\nEDEFC\n2 0\n1000 0.5\n/\n100, 2 0.05\n");
  EXPECT_TRUE(port_.messages.empty());
  EXPECT_EQ(st.efficiencyItemCount, 2);
  EXPECT_TRUE(st.efficiencyCalibrated);
  EXPECT_DOUBLE_EQ(cal.efficiencyItems[1].argument, 100);
  EXPECT_DOUBLE_EQ(cal.efficiencyItems[1].value, 2);
  EXPECT_DOUBLE_EQ(cal.efficiencyItems[2].value, 0.5);
  EXPECT_DOUBLE_EQ(cal.efficiencyItems[2].error, 0.1);  // left by EWI

  // Fewer than 2 valid items: kept, never in force, and said so.
  Read("EDEFC\n2 0\n0 0 0\n500 1 0.1\nEDENC\n1 0\n10 5 0\n");
  EXPECT_EQ(st.efficiencyItemCount, 1);
  EXPECT_FALSE(st.efficiencyCalibrated);
  EXPECT_EQ(st.energyItemCount, 1);
  EXPECT_FALSE(st.energyCalibrated);
  EXPECT_EQ(Count("Warning, number of calibration items < 2; calibration not set up"), 2);
  CalibratedPeak p = ApplyCalibrations(st, cal, 100.5, 0.2, 1000, 30);
  EXPECT_EQ(p.energy, 100.5);
  EXPECT_EQ(p.intensity, 1000);
  // A negative count reads no items.
  Read("EDENC\n-5 0\nMI\n128\n");
  EXPECT_EQ(st.energyItemCount, 0);
  EXPECT_EQ(st.maxInterval, 128);
}

TEST_F(CommandFileTest, InputSpectrumCommand) {
  const std::string file = Write("s.txt", "* counts\n10 20 30 400 30 20 10 5\n");
  Read(".......Input the Spectrum\n* a1 a2 mode\n1 100 3\n* name\n" + file + "\nMI\n64\n");
  const TSpectrum& s = ws_->spectrum;
  EXPECT_TRUE(port_.messages.empty());
  EXPECT_EQ(s.fileName, file);
  EXPECT_EQ(s.fileType, 3);
  EXPECT_EQ(s.a1, 1);
  EXPECT_EQ(s.a2, 8);  // set by the reading
  EXPECT_EQ(s.maxValue, 400);
  EXPECT_EQ(ws_->state.lastDir, dir_.string());
  EXPECT_DOUBLE_EQ(ws_->state.kw1, (s.width2 - s.width1) / 7);
  EXPECT_EQ(ws_->state.maxInterval, 64);

  // A missing file: the numbers are stored, the name is told, reading goes on.
  const std::string missing = (dir_ / "none.spc").string();
  Read("IS\n5 50 1\n" + missing + "\nMI\n32\n");
  EXPECT_EQ(port_.messages, (std::vector<std::string>{"No file " + missing}));
  EXPECT_EQ(s.a1, 5);
  EXPECT_EQ(s.a2, 50);
  EXPECT_EQ(s.fileType, 1);
  EXPECT_EQ(s.fileName, missing);
  EXPECT_EQ(s.maxValue, 400);  // the spectrum in hand stays
  EXPECT_EQ(ws_->state.maxInterval, 32);

  // An unknown type reads nothing.
  port_.messages.clear();
  Read("IS\n1 8 7\n" + file + "\n");
  EXPECT_EQ(port_.messages, (std::vector<std::string>{"Spectrum input failure"}));
  EXPECT_EQ(s.sp[4], 400);

  // Without loading (tools that must not open arbitrary files) only the settings change.
  port_.messages.clear();
  Read("IS\n1 8 1\n" + file + "\n", CommandFileOptions{false});
  EXPECT_TRUE(port_.messages.empty());
  EXPECT_EQ(s.fileType, 1);
  EXPECT_EQ(s.sp[4], 400);
}

TEST_F(CommandFileTest, UnsafeValuesAreKeptSound) {
  const AnalysisState& st = ws_->state;
  const TSpectrum& s = ws_->spectrum;
  // No name before the end of the file: nothing is loaded, the name in hand stays.
  ws_->spectrum.fileName = "old.spc";
  Read("IS\n1 4096 1\n* only a comment\n");
  EXPECT_EQ(port_.messages, (std::vector<std::string>{"No file "}));
  EXPECT_EQ(s.fileName, "old.spc");
  // A directory is no spectrum file.
  port_.messages.clear();
  Read("IS\n1 4096 3\n" + dir_.string() + "\nMI\n99\n");
  EXPECT_EQ(port_.messages, (std::vector<std::string>{"No file " + dir_.string()}));
  EXPECT_EQ(st.maxInterval, 99);

  // Bounds stay inside the arrays and in order.
  Read("IS\n99999 -4 1\n" + (dir_ / "x").string() + "\nSAB\n40000 0\n");
  EXPECT_EQ(s.a1, 1);
  EXPECT_EQ(s.a2, kSpectrumCapacity);
  EXPECT_EQ(s.b1, 1);
  EXPECT_EQ(s.b2, kSpectrumCapacity);
  EXPECT_EQ(st.intervalLength, kSpectrumCapacity);
  EXPECT_EQ(st.iniB2, kSpectrumCapacity);
  Read("SAB\n300 200\n");
  EXPECT_EQ(s.b1, 200);
  EXPECT_EQ(s.b2, 300);

  // A one-channel spectrum gives a constant width law.
  Read("IS\n50 50 1\n" + (dir_ / "x").string() + "\nEWI\n3 8 1\n");
  EXPECT_EQ(st.kw1, 0.0);
  EXPECT_EQ(st.kw0, 3.0);

  // Numbers beyond any meaning are limited, so rounding and the width law stay defined and finite.
  Read("EWI\n-1e300 1e300 1e308\nNITER\n1e300\nDB\n-1e300\nSAB\n1e300 -1e300\n");
  EXPECT_TRUE(std::isfinite(st.kw0) && std::isfinite(st.kw1));
  EXPECT_EQ(s.width1, -1e30);
  EXPECT_EQ(st.iterationLimit, 1000000000);
  EXPECT_EQ(s.dback, -1000000000);
  EXPECT_EQ(s.b1, 1);
  EXPECT_EQ(s.b2, kSpectrumCapacity);
}

// A state with every written field away from its start-up value.
void FillState(Workspace& ws) {
  AnalysisState& st = ws.state;
  TSpectrum& s = ws.spectrum;
  s.b1 = 3;
  s.b2 = 15;
  s.width1 = 3.14159;
  s.width2 = 5.123456;
  s.deltaWidth = 2.25;
  s.dback = 2;
  st.energyItemCount = 2;
  st.calibrationMode = 1;
  st.energyCalibrated = true;
  ws.calibration.energyItems[1] = {121.78, 100, 0.01};
  ws.calibration.energyItems[2] = {1408.01, 2000, 0.05};
  st.efficiencyItemCount = 3;
  st.efficiencyMode = 2;
  st.efficiencyCalibrated = true;
  ws.calibration.efficiencyItems[1] = {0.5, 100, 0.02};
  ws.calibration.efficiencyItems[2] = {0.25, 500, 0.01};
  ws.calibration.efficiencyItems[3] = {0.125, 1500, 0.005};
  st.markingMode = 3;
  st.sensitivity = 1.234;
  st.resolution = 0.5;
  st.maxInterval = 300;
  st.covar = 0.0254;
}

TEST_F(CommandFileTest, WriteReadRoundTrip) {
  const std::string file = Write("s.txt", "10 20 30 400 30 20 10 5 4 3 2 1 1 2 3 100 3 2 1 1\n");
  ws_->spectrum.fileName = file;
  ws_->spectrum.fileType = 3;
  ASSERT_TRUE(LoadSpectrum(*ws_, port_));
  FillState(*ws_);
  ASSERT_TRUE(WriteCommandFile(*ws_, port_));

  Workspace ws(dir_.string());
  ResetAnalysisState(ws);
  ReadCommandFile(ws, port_, (dir_ / "a.ini").string());
  EXPECT_TRUE(port_.messages.empty());
  const AnalysisState& st = ws.state;
  const TSpectrum& s = ws.spectrum;
  EXPECT_EQ(s.fileName, file);
  EXPECT_EQ(s.fileType, 3);
  EXPECT_EQ(s.a1, 1);
  EXPECT_EQ(s.a2, 20);
  EXPECT_EQ(s.sp[16], 100);  // loaded
  EXPECT_EQ(s.b1, 3);
  EXPECT_EQ(s.b2, 15);
  EXPECT_EQ(st.intervalLength, 13);
  EXPECT_DOUBLE_EQ(s.width1, 3.142);
  EXPECT_DOUBLE_EQ(s.width2, 5.1235);
  EXPECT_DOUBLE_EQ(s.deltaWidth, 2.25);
  EXPECT_DOUBLE_EQ(st.kw1, (5.1235 - 3.142) / 19);
  EXPECT_EQ(s.dback, 2);
  EXPECT_EQ(st.energyItemCount, 2);
  EXPECT_EQ(st.calibrationMode, 1);
  EXPECT_TRUE(st.energyCalibrated);
  EXPECT_DOUBLE_EQ(ws.calibration.energyItems[2].value, 1408.01);
  EXPECT_DOUBLE_EQ(ws.calibration.energyItems[2].argument, 2000);
  EXPECT_DOUBLE_EQ(ws.calibration.energyItems[2].error, 0.05);
  EXPECT_NE(ws.calibration.linearSlope, 0.0);  // the line was fitted
  EXPECT_EQ(st.efficiencyItemCount, 3);
  EXPECT_EQ(st.efficiencyMode, 2);
  EXPECT_TRUE(st.efficiencyCalibrated);
  EXPECT_DOUBLE_EQ(ws.calibration.efficiencyItems[3].value, 0.125);
  EXPECT_DOUBLE_EQ(ws.calibration.efficiencyItems[3].error, 0.005);
  EXPECT_EQ(st.markingMode, 3);
  EXPECT_DOUBLE_EQ(st.sensitivity, 1.23);
  EXPECT_DOUBLE_EQ(st.resolution, 0.5);
  EXPECT_EQ(st.maxInterval, 300);
  EXPECT_DOUBLE_EQ(st.covar, 0.025);
}

TEST_F(CommandFileTest, WrittenLines) {
  ws_->spectrum.fileName = "/data/s1.spc";
  FillState(*ws_);
  ws_->spectrum.a2 = 4096;
  ws_->spectrum.dback = -3;
  ASSERT_TRUE(WriteCommandFile(*ws_, port_));
  EXPECT_EQ(WrittenLines(), (std::vector<std::string>{".......Input the Spectrum",
                                                      "* a1   a2   mode  /mode:1-2byte,2-4,3-text",
                                                      "* spectrum file name",
                                                      "    1    4096  1",
                                                      "/data/s1.spc",
                                                      ".......Set the Analysis Bounds",
                                                      "       3      15",
                                                      ".......Enter the Width Information",
                                                      "*      w1   w2  DeltaW",
                                                      "    3.142   5.1235    2.250",
                                                      ".......Degree of the Background",
                                                      "*  0 <= dback <= 3",
                                                      "   -3",
                                                      ".......Enter Data for ENergy Calibration",
                                                      "*      npt  mode   pri",
                                                      "    2  1  1",
                                                      "  100.000  121.780    0.010",
                                                      " 2000.000 1408.010    0.050",
                                                      ".......Enter Data for EFiciency Calibration",
                                                      "*      npt  mode   pri",
                                                      "    3  2  1",
                                                      "  100.000    0.500    0.020",
                                                      "  500.000    0.250    0.010",
                                                      " 1500.000    0.125    0.005",
                                                      ".......Data for Marking the Spectrum",
                                                      "* mode   sens    resol ",
                                                      "    3    1.23    0.50",
                                                      ".......Maximum Interval",
                                                      "  300",
                                                      ".......COVAR",
                                                      "    0.025",
                                                      ".......STOP"}));
}

TEST_F(CommandFileTest, WrittenFileStaysReadable) {
  // Without a spectrum there is no IS block; without items no calibration block.
  ASSERT_TRUE(WriteCommandFile(*ws_, port_));
  std::vector<std::string> lines = WrittenLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), ".......Set the Analysis Bounds");
  EXPECT_EQ(lines.size(), 16u);

  // Numbers wider than their fields stay apart; only the items the reader takes are written.
  TSpectrum& s = ws_->spectrum;
  s.width1 = 123456.789;
  s.width2 = 1234567.5;
  s.deltaWidth = -98765.4321;
  ws_->state.energyItemCount = 45;
  for (int i = 1; i <= 45; ++i) ws_->calibration.energyItems[i] = {2.0 * i, 10.0 * i, 0.1};
  ASSERT_TRUE(WriteCommandFile(*ws_, port_));
  Workspace ws(dir_.string());
  ResetAnalysisState(ws);
  ReadCommandFile(ws, port_, (dir_ / "a.ini").string());
  EXPECT_TRUE(port_.messages.empty());
  EXPECT_DOUBLE_EQ(ws.spectrum.width1, 123456.789);
  EXPECT_DOUBLE_EQ(ws.spectrum.width2, 1234567.5);
  EXPECT_DOUBLE_EQ(ws.spectrum.deltaWidth, -98765.432);
  EXPECT_EQ(ws.state.energyItemCount, kCommandFileCalibrationItems);
  EXPECT_DOUBLE_EQ(ws.calibration.energyItems[30].argument, 300);
}

TEST_F(CommandFileTest, FilesAndMenuCommands) {
  // Missing file.
  const std::string missing = (dir_ / "nothing.ini").string();
  ReadCommandFile(*ws_, port_, missing);
  EXPECT_EQ(port_.messages, (std::vector<std::string>{"No file " + missing}));

  // Save: a.ini in the start folder, replacing the old one, then the status line.
  Write("a.ini", std::string(5000, 'x'));
  ws_->state.maxInterval = 777;
  SaveInitFileCommand(*ws_, port_);
  EXPECT_EQ(port_.statuses, (std::vector<std::string>{"Ini file saved as a.ini|"}));
  EXPECT_EQ(WrittenLines().back(), ".......STOP");

  // Enter: the selection starts from a.ini; Cancel changes nothing, a chosen file is executed.
  ws_->state.maxInterval = 1;
  EnterIniFileCommand(*ws_, port_);
  ASSERT_EQ(port_.fileRequests.size(), 1u);
  EXPECT_EQ(port_.fileRequests[0].initialName, "a.ini");
  EXPECT_EQ(ws_->state.maxInterval, 1);
  port_.files.push_back((dir_ / "a.ini").string());
  EnterIniFileCommand(*ws_, port_);
  EXPECT_EQ(ws_->state.maxInterval, 777);

  // A start folder that cannot take the file: refused and said, no status.
  port_.messages.clear();
  ws_->state.startDir = (dir_ / "no" / "such").string();
  EXPECT_FALSE(WriteCommandFile(*ws_, port_));
  EXPECT_EQ(port_.messages,
            (std::vector<std::string>{"Cannot write " + (dir_ / "no" / "such" / "a.ini").string()}));
  SaveInitFileCommand(*ws_, port_);
  EXPECT_EQ(port_.statuses.size(), 1u);
}

}  // namespace
}  // namespace orv
