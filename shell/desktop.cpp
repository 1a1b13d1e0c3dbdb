#include "shell/desktop.h"

#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <functional>
#include <cstdlib>
#include <filesystem>

#include "platform/canvas.h"
#include "platform/shutdown_hooks.h"
#include "shell/menus.h"
#include "shell/photo_list.h"
#include "shell/preview.h"

namespace tavimo::shell {
namespace {

// Runs `action` when the left mouse button is released over the watched
// widget, after the click has updated the list's selection; keyboard moves
// do not count.
class LeftClickFilter : public QObject {
 public:
  LeftClickFilter(QObject* parent, std::function<void()> action) : QObject(parent), action_(std::move(action)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
      action_();
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  std::function<void()> action_;
};

}  // namespace

Desktop::Desktop(bool use_scan_cache) : globals_(InitGlobals(use_scan_cache)), window_(std::make_unique<MainWindow>()) {
  LoadResources();
  runtime_ = std::make_unique<platform::QtWindowRuntime>(window_.get(), window_->PhotoList(), window_->Preview(),
                                                         window_->Browser());
  OnMainWindowCreated(*globals_, *window_, *runtime_);
  platform::WindowRuntime* runtime = runtime_.get();
  QObject::connect(window_->AboutAction(), &QAction::triggered, [runtime] { ShowAbout(*runtime); });
  QObject::connect(window_->SponsorAction(), &QAction::triggered, [] { ShowSponsor(); });
  Globals* state = globals_.get();
  QObject::connect(window_->NoPositionButton(), &QPushButton::clicked, [state] { ListPhotosAt(*state, "0.0", "0.0"); });
  QObject::connect(window_->PhotoList()->verticalScrollBar(), &QScrollBar::valueChanged,
                   [state] { MakeVisibleThumbnailsFirst(*state); });
  QWidget* list_area = window_->PhotoList()->viewport();
  list_area->installEventFilter(new LeftClickFilter(list_area, [state] { ShowPreview(*state); }));
  QObject::connect(window_->Preview(), &platform::Canvas::doubleClicked, [state] { OpenCurrentPhoto(*state); });
}

Desktop::~Desktop() { ReleaseGlobals(*globals_); }

MainWindow& Desktop::Window() { return *window_; }
Globals& Desktop::State() { return *globals_; }
platform::WindowRuntime& Desktop::Runtime() { return *runtime_; }

std::string FolderArgument(const std::string& folder) {
  if (folder.empty()) return folder;
  std::error_code error;
  std::filesystem::path path = std::filesystem::absolute(folder, error);
  if (error) path = folder;
  std::string text = path.lexically_normal().string();
  if (text.empty() || text.back() != '/') text += '/';
  return text;
}

int RunDesktop(int argc, char** argv, const std::string& folder, bool use_scan_cache) {
  // Chromium's sandbox refuses to start as root; the map page is our own.
  if (::geteuid() == 0 && std::getenv("QTWEBENGINE_DISABLE_SANDBOX") == nullptr) {
    ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
  }
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("tavimo"));

  Desktop desktop(use_scan_cache);
  QObject::connect(&app, &QCoreApplication::aboutToQuit, [&desktop] { ReleaseGlobals(desktop.State()); });
  // A signal, or a window destroyed from outside, ends the program as
  // closing the window does: the server stops first, in-flight requests get
  // their answer.
  platform::OnTerminationSignal([] { QCoreApplication::quit(); });
  desktop.Window().show();
  platform::OnNativeWindowDestroyed(&desktop.Window(), [] { QCoreApplication::quit(); });
  if (!folder.empty()) {
    const std::string path = FolderArgument(folder);
    // Once the event loop runs, exactly as a drop would arrive.
    Globals* state = &desktop.State();
    QTimer::singleShot(0, &desktop.Window(), [state, path] { OnFolderDropped(IntakeOf(*state), path); });
  }
  return QApplication::exec();
}

}  // namespace tavimo::shell
