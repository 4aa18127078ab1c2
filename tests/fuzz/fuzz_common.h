// Shared checks: whatever the input, a reading keeps the spectrum's invariants.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "spectrum/spectrum.h"

namespace orv {

inline void CheckInvariants(const TSpectrum& s, bool ok) {
  if (s.sp.size() != static_cast<std::size_t>(kSpectrumCapacity + 1)) std::abort();
  if (!ok) return;
  if (s.a1 < 1 || s.a2 < s.a1 || s.a2 > kSpectrumCapacity) std::abort();
}

// The first byte chooses the options, so the fuzzer explores them too.
inline InputOptions OptionsFrom(const std::uint8_t*& data, std::size_t& size) {
  InputOptions o;
  if (size == 0) return o;
  std::uint8_t f = *data++;
  --size;
  o.skipHeader = f & 1;
  o.reverseBytes = f & 2;
  o.startAtOne = !(f & 4);
  o.lineIndicators = {1 + ((f >> 3) & 1), 2 + ((f >> 4) & 1), 3 + ((f >> 5) & 3)};
  return o;
}

}  // namespace orv
