#pragma once

#include <memory>
#include <string>

#include "platform/qt_window_runtime.h"
#include "shell/globals.h"
#include "shell/main_window.h"

namespace tavimo::shell {

// The running program: global state, main window and the window runtime over
// it, wired as at start-up. Needs a QApplication. Releases the globals when it goes.
class Desktop {
 public:
  // Without `use_scan_cache`, scans read every photo and keep nothing.
  explicit Desktop(bool use_scan_cache = true);
  ~Desktop();
  Desktop(const Desktop&) = delete;
  Desktop& operator=(const Desktop&) = delete;

  MainWindow& Window();
  Globals& State();
  platform::WindowRuntime& Runtime();

 private:
  std::unique_ptr<Globals> globals_;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<platform::QtWindowRuntime> runtime_;
};

// Runs the desktop program until its main window closes; `folder`, when not
// empty, is opened right after start-up as if dropped. Returns the exit code.
int RunDesktop(int argc, char** argv, const std::string& folder, bool use_scan_cache = true);

// The folder given on the command line as an absolute path ending in one "/";
// the path unchanged when it is empty.
std::string FolderArgument(const std::string& folder);

}  // namespace tavimo::shell
