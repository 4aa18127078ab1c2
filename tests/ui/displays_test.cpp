// What the commands put in front of the user: the pictures of the tuning loops, the result of
// auto-calibration, the status lines and prompts after the state they describe has ended, and the
// progress of long work.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "analysis/auto_calibration.h"
#include "graphics/calibration_graphs.h"
#include "graphics/plot.h"
#include "tests/support/fake_port.h"
#include "tests/support/workspace_test.h"
#include "ui/commands.h"

namespace orv {
namespace {

using testing::FakePort;

class DisplaysTest : public testing::WorkspaceTest {
 protected:
  DisplaysTest() : WorkspaceTest("orv_displays_") {}
  void SetUp() override {
    WorkspaceTest::SetUp();
    port_.fallback = [](DialogRequest&) { return true; };
    program_ = std::make_unique<Program>(*ws_, port_);
    ASSERT_TRUE(ProgramEntry(*program_));
  }
  void TearDown() override {
    program_.reset();
    WorkspaceTest::TearDown();
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

  FakePort port_;
  std::unique_ptr<Program> program_;
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

}  // namespace
}  // namespace orv
