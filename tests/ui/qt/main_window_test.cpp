#include "ui/qt/main_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <cmath>
#include <filesystem>

#include "graphics/plot.h"
#include "graphics/qt/qt_canvas.h"
#include "tests/support/fake_port.h"
#include "tests/support/workspace_test.h"
#include "ui/commands.h"
#include "ui/qt/image_view.h"
#include "ui/qt/qt_port.h"

namespace orv {
namespace {

class MainWindowTest : public testing::WorkspaceTest {
 protected:
  MainWindowTest() : WorkspaceTest("orv_qt_main_") {}
  void SetUp() override {
    WorkspaceTest::SetUp();
    program_ = std::make_unique<Program>(*ws_, port_);
    program_->graphSurface = &surface_;
    program_->fitSurface = &fitSurface_;
    window_ = std::make_unique<TForm1>(*program_);
    port_.SetMainWindow(window_.get());
    // Dialogs are accepted as preset; message boxes close with their first button.
    port_.modalHook = [](QDialog& d) {
      if (auto* box = dynamic_cast<QMessageBox*>(&d))
        box->buttons().front()->click();
      else
        d.accept();
      return d.result();
    };
    ASSERT_TRUE(ProgramEntry(*program_));
    window_->Refresh();
  }
  void TearDown() override {
    window_.reset();
    program_.reset();
    WorkspaceTest::TearDown();
  }
  void Trigger(const std::string& caption) {
    QAction* a = window_->Action(caption);
    ASSERT_NE(a, nullptr) << caption;
    a->trigger();
  }
  void ClickFullSurface(int designX, int designY) {
    ImageView* view = window_->fullSurface();
    // The first screen pixel that shows the design pixel.
    const QPointF at(std::ceil(designX * port_.scale()), std::ceil(designY * port_.scale()));
    QMouseEvent press(QEvent::MouseButtonPress, at, view->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(view, &press);
  }

  QtCanvas surface_{600, 424};
  QtCanvas fitSurface_{320, 264};
  QtPort port_;
  std::unique_ptr<Program> program_;
  std::unique_ptr<TForm1> window_;
};

TEST_F(MainWindowTest, MenusFollowTheCommandTableAndRunCommands) {
  for (const Command& c : CommandTable()) {
    if (!c.run) continue;
    QAction* a = window_->Action(c.caption);
    ASSERT_NE(a, nullptr) << c.caption;
    EXPECT_EQ(a->isEnabled(), DisabledAtStartUp().count(NormaliseCaption(c.caption)) == 0) << c.caption;
  }
  Trigger("&Test");  // the test spectra dialog, accepted as preset
  EXPECT_EQ(ws_->state.graphMode, 1);
  Trigger("Graph the Spectrum");
  EXPECT_EQ(window_->fullSurface()->image(), &surface_.image());
  EXPECT_FALSE(window_->Button(WindowButton::kNextCadre)->isVisibleTo(window_.get()));
  Trigger("Graph the Interval");
  EXPECT_TRUE(window_->Button(WindowButton::kNextCadre)->isVisibleTo(window_.get()));
  Trigger("Clear the Form");
  EXPECT_EQ(ws_->state.graphMode, 0);
  EXPECT_FALSE(window_->fullSurface()->isVisibleTo(window_.get()));
  EXPECT_FALSE(window_->Button(WindowButton::kNextCadre)->isVisibleTo(window_.get()));
}

// What a user can see change: the status lines, the prompt, the two surfaces and the graph mode.
struct Seen {
  std::string line1, line2, prompt;
  bool line1Shown = false, fullShown = false, fitShown = false;
  QImage full, fit;
  int graphMode = 0;
  bool operator==(const Seen&) const = default;
};

TEST_F(MainWindowTest, EveryMenuItemRunsItsCommandAndTheDisabledOnesDoNothing) {
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir_);  // pictures and tables are written beside the workspace
  Trigger("&Test");
  Trigger("Automatic Spectrum Marking");
  int modals = 0;
  port_.modalHook = [&](QDialog& d) {
    if (++modals > 40 || dynamic_cast<QFileDialog*>(&d)) {
      d.reject();
    } else if (auto* box = dynamic_cast<QMessageBox*>(&d)) {
      box->buttons().front()->click();
    } else {
      d.accept();
    }
    return d.result();
  };
  auto seen = [&] {
    return Seen{window_->statusLine(1)->text().toStdString(),
                window_->statusLine(2)->text().toStdString(),
                window_->prompt()->text().toStdString(),
                window_->statusLine(1)->isVisibleTo(window_.get()),
                window_->fullSurface()->isVisibleTo(window_.get()),
                window_->fitSurface()->isVisibleTo(window_.get()),
                surface_.image().copy(),
                fitSurface_.image().copy(),
                ws_->state.graphMode};
  };
  for (const Command& c : CommandTable()) {
    if (!c.run || c.caption == "&Exit") continue;
    SCOPED_TRACE(c.caption);
    const bool disabled = DisabledAtStartUp().count(NormaliseCaption(c.caption)) > 0;
    modals = 0;
    const Seen before = seen();
    Trigger(c.caption);
    const Seen after = seen();
    if (disabled) {
      EXPECT_EQ(modals, 0);
      EXPECT_TRUE(before == after);
      continue;
    }
    EXPECT_TRUE(modals > 0 || !(before == after)) << "nothing asked, drawn or reported";
    // Commands that wait for clicks get them, so the menus are free for the next one.
    for (int k = 0; k < 3 && program_->clickMode != ClickMode::kNone; ++k) {
      if (window_->Button(WindowButton::kOk)->isVisibleTo(window_.get()))
        window_->Button(WindowButton::kOk)->click();
      else
        ClickFullSurface(300 + 20 * k, 150);
    }
    EXPECT_EQ(program_->clickMode, ClickMode::kNone);
  }
  std::filesystem::current_path(previous);
}

TEST_F(MainWindowTest, ClicksOnTheGraphReachTheProgramInDesignPixels) {
  port_.LayoutWindows(1.25, 10);
  Trigger("&Test");
  Trigger("Graph the Spectrum");
  Trigger("Cut the Cadre (Zoom)");
  EXPECT_EQ(program_->clickMode, ClickMode::kCut);
  // While the clicks are awaited only Calibration and Test respond.
  EXPECT_FALSE(window_->Menu("&File")->menuAction()->isEnabled());
  EXPECT_TRUE(window_->Menu("&Calibration")->menuAction()->isEnabled());

  const int first = ws_->state.viewFirst + ws_->state.viewWidth / 4;
  const int last = ws_->state.viewFirst + ws_->state.viewWidth / 2;
  ClickFullSurface(ChannelToPixelX(ws_->state, last), 200);  // reverse order gives the same window
  ClickFullSurface(ChannelToPixelX(ws_->state, first), 200);
  EXPECT_EQ(program_->clickMode, ClickMode::kNone);
  EXPECT_NEAR(ws_->state.viewFirst, first, 1);
  EXPECT_NEAR(ws_->state.viewLast, last, 1);
  EXPECT_TRUE(window_->Menu("&File")->menuAction()->isEnabled());
}

TEST_F(MainWindowTest, ManualMarkingShowsItsButtonsAndClosingEndsTheProgram) {
  Trigger("&Test");
  Trigger("Graph the Spectrum");
  Trigger("Mark the Peaks ");
  EXPECT_EQ(program_->clickMode, ClickMode::kManualMarking);
  EXPECT_TRUE(window_->Button(WindowButton::kCancel)->isVisibleTo(window_.get()));
  window_->Button(WindowButton::kOk)->click();
  EXPECT_EQ(program_->clickMode, ClickMode::kNone);
  EXPECT_FALSE(window_->Button(WindowButton::kOk)->isVisibleTo(window_.get()));

  ws_->state.resultsUnsaved = true;
  port_.modalHook = [](QDialog& d) {
    auto& box = dynamic_cast<QMessageBox&>(d);
    box.button(QMessageBox::No)->click();  // "Results not saved. Quit?" - No
    return box.result();
  };
  EXPECT_FALSE(window_->close());
  EXPECT_FALSE(program_->ended);
  ws_->state.resultsUnsaved = false;
  EXPECT_TRUE(window_->close());
  EXPECT_TRUE(program_->ended);
}

TEST_F(MainWindowTest, IntervalFitByButtonsEqualsSpectrumFit) {
  // The second test spectrum, automatic marking, then the interval fit walked with the Next button.
  std::vector<std::string> captions;
  port_.modalHook = [&](QDialog& d) {
    captions.push_back(d.windowTitle().toStdString());
    if (auto* group = d.findChild<QGroupBox*>("RadioGroup1");
        group && d.windowTitle() == "   Set Test Spectra")
      group->findChildren<QRadioButton*>().at(1)->setChecked(true);
    d.findChild<QPushButton*>("Button1")->click();  // OK
    return d.result();
  };
  Trigger("&Test");
  EXPECT_EQ(ws_->spectrum.fileName, "negr.spc");
  Trigger("Automatic Spectrum Marking");
  ASSERT_GT(ws_->marking.intervalCount, 2);
  captions.clear();
  Trigger("Interval  Fit");
  ASSERT_TRUE(program_->fitSession && program_->fitSession->Active());
  EXPECT_EQ(captions.size(), 1u);  // the fitting-data dialog
  EXPECT_TRUE(window_->fitSurface()->isVisibleTo(window_.get()));
  EXPECT_FALSE(window_->fullSurface()->isVisibleTo(window_.get()));
  EXPECT_EQ(window_->resultGrid()->rowCount(), static_cast<int>(program_->fitSession->Grid().size()));
  EXPECT_EQ(window_->resultGrid()->item(0, 1)->text(), " Channel");
  EXPECT_FALSE(window_->Button(WindowButton::kPrevious)->isEnabled());
  QPushButton* next = window_->Button(WindowButton::kNext);
  EXPECT_EQ(next->text(), "Next ");
  int intervals = 1;
  while (next->isEnabled() && next->isVisibleTo(window_.get()) && intervals <= ws_->marking.intervalCount) {
    next->click();
    ++intervals;
  }
  EXPECT_EQ(intervals, ws_->marking.intervalCount);
  EXPECT_TRUE(program_->fitSession->AtLastInterval());
  EXPECT_TRUE(ws_->state.resultsUnsaved);

  // The same spectrum fitted at once through the command table, in a workspace of its own.
  const std::filesystem::path batchDir = dir_ / "batch";
  std::filesystem::create_directories(batchDir);
  Workspace batch(batchDir.string());
  testing::FakePort batchPort;
  batchPort.fallback = [](DialogRequest&) { return true; };
  Program batchProgram(batch, batchPort);
  ASSERT_TRUE(ProgramEntry(batchProgram));
  batchPort.answers.push_back(testing::ChooseRadio(2));
  ASSERT_EQ(RunCommand(batchProgram, "Test"), CommandStatus::kDone);
  ASSERT_EQ(RunCommand(batchProgram, "Automatic Spectrum Marking"), CommandStatus::kDone);
  ASSERT_EQ(RunCommand(batchProgram, "Spectrum  Fit"), CommandStatus::kDone);

  ASSERT_EQ(ws_->state.resultCount, batch.state.resultCount);
  ASSERT_EQ(ws_->state.resultCount, ws_->marking.peakCount);
  for (int r = 1; r <= ws_->state.resultCount; ++r) {
    SCOPED_TRACE(r);
    const ResultRow &a = ws_->results[r], &b = batch.results[r];
    for (auto field :
         {&ResultRow::channel, &ResultRow::area, &ResultRow::width, &ResultRow::criterion,
          &ResultRow::background, &ResultRow::channelError, &ResultRow::areaError, &ResultRow::widthError})
      EXPECT_EQ(a.*field, b.*field);
  }
  ExitCommand(batchProgram, false);
}

}  // namespace
}  // namespace orv
