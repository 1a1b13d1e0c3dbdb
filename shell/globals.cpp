#include "shell/globals.h"

#include <QCoreApplication>
#include <QLabel>
#include <QStatusBar>
#include <QWebEngineView>
#include <cstdlib>

#include "geo/conversion.h"
#include "mapview/map_page.h"
#include "mapview/navigation_intercept.h"
#include "mapview/run_directory.h"
#include "shell/main_window.h"
#include "shell/photo_list.h"
#include "shell/preview.h"
#include "shell/scan_session.h"
#include "catalogue/scan_cache.h"

namespace tavimo::shell {

std::unique_ptr<Globals> InitGlobals(bool use_scan_cache) {
  auto globals = std::make_unique<Globals>();
  // Opened by the first scan, on its thread.
  if (use_scan_cache) globals->scan_cache = std::make_shared<catalogue::SharedScanCache>(catalogue::ScanCache::DefaultPath());
  globals->reader = std::make_unique<exif::ExifReader>();
  globals->script_host = std::make_unique<geo::ScriptHost>();
  globals->drop_receiver = std::make_unique<DropReceiver>();
  globals->pictures = std::make_unique<PictureWorkers>(PostToGuiThread(), PictureMakers{PhotoThumbnail, DecodePreview});
  Globals* state = globals.get();
  globals->map_server = std::make_unique<bridge::MapServer>(
      globals->tables.map_points,
      [](std::function<void()> task) {
        // Runs on the GUI thread once it gets to it; the handler waits, the GUI thread never does.
        QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(task), Qt::QueuedConnection);
      },
      [state](const std::string& lng, const std::string& lat) {
        if (state->window != nullptr) ListPhotosAt(*state, lng, lat);
      });
  return globals;
}

int MapPort() {
  const char* text = std::getenv("TAVIMO_PORT");
  if (text == nullptr) return 8080;
  char* end = nullptr;
  const long port = std::strtol(text, &end, 10);
  return end != text && *end == '\0' && port >= 0 && port < 65536 ? static_cast<int>(port) : 8080;
}

void OnMainWindowCreated(Globals& globals, MainWindow& window, platform::WindowRuntime& runtime) {
  globals.window = &runtime;
  globals.base_title = runtime.Caption();
  Globals* state = &globals;
  const auto open_folder = [state](const std::string& names) { OnFolderDropped(IntakeOf(*state), names); };
  const std::string page_path = mapview::MapPagePath(mapview::RunDirectory());
  mapview::WriteMapPage(page_path, mapview::MapPage(mapview::PageSettingsFromEnvironment(
                                       MapPort(), globals.map_server->AccessToken())));
  window.Browser()->setPage(new mapview::MapWebPage(page_path, open_folder, window.Browser()));
  WatchMapDrops(window.Browser(), open_folder);
  runtime.SetBrowserAddress(mapview::BrowserPagePath(page_path));
  geo::LoadConversionScript(*globals.script_host);
  globals.reader->SetPointerTags({"8825", "8769"});
  globals.scan = std::make_unique<ScanSession>(globals, window.statusBar());
  globals.drop_receiver->Attach(&window, open_folder);
  const int port = MapPort();
  if (globals.map_server->Start(port)) {
    globals.port = globals.map_server->Port();
  } else {
    // An empty map would look like a folder without positions: say why.
    auto* notice = new QLabel(QStringLiteral("端口 %1 已被占用，地图无法显示标记").arg(port));
    notice->setObjectName(QStringLiteral("portNotice"));
    notice->setStyleSheet(QStringLiteral("color: #b00020"));
    window.statusBar()->addWidget(notice);
  }
}

IntakeContext IntakeOf(Globals& globals) {
  Globals* state = &globals;
  return {globals.tables, *globals.reader, *globals.script_host, *globals.window, globals.base_title,
          [state](const std::string& folder) {
            if (state->scan) state->scan->Start(folder);
          }};
}

void ReleaseGlobals(Globals& globals) {
  if (globals.releases > 0) return;
  ++globals.releases;
  // First, so that no request handler runs while the rest goes.
  globals.map_server.reset();
  // Then the scan: its threads end after the photo each is reading.
  globals.scan.reset();
  // And the thumbnail and preview workers, each at its next stage.
  globals.pictures.reset();
  globals.tables.photo_table.clear();
  globals.reader.reset();
  globals.tables.current_folder.clear();
  globals.tables.photo_names.clear();
  globals.base_title.clear();
  globals.tables.map_points.Replace({});
  globals.script_host.reset();
  globals.current_photo_path.clear();
  globals.drop_receiver.reset();
  globals.window = nullptr;
}

}  // namespace tavimo::shell
