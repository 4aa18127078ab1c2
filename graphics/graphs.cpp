#include "graphics/graphs.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/numtext.h"
#include "graphics/memory_canvas.h"

namespace orv {
namespace {

constexpr int kStripTop = 285;  // the black strip below the axis labels holds the texts and ticks
constexpr int kPointTop = 1, kPointBottom = kChannelLabelRow - 1;  // points stay above the axis labels
constexpr int kFitBase = kValueBase + 2;  // base line of the fit graph; its title goes below
constexpr int kFitTop = 6;                // the top of the fit graph's value range
constexpr int kResultTickTop = 344, kResultTickBottom = 353;  // fitted peaks, just above the marks
constexpr double kSubPositions[3] = {0, 0.3333, 0.6667};

// The channels the arrays hold and the spectrum covers.
int FirstChannel(const TSpectrum& s) {
  return std::max(1, s.a1);
}
int LastChannel(const TSpectrum& s) {
  return std::min({s.a2, kSpectrumCapacity, static_cast<int>(s.sp.size()) - 1});
}

bool InArrays(const TSpectrum& s, long long channel) {
  return channel >= 1 && channel < static_cast<long long>(s.sp.size());
}

// The box grows to the right, or moves left at the surface's edge, until its widest line fits.
void ReadoutBox(Canvas& canvas, int& left, int top, int right, int bottom,
                const std::vector<std::string>& lines) {
  int widest = 0;
  for (const std::string& line : lines) widest = std::max(widest, canvas.TextWidth(line));
  const int width = std::max(right - left, widest + 20);
  left = std::max(0, std::min(left, canvas.width() - 1 - width));
  right = left + width;
  canvas.Fill(left, top, right, bottom, kBlack);
  // Corners rounded by a 20 x 20 ellipse.
  canvas.RoundRectangle(left, top, right, bottom, 10, kGreen);
}

}  // namespace

ChannelWindow FitWindowToSpectrum(int first, int last, int width, const TSpectrum& spectrum) {
  const long long lo = FirstChannel(spectrum);
  const long long hi = std::max<long long>(lo, LastChannel(spectrum));
  long long f = first, l = last;
  const long long w = std::max<long long>(1, width);
  if (lo > f) {
    f = lo;
    l = f + w - 1;
  }
  if (hi < l) {
    l = hi;
    f = l - w + 1;
  }
  // A window wider than the spectrum would start before it again: cut it to the spectrum.
  if (f < lo) f = lo;
  if (l < f) l = f;
  return {static_cast<int>(f), static_cast<int>(l), static_cast<int>(l - f + 1)};
}

double LargestCount(const TSpectrum& spectrum, int first, int last) {
  double largest = 0;
  const long long from = std::max<long long>(first, 1);
  const long long to = std::min<long long>(last, static_cast<long long>(spectrum.sp.size()) - 1);
  for (long long i = from; i <= to; ++i) {
    if (std::isfinite(spectrum.sp[i])) largest = std::max(largest, spectrum.sp[i]);
  }
  return largest;
}

int DrawSpectrumGraph(const Workspace& ws, Canvas& canvas, double largestCount) {
  const AnalysisState& st = ws.state;
  const TSpectrum& s = ws.spectrum;
  const Rgb background = ColorFromInt(st.colorBackground);
  canvas.Fill(0, 0, kGraphWidth - 1, kGraphHeight - 1, background);

  const double top = ScaleValue(st, std::isfinite(largestCount) ? largestCount : 0);
  DrawValueAxis(canvas, top, background);

  // Only channels the arrays hold and whose point falls on the axis are drawn.
  PointDrawer drawer(canvas, st.pointStyle);
  const Rgb data = ColorFromInt(st.colorExpData);
  const long long from = std::max<long long>(st.viewFirst, 1);
  const long long to = std::min<long long>(st.viewLast, static_cast<long long>(s.sp.size()) - 1);
  for (long long i = from; i <= to; ++i) {
    const double v = s.sp[i];
    if (!std::isfinite(v)) {
      drawer.StartCurve();  // a gap, not a line across it
      continue;
    }
    const int x = ChannelToPixelX(st, static_cast<double>(i));
    if (x < kAxisLeft || x > kAxisRight) continue;
    drawer.DrawPoint(x, std::clamp(ValueToPixelY(st, top, v), kPointTop, kPointBottom), data);
  }

  DrawChannelAxis(canvas, st, ws.calibration, background);
  canvas.Fill(0, kStripTop, kGraphWidth - 1, kGraphHeight - 1, kBlack);
  const Rgb textBack = ColorFromInt(st.colorTextBackground);
  const int line = canvas.TextHeight() + 4;
  canvas.Text(10, kStripTop + 8, "SPECTRUM = " + s.fileName, kYellow, textBack);
  canvas.Text(10, kStripTop + 8 + line,
              "CHANNELS  =  " + std::to_string(st.viewFirst) + "  -  " + std::to_string(st.viewLast), kYellow,
              textBack);

  // The positions the fit found, in yellow just above the marks they started from.
  const int rows = std::clamp(st.resultCount, 0, ResultTable::resultCapacity);
  for (int r = 1; r <= rows; ++r) {
    const double p = ws.results[r].channel;
    if (!(p > 0) || p < st.viewFirst || p > st.viewLast + 1) continue;
    const int x = ChannelToPixelX(st, p);
    canvas.Line(x, kResultTickTop, x, kResultTickBottom, kYellow);
  }

  int ticks = 0;
  const int peaks = std::clamp(ws.marking.peakCount, 0, kMaxMarkedPeaks);
  for (int k = 1; k <= peaks; ++k) {
    const double p = ws.marking.peakList[k];
    const int r = RoundHalfEven(p);
    if (r > 0 && r >= st.viewFirst && r <= st.viewLast) {
      DrawPeakTick(canvas, st, p, true);
      ++ticks;
    }
  }
  return ticks;
}

int DrawIntervalGraph(Workspace& ws, Canvas& canvas) {
  AnalysisState& st = ws.state;
  const ChannelWindow w = FitWindowToSpectrum(st.viewFirst, st.viewLast, st.viewWidth, ws.spectrum);
  st.viewFirst = w.first;
  st.viewLast = w.last;
  st.viewWidth = w.width;
  return DrawSpectrumGraph(ws, canvas, LargestCount(ws.spectrum, w.first, w.last));
}

bool DrawCurrentGraph(Workspace& ws, Canvas& canvas) {
  switch (ws.state.graphMode) {
    case 1:
      DrawSpectrumGraph(ws, canvas, LargestCount(ws.spectrum, ws.state.viewFirst, ws.state.viewLast));
      return true;
    case 3:
      DrawIntervalGraph(ws, canvas);
      return true;
    default:
      return false;
  }
}

void ShowChannelReadout(Canvas& canvas, const Workspace& ws, int left, int top, int right, int channel,
                        int bottom) {
  std::vector<std::string> lines = {
      "Channel = " + FormatNumber(6, 0, channel),
      "Counts  = " + RemoveBlanks(FormatNumber(12, 0, ws.spectrum.CountAt(channel)))};
  if (EnergyCalibrationInForce(ws.state)) {
    const double energy = ApplyCalibrations(ws.state, ws.calibration, channel, 0, 0, 0).energy;
    lines.push_back("Energy  = " + FormatNumber(7, 2, energy));
  }
  ReadoutBox(canvas, left, top, right, bottom, lines);
  for (std::size_t i = 0; i < lines.size(); ++i)
    canvas.Text(left + 10, top + 5 + 13 * static_cast<int>(i), lines[i], kLightCyan, kBlack);
}

void ShowPeakReadout(Canvas& canvas, const Workspace& ws, int left, int top, int right, double width,
                     double area, double position, int bottom) {
  const double energy = ApplyCalibrations(ws.state, ws.calibration, position, 0, 0, 0).energy;
  const std::vector<std::string> lines = {
      "Counts= " + RemoveBlanks(FormatNumber(12, 0, ws.spectrum.CountAt(RoundHalfEven(position)))),
      "Position = " + FormatNumber(8, 1, position), "Energy  = " + FormatNumber(7, 2, energy),
      "Area  = " + FormatNumber(10, 0, area), "Width  = " + FormatNumber(6, 1, width)};
  // Lines as far apart as the font needs, the box as tall as they are.
  const int step = std::max(14, canvas.TextHeight());
  bottom = std::max(bottom, top + 4 + step * static_cast<int>(lines.size()));
  ReadoutBox(canvas, left, top, right, bottom, lines);
  for (std::size_t i = 0; i < lines.size(); ++i)
    canvas.Text(left + 10, top + 3 + step * static_cast<int>(i), lines[i], kLightCyan, kBlack);
}

int ClickToChannel(const AnalysisState& state, int x, int y) {
  if (x < kAxisLeft || x > kAxisRight || y < 100 || y > 355) return kNoChannel;
  return RoundHalfEven(ChannelAtPixel(state, x));
}

bool ShowClickedPeak(const Workspace& ws, Canvas& canvas, int channel) {
  const TSpectrum& s = ws.spectrum;
  const int last = LastChannel(s);
  if (channel < FirstChannel(s) || channel > last) return false;
  double width = WidthEstimate(s.sp.data(), channel, last);
  if (!(width > 0)) width = ws.state.kw0 + ws.state.kw1 * channel;  // the width law where none is seen
  const PeakEstimate e = EstimatePeak(s, channel, width);
  if (!e.ok) return false;
  ShowPeakReadout(canvas, ws, 440, 5, 590, width, e.netArea, e.position, 85);
  return true;
}

int FitChannelToPixelX(int start, int length, double channel) {
  const double x = (channel - start + 1) * kFitPixels / std::max(1, length);
  return std::isfinite(x) ? std::clamp(RoundHalfEven(x), -1000000, 1000000) + kFitLeft : kFitLeft;
}

int FitClickToChannel(int start, int length, int x) {
  return RoundHalfEven(static_cast<double>(x - kFitLeft) * std::max(1, length) / kFitPixels + start - 1);
}

bool FitAvailable(const Workspace& ws) {
  const int n = ws.fit.n;
  return ws.fit.fitDone && n >= 0 && n <= kMaxPeaks &&
         static_cast<int>(ws.engine.params.size()) > WidthVariableIndex(n);
}

double FittedPeakAt(const Workspace& ws, int k, double channel) {
  const TParameter& e = ws.engine;
  const int n = ws.fit.n;
  const double x = ws.fit.Coordinate(channel);
  const double wx = e.params[WidthIndex(n)].value + e.params[WidthVariableIndex(n)].value * x;
  if (wx == 0) return 0;
  double m, m1, m2;
  ws.model().Evaluate((channel - e.params[PositionIndex(n, k)].value) / wx, m, m1, m2);
  return e.params[AmplitudeIndex(k)].value * m;
}

FittedValue FittedAt(const Workspace& ws, double channel) {
  FittedValue v;
  if (!FitAvailable(ws)) return v;
  v.background = IntervalBackground(ws, channel);
  v.total = v.background;
  for (int k = 1; k <= ws.fit.n; ++k) v.total += FittedPeakAt(ws, k, channel);
  return v;
}

namespace {

// The scale transform of the value axis and its inverse, for the labels.
double Transform(const AnalysisState& st, double v) {
  switch (st.scaleMode) {
    case 1:
      return std::sqrt(std::fabs(v));
    case 2:
      return std::log(std::fabs(v) + 1);
    case 3:
      return v * st.trimmingCoefficient;
    default:
      return v;
  }
}

double Untransform(const AnalysisState& st, double t) {
  switch (st.scaleMode) {
    case 1:
      return t * t;
    case 2:
      return std::exp(t) - 1;
    case 3:
      return st.trimmingCoefficient != 0 ? t / st.trimmingCoefficient : t;
    default:
      return t;
  }
}

// A value label of at most six characters for the narrow margin of the fit graph: thousands and
// millions of counts as "k" and "M".
std::string ShortValueLabel(double v) {
  const double a = std::fabs(v);
  if (a >= 1e8) return RemoveBlanks(FormatNumber(12, 0, v / 1e6)) + "M";
  if (a >= 1e5) return RemoveBlanks(FormatNumber(12, 0, v / 1e3)) + "k";
  return RemoveBlanks(FormatNumber(12, a >= 100 ? 0 : 1, v));
}

// One standard deviation of a count as the fit weighs it.
double CountSigma(const Workspace& ws, long long ch) {
  const TSpectrum& s = ws.spectrum;
  return std::fabs(ws.state.covar * s.CountAt(static_cast<int>(ch)) + s.err[ch]);
}

}  // namespace

FitScale FitGraphScale(const Workspace& ws) {
  const AnalysisState& st = ws.state;
  const IntervalFitState& fs = ws.fit;
  const TSpectrum& s = ws.spectrum;
  double lo = INFINITY, hi = -INFINITY;
  auto take = [&](double v) {
    if (!std::isfinite(v)) return;
    const double t = Transform(st, v);
    if (std::isfinite(t)) lo = std::min(lo, t), hi = std::max(hi, t);
  };
  const bool fitted = FitAvailable(ws);
  for (long long ch = std::max<long long>(fs.startChannel, 1); ch <= fs.endChannel && InArrays(s, ch); ++ch) {
    take(s.sp[ch]);
    if (fitted && st.graphFittedErrors) {
      const double t = FittedAt(ws, static_cast<double>(ch)).total;
      take(t + CountSigma(ws, ch));
      take(t - CountSigma(ws, ch));
    }
  }
  // The curves are drawn at sub-channel positions: their peaks lie between the channels.
  if (fitted)
    for (long long ch = fs.startChannel; ch <= fs.endChannel; ++ch)
      for (double sub : kSubPositions) {
        const double c = static_cast<double>(ch) + sub;
        const FittedValue v = FittedAt(ws, c);
        take(v.total);
        take(v.background);
        for (int k = 1; k <= fs.n; ++k) take(v.background + FittedPeakAt(ws, k, c));
      }
  if (!(lo <= hi)) lo = hi = 0;
  // A little room above and below, so that nothing drawn sits on the frame.
  const double margin = std::max(0.04 * (hi - lo), 1e-6 * std::max(1.0, std::fabs(hi)));
  return {lo - margin, hi + margin};
}

int FitValueToPixelY(const Workspace& ws, const FitScale& scale, double v) {
  const double t = Transform(ws.state, v);
  if (!std::isfinite(t)) return kFitBase;
  const double y = kFitBase - (t - scale.lo) / std::max(scale.hi - scale.lo, 1e-300) * (kFitBase - kFitTop);
  return std::clamp(RoundHalfEven(y), kPointTop, kFitBase + 3);
}

std::string FitGraphTitle(const Workspace& ws) {
  return "INT.= " + std::to_string(ws.fit.startChannel) + " -" + std::to_string(ws.fit.endChannel) + "  " +
         std::to_string(ws.fit.n) + " peak(s)" + "  DB=" + std::to_string(ws.fit.backgroundDegree);
}

namespace {

// Points of the interval's channels with their sub-positions; `value` gives what to draw.
template <class Value>
void FitCurve(const Workspace& ws, Canvas& canvas, const FitScale& top, Rgb color, Value value) {
  const IntervalFitState& fs = ws.fit;
  const int length = fs.endChannel - fs.startChannel + 1;
  PointDrawer drawer(canvas, 2);
  for (long long ch = fs.startChannel; ch <= fs.endChannel; ++ch) {
    for (double sub : kSubPositions) {
      const double c = static_cast<double>(ch) + sub;
      const double v = value(c);
      if (!std::isfinite(v)) {
        drawer.StartCurve();
        continue;
      }
      drawer.DrawPoint(FitChannelToPixelX(fs.startChannel, length, c), FitValueToPixelY(ws, top, v), color);
    }
  }
}

}  // namespace

void DrawSinglePeaks(const Workspace& ws, Canvas& canvas, const FitScale& top) {
  if (!FitAvailable(ws)) return;
  for (int k = 1; k <= ws.fit.n; ++k) {
    FitCurve(ws, canvas, top, kRed,
             [&ws, k](double c) { return IntervalBackground(ws, c) + FittedPeakAt(ws, k, c); });
  }
}

void DrawFitGraph(const Workspace& ws, Canvas& canvas) {
  const AnalysisState& st = ws.state;
  const IntervalFitState& fs = ws.fit;
  const TSpectrum& s = ws.spectrum;
  const Rgb background = ColorFromInt(st.colorBackground);
  canvas.Fill(0, 0, kFitSurfaceWidth - 1, kFitSurfaceHeight - 1, background);
  const int length = fs.endChannel - fs.startChannel + 1;
  if (length < 1) return;
  const FitScale top = FitGraphScale(ws);
  const bool fitted = FitAvailable(ws);
  const int h = canvas.TextHeight();

  // The value axis: five dotted levels across the interval, labelled left of it.
  for (int i = 0; i < 5; ++i) {
    const double t = top.lo + (top.hi - top.lo) * i / 4;
    const int y = kFitBase - RoundHalfEven((kFitBase - kFitTop) * i / 4.0);
    for (int x = kFitLeft; x <= kFitLeft + kFitPixels; x += 5) canvas.Pixel(x, y, kGreen);
    const std::string label = ShortValueLabel(Untransform(st, t));
    const int labelTop = std::clamp(y - h / 2, 0, kFitBase - h);
    canvas.Text(std::max(0, kFitLeft - 3 - canvas.TextWidth(label)), labelTop, label, kWhite, background);
  }

  // Reflection indicators first, so that the curves stay on top of the long ones.
  if (fitted) {
    const int indicatorTop = st.longReflectionIndicators ? kValueTop + 2 : kFitBase - 10;
    for (int k = 1; k <= fs.n; ++k) {
      const double position = ws.engine.params[PositionIndex(fs.n, k)].value;
      const int x = FitChannelToPixelX(fs.startChannel, length, position);
      if (x >= 0 && x < kFitSurfaceWidth) canvas.Line(x, indicatorTop, x, kFitBase, kWhite);
    }
  }
  canvas.Line(kFitLeft, kFitBase, kFitLeft + kFitPixels, kFitBase, kGreen);

  const Rgb fitColor = ColorFromInt(st.colorFitData);
  if (fitted) {
    if (st.graphFittedErrors) {
      // One standard deviation of the counts, as the fit weighs them, around the fitted curve.
      for (long long ch = std::max<long long>(fs.startChannel, 1); ch <= fs.endChannel && InArrays(s, ch);
           ++ch) {
        const double sigma = CountSigma(ws, ch);
        const double t = FittedAt(ws, static_cast<double>(ch)).total;
        if (!std::isfinite(sigma) || !std::isfinite(t)) continue;
        const int x = FitChannelToPixelX(fs.startChannel, length, static_cast<double>(ch));
        canvas.Pixel(x, FitValueToPixelY(ws, top, t + sigma), fitColor);
        canvas.Pixel(x, FitValueToPixelY(ws, top, t - sigma), fitColor);
      }
    }
    FitCurve(ws, canvas, top, kYellow, [&ws](double c) { return IntervalBackground(ws, c); });
    DrawSinglePeaks(ws, canvas, top);
    FitCurve(ws, canvas, top, fitColor, [&ws](double c) { return FittedAt(ws, c).total; });
  }

  PointDrawer drawer(canvas, st.pointStyle);
  const Rgb data = ColorFromInt(st.colorExpData);
  for (long long ch = std::max<long long>(fs.startChannel, 1); ch <= fs.endChannel && InArrays(s, ch); ++ch) {
    const double v = s.sp[ch];
    if (!std::isfinite(v)) {
      drawer.StartCurve();
      continue;
    }
    drawer.DrawPoint(FitChannelToPixelX(fs.startChannel, length, static_cast<double>(ch)),
                     FitValueToPixelY(ws, top, v), data);
  }
  // The title below the base line, inside the surface.
  canvas.Text(kFitLeft, std::min(kFitBase + 3, kFitSurfaceHeight - h), FitGraphTitle(ws), kYellow,
              ColorFromInt(st.colorTextBackground));
}

DialogImage TuningPicture(const AnalysisState& st, const double* original, const double* processed, int count,
                          const DialogImage& area) {
  DialogImage picture = area;
  MemoryCanvas canvas(std::max(area.width, 1), std::max(area.height, 1));
  const int w = canvas.width(), h = canvas.height();
  canvas.Fill(0, 0, w - 1, h - 1, ColorFromInt(st.colorBackground));
  constexpr int kMargin = 4;
  for (int level = 0; level < 5; ++level) {
    const int y = kMargin + level * (h - 2 * kMargin) / 4;
    for (int x = kMargin; x < w - kMargin; x += 4) canvas.Pixel(x, y, kGreen);
  }
  if (count >= 1 && original && processed) {
    double lo = INFINITY, hi = -INFINITY;
    for (const double* curve : {original, processed})
      for (int k = 1; k <= count; ++k)
        if (std::isfinite(curve[k])) lo = std::min(lo, curve[k]), hi = std::max(hi, curve[k]);
    if (!(lo <= hi)) lo = hi = 0;
    const double span = std::max(hi - lo, 1e-9);
    auto x = [&](int k) { return kMargin + RoundHalfEven((k - 0.5) * (w - 2 * kMargin) / count); };
    auto y = [&](double v) {
      return h - 1 - kMargin - RoundHalfEven((v - lo) / span * (h - 2 * kMargin - 1));
    };
    // Both as lines, the processed one over the data: where they part, the data shows beside it, and
    // a narrow peak among thousands of points stays visible.
    for (const double* curve : {original, processed}) {
      PointDrawer line(canvas, 2);
      const Rgb color = ColorFromInt(curve == original ? st.colorExpData : st.colorFitData);
      for (int k = 1; k <= count; ++k) {
        if (!std::isfinite(curve[k])) {
          line.StartCurve();
          continue;
        }
        line.DrawPoint(x(k), y(curve[k]), color);
      }
    }
  }
  picture.pixels = canvas.pixels();
  picture.width = w;
  picture.height = h;
  return picture;
}

}  // namespace orv
