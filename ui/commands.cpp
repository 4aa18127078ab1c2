#include "ui/commands.h"

#include "analysis/spectrum_input.h"

namespace orv {

namespace {

// Shows the report line a command left behind.
void Report(Workspace& ws, UiPort& port) {
  port.ShowStatus(ws.state.reportLines[0], "");
}

std::vector<Command> BuildTable() {
  std::vector<Command> t;
  t.push_back({"&File", "Input the Spectrum", [](Workspace& ws, UiPort& port) {
                 InputSpectrumCommand(ws, port);
                 Report(ws, port);
               }});
  return t;
}

}  // namespace

const std::vector<Command>& CommandTable() {
  static const std::vector<Command> table = BuildTable();
  return table;
}

CommandStatus RunCommand(Workspace& ws, UiPort& port, const std::string& caption) {
  for (const auto& c : CommandTable()) {
    if (c.caption != caption) continue;
    if (!c.enabled) return CommandStatus::kDisabled;
    c.run(ws, port);
    return CommandStatus::kDone;
  }
  return CommandStatus::kUnknown;
}

}  // namespace orv
