#pragma once

#include <QWebEnginePage>
#include <functional>
#include <string>

namespace tavimo::mapview {

// What to do with a navigation: go on, or cancel it and open `folder`.
struct NavigationDecision {
  bool proceed = true;
  std::string folder;  // a dropped local path with one trailing "/"; empty when proceeding
};

// The map page itself and web addresses go on; any other main-frame file
// URL is a local path dropped on the map: cancelled and opened as a folder.
NavigationDecision InterceptNavigation(const QUrl& url, bool main_frame, const std::string& map_page_path);

// The page of the browser box: keeps the map when a local path is dropped
// on it and hands the path to `open_folder` instead.
class MapWebPage : public QWebEnginePage {
 public:
  MapWebPage(std::string map_page_path, std::function<void(const std::string&)> open_folder, QObject* parent);

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool main_frame) override;

 private:
  std::string map_page_path_;
  std::function<void(const std::string&)> open_folder_;
};

}  // namespace tavimo::mapview
