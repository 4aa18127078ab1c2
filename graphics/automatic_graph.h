// The picture of an automatic analysis: the spectrum graph of the state's window with the fitted curve
// of every interval drawn over the data, the reported peaks (criterion above 3) marked, and the width
// law written in the text strip, so that a user sees at a glance what was found and how well it fits.
#pragma once

#include "analysis/automatic/automatic_analysis.h"
#include "analysis/workspace.h"
#include "graphics/canvas.h"

namespace orv {

// True when the counts of first..last span more than two decades (largest over the smallest
// positive one, at least 1): such a spectrum is drawn on the logarithmic value scale.
bool SpansDecades(const TSpectrum& spectrum, int first, int last);

// Draws the picture; the value scale is the state's (callers choose it, see SpansDecades).
void DrawAutomaticGraph(const Workspace& ws, Canvas& canvas, const AutomaticResult& result);

}  // namespace orv
