#pragma once

#include <optional>
#include <string>

namespace tavimo::testing {

// Sets an environment variable (or unsets it, for a null value) while the
// object lives, then puts back what was there. For single-threaded tests.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace tavimo::testing
