#include "shell/picture_workers.h"

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

namespace tavimo::shell {
namespace {

// The thumbnails asked for by one listing.
struct Listing {
  std::uint64_t generation = 0;
  exif::ExifReader reader;
  std::vector<std::string> paths;  // thumbnail k's photo
  ThumbnailShown shown;
};

// The preview asked for by one click.
struct PreviewRequest {
  std::uint64_t generation = 0;
  std::string path;
  platform::Rect canvas;
  PreviewShown shown;
};

unsigned ThumbnailThreads(unsigned asked) {
  if (asked > 0) return asked;
  return std::clamp(std::thread::hardware_concurrency(), 1U, PictureWorkers::kMaxThumbnailThreads);
}

}  // namespace

// What the workers and the GUI thread share; lives until the last task posted
// to the GUI thread has run or been dropped. The generations are written
// under `mutex` and read anywhere.
struct PictureWorkers::State {
  PostToGui post;
  PictureMakers makers;

  mutable std::mutex mutex;
  std::condition_variable thumbnail_wake;
  std::condition_variable preview_wake;
  std::atomic<bool> quit = false;
  int busy = 0;                      // workers making a picture
  std::atomic<int> undelivered = 0;  // pictures posted whose task has not run

  std::atomic<std::uint64_t> listing_generation = 0;
  std::shared_ptr<const Listing> listing;  // the newest; null before the first and after Shutdown
  std::vector<bool> taken;                 // by thumbnail
  std::size_t next = 0;                    // no thumbnail before it is left in listing order
  std::deque<std::size_t> first;           // the thumbnails asked for first

  std::atomic<std::uint64_t> preview_generation = 0;
  std::optional<PreviewRequest> preview;  // asked for, not yet taken

  // Under `mutex`: the next thumbnail to make, marked taken; nothing when
  // none is left.
  std::optional<std::size_t> TakeThumbnail() {
    while (!first.empty()) {
      const std::size_t at = first.front();
      first.pop_front();
      if (!taken[at]) return Take(at);
    }
    while (next < taken.size()) {
      const std::size_t at = next++;
      if (!taken[at]) return Take(at);
    }
    return std::nullopt;
  }
  std::size_t Take(std::size_t at) {
    taken[at] = true;
    return at;
  }
  // Under `mutex`: thumbnails `range` go first.
  void Prioritise(platform::EntryRange range) {
    first.clear();
    const int last = std::min(range.last, static_cast<int>(taken.size()) - 1);
    for (int at = std::max(range.first, 0); at <= last; ++at) {
      if (!taken[static_cast<std::size_t>(at)]) first.push_back(static_cast<std::size_t>(at));
    }
  }
  bool ThumbnailsLeft() const { return !first.empty() || next < taken.size(); }

  // Hands `show` to the GUI thread, where it runs unless the workers have
  // been shut down or `generation` no longer is `current`'s.
  static void Deliver(const std::shared_ptr<State>& state, const std::atomic<std::uint64_t>& current,
                      std::uint64_t generation, std::function<void()> show) {
    ++state->undelivered;
    state->post([state, &current, generation, show = std::move(show)] {
      --state->undelivered;
      if (!state->quit && current == generation) show();
    });
  }
};

PostToGui PostToGuiThread() {
  return [](std::function<void()> task) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(task), Qt::QueuedConnection);
  };
}

PictureWorkers::PictureWorkers(PostToGui post, PictureMakers makers, unsigned thumbnail_threads)
    : state_(std::make_shared<State>()) {
  state_->post = std::move(post);
  state_->makers = std::move(makers);
  const unsigned threads = ThumbnailThreads(thumbnail_threads);
  for (unsigned i = 0; i < threads; ++i) threads_.emplace_back(MakeThumbnailsUntilShutdown, state_);
  threads_.emplace_back(MakePreviewsUntilShutdown, state_);
}

PictureWorkers::~PictureWorkers() { Shutdown(); }

