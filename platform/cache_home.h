#pragma once

#include <cstdlib>
#include <string>

namespace tavimo::platform {

// The user's cache folder, as the XDG base directory rules name it:
// $XDG_CACHE_HOME when it is an absolute path, else $HOME/.cache when HOME
// is one; empty when neither is. Standard library only, so that the core
// libraries use it too. Reads the environment: not to race with setenv.
inline std::string UserCacheHome() {
  const char* xdg_cache_home = std::getenv("XDG_CACHE_HOME");
  if (xdg_cache_home != nullptr && xdg_cache_home[0] == '/') return xdg_cache_home;
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.cache";
  return {};
}

}  // namespace tavimo::platform
