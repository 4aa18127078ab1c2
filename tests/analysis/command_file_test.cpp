#include "analysis/command_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "analysis/spectrum_input.h"
#include "tests/support/fake_port.h"
#include "tests/support/text_file.h"
#include "tests/support/workspace_test.h"

namespace orv {
namespace {

using testing::FakePort;
using Strings = std::vector<std::string>;

const std::string kInvalid = "Invalid command in INI-file:";

using Doubles = std::vector<double>;

class CommandFileTest : public testing::WorkspaceTest {
 protected:
  CommandFileTest() : WorkspaceTest("orv_ini_") {}
  void Read(const std::string& text, const CommandFileOptions& options = {}) {
    std::istringstream in(text);
    ReadCommandStream(*ws_, port_, in, options);
  }
  std::string Write(const std::string& name, const std::string& text) {
    const std::filesystem::path p = dir_ / name;
    std::ofstream(p, std::ios::binary) << text;
    return p.string();
  }
  Strings WrittenLines() { return testing::ReadLines(dir_ / "a.ini"); }
  // A fresh workspace that reads back the a.ini written by ws_.
  std::unique_ptr<Workspace> ReadBack() {
    auto ws = std::make_unique<Workspace>(dir_.string());
    ResetAnalysisState(*ws);
    ReadCommandFile(*ws, port_, (dir_ / "a.ini").string());
    return ws;
  }
  FakePort port_;
  const AnalysisState& st() const { return ws_->state; }
  const TSpectrum& sp() const { return ws_->spectrum; }
};

TEST(CommandFile, CommandWords) {
  for (auto [line, word] : {std::pair{".......Input the Spectrum", "IS"},
                            {".......Enter Data for EFiciency Calibration", "EDEFC"},
                            {"ABCDEFGHIJKLMNOP", "ABCDEFGHIJK"},  // at most 11 letters
                            {".......set the analysis bounds", ""},
                            {"  12.5 1E3 \xC4Z", "EZ"}})  // only A..Z count
    EXPECT_EQ(CommandWord(line), word) << line;
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
  EXPECT_TRUE(port_.messages.empty());
  EXPECT_EQ(std::tuple(st().markingMode, sp().b1, sp().b2, st().intervalFirst, st().intervalLast,
                       st().intervalLength, st().iniB1, st().iniB2, st().maxInterval, st().smallStatistics,
                       sp().dback, st().iterationLimit, st().scaleMode),
            std::tuple(2, 100, 2000, 100, 2000, 1901, 100, 2000, 512, 6, 2, 8, 1));
  EXPECT_EQ((Doubles{st().sensitivity, st().resolution, sp().width1, sp().width2, sp().deltaWidth,
                     sp().widthVariable, sp().deltaWidthVariable, st().covar, st().blunderOrder, st().chibc,
                     st().positionDeviation, st().fitStep, st().fitDamper}),
            (Doubles{0.75, 1.5, 3, 7, 2.5, 0.001, 0.0002, 0.025, 12, 1.5, 4, 0.9, 0.05}));
  EXPECT_DOUBLE_EQ(st().kw1, 4.0 / 4095.0);  // a1 = 1, a2 = 4096
  EXPECT_DOUBLE_EQ(st().kw0, 3 - 4.0 / 4095.0);
  // The short words, halves to even, CR line ends.
  Read("MAXINT\r\n100\r\nDBACK\n-1\nNITER\n2.5\n");
  EXPECT_EQ(std::tuple(st().maxInterval, sp().dback, st().iterationLimit), std::tuple(100, -1, 2));
  EXPECT_TRUE(port_.messages.empty());
}

TEST_F(CommandFileTest, NumberBufferEarlyEndLeftOverLinesAndStop) {
  // "/" or the end of the file ends DMS early: the others keep what EWI left in the buffer.
  Read("EWI\n3 5 2\nDMS\n1\n/\n");
  EXPECT_EQ(std::tuple(st().markingMode, st().sensitivity, st().resolution), std::tuple(1, 5.0, 2.0));
  Read("EWI\n3 5 2\nDMS\n0 4");
  EXPECT_EQ(std::tuple(st().sensitivity, st().resolution), std::tuple(4.0, 2.0));
  EXPECT_TRUE(port_.messages.empty());
  // The rest of the line is dropped; a data line of its own is read as a command.
  Read("MAXINT\n300 77 88\nCOVAR\n0.02\n0.5\n.......set the analysis bounds\n10 20\nDB\n1\n");
  EXPECT_EQ(st().maxInterval, 300);
  EXPECT_DOUBLE_EQ(st().covar, 0.02);
  EXPECT_EQ(std::tuple(sp().b1, sp().dback), std::tuple(2, 1));  // the small-letter line is no SAB
  EXPECT_EQ(port_.messages, (Strings{kInvalid, kInvalid, kInvalid}));
  port_.messages.clear();
  Read("XYZ\n");
  EXPECT_EQ(port_.messages, (Strings{kInvalid + "XYZ"}));
  // STOP ends the file.
  port_.messages.clear();
  Read(".......Maximum Interval\n400\n.......STOP\n.......Maximum Interval\n100\nnonsense\n");
  EXPECT_EQ(st().maxInterval, 400);
  EXPECT_TRUE(port_.messages.empty());
}

TEST_F(CommandFileTest, CalibrationTables) {
  // 40 announced: 30 items are read (zero lines dropped, the rest sorted); the other 10 lines are
  // then command lines without a word.
  std::string text = ".......Enter Data for ENergy Calibration\n*      npt  mode   pri\n   40  1  1\n";
  for (int i = 40; i >= 1; --i)
    text += i == 20 ? "0 0 0\n" : std::to_string(100 * i) + " " + std::to_string(50 * i) + " 0.1\n";
  Read(text);
  const CalibrationTables& cal = ws_->calibration;
  EXPECT_EQ(std::count(port_.messages.begin(), port_.messages.end(), kInvalid), 10);
  EXPECT_EQ(std::tuple(st().energyItemCount, st().energyCalibrated, st().calibrationMode),
            std::tuple(29, true, 1));
  EXPECT_EQ((Doubles{cal.energyItems[1].argument, cal.energyItems[1].value, cal.energyItems[29].argument,
                     cal.energyItems[29].error, st().firstChannel, st().lastChannel}),
            (Doubles{1100, 550, 4000, 0.1, 1100, 4000}));  // items 40..11 read, 20 was zeros
  EXPECT_NEAR(ApplyCalibrations(st(), cal, 3000, 0, 1, 0).energy, 1500, 1e-6);  // mode 1: the line E = ch / 2
  // Efficiency: energy, K, error; "/" ends an item early and the buffer supplies the error.
  port_.messages.clear();
  Read("EWI\n3 5 0.1\nEDEFC\n2 0\n1000 0.5\n/\n100, 2 0.05\n");
  EXPECT_TRUE(port_.messages.empty());
  EXPECT_EQ(std::tuple(st().efficiencyItemCount, st().efficiencyCalibrated), std::tuple(2, true));
  EXPECT_EQ((Doubles{cal.efficiencyItems[1].argument, cal.efficiencyItems[1].value,
                     cal.efficiencyItems[2].value, cal.efficiencyItems[2].error}),
            (Doubles{100, 2, 0.5, 0.1}));  // the last left by EWI
  // Fewer than 2 valid items: kept, never in force, and said so.
  Read("EDEFC\n2 0\n0 0 0\n500 1 0.1\nEDENC\n1 0\n10 5 0\n");
  EXPECT_EQ(std::tuple(st().efficiencyItemCount, st().efficiencyCalibrated, st().energyItemCount,
                       st().energyCalibrated),
            std::tuple(1, false, 1, false));
  EXPECT_EQ(std::count(port_.messages.begin(), port_.messages.end(),
                       "Warning, number of calibration items < 2; calibration not set up"),
            2);
  // A negative count reads no items.
  Read("EDENC\n-5 0\nMI\n128\n");
  EXPECT_EQ(std::tuple(st().energyItemCount, st().maxInterval), std::tuple(0, 128));
  // Items all on one channel are kept but not put in force, with a message.
  port_.messages.clear();
  Read("EDENC\n2 1\n100 50 0.1\n100 60 0.1\n");
  EXPECT_EQ(port_.messages,
            (Strings{"Error, all calibration items at 100; a calibration needs two different points"}));
  EXPECT_EQ(std::tuple(st().energyItemCount, st().energyCalibrated), std::tuple(2, false));
}

TEST_F(CommandFileTest, InputSpectrumCommand) {
  const std::string file = Write("s.txt", "* counts\n10 20 30 400 30 20 10 5\n");
  Read(".......Input the Spectrum\n* a1 a2 mode\n1 100 3\n* name\n" + file + "\nMI\n64\n");
  EXPECT_TRUE(port_.messages.empty());
  EXPECT_EQ(std::tuple(sp().fileName, sp().fileType, sp().a1, sp().a2, sp().maxValue, st().lastDir,
                       st().maxInterval),
            std::tuple(file, 3, 1, 8, 400.0, dir_.string(), 64));  // a2 set by the reading
  EXPECT_DOUBLE_EQ(st().kw1, (sp().width2 - sp().width1) / 7);
  // A missing, unreadable, refused or unnamed file, an unknown type, a directory: the failure is told,
  // reading goes on, and the spectrum in hand keeps its own name, type, bounds and counts together.
  const std::string missing = (dir_ / "none.spc").string();
  CommandFileOptions refuseAll;
  refuseAll.mayLoad = [](const std::string&) { return false; };
  struct Failure {
    std::string commands, said;
    CommandFileOptions options = {};
  };
  for (const Failure& f :
       {Failure{"IS\n5 50 1\n" + missing + "\nMI\n32\n", "No file " + missing},
        {"IS\n1 8 3\n" + Write("garbage.bin", "10 20 x30\n") + "\n", "Spectrum input failure"},
        {"IS\n1 8 12\n" + file + "\n", "Spectrum input failure"},
        {"IS\n1 8 7\n" + file + "\n", "Spectrum input failure"},  // N42 needs XML
        {"IS\n1 8 1\n" + file + "\n", "No file " + file, refuseAll},
        {"IS\n1 4096 3\n" + dir_.string() + "\n", "No file " + dir_.string()},
        {"IS\n1 4096 1\n* only a comment\n", "No file "}}) {
    port_.messages.clear();
    Read(f.commands, f.options);
    ASSERT_FALSE(port_.messages.empty()) << f.commands;
    EXPECT_EQ(port_.messages.back(), f.said) << f.commands;
    EXPECT_EQ(std::tuple(sp().a1, sp().a2, sp().fileType, sp().fileName, sp().sp[4], st().maxInterval),
              std::tuple(1, 8, 3, file, 400.0, 32))
        << f.commands;
  }
  // A file of its own format is read from its first channel whatever the bounds, its calibration in force.
  Read("IS\n1 100 5\n" + Write("s.spe", "$DATA:\n0 3\n1 2 3 4\n$ENER_FIT:\n10 2\n") + "\n");
  EXPECT_EQ(
      std::tuple(sp().fileType, sp().a1, sp().a2, sp().sp[4], st().energyCalibrated, st().calibrationMode),
      std::tuple(5, 1, 4, 4.0, true, 1));
}

// Every way of reading a spectrum starts from a clean object, sets the same deviations and asks
// before it drops unsaved results.
TEST_F(CommandFileTest, ReadingReplacesTheWholeSpectrum) {
  const std::string longer = Write("long.txt", "5 5 5 5 5 5 5 5 5 5 700 700\n");
  const std::string shorter = Write("short.txt", "1 2 3 4\n");
  Read("IS\n1 1 3\n" + longer + "\n");
  ASSERT_EQ(sp().a2, 12);
  ws_->state.resultsUnsaved = true;
  port_.okCancel = false;  // the unsaved results win: nothing is read
  Read("IS\n1 1 3\n" + shorter + "\n");
  EXPECT_EQ(port_.questions, (Strings{"Previous fit results not saved"}));
  EXPECT_EQ(std::tuple(sp().fileName, sp().a2, sp().sp[11]), std::tuple(longer, 12, 700.0));
  port_.okCancel = true;
  Read("IS\n1 1 3\n" + shorter + "\n");
  EXPECT_EQ(std::tuple(sp().fileName, sp().a2, sp().sp[11], sp().err[11], st().resultsUnsaved),
            std::tuple(shorter, 4, 0.0, 1.0, false));
  // Binary counts get the same deviations by the command file as by the input dialog.
  const std::string binary = Write("b.bin", std::string("\0\0\x64\0\x90\x01\x10\x27", 8));
  Read("COVAR\n0.5\nIS\n1 1 1\n" + binary + "\n");
  TSpectrum byDialog = ws_->spectrum;
  byDialog.SetErrors(0.5);
  EXPECT_EQ(sp().err, byDialog.err);
  EXPECT_DOUBLE_EQ(sp().err[3], std::sqrt(0.9 * 400 + 0.1 * 200 * 200 + 0.1));
  // Errors given in a type-4 file are kept, also by a later change of the settings.
  Read("IS\n1 1 4\n" + Write("xy.txt", "1 100 3\n2 200 -2\n3 300 7\n") + "\n");
  ws_->spectrum.SetErrors(0.1);
  EXPECT_EQ(std::tuple(sp().errorsFromFile, sp().err[1], sp().err[2], sp().err[3]),
            std::tuple(true, 3.0, -2.0, 7.0));
}

// A mistyped number refuses the rest of the file: the command it belongs to changes nothing, and the
// next command's numbers are never taken for it.
TEST_F(CommandFileTest, MistypedNumbersStopTheFile) {
  const std::string path = Write("bad.ini", "COVAR\n1e400\nMI\n512\n");
  ReadCommandFile(*ws_, port_, path);
  EXPECT_EQ(port_.messages, (Strings{"Error in the command file " + path +
                                     ", line 2: \"1e400\" is not a number; reading stopped"}));
  EXPECT_EQ(std::tuple(st().covar, st().maxInterval), std::tuple(0.01, 256));
  for (const std::string bad : {"1.2.3", "--5", "1e"}) {
    port_.messages.clear();
    Read("* settings\nMI\n100\nEWI\n3 " + bad + " 1\nDB\n2\n");
    EXPECT_EQ(port_.messages, (Strings{"Error in the command file , line 5: \"" + bad +
                                       "\" is not a number; reading stopped"}));
    EXPECT_EQ(std::tuple(st().maxInterval, sp().width1, sp().dback), std::tuple(100, 4.0, -3));
  }
  // Words on a data line are no numbers and pass as before.
  port_.messages.clear();
  Read("MI\n64 channels\n");
  EXPECT_EQ(std::tuple(port_.messages.empty(), st().maxInterval), std::tuple(true, 64));
  // Iteration limits stay within 1..1000, and a cut value is told.
  Read("NITER\n1e9\n");
  EXPECT_EQ(st().iterationLimit, kMaxIterationLimit);
  Read("NITER\n-4\n");
  EXPECT_EQ(st().iterationLimit, 1);
  EXPECT_EQ(port_.messages, (Strings{"Warning, the iteration limit 1.000000E+09 is cut to 1000",
                                     "Warning, the iteration limit -4 is cut to 1"}));
}

TEST_F(CommandFileTest, UnsafeValuesAreKeptSound) {
  // Bounds stay inside the arrays and in order.
  const std::string x = Write("x", std::string(20, '\x01'));
  Read("IS\n99999 -4 1\n" + x + "\nSAB\n40000 0\n");
  const int cap = kSpectrumCapacity;
  EXPECT_EQ(std::tuple(sp().b1, sp().b2, st().intervalLength, st().iniB2), std::tuple(1, cap, cap, cap));
  Read("IS\n99999 -4 3\n" + Write("y", "1 2 3\n") + "\nSAB\n300 200\n");
  EXPECT_EQ(std::tuple(sp().a1, sp().a2, sp().b1, sp().b2), std::tuple(1, 3, 200, 300));
  // A one-channel spectrum gives a constant width law.
  Read("IS\n50 50 3\n" + Write("z", "7\n") + "\nEWI\n3 8 1\n");
  EXPECT_EQ(std::tuple(st().kw1, st().kw0), std::tuple(0.0, 3.0));
  // Numbers beyond any meaning are limited, so rounding and the width law stay defined and finite.
  Read("EWI\n-1e300 1e300 1e308\nNITER\n1e300\nDB\n-1e300\nSAB\n1e300 -1e300\n");
  EXPECT_TRUE(std::isfinite(st().kw0) && std::isfinite(st().kw1));
  EXPECT_EQ(std::tuple(sp().width1, st().iterationLimit, sp().dback, sp().b1, sp().b2),
            std::tuple(-1e30, kMaxIterationLimit, -1000000000, 1, cap));
}

// A state with every written field away from its start-up value.
void FillState(Workspace& ws) {
  AnalysisState& st = ws.state;
  TSpectrum& s = ws.spectrum;
  s.b1 = 3, s.b2 = 15, s.dback = -3, s.width1 = 3.14159, s.width2 = 5.123456, s.deltaWidth = 2.25;
  st.energyItemCount = 2, st.calibrationMode = 1, st.energyCalibrated = true;
  ws.calibration.energyItems[1] = {121.78, 100, 0.01};
  ws.calibration.energyItems[2] = {1408.01, 2000, 0.05};
  st.efficiencyItemCount = 3, st.efficiencyMode = 2, st.efficiencyCalibrated = true;
  ws.calibration.efficiencyItems[1] = {0.0045, 100, 0.02};
  ws.calibration.efficiencyItems[2] = {0.25, 500, 0.01};
  ws.calibration.efficiencyItems[3] = {0.125, 1500, 0.005};
  st.markingMode = 3, st.sensitivity = 1.234, st.resolution = 0.5, st.maxInterval = 300, st.covar = 0.0254;
}

TEST_F(CommandFileTest, WriteReadRoundTrip) {
  const std::string file = Write("s.txt", "10 20 30 400 30 20 10 5 4 3 2 1 1 2 3 100 3 2 1 1\n");
  ws_->spectrum.fileName = file, ws_->spectrum.fileType = 3;
  ASSERT_TRUE(LoadSpectrum(*ws_, port_));
  FillState(*ws_);
  ASSERT_TRUE(WriteCommandFile(*ws_, port_));
  // One line of each number layout; the contents are checked by the reading back.
  const Strings lines = WrittenLines();
  ASSERT_EQ(lines.size(), 32u);
  EXPECT_EQ((Strings{lines[0], lines[3], lines[6], lines[9], lines[12], lines[15], lines[16], lines[26],
                     lines[28], lines[30], lines[31]}),
            (Strings{".......Input the Spectrum", "    1      20  3", "       3      15",
                     "  3.14159 5.123456    2.250", "   -3", "    2  1  1", "  100.000  121.780    0.010",
                     "    3   1.234    0.50", "  300", "   0.0254", ".......STOP"}));
  const auto ws = ReadBack();
  EXPECT_TRUE(port_.messages.empty());
  const AnalysisState& st = ws->state;
  const TSpectrum& s = ws->spectrum;
  const CalibrationTables& cal = ws->calibration;
  EXPECT_EQ(std::tuple(s.fileName, s.fileType, s.a1, s.a2, s.sp[16], s.b1, s.b2, st.intervalLength, s.dback),
            std::tuple(file, 3, 1, 20, 100.0, 3, 15, 13, -3));  // sp[16]: loaded
  EXPECT_EQ(std::tuple(st.energyItemCount, st.calibrationMode, st.energyCalibrated, st.efficiencyItemCount,
                       st.efficiencyMode, st.efficiencyCalibrated, st.markingMode, st.maxInterval),
            std::tuple(2, 1, true, 3, 2, true, 3, 300));
  // Every value comes back equal, also where its field's decimals would have rounded it.
  EXPECT_EQ((std::vector<double>{s.width1, s.width2, s.deltaWidth, cal.energyItems[2].value,
                                 cal.energyItems[2].argument, cal.energyItems[2].error,
                                 cal.efficiencyItems[3].value, cal.efficiencyItems[3].error,
                                 cal.efficiencyItems[1].value, st.sensitivity, st.resolution, st.covar}),
            (std::vector<double>{3.14159, 5.123456, 2.25, 1408.01, 2000, 0.05, 0.125, 0.005, 0.0045, 1.234,
                                 0.5, 0.0254}));
  EXPECT_DOUBLE_EQ(st.kw1, (5.123456 - 3.14159) / 19);
  EXPECT_NE(cal.linearSlope, 0.0);  // the line was fitted
}

TEST_F(CommandFileTest, WrittenFileStaysReadable) {
  // Without a spectrum there is no IS block; without items no calibration block.
  ASSERT_TRUE(WriteCommandFile(*ws_, port_));
  const Strings lines = WrittenLines();
  ASSERT_EQ(lines.size(), 16u);
  EXPECT_EQ(lines.front(), ".......Set the Analysis Bounds");
  // Numbers wider than their fields stay apart; only the items the reader takes are written.
  ws_->spectrum.width1 = 123456.789, ws_->spectrum.width2 = 1234567.5, ws_->spectrum.deltaWidth = -98765.4321;
  ws_->state.energyItemCount = 45;
  for (int i = 1; i <= 45; ++i) ws_->calibration.energyItems[i] = {2.0 * i, 10.0 * i, 0.1};
  ASSERT_TRUE(WriteCommandFile(*ws_, port_));
  EXPECT_EQ(port_.messages,
            (Strings{"Warning, only the first 30 of 45 energy calibration items are saved in a.ini"}));
  port_.messages.clear();
  const auto ws = ReadBack();
  EXPECT_TRUE(port_.messages.empty());
  EXPECT_EQ((Doubles{ws->spectrum.width1, ws->spectrum.width2, ws->spectrum.deltaWidth,
                     ws->calibration.energyItems[30].argument}),
            (Doubles{123456.789, 1234567.5, -98765.4321, 300}));
  EXPECT_EQ(ws->state.energyItemCount, kCommandFileCalibrationItems);
}

TEST_F(CommandFileTest, FilesAndMenuCommands) {
  const std::string missing = (dir_ / "nothing.ini").string();
  ReadCommandFile(*ws_, port_, missing);
  EXPECT_EQ(port_.messages, (Strings{"No file " + missing}));
  // Save: a.ini in the start folder, replacing the old one, then the status line.
  Write("a.ini", std::string(5000, 'x'));
  ws_->state.maxInterval = 777;
  SaveInitFileCommand(*ws_, port_);
  EXPECT_EQ(port_.statuses, (Strings{"Ini file saved as a.ini|"}));
  EXPECT_EQ(WrittenLines().back(), ".......STOP");
  // Enter: the selection starts from a.ini; Cancel changes nothing.
  ws_->state.maxInterval = 1;
  EnterIniFileCommand(*ws_, port_);
  ASSERT_EQ(port_.fileRequests.size(), 1u);
  EXPECT_EQ(port_.fileRequests[0].initialName, "a.ini");
  EXPECT_EQ(st().maxInterval, 1);
  // A start folder that cannot take the file: refused and said, no status.
  port_.messages.clear();
  ws_->state.startDir = (dir_ / "no" / "such").string();
  EXPECT_FALSE(WriteCommandFile(*ws_, port_));
  EXPECT_EQ(port_.messages, (Strings{"Cannot write " + (dir_ / "no" / "such" / "a.ini").string()}));
  SaveInitFileCommand(*ws_, port_);
  EXPECT_EQ(port_.statuses.size(), 1u);
}

}  // namespace
}  // namespace orv
