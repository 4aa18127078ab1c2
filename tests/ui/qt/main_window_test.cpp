// The main window and its dialogs as a user sees them on the offscreen platform: the menus run their
// commands, clicks and keys reach the program, the status lines say what is true after a fit and
// after saving, no grid cell or prompt is cut and the texts of a graph never overlap.
#include "ui/qt/main_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QTableWidget>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>
#include <tuple>

#include "analysis/auto_calibration.h"
#include "core/numtext.h"
#include "graphics/calibration_graphs.h"
#include "graphics/graphs.h"
#include "graphics/plot.h"
#include "graphics/qt/qt_canvas.h"
#include "tests/support/fake_port.h"
#include "tests/support/synthetic.h"
#include "tests/support/workspace_test.h"
#include "ui/commands.h"
#include "ui/qt/dialog_form.h"
#include "ui/qt/image_view.h"
#include "ui/qt/qt_port.h"

namespace orv {
namespace {

// A grid cell shows its text whole when the text and the style's margins fit the cell.
void ExpectNoCellElided(const QTableWidget* grid, const std::string& where) {
  ASSERT_NE(grid, nullptr) << where;
  const QFontMetrics metrics(grid->font());
  const int margin = 2 * (grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid) + 1);
  for (int r = 0; r < grid->rowCount(); ++r)
    for (int c = 0; c < grid->columnCount(); ++c) {
      const QTableWidgetItem* item = grid->item(r, c);
      if (!item || item->text().isEmpty()) continue;
      EXPECT_LE(metrics.horizontalAdvance(item->text()) + margin, grid->columnWidth(c))
          << where << " row " << r << " column " << c << ": \"" << item->text().toStdString() << "\"";
    }
  // Every column is in view: nothing to scroll sideways.
  int columns = 0;
  for (int c = 0; c < grid->columnCount(); ++c) columns += grid->columnWidth(c);
  EXPECT_LE(columns, grid->viewport()->width()) << where;
}

// The program in its main window, started in the workspace folder (pictures and tables go there).
class MainWindowTest : public testing::WorkspaceTest {
 protected:
  MainWindowTest() : WorkspaceTest("orv_qt_main_") {}
  void SetUp() override {
    WorkspaceTest::SetUp();
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    program_ = std::make_unique<Program>(*ws_, port_);
    program_->graphSurface = &surface_;
    program_->fitSurface = &fitSurface_;
    window_ = std::make_unique<TForm1>(*program_);
    port_.SetMainWindow(window_.get());
    port_.modalHook = [this](QDialog& d) { return Answer(d); };
    ASSERT_TRUE(ProgramEntry(*program_));
    window_->Refresh();
    window_->show();
  }
  void TearDown() override {
    window_.reset();
    program_.reset();
    std::filesystem::current_path(previous_);
    WorkspaceTest::TearDown();
  }
  // Shows the window as the user would get it, lets `inspect` look at it, then answers: OK for
  // dialogs (with the radio entry queued for it, if any), the first button for message boxes.
  int Answer(QDialog& d) {
    d.show();
    QApplication::processEvents();
    if (inspect) inspect(d);
    if (auto* box = dynamic_cast<QMessageBox*>(&d)) {
      box->buttons().front()->click();
      return box->result();
    }
    if (!radioChoices.empty()) {
      if (auto* group = d.findChild<QGroupBox*>("RadioGroup1"))
        group->findChildren<QRadioButton*>().at(radioChoices.front() - 1)->setChecked(true);
      radioChoices.erase(radioChoices.begin());
    }
    d.accept();
    return d.result();
  }
  void Trigger(const std::string& caption) {
    QAction* a = window_->Action(caption);
    ASSERT_NE(a, nullptr) << caption;
    a->trigger();
    QApplication::processEvents();
  }
  void ClickFullSurface(int designX, int designY) {
    ImageView* view = window_->fullSurface();
    // The first screen pixel that shows the design pixel.
    const QPointF at(std::ceil(designX * port_.scale()), std::ceil(designY * port_.scale()));
    QMouseEvent press(QEvent::MouseButtonPress, at, view->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(view, &press);
  }
  bool Shown(const QWidget* w) const { return w->isVisibleTo(window_.get()); }
  std::string Text(QLabel* l) const { return Shown(l) ? l->text().toStdString() : ""; }
  QPushButton* Button(WindowButton b) const { return window_->Button(b); }
  bool MenuEnabled(const std::string& menu) const { return window_->Menu(menu)->menuAction()->isEnabled(); }

  std::filesystem::path previous_;
  QtCanvas surface_{600, 424};
  QtCanvas fitSurface_{320, 264};
  QtPort port_;
  std::unique_ptr<Program> program_;
  std::unique_ptr<TForm1> window_;
  std::function<void(QDialog&)> inspect;
  std::vector<int> radioChoices;
};

// What a user can see change: the status lines, the prompt, the two surfaces and the graph mode.
struct Seen {
  std::string line1, line2, prompt;
  bool line1Shown = false, fullShown = false, fitShown = false;
  QImage full, fit;
  int graphMode = 0;
  bool operator==(const Seen&) const = default;
};

TEST_F(MainWindowTest, EveryMenuItemRunsItsCommandAndTheDisabledOnesDoNothing) {
  Trigger("&Test");  // the test spectra dialog, accepted as preset
  EXPECT_EQ(ws_->state.graphMode, 1);
  Trigger("Graph the Spectrum");
  EXPECT_EQ(window_->fullSurface()->image(), &surface_.image());
  EXPECT_FALSE(Shown(Button(WindowButton::kNextCadre)));
  Trigger("Graph the Interval");
  EXPECT_TRUE(Shown(Button(WindowButton::kNextCadre)));
  Trigger("Clear the Form");
  EXPECT_EQ(ws_->state.graphMode, 0);
  EXPECT_FALSE(Shown(window_->fullSurface()));
  EXPECT_FALSE(Shown(Button(WindowButton::kNextCadre)));

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
                Shown(window_->statusLine(1)),
                Shown(window_->fullSurface()),
                Shown(window_->fitSurface()),
                surface_.image().copy(),
                fitSurface_.image().copy(),
                ws_->state.graphMode};
  };
  for (const Command& c : CommandTable()) {
    if (!c.run || c.caption == "&Exit") continue;
    SCOPED_TRACE(c.caption);
    const bool disabled = DisabledAtStartUp().count(NormaliseCaption(c.caption)) > 0;
    QAction* a = window_->Action(c.caption);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->isEnabled(), !disabled);
    modals = 0;
    const Seen before = seen();
    a->trigger();
    const Seen after = seen();
    if (disabled) {
      EXPECT_EQ(modals, 0);
      EXPECT_TRUE(before == after);
      continue;
    }
    EXPECT_TRUE(modals > 0 || !(before == after)) << "nothing asked, drawn or reported";
    // Commands that wait for clicks get them, so the menus are free for the next one.
    for (int k = 0; k < 3 && program_->clickMode != ClickMode::kNone; ++k) {
      if (Shown(Button(WindowButton::kOk)))
        Button(WindowButton::kOk)->click();
      else
        ClickFullSurface(300 + 20 * k, 150);
    }
    EXPECT_EQ(program_->clickMode, ClickMode::kNone);
  }
}

