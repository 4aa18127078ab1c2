#include "graphics/graphs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <tuple>
#include <vector>

#include "core/numtext.h"
#include "tests/support/recording_canvas.h"
#include "tests/support/synthetic.h"

namespace orv {
namespace {

using testing::RecordingCanvas;
using testing::SameColor;
using Kind = RecordingCanvas::Kind;

class GraphsTest : public ::testing::Test {
 protected:
  GraphsTest() : ws(std::filesystem::temp_directory_path().string()) {
    ResetAnalysisState(ws);
    ws.state.covar = 0;
    ws.state.pointStyle = 1;
    ws.spectrum.fileName = "test.spe";
  }
  // Channels 1..channels with a peak on a flat background; the spectrum bounds follow.
  void Fill(int channels) { testing::FillSpectrum(ws.spectrum, channels, {{200, 5000, 5}}, 20, 0, nullptr); }
  void SetWindow(int first, int last) {
    ws.state.viewFirst = first;
    ws.state.viewLast = last;
    ws.state.viewWidth = last - first + 1;
  }
  // Points drawn in the data colour (single-pixel mode).
  std::vector<RecordingCanvas::Primitive> DataPoints(const RecordingCanvas& c) const {
    std::vector<RecordingCanvas::Primitive> out;
    for (const auto& p : c.primitives)
      if (p.kind == Kind::kPixel && SameColor(p.color, ColorFromInt(ws.state.colorExpData))) out.push_back(p);
    return out;
  }

