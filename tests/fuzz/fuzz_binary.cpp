#include "fuzz_common.h"
#include "spectrum/readers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static orv::TSpectrum s;
  orv::InputOptions o = orv::OptionsFrom(data, size);
  orv::CheckInvariants(s, orv::ReadBinarySpectrum(s, data, size, ORVANT_WORD_SIZE, o).ok);
  s.FindExtremes();
  return 0;
}
