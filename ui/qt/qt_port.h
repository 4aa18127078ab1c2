// The windows' back-end of the UI port: the generic dialog, message boxes, file selections and the
// text window as modal windows; status lines, prompt and layout act on the main window.
#pragma once

#include <functional>

#include "core/port.h"

class QDialog;
class QWidget;

namespace orv {

class TForm1;

class QtPort : public UiPort {
 public:
  // The main window the status lines, prompt and layout go to; none: they are ignored.
  void SetMainWindow(TForm1* window) { main_ = window; }

  // Every modal window (generic dialog, text window, message box, file selection) is shown through
  // here. When set, the hook answers and closes the window instead of the user and returns the result
  // code; tests drive the windows so.
  std::function<int(QDialog&)> modalHook;

  double scale() const { return scale_; }
  int fontSize() const { return fontSize_; }

  bool ShowDialog(DialogRequest& request) override;
  void ShowMessage(const std::string& text) override;
  bool AskYesNo(const std::string& question) override;
  bool AskOkCancel(const std::string& question) override;
  void ShowStatus(const std::string& line1, const std::string& line2) override;
  void ShowPrompt(const std::string& text) override;
  std::optional<std::string> ChooseFileToOpen(const FileOpenRequest& request) override;
  std::optional<std::vector<std::string>> ChooseFilesToOpen(const FileOpenRequest& request) override;
  void ShowText(const std::vector<std::string>& lines) override;
  void ShowProgress(const std::string& what, int done, int total) override;
  void EnableMainMenu(bool on) override;
  void ClearForm() override;
  void LayoutWindows(double screenScale, int fontSize) override;

 private:
  int Exec(QDialog& window);
  QWidget* Parent() const;
  std::optional<std::vector<std::string>> ChooseFiles(const FileOpenRequest& request, bool multiple);

  TForm1* main_ = nullptr;
  double scale_ = 1.0;
  int fontSize_ = 10;
};

// The filter of a file selection ("All|*.*;|D(*.dat)|*.dat") in the toolkit's form ("All (*)").
std::string ToNameFilters(const std::string& filter);

}  // namespace orv
