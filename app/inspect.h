#pragma once

#include <string>

#include "exif/exif_reader.h"

namespace tavimo::app {

// One line of compact JSON describing what the reader finds in `path`; never
// fails (an unreadable file shows as a block without records, "off" 5).
std::string InspectLine(const exif::ExifReader& reader, const std::string& path);

}  // namespace tavimo::app
