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
  if (type < 0 || type > orv::kLastFileType) std::abort();
  auto r = orv::ORVANT_READER(s, bytes);
  orv::CheckInvariants(s, r.ok);
  if (!r.ok) return 0;
  for (int c = s.a1; c <= s.a2; ++c)
    if (!(s.sp[c] >= 0.0 && std::isfinite(s.sp[c]))) std::abort();
  const auto& m = s.measurement;
  if (!(m.liveTime >= 0.0) || !(m.realTime >= 0.0)) std::abort();
  // A calibration in force rises with the channel over the spectrum.
  if (!m.energyCoefficients.empty() && s.a2 > s.a1 &&
      !(orv::formats::EvaluatePolynomial(m.energyCoefficients, s.a2) >
        orv::formats::EvaluatePolynomial(m.energyCoefficients, s.a1)))
    std::abort();
  return 0;
}
