#include <gtest/gtest.h>

#include <QUrl>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "mapview/map_page.h"
#include "mapview/navigation_intercept.h"
#include "tests/support/jpeg_builder.h"

namespace tavimo::mapview {
namespace {

using testing::TempDir;

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(MapPage, HasTheDocumentedPartsWithCrLfLineEnds) {
  const std::string page = MapPage({});
  EXPECT_EQ(page.rfind("<!doctype html>\r\n<html>\r\n", 0), 0u);
  EXPECT_EQ(page.substr(page.size() - 7), "</html>");
  for (std::size_t i = 0; i < page.size(); ++i) {
    if (page[i] == '\n') {
      ASSERT_EQ(page[i - 1], '\r') << "at " << i;
    }
  }
  EXPECT_NE(page.substr(0, 3), "\xEF\xBB\xBF");
  for (const char* part :
       {"<meta charset=\"utf-8\">", "content=\"IE=edge\"", "<title>by:Orsel</title>", "href=\"./demo-center.css\"",
        "width: 25px;", "height: 34px;", "<div id=\"container\"></div>", "src=\"./jq.js\"",
        "https://webapi.amap.com/maps?v=1.4.15&key=您申请的key值", "https://webapi.amap.com/ui/1.1/main.js",
        "center: [116.397428, 39.90923]", "zoom: 13", "'control/BasicControl'", "position: 'rt'",
        "icon: './poi-marker-default.png'", "new AMap.Pixel(-13, -30)", "e.target.De.position",
        "lng: position.R, lat: position.Q", "'http://127.0.0.1:8080/?token='", "'http://127.0.0.1:8080/data?token='",
        "map.setFitView();", "function removeMarkers()", "function opendraw()", "function postdata(position)"}) {
    EXPECT_NE(page.find(part), std::string::npos) << part;
  }
  EXPECT_EQ(page.find("_AMapSecurityConfig"), std::string::npos);
}

TEST(MapPage, CarriesKeySecurityCodeAndPort) {
  const std::string page = MapPage({"0123abcd", "feed42", 18080, "00ff11ee"});
  EXPECT_NE(page.find("maps?v=1.4.15&key=0123abcd\""), std::string::npos);
  const std::size_t security = page.find("window._AMapSecurityConfig = {securityJsCode: 'feed42'};");
  ASSERT_NE(security, std::string::npos);
  EXPECT_LT(security, page.find("webapi.amap.com/maps")) << "set before the API loads";
  EXPECT_NE(page.find("$.post('http://127.0.0.1:18080/?token=00ff11ee', {}"), std::string::npos);
  EXPECT_NE(page.find("$.post('http://127.0.0.1:18080/data?token=00ff11ee', {lng"), std::string::npos);
  // A token that is not plain hex could break out of the quotes: left out.
  const std::string unsafe = MapPage({"", "", 8080, "ab'+alert(1)+'"});
  EXPECT_EQ(unsafe.find("alert"), std::string::npos);
  EXPECT_NE(unsafe.find("'http://127.0.0.1:8080/?token='"), std::string::npos);
}

TEST(PageSettingsFromEnvironment, TakesOnlyPlainKeys) {
  ::setenv("TAVIMO_AMAP_KEY", "abc123", 1);
  ::setenv("TAVIMO_AMAP_SECURITY_CODE", "x'};alert(1);//", 1);
  const PageSettings settings = PageSettingsFromEnvironment(9000, "beef");
  ::unsetenv("TAVIMO_AMAP_KEY");
  ::unsetenv("TAVIMO_AMAP_SECURITY_CODE");
  EXPECT_EQ(settings.key, "abc123");
  EXPECT_EQ(settings.token, "beef");
  EXPECT_EQ(settings.security_code, "");
  EXPECT_EQ(settings.port, 9000);
}

TEST(WriteMapPage, WritesOnlyAMissingOrDifferentFile) {
  const TempDir dir;
  const std::string path = MapPagePath(dir.Path());
  EXPECT_EQ(path, dir.Path() + "/option");
  const std::string page = MapPage({});
  EXPECT_TRUE(WriteMapPage(path, page));
  EXPECT_EQ(Read(path), page);
  EXPECT_EQ(Read(BrowserPagePath(path)), page);
  EXPECT_EQ(BrowserPagePath(path), path + ".html");
  const auto written = std::filesystem::last_write_time(path);
  EXPECT_FALSE(WriteMapPage(path, page)) << "an equal file is left alone";
  EXPECT_EQ(std::filesystem::last_write_time(path), written);
  for (std::string changed : {page + " ", page.substr(0, page.size() - 1), MapPage({"userkey", "", 8080, ""})}) {
    dir.Write("option", changed);
    EXPECT_TRUE(WriteMapPage(path, page));
    EXPECT_EQ(Read(path), page);
  }
  std::string one_byte = page;
  one_byte[100] = 'X';
  dir.Write("option", one_byte);
  EXPECT_TRUE(WriteMapPage(path, page));
  EXPECT_FALSE(WriteMapPage(dir.Path() + "/no/such/folder/option", page));
}

TEST(InterceptNavigation, KeepsTheMapAndOpensDroppedPaths) {
  const std::string map = "/opt/tavimo/option";
  struct Case {
    const char* url;
    bool main_frame;
    bool proceed;
    const char* folder;
  } cases[] = {
      {"file:///opt/tavimo/option", true, true, ""},
      {"file:///home/me/Photos/Trip", true, false, "/home/me/Photos/Trip/"},
      {"file:///media/card/", true, false, "/media/card/"},
      {"file:///home/me/a.jpg", true, false, "/home/me/a.jpg/"},
      {"file:///opt/tavimo/OPTION", true, false, "/opt/tavimo/OPTION/"},
      {"file:///home/me/Photos", false, true, ""},
      {"https://example.org/", true, true, ""},
      {"about:blank", true, true, ""},
  };
  for (const Case& c : cases) {
    const NavigationDecision decision = InterceptNavigation(QUrl(c.url), c.main_frame, map);
    EXPECT_EQ(decision.proceed, c.proceed) << c.url;
    EXPECT_EQ(decision.folder, c.folder) << c.url;
  }
}

}  // namespace
}  // namespace tavimo::mapview
