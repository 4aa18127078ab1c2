#include "graphics/memory_canvas.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>

namespace orv {

namespace {

std::uint32_t Pack(Rgb c) {
  return (static_cast<std::uint32_t>(c.red & 255) << 16) | (static_cast<std::uint32_t>(c.green & 255) << 8) |
         static_cast<std::uint32_t>(c.blue & 255);
}

void PutLittleEndian(std::ofstream& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.put(static_cast<char>((value >> (8 * i)) & 255));
}

}  // namespace

MemoryCanvas::MemoryCanvas(int width, int height)
    : width_(std::max(0, width)),
      height_(std::max(0, height)),
      pixels_(static_cast<std::size_t>(width_) * height_, 0) {}

void MemoryCanvas::Pixel(int x, int y, Rgb color) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  pixels_[static_cast<std::size_t>(y) * width_ + x] = Pack(color);
}

void MemoryCanvas::Line(int x1, int y1, int x2, int y2, Rgb color) {
  // Bresenham: every step moves one pixel along the longer axis.
  const int dx = std::abs(x2 - x1), dy = -std::abs(y2 - y1);
  const int sx = x1 < x2 ? 1 : -1, sy = y1 < y2 ? 1 : -1;
  int error = dx + dy;
  for (;;) {
    Pixel(x1, y1, color);
    if (x1 == x2 && y1 == y2) return;
    const int twice = 2 * error;
    if (twice >= dy) {
      error += dy;
      x1 += sx;
    }
    if (twice <= dx) {
      error += dx;
      y1 += sy;
    }
  }
}

void MemoryCanvas::Rectangle(int x1, int y1, int x2, int y2, Rgb color) {
  Line(x1, y1, x2, y1, color);
  Line(x2, y1, x2, y2, color);
  Line(x2, y2, x1, y2, color);
  Line(x1, y2, x1, y1, color);
}

void MemoryCanvas::RoundRectangle(int x1, int y1, int x2, int y2, int radius, Rgb color) {
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  const int r = std::clamp(radius, 0, std::min(x2 - x1, y2 - y1) / 2);
  Line(x1 + r, y1, x2 - r, y1, color);
  Line(x1 + r, y2, x2 - r, y2, color);
  Line(x1, y1 + r, x1, y2 - r, color);
  Line(x2, y1 + r, x2, y2 - r, color);
  // The quarter circles, one pixel per step of the angle's larger coordinate.
  for (int i = 0; i <= r; ++i) {
    const int j = static_cast<int>(std::lround(std::sqrt(static_cast<double>(r * r - i * i))));
    for (const auto& [a, b] : {std::pair{i, j}, std::pair{j, i}}) {
      Pixel(x1 + r - a, y1 + r - b, color);
      Pixel(x2 - r + a, y1 + r - b, color);
      Pixel(x1 + r - a, y2 - r + b, color);
      Pixel(x2 - r + a, y2 - r + b, color);
    }
  }
}

void MemoryCanvas::Fill(int x1, int y1, int x2, int y2, Rgb color) {
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, width_ - 1);
  y2 = std::min(y2, height_ - 1);
  for (int y = y1; y <= y2; ++y)
    std::fill_n(pixels_.begin() + static_cast<std::ptrdiff_t>(y) * width_ + x1, std::max(0, x2 - x1 + 1),
                Pack(color));
}

void MemoryCanvas::Text(int x, int y, const std::string& text, Rgb /*color*/, Rgb background) {
  if (text.empty()) return;
  Fill(x, y, x + 8 * static_cast<int>(text.size()) - 1, y + 13, background);
}

Rgb MemoryCanvas::PixelAt(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return kBlack;
  const std::uint32_t p = pixels_[static_cast<std::size_t>(y) * width_ + x];
  return {static_cast<int>((p >> 16) & 255), static_cast<int>((p >> 8) & 255), static_cast<int>(p & 255)};
}

bool MemoryCanvas::SaveBitmap(const std::string& path) const {
  std::ofstream out(path, std::ios::binary);
  if (!out) return false;
  // 24 bits per pixel, rows bottom-up, each padded to four bytes.
  const std::uint32_t rowBytes = (3u * width_ + 3u) & ~3u;
  const std::uint32_t dataBytes = rowBytes * height_;
  out.put('B');
  out.put('M');
  PutLittleEndian(out, 54 + dataBytes, 4);
  PutLittleEndian(out, 0, 4);
  PutLittleEndian(out, 54, 4);
  PutLittleEndian(out, 40, 4);
  PutLittleEndian(out, width_, 4);
  PutLittleEndian(out, height_, 4);
  PutLittleEndian(out, 1, 2);
  PutLittleEndian(out, 24, 2);
  PutLittleEndian(out, 0, 4);
  PutLittleEndian(out, dataBytes, 4);
  PutLittleEndian(out, 2835, 4);  // 72 dpi
  PutLittleEndian(out, 2835, 4);
  PutLittleEndian(out, 0, 4);  // no palette
  PutLittleEndian(out, 0, 4);
  for (int y = height_ - 1; y >= 0; --y) {
    std::uint32_t written = 0;
    for (int x = 0; x < width_; ++x, written += 3) {
      const std::uint32_t p = pixels_[static_cast<std::size_t>(y) * width_ + x];
      out.put(static_cast<char>(p & 255));
      out.put(static_cast<char>((p >> 8) & 255));
      out.put(static_cast<char>((p >> 16) & 255));
    }
    for (; written < rowBytes; ++written) out.put(0);
  }
  return static_cast<bool>(out);
}

}  // namespace orv
