#include <sstream>

#include "fuzz_common.h"
#include "spectrum/readers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static orv::TSpectrum s;
  orv::InputOptions o = orv::OptionsFrom(data, size);
  s.a1 = 1;
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  auto r = orv::ReadXYSpectrum(s, in, o);
  orv::CheckInvariants(s, r.ok);
  return 0;
}
