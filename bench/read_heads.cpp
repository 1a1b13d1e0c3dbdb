// Baseline for the scan benchmarks: walks a tree on one thread and reads the
// first BYTES (default 64 KiB) of every JPEG in it, the least any EXIF
// reader must do; with BYTES 0 it only looks up each file's size and time,
// the least a scan cache must do. Prints the count. Usage: read_heads DIR [BYTES]
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: read_heads DIR [BYTES]\n");
    return 2;
  }
  constexpr long kDefaultBytes = 64 * 1024;
  const long size = argc == 3 ? std::max(0L, std::atol(argv[2])) : kDefaultBytes;
  std::vector<char> buffer(static_cast<std::size_t>(std::max(1L, size)));
  long files = 0;
  long long bytes = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[1])) {
    std::string extension = entry.path().extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension != ".jpg" || !entry.is_regular_file()) continue;
    if (size == 0) {
      struct stat info {};
      if (::stat(entry.path().c_str(), &info) == 0) bytes += info.st_size;
      ++files;
      continue;
    }
    const int fd = ::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    ::close(fd);
    if (got > 0) bytes += got;
    ++files;
  }
  std::printf("%ld files, %lld bytes\n", files, bytes);
  return 0;
}
