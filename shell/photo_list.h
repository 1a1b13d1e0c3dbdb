#pragma once

#include <string>
#include <string_view>

#include "shell/globals.h"

class QIODevice;

namespace tavimo::shell {

inline constexpr int kThumbnailSize = 80;

// True when `text` begins with `prefix`, byte for byte; the empty prefix
// matches every text.
bool MatchesPrefix(std::string_view text, std::string_view prefix);
// Lists, with thumbnails, every photo whose longitude and latitude texts
// begin with the prefixes; clears the preview. An empty list when none match.
void ListPhotosAt(Globals& globals, const std::string& lng_prefix, const std::string& lat_prefix);
// The 80 x 80 PNG thumbnail of the photo at `path`: its embedded EXIF
// thumbnail, turned as the photo is, when it has one, else the photo decoded
// from the file at reduced size. Reads only what the decoder asks for, and
// never more than platform::kMaxPhotoBytes; a file that holds no picture is
// given up after its header, whatever its size. Empty when no thumbnail can
// be made (and for FIFOs and devices, which are not read).
std::string PhotoThumbnail(const exif::ExifReader& reader, const std::string& path);
// The image in `bytes` scaled to exactly width x height (a size below 1 is
// the image's own), as PNG; empty when it cannot be decoded. `orientation`
// is an EXIF orientation (1-8) to apply, or 0 for the image's own.
std::string MakeThumbnail(std::string_view bytes, int width, int height, int orientation = 0);
// The same for the image `device` reads from its current position.
std::string MakeThumbnail(QIODevice* device, int width, int height, int orientation = 0);
// The plain 80 x 80 PNG shown for a photo whose thumbnail cannot be made.
const std::string& PlaceholderThumbnail();

}  // namespace tavimo::shell
