#pragma once

#include <QImage>
#include <string>
#include <string_view>

#include "shell/globals.h"
#include "shell/picture_workers.h"

class QIODevice;

namespace tavimo::shell {

inline constexpr int kThumbnailSize = 80;

// True when `text` begins with `prefix`, byte for byte; the empty prefix
// matches every text.
bool MatchesPrefix(std::string_view text, std::string_view prefix);
// Lists every photo whose longitude and latitude texts begin with the
// prefixes, entry k showing image k of a new image group, and clears the
// preview; an empty list when none match. The entries show the placeholder
// at once; their thumbnails are made by globals.pictures, those in view
// first, and each replaces its placeholder when it is ready. Drops the
// thumbnails of the listing before that are not shown yet.
void ListPhotosAt(Globals& globals, const std::string& lng_prefix, const std::string& lat_prefix);
// Makes the thumbnails of the entries in the list's view next: for when the
// list scrolls.
void MakeVisibleThumbnailsFirst(Globals& globals);
// The 80 x 80 thumbnail of the photo at `path`: its embedded EXIF thumbnail,
// turned as the photo is, when it has one, else the photo decoded from the
// file at reduced size. The one place a thumbnail is made from a file; runs
// on worker threads. Reads only what the decoder asks for, and never more
// than platform::kMaxPhotoBytes; a file that holds no picture is given up
// after its header, whatever its size. A null image when no thumbnail can be
// made (and for FIFOs and devices, which are not read), or when `cancelled`
// says so between reading, decoding and scaling.
QImage PhotoThumbnail(const exif::ExifReader& reader, const std::string& path, const Cancelled& cancelled = {});
// The image in `bytes` scaled to exactly width x height (a size below 1 is
// the image's own); a null image when it cannot be decoded or `cancelled`
// says so. `orientation` is an EXIF orientation (1-8) to apply, or 0 for the
// image's own.
QImage MakeThumbnail(std::string_view bytes, int width, int height, int orientation = 0,
                     const Cancelled& cancelled = {});
// The same for the image `device` reads from its current position.
QImage MakeThumbnail(QIODevice* device, int width, int height, int orientation = 0, const Cancelled& cancelled = {});
// The plain 80 x 80 PNG shown for a photo until its thumbnail is ready, and
// for good when none can be made.
const std::string& PlaceholderThumbnail();

}  // namespace tavimo::shell
