#include "graphics/qt/qt_canvas.h"

#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPen>
#include <QRect>
#include <QString>
#include <algorithm>

namespace orv {
namespace {

QColor ToQColor(Rgb c) {
  return QColor(std::clamp(c.red, 0, 255), std::clamp(c.green, 0, 255), std::clamp(c.blue, 0, 255));
}

// The rectangle with both corners included, whatever their order.
QRect Span(int x1, int y1, int x2, int y2) {
  return QRect(QPoint(std::min(x1, x2), std::min(y1, y2)), QPoint(std::max(x1, x2), std::max(y1, y2)));
}

// Aliased one-pixel strokes, so that every pixel has exactly the colour asked for: the bitmap export
// recognises the drawing colours by their exact values.
void Prepare(QPainter& p, Rgb color) {
  p.setRenderHint(QPainter::Antialiasing, false);
  QPen pen(ToQColor(color));
  pen.setWidth(1);
  pen.setCapStyle(Qt::SquareCap);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
}

}  // namespace

QtCanvas::QtCanvas(int width, int height, int fontSize)
    : image_(std::max(width, 0), std::max(height, 0), QImage::Format_RGB32), fontSize_(fontSize) {
  image_.fill(Qt::black);
}

void QtCanvas::Pixel(int x, int y, Rgb color) {
  if (image_.valid(x, y)) image_.setPixel(x, y, ToQColor(color).rgb());
}

void QtCanvas::Line(int x1, int y1, int x2, int y2, Rgb color) {
  if (image_.isNull()) return;
  QPainter p(&image_);
  Prepare(p, color);
  p.drawLine(x1, y1, x2, y2);
  p.end();
  // The end point belongs to the line whatever the paint engine's convention.
  Pixel(x2, y2, color);
}

void QtCanvas::Rectangle(int x1, int y1, int x2, int y2, Rgb color) {
  if (image_.isNull()) return;
  const QRect r = Span(x1, y1, x2, y2);
  QPainter p(&image_);
  Prepare(p, color);
  // A one-pixel outline of a w-wide rectangle covers w + 1 columns.
  p.drawRect(r.left(), r.top(), r.width() - 1, r.height() - 1);
}

void QtCanvas::RoundRectangle(int x1, int y1, int x2, int y2, int radius, Rgb color) {
  if (image_.isNull()) return;
  const QRect r = Span(x1, y1, x2, y2);
  const int w = r.width() - 1, h = r.height() - 1;
  const double rounding = std::clamp(radius, 0, std::min(w, h) / 2);
  QPainter p(&image_);
  Prepare(p, color);
  p.drawRoundedRect(QRectF(r.left(), r.top(), w, h), rounding, rounding);
}

void QtCanvas::Fill(int x1, int y1, int x2, int y2, Rgb color) {
  if (image_.isNull()) return;
  QPainter p(&image_);
  p.fillRect(Span(x1, y1, x2, y2), ToQColor(color));
}

QFont QtCanvas::TextFont() const {
  QFont font(QStringLiteral("Monospace"));
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setPointSize(std::clamp(fontSize_, 1, 200));
  // Plain pixels in the two colours only, as on the original surface: no blended edges.
  font.setStyleStrategy(QFont::NoAntialias);
  return font;
}

int QtCanvas::TextWidth(const std::string& text) const {
  return QFontMetrics(TextFont(), &image_).horizontalAdvance(QString::fromStdString(text));
}

int QtCanvas::TextHeight() const {
  return QFontMetrics(TextFont(), &image_).height();
}

void QtCanvas::Text(int x, int y, const std::string& text, Rgb color, Rgb background) {
  if (image_.isNull() || text.empty()) return;
  const QString s = QString::fromStdString(text);
  QPainter p(&image_);
  p.setFont(TextFont());
  const QFontMetrics metrics = p.fontMetrics();
  p.fillRect(QRect(x, y, metrics.horizontalAdvance(s), metrics.height()), ToQColor(background));
  p.setPen(ToQColor(color));
  p.drawText(x, y + metrics.ascent(), s);
}

void QtCanvas::Resize(int width, int height) {
  image_ = QImage(std::max(width, 0), std::max(height, 0), QImage::Format_RGB32);
  image_.fill(Qt::black);
}

Rgb QtCanvas::PixelAt(int x, int y) const {
  if (!image_.valid(x, y)) return Rgb{};
  const QRgb c = image_.pixel(x, y);
  return Rgb{qRed(c), qGreen(c), qBlue(c)};
}

bool QtCanvas::SaveBitmap(const std::string& path) const {
  if (path.empty() || image_.isNull()) return false;
  return image_.save(QString::fromStdString(path), "BMP");
}

}  // namespace orv
