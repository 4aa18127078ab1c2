#include "ui/script/script_port.h"

#include <cmath>
#include <sstream>

#include "core/numtext.h"
#include "spectrum/spectrum_writer.h"
#include "ui/commands.h"

namespace orv {

namespace {

std::string Trim(const std::string& s) {
  auto b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  auto e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

// Lines of a multi-line text joined so that one log line holds one event.
std::string OneLine(const std::string& text) {
  std::string s = text;
  for (char& c : s)
    if (c == '\n') c = '|';
  return s;
}

bool ParseOnOff(const std::string& word, bool& value) {
  if (word == "on") return value = true, true;
  if (word == "off") return value = false, true;
  return false;
}

bool ParseIndex(const std::string& word, int count, int& index) {
  auto v = ParseNumberToken(word);
  if (!v || *v != std::trunc(*v) || *v < 1 || *v > count) return false;
  index = static_cast<int>(*v);
  return true;
}

}  // namespace

ScriptPort::ScriptPort(const std::string& scriptText, std::ostream& log) : log_(log) {
  std::istringstream in(scriptText);
  std::string line;
  while (std::getline(in, line)) lines_.push_back(line);
}

bool ScriptPort::Peek(Line& line) {
  while (next_ < lines_.size()) {
    std::string t = Trim(lines_[next_]);
    if (t.empty() || t[0] == '#') {
      ++next_;
      continue;
    }
    line.number = static_cast<int>(next_) + 1;
    auto space = t.find_first_of(" \t");
    line.keyword = t.substr(0, space);
    line.rest = space == std::string::npos ? "" : Trim(t.substr(space + 1));
    return true;
  }
  return false;
}

bool ScriptPort::NextCommand(Line& line) {
  if (failed() || !Peek(line)) return false;
  ++next_;
  return true;
}

void ScriptPort::Fail(int lineNumber, const std::string& what) {
  if (failed()) return;
  error_ = lineNumber > 0 ? "script line " + std::to_string(lineNumber) + ": " + what : "script: " + what;
  log_ << "error: " << error_ << '\n';
}

bool ScriptPort::TakeAnswer(const std::string& what, Line& line) {
  if (failed()) return false;
  if (!Peek(line)) {
    Fail(static_cast<int>(lines_.size()), "the script ended without an answer to " + what);
    return false;
  }
  ++next_;
  return true;
}

bool ScriptPort::ApplyDialogLine(DialogRequest& r, const Line& l) {
  std::istringstream words(l.rest);
  std::string w1, w2;
  auto bad = [&](const std::string& why) {
    Fail(l.number, why);
    return false;
  };
  if (l.keyword == "radio" || l.keyword == "radio2") {
    auto& group = l.keyword == "radio" ? r.radio1 : r.radio2;
    if (!group) return bad("the dialog shows no " + l.keyword + " group");
    if (!ParseIndex(l.rest, static_cast<int>(group->items.size()), group->chosen))
      return bad("no entry " + l.rest + " in the radio group");
    return true;
  }
  if (l.keyword == "check") {
    if (!r.checkList) return bad("the dialog shows no check list");
    int index = 0;
    std::string state;
    if (!l.rest.empty() && l.rest[0] == '"') {
      auto close = l.rest.find('"', 1);
      if (close == std::string::npos) return bad("unclosed quote");
      std::string wanted = Trim(l.rest.substr(1, close - 1));
      for (std::size_t i = 0; i < r.checkList->items.size(); ++i)
        if (Trim(r.checkList->items[i]) == wanted) index = static_cast<int>(i) + 1;
      if (index == 0) return bad("no check-list entry \"" + wanted + "\"");
      state = Trim(l.rest.substr(close + 1));
    } else {
      words >> w1 >> state;
      if (!ParseIndex(w1, static_cast<int>(r.checkList->items.size()), index))
        return bad("no check-list entry " + w1);
    }
    bool on;
    if (!ParseOnOff(state, on)) return bad("check wants on or off");
    r.checkList->checked.resize(r.checkList->items.size(), false);
    r.checkList->checked[index - 1] = on;
    return true;
  }
  if (l.keyword == "combo") {
    if (!r.combo) return bad("the dialog shows no combo box");
    if (!ParseIndex(l.rest, static_cast<int>(r.combo->items.size()), r.combo->chosen))
      return bad("no combo entry " + l.rest);
    return true;
  }
  if (l.keyword == "select") {
    if (!r.listBox) return bad("the dialog shows no list box");
    if (!ParseIndex(l.rest, static_cast<int>(r.listBox->lines.size()), r.listBox->selected))
      return bad("no list line " + l.rest);
    return true;
  }
  if (l.keyword == "edit") {
    if (!r.edit) return bad("the dialog shows no edit field");
    r.edit->text = l.rest;
    return true;
  }
  if (l.keyword == "text") {
    if (!r.textArea) return bad("the dialog shows no text area");
    r.textArea->lines.push_back(l.rest);
    return true;
  }
  if (l.keyword == "cell") {
    if (!r.grid) return bad("the dialog shows no parameter grid");
    words >> w1 >> w2;
    int rows = static_cast<int>(r.grid->cells.size());
    int row = 0, column = 0;
    if (!ParseIndex(w1, rows, row)) return bad("no grid row " + w1);
    if (!ParseIndex(w2, static_cast<int>(r.grid->cells[row - 1].size()), column))
      return bad("no grid column " + w2);
    std::string value;
    std::getline(words, value);
    r.grid->cells[row - 1][column - 1] = Trim(value);
    return true;
  }
  if (l.keyword == "box") {
    if (!r.checkBox) return bad("the dialog shows no check box");
    if (!ParseOnOff(l.rest, r.checkBox->checked)) return bad("box wants on or off");
    return true;
  }
  if (l.keyword == "help") {
    for (const auto& h : r.helpLines) log_ << "help: " << h << '\n';
    return true;
  }
  if (l.keyword == "save") {
    if (!r.withSave) return bad("the dialog has no Save button");
    if (r.onSave) r.onSave(r);
    r.onSave = nullptr;  // only the first press writes
    return true;
  }
  return bad("'" + l.keyword + "' is no answer inside a dialog");
}

bool ScriptPort::ShowDialog(DialogRequest& r) {
  r.accepted = false;
  const std::string what = "dialog \"" + Trim(r.caption) + "\"";
  Line l;
  if (presetAllowed_) {
    presetAllowed_ = false;
    if (!failed() && (!Peek(l) || l.keyword != "dialog")) {
      log_ << "dialog: " << Trim(r.caption) << " -> ok (preset)\n";
      return r.accepted = true;
    }
  }
  if (!TakeAnswer(what, l)) return false;
  if (l.keyword != "dialog") {
    Fail(l.number, "expected an answer to " + what + ", found '" + l.keyword + "'");
    return false;
  }
  if (!l.rest.empty() && r.caption.find(l.rest) == std::string::npos) {
    Fail(l.number, "expected dialog \"" + l.rest + "\", the program shows " + what);
    return false;
  }
  bool textReplaced = false;
  while (TakeAnswer(what, l)) {
    if (l.keyword == "ok" || l.keyword == "cancel") {
      r.accepted = l.keyword == "ok";
      log_ << "dialog: " << Trim(r.caption) << " -> " << l.keyword << '\n';
      return r.accepted;
    }
    if (l.keyword == "text" && !textReplaced && r.textArea) {
      r.textArea->lines.clear();  // the first text line replaces what the dialog preset
      textReplaced = true;
    }
    if (!ApplyDialogLine(r, l)) return false;
  }
  return false;
}

void ScriptPort::ShowMessage(const std::string& text) {
  log_ << "message: " << OneLine(text) << '\n';
}

bool ScriptPort::AtEnd() {
  Line l;
  return !Peek(l);
}

bool ScriptPort::AskQuestion(const std::string& question, const char* yes, const char* no) {
  Line l;
  if (failed()) return false;  // a stopped run answers nothing, not even at the end of its script
  if (endOfScript_ && !Peek(l)) {
    log_ << "question: " << OneLine(question) << " -> " << yes << " (end of script)\n";
    return true;
  }
  const std::string what = "the question \"" + OneLine(question) + "\"";
  if (!TakeAnswer(what, l)) return false;
  if (l.keyword != yes && l.keyword != no) {
    Fail(l.number,
         std::string("expected ") + yes + " or " + no + " for " + what + ", found '" + l.keyword + "'");
    return false;
  }
  log_ << "question: " << OneLine(question) << " -> " << l.keyword << '\n';
  return l.keyword == yes;
}

bool ScriptPort::AskYesNo(const std::string& question) {
  return AskQuestion(question, "yes", "no");
}

bool ScriptPort::AskOkCancel(const std::string& question) {
  return AskQuestion(question, "ok", "cancel");
}

void ScriptPort::ShowStatus(const std::string& line1, const std::string& line2) {
  log_ << "status: " << line1 << " | " << line2 << '\n';
}

void ScriptPort::ShowPrompt(const std::string& text) {
  log_ << "prompt: " << text << '\n';
}

std::optional<std::string> ScriptPort::ChooseFileToOpen(const FileOpenRequest& request) {
  Line l;
  const std::string what = "the file selection \"" + Trim(request.title) + "\"";
  if (!TakeAnswer(what, l)) return std::nullopt;
  if (l.keyword == "cancel") {
    log_ << "file: cancel\n";
    return std::nullopt;
  }
  if (l.keyword != "file" || l.rest.empty()) {
    Fail(l.number, "expected 'file NAME' or 'cancel' for " + what + ", found '" + l.keyword + "'");
    return std::nullopt;
  }
  log_ << "file: " << l.rest << '\n';
  return l.rest;
}

std::optional<std::vector<std::string>> ScriptPort::ChooseFilesToOpen(const FileOpenRequest& request) {
  Line l;
  const std::string what = "the file selection \"" + Trim(request.title) + "\"";
  if (!TakeAnswer(what, l)) return std::nullopt;
  if (l.keyword == "cancel") {
    log_ << "files: cancel\n";
    return std::nullopt;
  }
  std::vector<std::string> names;
  std::istringstream parts(l.rest);
  std::string name;
  while (std::getline(parts, name, '|'))
    if (!Trim(name).empty()) names.push_back(Trim(name));
  if (l.keyword != "files" || names.empty()) {
    Fail(l.number,
         "expected 'files NAME | NAME ...' or 'cancel' for " + what + ", found '" + l.keyword + "'");
    return std::nullopt;
  }
  log_ << "files: " << l.rest << '\n';
  return names;
}

void ScriptPort::ShowText(const std::vector<std::string>& lines) {
  for (const auto& t : lines) log_ << "text: " << t << '\n';
}

namespace {

bool ParseButton(const std::string& text, WindowButton& button) {
  static const std::pair<const char*, WindowButton> kButtons[] = {
      {"OK", WindowButton::kOk},
      {"Cancel", WindowButton::kCancel},
      {"Next Cadre", WindowButton::kNextCadre},
      {"Previous Cadre", WindowButton::kPreviousCadre},
      {"Next", WindowButton::kNext},
      {"Previous", WindowButton::kPrevious},
      {"Change", WindowButton::kChange},
      {"Fit -> BMP", WindowButton::kFitToBitmap},
      {"Graph Single Peaks", WindowButton::kGraphSinglePeaks},
  };
  const std::string name = NormaliseCaption(text);
  for (const auto& [caption, value] : kButtons)
    if (name == caption) {
      button = value;
      return true;
    }
  return false;
}

// One top-level line; false when it stopped the run.
bool RunLine(Program& p, ScriptPort& port, const ScriptPort::Line& l) {
  if (l.keyword == "menu") {
    switch (RunCommand(p, l.rest)) {
      case CommandStatus::kUnknown:
        port.Fail(l.number, "no menu command \"" + l.rest + "\"");
        break;
      case CommandStatus::kDisabled:
        port.Fail(l.number, "the menu command \"" + l.rest + "\" is disabled");
        break;
      case CommandStatus::kDone:
        break;
    }
  } else if (l.keyword == "click") {
    auto channel = ParseNumberToken(l.rest);
    if (!channel || !std::isfinite(*channel) || *channel < 1 || *channel > kSpectrumCapacity)
      port.Fail(l.number, "click wants a channel, found '" + l.rest + "'");
    else if (p.clickMode == ClickMode::kNone &&
             (!p.fitSession || p.fitSession->WaitingFor() == FitClickMode::kNone))
      port.Fail(l.number, "no command waits for a click on the graph");
    else
      GraphClick(p, static_cast<int>(std::lround(*channel)));
  } else if (l.keyword == "button") {
    WindowButton button;
    if (!ParseButton(l.rest, button))
      port.Fail(l.number,
                "no button \"" + l.rest +
                    "\" (OK, Cancel, Next Cadre, Previous Cadre, Next, Previous, Change, Fit -> BMP, "
                    "Graph Single Peaks)");
    else
      PressButton(p, button);
  } else if (l.keyword == "write-spectrum") {
    // write-spectrum TYPE FILE: the spectrum as it stands now, for keeping a cleaned spectrum.
    std::istringstream words(l.rest);
    std::string typeWord, name;
    words >> typeWord;
    std::getline(words, name);
    name = Trim(name);
    std::string error;
    if ((typeWord != "3" && typeWord != "4") || name.empty())
      port.Fail(l.number, "write-spectrum wants a type (3 or 4) and a file name");
    else if (!WriteSpectrumFile(p.ws.spectrum, name, typeWord[0] - '0', &error))
      port.ShowMessage(error);
  } else {
    port.Fail(l.number,
              "'" + l.keyword +
                  "' answers no question here; lines begin with menu, click, button or write-spectrum");
  }
  return !port.failed();
}

}  // namespace

int RunScript(Program& p, ScriptPort& port) {
  port.AllowPresetDialog();
  if (!ProgramEntry(p)) return port.failed() ? 1 : 0;  // Cancel in the title dialog ends the program
  if (!p.outputReady) {
    // Everything the run reports would be lost.
    port.Fail(0, "the output file " + p.ws.state.outputFileName + " could not be created");
    ExitCommand(p, false);
    return 1;
  }
  ScriptPort::Line l;
  while (!p.ended && port.NextCommand(l))
    if (!RunLine(p, port, l)) break;
  if (p.ended && !port.failed() && !port.AtEnd() && port.NextCommand(l))
    port.Fail(l.number, "the program has ended; lines after \"&Exit\" are not carried out");
  // The run ends as a user would end it: through "&Exit", quitting even with unsaved results.
  port.SetEndOfScript();
  if (!p.ended) ExitCommand(p, !port.failed());  // a failed script can answer nothing more
  // Results that never reached the output file are lost work: the run has failed.
  if (p.ws.output.writeFailed())
    port.Fail(0,
              "the output file " + p.ws.output.path() + " could not be written: " + p.ws.output.lastError());
  return port.failed() ? 1 : 0;
}

}  // namespace orv
