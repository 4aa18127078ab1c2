// The program shell and its commands without a window: start-up and exit, clicks, scripted runs,
// what the commands show, and the automatic analysis as a command.
#include "ui/commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <set>
#include <sstream>
#include <tuple>

#include "analysis/auto_calibration.h"
#include "graphics/automatic_graph.h"
#include "graphics/calibration_graphs.h"
#include "graphics/memory_canvas.h"
#include "graphics/plot.h"
#include "tests/support/fake_port.h"
#include "tests/support/synthetic.h"
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

// What the commands put in front of the user: the pictures of the tuning loops, the result of
// auto-calibration, the status lines and prompts after the state they describe has ended, and the
// progress of long work. The program is started, as the commands find it.
class DisplaysTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    ASSERT_TRUE(ProgramEntry(*program_));
  }
  // The dialogs shown so far whose caption begins with `caption`.
  std::vector<const DialogRequest*> Shown(const std::string& caption) const {
    std::vector<const DialogRequest*> out;
    for (const DialogRequest& r : port_.shown)
      if (r.caption.rfind(caption, 0) == 0) out.push_back(&r);
    return out;
  }
  std::string LastStatus() const { return port_.statuses.empty() ? "" : port_.statuses.back(); }
  std::string LastPrompt() const { return port_.prompts.empty() ? "" : port_.prompts.back(); }
};

// A picture holding both the counts and the fitted curve in their default colours.
bool ShowsDataAndFit(const DialogImage& image) {
  const std::set<std::uint32_t> colours(image.pixels.begin(), image.pixels.end());
  return colours.count(0xFF00FF) && colours.count(0x00FFFF);
}

TEST_F(DisplaysTest, TuningLoopsDrawBothCurvesInTheirDialog) {
  ASSERT_EQ(RunCommand(*program_, "&Test"), CommandStatus::kDone);
  for (const char* command : {"Smooth the Spectrum", "Build the Background"}) {
    SCOPED_TRACE(command);
    port_.shown.clear();
    // One step of more smoothing, then Quit: two showings of the loop.
    port_.answers = {[](DialogRequest&) { return true; }, testing::ChooseRadio(2), testing::ChooseRadio(3)};
    RunCommand(*program_, command);
    const auto loop = Shown(std::string(command)[0] == 'S' ? "Smoothing: less or more" : "Background: less");
    ASSERT_EQ(loop.size(), 2u);
    for (const DialogRequest* r : loop) {
      ASSERT_TRUE(r->image);
      const DialogImage& im = *r->image;
      EXPECT_EQ(im.pixels.size(), static_cast<std::size_t>(im.width * im.height));
      EXPECT_TRUE(ShowsDataAndFit(im));
      // The picture lies between the prompts and the buttons, clear of the choices.
      EXPECT_GT(im.top, r->radio1->top + r->radio1->height);
      for (const DialogLabel& l : r->labels) EXPECT_LT(l.top + 18, im.top);
      EXPECT_LT(im.top + im.height, 375);
    }
    // Each showing draws the curve of its own step.
    EXPECT_NE(loop[0]->image->pixels, loop[1]->image->pixels);
  }

  // The smoothing of the measured peak model draws into its dialog as well.
  port_.shown.clear();
  RunCommand(*program_, "Graph the Spectrum");
  RunCommand(*program_, "Mark the Peak Model");
  int top = ws_->spectrum.b1 + 1;
  for (int ch = ws_->spectrum.b1; ch <= ws_->spectrum.b2; ++ch)
    if (ws_->spectrum.sp[ch] > ws_->spectrum.sp[top]) top = ch;
  port_.answers = {[](DialogRequest&) { return true; }, testing::ChooseRadio(3)};
  GraphClick(*program_, top - 12);
  GraphClick(*program_, top + 12);
  const auto model = Shown("Real peak model smoothing");
  ASSERT_EQ(model.size(), 1u);
  ASSERT_TRUE(model[0]->image);
  EXPECT_TRUE(ShowsDataAndFit(*model[0]->image));
}

