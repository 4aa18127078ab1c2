#include "graphics/plot.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "core/numtext.h"

namespace orv {
namespace {

// Pixel results far off the surface are kept within this range so that later offsets cannot overflow.
constexpr int kPixelLimit = 1000000;

int ClampPixel(int v) {
  return std::clamp(v, -kPixelLimit, kPixelLimit);
}

// A zero or negative width would divide by zero; the window is then one channel wide.
int SafeWidth(int viewWidth) {
  return std::max(1, viewWidth);
}

}  // namespace

Rgb ColorFromInt(std::int32_t color) {
  const std::uint32_t c = static_cast<std::uint32_t>(color);
  return Rgb{static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
             static_cast<int>((c >> 16) & 0xFF)};
}

double ScaleValue(const AnalysisState& state, double v) {
  switch (state.scaleMode) {
    case 0:
      return v;
    case 1:
      return std::sqrt(std::fabs(v));
    case 2:
      return std::log(std::fabs(v) + 1);
    case 3:
      return v * state.trimmingCoefficient;
    default:
      return 1;
  }
}

int ValueToPixelY(const AnalysisState& state, double top, double v) {
  double t;
  switch (state.scaleMode) {
    case 1:
      t = std::sqrt(std::fabs(v));
      break;
    case 2:
      t = std::log(std::fabs(v) + 1);
      break;
    case 3:
      t = std::min(top, v * state.trimmingCoefficient);
      break;
    default:
      t = v;
  }
  if (!std::isfinite(t)) return std::isnan(t) ? kValueBase : (t > 0 ? -kPixelLimit : kPixelLimit);
  const double scaleTop = std::isfinite(top) ? std::max(0.1, top) : 0.1;
  return ClampPixel(RoundHalfEven(kValueBase - kValuePixels * t / scaleTop));
}

int ChannelToPixelX(int viewFirst, int viewWidth, double channel) {
  const double x = kAxisPixels * (channel - viewFirst + 1) / SafeWidth(viewWidth);
  if (std::isnan(x)) return kAxisLeft;
  return ClampPixel(kAxisLeft + std::clamp(RoundHalfEven(x), -kPixelLimit, kPixelLimit));
}

int ChannelToPixelX(const AnalysisState& state, double channel) {
  return ChannelToPixelX(state.viewFirst, state.viewWidth, channel);
}

double PixelXToChannel(int viewFirst, int viewWidth, double x) {
  return (x - kAxisLeft) * SafeWidth(viewWidth) / kAxisPixels + viewFirst;
}

double PixelXToChannel(const AnalysisState& state, double x) {
  return PixelXToChannel(state.viewFirst, state.viewWidth, x);
}

double ChannelAtPixel(const AnalysisState& state, double x) {
  return PixelXToChannel(state, x) - 1;
}

ScaledCanvas::ScaledCanvas(Canvas& target, double scale)
    : target_(target), scale_(std::isfinite(scale) && scale > 0 ? scale : 1.0) {}

int ScaledCanvas::S(int v) const {
  return RoundHalfEven(v * scale_);
}

int ScaledCanvas::width() const {
  return RoundHalfEven(target_.width() / scale_);
}

int ScaledCanvas::height() const {
  return RoundHalfEven(target_.height() / scale_);
}

void ScaledCanvas::Pixel(int x, int y, Rgb color) {
  target_.Pixel(S(x), S(y), color);
}

void ScaledCanvas::Line(int x1, int y1, int x2, int y2, Rgb color) {
  target_.Line(S(x1), S(y1), S(x2), S(y2), color);
}

void ScaledCanvas::Rectangle(int x1, int y1, int x2, int y2, Rgb color) {
  target_.Rectangle(S(x1), S(y1), S(x2), S(y2), color);
}

void ScaledCanvas::RoundRectangle(int x1, int y1, int x2, int y2, int radius, Rgb color) {
  target_.RoundRectangle(S(x1), S(y1), S(x2), S(y2), S(radius), color);
}

void ScaledCanvas::Fill(int x1, int y1, int x2, int y2, Rgb color) {
  target_.Fill(S(x1), S(y1), S(x2), S(y2), color);
}

void ScaledCanvas::Text(int x, int y, const std::string& text, Rgb color, Rgb background) {
  target_.Text(S(x), S(y), text, color, background);
}

// A text box in design pixels is the target's box shrunk by the scale, rounded outward, so that texts
// laid out apart in design pixels stay apart on the surface.
int ScaledCanvas::TextWidth(const std::string& text) const {
  return static_cast<int>(std::ceil(target_.TextWidth(text) / scale_));
}

int ScaledCanvas::TextHeight() const {
  return static_cast<int>(std::ceil(target_.TextHeight() / scale_));
}

void PointDrawer::DrawPoint(int x, int y, Rgb color) {
  switch (style_) {
    case 0:
      canvas_.Pixel(x, y, color);
      canvas_.Pixel(x - 1, y, color);
      canvas_.Pixel(x + 1, y, color);
      canvas_.Pixel(x, y - 1, color);
      canvas_.Pixel(x, y + 1, color);
      break;
    case 2:
      if (started_) {
        canvas_.Line(lastX_, lastY_, x, y, color);
      } else {
        canvas_.Pixel(x, y, color);  // a curve of one point still shows
      }
      break;
    default:
      canvas_.Pixel(x, y, color);
  }
  started_ = true;
  lastX_ = x;
  lastY_ = y;
}

void DrawPeakTick(Canvas& canvas, const AnalysisState& state, double position, bool highlighted) {
  const int x = ChannelToPixelX(state, position);
  canvas.Line(x, kTickTop, x, kTickBottom, highlighted ? kGreen : kBlack);
}

std::array<double, 5> ValueLevels(double top) {
  std::array<double, 5> levels{};
  for (int i = 1; i <= 5; ++i) levels[i - 1] = top - (i - 1) * top / 4;
  return levels;
}

int LevelPixelY(double top, double level) {
  const double scaleTop = std::isfinite(top) ? std::max(0.1, top) : 0.1;
  const double y = kValueBase - kValuePixels * level / scaleTop;
  return std::isfinite(y) ? ClampPixel(RoundHalfEven(y)) : kValueBase;
}

void DrawValueAxis(Canvas& canvas, double top, Rgb background) {
  if (!std::isfinite(top)) top = 0;
  const int decimals = std::fabs(top) >= 1000 ? 0 : 2;
  const int h = canvas.TextHeight();
  for (double level : ValueLevels(top)) {
    const int y = std::clamp(LevelPixelY(top, level), kValueTop, kValueBase);
    for (int j = 0; j < kGridDots; ++j) {
      canvas.Pixel(kAxisLeft + RoundHalfEven(j * static_cast<double>(kAxisPixels) / (kGridDots - 1)), y,
                   kGreen);
    }
    // Centred on its level, and kept above the channel labels below the axis.
    const int labelTop = std::clamp(y - h / 2, 0, kChannelLabelRow - h - 1);
    canvas.Text(2, labelTop, RemoveBlanks(FormatNumber(10, decimals, level)), kWhite, background);
  }
}

std::array<ChannelTick, 9> ChannelTicks(const AnalysisState& state) {
  std::array<ChannelTick, 9> ticks{};
  for (int i = 1; i <= 9; ++i) {
    const int x = kAxisLeft + (i - 1) * 64;
    ticks[i - 1] = {x, ChannelAtPixel(state, x)};
  }
  return ticks;
}

std::string AxisLabel(double value) {
  if (!std::isfinite(value)) return "?";
  if (value == std::trunc(value) && std::fabs(value) < 1e9) return RemoveBlanks(FormatNumber(12, 0, value));
  return RemoveBlanks(FormatNumber(12, 1, value));
}

void DrawChannelAxis(Canvas& canvas, const AnalysisState& state, const CalibrationTables& calibration,
                     Rgb background) {
  constexpr int kGap = 6;  // blank pixels between neighbouring labels
  const int energyRow = kChannelLabelRow + canvas.TextHeight() + 1;
  canvas.Line(kAxisLeft, kValueBase, kAxisRight, kValueBase, kGreen);
  canvas.Text(2, kChannelLabelRow, "Chan.:", kWhite, background);
  canvas.Text(2, energyRow, "Energy:", kWhite, background);
  // The tick labels start right of the captions and never run into each other or off the surface: a
  // label is centred under its tick where there is room, moved right where there is not, and left
  // out when even that does not fit.
  const int captionEnd = 2 + std::max(canvas.TextWidth("Chan.:"), canvas.TextWidth("Energy:")) + kGap;
  int channelEnd = captionEnd, energyEnd = captionEnd;
  auto place = [&](int tickX, const std::string& text, int row, Rgb color, int& end) {
    const int w = canvas.TextWidth(text);
    const int x = std::max(tickX - w / 2, end);
    if (x + w > canvas.width()) return;
    canvas.Text(x, row, text, color, background);
    end = x + w + kGap;
  };
  const bool calibrated = EnergyCalibrationInForce(state);
  for (const ChannelTick& t : ChannelTicks(state)) {
    canvas.Line(t.x, kValueBase, t.x, kValueBase + 5, kWhite);
    const std::string channel = AxisLabel(t.channel);
    const std::string energy =
        calibrated ? AxisLabel(ApplyCalibrations(state, calibration, t.channel, 0, 0, 0).energy) : channel;
    place(t.x, channel, kChannelLabelRow, kYellow, channelEnd);
    place(t.x, energy, energyRow, kLightCyan, energyEnd);
  }
}

void PlotCurves(Canvas& canvas, const AnalysisState& state, UiPort& port, std::span<const double> values,
                int curves, int points, int width) {
  const int given = curves;
  if (curves > kMaxCurves) {
    port.ShowMessage("Error, not more than 7 graphs");
    curves = kMaxCurves;
  }
  if (curves <= 0 || points <= 0 || width <= 0) return;
  constexpr int kHeight = 370, kTopPart = 290, kGridBase = 283, kCurveSpan = 280;
  canvas.Fill(0, 0, width - 1, kTopPart - 1, ColorFromInt(state.colorBackground));
  canvas.Fill(0, kTopPart, width - 1, kHeight - 1, kGreen);

  // The range spans every curve given, drawn or not, so that the picture does not depend on the cut.
  const std::size_t drawn = std::min(values.size(), static_cast<std::size_t>(points) * curves);
  const std::size_t all = std::min(values.size(), static_cast<std::size_t>(points) * given);
  double hi = -1e14, lo = 1e14;
  for (std::size_t k = 0; k < all; ++k) {
    if (!std::isfinite(values[k])) continue;
    hi = std::max(hi, values[k]);
    lo = std::min(lo, values[k]);
  }
  if (lo > hi) lo = hi = 0;

  for (int level = 0; level < width / 60; ++level) {
    const int y = kGridBase - 70 * level;
    if (y < 0) break;
    for (int x = 0; x < width; x += 4) canvas.Pixel(x, y, kGreen);
  }

  PointDrawer drawer(canvas, state.pointStyle);
  for (int c = 1; c <= curves; ++c) {
    const Rgb color = c == 1 ? kMagenta : c == 2 ? kLightCyan : kYellow;
    drawer.StartCurve();
    for (int j = 1; j <= points; ++j) {
      const std::size_t k = static_cast<std::size_t>(c - 1) * points + j - 1;
      if (k >= drawn || !std::isfinite(values[k])) continue;
      const int x = RoundHalfEven((width - 20.0) * j / points + 1);
      const int y = RoundHalfEven(kGridBase - kCurveSpan * (values[k] - lo) / std::max(0.000001, hi - lo));
      drawer.DrawPoint(x, y, color);
    }
  }
}

}  // namespace orv
