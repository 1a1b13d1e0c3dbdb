#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "app/inspect.h"
#include "exif/exif_reader.h"

namespace {

constexpr const char* kUsage =
    "Usage: tavimo --inspect FILE...\n"
    "Shows on a map where the photos of a folder were taken.\n"
    "\n"
    "  --inspect FILE...  print what the EXIF reader finds in each file, one JSON line each\n"
    "  --help             show this help\n"
    "  --version          show the version\n";

int Inspect(const std::vector<std::string>& files) {
  if (files.empty()) {
    std::cerr << "tavimo: --inspect needs at least one file\n" << kUsage;
    return 2;
  }
  tavimo::exif::ExifReader reader;
  reader.SetPointerTags({"8825", "8769"});
  std::string out;
  for (const std::string& file : files) {
    out = tavimo::app::InspectLine(reader, file);
    out += '\n';
    std::fwrite(out.data(), 1, out.size(), stdout);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::cout << kUsage;
    return args.empty() ? 2 : 0;
  }
  if (args[0] == "--version") {
    std::cout << "tavimo " << TAVIMO_VERSION << '\n';
    return 0;
  }
  if (args[0] == "--inspect") return Inspect({args.begin() + 1, args.end()});
  std::cerr << "tavimo: unknown option " << args[0] << '\n' << kUsage;
  return 2;
}
