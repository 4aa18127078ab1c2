// The small dialogs of the Settings and Info menus that change the analysis state: graph scale and pixel
// mode, window and font size with the help language, the spectrum data, the fitting data, the width
// dependence report and the choice of the current spectrum from the name list. Each returns whether
// its dialog was accepted; redrawing and laying out the windows is left to the caller.
#pragma once

#include "analysis/workspace.h"
#include "core/port.h"

namespace orv {

// "Set Graph Scale": value scale, pixel mode, trimming coefficient and the three graph flags.
bool GraphScaleCommand(Workspace& ws, UiPort& port);

// "Set Form and Font Sizes": screen scale 1, 1.25 or 1.5, font size 8, 10 or 12, and the help language.
bool FormSizesCommand(Workspace& ws, UiPort& port);

// "&Info about the Spectrum": spectrum and interval bounds with the spectrum's processing constants; on
// OK the deviations of every channel are computed again.
bool InfoAboutSpectrumCommand(Workspace& ws, UiPort& port);

// The fitting data asked before an interval fit: width variable, iterations, step, damper, background
// degree, position deviation and the normalisation.
bool FittingDataDialog(Workspace& ws, UiPort& port);

// "Set  Width Dependence": the linear width law through the widths at the interval ends, left in the
// two report lines for the status lines.
void WidthDependenceCommand(Workspace& ws);

// "Assign the Spectrum Name": picks the current spectrum from the name list and reads it.
bool AssignSpectrumNameCommand(Workspace& ws, UiPort& port);

}  // namespace orv
