#pragma once

#include <string>

namespace tavimo::mapview {

// What the written page carries besides its constant text.
struct PageSettings {
  std::string key;            // AMap web API key; empty keeps the placeholder
  std::string security_code;  // AMap security code; empty for none
  int port = 8080;            // the map server's loopback port
  std::string token;          // the map server's access token (hex); sent with each request
};

// TAVIMO_AMAP_KEY and TAVIMO_AMAP_SECURITY_CODE when set (letters and
// digits only; anything else is ignored), with `port` and `token`.
PageSettings PageSettingsFromEnvironment(int port, const std::string& token);
// The map page: UTF-8, CR LF line ends, with the settings written in.
std::string MapPage(const PageSettings& settings);
// `run_directory` + "/option".
std::string MapPagePath(const std::string& run_directory);
// Writes `page` to `path` unless a file there holds exactly these bytes;
// true when it wrote. False when nothing was written, also on failure.
// Also keeps the same bytes at BrowserPagePath(path).
bool WriteMapPage(const std::string& path, const std::string& page);
// What the browser box loads: `page_path` + ".html", a copy of the page. The
// browser tells a local page's type by its name, and "option" has none.
std::string BrowserPagePath(const std::string& page_path);

}  // namespace tavimo::mapview
