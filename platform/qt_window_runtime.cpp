#include "platform/qt_window_runtime.h"

#include <QListWidget>
#include <QMessageBox>
#include <QUrl>
#include <QWebEngineView>

#include "platform/canvas.h"

namespace tavimo::platform {
namespace {

constexpr std::string_view kScriptScheme = "javascript:";

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

QtWindowRuntime::QtWindowRuntime(QWidget* window, QListWidget* list, Canvas* canvas, QWebEngineView* browser)
    : window_(window), list_(list), canvas_(canvas), browser_(browser) {}

std::string QtWindowRuntime::Caption() const {
  return window_ ? window_->windowTitle().toStdString() : std::string();
}

void QtWindowRuntime::SetCaption(const std::string& text) {
  if (window_) window_->setWindowTitle(FromUtf8(text));
}

void QtWindowRuntime::MessageBox(const std::string& text) {
  if (!window_) return;
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("信息："), FromUtf8(text), QMessageBox::Ok, window_);
  box.exec();
}

void QtWindowRuntime::ListDeleteAll() {
  if (list_) list_->clear();
}

void QtWindowRuntime::CanvasClear() {
  if (canvas_) canvas_->Clear();
}

void QtWindowRuntime::SetBrowserAddress(const std::string& address) {
  if (!browser_) return;
  if (address.rfind(kScriptScheme, 0) == 0) {
    // Runs in the page shown; the page itself stays.
    browser_->page()->runJavaScript(FromUtf8(address.substr(kScriptScheme.size())));
    return;
  }
  browser_->setUrl(QUrl(FromUtf8(address)));
}

}  // namespace tavimo::platform
