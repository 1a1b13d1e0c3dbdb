#include "catalogue/folder_intake.h"

#include <filesystem>
#include <system_error>

namespace tavimo::catalogue {
namespace {

constexpr const char* kNotAFolder = "请拖入目录";
constexpr const char* kCaptionSeparator = "  - ";
constexpr const char* kRedrawMap = "javascript:opendraw()";

}  // namespace

bool IsFolder(const std::string& path) {
  std::error_code error;
  return !path.empty() && std::filesystem::is_directory(path, error);
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
  ScanFolder(context.tables, context.reader, context.host);
  context.window.SetBrowserAddress(kRedrawMap);
}

void OnFolderDropped(const IntakeContext& context, const std::string& names) {
  // Several dropped items arrive joined by line breaks and fail the folder
  // test. A drop without names stays empty: with a "/" it would be the root
  // folder, and its scan would read the whole disk.
  const bool keep = names.empty() || names.back() == '/';
  OpenFolder(context, keep ? names : names + '/');
}

}  // namespace tavimo::catalogue
