#pragma once

#include <QImage>
#include <QWidget>

namespace tavimo::platform {

// A drawing surface that keeps what was drawn on it until cleared.
class Canvas : public QWidget {
  Q_OBJECT

 public:
  explicit Canvas(QWidget* parent = nullptr);
  // Blanks the surface to white.
  void Clear();
  // Draws `image` stretched into `where`, over what is there.
  void Draw(const QImage& image, const QRect& where);
  // What the surface shows now, at its own size.
  const QImage& Content() const;

 signals:
  void doubleClicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  QImage content_;
};

}  // namespace tavimo::platform
