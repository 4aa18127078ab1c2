// The main window (TForm1): the menus of the command table, the graph surfaces that report clicks,
// the buttons of the click modes and of the interval fit, the status lines, the prompt and the result
// grid. Everything it does goes through the Program: RunCommand, GraphClickAt and PressButton.
#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QMainWindow>
#include <map>
#include <string>
#include <vector>

#include "ui/program.h"

class QLabel;
class QMenu;
class QPushButton;
class QTableWidget;

namespace orv {

class ImageView;
class QtCanvas;

class TForm1 : public QMainWindow {
 public:
  explicit TForm1(Program& program, QWidget* parent = nullptr);

  // The operations of the port on the main window.
  void ShowStatus(const std::string& line1, const std::string& line2);
  void ShowPrompt(const std::string& text);
  // The second status line tells how far a long piece of work is; repainted without user input.
  void ShowProgress(const std::string& what, int done, int total);
  void EnableMainMenu(bool on);
  void ClearForm();
  void LayoutWindows(double scale, int fontSize);

  // Brings the window in line with the program after a command, click or button: the surfaces are
  // repainted and the controls of the current mode shown.
  void Refresh();

  // The menu item with this caption (exactly as in the menu); null when there is none.
  QAction* Action(const std::string& caption) const;
  QMenu* Menu(const std::string& caption) const;
  QPushButton* Button(WindowButton button) const;
  ImageView* fullSurface() const { return image3_; }
  ImageView* fitSurface() const { return image1_; }
  QTableWidget* resultGrid() const { return grid_; }
  QLabel* statusLine(int which) const { return which == 1 ? status1_ : status2_; }
  QLabel* prompt() const { return prompt_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildMenus();
  void BuildControls();
  void Run(const std::string& caption);
  void Press(WindowButton button);
  void FitClick(int x, int y);
  void Place(QWidget* w, int left, int top, int width, int height) const;
  void FillGrid();
  QtCanvas* Surface(ImageCanvas* canvas) const;

  Program& p_;
  double scale_ = 1.0;
  QWidget* area_ = nullptr;
  ImageView* image1_ = nullptr;  // the fit surface
  ImageView* image3_ = nullptr;  // the full surface
  QLabel* status1_ = nullptr;
  QLabel* status2_ = nullptr;
  QLabel* prompt_ = nullptr;
  QTableWidget* grid_ = nullptr;
  std::map<WindowButton, QPushButton*> buttons_;
  std::vector<std::pair<std::string, QMenu*>> menus_;
  std::vector<std::pair<std::string, QAction*>> items_;
  // The full surface as it was when the form was cleared: a graph drawn since then is shown.
  QImage clearedImage_;
  bool menuOn_ = true;
  bool progressShown_ = false;
  std::string savedStatus2_;
  QElapsedTimer progressClock_;
};

}  // namespace orv
