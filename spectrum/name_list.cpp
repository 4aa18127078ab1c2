#include "spectrum/name_list.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <istream>
#include <utility>

#include "core/dialog.h"

namespace orv {
namespace {

constexpr Rgb kGreen{0, 128, 0};  // the dialog's own background
const std::string kCaption = "Creation of Spectrum Name List";

const std::vector<std::string> kNameListHelp = {
    "Creation of Spectrum Name List:",
    " the list names the spectrum files of a series processed one after another.",
    " DialogBox mode: select the files in the file-open dialog (at most 200);",
    " File mode: a text file with one spectrum file name per line (at most 100);",
    " blanks around a name are removed and empty lines are skipped.",
    " Saving the fit results of a spectrum removes its name from the list."};

const std::vector<std::string> kModeExplanation = {"Dialog Box mode:",
                                                   "click the name set by the mouse",
                                                   " ",
                                                   "If the names are sequential:",
                                                   "1/ Click on the 1st name",
                                                   "2/ then Click+Shift on the last;",
                                                   "If the names are randomly accessed:",
                                                   "Click+Ctrl on each; then on Open"};

std::string Trim(const std::string& text) {
  const char* blanks = " \t\r\n\f\v";
  const std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// A list whose vector was replaced by a shorter one still takes every index the counts allow.
void EnsureCapacity(SpectrumNameList& list) {
  if (list.names.size() < kNameListCapacity + 1) list.names.resize(kNameListCapacity + 1);
}

DialogRequest NameListDialog() {
  DialogRequest r = PrepareDialog(kCaption, 250, 330, 430);
  r.helpLines = kNameListHelp;
  return r;
}

// The typed list file as given, or else inside the start folder when the name is relative: the
// command may run after the current folder has moved away from where the list was prepared.
std::filesystem::path ListFilePath(const AnalysisState& state, const std::string& typed) {
  std::error_code ec;
  const std::filesystem::path given(typed);
  if (std::filesystem::is_regular_file(given, ec) || !given.is_relative() || state.startDir.empty())
    return given;
  return std::filesystem::path(state.startDir) / given;
}

}  // namespace

void RemoveSpectrumName(SpectrumNameList& list, int& nameCount, const std::string& name) {
  EnsureCapacity(list);
  const int count = std::clamp(nameCount, 0, kNameListCapacity);
  int kept = 0;
  for (int k = 1; k <= count; ++k) {
    if (list.names[k] == name) continue;
    if (++kept != k) list.names[kept] = std::move(list.names[k]);
  }
  for (int k = kept + 1; k <= count; ++k) list.names[k].clear();
  nameCount = kept;
}

int ReadNameListFile(std::istream& in, SpectrumNameList& list) {
  EnsureCapacity(list);
  int count = 0;
  std::string line;
  while (std::getline(in, line)) {
    std::string name = Trim(line);
    if (name.empty()) continue;
    count = std::min(count + 1, kFileNameLimit);
    list.names[count] = std::move(name);
  }
  return count;
}

bool ReadLoopNameList(std::istream& in, const std::string& base, SpectrumNameList& list, int& count,
                      std::string& error) {
  count = 0;
  for (std::string line; std::getline(in, line);) {
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '*') continue;
    const std::string name = line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
    if (count == kNameListCapacity) {
      error = "Error, more than " + std::to_string(kNameListCapacity) + " spectrum file names";
      return false;
    }
    const std::filesystem::path path(name);
    list.names[++count] = base.empty() || path.is_absolute()
                              ? name
                              : (std::filesystem::path(base) / path).lexically_normal().string();
  }
  return true;
}

void InputSpectrumNamesCommand(AnalysisState& state, SpectrumNameList& list, UiPort& port) {
  DialogRequest mode = NameListDialog();
  ShowLabel(mode, 1, 5, 40, "Select the mode:", kYellow, kGreen);
  ShowRadioGroup(mode, 1, 1, 5, 60, 310, 70, {"Get the list from DialogBox", "Enter the list from a file"},
                 1);
  ShowListBox(mode, 5, 140, 310, 220, kModeExplanation);
  if (!port.ShowDialog(mode)) return;

  // The new list is built apart and replaces the old one only when it has been obtained.
  SpectrumNameList fresh;
  int count = 0;
  if (!mode.radio1 || mode.radio1->chosen != 2) {
    FileOpenRequest request;
    request.title = "Select the file group";
    std::error_code ec;
    request.folder = std::filesystem::current_path(ec).string();
    const auto chosen = port.ChooseFilesToOpen(request);
    if (!chosen) return;
    count = std::min(static_cast<int>(chosen->size()), kDialogNameLimit);
    for (int k = 1; k <= count; ++k) fresh.names[k] = (*chosen)[k - 1];
  } else {
    DialogRequest file = NameListDialog();
    ShowLabel(file, 1, 5, 40, "specify the list file name:");
    ShowLabel(file, 2, 10, 70, "The spectrum name file =");
    ShowEditField(file, 200, 68, state.nameListFile, 70);
    if (!port.ShowDialog(file)) return;
    const std::string typed = file.edit ? Trim(file.edit->text) : std::string();
    std::ifstream in;
    std::error_code ec;
    const std::filesystem::path path = ListFilePath(state, typed);
    if (!typed.empty() && std::filesystem::is_regular_file(path, ec)) in.open(path);
    if (!in.is_open()) {
      port.ShowMessage("No file " + typed);
      return;
    }
    count = ReadNameListFile(in, fresh);
    if (in.bad()) {  // a device error mid-way: the old list is more use than part of the new one
      port.ShowMessage("No file " + typed);
      return;
    }
  }
  list = std::move(fresh);
  state.nameCount = count;

  DialogRequest report = NameListDialog();
  ShowListBox(report, 5, 40, 310, 300,
              {"Spectrum Name List", "has been created", "  " + std::to_string(count) + " items"});
  port.ShowDialog(report);
}

}  // namespace orv
