#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/photo_record.h"

namespace tavimo::catalogue {

// Why a scan cache operation did not happen. A cache is never needed for a
// correct scan: on any of these the caller scans without it.
struct CacheError {
  enum class Code {
    kCannotOpen,       // the file cannot be created, opened or written (bad path, permissions)
    kBusy,             // another program holds the database's lock past the short busy wait
    kCorrupt,          // the file is not a usable database; opening it again rebuilds it
    kIo,               // any other SQLite or file-system failure (disk full, I/O error)
    kInvalidArgument,  // the call's arguments are off (see the function)
  };
  Code code = Code::kIo;
  std::string message;  // for a log line: the file and SQLite's own words
};

// Which file a cached scan belongs to: its absolute path as raw bytes (not
// necessarily UTF-8) and the stamp it had when it was read.
struct CacheKey {
  std::string path;
  FileStamp stamp;
};

// One photo's cached scan.
struct CacheEntry {
  CacheKey key;
  PhotoFacts facts;
};

// What earlier scans derived from each photo, kept in an SQLite database so
// that a folder opened again reads only the photos that changed. Rows are
// keyed by path; a row counts only while the file's size and modification
// time are the ones stored with it.
//
// Thread-safe: every member function may be called from any thread (meant
// for scan workers, not the GUI thread: a call may wait on the disk and on
// another program's lock). Calls on one object are serialised by an internal
// lock. Other programs, another Tavimo included, may use the same file; a
// lock they hold longer than a short wait (200 ms) gives kBusy.
class ScanCache {
 public:
  // The database file: tavimo/scan-cache.sqlite3 in the user's cache folder
  // ($XDG_CACHE_HOME, else $HOME/.cache; see platform::UserCacheHome);
  // empty when there is none.
  static std::string DefaultPath();

  // Opens the database at `path`, creating it and its folder (mode 0700)
  // when missing. A file that is not a database, fails SQLite's quick check,
  // or holds another schema version is deleted and made anew; `notice`, when
  // given, then says so (and is cleared otherwise). Returns null with `error`
  // set when the file cannot be opened or made (kCannotOpen) or another
  // program holds it locked (kBusy).
  static std::unique_ptr<ScanCache> Open(const std::string& path, CacheError* error,
                                         std::string* notice = nullptr);

  ~ScanCache();
  ScanCache(const ScanCache&) = delete;
  ScanCache& operator=(const ScanCache&) = delete;

  // The cached facts of each key, in order: a value where the row for the
  // path has the same size and modification time, nullopt otherwise (no
  // row, another stamp, or a row this program would not have written). All
  // read in one transaction. On failure every item is nullopt and `error`,
  // when given, says why.
  std::vector<std::optional<PhotoFacts>> Find(const std::vector<CacheKey>& keys, CacheError* error = nullptr);

  // Writes every entry, replacing the path's earlier row, in one transaction.
  // Returns false with `error` set when it could not (busy, I/O, corrupt);
  // then none of the entries is written.
  bool Store(const std::vector<CacheEntry>& entries, CacheError* error);

  // Deletes the rows of files in `folder` and its sub-folders whose paths
  // are not in `present`, in one transaction. `folder` is absolute; a "/" is
  // added when it does not end with one. Returns false with `error` set when
  // it could not (kInvalidArgument for a folder that is not absolute); then
  // nothing is deleted.
  bool ForgetMissing(const std::string& folder, const std::vector<std::string>& present, CacheError* error);

 private:
  struct Connection;
  explicit ScanCache(std::unique_ptr<Connection> connection);

  std::mutex mutex_;
  std::unique_ptr<Connection> connection_;
};

}  // namespace tavimo::catalogue
