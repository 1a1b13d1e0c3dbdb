#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "catalogue/photo_record.h"
#include "exif/exif_reader.h"
#include "geo/script_host.h"

namespace tavimo::catalogue {

// One photo's converted position: GCJ-02 longitude then latitude, in degrees.
using CoordinateList = std::vector<double>;
using PointList = std::vector<CoordinateList>;

// The map points as published to other threads: a scan replaces the list as
// a whole or appends to it, so a reader sees a whole list as it stood after
// one change, never one being changed.
class MapPointStore {
 public:
  // The current list; an empty one before the first scan, never null.
  std::shared_ptr<const PointList> Snapshot() const;
  void Replace(PointList points);
  // Adds `points` at the end; costs what `points` holds, not the whole list.
  void Append(PointList points);

 private:
  using Chunks = std::vector<std::shared_ptr<const PointList>>;
  mutable std::mutex mutex_;
  // Appended pieces, joined into one by the first Snapshot that needs it.
  mutable std::shared_ptr<const Chunks> chunks_ = std::make_shared<const Chunks>();
};

// The photo tables of the folder being shown. Written on one thread only.
struct PhotoTables {
  std::string current_folder;                // ends with "/"; empty before any folder
  std::vector<std::string> photo_names;      // relative to current_folder, "/" separated
  std::vector<CoordinateList> photo_table;   // parallel to photo_names
  MapPointStore map_points;                  // photos whose |longitude| > 1e-7
};

// A photo or sub-folder that a scan could not read.
struct ReadFailure {
  std::string name;    // relative to the scanned folder, "/" separated; a folder's ends with "/"
  std::string reason;  // the system's words, e.g. "Permission denied"
};

// What a scan could not read. Photos and folders that vanish while it runs
// are not failures: they are simply no longer there.
struct ScanReport {
  std::string folder_error;           // why the folder itself could not be read; empty when it was
  bool folder_gone = false;           // the folder itself is no longer there
  std::vector<ReadFailure> failures;  // below the folder, sorted byte-wise by name
};

// The photo files of a folder and what could not be read on the way.
struct FolderListing {
  std::vector<std::string> names;  // relative to the folder, "/" separated, sorted byte-wise
  std::vector<FileStamp> stamps;   // parallel to names: size and time as the listing saw them
  ScanReport report;
};

// Files under `folder` and its sub-folders whose names end in ".jpg" in any
// letter case and that are regular files (symbolic links to them included),
// relative to `folder`. FIFOs, sockets and devices are left out, and links to
// folders are not followed. Each folder is opened relative to the one above
// it, so paths longer than PATH_MAX are listed as well. Sub-folders that
// cannot be read and ".jpg" names whose file cannot be looked at (a broken
// link, say) are in the report; a `folder` that cannot be opened gives no
// names and the report's folder_error.
// Stops early, with what it found so far, once `*cancelled` is set.
FolderListing ListPhotoFiles(const std::string& folder, const std::atomic<bool>* cancelled = nullptr);
// What a scan derives from the open photo `photo`: both positions, status,
// orientation and whether it has a thumbnail. Never fails: an unreadable
// photo gives status kUnreadable and `photo`'s status tells why.
PhotoFacts ReadPhotoFacts(const exif::ExifReader& reader, geo::ScriptHost& host, const exif::ReadOnlyFile& photo);
// The GCJ-02 position of the open photo `photo`; {0, 0} when it has none or
// it cannot be read: `photo`'s status then tells which.
CoordinateList ReadPhotoPosition(const exif::ExifReader& reader, geo::ScriptHost& host,
                                 const exif::ReadOnlyFile& photo);
// Reads the positions of `listing`'s photos below tables.current_folder and
// replaces names, table and map points with them. A photo that is gone, or no
// longer a regular file, is left out; one that cannot be read stays, without
// a position, and joins the report's failures. Returns the listing's report
// with those failures.
ScanReport ScanListedPhotos(PhotoTables& tables, FolderListing listing, const exif::ExifReader& reader,
                            geo::ScriptHost& host);
// Lists and scans tables.current_folder as the two above do; a folder that
// cannot be listed leaves names, table and map points empty. Returns what
// could not be read.
ScanReport ScanFolder(PhotoTables& tables, const exif::ExifReader& reader, geo::ScriptHost& host);
// True when the photo goes on the map: its longitude is farther than 1e-7
// from zero (not a number is not); false for an empty list.
bool OnMap(const CoordinateList& coordinates);
// A coordinate's text: "0.0" for zero, else the ECMAScript number text.
std::string CoordinateText(double value);
// The text of item `index` (0-based) of a coordinate list; empty when missing.
std::string CoordinateTextAt(const CoordinateList& coordinates, std::size_t index);

}  // namespace tavimo::catalogue
