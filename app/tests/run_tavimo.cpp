#include "app/tests/run_tavimo.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>

#include "tests/support/jpeg_builder.h"

namespace tavimo::app {

CommandOutput RunTavimo(const std::string& arguments, const std::string& input, const std::string& launcher) {
  const testing::TempDir dir;
  const std::string in = dir.Write("stdin", input);
  CommandOutput run;
  FILE* pipe = ::popen((launcher + TAVIMO_BINARY + " " + arguments + " <'" + in + "' 2>&1").c_str(), "r");
  if (pipe == nullptr) return run;
  std::array<char, 4096> buffer{};
  while (std::size_t got = std::fread(buffer.data(), 1, buffer.size(), pipe)) run.out.append(buffer.data(), got);
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace tavimo::app
