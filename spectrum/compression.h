// Compression: every f neighbouring channels of the spectrum are merged into one, in place. Counts
// and variances add up; the bounds and the width information move to the compressed channels.
#pragma once

#include "core/port.h"
#include "core/state.h"
#include "spectrum/spectrum.h"

namespace orv {

enum class CompressionOutcome {
  kDone,
  kWrongFactor,     // f < 1
  kFactorTooLarge,  // f exceeds the number of channels a2 - a1 + 1
  kNoSpectrum,      // the bounds hold no channel of the arrays
};

// Channel k receives the channels (k-1)f+1 .. kf that lie within a1..a2, so the last (partial) group
// never reads beyond the spectrum and no channel outside it is added in. The channels left behind up
// to the old a2 get 0 with deviation 1; the bounds and the interval become the compressed spectrum;
// width1, width2, deltaWidth and the width law kw0, kw1 of the state are rescaled to the new
// channels. Any outcome but kDone leaves everything unchanged.
CompressionOutcome Compress(TSpectrum& spectrum, AnalysisState& state, int f);

// "Compress the Spectrum": asks for the factor (preset compressionFactor, which keeps its value), a
// negative factor taken by its absolute value. Leaves " Compression by factor <f>" in reportLines[0].
// Cancel, a refused number or a wrong factor leave the spectrum unchanged; false then. The caller
// must drop the marking and the results, which refer to the old channels.
bool CompressCommand(TSpectrum& spectrum, AnalysisState& state, UiPort& port);

}  // namespace orv
