#include "mapview/map_page.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace tavimo::mapview {
namespace {

// The page as written, before its settings are filled in: @KEY@, @PORT@,
// @TOKEN@ and @SECURITY@ (a script line setting the security code, or nothing).
constexpr const char* kPageTemplate =
    "<!doctype html>\r\n"
    "<html>\r\n"
    "<head>\r\n"
    "    <meta charset=\"utf-8\">\r\n"
    "    <meta http-equiv=\"X-UA-Compatible\" content=\"IE=edge\">\r\n"
    "    <meta name=\"viewport\" content=\"initial-scale=1.0, user-scalable=no, width=device-width\">\r\n"
    "    <title>by:Orsel</title>\r\n"
    "    <link rel=\"stylesheet\" href=\"./demo-center.css\"/>\r\n"
    "    <style>\r\n"
    "        html, body, #container {\r\n"
    "            height: 100%;\r\n"
    "            width: 100%;\r\n"
    "        }\r\n"
    "\r\n"
    "        .amap-icon img {\r\n"
    "            width: 25px;\r\n"
    "            height: 34px;\r\n"
    "        }\r\n"
    "    </style>\r\n"
    "</head>\r\n"
    "<body>\r\n"
    "<div id=\"container\"></div>\r\n"
    "<script type=\"text/javascript\" src=\"./jq.js\"></script>\r\n"
    "@SECURITY@<script type=\"text/javascript\" src=\"https://webapi.amap.com/maps?v=1.4.15&key=@KEY@\"></script>\r\n"
    "<script src=\"https://webapi.amap.com/ui/1.1/main.js\"></script>\r\n"
    "<script type=\"text/javascript\">\r\n"
    "    var map = new AMap.Map('container', {\r\n"
    "        resizeEnable: true,\r\n"
    "        center: [116.397428, 39.90923],\r\n"
    "        zoom: 13\r\n"
    "    });\r\n"
    "    AMapUI.loadUI(['control/BasicControl'], function (BasicControl) {\r\n"
    "        map.addControl(new BasicControl.LayerSwitcher({\r\n"
    "            position: 'rt'\r\n"
    "        }));\r\n"
    "    });\r\n"
    "    var markers = [];\r\n"
    "\r\n"
    "    function removeMarkers() {\r\n"
    "        map.remove(markers);\r\n"
    "        markers = [];\r\n"
    "    }\r\n"
    "\r\n"
    "    function drawpoint(positions) {\r\n"
    "        for (var i = 0; i < positions.length; i++) {\r\n"
    "            var marker = new AMap.Marker({\r\n"
    "                map: map,\r\n"
    "                position: positions[i],\r\n"
    "                icon: './poi-marker-default.png',\r\n"
    "                offset: new AMap.Pixel(-13, -30)\r\n"
    "            });\r\n"
    "            markers.push(marker);\r\n"
    "            AMap.event.addListener(marker, 'click', function (e) {\r\n"
    "                postdata(e.target.De.position);\r\n"
    "            });\r\n"
    "        }\r\n"
    "        map.setFitView();\r\n"
    "    }\r\n"
    "\r\n"
    "    function opendraw() {\r\n"
    "        removeMarkers();\r\n"
    "        $.post('http://127.0.0.1:@PORT@/?token=@TOKEN@', {}, function (positions) {\r\n"
    "            drawpoint(positions);\r\n"
    "        });\r\n"
    "    }\r\n"
    "\r\n"
    "    function postdata(position) {\r\n"
    "        $.post('http://127.0.0.1:@PORT@/data?token=@TOKEN@', {lng: position.R, lat: position.Q});\r\n"
    "    }\r\n"
    "\r\n"
    "    opendraw();\r\n"
    "</script>\r\n"
    "</body>\r\n"
    "</html>";

constexpr const char* kKeyPlaceholder = "您申请的key值";

std::string FromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return {};
  const std::string text(value);
  // Keys and codes are hex; anything else could break out of the page's quotes.
  for (char c : text) {
    const bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!plain) return {};
  }
  return text;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

}  // namespace

PageSettings PageSettingsFromEnvironment(int port, const std::string& token) {
  return {FromEnvironment("TAVIMO_AMAP_KEY"), FromEnvironment("TAVIMO_AMAP_SECURITY_CODE"), port, token};
}

std::string MapPage(const PageSettings& settings) {
  std::string page = kPageTemplate;
  ReplaceAll(page, "@KEY@", settings.key.empty() ? kKeyPlaceholder : settings.key);
  ReplaceAll(page, "@PORT@", std::to_string(settings.port));
  // The server answers web pages only with this run's token; a token that
  // is not plain hex would break out of the script's quotes, so it is left out.
  const bool plain_token = std::all_of(settings.token.begin(), settings.token.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
  });
  ReplaceAll(page, "@TOKEN@", plain_token ? settings.token : std::string());
  // Keys issued since late 2021 need the security code set before the API loads.
  ReplaceAll(page, "@SECURITY@",
             settings.security_code.empty()
                 ? ""
                 : "<script type=\"text/javascript\">window._AMapSecurityConfig = {securityJsCode: '" +
                       settings.security_code + "'};</script>\r\n");
  return page;
}

std::string MapPagePath(const std::string& run_directory) { return run_directory + "/option"; }

std::string BrowserPagePath(const std::string& page_path) { return page_path + ".html"; }

namespace {

// Writes `bytes` to `path` unless it holds them already; true when written.
bool WriteIfDifferent(const std::string& path, const std::string& bytes) {
  {
    std::ifstream in(path, std::ios::binary);
    if (in && std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()) == bytes) {
      return false;
    }
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace

bool WriteMapPage(const std::string& path, const std::string& page) {
  WriteIfDifferent(BrowserPagePath(path), page);
  return WriteIfDifferent(path, page);
}
}  // namespace tavimo::mapview
