#include "bridge/page_access.h"

#include <sys/random.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <stdexcept>

namespace tavimo::bridge {
namespace {

constexpr std::size_t kTokenBytes = 16;
// Browsers send this Sec-Fetch-Site only for what the user did himself: an
// address typed in, a bookmark.
constexpr std::string_view kUserInitiated = "none";

bool HostAllowed(const std::string& host, int port) {
  const std::string suffix = ":" + std::to_string(port);
  return host == "127.0.0.1" + suffix || host == "localhost" + suffix;
}

}  // namespace

Access JudgeAccess(const RequestOrigin& request, int port, std::string_view token) {
  if (request.hosts.size() != 1) return Access::kBadHost;
  // Only requests addressed to the loopback name, so that a page elsewhere
  // cannot reach the positions by DNS rebinding.
  if (!HostAllowed(request.hosts.front(), port)) return Access::kForbidden;
  const bool from_page =
      request.origin.has_value() || (request.fetch_site.has_value() && *request.fetch_site != kUserInitiated);
  if (!from_page) return Access::kDirect;
  if (token.empty() || !SameSecret(request.token, token)) return Access::kForbidden;
  return Access::kOwnPage;
}

bool SameSecret(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    difference = static_cast<unsigned char>(difference | (a[i] ^ b[i]));
  }
  return difference == 0;
}

std::string NewAccessToken() {
  std::array<unsigned char, kTokenBytes> bytes{};
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::getrandom(bytes.data() + got, bytes.size() - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("no random bytes for the access token");
    got += static_cast<std::size_t>(n);
  }
  constexpr const char* kHex = "0123456789abcdef";
  std::string token;
  for (unsigned char byte : bytes) {
    token += kHex[byte >> 4];
    token += kHex[byte & 0x0F];
  }
  return token;
}

}  // namespace tavimo::bridge
