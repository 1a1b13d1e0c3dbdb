#pragma once

#include <string>

#include "catalogue/folder_scan.h"
#include "platform/window_runtime.h"

namespace tavimo::catalogue {

// The parts of the program's state a folder intake reads and writes.
struct IntakeContext {
  PhotoTables& tables;
  const exif::ExifReader& reader;
  geo::ScriptHost& host;
  platform::WindowRuntime& window;
  const std::string& base_title;
};

// True when `path` names an existing folder (symbolic links followed); false
// for anything else, the empty path included.
bool IsFolder(const std::string& path);
// Makes `path` (ending with "/") the current folder, shows it in the caption,
// clears list and canvas, scans it and redraws the map; anything that is not
// a folder only shows the message "请拖入目录".
void OpenFolder(const IntakeContext& context, const std::string& path);
// Opens the dropped `names` (full paths joined by "\r\n") as one folder path,
// with a "/" appended unless it ends with one or is empty; see OpenFolder.
void OnFolderDropped(const IntakeContext& context, const std::string& names);

}  // namespace tavimo::catalogue
