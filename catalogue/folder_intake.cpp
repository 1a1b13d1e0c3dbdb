#include "catalogue/folder_intake.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

namespace tavimo::catalogue {
namespace {

constexpr const char* kNotAFolder = "请拖入目录";
constexpr const char* kCaptionSeparator = "  - ";
constexpr const char* kRedrawMap = "javascript:opendraw()";
constexpr const char* kFolderGone = "目录已不存在：";
constexpr const char* kFolderUnreadable = "无法读取目录：";
constexpr const char* kNotReadSuffix = " 个照片或子目录无法读取";
constexpr const char* kReasonSeparator = "：";
constexpr const char* kMoreNotNamed = "……另有 ";
constexpr const char* kMoreNotNamedSuffix = " 个";
constexpr std::size_t kMaxNamed = 20;

}  // namespace

bool IsFolder(const std::string& path) {
  const int fd = exif::OpenPath(path, O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

ScanNotice NoticeOf(const ScanReport& report, const std::string& folder) {
  if (report.folder_gone) return {kFolderGone + folder, {}};
  if (!report.folder_error.empty()) return {kFolderUnreadable + report.folder_error, folder};
  if (report.failures.empty()) return {};
  ScanNotice notice{std::to_string(report.failures.size()) + kNotReadSuffix, {}};
  const std::size_t named = std::min(report.failures.size(), kMaxNamed);
  for (std::size_t i = 0; i < named; ++i) {
    if (i > 0) notice.details += '\n';
    notice.details += report.failures[i].name + kReasonSeparator + report.failures[i].reason;
  }
  if (named < report.failures.size()) {
    notice.details += '\n' + (kMoreNotNamed + std::to_string(report.failures.size() - named)) + kMoreNotNamedSuffix;
  }
  return notice;
}

void OpenFolder(const IntakeContext& context, const std::string& path) {
  if (!IsFolder(path)) {
    context.window.MessageBox(kNotAFolder);
    return;
  }
  context.tables.current_folder = path;
  context.window.SetCaption(context.base_title + kCaptionSeparator + path);
  context.window.ListDeleteAll();
  context.window.CanvasClear();
  if (context.scan_in_background) {
    context.scan_in_background(path);
    return;
  }
  ShowScanResult(context.window, ScanFolder(context.tables, context.reader, context.host), path);
}

void RedrawMap(platform::WindowRuntime& window) { window.SetBrowserAddress(kRedrawMap); }

void ShowScanResult(platform::WindowRuntime& window, const ScanReport& report, const std::string& folder) {
  const ScanNotice notice = NoticeOf(report, folder);
  RedrawMap(window);
  window.SetStatusNotice(notice.text, notice.details);
}

void OnFolderDropped(const IntakeContext& context, const std::string& names) {
  // Several dropped items arrive joined by line breaks and fail the folder
  // test. A drop without names stays empty: with a "/" it would be the root
  // folder, and its scan would read the whole disk.
  const bool keep = names.empty() || names.back() == '/';
  OpenFolder(context, keep ? names : names + '/');
}

}  // namespace tavimo::catalogue
