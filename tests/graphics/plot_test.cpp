#include "graphics/plot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/numtext.h"
#include "tests/support/fake_port.h"
#include "tests/support/recording_canvas.h"

namespace orv {
namespace {

using testing::RecordingCanvas;
using testing::SameColor;
using Kind = RecordingCanvas::Kind;

AnalysisState Window(int first, int last) {
  AnalysisState s;
  s.viewFirst = first;
  s.viewLast = last;
  s.viewWidth = last - first + 1;
  return s;
}

TEST(PlotScale, ValuePixelsInEveryScale) {
  AnalysisState s;
  s.trimmingCoefficient = 0.5;
  const double e1 = std::exp(1.0) - 1;
  // Linear, square root, logarithmic and trimmed scales: the top value, then value -> pixel.
  struct Case {
    int mode;
    double largest, top, value;
    int pixel;
  };
  for (Case c : {Case{0, 100, 100, 100, 3},
                 {0, 100, 100, 50, 123},
                 {0, 100, 100, -50, 363},  // below the base line, as the formula says
                 {0, 0, 0, 0, 243},
                 {0, 0, 0, 0.05, 123},  // a top of 0 is taken as 0.1
                 {1, -100, 10, 25, 123},
                 {2, -e1, 1, 0, 243},
                 {2, -e1, 1, -e1, 3},  // absolute value: no NaN for negatives
                 {3, 1000, 500, 2000, 3},
                 {9, 1234, 1, 0, 243}}) {
    s.scaleMode = c.mode;
    const double top = ScaleValue(s, c.largest);
    EXPECT_NEAR(top, c.top, 1e-12) << c.mode << " " << c.largest;
    EXPECT_EQ(ValueToPixelY(s, top, c.value), c.pixel) << c.mode << " " << c.value;
  }
  s.scaleMode = 0;
  EXPECT_EQ(ValueToPixelY(s, -5, 0), 243);
  EXPECT_EQ(ValueToPixelY(s, 100, std::nan("")), 243);
  EXPECT_EQ(ValueToPixelY(s, std::nan(""), 0), 243);
  EXPECT_LT(ValueToPixelY(s, 100, 1e300), 0);
  EXPECT_GT(ValueToPixelY(s, 100, -INFINITY), 243);
}

TEST(PlotScale, ChannelPixels) {
  EXPECT_EQ(ChannelToPixelX(Window(100, 100), 100), 572);  // one channel: at the end of the axis
  EXPECT_EQ(ChannelToPixelX(Window(1, 4096), 4096), 572);
  EXPECT_EQ(ChannelToPixelX(Window(1, 512), 1), 61);
  EXPECT_DOUBLE_EQ(PixelXToChannel(Window(1, 512), 61), 2);
  EXPECT_DOUBLE_EQ(ChannelAtPixel(Window(1, 512), 61), 1);  // the round trip: see the graphs' clicks
  // Degenerate windows neither divide by zero nor overflow.
  AnalysisState bad = Window(10, 10);
  bad.viewWidth = 0;
  EXPECT_EQ(ChannelToPixelX(bad, 10), 572);
  EXPECT_TRUE(std::isfinite(PixelXToChannel(bad, 300)));
  EXPECT_EQ(ChannelToPixelX(bad, std::nan("")), 60);
  EXPECT_GT(ChannelToPixelX(Window(1, 1), 1e300), 572);
}

TEST(PlotAxes, TicksLevelsAndLabels) {
  const auto ticks = ChannelTicks(Window(1, 4096));
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(ticks[i].x, 60 + 64 * i);
    EXPECT_DOUBLE_EQ(ticks[i].channel, 512.0 * i);
  }
  const auto narrow = ChannelTicks(Window(100, 107));
  // The first channel's point is at the second tick.
  EXPECT_EQ(std::tuple(narrow[1].channel, narrow[1].x, narrow[8].channel),
            std::tuple(100.0, ChannelToPixelX(Window(100, 107), 100), 107.0));
  EXPECT_EQ(std::tuple(AxisLabel(512), AxisLabel(12.5), AxisLabel(std::nan(""))),
            std::tuple("512", "12.5", "?"));
  EXPECT_EQ(std::pair(ValueLevels(100)[0], ValueLevels(100)[4]), std::pair(100.0, 0.0));
  RecordingCanvas c;
  DrawValueAxis(c, 100, kBlack);
  EXPECT_EQ(c.CountColor(Kind::kPixel, kGreen), 5 * 106);
  for (int i = 0; i < 5; ++i)
    EXPECT_TRUE(SameColor(c.PixelAt(60, 3 + 60 * i), kGreen) &&
                SameColor(c.PixelAt(572, 3 + 60 * i), kGreen));
  EXPECT_NE(c.FindText("75.00"), nullptr);
  EXPECT_EQ(c.outside, 0);
  RecordingCanvas flat;  // nothing to show: every level on the base line, no fault
  DrawValueAxis(flat, std::nan(""), kBlack);
  EXPECT_TRUE(SameColor(flat.PixelAt(60, 243), kGreen));
  EXPECT_EQ(flat.outside, 0);

