// What the fuzz targets share: the input as text, a check that stops the run, a workspace kept for the
// whole run, and the invariants a reading keeps whatever the input.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "analysis/workspace.h"
#include "spectrum/spectrum.h"

namespace orv {

inline void Check(bool ok) {
  if (!ok) std::abort();
}

inline std::string Text(const std::uint8_t* data, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

// Building a workspace per input would dominate the time.
inline std::unique_ptr<Workspace> NewWorkspace(const std::string& startDirectory) {
  auto w = std::make_unique<Workspace>(startDirectory);
  ResetAnalysisState(*w);
  return w;
}

inline void CheckInvariants(const TSpectrum& s, bool ok) {
  Check(s.sp.size() == static_cast<std::size_t>(kSpectrumCapacity + 1));
  Check(!ok || (s.a1 >= 1 && s.a2 >= s.a1 && s.a2 <= kSpectrumCapacity));
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
