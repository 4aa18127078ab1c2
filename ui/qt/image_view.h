// A graph surface of the windows: shows a canvas image scaled to the widget and reports mouse clicks
// in the image's own (design) pixels, whatever the screen scale.
#pragma once

#include <QImage>
#include <QWidget>
#include <functional>

namespace orv {

class ImageView : public QWidget {
 public:
  explicit ImageView(QWidget* parent = nullptr) : QWidget(parent) {}

  // The picture is owned by the canvas; the view repaints it on update().
  void setImage(const QImage* image) { image_ = image; }
  const QImage* image() const { return image_; }
  std::function<void(int x, int y)> onClick;

  // The design pixel under a widget position: the picture fills the widget, whatever its scale.
  void setDesignSize(QSize size) { design_ = size; }
  QPoint ToImage(QPoint widgetPos) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  const QImage* image_ = nullptr;
  QSize design_;
};

}  // namespace orv
