#include "app/export.h"

#include <nlohmann/json.hpp>

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
  nlohmann::ordered_json features = nlohmann::ordered_json::array();
  // The same photos, in the same order, as the map points.
  for (std::size_t i = 0; i < tables.photo_names.size() && i < tables.photo_table.size(); ++i) {
    const catalogue::CoordinateList& coordinates = tables.photo_table[i];
    if (coordinates.size() < 2 || !catalogue::OnMap(coordinates)) continue;
    features.push_back({{"type", "Feature"},
                        {"geometry", {{"type", "Point"}, {"coordinates", {coordinates[0], coordinates[1]}}}},
                        {"properties", {{"path", tables.photo_names[i]}}}});
  }
  const nlohmann::ordered_json collection = {{"type", "FeatureCollection"}, {"features", std::move(features)}};
  return collection.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace tavimo::app
