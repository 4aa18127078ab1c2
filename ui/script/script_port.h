// The scripted back-end of the UI port: answers every request from a plain-text script, in order,
// and writes messages, questions and status lines to a log. The format is described in README.md.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "core/port.h"
#include "ui/program.h"

namespace orv {

class ScriptPort : public UiPort {
 public:
  ScriptPort(const std::string& scriptText, std::ostream& log);

  bool ShowDialog(DialogRequest& request) override;
  void ShowMessage(const std::string& text) override;
  bool AskYesNo(const std::string& question) override;
  bool AskOkCancel(const std::string& question) override;
  void ShowStatus(const std::string& line1, const std::string& line2) override;
  void ShowPrompt(const std::string& text) override;
  std::optional<std::string> ChooseFileToOpen(const FileOpenRequest& request) override;
  std::optional<std::vector<std::string>> ChooseFilesToOpen(const FileOpenRequest& request) override;
  void ShowText(const std::vector<std::string>& lines) override;

  // The next top-level line (a command); false at the end of the script or after an error.
  struct Line {
    int number = 0;
    std::string keyword, rest;
  };
  bool NextCommand(Line& line);

  // The next dialog may go unanswered: when the script does not begin with a dialog block there, the
  // dialog is accepted as the program presets it (the title dialog of the start-up).
  void AllowPresetDialog() { presetAllowed_ = true; }
  // After the last line: questions are answered Yes (the end of a script is the wish to quit).
  void SetEndOfScript() { endOfScript_ = true; }
  bool AtEnd();

  // Stops the run: every later request is refused.
  void Fail(int lineNumber, const std::string& what);
  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }

 private:
  bool Peek(Line& line);
  // The next line, which must answer the request `what`; on anything else the run stops.
  bool TakeAnswer(const std::string& what, Line& line);
  bool AskQuestion(const std::string& question, const char* yes, const char* no);
  bool ApplyDialogLine(DialogRequest& r, const Line& line);

  std::vector<std::string> lines_;
  std::size_t next_ = 0;
  std::ostream& log_;
  std::string error_;
  bool presetAllowed_ = false;
  bool endOfScript_ = false;
};

// Starts the program through its start-up sequence, runs every line of the script (menu commands,
// clicks, buttons) and ends through "&Exit" when the script did not. Returns 0 when the whole script
// ran, 1 when it stopped on a line it could not carry out (the error is in port.error() and the log).
int RunScript(Program& program, ScriptPort& port);

}  // namespace orv
