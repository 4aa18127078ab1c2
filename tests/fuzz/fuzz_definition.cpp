// Instrument definition files of arbitrary bytes: every value read is a finite number, and a value
// the file does not give keeps the field.
#include <cmath>
#include <sstream>

#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static orv::TSpectrum s;
  std::istringstream in(orv::Text(data, size));
  s.ReadDefinition(in);
  for (double v : {s.chanWidth, s.delay, s.theta, s.flightPath, s.width1, s.lambda})
    orv::Check(std::isfinite(v));
  return 0;
}
