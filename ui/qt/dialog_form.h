// The generic parameter dialog (TForm2), built afresh for each request, and the text window (TForm3).
// Geometry comes in design pixels and is multiplied by the screen scale here.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "core/port.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

namespace orv {

// Design pixels to screen pixels.
int Scaled(int designPixels, double scale);

class TForm2 : public QDialog {
 public:
  // Shows the controls the request asks for, preset from it. `showHelp` puts the help lines in the
  // text window, modally.
  TForm2(DialogRequest& request, double scale, int fontSize,
         std::function<void(const std::vector<std::string>&)> showHelp, QWidget* parent = nullptr);

  // Copies what the user set into the request (the answers of every control shown).
  void CopyAnswers(DialogRequest& request) const;

  QPushButton* okButton() const { return ok_; }
  QPushButton* cancelButton() const { return cancel_; }
  QPushButton* helpButton() const { return help_; }
  QPushButton* saveButton() const { return save_; }
  QListWidget* listBox() const { return listBox_; }
  QListWidget* listHeader() const { return header_; }
  QTableWidget* valueGrid() const { return valueGrid_; }

 protected:
  // Esc is Cancel wherever the focus is: the window sees the key before its controls.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Place(QWidget* w, int left, int top, int width, int height) const;
  void BuildRadioGroup(const DialogRadioGroup& g, int which);
  void BuildGrid(const DialogParameterGrid& g);
  void Help();
  void Save();

  DialogRequest& request_;
  double scale_;
  std::function<void(const std::vector<std::string>&)> showHelp_;
  bool saved_ = false;

  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QPushButton* help_ = nullptr;
  QPushButton* save_ = nullptr;
  QLineEdit* edit_ = nullptr;
  QButtonGroup* radio_[2] = {nullptr, nullptr};
  QListWidget* checkList_ = nullptr;
  QComboBox* combo_ = nullptr;
  QListWidget* listBox_ = nullptr;
  QListWidget* header_ = nullptr;
  QPlainTextEdit* memo_ = nullptr;
  QTableWidget* valueGrid_ = nullptr;
  QCheckBox* checkBox_ = nullptr;
};

// The text window: help texts and reports in light-cyan bold on black, closed with OK.
class TForm3 : public QDialog {
 public:
  TForm3(const std::vector<std::string>& lines, double scale, int fontSize, QWidget* parent = nullptr,
         int left = 0, int width = 590, int height = 450);
  QPlainTextEdit* memo() const { return memo_; }
  QPushButton* okButton() const { return ok_; }

 private:
  QPlainTextEdit* memo_ = nullptr;
  QPushButton* ok_ = nullptr;
};

}  // namespace orv
