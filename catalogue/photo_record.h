#pragma once

#include <cstdint>
#include <limits>
#include <string>

namespace tavimo::catalogue {

// A position in degrees, longitude first.
struct LngLat {
  double lng = 0;
  double lat = 0;
};

// What became of reading one photo's position.
enum class PhotoStatus : std::uint8_t {
  kLocated = 0,        // a GPS position, converted
  kNoGps = 1,          // an EXIF block without a GPS position
  kGpsUnreadable = 2,  // a GPS block whose position cannot be read
  kNoExif = 3,         // no EXIF block
  kUnreadable = 4,     // the file could not be opened or read
};

// Seconds since the epoch; this value when the date is not known.
inline constexpr std::int64_t kUnknownTime = std::numeric_limits<std::int64_t>::min();

// What a scan derives from one photo's bytes: all a cache needs to keep so
// that an unchanged photo is never read again.
struct PhotoFacts {
  LngLat wgs84;   // as the EXIF block gives it, hemisphere signs applied; 0,0 without one
  LngLat gcj02;   // the conversion's result, exactly as the scan keeps it (NaN stays NaN)
  PhotoStatus status = PhotoStatus::kUnreadable;
  std::uint8_t orientation = 1;  // EXIF orientation 1..8; 1 when the photo has none
  bool has_thumbnail = false;    // an embedded EXIF thumbnail
  std::int64_t taken = kUnknownTime;  // date taken, when a later scan reads it
};

// A file's size and modification time: what says a cached scan still holds.
struct FileStamp {
  std::int64_t size = 0;
  std::int64_t mtime_ns = 0;  // nanoseconds since the epoch
  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

}  // namespace tavimo::catalogue
