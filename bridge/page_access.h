#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavimo::bridge {

// What a request says about where it comes from, as far as the access rule
// needs it.
struct RequestOrigin {
  std::vector<std::string> hosts;         // every Host header, in order
  std::optional<std::string> origin;      // the Origin header, when sent
  std::optional<std::string> fetch_site;  // the Sec-Fetch-Site header, when sent
  std::string token;                      // the "token" query parameter; empty when none
};

enum class Access {
  kDirect,    // no browser page behind it (curl, scripts, an address typed by the user)
  kOwnPage,   // a page of ours: it showed this run's token
  kBadHost,   // no Host, or more than one: 400
  kForbidden  // a foreign host name (DNS rebinding) or a web page without the token: 403
};

// The name of the query parameter that carries the token.
inline constexpr const char* kTokenParameter = "token";

// Decides who may use the server on 127.0.0.1:`port`. A request a browser
// marks as made by a web page (an Origin header, or a Sec-Fetch-Site other
// than "none") is answered only when it carries `token`; anything else is
// answered as before. Never fails; an empty `token` admits no page.
Access JudgeAccess(const RequestOrigin& request, int port, std::string_view token);

// True when `a` and `b` hold the same bytes; the time taken depends only on
// their lengths, never on where they first differ.
bool SameSecret(std::string_view a, std::string_view b);

// A fresh token for one run: 32 lower-case hex digits from the kernel's
// random source. Throws std::runtime_error when that source fails.
std::string NewAccessToken();

}  // namespace tavimo::bridge
