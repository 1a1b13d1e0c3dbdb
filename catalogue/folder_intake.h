#pragma once

#include <string>

#include "catalogue/folder_scan.h"

namespace tavimo::catalogue {

// What the status bar says after a scan: a line, and the details behind it.
struct ScanNotice {
  std::string text;     // empty when everything could be read
  std::string details;  // one line per thing not read: its name and why
};

// True when `path` names an existing folder (symbolic links followed, paths
// longer than PATH_MAX included); false for anything else, the empty path
// included.
bool IsFolder(const std::string& path);
// The notice for a scan of `folder` that gave `report`: that the folder is
// gone, that it cannot be read and why, or how many photos and sub-folders
// could not be read, naming at most 20 of them in the details.
ScanNotice NoticeOf(const ScanReport& report, const std::string& folder);

}  // namespace tavimo::catalogue
