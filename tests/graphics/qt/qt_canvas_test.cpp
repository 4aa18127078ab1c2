#include "graphics/qt/qt_canvas.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QImage>
#include <QString>
#include <filesystem>
#include <string>

#include "graphics/bitmap_export.h"
#include "tests/support/recording_canvas.h"

namespace orv {
namespace {

namespace fs = std::filesystem;

constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kGreen{0, 128, 0};
constexpr Rgb kLightCyan{0, 255, 255};

constexpr auto Same = &testing::SameColor;

// Pixels of the colour inside the rectangle x1..x2, y1..y2 (inclusive).
int Count(const QtCanvas& c, Rgb color, int x1, int y1, int x2, int y2) {
  int n = 0;
  for (int y = y1; y <= y2; ++y)
    for (int x = x1; x <= x2; ++x) n += Same(c.PixelAt(x, y), color) ? 1 : 0;
  return n;
}

TEST(QtCanvas, PrimitivesLandOnTheirPixels) {
  QtCanvas c(200, 150);
  EXPECT_EQ(Count(c, kBlack, 0, 0, 199, 149), 200 * 150);  // starts black

  c.Pixel(3, 4, kRed);
  c.Pixel(-1, 4, kRed);  // outside: clipped, and reads back black
  c.Pixel(200, 0, kRed);
  EXPECT_TRUE(Same(c.PixelAt(3, 4), kRed));
  EXPECT_EQ(Count(c, kRed, 0, 0, 199, 149), 1);
  EXPECT_TRUE(Same(c.PixelAt(-1, 4), kBlack));
  c.Pixel(5, 5, {300, -4, 128});  // components out of range are clamped
  EXPECT_TRUE(Same(c.PixelAt(5, 5), {255, 0, 128}));

  // Lines include both end points, in either direction.
  c.Line(10, 10, 20, 10, kYellow);
  EXPECT_EQ(Count(c, kYellow, 9, 9, 21, 11), 11);
  c.Line(30, 20, 30, 12, kYellow);
  EXPECT_EQ(Count(c, kYellow, 29, 11, 31, 21), 9);
  c.Line(45, 45, 40, 40, kYellow);
  for (int i = 0; i <= 5; ++i) EXPECT_TRUE(Same(c.PixelAt(40 + i, 40 + i), kYellow)) << i;
  EXPECT_EQ(Count(c, kYellow, 39, 39, 46, 46), 6);

  // Rectangle outline: both corners included, the inside untouched, corners in any order.
  c.Rectangle(60, 35, 50, 30, kGreen);
  EXPECT_EQ(Count(c, kGreen, 49, 29, 61, 36), 2 * 11 + 2 * 4);
  EXPECT_EQ(Count(c, kGreen, 51, 31, 59, 34), 0);

  // Fill: every pixel of the rectangle, nothing beside it.
  c.Fill(70, 50, 72, 51, kBlue);
  EXPECT_EQ(Count(c, kBlue, 69, 49, 73, 52), 6);

  // Rounded outline: the edges are drawn, the corners cut, nothing outside the box or inside it.
  c.RoundRectangle(80, 60, 120, 90, 8, kLightCyan);
  EXPECT_TRUE(Same(c.PixelAt(100, 60), kLightCyan) && Same(c.PixelAt(80, 75), kLightCyan));
  EXPECT_TRUE(Same(c.PixelAt(80, 60), kBlack) && Same(c.PixelAt(120, 90), kBlack));
  const int drawn = Count(c, kLightCyan, 0, 0, 199, 149);
  EXPECT_EQ(Count(c, kLightCyan, 80, 60, 120, 90), drawn);
  EXPECT_EQ(Count(c, kLightCyan, 81, 69, 119, 81), 0);  // inside, clear of the corner arcs

  // Text: its cells carry exactly the two colours, starting at the given corner.
  c.Text(10, 100, "88", kYellow, kMaroon);
  const int glyph = Count(c, kYellow, 10, 100, 60, 140);
  const int cell = Count(c, kMaroon, 10, 100, 60, 140);
  EXPECT_GT(glyph, 10);
  EXPECT_GT(cell, glyph);
  EXPECT_TRUE(Same(c.PixelAt(10, 100), kMaroon));
  EXPECT_EQ(Count(c, kMaroon, 0, 95, 9, 149) + Count(c, kYellow, 0, 95, 9, 149), 0);
  // Fixed pitch: "iW" takes as many columns as "88".
  QtCanvas a(100, 40), b(100, 40);
  a.Text(0, 0, "88", kYellow, kMaroon);
  b.Text(0, 0, "iW", kYellow, kMaroon);
  EXPECT_EQ(Count(a, kMaroon, 0, 0, 99, 39) + Count(a, kYellow, 0, 0, 99, 39),
            Count(b, kMaroon, 0, 0, 99, 39) + Count(b, kYellow, 0, 0, 99, 39));

  // Far outside and degenerate requests are clipped, never fatal.
  c.Line(-1000, -1000, 5000, 5000, kWhite);
  c.Rectangle(-5, -5, 500, 500, kWhite);
  c.RoundRectangle(5, 5, 5, 5, 20, kWhite);
  c.RoundRectangle(140, 10, 150, 14, -3, kWhite);
  c.Fill(190, 140, 1000, 1000, kWhite);
  EXPECT_TRUE(Same(c.PixelAt(199, 149), kWhite));
  c.Text(195, 145, "clipped", kWhite, kBlack);
  QtCanvas none(0, -3);
  none.Line(0, 0, 5, 5, kWhite);
  none.Text(0, 0, "x", kWhite, kBlack);
  EXPECT_EQ(none.width(), 0);
  EXPECT_FALSE(none.SaveBitmap((fs::temp_directory_path() / "orv_none.bmp").string()));
}

TEST(QtCanvas, BitmapRoundTripAfterReversal) {
  const fs::path dir = fs::temp_directory_path() / ("orv_qt_canvas_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  QtCanvas c(600, 424);
  c.Fill(0, 0, 599, 9, kBlue);  // drawn on the paper: prints black
  c.Line(0, 20, 599, 20, kYellow);
  c.Rectangle(10, 30, 100, 80, kGreen);
  c.Pixel(300, 300, kRed);
  c.Pixel(301, 300, {255, 0, 255});
  c.Text(200, 200, "Chan.:", kLightCyan, kMaroon);
  const std::array<Rgb, 1> papers{kMaroon};
  ReverseColors(c, papers);

  const std::string path = (dir / "fit.bmp").string();
  ASSERT_TRUE(c.SaveBitmap(path));
  const QImage back(QString::fromStdString(path));
  ASSERT_EQ(back.size(), QSize(600, 424));
  auto at = [&back](int x, int y) {
    const QRgb p = back.pixel(x, y);
    return Rgb{qRed(p), qGreen(p), qBlue(p)};
  };
  EXPECT_TRUE(Same(at(5, 5), kBlack));
  EXPECT_TRUE(Same(at(599, 423), kWhite));  // the black background
  EXPECT_TRUE(Same(at(300, 20), kBlack));   // the yellow line
  int differ = 0;                           // the picture read back is the picture in memory, pixel for pixel
  for (int y = 0; y < 424; ++y)
    for (int x = 0; x < 600; ++x) differ += Same(at(x, y), c.PixelAt(x, y)) ? 0 : 1;
  EXPECT_EQ(differ, 0);
  // The text reads black on white: its maroon cell is paper now, its light-cyan letters ink.
  EXPECT_EQ(Count(c, kMaroon, 0, 0, 599, 423) + Count(c, kLightCyan, 0, 0, 599, 423), 0);

  // A file that cannot be written is refused, not claimed.
  EXPECT_FALSE(c.SaveBitmap((dir / "missing" / "x.bmp").string()));
  EXPECT_FALSE(c.SaveBitmap(dir.string()));  // a folder
  fs::remove_all(dir);
}

}  // namespace
}  // namespace orv

// Painting text needs the application object; without a display the offscreen platform serves.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
