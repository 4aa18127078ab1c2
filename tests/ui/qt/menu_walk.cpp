// Walks the desktop program as a new user would, on a real display (run it under Xvfb through
// scripts/walk_menu): a whole analysis of a built-in test spectrum, then every command of the menu in
// its order. After every command, click and button, and for every window that asks something, the
// screen is saved as a numbered PNG in the folder given as the first argument, so that a person can
// look at each of them. Dialogs are answered with OK as preset (the tuning loops with Quit), message
// boxes with their first button, file selections with the files the walk names.
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>

#include "analysis/workspace.h"
#include "graphics/graphs.h"
#include "graphics/plot.h"
#include "graphics/qt/qt_canvas.h"
#include "ui/commands.h"
#include "ui/program.h"
#include "ui/qt/image_view.h"
#include "ui/qt/main_window.h"
#include "ui/qt/qt_port.h"

namespace orv {
namespace {

class Walk {
 public:
  Walk(const std::filesystem::path& out) : out_(out), ws_(out.string()), program_(ws_, port_) {
    ResetAnalysisState(ws_);
    program_.graphSurface = &surface_;
    program_.fitSurface = &fitSurface_;
    window_ = std::make_unique<TForm1>(program_);
    port_.SetMainWindow(window_.get());
    port_.modalHook = [this](QDialog& d) { return Answer(d); };
  }

  // What the next window whose title contains `title` gets instead of the default answer.
  void Plan(const std::string& title, std::function<void(QDialog&)> answer) {
    plans_.push_back({title, std::move(answer)});
  }

  bool Start() {
    step_ = "start";
    if (!ProgramEntry(program_)) return false;
    window_->Refresh();
    window_->show();
    window_->move(0, 0);
    Settle();
    Shot("main window");
    return true;
  }

  void Command(const std::string& caption) {
    std::printf("command: %s\n", caption.c_str());
    QAction* a = window_->Action(caption);
    if (!a || !a->isEnabled()) {
      std::printf("  %s\n", a ? "disabled" : "no such menu item");
      return;
    }
    Step(caption, [a] { a->trigger(); });
  }
  void Click(int x, int y, const std::string& what) {
    Step(what, [&] {
      GraphClickAt(program_, x, y);
      window_->Refresh();
    });
  }
  void Press(WindowButton b, const std::string& what) {
    Step(what, [&] { window_->Button(b)->click(); });
  }
  void Escape(const std::string& what) {
    Step(what, [&] {
      QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
      QApplication::sendEvent(window_->fullSurface(), &esc);
    });
  }

  // Leaves a click mode the command started, so that the menus are free for the next one.
  void EndClicks() {
    if (program_.clickMode == ClickMode::kManualMarking) {
      Press(WindowButton::kOk, "OK");
    } else if (program_.clickMode != ClickMode::kNone) {
      Escape("Esc");
    }
    if (program_.fitSession && program_.fitSession->WaitingFor() != FitClickMode::kNone) Escape("Esc");
  }

  static void Choose(QDialog& d, int entry) {
    if (auto* group = d.findChild<QGroupBox*>("RadioGroup1")) {
      const auto buttons = group->findChildren<QRadioButton*>();
      if (entry >= 1 && entry <= buttons.size()) buttons.at(entry - 1)->setChecked(true);
    }
  }

  Program& program() { return program_; }
  Workspace& ws() { return ws_; }

 private:
  void Step(const std::string& what, const std::function<void()>& act) {
    step_ = what;
    modals_ = 0;
    act();
    Settle();
    Shot("after");
  }

  static void Settle() {
    for (int k = 0; k < 5; ++k) {
      QApplication::processEvents();
      QThread::msleep(20);
    }
  }

  int Answer(QDialog& d) {
    const std::string title = d.windowTitle().toStdString();
    d.show();
    Settle();
    Shot("asks " + (title.empty() ? std::string("message") : title));
    if (++modals_ > 25) {  // a loop that would not end
      d.reject();
      return d.result();
    }
    for (auto it = plans_.begin(); it != plans_.end(); ++it) {
      if (title.find(it->first) == std::string::npos) continue;
      auto answer = std::move(it->second);
      plans_.erase(it);
      answer(d);
      if (d.isVisible()) d.accept();
      Settle();
      return d.result();
    }
    if (auto* box = dynamic_cast<QMessageBox*>(&d)) {
      box->buttons().front()->click();
    } else if (dynamic_cast<QFileDialog*>(&d)) {
      d.reject();
    } else {
      if (title.find("less or more") != std::string::npos ||
          title.find("model smoothing") != std::string::npos)
        Choose(d, 3);  // Quit
      d.accept();
    }
    d.hide();
    Settle();
    return d.result();
  }

  // The part of the screen that holds the windows shown.
  void Shot(const std::string& what) {
    QRect area;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->isVisible()) area |= w->frameGeometry();
    QScreen* screen = QGuiApplication::primaryScreen();
    area &= screen->geometry();
    if (area.isEmpty()) area = QRect(0, 0, 640, 480);
    const QPixmap shot = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    std::string name = step_ + " - " + what;
    for (char& c : name)
      if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    char file[512];
    std::snprintf(file, sizeof file, "%03d_%s.png", ++shots_, name.substr(0, 80).c_str());
    shot.save(QString::fromStdString((out_ / file).string()));
    std::printf("  %s\n", file);
  }