TEST_F(DisplaysTest, AutoCalibrationShowsTheLineFoundAndPutsItInForceOnlyWhenTicked) {
  const ReferenceSample& ra = ReferenceSamples().front();
  // Nine marked peaks on the line energy = 0.7 * channel + 12, plus one that matches nothing.
  ws_->marking.peakCount = 10;
  for (int i = 0; i < 9; ++i) ws_->marking.peakList[i + 1] = (ra.energies[i] - 12) / 0.7;
  ws_->marking.peakList[10] = 3900;
  ASSERT_FALSE(ws_->state.energyCalibrated);

  port_.answers = {testing::ChooseRadio(1), [](DialogRequest&) { return true; }};  // box left unticked
  RunCommand(*program_, "Auto-Calibration");
  const auto shown = Shown("Auto-calibration: Ra-226");
  ASSERT_EQ(shown.size(), 1u);
  const DialogRequest& r = *shown[0];
  // Which subset wins is the search's rule; the display shows the pairing it chose.
  const AutoCalibration& best = ws_->autoCalibration;
  ASSERT_GE(best.size, 3);
  const std::string matches = std::to_string(best.size) + " of 9";
  std::vector<std::string> texts;
  for (const DialogLabel& l : r.labels) texts.push_back(l.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"Line found:", "E = 0.70000 * chan", "  + 12.00",
                                             "Matches: " + matches, "Ra-226 lines", "Accuracy: 0.00 %"}));
  ASSERT_TRUE(r.checkBox);
  EXPECT_EQ(r.checkBox->caption, "Put this calibration in force");
  EXPECT_FALSE(r.checkBox->checked);
  // Every matched pair is marked on the picture; the listing has a line per pair under its heading.
  EXPECT_GE(std::count(r.image->pixels.begin(), r.image->pixels.end(), 0xFF4040u), best.size * 10);
  EXPECT_EQ(r.textArea->lines.size(), static_cast<std::size_t>(best.size + 1));
  EXPECT_FALSE(ws_->state.energyCalibrated);  // not ticked: nothing changes
  EXPECT_EQ(LastStatus(), " Auto-calibration done: " + matches + " Ra-226 lines matched|");

  port_.answers = {testing::ChooseRadio(1), [](DialogRequest& d) {
                     d.checkBox->checked = true;
                     return true;
                   }};
  RunCommand(*program_, "Auto-Calibration");
  ASSERT_TRUE(EnergyCalibrationInForce(ws_->state));
  for (double channel : {100.0, 1500.0, 3000.0})
    EXPECT_NEAR(ApplyCalibrations(ws_->state, ws_->calibration, channel, 0, 0, 0).energy, 0.7 * channel + 12,
                1e-3);
  EXPECT_EQ(LastStatus(),
            " Auto-calibration done: " + matches + " Ra-226 lines matched| Energy calibration set up");
  // The search told how far it was, and that it ended.
  ASSERT_FALSE(port_.progress.empty());
  EXPECT_EQ(port_.progress.back(), "Auto-calibration 36/36");  // pairs of lines tried
}

