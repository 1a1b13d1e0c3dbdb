#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <string>

namespace tavimo::shell {

// Takes files and folders dropped on a window and hands their full paths,
// joined by "\r\n", to a callback on the window's thread.
class DropReceiver : public QObject {
 public:
  using Callback = std::function<void(const std::string& names)>;

  // Nothing to open: on X11 and Wayland drops from any process reach the window.
  DropReceiver();
  ~DropReceiver() override;
  DropReceiver(const DropReceiver&) = delete;
  DropReceiver& operator=(const DropReceiver&) = delete;

  // Starts taking drops on `window`; does nothing when attached already.
  void Attach(QWidget* window, Callback callback);
  // Stops taking drops; does nothing when not attached.
  void Detach();
  // True between Attach and Detach.
  bool IsAttached() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPointer<QWidget> window_;
  Callback callback_;
  bool attached_ = false;
};

// Takes drops on the map's browser box (and the widget inside it that gets
// the events) before the browser does, handing the dropped paths to
// `callback` as the window's drops are, so the map page stays.
void WatchMapDrops(QWidget* browser, DropReceiver::Callback callback);

// The local paths of dropped URLs, as file-system bytes, joined by "\r\n";
// empty when none of them is local.
std::string DroppedNames(const QList<QUrl>& urls);

}  // namespace tavimo::shell
