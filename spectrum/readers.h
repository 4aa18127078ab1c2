// Readers of the four spectrum file types. Each fills the spectrum object it is given from a1 upward
// and sets the bounds; callers pass a copy of the current spectrum and keep it only on success, so a
// failed reading never half-changes the spectrum under analysis.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

#include "core/state.h"
#include "spectrum/spectrum.h"

namespace orv {

struct ReadOutcome {
  bool ok = false;
  std::vector<std::string> messages;  // warnings and errors, in the order they arose
};

// Captions of the file types as the input dialog lists them: the four word and number types, then the
// formats of the analysers' own software (types 5..9).
extern const std::vector<std::string> kFileTypeCaptions;

// Reads s.fileName according to s.fileType (types 5..9 by the readers of spectrum/formats).
ReadOutcome ReadSpectrumFile(TSpectrum& s, const InputOptions& options);

// The readers proper, on bytes already in memory or an open text stream.
// wordSize 2: unsigned 16-bit little-endian values; 4: signed 32-bit little-endian values.
ReadOutcome ReadBinarySpectrum(TSpectrum& s, const unsigned char* data, std::size_t size, int wordSize,
                               const InputOptions& options);
ReadOutcome ReadFreeFieldSpectrum(TSpectrum& s, std::istream& in);
ReadOutcome ReadXYSpectrum(TSpectrum& s, std::istream& in, const InputOptions& options);

}  // namespace orv