  std::filesystem::path out_;
  QtCanvas surface_{600, 424};
  QtCanvas fitSurface_{kFitSurfaceWidth, kFitSurfaceHeight};
  QtPort port_;
  Workspace ws_;
  Program program_;
  std::unique_ptr<TForm1> window_;
  std::deque<std::pair<std::string, std::function<void(QDialog&)>>> plans_;  // title part, answer
  std::string step_;
  int shots_ = 0;
  int modals_ = 0;
};

}  // namespace
}  // namespace orv

int main(int argc, char** argv) {
  using namespace orv;
  QApplication app(argc, argv);
  const std::filesystem::path out = std::filesystem::absolute(argc > 1 ? argv[1] : "walk");
  std::filesystem::create_directories(out);
  std::filesystem::current_path(out);  // pictures, tables and the output file go there
  Walk w(out);
  if (!w.Start()) return 1;

  // A whole analysis of the built-in Ra-226 test spectrum.
  w.Command("&Test");
  w.Command("Graph the Spectrum");
  // The whole analysis at once, told nothing; then the same spectrum step by step.
  w.Command("Automatic Analysis");
  w.ws().state.resultsUnsaved = false;
  const AnalysisState& st = w.ws().state;
  int top = w.ws().spectrum.b1;
  for (int ch = w.ws().spectrum.b1; ch <= w.ws().spectrum.b2; ++ch)
    if (w.ws().spectrum.sp[ch] > w.ws().spectrum.sp[top]) top = ch;
  w.Click(ChannelToPixelX(st, top), 200, "click on the highest peak");
  w.Command("Automatic Spectrum Marking");
  w.Command("Show Marked Peaks");
  w.Command("Interval  Fit");
  w.Press(WindowButton::kNext, "Next");
  w.Press(WindowButton::kNext, "Next");
  w.Press(WindowButton::kPrevious, "Previous");
  w.Plan("Menu", [](QDialog& d) { Walk::Choose(d, 4); });  // Check the parameters
  w.Press(WindowButton::kChange, "Change - Check the parameters");
  w.Press(WindowButton::kGraphSinglePeaks, "Graph Single Peaks");
  w.Plan("Reverse", [](QDialog& d) {
    auto& box = dynamic_cast<QMessageBox&>(d);
    box.button(QMessageBox::Yes)->click();
  });
  w.Press(WindowButton::kFitToBitmap, "Fit to BMP reversed");
  // The picture written, for looking at it beside the screens.
  QImage(QString::fromStdString((out / "a.bmp").string()))
      .save(QString::fromStdString((out / "fit_bmp_file.png").string()));
  w.Command("Spectrum  Fit");
  w.Command("Show Result Table");
  w.Command("&Save the Fit Results");
  w.Plan("less or more", [](QDialog& d) { Walk::Choose(d, 2); });  // one step of more smoothing
  w.Command("Smooth the Spectrum");
  w.Command("Build the Background");
  // Auto-calibration takes at most 16 peaks: the twelve highest of the marking stand for a marking
  // made with a coarser sensitivity.
  {
    Marking& mk = w.ws().marking;
    std::vector<double> peaks(mk.peakList.begin() + 1, mk.peakList.begin() + 1 + mk.peakCount);
    auto height = [&](double p) { return w.ws().spectrum.CountAt(static_cast<int>(std::lround(p))); };
    std::sort(peaks.begin(), peaks.end(), [&](double a, double b) { return height(a) > height(b); });
    peaks.resize(std::min<std::size_t>(peaks.size(), 12));
    std::sort(peaks.begin(), peaks.end());
    mk.peakCount = static_cast<int>(peaks.size());
    for (int k = 0; k < mk.peakCount; ++k) mk.peakList[k + 1] = peaks[k];
  }
  w.Plan("Auto-calibration: ", [](QDialog& d) {
    if (auto* box = d.findChild<QCheckBox*>("CheckBox1")) box->setChecked(true);
  });
  w.Command("Auto-Calibration");
  w.Command("Graph Energy Calibration");
  w.Command("Graph Peak Model");
  w.Command("Graph the Interval");
  w.Command("Cut the Cadre (Zoom)");
  w.Escape("Esc during the cut");
  w.Command("Mark the Peaks ");
  w.Click(ChannelToPixelX(st, top), 200, "click on a peak");
  w.EndClicks();
  w.Command("Mark the Peak Model");
  w.Click(ChannelToPixelX(st, top - 12), 200, "first bound");
  w.Click(ChannelToPixelX(st, top + 12), 200, "second bound");

  // Every command of the menu in its order.
  for (const Command& c : CommandTable()) {
    if (!c.run || c.caption == "&Exit") continue;
    w.Command(c.caption);
    if (w.program().clickMode == ClickMode::kCut || w.program().clickMode == ClickMode::kMakeInterval) {
      w.Click(ChannelToPixelX(st, st.viewFirst + st.viewWidth / 4), 200, "first click");
      w.Click(ChannelToPixelX(st, st.viewFirst + st.viewWidth / 2), 200, "second click");
    }
    w.EndClicks();
  }
  // The interval fit again, at the screen scale the walk has set by now.
  w.Command("Automatic Spectrum Marking");
  w.Command("Interval  Fit");
  w.Press(WindowButton::kNext, "Next at the new scale");
  w.ws().state.resultsUnsaved = false;
  w.Command("&Exit");
  return 0;
}
