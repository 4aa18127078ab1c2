#include "ui/commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <tuple>

#include "graphics/plot.h"
#include "tests/support/fake_port.h"
#include "tests/support/text_file.h"
#include "tests/support/workspace_test.h"
#include "ui/script/script_port.h"

namespace orv {
namespace {

using testing::FakePort;
using testing::ReadText;

// A time in December 2026.
std::tm At(int day, int hour, int minute) {
  std::tm t{};
  std::tie(t.tm_min, t.tm_hour, t.tm_mday, t.tm_mon, t.tm_year) = std::tuple(minute, hour, day, 11, 126);
  return t;
}

class ShellTest : public testing::WorkspaceTest {
 protected:
  ShellTest() : WorkspaceTest("orv_shell_") {}
  void SetUp() override {
    WorkspaceTest::SetUp();
    port_.fallback = [](DialogRequest&) { return true; };
    program_ = std::make_unique<Program>(*ws_, port_);
    program_->now = [] { return At(3, 9, 5); };
  }
  void TearDown() override {
    program_.reset();
    WorkspaceTest::TearDown();
  }
  // A spectrum with a flat background of 100 counts in channels 1..2048.
  void LoadFlatSpectrum() {
    ws_->spectrum.a1 = 1;
    ws_->spectrum.a2 = 2048;
    std::fill(ws_->spectrum.sp.begin() + 1, ws_->spectrum.sp.begin() + 2049, 100);
    SetInterval(ws_->state, ws_->spectrum, 2, 2047);
  }

  FakePort port_;
  std::unique_ptr<Program> program_;
};

TEST(Commands, CaptionsAndTheTable) {
  EXPECT_EQ(NormaliseCaption("&Save the  Fit Results "), "Save the Fit Results");
  EXPECT_EQ(NormaliseCaption("\tSpectrum   Fit"), "Spectrum Fit");
  // Every caption is unique once normalised, so a script names exactly one command.
  std::set<std::string> seen;
  int commands = 0;
  for (const Command& c : CommandTable()) {
    if (!c.run) continue;
    ++commands;
    EXPECT_TRUE(seen.insert(NormaliseCaption(c.caption)).second) << c.caption;
  }
  EXPECT_EQ(commands, 54);
  for (const std::string& caption : DisabledAtStartUp()) EXPECT_EQ(seen.count(caption), 1u) << caption;
  EXPECT_EQ(TimedOutputFileName(At(25, 23, 59)), "a252359.res");
}

TEST_F(ShellTest, StartUpAndExit) {
  // The second entry of the title dialog names the output file by the clock.
  port_.answers.push_back([](DialogRequest& r) {
    // The title picture lies inside the dialog and shows measured points and a fitted curve.
    const DialogImage im = r.image.value_or(DialogImage{});
    EXPECT_LE(im.left + im.width, r.width);
    EXPECT_EQ(im.pixels.size(), static_cast<std::size_t>(im.width) * im.height);
    EXPECT_GT(std::count(im.pixels.begin(), im.pixels.end(), 0xFF00FFu), 100);  // measured data
    EXPECT_GT(std::count(im.pixels.begin(), im.pixels.end(), 0x00FFFFu), 100);  // fitted curve
    r.radio1->chosen = 2;
    return true;
  });
  std::ofstream(dir_ / "orvant.fn") << "Title line\n    1.0000 *scrsize\n        20 *fntsize\n";
  ws_->state.maxInterval = 99;
  ASSERT_TRUE(ProgramEntry(*program_));
  EXPECT_EQ(ws_->state.outputFileName, "a030905.res");
  EXPECT_EQ(ws_->state.fontSize, 14);
  EXPECT_EQ(port_.layouts, 1);             // a scale of exactly 1.0 keeps the first layout
  EXPECT_EQ(ws_->state.maxInterval, 256);  // the defaults are set after the settings
  EXPECT_EQ(ws_->state.graphMode, 0);
  EXPECT_EQ(RunCommand(*program_, "Fit Loop"), CommandStatus::kDisabled);
  EXPECT_EQ(RunCommand(*program_, "Brew Coffee"), CommandStatus::kUnknown);

  // Unsaved results: No keeps the program running and writes nothing.
  ws_->state.resultsUnsaved = true;
  port_.yesNoAnswers.push_back(false);
  EXPECT_EQ(RunCommand(*program_, "&Exit"), CommandStatus::kDone);
  EXPECT_FALSE(program_->ended);
  EXPECT_EQ(ReadText(dir_ / "a030905.res"), std::string(20, ' ') + "ORVANT START  2026-12-03 09:05:00\n");
  port_.yesNoAnswers.push_back(true);
  RunCommand(*program_, "Exit");
  EXPECT_TRUE(program_->ended);
  EXPECT_NE(ReadText(dir_ / "a030905.res").find("ORVANT FINISH  2026-12-03 09:05:00\n"), std::string::npos);
  const std::string settings = ReadText(dir_ / "orvant.fn");
  EXPECT_EQ(settings.substr(0, 11), "Title line\n");
  EXPECT_NE(settings.find("        14 *fntsize\n"), std::string::npos);
}

TEST_F(ShellTest, StartUpRefusals) {
  // Cancel in the title dialog: nothing on disk.
  port_.answers.push_back([](DialogRequest&) { return false; });
  EXPECT_FALSE(ProgramEntry(*program_));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "a.res"));
  // An output file that cannot be created: the message, and a program that stays safe without it.
  std::filesystem::create_directories(dir_ / "a.res");
  ASSERT_TRUE(ProgramEntry(*program_));
  EXPECT_FALSE(program_->outputReady);
  EXPECT_EQ(port_.messages, (std::vector<std::string>{"Output file failure: possibly shared or read only"}));
  EXPECT_TRUE(ExitCommand(*program_));
  EXPECT_TRUE(std::filesystem::exists(dir_ / "orvant.fn"));
}

