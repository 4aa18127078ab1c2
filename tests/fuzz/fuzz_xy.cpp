#include <sstream>

#include "fuzz_common.h"
#include "spectrum/readers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static orv::TSpectrum s;
  orv::InputOptions o = orv::OptionsFrom(data, size);
  s.a1 = 1;
  std::istringstream in(orv::Text(data, size));
  orv::CheckInvariants(s, orv::ReadXYSpectrum(s, in, o).ok);
  return 0;
}
