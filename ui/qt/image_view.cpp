#include "ui/qt/image_view.h"

#include <QMouseEvent>
#include <QPainter>

namespace orv {

QPoint ImageView::ToImage(QPoint widgetPos) const {
  const QSize size = design_.isValid() ? design_ : image_ ? image_->size() : QSize();
  if (!size.isValid() || width() <= 0 || height() <= 0) return widgetPos;
  return {widgetPos.x() * size.width() / width(), widgetPos.y() * size.height() / height()};
}

void ImageView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (image_)
    painter.drawImage(rect(), *image_);
  else
    painter.fillRect(rect(), Qt::black);
}

void ImageView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !onClick) return;
  const QPoint p = ToImage(event->position().toPoint());
  onClick(p.x(), p.y());
}

}  // namespace orv
