#include "tests/support/modal_closer.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>

namespace tavimo::testing {

ModalCloser::ModalCloser() {
  timer_.setInterval(10);
  connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
}

void ModalCloser::Arm() { timer_.start(); }

void ModalCloser::Poll() {
  QWidget* modal = QApplication::activeModalWidget();
  if (modal == nullptr || !modal->isVisible()) return;
  timer_.stop();
  title = modal->windowTitle();
  class_name = modal->metaObject()->className();
  size = modal->frameGeometry().size();
  position = modal->frameGeometry().topLeft();
  if (auto* box = qobject_cast<QMessageBox*>(modal)) text = box->text();
  if (auto* picture = modal->findChild<QLabel*>(QStringLiteral("图片框1"))) {
    picture_size = picture->pixmap().size();
  }
  ++closed;
  if (auto* dialog = qobject_cast<QDialog*>(modal)) {
    dialog->done(QDialog::Accepted);
  } else {
    modal->close();
  }
}

}  // namespace tavimo::testing
