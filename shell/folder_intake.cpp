#include "shell/folder_intake.h"

namespace tavimo::shell {
namespace {

constexpr const char* kNotAFolder = "请拖入目录";
constexpr const char* kCaptionSeparator = "  - ";
constexpr const char* kRedrawMap = "javascript:opendraw()";

}  // namespace

void OpenFolder(const IntakeContext& context, const std::string& path) {
  if (!catalogue::IsFolder(path)) {
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
  ShowScanResult(context.window, catalogue::ScanFolder(context.tables, context.reader, context.host), path);
}

void RedrawMap(platform::WindowRuntime& window) { window.SetBrowserAddress(kRedrawMap); }

void ShowScanResult(platform::WindowRuntime& window, const catalogue::ScanReport& report, const std::string& folder) {
  const catalogue::ScanNotice notice = catalogue::NoticeOf(report, folder);
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

}  // namespace tavimo::shell
