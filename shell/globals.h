#pragma once

#include <memory>
#include <string>

#include "bridge/map_server.h"
#include "shell/folder_intake.h"
#include "exif/exif_reader.h"
#include "geo/script_host.h"
#include "platform/window_runtime.h"
#include "shell/drop_receiver.h"
#include "shell/picture_workers.h"
#include "shell/scan_session.h"

namespace tavimo::shell {

class MainWindow;

// Everything the program holds from start-up to exit. Touched on the GUI
// thread only.
struct Globals {
  catalogue::PhotoTables tables;  // PhotoTable, PhotoNames, MapPoints, CurrentFolder
  std::unique_ptr<exif::ExifReader> reader;
  std::unique_ptr<geo::ScriptHost> script_host;
  std::unique_ptr<DropReceiver> drop_receiver;
  std::unique_ptr<bridge::MapServer> map_server;
  std::unique_ptr<ScanSession> scan;  // once the main window exists
  std::shared_ptr<catalogue::SharedScanCache> scan_cache;  // null: every photo is read
  std::unique_ptr<PictureWorkers> pictures;  // thumbnails and previews, made off the GUI thread
  std::string base_title;
  std::string current_photo_path;
  platform::WindowRuntime* window = nullptr;  // set once the main window exists
  int releases = 0;                           // runs of ReleaseGlobals that released anything
  int port = 0;                               // the map server's port; 0 when it could not listen
};

// The global state, made in start-up order; never null. Without
// `use_scan_cache`, scans read every photo and keep nothing.
std::unique_ptr<Globals> InitGlobals(bool use_scan_cache = true);
// The port the map server listens on: TAVIMO_PORT when it holds one (0 for
// any free port, as tests use), else 8080.
int MapPort();
// The start-up steps run once the main window exists, in their order.
void OnMainWindowCreated(Globals& globals, MainWindow& window, platform::WindowRuntime& runtime);
// The folder intake's view of the global state; needs the window set.
IntakeContext IntakeOf(Globals& globals);
// Releases everything once; later calls do nothing.
void ReleaseGlobals(Globals& globals);

}  // namespace tavimo::shell
