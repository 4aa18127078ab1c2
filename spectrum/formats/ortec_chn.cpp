// ORTEC CHN: a 32-byte little-endian header (-1, detector and segment numbers, start seconds, real
// and live time in 20 ms ticks, start date DDMMMYY with a century mark, start time HHMM, channel offset,
// channel count), the counts as 32-bit unsigned integers, and an optional trailer: -101 (linear energy
// calibration) or -102 (quadratic), the energy and FWHM coefficients, and at bytes 256 and 320 the
// detector and sample descriptions, each a length byte and up to 63 characters.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "spectrum/formats/format_util.h"
#include "spectrum/formats/formats.h"

namespace orv {

namespace {

using namespace formats;

constexpr std::size_t kHeader = 32;

std::uint16_t U16(std::string_view b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                    (static_cast<unsigned char>(b[at + 1]) << 8));
}
std::int16_t I16(std::string_view b, std::size_t at) {
  return static_cast<std::int16_t>(U16(b, at));
}
std::uint32_t U32(std::string_view b, std::size_t at) {
  return static_cast<std::uint32_t>(U16(b, at)) | (static_cast<std::uint32_t>(U16(b, at + 2)) << 16);
}
double F32(std::string_view b, std::size_t at) {
  const std::uint32_t u = U32(b, at);
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}

std::string Description(std::string_view trailer, std::size_t at) {
  if (trailer.size() < at + 1) return "";
  const std::size_t length = std::min<std::size_t>(static_cast<unsigned char>(trailer[at]), 63);
  std::string text(trailer.substr(at + 1, std::min(length, trailer.size() - at - 1)));
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 32) c = ' ';
  return std::string(Trim(text));
}

std::string ChnDate(std::string_view h) {
  static const char* const kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                        "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  const std::string date(h.substr(16, 8)), time(h.substr(24, 4)), seconds(h.substr(6, 2));
  auto digits = [](const std::string& t, std::size_t at, std::size_t n) {
    int v = 0;
    for (std::size_t k = at; k < at + n; ++k) {
      if (t[k] < '0' || t[k] > '9') return -1;
      v = v * 10 + (t[k] - '0');
    }
    return v;
  };
  int month = 0;
  for (int k = 0; k < 12; ++k)
    if (Lower(date.substr(2, 3)) == Lower(kMonths[k])) month = k + 1;
  const int day = digits(date, 0, 2), year = digits(date, 5, 2);
  if (month == 0 || day < 0 || year < 0) return "";
  // The eighth character marks the century: '1' for the years 2000 and later.
  const int fullYear = (date[7] == '1' ? 2000 : 1900) + year;
  const int hour = digits(time, 0, 2), minute = digits(time, 2, 2), second = digits(seconds, 0, 2);
  return IsoDateTime(fullYear, month, day, std::max(hour, 0), std::max(minute, 0), std::max(second, 0));
}

}  // namespace

ReadOutcome ReadOrtecChn(TSpectrum& s, std::string_view b) {
  auto refuse = [&](const std::string& what) { return Refusal(s, what); };
  if (b.size() < kHeader)
    return refuse("truncated header, " + std::to_string(b.size()) + " of " + std::to_string(kHeader) +
                  " bytes");
  if (I16(b, 0) != -1) return refuse("not an ORTEC CHN file (first word is not -1)");
  const std::size_t channels = U16(b, 30);
  const std::size_t offset = U16(b, 28);
  if (channels == 0) return refuse("the header declares no channels");
  if (channels > static_cast<std::size_t>(kSpectrumCapacity))
    return refuse(std::to_string(channels) + " channels, more than " + std::to_string(kSpectrumCapacity));
  const std::size_t dataEnd = kHeader + 4 * channels;
  if (b.size() < dataEnd)
    return refuse("the header declares " + std::to_string(channels) + " channels, the file holds " +
                  std::to_string((b.size() - kHeader) / 4));
  ParsedSpectrum p;
  p.firstFileChannel = static_cast<double>(offset);
  p.counts.resize(channels);
  for (std::size_t k = 0; k < channels; ++k) p.counts[k] = U32(b, kHeader + 4 * k);
  SpectrumMeasurement& m = p.measurement;
  m.realTime = U32(b, 8) * 0.02;
  m.liveTime = U32(b, 12) * 0.02;
  m.startTime = ChnDate(b);
  if (b.size() > dataEnd) {
    const std::string_view trailer = b.substr(dataEnd);
    const int code = trailer.size() >= 2 ? I16(trailer, 0) : 0;
    if (code != -101 && code != -102)
      return refuse(std::to_string(b.size() - dataEnd) + " bytes after the " + std::to_string(channels) +
                    " channels declared, and no calibration trailer");
    if (trailer.size() < 28) return refuse("truncated calibration trailer");
    p.fileCoefficients = {F32(trailer, 4), F32(trailer, 8)};
    m.widthCoefficients = {F32(trailer, 16), F32(trailer, 20)};
    if (code == -102) {
      p.fileCoefficients.push_back(F32(trailer, 12));
      m.widthCoefficients.push_back(F32(trailer, 24));
    }
    const std::string detector = Description(trailer, 256), sample = Description(trailer, 320);
    m.description = detector.empty() || sample.empty() ? detector + sample : detector + "; " + sample;
  }
  return StoreParsed(s, p);
}

}  // namespace orv
