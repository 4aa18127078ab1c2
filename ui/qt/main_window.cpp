#include "ui/qt/main_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QTableWidget>
#include <algorithm>
#include <cmath>

#include "graphics/graphs.h"
#include "graphics/qt/qt_canvas.h"
#include "ui/commands.h"
#include "ui/qt/dialog_form.h"
#include "ui/qt/image_view.h"

namespace orv {

namespace {

constexpr int kFormWidth = 630;
constexpr int kFormHeight = 520;
// The status lines and the prompt sit below the graphs and the button row, across the whole window,
// so that they never hide a plot and are never cut at the window's edge.
constexpr int kTextLeft = 5, kTextWidth = 620;
constexpr int kStatusTop = 456;  // the second line and the prompt follow below

// The buttons with their captions, names and design rectangles; the fit's buttons sit right of the fit
// graph, below the status lines and above the prompt.
struct ButtonSpec {
  WindowButton button;
  const char* caption;
  const char* name;
  int left, top, width, height;
};
constexpr ButtonSpec kButtons[] = {
    {WindowButton::kOk, "OK", "Button10", 10, 430, 60, 22},
    {WindowButton::kCancel, "Cancel", "Button11", 80, 430, 60, 22},
    {WindowButton::kPreviousCadre, "Previous Cadre", "Button13", 330, 430, 110, 22},
    {WindowButton::kNextCadre, "Next Cadre", "Button12", 450, 430, 110, 22},
    {WindowButton::kPrevious, "Previous ", "Button4", 330, 100, 110, 22},
    {WindowButton::kNext, "Next ", "Button2", 450, 100, 110, 22},
    {WindowButton::kChange, "Change", "Button1", 330, 130, 110, 22},
    {WindowButton::kFitToBitmap, "Fit -> BMP", "Button9", 450, 130, 110, 22},
    {WindowButton::kGraphSinglePeaks, "Graph Single Peaks", "Button14", 330, 160, 230, 22},
};

QLabel* ColouredLabel(QWidget* parent, const char* name, const char* css) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  label->setStyleSheet(css);
  QFont f = label->font();
  f.setBold(true);
  label->setFont(f);
  label->setWordWrap(true);
  label->hide();
  return label;
}

void SetLabel(QLabel* label, const std::string& text) {
  label->setText(QString::fromStdString(text));
  label->setVisible(!text.empty());
  label->raise();
}

}  // namespace

TForm1::TForm1(Program& program, QWidget* parent) : QMainWindow(parent), p_(program) {
  setObjectName("TForm1");
  setWindowTitle(kBanner);
  BuildMenus();
  BuildControls();
  LayoutWindows(1.0, 10);
  ClearForm();
}

void TForm1::BuildMenus() {
  QMenu* menu = nullptr;
  std::string menuName;
  for (const Command& c : CommandTable()) {
    if (c.menu == "&Test") {
      // Test is an item of the menu bar itself.
      QAction* a = menuBar()->addAction(QString::fromStdString(c.caption));
      connect(a, &QAction::triggered, this, [this, caption = c.caption] { Run(caption); });
      items_.emplace_back(c.caption, a);
      continue;
    }
    if (!menu || c.menu != menuName) {
      menuName = c.menu;
      menu = menuBar()->addMenu(QString::fromStdString(c.menu));
      menus_.emplace_back(c.menu, menu);
    }
    if (!c.run) {
      menu->addSeparator();
      continue;
    }
    QAction* a = menu->addAction(QString::fromStdString(c.caption));
    connect(a, &QAction::triggered, this, [this, caption = c.caption] { Run(caption); });
    items_.emplace_back(c.caption, a);
  }
}

void TForm1::BuildControls() {
  area_ = new QWidget(this);
  area_->setObjectName("FormArea");
  setCentralWidget(area_);

  image3_ = new ImageView(area_);
  image3_->setObjectName("Image3");
  image3_->setDesignSize(QSize(kGraphWidth, kGraphHeight));
  image3_->onClick = [this](int x, int y) {
    GraphClickAt(p_, x, y);
    Refresh();
  };
  image1_ = new ImageView(area_);
  image1_->setObjectName("Image1");
  image1_->setDesignSize(QSize(kFitSurfaceWidth, kFitSurfaceHeight));
  image1_->onClick = [this](int x, int y) { FitClick(x, y); };

  grid_ = new QTableWidget(area_);
  grid_->setObjectName("StringGrid6");
  grid_->setColumnCount(kFitGridColumns);
  grid_->horizontalHeader()->hide();
  grid_->verticalHeader()->hide();
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->setStyleSheet("QTableWidget { color: white; background-color: blue; gridline-color: navy; }");

  for (const ButtonSpec& b : kButtons) {
    auto* button = new QPushButton(b.caption, area_);
    button->setObjectName(b.name);
    connect(button, &QPushButton::clicked, this, [this, which = b.button] { Press(which); });
    buttons_[b.button] = button;
  }

  status1_ = ColouredLabel(area_, "Label1", "QLabel { color: yellow; background-color: blue; }");
  status2_ = ColouredLabel(area_, "Label2", "QLabel { color: yellow; background-color: blue; }");
  prompt_ = ColouredLabel(area_, "Label3", "QLabel { color: white; background-color: blue; }");
}

