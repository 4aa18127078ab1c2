// Text spectrum files written from the spectrum under analysis, so a cleaned spectrum can be kept and
// read back by the readers of types 3 and 4.
#pragma once

#include <string>

#include "spectrum/spectrum.h"

namespace orv {

// Writes the spectrum to `path`: type 3 as free-field counts of channels 1..a2 (channels below a1 as
// zeros, so every count keeps its channel when read from channel 1), type 4 as lines "channel count
// error" for a1..a2 (read back with the first X as the first channel). A comment line names the
// spectrum. Numbers carry 17 significant digits, so a reading gives exactly the values written. False
// (with the reason in `error`) when the type is not 3 or 4 or the file cannot be written.
bool WriteSpectrumFile(const TSpectrum& s, const std::string& path, int type, std::string* error = nullptr);

}  // namespace orv
