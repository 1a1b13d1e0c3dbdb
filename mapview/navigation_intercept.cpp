#include "mapview/navigation_intercept.h"

#include <QFile>
#include <QTimer>
#include <QUrl>
#include <QWebEngineSettings>

#include "mapview/map_page.h"

namespace tavimo::mapview {

NavigationDecision InterceptNavigation(const QUrl& url, bool main_frame, const std::string& map_page_path) {
  if (!main_frame || !url.isLocalFile()) return {};
  const std::string path = QFile::encodeName(url.toLocalFile()).toStdString();
  if (path == map_page_path || path == BrowserPagePath(map_page_path)) return {};
  return {false, !path.empty() && path.back() == '/' ? path : path + '/'};
}

MapWebPage::MapWebPage(std::string map_page_path, std::function<void(const std::string&)> open_folder,
                       QObject* parent)
    : QWebEnginePage(parent), map_page_path_(std::move(map_page_path)), open_folder_(std::move(open_folder)) {
  // The page is a local file that loads the provider's scripts and talks to
  // the program's loopback server.
  settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
  // Drops are taken before the browser sees them; should one get through, it
  // must not replace the map.
  settings()->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
}

bool MapWebPage::acceptNavigationRequest(const QUrl& url, NavigationType, bool main_frame) {
  const NavigationDecision decision = InterceptNavigation(url, main_frame, map_page_path_);
  if (!decision.proceed && open_folder_) {
    // Opened once the browser is done refusing this navigation; the map stays.
    QTimer::singleShot(0, this, [open = open_folder_, folder = decision.folder] { open(folder); });
  }
  return decision.proceed;
}

}  // namespace tavimo::mapview
