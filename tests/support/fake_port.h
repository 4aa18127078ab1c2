// Dialogs answered by queued functions, then `fallback` (unset: Cancel); everything shown is recorded.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/port.h"

namespace orv::testing {

class FakePort : public UiPort, public LineSink {
 public:
  using Answer = std::function<bool(DialogRequest&)>;

  std::deque<Answer> answers;     // one per dialog; returns OK (true) or Cancel
  Answer fallback;                // answers every dialog once the queue is empty
  std::deque<bool> yesNoAnswers;  // consumed first; then `yes`
  bool yes = true;
  bool okCancel = true;
  std::deque<std::optional<std::string>> files;     // answers of the file selection; none left: cancel
  std::deque<std::vector<std::string>> fileGroups;  // answers of the multiple selection; none: cancel
  std::vector<FileOpenRequest> fileRequests;        // every file selection as asked
  int menuEnabled = -1, layouts = 0;                // window operations: last state, count

  std::vector<DialogRequest> dialogs;  // as answered
  std::vector<DialogRequest> shown;    // as presented, before the answer changed them
  std::vector<std::string> messages, questions, statuses, prompts, texts, lines, progress;

  // Accepts the next dialog as preset.
  void AcceptNext() {
    answers.push_back([](DialogRequest&) { return true; });
  }

  bool ShowDialog(DialogRequest& r) override {
    shown.push_back(r);
    bool ok = false;
    if (!answers.empty()) {
      Answer a = std::move(answers.front());
      answers.pop_front();
      ok = a(r);
    } else if (fallback) {
      ok = fallback(r);
    }
    r.accepted = ok;
    dialogs.push_back(r);
    return ok;
  }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  bool AskYesNo(const std::string& question) override {
    questions.push_back(question);
    if (yesNoAnswers.empty()) return yes;
    const bool a = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return a;
  }
  bool AskOkCancel(const std::string& question) override {
    questions.push_back(question);
    return okCancel;
  }
  void ShowStatus(const std::string& line1, const std::string& line2) override {
    statuses.push_back(line1 + "|" + line2);
  }
  void ShowPrompt(const std::string& text) override { prompts.push_back(text); }
  std::optional<std::string> ChooseFileToOpen(const FileOpenRequest& request) override {
    fileRequests.push_back(request);
    if (files.empty()) return std::nullopt;
    auto f = files.front();
    files.pop_front();
    return f;
  }
  std::optional<std::vector<std::string>> ChooseFilesToOpen(const FileOpenRequest& request) override {
    fileRequests.push_back(request);
    if (fileGroups.empty()) return std::nullopt;
    auto group = fileGroups.front();
    fileGroups.pop_front();
    return group;
  }
  void ShowProgress(const std::string& what, int done, int total) override {
    progress.push_back(what + " " + std::to_string(done) + "/" + std::to_string(total));
  }
  void EnableMainMenu(bool on) override { menuEnabled = on ? 1 : 0; }
  void ClearForm() override {}
  void LayoutWindows(double, int) override { ++layouts; }
  void ShowText(const std::vector<std::string>& text) override {
    texts.insert(texts.end(), text.begin(), text.end());
  }
  bool WriteLine(const std::string& line) override {
    lines.push_back(line);
    return true;
  }
};

// Answers a dialog with OK and this 1-based item of its first radio group chosen.
inline FakePort::Answer ChooseRadio(int item) {
  return [item](DialogRequest& r) {
    if (r.radio1) r.radio1->chosen = item;
    return true;
  };
}

// Cancels a dialog.
inline FakePort::Answer Refuse() {
  return [](DialogRequest&) { return false; };
}

// Answers a dialog with OK after typing `text` into its edit field.
inline FakePort::Answer TypeText(const std::string& text) {
  return [text](DialogRequest& r) {
    r.edit->text = text;
    return true;
  };
}

// Answers a dialog with OK after typing these texts into the first column of its grid, row by row.
inline FakePort::Answer FillGrid(const std::vector<std::string>& cells) {
  return [cells](DialogRequest& r) {
    for (std::size_t i = 0; i < cells.size(); ++i) r.grid->cells[i][0] = cells[i];
    return true;
  };
}

}  // namespace orv::testing
