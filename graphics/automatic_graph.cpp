#include "graphics/automatic_graph.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "graphics/graphs.h"
#include "graphics/plot.h"

namespace orv {
namespace {

constexpr int kStripTop = 285;
constexpr int kPointTop = 1, kPointBottom = kChannelLabelRow - 1;

}  // namespace

bool SpansDecades(const TSpectrum& spectrum, int first, int last) {
  double largest = 0, smallest = INFINITY;
  const int from = std::max(first, 1), to = std::min(last, static_cast<int>(spectrum.sp.size()) - 1);
  for (int i = from; i <= to; ++i) {
    const double v = spectrum.sp[i];
    if (!std::isfinite(v)) continue;
    largest = std::max(largest, v);
    if (v > 0) smallest = std::min(smallest, v);
  }
  return largest > 100 * std::max(std::isfinite(smallest) ? smallest : 1.0, 1.0);
}

void DrawAutomaticGraph(const Workspace& ws, Canvas& canvas, const AutomaticResult& result) {
  const AnalysisState& st = ws.state;
  const double largest = LargestCount(ws.spectrum, st.viewFirst, st.viewLast);
  DrawSpectrumGraph(ws, canvas, largest);
  const double top = ScaleValue(st, largest);
  auto y = [&](double v) { return std::clamp(ValueToPixelY(st, top, v), kPointTop, kPointBottom); };
  const Rgb fitColour = ColorFromInt(st.colorFitData);
  const Rgb backgroundColour = ColorFromInt(st.colorForm);
  // Each interval's background, then its total over the data: one connected curve per interval.
  for (const FittedInterval& c : result.intervals) {
    if (c.end < st.viewFirst || c.start > st.viewLast) continue;
    for (int pass = 0; pass < 2; ++pass) {
      const std::vector<double>& values = pass == 0 ? c.background : c.total;
      const Rgb colour = pass == 0 ? backgroundColour : fitColour;
      int px = -1, py = 0;
      for (int ch = std::max(c.start, st.viewFirst); ch <= std::min(c.end, st.viewLast); ++ch) {
        const std::size_t i = static_cast<std::size_t>(ch - c.start);
        if (i >= values.size() || !std::isfinite(values[i])) continue;
        const int x = ChannelToPixelX(st, ch), yy = y(values[i]);
        if (x < kAxisLeft || x > kAxisRight) continue;
        if (px >= 0) canvas.Line(px, py, x, yy, colour);
        px = x, py = yy;
      }
    }
  }
  // Reported peaks: a white mark above the fitted curve at the peak.
  int reported = 0;
  for (const FittedInterval& c : result.intervals) {
    for (int r = c.firstRow; r <= c.lastRow; ++r) {
      const ResultRow& row = ws.results[r];
      if (!(row.criterion > 3)) continue;
      ++reported;
      if (row.channel < st.viewFirst || row.channel > st.viewLast) continue;
      const int ch = std::clamp(static_cast<int>(std::lround(row.channel)), c.start, c.end);
      const std::size_t i = static_cast<std::size_t>(ch - c.start);
      const int x = ChannelToPixelX(st, row.channel);
      const int peakTop = i < c.total.size() ? y(c.total[i]) : kValueTop;
      const int y1 = std::max(kPointTop, peakTop - 14), y2 = std::max(kPointTop, peakTop - 4);
      canvas.Line(x, y1, x, y2, kWhite);
      canvas.Line(x - 2, y2 - 3, x, y2, kWhite);
      canvas.Line(x + 2, y2 - 3, x, y2, kWhite);
    }
  }
  // The width law below the spectrum's name and channels, the count beside the channels; the fitted
  // peaks' ticks below stay free.
  const int line = canvas.TextHeight() + 4;
  char text[160];
  if (result.law.q != 0)
    std::snprintf(text, sizeof text, "FWHM = sqrt(%.4g + %.4g*chan + %.3g*chan^2)", result.law.a,
                  result.law.b, result.law.q);
  else
    std::snprintf(text, sizeof text, "FWHM = sqrt(%.4g + %.4g*chan)%s", result.law.a, result.law.b,
                  result.law.lines > 0 ? "" : " (given widths)");
  const Rgb textBack = ColorFromInt(st.colorTextBackground);
  canvas.Text(10, kStripTop + 8 + 2 * line, text, kYellow, textBack);
  std::snprintf(text, sizeof text, "PEAKS = %d of %d with crit. > 3", reported, result.peaks);
  canvas.Text(300, kStripTop + 8 + line, text, kYellow, textBack);
}

}  // namespace orv
