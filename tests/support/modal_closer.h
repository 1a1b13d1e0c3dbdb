#pragma once

#include <QObject>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QTimer>

namespace tavimo::testing {

// Watches for the next modal window, records what it shows and closes it, so
// that a test can go through code that waits for the user.
class ModalCloser : public QObject {
 public:
  ModalCloser();
  // Starts watching; the next modal window that appears is recorded and closed.
  void Arm();

  int closed = 0;
  QString title;
  QString text;  // a message box's text; empty for other windows
  QString class_name;
  QSize size;
  QPoint position;
  QSize picture_size;  // the size of the pixmap of a child named "图片框1"

 private:
  void Poll();
  QTimer timer_;
};

}  // namespace tavimo::testing