  Workspace ws;
};

TEST_F(GraphsTest, WindowIsFittedIntoTheSpectrum) {
  Fill(1000);
  auto check = [&](int f, int l, int w, int ef, int el) {
    const ChannelWindow r = FitWindowToSpectrum(f, l, w, ws.spectrum);
    EXPECT_EQ(r.first, ef) << f << ".." << l;
    EXPECT_EQ(r.last, el) << f << ".." << l;
    EXPECT_EQ(r.width, el - ef + 1);
  };
  check(-99, 0, 100, 1, 100);         // "Previous Cadre" before the first channel
  check(950, 1049, 100, 901, 1000);   // past the last channel: moved back, width kept
  check(1, 2000, 2000, 1, 1000);      // wider than the spectrum: cut, width shrinks
  check(5000, 4000, -7, 1000, 1000);  // nonsense widths give one channel
  check(INT_MAX - 5, INT_MAX, 6, 995, 1000);
  ws.spectrum.a1 = 50;
  ws.spectrum.a2 = 10;  // bounds crossed: one channel, never outside the arrays
  check(1, 100, 100, 50, 50);

  ws.spectrum.sp[7] = std::nan("");
  ws.spectrum.sp[8] = -5;
  EXPECT_DOUBLE_EQ(LargestCount(ws.spectrum, 7, 8), 0);
  EXPECT_DOUBLE_EQ(LargestCount(ws.spectrum, -100, 0), 0);
  EXPECT_GT(LargestCount(ws.spectrum, 1, 1000), 300);
}

TEST_F(GraphsTest, SpectrumAndIntervalGraphsDrawPointsAxisAndTicks) {
  Fill(512);
  SetWindow(1, 512);
  ws.state.graphMode = 1;
  ws.marking.peakCount = 4;
  ws.marking.peakList[1] = 100;
  ws.marking.peakList[2] = 600;  // outside the window
  ws.marking.peakList[3] = -3;   // not a channel
  ws.marking.peakList[4] = 200.4;
  RecordingCanvas c;
  ASSERT_TRUE(DrawCurrentGraph(ws, c));
  EXPECT_EQ(c.outside, 0);

  const auto points = DataPoints(c);
  ASSERT_EQ(points.size(), 512u);
  for (int i = 0; i < 512; ++i)
    EXPECT_TRUE(points[i].x1 == 61 + i && points[i].y1 >= 3 && points[i].y1 <= 243);
  EXPECT_EQ(points[199].y1, 3);  // the peak channel tops the value axis
  std::vector<int> ticks;
  for (const auto& p : c.primitives)
    if (p.kind == Kind::kLine && p.y1 == kTickTop && p.y2 == kTickBottom && SameColor(p.color, kGreen))
      ticks.push_back(p.x1);
  EXPECT_EQ(ticks, (std::vector<int>{160, 260}));
  EXPECT_TRUE(SameColor(c.PixelAt(160, 360), kGreen));

  ws.state.graphMode = 0;  // draws nothing
  RecordingCanvas none;
  EXPECT_FALSE(DrawCurrentGraph(ws, none));
  EXPECT_TRUE(none.primitives.empty());

  // The interval graph moves a window before channel 1 into the spectrum.
  Fill(1000);
  SetWindow(-99, 0);
  ws.state.graphMode = 3;
  RecordingCanvas interval;
  ASSERT_TRUE(DrawCurrentGraph(ws, interval));
  EXPECT_EQ(std::pair(ws.state.viewFirst, ws.state.viewLast), std::pair(1, 100));
  const auto shown = DataPoints(interval);
  ASSERT_EQ(shown.size(), 100u);
  EXPECT_EQ(std::pair(shown.front().x1, shown.back().x1), std::pair(65, 572));
  EXPECT_EQ(interval.outside, 0);
}

TEST_F(GraphsTest, ZeroAndBadCountsStayOnTheBaseLine) {
  Fill(100);
  for (int i = 1; i <= 100; ++i) ws.spectrum.sp[i] = 0;
  ws.spectrum.sp[50] = std::nan("");
  ws.spectrum.sp[51] = INFINITY;
  SetWindow(1, 100);
  ws.state.graphMode = 1;
  for (int mode = 0; mode <= 3; ++mode) {
    ws.state.scaleMode = mode;
    RecordingCanvas c;
    DrawCurrentGraph(ws, c);
    const auto points = DataPoints(c);
    EXPECT_EQ(points.size(), 98u);
    for (const auto& p : points) EXPECT_EQ(p.y1, 243);
    EXPECT_EQ(c.outside, 0);
  }
  ws.state.scaleMode = 0;  // a negative count stays above the labels, crosses inside the picture
  ws.state.pointStyle = 0;
  ws.spectrum.sp[10] = -1e9;
  ws.spectrum.sp[11] = 1e300;
  RecordingCanvas c;
  DrawCurrentGraph(ws, c);
  EXPECT_EQ(c.outside, 0);
  for (const auto& p : DataPoints(c)) EXPECT_LE(p.y1, 250);
}

TEST_F(GraphsTest, ClicksGiveTheChannelDrawnThere) {
  // Windows up to 512 channels give every channel back; wider ones within 4.
  for (auto [first, last] : {std::pair{1, 1}, {1, 8}, {-50, 49}, {300, 811}, {1000, 1333}, {1, 4096}}) {
    SetWindow(first, last);
    for (int ch = first; ch <= last; ch += last - first >= 512 ? 37 : 1)
      EXPECT_LE(std::abs(ClickToChannel(ws.state, ChannelToPixelX(ws.state, ch), 200) - ch),
                last - first < 512 ? 0 : 4)
          << first << ".." << last;
  }
  SetWindow(1, 512);
  // Beside the axis, above or below the graph: no channel.
  for (auto [x, y] : {std::pair{59, 200}, {573, 200}, {300, 99}, {300, 356}})
    EXPECT_EQ(ClickToChannel(ws.state, x, y), kNoChannel) << x << " " << y;
  EXPECT_EQ(ClickToChannel(ws.state, 572, 355), 512);

  for (int length : {1, 7, 61, 300, 1000})
    for (int ch = 470; ch < 470 + length; ch += std::max(1, length / 20))
      EXPECT_LE(std::abs(FitClickToChannel(470, length, FitChannelToPixelX(470, length, ch)) - ch),
                length <= kFitPixels ? 0 : 2);
  EXPECT_EQ(FitChannelToPixelX(470, 61, 530), kFitLeft + kFitPixels);
}

TEST_F(GraphsTest, ReadoutsShowTheirLines) {
  Fill(1000);
  RecordingCanvas c;
  ShowChannelReadout(c, ws, 392, 137, 542, 200, 187);
  ASSERT_EQ(c.Count(Kind::kText), 2);  // no energy line without a calibration
  EXPECT_NE(c.FindText("Channel =    200"), nullptr);
  const auto* counts = c.FindText("Counts  = ");
  ASSERT_NE(counts, nullptr);
  EXPECT_EQ(std::stod(counts->text.substr(10)), std::round(ws.spectrum.sp[200]));

  std::tie(ws.state.energyCalibrated, ws.state.energyItemCount) = std::pair(true, 2);
  ws.calibration.energyItems[1] = {0, 0, 0};
  ws.calibration.energyItems[2] = {2000, 1000, 0};
  RecordingCanvas e;
  ShowChannelReadout(e, ws, 392, 137, 542, 200, 187);
  ASSERT_EQ(e.Count(Kind::kText), 3);
  EXPECT_NE(e.FindText("Energy  =  400.00"), nullptr);

  RecordingCanvas p;
  ws.state.energyCalibrated = false;
  ASSERT_TRUE(ShowClickedPeak(ws, p, 199));
  EXPECT_EQ(p.outside, 0);
  const auto* position = p.FindText("Position = ");
  ASSERT_NE(position, nullptr);
  EXPECT_NEAR(std::stod(position->text.substr(11)), 200, 0.2);
  EXPECT_NE(p.FindText("Area  = "), nullptr);
  RecordingCanvas outside;
  EXPECT_FALSE(ShowClickedPeak(ws, outside, 5000));
  EXPECT_FALSE(ShowClickedPeak(ws, outside, kNoChannel));
  EXPECT_TRUE(outside.primitives.empty());
}

TEST_F(GraphsTest, FitGraphShowsDataFitPeaksAndIndicators) {
  testing::FillSpectrum(ws.spectrum, 1000, {{490.2, 8000, 5}, {505.6, 5000, 5}}, 50, 0, nullptr);
  ws.fit = IntervalFitState{};
  std::tie(ws.fit.startChannel, ws.fit.endChannel, ws.fit.n, ws.fit.wInt) = std::tuple(470, 530, 2, 5);
  const double marks[3] = {0, 490, 506};

  ASSERT_TRUE(FitInterval(ws, marks, 0));
  for (int i = 1; i <= 61; i += 5) {
    double y, w, f;
    IntervalModel(ws, y, w, f, 3, i);
    EXPECT_NEAR(FittedAt(ws, 469 + i).total, f, 1e-6 * std::fabs(f));  // the model the engine fitted
  }
  // The scale holds everything drawn, the fitted curve between the channels too, with a little room.
  const FitScale scale = FitGraphScale(ws);
  double top = LargestCount(ws.spectrum, 470, 530);
  for (double c = 470; c <= 530; c += 0.05) top = std::max(top, FittedAt(ws, c).total);
  EXPECT_TRUE(scale.hi > top && scale.hi < 1.1 * top) << scale.hi << " " << top;
  // The base of the graph is the lowest thing drawn (the background of 50) less the room, not zero.
  EXPECT_TRUE(scale.lo < 50 && scale.lo > 50 - 0.05 * (scale.hi - 50)) << scale.lo;

  auto indicators = [](const RecordingCanvas& c) {
    std::vector<RecordingCanvas::Primitive> out;
    for (const auto& p : c.primitives)
      if (p.kind == Kind::kLine && SameColor(p.color, kWhite) && p.x1 == p.x2) out.push_back(p);
    return out;
  };
  RecordingCanvas c(kFitSurfaceWidth, kFitSurfaceHeight);
  DrawFitGraph(ws, c);
  EXPECT_EQ(c.outside, 0);
  // Two single peaks, each a joined line over three sub-positions per channel.
  EXPECT_EQ(c.CountColor(Kind::kLine, kRed), 2 * (61 * 3 - 1));
  EXPECT_EQ(c.CountColor(Kind::kLine, ColorFromInt(ws.state.colorFitData)), 61 * 3 - 1);
  auto shortOnes = indicators(c);
  ASSERT_EQ(shortOnes.size(), 2u);
  EXPECT_EQ(shortOnes[0].x1, FitChannelToPixelX(470, 61, ws.engine.params[PositionIndex(2, 1)].value));
  EXPECT_GT(shortOnes[0].y1, 200);

  std::tie(ws.state.longReflectionIndicators, ws.state.graphFittedErrors) = std::pair(true, true);
  RecordingCanvas band(kFitSurfaceWidth, kFitSurfaceHeight);
  DrawFitGraph(ws, band);
  EXPECT_EQ(band.outside, 0);
  auto longOnes = indicators(band);
  ASSERT_EQ(longOnes.size(), 2u);
  EXPECT_LT(longOnes[0].y1, 10);
  // Two band pixels per channel and the starting pixel of the fitted line.
  EXPECT_EQ(band.CountColor(Kind::kPixel, ColorFromInt(ws.state.colorFitData)), 2 * 61 + 1);

  // An interval reaching past the arrays reads none of their outside.
  std::tie(ws.fit.startChannel, ws.fit.endChannel) = std::pair(-20, 10);
  RecordingCanvas edge(kFitSurfaceWidth, kFitSurfaceHeight);
  DrawFitGraph(ws, edge);
  EXPECT_EQ(DataPoints(edge).size(), 10u);
  ws.fit.endChannel = -30;
  RecordingCanvas empty(kFitSurfaceWidth, kFitSurfaceHeight);
  DrawFitGraph(ws, empty);
  EXPECT_EQ(empty.Count(Kind::kFill), 1);
}

}  // namespace
}  // namespace orv
