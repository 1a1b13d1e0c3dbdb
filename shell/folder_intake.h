#pragma once

#include <functional>
#include <string>

#include "catalogue/folder_intake.h"
#include "platform/window_runtime.h"

namespace tavimo::shell {

// The parts of the program's state a folder intake reads and writes.
struct IntakeContext {
  catalogue::PhotoTables& tables;
  const exif::ExifReader& reader;
  geo::ScriptHost& host;
  platform::WindowRuntime& window;
  const std::string& base_title;
  // Scans `folder` (tables.current_folder) in the background and shows the
  // results as they come; when empty, OpenFolder scans at once and shows them.
  std::function<void(const std::string& folder)> scan_in_background = {};
};

// Makes `path` (ending with "/") the current folder, shows it in the caption,
// clears list and canvas and scans it: in the background when the context
// says how, else at once, then redraws the map and shows in the status bar
// what could not be read (ShowScanResult). Anything that is not a folder only
// shows the message "请拖入目录".
void OpenFolder(const IntakeContext& context, const std::string& path);
// Has the map page fetch the points again.
void RedrawMap(platform::WindowRuntime& window);
// What ends a scan of `folder` in the window: the map redrawn, and the notice
// of what could not be read (none when everything could).
void ShowScanResult(platform::WindowRuntime& window, const catalogue::ScanReport& report, const std::string& folder);
// Opens the dropped `names` (full paths joined by "\r\n") as one folder path,
// with a "/" appended unless it ends with one or is empty; see OpenFolder.
void OnFolderDropped(const IntakeContext& context, const std::string& names);

}  // namespace tavimo::shell
