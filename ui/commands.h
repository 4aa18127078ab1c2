// The command table: one toolkit-free handler per menu caption. Both back-ends run commands through
// it, so a script drives exactly what a user at the window would.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "analysis/workspace.h"
#include "core/port.h"

namespace orv {

struct Command {
  std::string menu;     // top-level menu caption, e.g. "&File"
  std::string caption;  // item caption exactly as in the menu
  std::function<void(Workspace&, UiPort&)> run;
  bool enabled = true;
};

const std::vector<Command>& CommandTable();

enum class CommandStatus { kDone, kUnknown, kDisabled };
CommandStatus RunCommand(Workspace& ws, UiPort& port, const std::string& caption);

}  // namespace orv
