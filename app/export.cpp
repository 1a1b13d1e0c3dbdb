#include "app/export.h"

#include <nlohmann/json.hpp>

#include "app/json_text.h"

namespace tavimo::app {
namespace {

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

}  // namespace

std::string ExportCsv(const catalogue::PhotoTables& tables) {
  std::string out = "path,longitude,latitude\r\n";
  for (std::size_t i = 0; i < tables.photo_names.size(); ++i) {
    const catalogue::CoordinateList empty;
    const catalogue::CoordinateList& coordinates = i < tables.photo_table.size() ? tables.photo_table[i] : empty;
    out += CsvField(tables.photo_names[i]) + ',' + CsvField(catalogue::CoordinateTextAt(coordinates, 0)) + ',' +
           CsvField(catalogue::CoordinateTextAt(coordinates, 1)) + "\r\n";
  }
  return out;
}

std::string ExportGeoJson(const catalogue::PhotoTables& tables) {
  std::string out = R"({"type":"FeatureCollection","features":[)";
  bool first = true;
  // The same photos, in the same order, as the map points.
  for (std::size_t i = 0; i < tables.photo_names.size() && i < tables.photo_table.size(); ++i) {
    const catalogue::CoordinateList& coordinates = tables.photo_table[i];
    if (coordinates.size() < 2 || !catalogue::OnMap(coordinates)) continue;
    if (!first) out += ',';
    first = false;
    out += R"({"type":"Feature","geometry":)";
    out += nlohmann::ordered_json{{"type", "Point"}, {"coordinates", {coordinates[0], coordinates[1]}}}.dump();
    // Names are bytes: those that are not UTF-8 keep them as escapes.
    out += R"(,"properties":{"path":)";
    AppendJsonString(out, tables.photo_names[i]);
    out += "}}";
  }
  return out + "]}\n";
}

bool ReportScanProblems(const catalogue::ScanReport& report, const std::string& folder, std::ostream& err) {
  for (const catalogue::ReadFailure& failure : report.failures) {
    err << "tavimo: warning: cannot read " << folder << failure.name << ": " << failure.reason << '\n';
  }
  if (report.folder_error.empty()) return true;
  err << "tavimo: cannot read " << folder << ": " << report.folder_error << '\n';
  return false;
}

}  // namespace tavimo::app