TEST_F(MainWindowTest, ClickModesEndByClicksEscAndButtonsAndClosingEndsTheProgram) {
  port_.LayoutWindows(1.25, 10);
  Trigger("&Test");
  Trigger("Graph the Spectrum");
  const QImage before = surface_.image().copy();
  Trigger("Cut the Cadre (Zoom)");
  EXPECT_EQ(program_->clickMode, ClickMode::kCut);
  // While the clicks are awaited only Calibration and Test respond.
  EXPECT_FALSE(MenuEnabled("&File"));
  EXPECT_TRUE(MenuEnabled("&Calibration"));
  // Esc, passed on by the graph to the window, ends the cut and leaves the graph as it was.
  QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(window_->fullSurface(), &esc);
  QApplication::processEvents();
  EXPECT_EQ(program_->clickMode, ClickMode::kNone);
  EXPECT_TRUE(MenuEnabled("&File"));
  EXPECT_EQ(ws_->state.graphMode, 1);
  EXPECT_EQ(surface_.image(), before);

  // Clicks reach the program in design pixels; the reverse order gives the same window.
  Trigger("Cut the Cadre (Zoom)");
  const int first = ws_->state.viewFirst + ws_->state.viewWidth / 4;
  const int last = ws_->state.viewFirst + ws_->state.viewWidth / 2;
  ClickFullSurface(ChannelToPixelX(ws_->state, last), 200);
  ClickFullSurface(ChannelToPixelX(ws_->state, first), 200);
  EXPECT_EQ(program_->clickMode, ClickMode::kNone);
  EXPECT_NEAR(ws_->state.viewFirst, first, 1);
  EXPECT_NEAR(ws_->state.viewLast, last, 1);

  // Manual marking shows its prompt and buttons; OK ends it.
  Trigger("Mark the Peaks ");
  EXPECT_EQ(program_->clickMode, ClickMode::kManualMarking);
  EXPECT_EQ(Text(window_->prompt()), " Click on the peaks, at finish - on OK");
  EXPECT_TRUE(Shown(Button(WindowButton::kCancel)));
  Button(WindowButton::kOk)->click();
  EXPECT_EQ(program_->clickMode, ClickMode::kNone);
  EXPECT_FALSE(Shown(Button(WindowButton::kOk)));

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

TEST_F(MainWindowTest, IntervalFitByButtonsEqualsSpectrumFitAndTheStatusLinesFollow) {
  // The second test spectrum, automatic marking, then the interval fit walked with the Next button.
  radioChoices = {2};
  Trigger("&Test");
  EXPECT_EQ(ws_->spectrum.fileName, "negr.spc");
  Trigger("Automatic Spectrum Marking");
  ASSERT_GT(ws_->marking.intervalCount, 2);
  int dialogs = 0;
  inspect = [&](QDialog&) { ++dialogs; };
  Trigger("Interval  Fit");
  inspect = nullptr;
  ASSERT_TRUE(program_->fitSession && program_->fitSession->Active());
  EXPECT_EQ(dialogs, 1);  // the fitting-data dialog
  EXPECT_TRUE(Shown(window_->fitSurface()));
  EXPECT_FALSE(Shown(window_->fullSurface()));
  EXPECT_EQ(window_->resultGrid()->rowCount(), static_cast<int>(program_->fitSession->Grid().size()));
  EXPECT_EQ(window_->resultGrid()->item(0, 1)->text(), " Channel");
  EXPECT_FALSE(Button(WindowButton::kPrevious)->isEnabled());
  QPushButton* next = Button(WindowButton::kNext);
  EXPECT_EQ(next->text(), "Next ");
  int intervals = 1;
  while (next->isEnabled() && Shown(next) && intervals <= ws_->marking.intervalCount) {
    next->click();
    ++intervals;
  }
  EXPECT_EQ(intervals, ws_->marking.intervalCount);
  EXPECT_TRUE(program_->fitSession->AtLastInterval());
  EXPECT_TRUE(ws_->state.resultsUnsaved);
  EXPECT_NE(Text(window_->prompt()).find("Fitting finished. Save the results."), std::string::npos);

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

  // The spectrum fit takes the interval fit's display and buttons away and shows the fitted spectrum,
  // with the status lines below the graph, never over a plot.
  Trigger("Spectrum  Fit");
  for (const QWidget* w :
       {static_cast<QWidget*>(window_->fitSurface()), static_cast<QWidget*>(window_->resultGrid()),
        static_cast<QWidget*>(next), static_cast<QWidget*>(Button(WindowButton::kPrevious))})
    EXPECT_FALSE(Shown(w));
  EXPECT_TRUE(Shown(window_->fullSurface()));
  EXPECT_EQ(Text(window_->statusLine(1)), "The spectrum has been fitted.");
  EXPECT_EQ(Text(window_->statusLine(2)), "Save the results");
  EXPECT_EQ(Text(window_->prompt()), "");
  for (int which : {1, 2})
    EXPECT_GE(window_->statusLine(which)->geometry().top(), window_->fullSurface()->geometry().bottom());
  const int rows = ws_->state.resultCount;
  Trigger("&Save the Fit Results");
  EXPECT_EQ(Text(window_->statusLine(1)), "Results saved: " + std::to_string(rows) + " peaks");
  EXPECT_EQ(Text(window_->statusLine(2)), "");
  EXPECT_EQ(Text(window_->prompt()), "");
}

TEST_F(MainWindowTest, TuningLoopDialogShowsItsCurvesAndWholePrompts) {
  Trigger("&Test");
  int pictures = 0;
  inspect = [&](QDialog& d) {
    if (!d.windowTitle().contains("less or more")) return;
    const QImage shot = d.grab().toImage();
    auto* picture = d.findChild<QLabel*>("Image1");
    ASSERT_NE(picture, nullptr);
    // The picture area holds a drawing of several colours, not one flat fill.
    const QRect area = picture->geometry();
    std::set<QRgb> colours;
    for (int y = area.top(); y <= area.bottom(); y += 2)
      for (int x = area.left(); x <= area.right(); x += 2) colours.insert(shot.pixel(x, y));
    EXPECT_GE(colours.size(), 3u);
    // The prompts are seen whole: inside the window, clear of the choices and of the picture.
    const QRect choices = d.findChild<QGroupBox*>("RadioGroup1")->geometry();
    for (const char* name : {"Label1", "Label2"}) {
      auto* label = d.findChild<QLabel*>(name);
      ASSERT_NE(label, nullptr);
      EXPECT_FALSE(label->geometry().intersects(choices)) << name;
      EXPECT_FALSE(label->geometry().intersects(area)) << name;
      EXPECT_LE(label->geometry().right(), d.width()) << name;
      EXPECT_GE(label->width(), label->sizeHint().width()) << name;
    }
    ++pictures;
  };
  radioChoices = {1, 2, 3};  // the first dialog's list, then more, then quit
  Trigger("Smooth the Spectrum");
  EXPECT_EQ(pictures, 2);
}

TEST_F(MainWindowTest, GridsAndTheResultTableShowWholeValues) {
  Trigger("&Test");
  Trigger("Automatic Spectrum Marking");
  for (double scale : {1.0, 1.25, 1.5}) {
    SCOPED_TRACE(scale);
    port_.LayoutWindows(scale, 10);
    int grids = 0;
    inspect = [&](QDialog& d) {
      auto* form = dynamic_cast<TForm2*>(&d);
      if (!form || !form->valueGrid()) return;
      const std::string where = d.windowTitle().toStdString();
      ExpectNoCellElided(form->valueGrid(), where);
      ExpectNoCellElided(d.findChild<QTableWidget*>("StringGrid2"), where + " names");
      EXPECT_LE(form->valueGrid()->geometry().right(), d.width()) << where;
      ++grids;
    };
    Trigger("&Info about the Spectrum");
    EXPECT_EQ(grids, 1);
    // "Check the parameters" of the interval fit: the parameter records, 6 numbers a row.
    Trigger("Interval  Fit");
    ASSERT_TRUE(program_->fitSession && program_->fitSession->Active());
    ExpectNoCellElided(window_->resultGrid(), "result grid");
    radioChoices = {4};
    Button(WindowButton::kChange)->click();
    EXPECT_EQ(grids, 3);  // the fitting-data dialog and the parameter array
    inspect = nullptr;
  }
  // The result table: the lines fit the list, under the captions of their columns.
  Trigger("Spectrum  Fit");
  bool seen = false;
  inspect = [&](QDialog& d) {
    auto* form = dynamic_cast<TForm2*>(&d);
    if (!form || d.windowTitle() != "   Result Table") return;
    QListWidget* list = form->listBox();
    QListWidget* header = form->listHeader();
    ASSERT_TRUE(list && header);
    const QFontMetrics metrics(list->font());
    int widest = 0;
    for (int i = 0; i < list->count(); ++i)
      widest = std::max(widest, metrics.horizontalAdvance(list->item(i)->text()));
    EXPECT_LE(widest, list->viewport()->width());  // Crit/Bckg is in view
    EXPECT_EQ(list->horizontalScrollBar()->maximum(), 0);
    // Same font, same left edge: a caption stands over its column, and the header stays put while
    // the lines scroll.
    EXPECT_EQ(header->font(), list->font());
    EXPECT_EQ(header->geometry().left(), list->geometry().left());
    EXPECT_EQ(header->visualItemRect(header->item(0)).left(), list->visualItemRect(list->item(0)).left());
    EXPECT_LE(header->geometry().bottom(), list->geometry().top());
    seen = true;
  };
  Trigger("Show Result Table");
  EXPECT_TRUE(seen);
}

TEST_F(MainWindowTest, StatusLinesHoldTheirFontAtEverySizeAndShowProgress) {
  for (int points : {8, 10, 12})
    for (double scale : {1.0, 1.25, 1.5}) {
      port_.LayoutWindows(scale, points);
      window_->ShowStatus("Results saved: 38 peaks", "Save the results");
      window_->ShowPrompt(" Click on the peaks, at finish - on OK");
      QLabel* labels[] = {window_->statusLine(1), window_->statusLine(2), window_->prompt()};
      for (int i = 0; i < 3; ++i) {
        QLabel* l = labels[i];
        EXPECT_GE(l->height(), QFontMetrics(l->font()).height()) << points << " " << scale;
        EXPECT_GE(l->width(), QFontMetrics(l->font()).horizontalAdvance(l->text())) << points << " " << scale;
        EXPECT_LE(l->geometry().bottom(), l->parentWidget()->height()) << points << " " << scale;
        EXPECT_TRUE(i == 0 || !l->geometry().intersects(labels[i - 1]->geometry())) << i;
      }
    }
  // Progress shows in the second line and leaves it to the text it replaced.
  window_->ShowStatus("The spectrum has been fitted.", "Save the results");
  window_->ShowProgress("Spectrum fit", 3, 10);
  EXPECT_EQ(Text(window_->statusLine(2)), "Spectrum fit: 3 of 10 done");
  window_->ShowProgress("Spectrum fit", 10, 10);
  EXPECT_EQ(Text(window_->statusLine(2)), "Save the results");
  EXPECT_EQ(Text(window_->statusLine(1)), "The spectrum has been fitted.");
}

TEST_F(MainWindowTest, GraphsAreDrawnAtTheScreenScale) {
  Trigger("&Test");
  port_.LayoutWindows(1.5, 10);
  Trigger("Graph the Spectrum");
  // The surface holds the screen's pixels: the axis of design y 243 lies at 364.5 -> 364 or 365.
  ASSERT_EQ(surface_.image().size(), QSize(900, 636));
  const Rgb axis = surface_.PixelAt(RoundHalfEven(300 * 1.5), RoundHalfEven(kValueBase * 1.5));
  EXPECT_TRUE(axis.green == 255 && axis.red == 0 && axis.blue == 0);
  EXPECT_EQ(surface_.fontSize(), 15);
  // The picture is shown pixel for pixel.
  EXPECT_EQ(window_->fullSurface()->size(), surface_.image().size());
}

TEST(CalibrationDialogs, TextsStayOffThePlotAndEachOther) {
  Workspace ws(std::filesystem::temp_directory_path().string());
  ResetAnalysisState(ws);
  std::tie(ws.state.energyCalibrated, ws.state.energyItemCount) = std::pair(true, 6);
  for (int i = 1; i <= 6; ++i)
    ws.calibration.energyItems[i] = {0.69989 * (400.0 * i) + 0.44 + 0.3 * (i % 2), 400.0 * i, 0.05};
  // Five of the nine Ra-226 lines matched, a little off the line.
  AutoCalibration& a = ws.autoCalibration;
  std::tie(a.sample, a.referenceCount, a.size, a.p0, a.x0, a.p1, a.criterion) =
      std::tuple("Ra-226", 9, 5, 0.69989, 1000.0, 700.33, 0.5);
  for (int i = 0; i < 5; ++i) {
    a.channels[i] = 300.0 + 400 * i;
    a.energies[i] = a.p0 * (a.channels[i] - a.x0) + a.p1 + 0.2 * (i % 2);
  }
  for (DialogRequest r :
       {BuildEnergyCalibrationGraph(ws, "(auto-calibration)"), BuildAutoCalibrationGraph(ws)})
    for (double scale : {1.0, 1.25, 1.5})
      for (int points : {10, 12}) {
        SCOPED_TRACE(r.caption + " " + std::to_string(scale) + " " + std::to_string(points));
        TForm2 form(r, scale, points, nullptr);
        form.show();
        QApplication::processEvents();
        std::vector<QWidget*> parts;
        for (QWidget* w : form.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
          if (w->isVisible() && w->objectName() != "Button1" && w->objectName() != "Button2" &&
              w->objectName() != "Button3")
            parts.push_back(w);
        ASSERT_GE(parts.size(), 4u);  // picture, labels, listing (and the check box)
        for (QWidget* w : parts) {
          EXPECT_TRUE(form.rect().contains(w->geometry())) << w->objectName().toStdString();
          if (auto* label = dynamic_cast<QLabel*>(w); label && !label->text().isEmpty()) {
            EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
          }
        }
        for (std::size_t i = 0; i < parts.size(); ++i)
          for (std::size_t j = i + 1; j < parts.size(); ++j)
            EXPECT_FALSE(parts[i]->geometry().intersects(parts[j]->geometry()))
                << parts[i]->objectName().toStdString() << " and " << parts[j]->objectName().toStdString();
        // The listing keeps one item per line.
        auto* memo = form.findChild<QPlainTextEdit*>("Memo1");
        ASSERT_NE(memo, nullptr);
        EXPECT_EQ(memo->lineWrapMode(), QPlainTextEdit::NoWrap);
      }
}

// A surface at a screen scale that records the box of every text it draws, in design pixels as it
// measures the text, and the frames of the read-outs.
class TextBoxes : public ScaledCanvas {
 public:
  using ScaledCanvas::ScaledCanvas;
  struct Box {
    QRect rect;
    std::string text;
  };
  std::vector<Box> boxes;
  std::vector<QRect> frames;

  void RoundRectangle(int x1, int y1, int x2, int y2, int r, Rgb c) override {
    frames.push_back(QRect(QPoint(x1, y1), QPoint(x2, y2)));
    ScaledCanvas::RoundRectangle(x1, y1, x2, y2, r, c);
  }
  void Text(int x, int y, const std::string& text, Rgb c, Rgb b) override {
    boxes.push_back({QRect(x, y, TextWidth(text), TextHeight()), text});
    ScaledCanvas::Text(x, y, text, c, b);
  }
  void ExpectApartAndInside(const std::string& what) const {
    for (std::size_t i = 0; i < boxes.size(); ++i) {
      EXPECT_TRUE(QRect(0, 0, width(), height()).contains(boxes[i].rect)) << what << ": " << boxes[i].text;
      for (std::size_t j = i + 1; j < boxes.size(); ++j)
        EXPECT_FALSE(boxes[i].rect.intersects(boxes[j].rect))
            << what << ": \"" << boxes[i].text << "\" and \"" << boxes[j].text << "\"";
    }
  }
};

TEST(GraphTexts, NoTwoTextsOverlapAtAnyScale) {
  Workspace ws(std::filesystem::temp_directory_path().string());
  ResetAnalysisState(ws);
  // A high narrow peak of 32365 counts and a small one on a high background; energies of 4 digits.
  testing::FillSpectrum(ws.spectrum, 4096, {{1500.3, 32365.0 * 2.0 * 1.0645, 2}, {3000, 9000, 8}}, 3000, 0,
                        nullptr);
  ws.spectrum.fileName = "a_rather_long_spectrum_file_name.spc";
  ws.state.energyCalibrated = true;
  ws.state.energyItemCount = 2;
  ws.calibration.energyItems[1] = {10, 1, 0.1};
  ws.calibration.energyItems[2] = {2876.6, 4096, 0.1};
  ws.marking.peakCount = 1;
  ws.marking.peakList[1] = 3000;
  ws.results[1] = ResultRow{3000.2, 0.1, 9000, 100, 8, 0.1, 20, 24000};
  ws.state.resultCount = 1;

  for (double scale : {1.0, 1.25, 1.5})
    for (int points : {10, static_cast<int>(std::lround(10 * scale))}) {
      SCOPED_TRACE(std::to_string(scale) + " scale, " + std::to_string(points) + " points");
      QtCanvas full(static_cast<int>(std::lround(600 * scale)), static_cast<int>(std::lround(424 * scale)),
                    points);
      for (auto [first, last] : {std::pair{1, 4096}, {1480, 1520}, {2900, 3100}}) {
        ws.state.viewFirst = first;
        ws.state.viewLast = last;
        ws.state.viewWidth = last - first + 1;
        TextBoxes graph(full, scale);
        DrawSpectrumGraph(ws, graph, LargestCount(ws.spectrum, first, last));
        graph.ExpectApartAndInside("spectrum graph " + std::to_string(first));
        // Every label is there: nine channels, nine energies, five values, two captions, two lines.
        EXPECT_EQ(graph.boxes.size(), 27u);
      }
      // The read-out of the high peak holds its whole count.
      TextBoxes readout(full, scale);
      ws.state.viewFirst = 1;
      ws.state.viewLast = 4096;
      ws.state.viewWidth = 4096;
      ASSERT_TRUE(ShowClickedPeak(ws, readout, 1500));
      readout.ExpectApartAndInside("read-out");
      ASSERT_EQ(readout.frames.size(), 1u);
      for (const auto& b : readout.boxes) EXPECT_TRUE(readout.frames[0].contains(b.rect)) << b.text;
      ASSERT_FALSE(readout.boxes.empty());
      const std::string& counts = readout.boxes[0].text;  // about 35000 counts: five digits, none cut
      EXPECT_EQ(std::count_if(counts.begin(), counts.end(), [](char c) { return c >= '0' && c <= '9'; }), 5)
          << counts;

      // The fit graph of the small peak on its high background, with its value labels and title.
      ws.fit = IntervalFitState{};
      std::tie(ws.fit.startChannel, ws.fit.endChannel, ws.fit.n, ws.fit.wInt) = std::tuple(2960, 3040, 1, 8);
      const double marks[2] = {0, 3000};
      ASSERT_TRUE(FitInterval(ws, marks, 0));
      QtCanvas fitSurface(static_cast<int>(std::lround(320 * scale)),
                          static_cast<int>(std::lround(264 * scale)), points);
      TextBoxes fit(fitSurface, scale);
      DrawFitGraph(ws, fit);
      fit.ExpectApartAndInside("fit graph");
      EXPECT_EQ(fit.boxes.size(), 6u);  // five value labels and the title
      // The small peak fills the graph: its top is near the top, the background near the base.
      const FitScale s = FitGraphScale(ws);
      EXPECT_LT(FitValueToPixelY(ws, s, FittedAt(ws, 3000).total), 30);
      EXPECT_GT(FitValueToPixelY(ws, s, FittedAt(ws, 2965).background), 200);
    }
}

}  // namespace
}  // namespace orv