TEST_F(DisplaysTest, StatusLinesTellWhatIsTrue) {
  ASSERT_EQ(RunCommand(*program_, "&Test"), CommandStatus::kDone);
  RunCommand(*program_, "Automatic Spectrum Marking");
  ASSERT_GT(ws_->marking.intervalCount, 1);

  // The interval fit's display goes when a batch fit takes over, and the spectrum comes back.
  RunCommand(*program_, "Interval  Fit");
  ASSERT_TRUE(program_->fitSession->Active());
  port_.okCancel = false;  // "Previous fit results not saved": Cancel keeps the display as it is
  RunCommand(*program_, "Spectrum  Fit");
  EXPECT_TRUE(program_->fitSession->Active() && ws_->state.graphMode == 2);
  port_.okCancel = true;
  port_.progress.clear();
  RunCommand(*program_, "Spectrum  Fit");
  EXPECT_TRUE(!program_->fitSession->Active() && ws_->state.graphMode == 3);
  EXPECT_EQ(LastStatus(), "The spectrum has been fitted.|Save the results");
  const int n = ws_->marking.intervalCount;
  ASSERT_EQ(port_.progress.size(), static_cast<std::size_t>(n + 1));
  EXPECT_EQ(port_.progress.front(), "Spectrum fit 0/" + std::to_string(n));
  EXPECT_EQ(port_.progress.back(), "Spectrum fit " + std::to_string(n) + "/" + std::to_string(n));
  PressButton(*program_, WindowButton::kNext);  // the old display's buttons do nothing now
  EXPECT_EQ(ws_->state.graphMode, 3);

  // Saving ends the reminders to save.
  const int rows = ws_->state.resultCount;
  RunCommand(*program_, "&Save the Fit Results");
  EXPECT_EQ(LastStatus(), "Results saved: " + std::to_string(rows) + " peaks|");
  EXPECT_EQ(LastPrompt(), "");

  // A later graph ends the report of an earlier command.
  RunCommand(*program_, "Correct for Blunders");
  EXPECT_NE(LastStatus().find("blunders corrected"), std::string::npos);
  RunCommand(*program_, "Graph the Interval");
  EXPECT_EQ(LastStatus(), "|");

  // "Check for Peak and Add": the prompt goes with the click it asked for.
  RunCommand(*program_, "Check for Peak and Add");
  EXPECT_EQ(LastPrompt(), "Click on the peak top");
  GraphClick(*program_, (ws_->spectrum.b1 + ws_->spectrum.b2) / 2);
  EXPECT_EQ(port_.prompts.back(), "");

  // Reading the command file says so, instead of the line left by writing it.
  RunCommand(*program_, "Save the Init File");
  EXPECT_EQ(LastStatus(), "Ini file saved as a.ini|");
  port_.files.push_back((dir_ / "a.ini").string());
  RunCommand(*program_, "Enter the Ini File");
  EXPECT_EQ(LastStatus(), "Ini file read: " + (dir_ / "a.ini").string() + "|");
}

TEST_F(DisplaysTest, EscEndsEveryClickMode) {
  ASSERT_EQ(RunCommand(*program_, "&Test"), CommandStatus::kDone);
  RunCommand(*program_, "Graph the Interval");
  const int first = ws_->state.viewFirst, last = ws_->state.viewLast;
  for (const char* command : {"Cut the Cadre (Zoom)", "Make the Interval", "Mark the Peak Model"}) {
    SCOPED_TRACE(command);
    RunCommand(*program_, command);
    ASSERT_EQ(ws_->state.graphMode, 13);
    GraphClick(*program_, first + 10);  // one click of two
    EscapeClickMode(*program_);
    EXPECT_EQ(program_->clickMode, ClickMode::kNone);
    EXPECT_TRUE(port_.menuEnabled == 1 && program_->menuEnabled);
    // The interval graph it started from.
    EXPECT_EQ(std::tuple(ws_->state.graphMode, ws_->state.viewFirst, ws_->state.viewLast),
              std::tuple(3, first, last));
    EXPECT_EQ(LastStatus(), "|");
  }
  // In manual marking Esc is OK: the clicks so far are kept.
  RunCommand(*program_, "Mark the Peaks ");
  GraphClick(*program_, first + 20);
  EscapeClickMode(*program_);
  EXPECT_EQ(std::tuple(program_->clickMode, ws_->markingInput.count, LastPrompt()),
            std::tuple(ClickMode::kNone, 1, std::string()));
}

class AutomaticCommandTest : public ShellTest {
 protected:
  // Lines of 2e3 to 2e6 counts on a continuum of about 20 per channel: more than two decades.
  void LoadLines() {
    TSpectrum& s = ws_->spectrum;
    std::vector<testing::TruePeak> lines;
    for (int k = 0; k < 8; ++k)
      lines.push_back({200.0 + 220 * k, 2e3 * std::pow(2.7, k), 3 + 0.002 * 220 * k});
    RandomGenerator g;
    for (int ch = 1; ch <= 2048; ++ch)
      s.sp[ch] = testing::PoissonDeviate(g, testing::ExpectedCount(ch, lines, 20, 0));
    s.a1 = 1;
    s.a2 = 2048;
    s.fileName = "lines.spe";
    SetInterval(ws_->state, s, 2, 2047);
    s.SetErrors(0);
    s.FindExtremes();
  }
};

