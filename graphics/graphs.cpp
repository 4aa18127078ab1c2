#include "graphics/graphs.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/numtext.h"

namespace orv {
namespace {

constexpr int kStripTop = 285;  // the black strip below the axis labels holds the texts and ticks
constexpr int kPointTop = 1, kPointBottom = 249;  // points stay between the top and the axis labels
constexpr int kFitBase = kValueBase + 2;          // the fit graph sits 2 pixels lower
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

void ReadoutBox(Canvas& canvas, int left, int top, int right, int bottom) {
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
  canvas.Text(10, kStripTop + 8, "SPECTRUM = " + s.fileName, kYellow, textBack);
  canvas.Text(10, kStripTop + 26,
              "CHANNELS  =  " + std::to_string(st.viewFirst) + "  -  " + std::to_string(st.viewLast), kYellow,
              textBack);

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
  ReadoutBox(canvas, left, top, right, bottom);
  const int x = left + 10;
  canvas.Text(x, top + 5, "Channel = " + FormatNumber(6, 0, channel), kLightCyan, kBlack);
  canvas.Text(x, top + 18, "Counts  = " + RemoveBlanks(FormatNumber(12, 0, ws.spectrum.CountAt(channel))),
              kLightCyan, kBlack);
  if (EnergyCalibrationInForce(ws.state)) {
    const double energy = ApplyCalibrations(ws.state, ws.calibration, channel, 0, 0, 0).energy;
    canvas.Text(x, top + 31, "Energy  = " + FormatNumber(7, 2, energy), kLightCyan, kBlack);
  }
}

void ShowPeakReadout(Canvas& canvas, const Workspace& ws, int left, int top, int right, double width,
                     double area, double position, int bottom) {
  ReadoutBox(canvas, left, top, right, bottom);
  const int x = left + 10;
  const double energy = ApplyCalibrations(ws.state, ws.calibration, position, 0, 0, 0).energy;
  canvas.Text(x, top + 4, "Counts= " + FormatNumber(12, 0, ws.spectrum.CountAt(RoundHalfEven(position))),
              kLightCyan, kBlack);
  canvas.Text(x, top + 18, "Position = " + FormatNumber(8, 1, position), kLightCyan, kBlack);
  canvas.Text(x, top + 32, "Energy  = " + FormatNumber(7, 2, energy), kLightCyan, kBlack);
  canvas.Text(x, top + 48, "Area  = " + FormatNumber(10, 0, area), kLightCyan, kBlack);
  canvas.Text(x, top + 62, "Width  = " + FormatNumber(6, 1, width), kLightCyan, kBlack);
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

double FitGraphTop(const Workspace& ws) {
  const IntervalFitState& fs = ws.fit;
  double largest = LargestCount(ws.spectrum, fs.startChannel, fs.endChannel);
  if (FitAvailable(ws)) {
    for (long long ch = fs.startChannel; ch <= fs.endChannel; ++ch) {
      const double t = FittedAt(ws, static_cast<double>(ch)).total;
      if (std::isfinite(t)) largest = std::max(largest, t);
    }
  }
  return ScaleValue(ws.state, largest);
}

std::string FitGraphTitle(const Workspace& ws) {
  return "INT.= " + std::to_string(ws.fit.startChannel) + " -" + std::to_string(ws.fit.endChannel) + "  " +
         std::to_string(ws.fit.n) + " peak(s)" + "  DB=" + std::to_string(ws.fit.backgroundDegree);
}

namespace {

int FitPixelY(const Workspace& ws, double top, double v) {
  return std::clamp(ValueToPixelY(ws.state, top, v) + 2, kPointTop, kFitBase + 3);
}

// Points of the interval's channels with their sub-positions; `value` gives what to draw.
template <class Value>
void FitCurve(const Workspace& ws, Canvas& canvas, double top, Rgb color, Value value) {
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
      drawer.DrawPoint(FitChannelToPixelX(fs.startChannel, length, c), FitPixelY(ws, top, v), color);
    }
  }
}

}  // namespace

void DrawSinglePeaks(const Workspace& ws, Canvas& canvas, double top) {
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
  const double top = FitGraphTop(ws);
  const bool fitted = FitAvailable(ws);

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
        const double y = s.CountAt(static_cast<int>(ch));
        const double sigma = std::fabs(st.covar * y + s.err[ch]);
        const double t = FittedAt(ws, static_cast<double>(ch)).total;
        if (!std::isfinite(sigma) || !std::isfinite(t)) continue;
        const int x = FitChannelToPixelX(fs.startChannel, length, static_cast<double>(ch));
        canvas.Pixel(x, FitPixelY(ws, top, t + sigma), fitColor);
        canvas.Pixel(x, FitPixelY(ws, top, t - sigma), fitColor);
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
                     FitPixelY(ws, top, v), data);
  }
  canvas.Text(kFitLeft, kFitBase + 5, FitGraphTitle(ws), kYellow, ColorFromInt(st.colorTextBackground));
}

void DrawSplineCurves(Canvas& canvas, const AnalysisState& st, const SplineCurves& c) {
  if (c.count < 1) return;
  canvas.Fill(0, 0, canvas.width() - 1, canvas.height() - 1, ColorFromInt(st.colorBackground));
  const double span = std::max(c.largest - c.smallest, 1e-9);
  auto y = [&](double v) {
    const double t = std::isfinite(v) ? std::clamp((v - c.smallest) / span, 0.0, 1.0) : 0.0;
    return static_cast<int>(std::lround(283 - 280 * t));
  };
  PointDrawer draw(canvas, 2);
  for (int pass = 0; pass < 2; ++pass) {
    const double* values = pass == 0 ? c.original : c.processed;
    const Rgb color = pass == 0 ? ColorFromInt(st.colorExpData) : ColorFromInt(st.colorFitData);
    draw.StartCurve();
    for (int k = 1; k <= c.count; ++k) draw.DrawPoint(SplineCurvePixel(k, c.count) + 40, y(values[k]), color);
  }
}

}  // namespace orv
