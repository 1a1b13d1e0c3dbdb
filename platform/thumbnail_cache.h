#pragma once

#include <cstdint>
#include <string>

#include <QImage>

namespace tavimo::platform {

// The "normal" size of the freedesktop.org thumbnail cache, shared with file
// managers: $XDG_CACHE_HOME/thumbnails/normal/<MD5 of the file's URI>.png,
// a PNG of at most 128 x 128 pixels whose text chunks name the file
// (Thumb::URI), its modification time (Thumb::MTime, whole seconds) and
// size (Thumb::Size).
//
// Holds no state but its folder: any number of threads may use one object at
// once (nothing here needs the GUI thread). A thumbnail is written to a
// temporary file beside its final name and renamed over it, so a reader in
// this or another program sees the old file or the whole new one.
class ThumbnailCache {
 public:
  // Widest and tallest a "normal" thumbnail is.
  static constexpr int kNormalSize = 128;

  // `cache_home` is the folder holding "thumbnails" (no trailing "/"). One
  // that is not an absolute path (DefaultCacheHome() without a home) makes a
  // cache that finds and stores nothing.
  explicit ThumbnailCache(std::string cache_home = DefaultCacheHome());

  // The user's cache folder: $XDG_CACHE_HOME when it is an absolute path,
  // else $HOME/.cache; empty when neither is known (see UserCacheHome).
  static std::string DefaultCacheHome();
  // The URI file managers give the file at `absolute_path` (raw bytes, not
  // necessarily UTF-8): "file://" then the path with every byte other than
  // ASCII letters, digits and !$&'()*+,-./:=@_~ written as %XX (upper-case
  // hex), as GLib's g_filename_to_uri writes it. Pass the path as the file
  // system names it (no "." or ".." parts, no doubled "/"), or other
  // programs' entries are not found.
  static std::string FileUri(const std::string& absolute_path);

  // Where the thumbnail of `absolute_path` is kept: the normal folder, then
  // the lower-case hex MD5 of FileUri(absolute_path) and ".png".
  std::string ThumbnailPath(const std::string& absolute_path) const;

  // The cached thumbnail of `absolute_path` when it is fresh: a PNG of at
  // most 128 x 128 whose Thumb::URI is the file's URI, whose Thumb::MTime is
  // `mtime_seconds` and whose Thumb::Size, when it has one, is `size` (bytes).
  // A null image otherwise: missing, stale, unreadable or another file's.
  QImage FindFresh(const std::string& absolute_path, std::int64_t mtime_seconds, std::int64_t size) const;

  // Writes `image` (already turned upright), shrunk to fit 128 x 128 with its
  // proportions kept (never enlarged), as the thumbnail of `absolute_path`
  // with the file's URI, modification time and size; file mode 0600, folders
  // made with mode 0700. False when `image` is null or the file cannot be
  // written; then no file is left behind and an older thumbnail stays.
  bool Store(const std::string& absolute_path, std::int64_t mtime_seconds, std::int64_t size,
             const QImage& image) const;

 private:
  bool usable_;                    // the cache home is an absolute path
  std::string thumbnails_folder_;  // cache_home/thumbnails
  std::string normal_folder_;      // cache_home/thumbnails/normal
};

}  // namespace tavimo::platform
