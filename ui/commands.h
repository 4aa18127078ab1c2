// The command table: one toolkit-free handler per menu caption, and the events of the main window
// (graph clicks, buttons). Both back-ends run commands through it, so a script drives exactly what a
// user at the window would.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "ui/program.h"

namespace orv {

struct Command {
  std::string menu;                   // top-level menu caption, e.g. "&File"
  std::string caption;                // item caption exactly as in the menu
  std::function<void(Program&)> run;  // empty for the inert separator items
};

// Every menu item in menu order, separators included.
const std::vector<Command>& CommandTable();

// The form in which captions are compared: "&" removed, blanks trimmed and runs of blanks collapsed,
// so "Spectrum Fit" finds "Spectrum  Fit".
std::string NormaliseCaption(const std::string& caption);

// The commands the start-up sequence disables for the whole run (normalised captions).
std::set<std::string> DisabledAtStartUp();

enum class CommandStatus { kDone, kUnknown, kDisabled };
CommandStatus RunCommand(Program& p, const std::string& caption);

// "Clear the Form" and the redraw that ends most commands.
void ClearForm(Program& p);
void RedrawCurrentGraph(Program& p);

// A click on the graph at `channel`, and a press of one of the window's buttons; they act only in the
// modes that wait for them.
void GraphClick(Program& p, int channel);
// A click at design pixel (x, y) of the full graph surface, as the windows deliver it.
void GraphClickAt(Program& p, int x, int y);
void PressButton(Program& p, WindowButton button);
// The Esc key: ends whatever click mode waits. A cut, the model bounds, a check or a correction of the
// interval fit is abandoned with the window and menus as before it; manual marking ends as with OK.
void EscapeClickMode(Program& p);

}  // namespace orv
