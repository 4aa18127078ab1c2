#include <sstream>

#include "fuzz_common.h"
#include "spectrum/readers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static orv::TSpectrum s;
  orv::OptionsFrom(data, size);
  s.a1 = 1 + (size % 7 == 0 ? 32760 : 0);  // also start near the end of the arrays
  std::istringstream in(orv::Text(data, size));
  orv::CheckInvariants(s, orv::ReadFreeFieldSpectrum(s, in).ok);
  s.SetErrors(0.01);
  return 0;
}
