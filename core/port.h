// The UI port: everything the analysis needs from a user. A request record describes one showing of
// the generic parameter dialog; the back-end (windows or script) answers by filling the same record.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orv {

struct Rgb {
  int red = 0, green = 0, blue = 0;
};

inline constexpr Rgb kWhite{255, 255, 255};
inline constexpr Rgb kMaroon{128, 0, 0};
inline constexpr Rgb kYellow{255, 255, 0};
inline constexpr Rgb kBlue{0, 0, 255};
inline constexpr Rgb kBlack{0, 0, 0};

struct DialogLabel {
  int index = 1;  // Label1..Label6
  int left = 0, top = 0;
  std::string text;
  Rgb textColor = kWhite, background = kMaroon;
};

struct DialogEdit {
  int left = 0, top = 0, width = 260;
  std::string text;  // answer: the edited text
};

struct DialogRadioGroup {
  std::string title;
  std::vector<std::string> items;
  int chosen = 1;  // 1-based; answer
  int columns = 1, left = 0, top = 0, width = 200, height = 100;
};

struct DialogCheckList {
  std::vector<std::string> items;
  std::vector<bool> checked;  // answer
  int left = 0, top = 0, width = 200, height = 100;
};

struct DialogComboBox {
  std::vector<std::string> items;
  int chosen = 1;  // 1-based; answer
  int left = 0, top = 0, width = 200;
};

struct DialogListBox {
  std::vector<std::string> lines;
  int left = 0, top = 0, width = 300, height = 300;
  int selected = 0;  // 1-based line the user picked, 0 for none; answer
  // Column captions over the lines; shown above them in the same font so that the columns line up,
  // and kept in view while the lines scroll.
  std::string header;
};

struct DialogTextArea {
  int left = 5, width = 590;
  std::vector<std::string> lines;  // answer: the edited lines
  int top = 2, height = 360;       // the calibration graphs put their listing below the picture
};

struct DialogParameterGrid {
  int left = 0, top = 0, visibleRows = 10, numberWidth = 10, columns = 1;
  std::vector<std::string> rowNames;
  std::vector<int> columnWidths;                // name column first, then each value column
  std::vector<std::vector<std::string>> cells;  // [row][column]; answer: the edited texts
};

struct DialogCheckBox {
  std::string caption;
  bool checked = false;  // answer
};

// A picture shown at its place on the dialog, in design pixels.
struct DialogImage {
  int left = 0, top = 0, width = 0, height = 0;
  std::vector<std::uint32_t> pixels;  // 0xRRGGBB, row by row from the top
};

struct DialogRequest {
  std::string caption;  // shown after three blanks
  int left = 0, width = 600, height = 420;
  bool withSave = false;
  std::vector<std::string> helpLines{" "};
  std::vector<DialogLabel> labels;
  std::optional<DialogEdit> edit;
  std::optional<DialogRadioGroup> radio1, radio2;
  std::optional<DialogCheckList> checkList;
  std::optional<DialogComboBox> combo;
  std::optional<DialogListBox> listBox;
  std::optional<DialogTextArea> textArea;
  std::optional<DialogParameterGrid> grid;
  std::optional<DialogCheckBox> checkBox;
  std::optional<DialogImage> image;
  // Called by the back-end on the first press of Save (only with withSave).
  std::function<void(const DialogRequest&)> onSave;
  bool accepted = false;  // answer: OK (true) or Cancel/Esc (false)
};

struct FileOpenRequest {
  std::string title = "  Select the file";
  std::string initialName;
  std::string folder;
  std::string filter;
};

// Where core routines append their report lines (the run's output file). Kept apart from the port
// because the output file is not a user-interface matter; a null sink drops the lines.
class LineSink {
 public:
  virtual ~LineSink() = default;
  virtual bool WriteLine(const std::string& line) = 0;
};

class UiPort {
 public:
  virtual ~UiPort() = default;
  // Shows the dialog modally and fills in the answers; returns request.accepted.
  virtual bool ShowDialog(DialogRequest& request) = 0;
  virtual void ShowMessage(const std::string& text) = 0;
  virtual bool AskYesNo(const std::string& question) = 0;
  virtual bool AskOkCancel(const std::string& question) = 0;
  // The two status lines of the main window; an empty line hides its label.
  virtual void ShowStatus(const std::string& line1, const std::string& line2) = 0;
  virtual void ShowPrompt(const std::string& text) = 0;
  // The platform's file-open selection; nothing when cancelled.
  virtual std::optional<std::string> ChooseFileToOpen(const FileOpenRequest& request) = 0;
  // The same with multiple selection; nothing when cancelled.
  virtual std::optional<std::vector<std::string>> ChooseFilesToOpen(const FileOpenRequest& /*request*/) {
    return std::nullopt;
  }
  // The text window with its OK button (help texts, reports).
  virtual void ShowText(const std::vector<std::string>& lines) = 0;
  // How far a long piece of work is: `done` of `total` steps of `what`. Called from inside the work, so
  // a back-end may show it but must not run anything the user asks meanwhile; `done` = `total` ends it.
  virtual void ShowProgress(const std::string& /*what*/, int /*done*/, int /*total*/) {}

  // Operations on the main window. Back-ends without windows ignore them.
  // Enables or disables the top-level menus File, Settings, Graph, Mark, Operation, Info and Help.
  virtual void EnableMainMenu(bool /*on*/) {}
  // Hides the result grid, status lines, prompt, buttons and images; paints the window empty.
  virtual void ClearForm() {}
  // Places the windows and their images at the given screen scale and font size.
  virtual void LayoutWindows(double /*screenScale*/, int /*fontSize*/) {}
};

// A port for runs without anyone to ask: messages and status lines are dropped, dialogs are cancelled
// and every question gets the same answer.
class SilentPort : public UiPort {
 public:
  explicit SilentPort(bool answer = false) : answer_(answer) {}
  bool ShowDialog(DialogRequest& r) override { return r.accepted = false; }
  void ShowMessage(const std::string&) override {}
  bool AskYesNo(const std::string&) override { return answer_; }
  bool AskOkCancel(const std::string&) override { return answer_; }
  void ShowStatus(const std::string&, const std::string&) override {}
  void ShowPrompt(const std::string&) override {}
  std::optional<std::string> ChooseFileToOpen(const FileOpenRequest&) override { return std::nullopt; }
  void ShowText(const std::vector<std::string>&) override {}

 private:
  bool answer_;
};

}  // namespace orv