QtCanvas* TForm1::Surface(ImageCanvas* canvas) const {
  return dynamic_cast<QtCanvas*>(canvas);
}

void TForm1::Place(QWidget* w, int left, int top, int width, int height) const {
  w->setGeometry(Scaled(left, scale_), Scaled(top, scale_), Scaled(width, scale_), Scaled(height, scale_));
}

void TForm1::LayoutWindows(double scale, int fontSize) {
  scale_ = scale;
  QFont f = font();
  f.setPointSize(fontSize);
  setFont(f);
  Place(image3_, 0, 0, 600, 424);
  Place(image1_, 0, 0, kFitSurfaceWidth, kFitSurfaceHeight);
  Place(grid_, 0, 268, 600, 160);
  for (const ButtonSpec& b : kButtons) Place(buttons_.at(b.button), b.left, b.top, b.width, b.height);
  // The lines are as high as their font needs, so a large font is never cut; the window grows with them.
  QFont bold = f;
  bold.setBold(true);
  const int line = std::max(Scaled(18, scale), QFontMetrics(bold).height() + 2);
  const int left = Scaled(kTextLeft, scale), width = Scaled(kTextWidth, scale);
  status1_->setGeometry(left, Scaled(kStatusTop, scale), width, line);
  status2_->setGeometry(left, status1_->geometry().bottom() + 1, width, line);
  prompt_->setGeometry(left, status2_->geometry().bottom() + 3, width, line + 2);
  area_->setFixedSize(
      Scaled(kFormWidth, scale),
      std::max(Scaled(kFormHeight, scale), prompt_->geometry().bottom() + 1 + Scaled(4, scale)));
  grid_->verticalHeader()->setDefaultSectionSize(std::max(Scaled(18, scale), QFontMetrics(f).height() + 4));
  // The surfaces hold the screen's pixels at this scale, with a font to match, so the graphs are
  // drawn sharp rather than stretched; every image is cleared by a new layout.
  if (QtCanvas* c = Surface(p_.graphSurface))
    c->Resize(Scaled(kGraphWidth, scale), Scaled(kGraphHeight, scale));
  if (QtCanvas* c = Surface(p_.fitSurface))
    c->Resize(Scaled(kFitSurfaceWidth, scale), Scaled(kFitSurfaceHeight, scale));
  for (ImageCanvas* c : {p_.graphSurface, p_.fitSurface}) {
    if (QtCanvas* q = Surface(c)) q->setFontSize(static_cast<int>(std::lround(10 * scale)));
    if (c) c->Fill(0, 0, c->width() - 1, c->height() - 1, kBlack);
  }
  adjustSize();
  Refresh();
}

void TForm1::ShowStatus(const std::string& line1, const std::string& line2) {
  SetLabel(status1_, line1);
  SetLabel(status2_, line2);
  progressShown_ = false;
}

void TForm1::ShowProgress(const std::string& what, int done, int total) {
  if (done >= total) {
    // The work is over: the line shows again what it showed before.
    if (progressShown_) SetLabel(status2_, savedStatus2_);
    progressShown_ = false;
    return;
  }
  // Repainting costs more than a small step of the work: at most ten times a second.
  if (progressShown_ && progressClock_.isValid() && progressClock_.elapsed() < 100) return;
  if (!progressShown_) savedStatus2_ = status2_->text().toStdString();
  progressShown_ = true;
  progressClock_.start();
  SetLabel(status2_, what + ": " + std::to_string(done) + " of " + std::to_string(total) + " done");
  status2_->repaint();
  // Paint events only: a click or key now would run a command inside the one that is working.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TForm1::ShowPrompt(const std::string& text) {
  SetLabel(prompt_, text);
}

void TForm1::EnableMainMenu(bool on) {
  menuOn_ = on;
  for (const auto& [name, menu] : menus_)
    if (name != "&Calibration") menu->menuAction()->setEnabled(on);
}

