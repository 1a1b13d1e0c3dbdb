#include "shell/globals.h"

#include <QWebEngineView>

#include "geo/conversion.h"
#include "shell/main_window.h"

namespace tavimo::shell {

std::unique_ptr<Globals> InitGlobals() {
  auto globals = std::make_unique<Globals>();
  globals->reader = std::make_unique<exif::ExifReader>();
  globals->script_host = std::make_unique<geo::ScriptHost>();
  globals->drop_receiver = std::make_unique<DropReceiver>();
  return globals;
}

void OnMainWindowCreated(Globals& globals, MainWindow& window, platform::WindowRuntime& runtime) {
  globals.window = &runtime;
  globals.base_title = runtime.Caption();
  window.Browser()->setHtml(QStringLiteral(
      "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Tavimo</title>"
      "<script>function opendraw() {}</script></head>"
      "<body style=\"font-family: sans-serif; color: #555; margin: 2em\">"
      "<p>把照片文件夹拖到窗口里。</p></body></html>"));
  geo::LoadConversionScript(*globals.script_host);
  globals.reader->SetPointerTags({"8825", "8769"});
  Globals* state = &globals;
  globals.drop_receiver->Attach(&window, [state](const std::string& names) {
    catalogue::OnFolderDropped(IntakeOf(*state), names);
  });
}

catalogue::IntakeContext IntakeOf(Globals& globals) {
  return {globals.tables, *globals.reader, *globals.script_host, *globals.window, globals.base_title};
}

void ReleaseGlobals(Globals& globals) {
  if (globals.releases > 0) return;
  ++globals.releases;
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
