// Blunder correction: single-channel outliers (spikes from electronic noise, dropped counts) are
// found by comparing each channel with its neighbours and replaced in place.
#pragma once

#include "core/port.h"
#include "core/state.h"
#include "spectrum/spectrum.h"

namespace orv {

struct BlunderCount {
  int changed = 0;       // channels replaced by both passes together
  int zeroReplaced = 0;  // of those, channels that held 0
};

// Corrects channels first+1 .. last-1 (the range is clipped to the arrays) with the limits chibc and
// blunderOrder of the state: pass 1 replaces isolated spikes by the mean of their neighbours, pass 2
// replaces points that lie far from a local fit of a smooth neighbourhood. A replaced count gets the
// deviation of its replacement. Nothing happens for fewer than three channels.
BlunderCount CorrectBlunders(TSpectrum& spectrum, const AnalysisState& state, int first, int last);

// "Correct for Blunders": asks for chibc and the order, corrects the whole spectrum a1..a2, leaves
// "<n> blunders corrected" in reportLines[0] and writes it to `output` (may be null). Cancel, a
// refused number or a negative limit leave the spectrum and the settings as they were; false then.
bool BlunderCommand(TSpectrum& spectrum, AnalysisState& state, UiPort& port, LineSink* output);

}  // namespace orv
