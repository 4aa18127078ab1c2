#include <sstream>

#include "fuzz_common.h"
#include "spectrum/readers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static orv::TSpectrum s;
  orv::OptionsFrom(data, size);
  s.a1 = 1 + (size % 7 == 0 ? 32760 : 0);  // also start near the end of the arrays
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  auto r = orv::ReadFreeFieldSpectrum(s, in);
  orv::CheckInvariants(s, r.ok);
  s.SetErrors(0.01);
  return 0;
}
