// The shared rules of every graph: the value scales, the conversion between channels and pixels, the
// point styles, the axes with their dotted grid, the peak ticks and the multi-curve plot. Everything is
// in design pixels; a ScaledCanvas applies the screen scale on the way out.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "analysis/calibration.h"
#include "core/port.h"
#include "core/state.h"
#include "graphics/canvas.h"

namespace orv {

// Design geometry of the full graph surface and its axes.
inline constexpr int kGraphWidth = 600;
inline constexpr int kGraphHeight = 424;
inline constexpr int kAxisLeft = 60;     // x of the start of the channel axis
inline constexpr int kAxisPixels = 512;  // length of the channel axis
inline constexpr int kAxisRight = kAxisLeft + kAxisPixels;
inline constexpr int kValueBase = 243;    // y of the value 0
inline constexpr int kValuePixels = 240;  // height of the value axis: the top lies at y 3
inline constexpr int kValueTop = kValueBase - kValuePixels;
inline constexpr int kTickTop = 355, kTickBottom = 364;  // peak ticks on the black strip
inline constexpr int kChannelLabelRow = 250;             // top of the channel labels below the axis
inline constexpr int kGridDots = 106;                    // dots of one value level
inline constexpr int kMaxCurves = 7;

inline constexpr Rgb kGreen{0, 255, 0};
inline constexpr Rgb kMagenta{255, 0, 255};
inline constexpr Rgb kLightCyan{128, 255, 255};
inline constexpr Rgb kRed{255, 0, 0};

// A colour setting (red + 256 * green + 65536 * blue) as Rgb.
Rgb ColorFromInt(std::int32_t color);

// The transformed value that tops the value axis.
double ScaleValue(const AnalysisState& state, double v);
// y of a value for a value axis topped by `top` (itself already transformed); 243 for 0, 3 for the top.
// A value that is not a number lies on the base line.
int ValueToPixelY(const AnalysisState& state, double top, double v);

// Window of channels shown on the channel axis.
int ChannelToPixelX(int viewFirst, int viewWidth, double channel);
int ChannelToPixelX(const AnalysisState& state, double channel);
// The inverse of ChannelToPixelX before its rounding; callers round.
double PixelXToChannel(int viewFirst, int viewWidth, double x);
double PixelXToChannel(const AnalysisState& state, double x);
// The channel whose point is drawn at x: ChannelToPixelX puts channel c where PixelXToChannel reads
// c + 1, so the channel drawn at a pixel is one less than PixelXToChannel. Axis labels and clicks use
// this, so that a click on the point of channel c gives c.
double ChannelAtPixel(const AnalysisState& state, double x);

// Scales every design coordinate of the graphs by the screen scale, rounding, before it reaches the
// surface underneath; graphs are written in design pixels only.
class ScaledCanvas : public Canvas {
 public:
  ScaledCanvas(Canvas& target, double scale);
  double scale() const { return scale_; }
  // The surface size in design pixels.
  int width() const override;
  int height() const override;
  void Pixel(int x, int y, Rgb color) override;
  void Line(int x1, int y1, int x2, int y2, Rgb color) override;
  void Rectangle(int x1, int y1, int x2, int y2, Rgb color) override;
  void RoundRectangle(int x1, int y1, int x2, int y2, int radius, Rgb color) override;
  void Fill(int x1, int y1, int x2, int y2, Rgb color) override;
  void Text(int x, int y, const std::string& text, Rgb color, Rgb background) override;
  int TextWidth(const std::string& text) const override;
  int TextHeight() const override;

 private:
  int S(int v) const;
  Canvas& target_;
  double scale_;
};

// A surface of any size seen in design pixels: its scale is the surface's width over `designWidth`,
// taken at every call, so a surface that the window lays out anew at another screen scale is still
// drawn whole, with texts in a font of its own size.
class DesignView : public Canvas {
 public:
  DesignView(Canvas& surface, int designWidth) : surface_(surface), designWidth_(std::max(1, designWidth)) {}
  double scale() const { return static_cast<double>(surface_.width()) / designWidth_; }
  int width() const override { return ScaledCanvas(surface_, scale()).width(); }
  int height() const override { return ScaledCanvas(surface_, scale()).height(); }
  void Pixel(int x, int y, Rgb c) override { ScaledCanvas(surface_, scale()).Pixel(x, y, c); }
  void Line(int x1, int y1, int x2, int y2, Rgb c) override {
    ScaledCanvas(surface_, scale()).Line(x1, y1, x2, y2, c);
  }
  void Rectangle(int x1, int y1, int x2, int y2, Rgb c) override {
    ScaledCanvas(surface_, scale()).Rectangle(x1, y1, x2, y2, c);
  }
  void RoundRectangle(int x1, int y1, int x2, int y2, int r, Rgb c) override {
    ScaledCanvas(surface_, scale()).RoundRectangle(x1, y1, x2, y2, r, c);
  }
  void Fill(int x1, int y1, int x2, int y2, Rgb c) override {
    ScaledCanvas(surface_, scale()).Fill(x1, y1, x2, y2, c);
  }
  void Text(int x, int y, const std::string& text, Rgb c, Rgb b) override {
    ScaledCanvas(surface_, scale()).Text(x, y, text, c, b);
  }
  int TextWidth(const std::string& text) const override {
    return ScaledCanvas(surface_, scale()).TextWidth(text);
  }
  int TextHeight() const override { return ScaledCanvas(surface_, scale()).TextHeight(); }

 private:
  Canvas& surface_;
  int designWidth_;
};

// Draws points in one of the three pixel modes: 0 a five-pixel cross, 1 a single pixel, 2 a line from
// the previous point of the same curve. StartCurve begins a new curve, so that lines never join two.
class PointDrawer {
 public:
  PointDrawer(Canvas& canvas, int pointStyle) : canvas_(canvas), style_(pointStyle) {}
  void StartCurve() { started_ = false; }
  void DrawPoint(int x, int y, Rgb color);

 private:
  Canvas& canvas_;
  int style_;
  bool started_ = false;
  int lastX_ = 0, lastY_ = 0;
};

// A vertical stroke at the position's pixel from y 355 to 364: green when highlighted, black otherwise
// (black erases a green tick on the black strip).
void DrawPeakTick(Canvas& canvas, const AnalysisState& state, double position, bool highlighted);

// The five levels of a value axis topped by `top`: top - (i - 1) * top / 4, i = 1..5.
std::array<double, 5> ValueLevels(double top);
// y of a level of a value axis topped by `top`.
int LevelPixelY(double top, double level);
// The five dotted green levels of 106 dots across the channel axis, each labelled on the left.
void DrawValueAxis(Canvas& canvas, double top, Rgb background);

struct ChannelTick {
  int x = 0;           // every 64 design pixels from the start of the axis
  double channel = 0;  // the channel drawn at x
};
std::array<ChannelTick, 9> ChannelTicks(const AnalysisState& state);
// Text of a channel or energy label: whole numbers without decimals, others with one.
std::string AxisLabel(double value);
// The base line, nine ticks labelled with channel and energy, and the captions "Chan.:" and "Energy:".
void DrawChannelAxis(Canvas& canvas, const AnalysisState& state, const CalibrationTables& calibration,
                     Rgb background);

// Comparison plot of `curves` curves of `points` points on a surface `width` wide: curve c point j
// (1-based) is values[(c - 1) * points + j - 1]. More than 7 curves: the message and only 7 drawn.
void PlotCurves(Canvas& canvas, const AnalysisState& state, UiPort& port, std::span<const double> values,
                int curves, int points, int width);

}  // namespace orv
