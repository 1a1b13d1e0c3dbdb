#include "shell/drop_receiver.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include "platform/local_files.h"

namespace tavimo::shell {

namespace {

// Accepts drags that carry URLs and hands a drop's paths to `callback`; true
// when the event was a drag or drop of URLs, which nothing else then sees.
bool TakeDrop(QEvent* event, const DropReceiver::Callback& callback) {
  if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
    auto* drag = static_cast<QDragMoveEvent*>(event);
    if (!drag->mimeData()->hasUrls()) return false;
    drag->acceptProposedAction();
    return true;
  }
  if (event->type() != QEvent::Drop) return false;
  auto* drop = static_cast<QDropEvent*>(event);
  if (!drop->mimeData()->hasUrls()) return false;
  drop->acceptProposedAction();
  // The folder is opened, and scanned, before the drop is finished.
  if (callback) callback(DroppedNames(drop->mimeData()->urls()));
  return true;
}

}  // namespace

DropReceiver::DropReceiver() = default;

DropReceiver::~DropReceiver() { Detach(); }

void DropReceiver::Attach(QWidget* window, Callback callback) {
  if (attached_ || window == nullptr) return;
  window_ = window;
  callback_ = std::move(callback);
  window->setAcceptDrops(true);
  window->installEventFilter(this);
  attached_ = true;
}

void DropReceiver::Detach() {
  if (!attached_) return;
  if (window_) {
    window_->removeEventFilter(this);
    window_->setAcceptDrops(false);
  }
  attached_ = false;
}

bool DropReceiver::IsAttached() const { return attached_; }

bool DropReceiver::eventFilter(QObject* watched, QEvent* event) {
  return watched == window_ && TakeDrop(event, callback_);
}

namespace {

class MapDropFilter : public QObject {
 public:
  MapDropFilter(QWidget* browser, DropReceiver::Callback callback) : QObject(browser), callback_(std::move(callback)) {}

  // The browser makes the widget that gets the events when it first shows a
  // page; it is watched as soon as it is there.
  void WatchInner(QWidget* inner) {
    if (inner == nullptr || watched_.contains(inner)) return;
    watched_.append(inner);
    inner->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::ChildAdded || event->type() == QEvent::ChildPolished) {
      if (auto* browser = qobject_cast<QWidget*>(parent())) WatchInner(browser->focusProxy());
      return false;
    }
    return TakeDrop(event, callback_) || QObject::eventFilter(watched, event);
  }

 private:
  DropReceiver::Callback callback_;
  QList<QPointer<QWidget>> watched_;
};

}  // namespace

void WatchMapDrops(QWidget* browser, DropReceiver::Callback callback) {
  auto* filter = new MapDropFilter(browser, std::move(callback));
  filter->WatchInner(browser);
  filter->WatchInner(browser->focusProxy());
}

std::string DroppedNames(const QList<QUrl>& urls) {
  std::string names;
  for (const QUrl& url : urls) {
    if (!url.isLocalFile()) continue;
    if (!names.empty()) names += "\r\n";
    // The bytes the file system knows the path by, whatever its encoding.
    names += platform::LocalPath(url);
  }
  return names;
}

}  // namespace tavimo::shell
