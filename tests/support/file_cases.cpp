#include "tests/support/file_cases.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace tavimo::testing {
namespace {

constexpr std::size_t kFolderNameBytes = 200;
constexpr uid_t kNobodyFallback = 65534;
// Exit code of a child that could not give up root.
constexpr int kCannotDrop = 97;

struct Nobody {
  uid_t uid = kNobodyFallback;
  gid_t gid = kNobodyFallback;
};

Nobody FindNobody() {
  Nobody nobody;
  if (const passwd* entry = ::getpwnam("nobody")) {
    nobody.uid = entry->pw_uid;
    nobody.gid = entry->pw_gid;
  }
  return nobody;
}

int OpenFolderAt(int dir_fd, const std::string& name) {
  const int fd = ::openat(dir_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open folder " + name);
  return fd;
}

}  // namespace

DeepFolder::DeepFolder(const std::string& base, std::size_t length,
                       const std::vector<std::pair<std::string, std::string>>& files)
    : base_(base), path_(base) {
  int fd = OpenFolderAt(AT_FDCWD, base);
  while (path_.size() <= length) {
    const std::string name = std::to_string(names_.size()) + std::string(kFolderNameBytes, 'd');
    if (::mkdirat(fd, name.c_str(), 0755) != 0) throw std::runtime_error("cannot make a deep folder");
    const int next = OpenFolderAt(fd, name);
    ::close(fd);
    fd = next;
    names_.push_back(name);
    path_ += "/" + name;
  }
  for (const auto& [name, bytes] : files) {
    const int out = ::openat(fd, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const bool written = out >= 0 && ::write(out, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    if (out >= 0) ::close(out);
    if (!written) throw std::runtime_error("cannot write " + name + " in a deep folder");
    files_.push_back(name);
  }
  ::close(fd);
}

DeepFolder::~DeepFolder() {
  std::vector<int> fds{::open(base_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  for (const std::string& name : names_) {
    if (fds.back() < 0) break;
    fds.push_back(::openat(fds.back(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  }
  if (fds.size() == names_.size() + 1 && fds.back() >= 0) {
    for (const std::string& file : files_) ::unlinkat(fds.back(), file.c_str(), 0);
  }
  for (std::size_t i = fds.size(); i-- > 1;) {
    if (fds[i] >= 0) ::close(fds[i]);
    if (fds[i - 1] >= 0) ::unlinkat(fds[i - 1], names_[i - 1].c_str(), AT_REMOVEDIR);
  }
  if (fds[0] >= 0) ::close(fds[0]);
}

const std::string& DeepFolder::Path() const { return path_; }

std::string DeepFolder::Relative() const { return path_.substr(base_.size() + 1); }

void MakeSparseFile(const std::string& path, std::int64_t size, std::string_view head) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const bool made = fd >= 0 && ::write(fd, head.data(), head.size()) == static_cast<ssize_t>(head.size()) &&
                    ::ftruncate(fd, static_cast<off_t>(size)) == 0;
  if (fd >= 0) ::close(fd);
  if (!made) throw std::runtime_error("cannot make the sparse file " + path);
}

std::int64_t BytesReadByProcess() {
  std::ifstream in("/proc/self/io");
  std::string key;
  std::int64_t value = 0;
  while (in >> key >> value) {
    if (key == "rchar:") return value;
  }
  return -1;
}

std::optional<std::string> RunUnprivileged(const std::function<std::string()>& work) {
  std::array<int, 2> pipe_fds{};
  if (::pipe(pipe_fds.data()) != 0) return std::nullopt;
  const pid_t child = ::fork();
  if (child < 0) return std::nullopt;
  if (child == 0) {
    ::close(pipe_fds[0]);
    if (::geteuid() == 0) {
      const Nobody nobody = FindNobody();
      if (::setgroups(0, nullptr) != 0 || ::setresgid(nobody.gid, nobody.gid, nobody.gid) != 0 ||
          ::setresuid(nobody.uid, nobody.uid, nobody.uid) != 0) {
        ::_exit(kCannotDrop);
      }
    }
    const std::string result = work();
    std::size_t done = 0;
    while (done < result.size()) {
      const ssize_t wrote = ::write(pipe_fds[1], result.data() + done, result.size() - done);
      if (wrote <= 0) ::_exit(1);
      done += static_cast<std::size_t>(wrote);
    }
    ::_exit(0);
  }
  ::close(pipe_fds[1]);
  std::string result;
  std::array<char, 4096> buffer{};
  ssize_t got = 0;
  while ((got = ::read(pipe_fds[0], buffer.data(), buffer.size())) > 0) {
    result.append(buffer.data(), static_cast<std::size_t>(got));
  }
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return result;
}

void OpenToOthers(const std::string& folder) {
  if (::chmod(folder.c_str(), 0755) != 0) throw std::runtime_error("cannot open " + folder + " to others");
}

std::optional<std::string> UnprivilegedLauncher() {
  if (::geteuid() != 0) return std::string();
  const Nobody nobody = FindNobody();
  const std::string launcher = "setpriv --reuid=" + std::to_string(nobody.uid) + " --regid=" +
                               std::to_string(nobody.gid) + " --clear-groups ";
  if (std::system((launcher + "true 2>/dev/null").c_str()) != 0) return std::nullopt;
  return launcher;
}

}  // namespace tavimo::testing