TEST_F(ShellTest, TwoClickCutsAndCadres) {
  LoadFlatSpectrum();
  EXPECT_EQ(RunCommand(*program_, "Cut the Cadre (Zoom)"), CommandStatus::kDone);
  EXPECT_EQ(port_.statuses.back(), "Error, no graph on the screen|");
  RunCommand(*program_, "Graph the Spectrum");

  // Clicks in reverse order give the same window; a zoom leaves the analysed interval alone.
  RunCommand(*program_, "Cut the Cadre (Zoom)");
  EXPECT_EQ(ws_->state.graphMode, 13);
  EXPECT_EQ(port_.menuEnabled, 0);
  // While clicking only Calibration and Test respond.
  EXPECT_EQ(RunCommand(*program_, "Spectrum  Fit"), CommandStatus::kDisabled);
  GraphClick(*program_, 700);
  GraphClick(*program_, 500);
  EXPECT_EQ(port_.menuEnabled, 1);
  EXPECT_EQ(std::tuple(ws_->state.viewFirst, ws_->state.viewWidth, ws_->spectrum.b1),
            std::tuple(500, 201, 2));

  PressButton(*program_, WindowButton::kNextCadre);
  EXPECT_EQ(ws_->state.viewFirst, 701);
  for (int k = 0; k < 3; ++k) PressButton(*program_, WindowButton::kPreviousCadre);
  // Before the spectrum is allowed; the graph clips it.
  EXPECT_EQ(std::pair(ws_->state.viewFirst, ws_->state.viewLast), std::pair(98, 298));

  // The windows deliver design pixels: the pixel of a channel gives that channel back.
  RunCommand(*program_, "Graph the Spectrum");
  RunCommand(*program_, "Make the Interval");
  GraphClickAt(*program_, ChannelToPixelX(ws_->state, 300), 200);
  GraphClickAt(*program_, 10, 200);  // beside the axis: no channel, still waiting
  EXPECT_EQ(program_->clickMode, ClickMode::kMakeInterval);
  GraphClickAt(*program_, ChannelToPixelX(ws_->state, 1200), 200);
  EXPECT_EQ(std::pair(ws_->spectrum.b1, ws_->state.intervalLength), std::pair(300, 901));
}

TEST_F(ShellTest, ManualMarkingByClicks) {
  LoadFlatSpectrum();
  ws_->spectrum.sp[401] = 500;
  RunCommand(*program_, "Mark the Peaks ");
  RunCommand(*program_, "Graph the Spectrum");
  RunCommand(*program_, "Mark the Peaks");
  GraphClick(*program_, 400);  // moved to the first highest count within 2 channels (2048 shown)
  GraphClick(*program_, 900);
  GraphClick(*program_, 1300);
  EXPECT_EQ(ws_->marking.peakCount, 3);
  PressButton(*program_, WindowButton::kCancel);
  EXPECT_EQ(port_.statuses.back(), " Chan=898|N of peaks =2");      // flat: the first of equals
  EXPECT_EQ(RunCommand(*program_, "&Test"), CommandStatus::kDone);  // Test stays enabled
  PressButton(*program_, WindowButton::kOk);
  EXPECT_EQ(program_->clickMode, ClickMode::kNone);
  EXPECT_EQ(std::pair(ws_->markingInput.count, ws_->markingInput.points[1]), std::pair(2, 401.0));
}

TEST_F(ShellTest, ScriptedRunThroughStartUp) {
  std::ostringstream log;
  ScriptPort port("menu Input the Spectrum\ncancel\nmenu Show Result Table\nmenu Exit\n", log);
  Program program(*ws_, port);
  EXPECT_EQ(RunScript(program, port), 0) << log.str();
  EXPECT_TRUE(program.ended);
  EXPECT_NE(log.str().find("-> ok (preset)"), std::string::npos);
  EXPECT_NE(log.str().find("message:  No fitted peaks"), std::string::npos);
  EXPECT_NE(ReadText(dir_ / "a.res").find("ORVANT FINISH"), std::string::npos);

  // Refused, the run still ends its program, closing the output file in order.
  for (const char* text : {"yes\n", "menu Input the Spectrum\n", "click 20\n", "button Sideways\n",
                           "menu Exit\nmenu Clear the Form\n", "menu Make Coffee\n"}) {
    ScriptPort bad(text, log);
    Program p(*ws_, bad);
    EXPECT_EQ(RunScript(p, bad), 1) << text;
    EXPECT_TRUE(p.ended) << text;
  }
}

}  // namespace
}  // namespace orv
