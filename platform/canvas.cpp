#include "platform/canvas.h"

#include <QMouseEvent>
#include <QPainter>

namespace tavimo::platform {

Canvas::Canvas(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void Canvas::Clear() {
  content_.fill(Qt::white);
  update();
}

void Canvas::Draw(const QImage& image, const QRect& where) {
  QPainter painter(&content_);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(where, image);
  update();
}

const QImage& Canvas::Content() const { return content_; }

void Canvas::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(0, 0, content_);
}

void Canvas::resizeEvent(QResizeEvent*) {
  QImage resized(size(), QImage::Format_RGB32);
  resized.fill(Qt::white);
  QPainter painter(&resized);
  painter.drawImage(0, 0, content_);
  content_ = resized;
}

void Canvas::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit doubleClicked();
}

}  // namespace tavimo::platform
