// The carbon line analysis of a series of spectra on an energy scale: asks for the carbon region and a
// list file of spectrum names, then reads each listed spectrum and shows its measurement with a graph.
#pragma once

#include "analysis/workspace.h"
#include "core/port.h"

namespace orv {

// The whole command. Each spectrum read replaces the spectrum under analysis (channels 1..350 as
// spectrum and interval, type 4, marking forgotten), so the last one read stays loaded; the ASCII line
// indicators stay at 2, 3, 4 and the folder of the list becomes the last folder used. A spectrum that
// cannot be read is reported and skipped, leaving the loaded spectrum as it was.
void CarbonAnalysisCommand(Workspace& ws, UiPort& port);

}  // namespace orv
