#pragma once

#include <ostream>
#include <string>

#include "catalogue/folder_scan.h"

namespace tavimo::app {

// The photo table as RFC 4180 CSV: "path,longitude,latitude", then one row
// per photo in scan order (CRLF line ends), each path as its bytes, UTF-8 or
// not; never fails.
std::string ExportCsv(const catalogue::PhotoTables& tables);
// The map points as a GeoJSON FeatureCollection of GCJ-02 Points with a
// "path" property; never fails. A path that is not UTF-8 is written with an
// escape "\udcXX" for each byte that is not part of UTF-8, as
// AppendJsonString (app/json_text.h) describes: the exact bytes come back.
std::string ExportGeoJson(const catalogue::PhotoTables& tables);
// Warns on `err`, naming each, of the photos and sub-folders the scan of
// `folder` (ending with "/") could not read, then says why `folder` itself
// could not be read if it could not. Returns false in that last case, when
// the export has nothing to say about the folder.
bool ReportScanProblems(const catalogue::ScanReport& report, const std::string& folder, std::ostream& err);

}  // namespace tavimo::app
