#pragma once

#include <fcntl.h>

#include <cstdint>
#include <string>

namespace tavimo::exif {

// What became of opening, then reading, a file.
enum class FileStatus {
  kOk,          // open, and every read so far succeeded
  kMissing,     // nothing by that name any more (removed, or a folder on the way replaced)
  kNotRegular,  // a FIFO, socket, device or folder: never read
  kFailed,      // there, but the system refused to open or read it (permission, I/O error, ...)
};

// Opens `path`, relative to the folder open as `dir_fd` (AT_FDCWD: the
// current folder) unless absolute, with open(2) `flags`. A path longer than
// PATH_MAX is opened a stretch of folders at a time, each stretch shorter than
// PATH_MAX and relative to the one before; symbolic links on the way are
// followed as open(2) follows them. Returns the new descriptor, or -1 with
// errno set (ENAMETOOLONG only when one name alone is too long).
int OpenPath(const std::string& path, int flags, int dir_fd = AT_FDCWD);

// The system's words for an errno value, e.g. "Permission denied".
std::string SystemErrorText(int error);

// A regular file open for reading. Opening never waits: a FIFO is opened
// without waiting for a writer (O_NONBLOCK), a terminal does not become the
// controlling one (O_NOCTTY), and what the open descriptor turns out to be is
// checked before anything is read, so FIFOs, sockets and devices are never
// read. Reads are positioned and exactly as long as asked: a caller bounds
// them. One thread at a time.
class ReadOnlyFile {
 public:
  // Opens `path` (long paths as OpenPath does); Status() tells how it went.
  explicit ReadOnlyFile(const std::string& path);
  ~ReadOnlyFile();
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  // kOk while the file is open and no read has failed.
  FileStatus Status() const;
  // Why the status is not kOk, in the system's words; empty when it is.
  std::string Reason() const;
  // The file's size in bytes when it was opened; 0 when it is not open.
  std::int64_t Size() const;
  // The open descriptor, still owned by this object; -1 when not open.
  int Descriptor() const;
  // Up to `length` bytes from 0-based `offset`, cut at the end of the file;
  // empty for a negative offset or length, or when the file is not open. A
  // read the system refuses ends the bytes early and sets the status kFailed.
  std::string Read(std::int64_t offset, std::int64_t length) const;
  // The same into `out`, which has room for `length` bytes; returns how many
  // were read.
  std::int64_t ReadInto(std::int64_t offset, char* out, std::int64_t length) const;

 private:
  int fd_ = -1;
  std::int64_t size_ = 0;
  mutable FileStatus status_ = FileStatus::kOk;
  mutable int error_ = 0;
};

}  // namespace tavimo::exif