  // Without a calibration the energy row repeats the channels.
  RecordingCanvas axis;
  DrawChannelAxis(axis, Window(1, 4096), CalibrationTables{}, kBlack);
  int count2048 = 0;
  for (const auto& p : axis.primitives) count2048 += p.kind == Kind::kText && p.text == "2048";
  EXPECT_EQ(count2048, 2);
  EXPECT_EQ(axis.outside, 0);
}

TEST(PlotPoints, StylesAndCurves) {
  RecordingCanvas cross;
  PointDrawer(cross, 0).DrawPoint(10, 20, kRed);
  ASSERT_EQ(cross.Count(Kind::kPixel), 5);
  for (int dx = -2; dx <= 2; ++dx)
    for (int dy = -2; dy <= 2; ++dy)
      EXPECT_EQ(SameColor(cross.PixelAt(10 + dx, 20 + dy), kRed), std::abs(dx) + std::abs(dy) < 2);
  RecordingCanvas single;
  PointDrawer(single, 1).DrawPoint(10, 20, kRed);
  EXPECT_EQ(single.Count(Kind::kPixel), 1);

  // Line mode: consecutive points of one curve are joined, the first point of the next curve is not.
  RecordingCanvas lines;
  PointDrawer d(lines, 2);
  d.DrawPoint(0, 0, kRed);
  d.DrawPoint(10, 5, kRed);
  d.DrawPoint(20, 0, kRed);
  d.StartCurve();
  d.DrawPoint(0, 50, kBlue);
  d.DrawPoint(10, 55, kBlue);
  ASSERT_EQ(lines.Count(Kind::kLine), 3);
  for (const auto& p : lines.primitives)
    EXPECT_TRUE(p.kind != Kind::kLine || (p.y1 >= 50) == (p.y2 >= 50)) << "a line joins two curves";

  RecordingCanvas tick;
  DrawPeakTick(tick, Window(1, 512), 100, true);
  DrawPeakTick(tick, Window(1, 512), 100, false);
  ASSERT_EQ(tick.Count(Kind::kLine), 2);
  EXPECT_EQ(std::tuple(tick.primitives[0].x1, tick.primitives[0].y1, tick.primitives[0].y2),
            std::tuple(160, 355, 364));
  EXPECT_TRUE(SameColor(tick.primitives[0].color, kGreen));
  EXPECT_TRUE(SameColor(tick.primitives[1].color, kBlack));
}

TEST(PlotCurves, NotMoreThanSevenGraphs) {
  testing::FakePort port;
  AnalysisState s;
  s.pointStyle = 1;
  const int n = 20;
  std::vector<double> values(8 * n);
  for (int c = 0; c < 8; ++c)
    for (int j = 0; j < n; ++j) values[c * n + j] = c * 10.0 + j;
  values[3] = std::nan("");
  RecordingCanvas canvas(310, 370);
  PlotCurves(canvas, s, port, values, 8, n, 300);
  EXPECT_EQ(port.messages, std::vector<std::string>{"Error, not more than 7 graphs"});
  EXPECT_EQ(canvas.CountColor(Kind::kPixel, kMagenta), n - 1);  // the NaN point is skipped
  EXPECT_EQ(canvas.CountColor(Kind::kPixel, kLightCyan), n);
  EXPECT_EQ(canvas.CountColor(Kind::kPixel, kYellow), 5 * n);
  EXPECT_EQ(canvas.outside, 0);
  // The range covers all eight curves: the top of curve 7 stays below the top of the surface.
  for (const auto& p : canvas.primitives)
    EXPECT_TRUE(p.kind != Kind::kPixel || !SameColor(p.color, kYellow) || p.y1 > 3);
  EXPECT_TRUE(SameColor(canvas.PixelAt(100, 350), kGreen));

  // Short or empty input draws what it has and never reads past it.
  testing::FakePort quiet;
  RecordingCanvas few(310, 370);
  PlotCurves(few, s, quiet, std::vector<double>(5, 1.0), 2, n, 300);
  EXPECT_EQ(few.CountColor(Kind::kPixel, kMagenta), 5);
  PlotCurves(few, s, quiet, {}, 0, 0, 0);
  EXPECT_TRUE(quiet.messages.empty());
}

TEST(PlotCanvas, ScaledCanvasAndColors) {
  RecordingCanvas target(750, 530);
  ScaledCanvas scaled(target, 1.25);
  EXPECT_EQ(std::pair(scaled.width(), scaled.height()), std::pair(600, 424));
  scaled.Pixel(100, 10, kRed);
  scaled.Line(0, 3, 600, 424, kRed);
  scaled.RoundRectangle(8, 8, 16, 16, 10, kRed);
  ASSERT_EQ(target.primitives.size(), 3u);
  // 12.5 rounds to the even neighbour, 3.75 to 4.
  const auto& p = target.primitives;
  EXPECT_EQ(std::tuple(p[0].x1, p[0].y1, p[1].y1, p[1].x2, p[2].radius), std::tuple(125, 12, 4, 750, 12));
  EXPECT_DOUBLE_EQ(ScaledCanvas(target, std::nan("")).scale(), 1.0);
  EXPECT_TRUE(SameColor(ColorFromInt(MakeColor(1, 2, 3)), Rgb{1, 2, 3}));
}

}  // namespace
}  // namespace orv
