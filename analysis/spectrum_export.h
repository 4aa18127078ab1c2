// The spectrum under analysis written as IAEA SPE or ANSI N42.42 with its times and the energy
// calibration in force, so that work can go on in other tools.
#pragma once

#include "analysis/workspace.h"
#include "core/port.h"

namespace orv {

// The menu command "Write the Spectrum": the file name and format dialog, the question before
// overwriting, the writing. True when a file was written.
bool WriteSpectrumCommand(Workspace& ws, UiPort& port);

}  // namespace orv
