#include "core/dialog.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "core/numtext.h"

namespace orv {

DialogRequest PrepareDialog(const std::string& caption, int left, int width, int height, bool withSave) {
  DialogRequest r;
  r.caption = caption;
  r.left = left;
  r.width = width;
  r.height = height;
  r.withSave = withSave;
  return r;
}

void ShowLabel(DialogRequest& r, int index, int left, int top, const std::string& text, Rgb textColor,
               Rgb background) {
  // A label shown twice in one request keeps only its last text, as a window control would.
  std::erase_if(r.labels, [index](const DialogLabel& l) { return l.index == index; });
  r.labels.push_back({index, left, top, text, textColor, background});
}

void ShowEditField(DialogRequest& r, int left, int top, const std::string& text, int width) {
  r.edit = DialogEdit{left, top, width, text};
}

void ShowRadioGroup(DialogRequest& r, int which, int columns, int left, int height, int width, int top,
                    const std::vector<std::string>& items, int defaultItem, const std::string& title) {
  DialogRadioGroup g;
  g.title = title;
  g.items = items;
  g.chosen = defaultItem;
  g.columns = columns == 0 ? 1 : columns;
  g.left = left;
  g.top = top;
  g.width = width;
  g.height = height;
  (which == 1 ? r.radio1 : r.radio2) = g;
}

void ShowCheckList(DialogRequest& r, int left, int top, int width, int height,
                   const std::vector<std::string>& items) {
  r.checkList = DialogCheckList{items, std::vector<bool>(items.size(), false), left, top, width, height};
}

void ShowComboBox(DialogRequest& r, int left, int top, int width, const std::vector<std::string>& items,
                  int defaultItem) {
  r.combo = DialogComboBox{items, defaultItem, left, top, width};
}

void ShowListBox(DialogRequest& r, int left, int top, int width, int height,
                 const std::vector<std::string>& lines) {
  r.listBox = DialogListBox{lines, left, top, width, height, 0, {}};
}

void ShowTextArea(DialogRequest& r, int left, int width, const std::vector<std::string>& lines) {
  r.textArea = DialogTextArea{left, width, lines};
}

std::string FormatGridCell(int numberWidth, double value) {
  std::string text = value == std::trunc(value) ? FormatNumber(numberWidth, 0, value)
                                                : FormatNumberCompact(numberWidth, value);
  if (text.find('*') != std::string::npos) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%12.6E", value);
    text = buf;
  }
  return text;
}

void ShowParameterGrid(DialogRequest& r, int left, int top, int visibleRows, int numberWidth, int columns,
                       const std::vector<std::string>& rowNames,
                       const std::vector<std::array<double, 10>>& values,
                       const std::vector<int>& columnWidths) {
  DialogParameterGrid g;
  g.left = left;
  g.top = top;
  g.visibleRows = visibleRows;
  g.numberWidth = numberWidth;
  g.columns = columns;
  g.rowNames = rowNames;
  g.columnWidths = columnWidths;
  int n = std::clamp(std::abs(columns), 1, 10);
  for (const auto& row : values) {
    std::vector<std::string> cells;
    for (int c = 0; c < n; ++c) cells.push_back(FormatGridCell(numberWidth, row[c]));
    g.cells.push_back(std::move(cells));
  }
  r.grid = std::move(g);
}

void ShowCheckBox(DialogRequest& r, const std::string& caption, bool checked) {
  r.checkBox = DialogCheckBox{caption, checked};
}

double ReadGridValue(const DialogRequest& r, int row, int column, int& accepted) {
  if (!r.grid || row < 0 || row >= static_cast<int>(r.grid->cells.size()) || column < 0 ||
      column >= static_cast<int>(r.grid->cells[row].size())) {
    accepted = 0;
    return 1.001;
  }
  return ReadNumber(r.grid->cells[row][column], accepted);
}

namespace {

std::string FolderOf(const std::string& name) {
  std::filesystem::path p(name);
  return p.has_parent_path() ? p.parent_path().string() : std::string();
}

}  // namespace

bool SelectFile(UiPort& port, std::string& name, int mode, const std::string& prompt) {
  if (mode == 0) {
    FileOpenRequest f;
    f.initialName = name;
    f.folder = FolderOf(name);
    f.filter = "All|*.*;|D(*.dat)|*.dat;|SPC(*.spc)|*.spc;|Ini(*.ini)|*.ini";
    auto chosen = port.ChooseFileToOpen(f);
    if (!chosen) return false;
    // A chosen path is the file's own name: blanks in folder or file names belong to it.
    const std::string file = *chosen;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
      port.ShowMessage("No file " + file);
      return false;
    }
    name = file;
    return true;
  }
  DialogRequest r = PrepareDialog(prompt, 0, 600, 430);
  ShowLabel(r, 1, 10, 10, prompt, kWhite, kMaroon);
  ShowEditField(r, 10, 40, name, 260);
  if (!port.ShowDialog(r)) return false;
  std::string typed = r.edit->text;
  if (mode != 2) {
    // Blanks around a typed name are slips of the keyboard; blanks inside it are part of the name.
    const auto first = typed.find_first_not_of(" \t"), last = typed.find_last_not_of(" \t");
    typed = first == std::string::npos ? std::string() : typed.substr(first, last - first + 1);
    // The bare name: without folder and without a four-character extension such as ".res".
    std::string bare = std::filesystem::path(typed).filename().string();
    if (bare.size() >= 4 && bare[bare.size() - 4] == '.') bare.resize(bare.size() - 4);
    if (bare.empty()) {
      port.ShowMessage("Empty string");
      return false;
    }
  }
  if (mode == 1) {
    std::error_code ec;
    if (std::filesystem::exists(typed, ec) && !port.AskYesNo("File " + typed + " already exists. Overwrite?"))
      return false;
  }
  name = typed;
  return true;
}

int LimitIterations(double value, UiPort& port) {
  const int limit = std::clamp(RoundHalfEven(value), 1, kMaxIterationLimit);
  if (!(std::fabs(value - limit) <= 0.5))
    port.ShowMessage("Warning, the iteration limit " + FormatNumberCompact(12, value) + " is cut to " +
                     std::to_string(limit));
  return limit;
}

std::vector<std::string> LoadHelpText(int count, const std::vector<std::string>& block, bool russian) {
  int n = std::abs(count);
  std::size_t first = (russian && count > 0) ? static_cast<std::size_t>(n) : 0;
  std::vector<std::string> lines;
  for (std::size_t i = first; i < first + static_cast<std::size_t>(n) && i < block.size(); ++i)
    lines.push_back(block[i]);
  if (lines.empty()) lines.push_back(" ");
  return lines;
}

}  // namespace orv
