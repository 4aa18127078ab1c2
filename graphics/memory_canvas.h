// A canvas in plain memory for pictures drawn without a toolkit (the title picture). It draws no
// font: text only fills its background cells, so captions belong in labels over the picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "graphics/canvas.h"

namespace orv {

// Coordinates are image pixels; both corners of a rectangle belong to it, in either order, and a
// line includes both end points. Everything outside the image is clipped.
class MemoryCanvas : public ImageCanvas {
 public:
  // A black surface of the given size.
  MemoryCanvas(int width, int height);

  int width() const override { return width_; }
  int height() const override { return height_; }
  void Pixel(int x, int y, Rgb color) override;
  void Line(int x1, int y1, int x2, int y2, Rgb color) override;
  void Rectangle(int x1, int y1, int x2, int y2, Rgb color) override;
  void RoundRectangle(int x1, int y1, int x2, int y2, int radius, Rgb color) override;
  void Fill(int x1, int y1, int x2, int y2, Rgb color) override;
  // Fills the cells of the text (8 x 14 pixels each) with `background`.
  void Text(int x, int y, const std::string& text, Rgb color, Rgb background) override;

  Rgb PixelAt(int x, int y) const override;
  bool SaveBitmap(const std::string& path) const override;

  // The picture, 0xRRGGBB row by row from the top.
  const std::vector<std::uint32_t>& pixels() const { return pixels_; }

 private:
  int width_, height_;
  std::vector<std::uint32_t> pixels_;
};

}  // namespace orv
