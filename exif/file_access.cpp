#include "exif/file_access.h"

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace tavimo::exif {
namespace {

// Closes a descriptor without disturbing the errno a caller is about to report.
void CloseKeepingErrno(int fd) {
  if (fd < 0) return;
  const int saved = errno;
  ::close(fd);
  errno = saved;
}

constexpr std::size_t kPathLimit = PATH_MAX;  // bytes of a path, its NUL included
constexpr const char* kNotRegularText = "not a regular file";

}  // namespace

int OpenPath(const std::string& path, int flags, int dir_fd) {
  if (path.size() < kPathLimit) return ::openat(dir_fd, path.c_str(), flags);
  int base = dir_fd;
  int owned = -1;
  std::size_t from = 0;
  while (path.size() - from >= kPathLimit) {
    // Repeated slashes between two stretches name nothing.
    while (from > 0 && path[from] == '/') ++from;
    if (path.size() - from < kPathLimit) break;
    const std::size_t cut = path.rfind('/', from + kPathLimit - 1);
    if (cut == std::string::npos || cut < from || (cut == from && from > 0)) {
      CloseKeepingErrno(owned);
      errno = ENAMETOOLONG;
      return -1;
    }
    // A cut at the leading slash of an absolute path starts at the root.
    const std::string stretch = cut == 0 ? "/" : path.substr(from, cut - from);
    const int next = ::openat(base, stretch.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    CloseKeepingErrno(owned);
    if (next < 0) return -1;
    base = owned = next;
    from = cut + 1;
  }
  const int fd = ::openat(base, path.c_str() + from, flags);
  CloseKeepingErrno(owned);
  return fd;
}

std::string SystemErrorText(int error) { return std::generic_category().message(error); }

ReadOnlyFile::ReadOnlyFile(const std::string& path)
    : fd_(OpenPath(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)) {
  if (fd_ < 0) {
    error_ = errno;
    // A socket, or a device without its driver, cannot be opened at all.
    if (error_ == ENXIO || error_ == ENODEV) {
      status_ = FileStatus::kNotRegular;
    } else {
      status_ = error_ == ENOENT || error_ == ENOTDIR ? FileStatus::kMissing : FileStatus::kFailed;
    }
    return;
  }
  struct stat info {};
  if (::fstat(fd_, &info) != 0) {
    error_ = errno;
    status_ = FileStatus::kFailed;
  } else if (!S_ISREG(info.st_mode)) {
    status_ = FileStatus::kNotRegular;
  } else {
    // Regular files never block; readers that share the descriptor must not
    // see EAGAIN from a file system that honours the flag anyway.
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags >= 0) ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
    size_ = info.st_size;
    return;
  }
  ::close(fd_);
  fd_ = -1;
}

ReadOnlyFile::~ReadOnlyFile() {
  if (fd_ >= 0) ::close(fd_);
}

FileStatus ReadOnlyFile::Status() const { return status_; }

std::string ReadOnlyFile::Reason() const {
  switch (status_) {
    case FileStatus::kOk: return {};
    case FileStatus::kNotRegular: return kNotRegularText;
    case FileStatus::kMissing:
    case FileStatus::kFailed: return SystemErrorText(error_);
  }
  return {};
}

std::int64_t ReadOnlyFile::Size() const { return fd_ >= 0 ? size_ : 0; }

int ReadOnlyFile::Descriptor() const { return fd_; }

std::string ReadOnlyFile::Read(std::int64_t offset, std::int64_t length) const {
  if (fd_ < 0 || offset < 0 || offset >= size_ || length <= 0) return {};
  std::string out(static_cast<std::size_t>(std::min(length, size_ - offset)), '\0');
  out.resize(static_cast<std::size_t>(ReadInto(offset, out.data(), static_cast<std::int64_t>(out.size()))));
  return out;
}

std::int64_t ReadOnlyFile::ReadInto(std::int64_t offset, char* out, std::int64_t length) const {
  if (fd_ < 0 || offset < 0 || offset >= size_ || length <= 0) return 0;
  const auto wanted = static_cast<std::size_t>(std::min(length, size_ - offset));
  std::size_t done = 0;
  while (done < wanted) {
    const ssize_t got = ::pread(fd_, out + done, wanted - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error_ = errno;
      status_ = FileStatus::kFailed;
    }
    // 0: the file has shrunk since it was opened.
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(done);
}

}  // namespace tavimo::exif
