#include "spectrum/compression.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "core/dialog.h"
#include "core/help_texts.h"
#include "core/numtext.h"

namespace orv {

namespace {

constexpr Rgb kGreen{0, 128, 0};

}  // namespace

CompressionOutcome Compress(TSpectrum& s, AnalysisState& st, int f) {
  if (f < 1) return CompressionOutcome::kWrongFactor;
  const int first = std::max(s.a1, 1);
  const int last = std::min(s.a2, kSpectrumCapacity);
  if (first > last) return CompressionOutcome::kNoSpectrum;
  // Also keeps (k - 1) * f below the int range for every group below.
  if (f > last - first + 1) return CompressionOutcome::kFactorTooLarge;

  const int c1 = (first - 1) / f + 1;
  const int c2 = (last - 1) / f + 1;
  // Group k starts at (k - 1) f + 1 >= k, so it is read before channel k is written and no result
  // lands on a channel still to be read. Channels outside first..last hold whatever an earlier
  // spectrum left there and take no part.
  for (int k = c1; k <= c2; ++k) {
    const int g1 = std::max((k - 1) * f + 1, first);
    const int g2 = std::min(k * f, last);
    double counts = 0.0, variance = 0.0;
    for (int i = g1; i <= g2; ++i) {
      counts += s.sp[i];
      variance += s.err[i] * s.err[i];
    }
    s.sp[k] = counts;
    s.err[k] = std::sqrt(variance);
    s.x[k] = s.x[g1];
  }
  for (int i = 1; i < c1; ++i) {
    s.sp[i] = 0.0;
    s.err[i] = 1.0;
  }
  for (int i = c2 + 1; i <= last; ++i) {
    s.sp[i] = 0.0;
    s.err[i] = 1.0;
  }

  // Widths are in channels: w'(k) = w(c) / f at the group centre c = f k - (f - 1) / 2, so the
  // slope of the law stays and its constant term moves.
  s.width1 /= f;
  s.width2 /= f;
  s.deltaWidth /= f;
  st.kw0 = (st.kw0 - st.kw1 * (f - 1) / 2.0) / f;

  s.a1 = c1;
  s.a2 = c2;
  SetInterval(st, s, c1, c2);
  s.FindExtremes();
  return CompressionOutcome::kDone;
}

bool CompressCommand(TSpectrum& s, AnalysisState& st, UiPort& port) {
  DialogRequest r = PrepareDialog("Spectrum compression", 0, 600, 420);
  r.helpLines = HelpText(HelpId::kCompression, st.russianHelp);
  ShowLabel(r, 1, 10, 50, "Compression factor", kWhite, kGreen);
  ShowEditField(r, 170, 50, std::to_string(st.compressionFactor), 70);
  if (!port.ShowDialog(r)) return false;
  int accepted = 1;
  const double value = ReadNumber(r.edit ? r.edit->text : std::string(), accepted);
  if (accepted == 0) return false;
  // Rounding the magnitude saturates huge values instead of overflowing the negation.
  const int f = RoundHalfEven(std::fabs(value));
  switch (Compress(s, st, f)) {
    case CompressionOutcome::kDone:
      st.reportLines[0] = " Compression by factor " + std::to_string(f);
      st.reportLines[1].clear();
      return true;
    case CompressionOutcome::kWrongFactor:
      port.ShowMessage("Wrong compression factor");
      return false;
    case CompressionOutcome::kFactorTooLarge:
      port.ShowMessage("Wrong compression factor, larger than the spectrum length " +
                       std::to_string(s.a2 - s.a1 + 1));
      return false;
    case CompressionOutcome::kNoSpectrum:
      port.ShowMessage("Error, no spectrum to compress");
      return false;
  }
  return false;
}

}  // namespace orv
