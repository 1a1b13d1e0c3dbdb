#pragma once

#include <QIODevice>
#include <QImage>
#include <QSize>
#include <QUrl>
#include <cstdint>
#include <memory>
#include <string>

#include "exif/file_access.h"

namespace tavimo::platform {

// How much of a photo file a decoder may read. Its header must lie within
// the first kPhotoHeaderBytes, as its EXIF block must, and no more than
// kMaxPhotoBytes are decoded: a file of gigabytes that begins like a photo
// is given up after a bounded read, and a photo larger than that shows what
// its first kMaxPhotoBytes hold.
inline constexpr std::int64_t kPhotoHeaderBytes = std::int64_t{16} << 20;
inline constexpr std::int64_t kMaxPhotoBytes = std::int64_t{256} << 20;

// A Qt device over the first `limit` bytes of the regular file `file` holds
// open. It reads from the descriptor only as far as its reader asks; `file`
// must outlive it. Null when `file` is not open.
std::unique_ptr<QIODevice> FileDevice(const exif::ReadOnlyFile& file, std::int64_t limit);

// The size of the picture in `file` as shown (EXIF orientation applied),
// read from its header within the first kPhotoHeaderBytes; an invalid size
// when no decoder knows a picture there or `file` is not open.
QSize PictureSize(const exif::ReadOnlyFile& file);

// The picture in `file` decoded at `size` as shown (EXIF orientation
// applied; an invalid size is the picture's own), from the first
// kMaxPhotoBytes of the file; a null image when it cannot be decoded or
// `file` is not open. The decoder reads only as far as it needs.
QImage DecodePicture(const exif::ReadOnlyFile& file, QSize size);

// A local file URL that names `path` by its bytes, whatever their encoding:
// bytes that are not UTF-8 stay percent-encoded as they are.
QUrl FileUrl(const std::string& path);
// The bytes of the local path a file URL names, percent-encoded bytes taken
// as they are (the inverse of FileUrl); a host is written "//host" in front,
// as QUrl::toLocalFile() writes it. Empty for a URL that is no local file.
std::string LocalPath(const QUrl& url);

}  // namespace tavimo::platform
