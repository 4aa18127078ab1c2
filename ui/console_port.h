// A port for one-shot headless runs that ask nothing: messages and status lines go to a stream, every
// question is refused, so a command that needs an answer stops as after Cancel.
#pragma once

#include <ostream>

#include "core/port.h"

namespace orv {

class ConsolePort : public UiPort {
 public:
  explicit ConsolePort(std::ostream& out) : out_(out) {}
  bool ShowDialog(DialogRequest& r) override { return r.accepted = false; }
  void ShowMessage(const std::string& text) override { out_ << text << '\n'; }
  bool AskYesNo(const std::string&) override { return false; }
  bool AskOkCancel(const std::string&) override { return false; }
  void ShowStatus(const std::string&, const std::string&) override {}
  void ShowPrompt(const std::string&) override {}
  std::optional<std::string> ChooseFileToOpen(const FileOpenRequest&) override { return std::nullopt; }
  void ShowText(const std::vector<std::string>& lines) override {
    for (const auto& l : lines) out_ << l << '\n';
  }

 private:
  std::ostream& out_;
};

}  // namespace orv
