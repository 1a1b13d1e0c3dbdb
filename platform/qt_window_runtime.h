#pragma once

#include <QPointer>

#include "platform/window_runtime.h"

class QListWidget;
class QWebEngineView;
class QWidget;

namespace tavimo::platform {

class Canvas;

// The window runtime on Qt widgets. Controls that are gone make the
// operations on them do nothing.
class QtWindowRuntime : public WindowRuntime {
 public:
  QtWindowRuntime(QWidget* window, QListWidget* list, Canvas* canvas, QWebEngineView* browser);

  std::string Caption() const override;
  void SetCaption(const std::string& text) override;
  void MessageBox(const std::string& text) override;
  void ListDeleteAll() override;
  void CanvasClear() override;
  void SetBrowserAddress(const std::string& address) override;

 private:
  QPointer<QWidget> window_;
  QPointer<QListWidget> list_;
  QPointer<Canvas> canvas_;
  QPointer<QWebEngineView> browser_;
};

}  // namespace tavimo::platform
