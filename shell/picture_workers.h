#pragma once

#include <QImage>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "exif/exif_reader.h"
#include "platform/window_runtime.h"

namespace tavimo::shell {

// Whether the picture being made is no longer wanted: asked between the
// stages of making it (reading, decoding, scaling). Safe to call from the
// thread making the picture.
using Cancelled = std::function<bool()>;

// True when `cancelled` is given and says so.
inline bool IsCancelled(const Cancelled& cancelled) { return cancelled && cancelled(); }

// A decoded preview and where it goes on the canvas; a null image when the
// photo cannot be shown.
struct PreviewPicture {
  QImage image;
  platform::Rect where;
};

// How the workers make their pictures. Each runs on worker threads, several
// at once, and gives a null image when cancelled or when nothing can be made.
struct PictureMakers {
  // The thumbnail of the photo at `path`.
  std::function<QImage(const exif::ExifReader& reader, const std::string& path, const Cancelled& cancelled)> thumbnail;
  // The photo at `path` decoded as it is drawn on a canvas of `canvas`'s size.
  std::function<PreviewPicture(const std::string& path, const platform::Rect& canvas, const Cancelled& cancelled)>
      preview;
};

// Runs `task` on the GUI thread from its event loop; callable from any thread.
using PostToGui = std::function<void(std::function<void()> task)>;
// Shows thumbnail `index` of a listing; runs on the GUI thread.
using ThumbnailShown = std::function<void(int index, const QImage& image)>;
// Shows a preview; runs on the GUI thread.
using PreviewShown = std::function<void(const PreviewPicture& picture)>;

// Posts to the thread of the running QCoreApplication, through its event queue.
PostToGui PostToGuiThread();

// Makes the thumbnails of a listing and the preview of the clicked photo on
// threads of their own, so that the GUI thread never reads or decodes a
// photo. Thumbnails are made by a few workers, the entries asked for first
// ahead of the rest, which follow in listing order; the preview has a worker
// of its own, so that a click never waits behind thumbnails. What is made is
// handed to the GUI thread as a QImage in Format_ARGB32 (implicitly shared:
// no copy, no re-encoding) through `post`, and shown there only if it still
// belongs to the newest listing or click: a new listing drops the thumbnails
// of the one before, still to be made or on their way, and a new click the
// preview before. Everything but the constructor is called on the GUI thread.
class PictureWorkers {
 public:
  static constexpr unsigned kMaxThumbnailThreads = 4;

  // Starts `thumbnail_threads` thumbnail workers (0: one per core, at most
  // kMaxThumbnailThreads) and the preview worker.
  PictureWorkers(PostToGui post, PictureMakers makers, unsigned thumbnail_threads = 0);
  // Shutdown().
  ~PictureWorkers();
  PictureWorkers(const PictureWorkers&) = delete;
  PictureWorkers& operator=(const PictureWorkers&) = delete;

  // Drops the thumbnails of the listing before and makes thumbnail k of the
  // photo at paths[k], with `reader`: those of `first` ahead of the rest.
  // `shown(k, image)` runs on the GUI thread for each thumbnail made, none
  // for a photo that gives a null image.
  void MakeThumbnails(exif::ExifReader reader, std::vector<std::string> paths, platform::EntryRange first,
                      ThumbnailShown shown);
  // Makes the thumbnails of `range` of the current listing next, ahead of the
  // rest (and of the range asked for before); those made or being made stay.
  void Prioritise(platform::EntryRange range);
  // Drops the preview asked for before and decodes the photo at `path` for a
  // canvas of `canvas`'s size; `shown` runs on the GUI thread with the
  // picture, null when the photo cannot be shown.
  void MakePreview(std::string path, platform::Rect canvas, PreviewShown shown);
  // Drops the preview asked for, still being made or on its way.
  void CancelPreview();
  // True when nothing is queued, being made, or on its way to the GUI thread.
  bool Idle() const;
  // Drops everything asked for and waits for the workers to end: each stops
  // at its next stage. Later requests do nothing. Idempotent.
  void Shutdown();

 private:
  struct State;

  static void MakeThumbnailsUntilShutdown(const std::shared_ptr<State>& state);
  static void MakePreviewsUntilShutdown(const std::shared_ptr<State>& state);

  std::shared_ptr<State> state_;
  std::vector<std::thread> threads_;
};

}  // namespace tavimo::shell