TEST_F(AutomaticCommandTest, WindowCommandAsksNothingAndDrawsTheFit) {
  FakePort& port = port_;
  Program& program = *program_;
  MemoryCanvas surface(kGraphWidth, kGraphHeight);
  program.graphSurface = &surface;
  LoadLines();

  // The last command of the Operation menu.
  const std::vector<Command>& table = CommandTable();
  const Command* last = nullptr;
  for (const Command& c : table)
    if (c.menu == "&Operation" && c.run) last = &c;
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->caption, "Automatic Analysis");

  ASSERT_EQ(RunCommand(program, "Automatic Analysis"), CommandStatus::kDone);
  EXPECT_TRUE(port.dialogs.empty());
  EXPECT_TRUE(port.questions.empty());
  ASSERT_NE(program.automatic, nullptr);
  EXPECT_GE(ws_->state.resultCount, 8);
  EXPECT_EQ(ws_->state.graphMode, 3);
  EXPECT_EQ(ws_->state.scaleMode, 2);  // counts over more than two decades
  EXPECT_TRUE(ws_->state.resultsUnsaved);
  EXPECT_EQ(port.statuses.back().rfind("Automatic analysis: ", 0), 0u) << port.statuses.back();
  // The fitted curve is on the graph in the fit colour.
  const Rgb fit = ColorFromInt(ws_->state.colorFitData);
  int fitPixels = 0;
  for (int y = 0; y < kChannelLabelRow; ++y)
    for (int x = kAxisLeft; x <= kAxisRight; ++x) {
      const Rgb c = surface.PixelAt(x, y);
      fitPixels += c.red == fit.red && c.green == fit.green && c.blue == fit.blue;
    }
  EXPECT_GT(fitPixels, 50);

  // The result table shows the rows; the picture stays. A new run asks before overwriting them.
  RunCommand(program, "Show Result Table");
  EXPECT_NE(program.automatic, nullptr);
  port.okCancel = false;
  RunCommand(program, "Automatic Analysis");
  ASSERT_EQ(port.questions.size(), 1u);
  EXPECT_EQ(port.questions[0], "Previous fit results not saved");
  // Another graph command leaves the picture.
  RunCommand(program, "Graph the Spectrum");
  EXPECT_EQ(program.automatic, nullptr);
}

TEST_F(AutomaticCommandTest, ScriptsRunItByItsCaption) {
  std::ostringstream log;
  ScriptPort port(
      "menu &Test\ndialog Set Test Spectra\nradio 1\nok\nmenu Automatic Analysis\nmenu Save the Fit Results\n"
      "dialog\nok\nmenu Exit\n",
      log);
  Program program(*ws_, port);
  ASSERT_EQ(RunScript(program, port), 0) << log.str() << port.error();
  const std::string out = ReadText(dir_ / "a.res");
  EXPECT_NE(out.find("Width law FWHM(chan)= sqrt(a + b*chan): a= "), std::string::npos);
  EXPECT_NE(out.find("SUMMARY TABLE."), std::string::npos);
  EXPECT_NE(log.str().find("status: Automatic analysis: "), std::string::npos) << log.str();
}

TEST(AutomaticGraph, DecadesOfCounts) {
  TSpectrum s;
  for (int ch = 1; ch <= 100; ++ch) s.sp[ch] = 10;
  EXPECT_FALSE(SpansDecades(s, 1, 100));
  s.sp[50] = 1001;
  EXPECT_TRUE(SpansDecades(s, 1, 100));
  EXPECT_FALSE(SpansDecades(s, 1, 49));
  s.sp[20] = 0;  // empty channels do not count as the smallest
  EXPECT_FALSE(SpansDecades(s, 1, 49));
}

}  // namespace
}  // namespace orv
