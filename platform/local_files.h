#pragma once

#include <QFile>
#include <QUrl>
#include <memory>
#include <string>

#include "exif/file_access.h"

namespace tavimo::platform {

// A Qt device over the regular file that `file` holds open. It reads from
// the descriptor only as far as its reader asks, and leaves the descriptor
// open: `file` must outlive it. Null when `file` is not open.
std::unique_ptr<QFile> FileDevice(const exif::ReadOnlyFile& file);

// A local file URL that names `path` by its bytes, whatever their encoding:
// bytes that are not UTF-8 stay percent-encoded as they are.
QUrl FileUrl(const std::string& path);
// The bytes of the local path a file URL names, percent-encoded bytes taken
// as they are (the inverse of FileUrl); a host is written "//host" in front,
// as QUrl::toLocalFile() writes it. Empty for a URL that is no local file.
std::string LocalPath(const QUrl& url);

}  // namespace tavimo::platform
