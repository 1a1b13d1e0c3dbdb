#pragma once

#include <string>

#include "catalogue/folder_scan.h"

namespace tavimo::app {

// The photo table as RFC 4180 CSV: "path,longitude,latitude", then one row
// per photo in scan order (CRLF line ends); never fails.
std::string ExportCsv(const catalogue::PhotoTables& tables);
// The map points as a GeoJSON FeatureCollection of GCJ-02 Points with a
// "path" property; never fails.
std::string ExportGeoJson(const catalogue::PhotoTables& tables);

}  // namespace tavimo::app
