#include "platform/shutdown_hooks.h"

#include <fcntl.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QWidget>
#include <csignal>

namespace tavimo::platform {
namespace {

// The write end of the pipe the signal handler writes to; the GUI thread reads the other.
int signal_pipe_write = -1;

extern "C" void NoteSignal(int) {
  const char byte = 1;
  // Only async-signal-safe calls here; a full pipe already holds a wake-up.
  [[maybe_unused]] const ssize_t written = ::write(signal_pipe_write, &byte, 1);
}

// Lives as the window's child; a native event filter removes itself from the
// application when it goes.
class DestroyWatcher final : public QObject, public QAbstractNativeEventFilter {
 public:
  DestroyWatcher(QWidget* window, std::function<void()> destroyed)
      : QObject(window), window_(window), destroyed_(std::move(destroyed)) {}

  bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
    if (type != "xcb_generic_event_t" || fired_) return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    // The top bit marks events sent by another client.
    if ((event->response_type & 0x7F) != XCB_DESTROY_NOTIFY) return false;
    // Qt itself replaces a window's native window at times (when a browser
    // view joins it, for one): only the one it has now counts.
    const xcb_window_t gone = reinterpret_cast<const xcb_destroy_notify_event_t*>(event)->window;
    if (window_.isNull() || gone != static_cast<xcb_window_t>(window_->internalWinId())) return false;
    fired_ = true;
    destroyed_();
    return false;
  }

 private:
  QPointer<QWidget> window_;
  std::function<void()> destroyed_;
  bool fired_ = false;
};

}  // namespace

bool OnTerminationSignal(std::function<void()> quit) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  signal_pipe_write = ends[1];
  auto* notifier = new QSocketNotifier(ends[0], QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier, quit = std::move(quit)] {
    char sink[16];
    while (::read(static_cast<int>(notifier->socket()), sink, sizeof sink) > 0) {
    }
    quit();
  });
  struct sigaction action {};
  action.sa_handler = NoteSignal;
  sigemptyset(&action.sa_mask);
  // Once handled, the default comes back: a second signal ends the process.
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  return ::sigaction(SIGTERM, &action, nullptr) == 0 && ::sigaction(SIGINT, &action, nullptr) == 0;
}

void OnNativeWindowDestroyed(QWidget* window, std::function<void()> destroyed) {
  if (QGuiApplication::platformName() != QStringLiteral("xcb")) return;
  window->winId();  // a native window from now on
  QCoreApplication::instance()->installNativeEventFilter(new DestroyWatcher(window, std::move(destroyed)));
}

}  // namespace tavimo::platform