void TForm1::ClearForm() {
  grid_->hide();
  for (QLabel* l : {status1_, status2_, prompt_}) {
    l->clear();
    l->hide();
  }
  for (auto& [which, button] : buttons_) button->hide();
  image1_->hide();
  image3_->hide();
  if (QtCanvas* c = Surface(p_.graphSurface)) clearedImage_ = c->image().copy();
}

void TForm1::Refresh() {
  QtCanvas* full = Surface(p_.graphSurface);
  QtCanvas* fit = Surface(p_.fitSurface);
  image3_->setImage(full ? &full->image() : nullptr);
  image1_->setImage(fit ? &fit->image() : nullptr);

  const AnalysisState& st = p_.ws.state;
  const bool fitShown = p_.fitSession && p_.fitSession->Active() && st.graphMode == 2;
  const bool graphShown =
      !fitShown && full && (st.graphMode != 0 || (!clearedImage_.isNull() && full->image() != clearedImage_));
  image3_->setVisible(graphShown);
  image1_->setVisible(fitShown && fit);
  grid_->setVisible(fitShown);
  if (fitShown) FillGrid();

  const bool marking = p_.clickMode == ClickMode::kManualMarking;
  buttons_.at(WindowButton::kOk)->setVisible(marking);
  buttons_.at(WindowButton::kCancel)->setVisible(marking);
  const bool stepping = graphShown && st.cadreStepping == 1 && p_.clickMode == ClickMode::kNone;
  buttons_.at(WindowButton::kNextCadre)->setVisible(stepping);
  buttons_.at(WindowButton::kPreviousCadre)->setVisible(stepping);
  for (WindowButton b : {WindowButton::kNext, WindowButton::kPrevious, WindowButton::kChange,
                         WindowButton::kFitToBitmap, WindowButton::kGraphSinglePeaks})
    buttons_.at(b)->setVisible(fitShown);
  if (fitShown) {
    buttons_.at(WindowButton::kNext)->setEnabled(p_.fitSession->NextEnabled());
    buttons_.at(WindowButton::kPrevious)->setEnabled(p_.fitSession->PreviousEnabled());
  }

  if (menuOn_ != p_.menuEnabled) EnableMainMenu(p_.menuEnabled);
  for (const auto& [caption, action] : items_)
    action->setEnabled(p_.disabledCommands.count(NormaliseCaption(caption)) == 0);

  for (QWidget* w :
       {static_cast<QWidget*>(status1_), static_cast<QWidget*>(status2_), static_cast<QWidget*>(prompt_)})
    w->raise();
  image1_->update();
  image3_->update();
}

void TForm1::FillGrid() {
  const auto& rows = p_.fitSession->Grid();
  grid_->setRowCount(static_cast<int>(rows.size()));
  for (int r = 0; r < static_cast<int>(rows.size()); ++r)
    for (int c = 0; c < kFitGridColumns; ++c) {
      const QString text = c < static_cast<int>(rows[r].size()) ? QString::fromStdString(rows[r][c]) : "";
      if (QTableWidgetItem* item = grid_->item(r, c))
        item->setText(text);
      else
        grid_->setItem(r, c, new QTableWidgetItem(text));
    }
  grid_->resizeColumnsToContents();
}

void TForm1::Run(const std::string& caption) {
  RunCommand(p_, caption);
  Refresh();
  if (p_.ended) close();
}

void TForm1::Press(WindowButton button) {
  PressButton(p_, button);
  Refresh();
}

void TForm1::FitClick(int x, int) {
  if (!p_.fitSession || p_.fitSession->WaitingFor() == FitClickMode::kNone) return;
  const IntervalFitState& fs = p_.ws.fit;
  GraphClick(p_, FitClickToChannel(fs.startChannel, fs.endChannel - fs.startChannel + 1, x));
  Refresh();
}

QAction* TForm1::Action(const std::string& caption) const {
  for (const auto& [c, action] : items_)
    if (c == caption) return action;
  return nullptr;
}

QMenu* TForm1::Menu(const std::string& caption) const {
  for (const auto& [c, menu] : menus_)
    if (c == caption) return menu;
  return nullptr;
}

QPushButton* TForm1::Button(WindowButton button) const {
  return buttons_.at(button);
}

void TForm1::keyPressEvent(QKeyEvent* event) {
  // Esc ends every click mode; the controls of the window leave the key to it.
  if (event->key() != Qt::Key_Escape) {
    QMainWindow::keyPressEvent(event);
    return;
  }
  EscapeClickMode(p_);
  Refresh();
  event->accept();
}

void TForm1::closeEvent(QCloseEvent* event) {
  // Closing the window is "&Exit": it may ask about unsaved results and stay open.
  if (!p_.ended && !ExitCommand(p_)) {
    event->ignore();
    return;
  }
  event->accept();
}

}  // namespace orv