void PictureWorkers::MakeThumbnails(exif::ExifReader reader, std::vector<std::string> paths,
                                    platform::EntryRange first, ThumbnailShown shown) {
  {
    const std::lock_guard lock(state_->mutex);
    if (state_->quit) return;
    const std::uint64_t generation = ++state_->listing_generation;
    state_->taken.assign(paths.size(), false);
    state_->next = 0;
    state_->listing = std::make_shared<const Listing>(
        Listing{generation, std::move(reader), std::move(paths), std::move(shown)});
    state_->Prioritise(first);
  }
  state_->thumbnail_wake.notify_all();
}

void PictureWorkers::Prioritise(platform::EntryRange range) {
  const std::lock_guard lock(state_->mutex);
  if (!state_->quit) state_->Prioritise(range);
}

void PictureWorkers::MakePreview(std::string path, platform::Rect canvas, PreviewShown shown) {
  {
    const std::lock_guard lock(state_->mutex);
    if (state_->quit) return;
    state_->preview = PreviewRequest{++state_->preview_generation, std::move(path), canvas, std::move(shown)};
  }
  state_->preview_wake.notify_one();
}

void PictureWorkers::CancelPreview() {
  const std::lock_guard lock(state_->mutex);
  ++state_->preview_generation;
  state_->preview.reset();
}

bool PictureWorkers::Idle() const {
  const std::lock_guard lock(state_->mutex);
  return state_->busy == 0 && state_->undelivered == 0 && !state_->ThumbnailsLeft() && !state_->preview;
}

void PictureWorkers::Shutdown() {
  {
    const std::lock_guard lock(state_->mutex);
    state_->quit = true;
    ++state_->listing_generation;
    ++state_->preview_generation;
    state_->listing.reset();
    state_->taken.clear();
    state_->first.clear();
    state_->preview.reset();
  }
  state_->thumbnail_wake.notify_all();
  state_->preview_wake.notify_all();
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
}

void PictureWorkers::MakeThumbnailsUntilShutdown(const std::shared_ptr<State>& state) {
  std::unique_lock lock(state->mutex);
  for (;;) {
    std::optional<std::size_t> at;
    state->thumbnail_wake.wait(lock, [&] { return state->quit || (at = state->TakeThumbnail()).has_value(); });
    if (state->quit) return;
    const std::shared_ptr<const Listing> listing = state->listing;
    ++state->busy;
    lock.unlock();
    const std::uint64_t generation = listing->generation;
    const Cancelled cancelled = [&state, generation] {
      return state->quit || state->listing_generation != generation;
    };
    QImage image = state->makers.thumbnail(listing->reader, listing->paths[*at], cancelled);
    if (!image.isNull() && !cancelled()) {
      State::Deliver(state, state->listing_generation, generation,
                     [listing, index = static_cast<int>(*at), image = image.convertToFormat(QImage::Format_ARGB32)] {
                       listing->shown(index, image);
                     });
    }
    lock.lock();
    --state->busy;
  }
}

void PictureWorkers::MakePreviewsUntilShutdown(const std::shared_ptr<State>& state) {
  std::unique_lock lock(state->mutex);
  for (;;) {
    state->preview_wake.wait(lock, [&] { return state->quit || state->preview.has_value(); });
    if (state->quit) return;
    PreviewRequest request = std::move(*state->preview);
    state->preview.reset();
    ++state->busy;
    lock.unlock();
    const std::uint64_t generation = request.generation;
    const Cancelled cancelled = [&state, generation] {
      return state->quit || state->preview_generation != generation;
    };
    PreviewPicture picture = state->makers.preview(request.path, request.canvas, cancelled);
    if (!cancelled()) {
      picture.image = picture.image.convertToFormat(QImage::Format_ARGB32);
      State::Deliver(state, state->preview_generation, generation,
                     [shown = std::move(request.shown), picture = std::move(picture)] { shown(picture); });
    }
    lock.lock();
    --state->busy;
  }
}

}  // namespace tavimo::shell
