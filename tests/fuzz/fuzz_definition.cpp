// Instrument definition files of arbitrary bytes: every value read is a finite number, and a value
// the file does not give keeps the field.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "spectrum/spectrum.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static orv::TSpectrum s;
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  s.ReadDefinition(in);
  for (double v : {s.chanWidth, s.delay, s.theta, s.flightPath, s.width1, s.lambda})
    if (!std::isfinite(v)) std::abort();
  return 0;
}
