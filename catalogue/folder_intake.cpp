#include "catalogue/folder_intake.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

namespace tavimo::catalogue {
namespace {

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

}  // namespace tavimo::catalogue
