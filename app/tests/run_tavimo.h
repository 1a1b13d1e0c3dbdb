#pragma once

#include <string>

namespace tavimo::app {

struct CommandOutput {
  std::string out;  // standard output and standard error together
  int status = -1;  // the exit code; -1 when it did not exit normally
};

// Runs the built tavimo with `arguments` (shell words) and `input` on stdin,
// behind `launcher` (shell words that run a command, e.g. as another user);
// status -1 when it could not be started or did not exit normally.
CommandOutput RunTavimo(const std::string& arguments, const std::string& input = "",
                        const std::string& launcher = "");

}  // namespace tavimo::app
