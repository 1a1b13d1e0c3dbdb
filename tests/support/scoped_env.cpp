#include "tests/support/scoped_env.h"

#include <cstdlib>
#include <utility>

namespace tavimo::testing {
namespace {

void SetOrUnset(const std::string& name, const char* value) {
  if (value != nullptr) {
    ::setenv(name.c_str(), value, 1);
  } else {
    ::unsetenv(name.c_str());
  }
}

}  // namespace

ScopedEnv::ScopedEnv(std::string name, const char* value) : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) old_ = old;
  SetOrUnset(name_, value);
}

ScopedEnv::~ScopedEnv() { SetOrUnset(name_, old_ ? old_->c_str() : nullptr); }

}  // namespace tavimo::testing
