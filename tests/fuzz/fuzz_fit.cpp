// The spectrum fit on arbitrary input: a small spectrum of counts and a marking of intervals and peak
// positions, hostile ones included (NaN, infinite, huge or negative positions, peaks outside their
// interval, reversed and one-channel intervals). Whatever the input, the fit ends and every result row
// it writes holds numbers.
//
// Input layout (missing bytes read as 0):
//   flags (1 byte): bits 0-1 scale the counts by 1, 16, 4096 or 2^20; bit 2 covar 0 instead of the
//     start-up value; bit 3 counts below 8 (the low-statistics pairing); bit 4 maxInterval 4096;
//     bit 5 background degree 3 instead of automatic; bit 6 a free width variable
//   channels (2 bytes): 16 + value % 1009
//   intervals (1 byte): value % 8, each:
//     start, end (4 bytes each, signed; any, also far outside the spectrum), peaks (1 byte): value % 16,
//     each: a tag byte and then
//       tag % 4 = 0: a byte b, position start + (end - start) * b / 255
//       tag % 4 = 1: 8 bytes, the position's bits (NaN, infinities, any magnitude)
//       tag % 4 = 2: a byte b, position start - b / 4 (outside the interval, or left of it)
//       tag % 4 = 3: the previous peak's position again
//   counts: 2 bytes per channel (cycled when short)
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "analysis/spectrum_fit.h"
#include "fuzz_common.h"

namespace {

class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint32_t Word(int bytes) {
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= static_cast<std::uint32_t>(Byte()) << (8 * i);
    return v;
  }
  double Double() {
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= static_cast<std::uint64_t>(Byte()) << (8 * i);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
  }
  // What is left, for the counts.
  const std::uint8_t* rest() const { return data_ + pos_; }
  std::size_t restSize() const { return size_ - pos_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_, pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // One workspace for the whole run; a start folder without files, so nothing is read from disk.
  static std::unique_ptr<orv::Workspace> ws = orv::NewWorkspace("/nonexistent-orvant-fuzz-folder");
  orv::ResetAnalysisState(*ws);
  Bytes in(data, size);
  const std::uint8_t flags = in.Byte();
  const int channels = 16 + static_cast<int>(in.Word(2) % 1009);

  orv::Marking& m = ws->marking;
  m.peakCount = 0;
  m.intervalCount = static_cast<int>(in.Byte() % 8);
  for (int i = 1; i <= m.intervalCount; ++i) {
    orv::MarkInterval& t = m.intervalTable[i];
    t.startChannel = static_cast<std::int32_t>(in.Word(4));
    t.endChannel = static_cast<std::int32_t>(in.Word(4));
    t.firstPeak = m.peakCount + 1;
    const int n = in.Byte() % 16;
    for (int k = 0; k < n; ++k) {
      const std::uint8_t tag = in.Byte();
      const double start = t.startChannel, end = t.endChannel;
      double p = 0;
      switch (tag % 4) {
        case 0:
          p = start + (end - start) * in.Byte() / 255.0;
          break;
        case 1:
          p = in.Double();
          break;
        case 2:
          p = start - in.Byte() / 4.0;
          break;
        default:
          p = m.peakCount > 0 ? m.peakList[m.peakCount] : start;
      }
      m.peakList[++m.peakCount] = p;
    }
    t.lastPeak = m.peakCount;
  }
  m.markingLength = 2 * m.intervalCount + m.peakCount;

  // Counts as a binary file brings them, then the program's own errors.
  orv::TSpectrum& s = ws->spectrum;
  const double scale = std::array<double, 4>{1, 16, 4096, 1048576}[flags & 3];
  const std::uint8_t* counts = in.rest();
  const std::size_t available = in.restSize() / 2;
  for (int ch = 1; ch <= orv::kSpectrumCapacity; ++ch) {
    double v = 0;
    if (ch <= channels && available > 0) {
      const std::size_t j = 2 * ((ch - 1) % available);
      v = counts[j] | (counts[j + 1] << 8);
      v = (flags & 8) ? std::fmod(v, 8) : v * scale;
    }
    s.sp[ch] = v;
    s.err[ch] = std::sqrt(std::max(1.0, v));
  }
  s.fileType = 1;
  s.a1 = 1;
  s.a2 = channels;
  s.FindExtremes();
  orv::SetInterval(ws->state, s, s.a1, s.a2);
  if (flags & 4) ws->state.covar = 0;
  if (flags & 16) ws->state.maxInterval = 4096;
  if (flags & 32) s.dback = 3;
  if (flags & 64) s.deltaWidthVariable = 1;
  s.SetErrors(ws->state.covar);

  for (int r = 1; r <= orv::kMaxResults; ++r) ws->results[r] = orv::ResultRow{};
  orv::SilentPort port;
  orv::SpectrumFit(*ws, port, 0, nullptr);
  ws->engine.port = nullptr;
  orv::Check(ws->state.resultCount >= 0 && ws->state.resultCount <= orv::kMaxResults);
  for (int r = 1; r <= ws->state.resultCount; ++r) {
    const orv::ResultRow& row = ws->results[r];
    for (double v : {row.channel, row.channelError, row.area, row.areaError, row.width, row.widthError,
                     row.criterion, row.background})
      orv::Check(!std::isnan(v));
  }
  return 0;
}
