// The canvas of the windows, the batch program and the bitmap files: a QImage of the design size
// painted with QPainter. A QGuiApplication must exist before text is drawn (the font database
// belongs to it); programs without a display create theirs on the "offscreen" platform.
#pragma once

#include <QFont>
#include <QImage>
#include <string>

#include "graphics/canvas.h"

namespace orv {

// Coordinates are image pixels; both corners of a rectangle belong to it, in either order, and a
// line includes both end points. Everything outside the image is clipped.
class QtCanvas : public ImageCanvas {
 public:
  // A black surface of the given size; text is drawn in a fixed-pitch font of `fontSize` points.
  QtCanvas(int width, int height, int fontSize = 10);

  int width() const override { return image_.width(); }
  int height() const override { return image_.height(); }
  void Pixel(int x, int y, Rgb color) override;
  void Line(int x1, int y1, int x2, int y2, Rgb color) override;
  void Rectangle(int x1, int y1, int x2, int y2, Rgb color) override;
  // The outline with its corners rounded by quarter circles of `radius` pixels.
  void RoundRectangle(int x1, int y1, int x2, int y2, int radius, Rgb color) override;
  void Fill(int x1, int y1, int x2, int y2, Rgb color) override;
  // (x, y) is the top left corner of the text; its cells are filled with `background` first.
  void Text(int x, int y, const std::string& text, Rgb color, Rgb background) override;
  int TextWidth(const std::string& text) const override;
  int TextHeight() const override;

  Rgb PixelAt(int x, int y) const override;
  void SetPixel(int x, int y, Rgb color) override { Pixel(x, y, color); }
  bool SaveBitmap(const std::string& path) const override;

  int fontSize() const { return fontSize_; }
  // A new black picture of another size (the window laid out at another screen scale).
  void Resize(int width, int height);
  void setFontSize(int points) { fontSize_ = points; }
  // The picture itself, for showing it in a window or saving it in another format.
  QImage& image() { return image_; }
  const QImage& image() const { return image_; }

 private:
  QFont TextFont() const;
  QImage image_;
  int fontSize_;
};

}  // namespace orv
