#include <QCoreApplication>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "app/export.h"
#include "app/inspect.h"
#include "catalogue/folder_intake.h"
#include "catalogue/folder_scan.h"
#include "catalogue/scan_cache.h"
#include "catalogue/scan_job.h"
#include "exif/exif_reader.h"
#include "geo/conversion.h"
#include "shell/desktop.h"

namespace {

constexpr const char* kUsage =
    "Usage: tavimo [--no-cache] [FOLDER]\n"
    "       tavimo --inspect FILE...\n"
    "       tavimo [--no-cache] --export csv|geojson FOLDER\n"
    "       tavimo --convert < positions\n"
    "Shows on a map where the photos of a folder were taken.\n"
    "\n"
    "  FOLDER                    open the window and show FOLDER's photos on the map\n"
    "  --inspect FILE...         print what the EXIF reader finds in each file, one JSON line each\n"
    "  --export csv FOLDER       scan FOLDER and print every photo with its GCJ-02 position\n"
    "  --export geojson FOLDER   scan FOLDER and print the located photos as GeoJSON points\n"
    "  --convert                 read \"lng,lat\" WGS-84 lines, print each converted to GCJ-02\n"
    "  --no-cache                read every photo, and keep nothing in the scan cache\n"
    "  --help                    show this help\n"
    "  --version                 show the version\n";

tavimo::exif::ExifReader CameraReader() {
  tavimo::exif::ExifReader reader;
  reader.SetPointerTags({"8825", "8769"});
  return reader;
}

bool Write(const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

int Inspect(const std::vector<std::string>& files) {
  if (files.empty()) {
    std::cerr << "tavimo: --inspect needs at least one file\n" << kUsage;
    return 2;
  }
  const tavimo::exif::ExifReader reader = CameraReader();
  std::string line;
  for (const std::string& file : files) {
    line.clear();
    tavimo::app::AppendInspectLine(reader, file, line);
    line += '\n';
    if (!Write(line)) return 1;
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

int Export(int argc, char** argv, const std::vector<std::string>& args, bool use_scan_cache) {
  if (args.size() != 3 || (args[1] != "csv" && args[1] != "geojson")) {
    std::cerr << "tavimo: --export takes a format (csv or geojson) and one folder\n" << kUsage;
    return 2;
  }
  std::error_code error;
  if (!tavimo::catalogue::IsFolder(args[2])) {
    std::cerr << "tavimo: " << args[2] << ": "
              << (std::filesystem::exists(args[2], error) ? "not a folder" : "no such folder") << '\n';
    return 2;
  }
  QCoreApplication app(argc, argv);
  tavimo::catalogue::PhotoTables tables;
  tables.current_folder = args[2];
  if (tables.current_folder.back() != '/') tables.current_folder += '/';
  // On every core, each worker with an engine of its own.
  auto cache = use_scan_cache
                   ? std::make_shared<tavimo::catalogue::SharedScanCache>(tavimo::catalogue::ScanCache::DefaultPath())
                   : nullptr;
  const tavimo::catalogue::ScanReport report =
      tavimo::catalogue::ScanFolderInParallel(tables, CameraReader().PointerTags(), 0, cache);
  // A cache that could not be used slows the scan, nothing else: said, not fatal.
  if (cache) {
    if (const std::string notice = cache->TakeNotice(); !notice.empty()) std::cerr << "tavimo: " << notice << '\n';
  }
  if (!tavimo::app::ReportScanProblems(report, tables.current_folder, std::cerr)) return 1;
  const std::string out =
      args[1] == "csv" ? tavimo::app::ExportCsv(tables) : tavimo::app::ExportGeoJson(tables);
  return Write(out) && std::fflush(stdout) == 0 ? 0 : 1;
}

int Convert(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  tavimo::geo::ScriptHost host;
  tavimo::geo::LoadConversionScript(host);
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!Write(tavimo::geo::ConvertToGcj02(host, line) + '\n')) return 1;
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  const bool use_scan_cache = args.empty() || args[0] != "--no-cache";
  if (!use_scan_cache) args.erase(args.begin());
  if (args.empty()) return tavimo::shell::RunDesktop(argc, argv, "", use_scan_cache);
  if (args[0] == "--help" || args[0] == "-h") {
    std::cout << kUsage;
    return 0;
  }
  if (args[0] == "--version") {
    std::cout << "tavimo " << TAVIMO_VERSION << '\n';
    return 0;
  }
  if (args[0] == "--inspect") return Inspect({args.begin() + 1, args.end()});
  if (args[0] == "--export") return Export(argc, argv, args, use_scan_cache);
  if (args[0] == "--convert" && args.size() == 1) return Convert(argc, argv);
  if (args.size() == 1 && args[0].rfind("-", 0) != 0) {
    return tavimo::shell::RunDesktop(argc, argv, args[0], use_scan_cache);
  }
  std::cerr << "tavimo: unknown option " << args[0] << '\n' << kUsage;
  return 2;
}
