// The small drawing surface every graph is drawn on, in design pixels.
#pragma once

#include <string>

#include "core/port.h"

namespace orv {

class Canvas {
 public:
  virtual ~Canvas() = default;
  virtual int width() const = 0;
  virtual int height() const = 0;
  virtual void Pixel(int x, int y, Rgb color) = 0;
  virtual void Line(int x1, int y1, int x2, int y2, Rgb color) = 0;
  virtual void Rectangle(int x1, int y1, int x2, int y2, Rgb color) = 0;
  virtual void RoundRectangle(int x1, int y1, int x2, int y2, int radius, Rgb color) = 0;
  virtual void Fill(int x1, int y1, int x2, int y2, Rgb color) = 0;
  virtual void Text(int x, int y, const std::string& text, Rgb color, Rgb background) = 0;
  // The box a text fills from its top left corner, so that graphs can lay texts out side by side
  // without overlap; a surface without fonts counts 8 x 14 pixels per character.
  virtual int TextWidth(const std::string& text) const { return 8 * static_cast<int>(text.size()); }
  virtual int TextHeight() const { return 14; }
};

// A canvas whose picture can be read back and saved: the surface of the bitmap export.
class ImageCanvas : public Canvas {
 public:
  virtual Rgb PixelAt(int x, int y) const = 0;
  virtual void SetPixel(int x, int y, Rgb color) { Pixel(x, y, color); }
  // Writes the picture as a Windows bitmap; false when the file cannot be written.
  virtual bool SaveBitmap(const std::string& path) const = 0;
};

}  // namespace orv
