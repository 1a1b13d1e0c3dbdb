#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavimo::testing {

// A name byte that is never part of UTF-8.
inline constexpr char kNotUtf8 = '\xFF';

// A chain of nested folders, each named by 200 bytes, below `base` whose
// deepest folder's full path is longer than `length` bytes. Made with mkdirat
// and openat one folder at a time, as paths past PATH_MAX can only be made;
// `files` (name, bytes) are written in the deepest folder. The chain is
// removed from the bottom up when the object goes.
class DeepFolder {
 public:
  DeepFolder(const std::string& base, std::size_t length,
             const std::vector<std::pair<std::string, std::string>>& files);
  ~DeepFolder();
  DeepFolder(const DeepFolder&) = delete;
  DeepFolder& operator=(const DeepFolder&) = delete;

  // The deepest folder's full path, without a trailing "/".
  const std::string& Path() const;
  // The deepest folder's path relative to `base`.
  std::string Relative() const;

 private:
  std::string base_;
  std::vector<std::string> names_;
  std::vector<std::string> files_;
  std::string path_;
};

// Makes `path` a sparse file of `size` bytes that begins with `head`: it
// costs no disk, and reads as zeros after the head.
void MakeSparseFile(const std::string& path, std::int64_t size, std::string_view head);

// Bytes this process has read through read(2)-like calls so far (rchar of
// /proc/self/io); -1 where the system does not count them.
std::int64_t BytesReadByProcess();

// Runs `work` in a child process that the permission bits apply to: the
// child takes the user and group "nobody" when this process is root, which
// ignores them. Returns what `work` returned; nullopt when no such child
// could be made. Folders on the way to what `work` reads must let "nobody"
// through (see OpenToOthers).
std::optional<std::string> RunUnprivileged(const std::function<std::string()>& work);

// Lets every user into `folder` (mode 755): a TempDir is made mode 700.
void OpenToOthers(const std::string& folder);

// The shell words that run a command as that child would (an empty text when
// this process is not root); nullopt when root may not change its user.
std::optional<std::string> UnprivilegedLauncher();

}  // namespace tavimo::testing
