// Records every primitive and paints an in-memory picture; primitives past it count in `outside`.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "graphics/canvas.h"

namespace orv::testing {

inline bool SameColor(Rgb a, Rgb b) {
  return a.red == b.red && a.green == b.green && a.blue == b.blue;
}

class RecordingCanvas : public ImageCanvas {
 public:
  enum class Kind { kPixel, kLine, kRectangle, kRoundRectangle, kFill, kText };
  struct Primitive {
    Kind kind;
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0, radius = 0;
    Rgb color, background;
    std::string text;
  };

  explicit RecordingCanvas(int width = 600, int height = 424, Rgb paper = kWhite)
      : width_(std::max(width, 0)), height_(std::max(height, 0)), image_(width_ * height_, paper) {}

  std::vector<Primitive> primitives;
  int outside = 0;  // primitives that reached past the picture

  int width() const override { return width_; }
  int height() const override { return height_; }

  void Pixel(int x, int y, Rgb color) override {
    primitives.push_back({Kind::kPixel, x, y, x, y, 0, color, color, {}});
    Check(x, y, x, y);
    Paint(x, y, color);
  }
  void Line(int x1, int y1, int x2, int y2, Rgb color) override {
    primitives.push_back({Kind::kLine, x1, y1, x2, y2, 0, color, color, {}});
    Check(x1, y1, x2, y2);
    // Bresenham, both ends included.
    int dx = std::abs(x2 - x1), dy = -std::abs(y2 - y1);
    int sx = x1 < x2 ? 1 : -1, sy = y1 < y2 ? 1 : -1, e = dx + dy;
    for (int x = x1, y = y1, steps = 0; steps < 100000; ++steps) {
      Paint(x, y, color);
      if (x == x2 && y == y2) break;
      const int e2 = 2 * e;
      if (e2 >= dy) e += dy, x += sx;
      if (e2 <= dx) e += dx, y += sy;
    }
  }
  void Rectangle(int x1, int y1, int x2, int y2, Rgb color) override {
    primitives.push_back({Kind::kRectangle, x1, y1, x2, y2, 0, color, color, {}});
    Check(x1, y1, x2, y2);
    Outline(x1, y1, x2, y2, color);
  }
  void RoundRectangle(int x1, int y1, int x2, int y2, int radius, Rgb color) override {
    primitives.push_back({Kind::kRoundRectangle, x1, y1, x2, y2, radius, color, color, {}});
    Check(x1, y1, x2, y2);
    Outline(x1, y1, x2, y2, color);
  }
  void Fill(int x1, int y1, int x2, int y2, Rgb color) override {
    primitives.push_back({Kind::kFill, x1, y1, x2, y2, 0, color, color, {}});
    Check(x1, y1, x2, y2);
    for (int y = std::max(std::min(y1, y2), 0); y <= std::min(std::max(y1, y2), height_ - 1); ++y)
      for (int x = std::max(std::min(x1, x2), 0); x <= std::min(std::max(x1, x2), width_ - 1); ++x)
        image_[y * width_ + x] = color;
  }
  void Text(int x, int y, const std::string& text, Rgb color, Rgb background) override {
    primitives.push_back({Kind::kText, x, y, x, y, 0, color, background, text});
    Check(x, y, x, y);
  }

  Rgb PixelAt(int x, int y) const override {
    return x >= 0 && y >= 0 && x < width_ && y < height_ ? image_[y * width_ + x] : Rgb{};
  }
  bool SaveBitmap(const std::string&) const override { return false; }

  // Queries for tests.
  int Count(Kind kind) const {
    return static_cast<int>(std::count_if(primitives.begin(), primitives.end(),
                                          [kind](const Primitive& p) { return p.kind == kind; }));
  }
  int CountColor(Kind kind, Rgb color) const {
    return static_cast<int>(std::count_if(primitives.begin(), primitives.end(), [&](const Primitive& p) {
      return p.kind == kind && SameColor(p.color, color);
    }));
  }
  // The first text primitive that begins with `prefix`, or nullptr.
  const Primitive* FindText(const std::string& prefix) const {
    for (const Primitive& p : primitives)
      if (p.kind == Kind::kText && p.text.rfind(prefix, 0) == 0) return &p;
    return nullptr;
  }

 private:
  void Check(int x1, int y1, int x2, int y2) {
    auto in = [this](int x, int y) { return x >= 0 && y >= 0 && x < width_ && y < height_; };
    if (!in(x1, y1) || !in(x2, y2)) ++outside;
  }
  void Paint(int x, int y, Rgb color) {
    if (x >= 0 && y >= 0 && x < width_ && y < height_) image_[y * width_ + x] = color;
  }
  void Outline(int x1, int y1, int x2, int y2, Rgb color) {
    for (int x = std::min(x1, x2); x <= std::max(x1, x2); ++x) Paint(x, y1, color), Paint(x, y2, color);
    for (int y = std::min(y1, y2); y <= std::max(y1, y2); ++y) Paint(x1, y, color), Paint(x2, y, color);
  }

  int width_, height_;
  std::vector<Rgb> image_;
};

}  // namespace orv::testing
