#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/folder_scan.h"

namespace tavimo::catalogue {

// What became of one listed photo, known by its place in the sorted listing.
struct PhotoResult {
  std::uint32_t id = 0;
  CoordinateList coordinates;  // GCJ-02; {0, 0} without a readable position
  bool gone = false;           // removed, or no longer a regular file, since it was listed
  std::string failure;         // why it could not be read, in the system's words; empty when it could
};

// Reads listed photo `id`, named `name` below `folder`, and puts all it
// derived into `facts` when given (untouched for a photo gone). Never fails:
// what went wrong is in the result.
PhotoResult ReadListedPhoto(const exif::ExifReader& reader, geo::ScriptHost& host, const std::string& folder,
                            std::uint32_t id, const std::string& name, PhotoFacts* facts = nullptr);

// Puts a scan's results, arriving in any order, into the photo tables in
// listing order: the names, the table and the map points grow by the run of
// results that has no gap before it, so readers always see a prefix of the
// final tables. Used on the thread that owns the tables.
class TablesBuilder {
 public:
  // Empties the tables' names, table and map points for `listing`.
  TablesBuilder(PhotoTables& tables, std::shared_ptr<const FolderListing> listing);

  // Takes results; they show in the tables at the next Publish.
  void Add(std::vector<PhotoResult> results);
  // Appends the results that have no gap before them; true when the map
  // points grew.
  bool Publish();
  // Every listed photo has a result, and all are published.
  bool Complete() const;
  std::size_t Listed() const;   // photos the listing found
  std::size_t Read() const;     // results taken so far
  std::size_t Located() const;  // published photos that go on the map
  // The listing's report with the failures of the photos read so far, by name.
  ScanReport Report() const;

 private:
  PhotoTables& tables_;
  std::shared_ptr<const FolderListing> listing_;
  std::vector<PhotoResult> pending_;  // by id; a result's place is taken once it arrives
  std::vector<bool> arrived_;
  std::size_t next_ = 0;  // the first id not yet published
  std::size_t read_ = 0;
  std::size_t located_ = 0;
  std::vector<ReadFailure> failures_;
};

class ScanCache;

// A scan cache opened by the first scan that needs it, on that scan's
// thread (opening checks the whole database), then shared by later scans.
class SharedScanCache {
 public:
  // `path`: the database file; empty for none.
  explicit SharedScanCache(std::string path);
  ~SharedScanCache();
  // The cache, opened on first use; null when there is none or it could not
  // be opened. Any thread.
  ScanCache* Get();
  // What the window should say about the cache once (it was rebuilt, it
  // cannot be opened, it is locked or failed), then empty. Any thread.
  std::string TakeNotice();
  // Records a failure of the cache for TakeNotice; the scan goes on without.
  void Note(const std::string& notice);

 private:
  std::mutex mutex_;
  const std::string path_;
  bool tried_ = false;
  std::unique_ptr<ScanCache> cache_;
  std::string notice_;
};

// Called from the scan's own threads; each must be safe to call from any
// thread, and may be called by several threads at once.
struct ScanCallbacks {
  // Once, first: the sorted listing of the folder (possibly empty, with its report).
  std::function<void(std::shared_ptr<const FolderListing>)> listed;
  // Results of some photos, in no particular order.
  std::function<void(std::vector<PhotoResult>)> read;
  // Once, last, when every photo has been read; never after a cancel.
  std::function<void()> finished;
};

// Scans a folder in the background: lists it, then reads its photos on
// worker threads, each with a script host of its own, so the conversion
// gives exactly what a scan on one thread gives.
class ScanJob {
 public:
  // Starts scanning `folder` (ending with "/") with `threads` workers (0:
  // one per core), reading EXIF blocks through `pointer_tags`. With a
  // `cache`, a photo whose size and time are unchanged is not read again,
  // what was read is stored, and a finished scan forgets the photos gone.
  ScanJob(std::string folder, std::vector<std::string> pointer_tags, unsigned threads, ScanCallbacks callbacks,
          std::shared_ptr<SharedScanCache> cache = nullptr);
  // Cancels and waits for the threads.
  ~ScanJob();
  ScanJob(const ScanJob&) = delete;
  ScanJob& operator=(const ScanJob&) = delete;

  // Asks the threads to stop after the photo each is reading; returns at
  // once. `finished` is not called after this.
  void Cancel();
  // Waits until the scan has finished or, cancelled, stopped.
  void Wait();

 private:
  void Run();
  void Work(std::shared_ptr<const FolderListing> listing);

  const std::string folder_;
  const std::vector<std::string> pointer_tags_;
  const unsigned threads_;
  const ScanCallbacks callbacks_;
  const std::shared_ptr<SharedScanCache> cache_;
  std::string cache_folder_;  // the folder as an absolute path, the cache's keys begin with it
  std::atomic<bool> cancelled_ = false;
  std::atomic<std::uint32_t> next_id_ = 0;
  std::thread coordinator_;
};

// Lists and scans `tables.current_folder` on `threads` workers (0: one per
// core) and waits: the tables and report a one-thread ScanFolder gives.
ScanReport ScanFolderInParallel(PhotoTables& tables, const std::vector<std::string>& pointer_tags,
                                unsigned threads = 0, std::shared_ptr<SharedScanCache> cache = nullptr);

}  // namespace tavimo::catalogue
