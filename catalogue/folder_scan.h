#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "exif/exif_reader.h"
#include "geo/script_host.h"

namespace tavimo::catalogue {

// One photo's converted position: GCJ-02 longitude then latitude, in degrees.
using CoordinateList = std::vector<double>;
using PointList = std::vector<CoordinateList>;

// The map points as published to other threads: a scan replaces the list as
// a whole, so a reader sees either the whole old list or the whole new one.
class MapPointStore {
 public:
  // The current list; an empty one before the first scan, never null.
  std::shared_ptr<const PointList> Snapshot() const;
  void Replace(PointList points);

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const PointList> points_ = std::make_shared<const PointList>();
};

// The photo tables of the folder being shown. Written on one thread only.
struct PhotoTables {
  std::string current_folder;                // ends with "/"; empty before any folder
  std::vector<std::string> photo_names;      // relative to current_folder, "/" separated
  std::vector<CoordinateList> photo_table;   // parallel to photo_names
  MapPointStore map_points;                  // photos whose |longitude| > 1e-7
};

// Files under `folder` and its sub-folders whose names end in ".jpg" in any
// letter case, relative to it, sorted byte-wise; empty when it cannot be read.
std::vector<std::string> ListPhotoFiles(const std::string& folder);
// The photo's GCJ-02 position; {0, 0} when it has none or it cannot be read.
CoordinateList ReadPhotoPosition(const exif::ExifReader& reader, geo::ScriptHost& host,
                                 const std::string& path);
// Replaces names, table and map points with those of tables.current_folder;
// a folder that cannot be listed leaves all three empty.
void ScanFolder(PhotoTables& tables, const exif::ExifReader& reader, geo::ScriptHost& host);
// True when the photo goes on the map: its longitude is farther than 1e-7
// from zero (not a number is not); false for an empty list.
bool OnMap(const CoordinateList& coordinates);
// A coordinate's text: "0.0" for zero, else the ECMAScript number text.
std::string CoordinateText(double value);
// The text of item `index` (0-based) of a coordinate list; empty when missing.
std::string CoordinateTextAt(const CoordinateList& coordinates, std::size_t index);

}  // namespace tavimo::catalogue
