// One reader of spectrum/formats on arbitrary bytes (ORVANT_READER names it); the detection by content
// runs on the same bytes. Whatever the input, a reading keeps the spectrum's invariants, and an
// accepted one holds counts and a calibration that can be used.
#include <cmath>
#include <string_view>

#include "fuzz_common.h"
#include "spectrum/formats/format_util.h"
#include "spectrum/formats/formats.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static orv::TSpectrum s("fuzz");
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const int type = orv::DetectFormatOfContent(bytes, size);
  orv::Check(type >= 0 && type <= orv::kLastFileType);
  auto r = orv::ORVANT_READER(s, bytes);
  orv::CheckInvariants(s, r.ok);
  if (!r.ok) return 0;
  for (int c = s.a1; c <= s.a2; ++c) orv::Check(s.sp[c] >= 0.0 && std::isfinite(s.sp[c]));
  const auto& m = s.measurement;
  orv::Check(m.liveTime >= 0.0 && m.realTime >= 0.0);
  // A calibration in force rises with the channel over the spectrum.
  const auto energy = [&](int c) { return orv::formats::EvaluatePolynomial(m.energyCoefficients, c); };
  orv::Check(m.energyCoefficients.empty() || s.a2 == s.a1 || energy(s.a2) > energy(s.a1));
  return 0;
}
