#pragma once

#include <string>

#include "exif/exif_reader.h"

namespace tavimo::app {

// Appends to `out` one line of compact JSON (no line end) describing what the
// reader finds in `path`; never fails (an unreadable file shows as a block
// without records, "off" 5). Reusing `out` across files saves allocations.
void AppendInspectLine(const exif::ExifReader& reader, const std::string& path, std::string& out);
// The same line as a new string.
std::string InspectLine(const exif::ExifReader& reader, const std::string& path);

}  // namespace tavimo::app
