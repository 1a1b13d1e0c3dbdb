#include "catalogue/scan_cache.h"

#include <sqlite3.h>

#include "platform/cache_home.h"

#include <array>
#include <bit>
#include <filesystem>
#include <functional>
#include <string_view>
#include <system_error>
#include <unordered_set>
#include <utility>

namespace tavimo::catalogue {
namespace {

namespace fs = std::filesystem;
using Code = CacheError::Code;

constexpr char kFolderName[] = "tavimo";
constexpr char kFileName[] = "scan-cache.sqlite3";
// Raised whenever the table changes: a file of another version is rebuilt.
constexpr int kSchemaVersion = 1;
// How long a call waits for another program's lock before it gives kBusy.
constexpr int kBusyTimeoutMs = 200;
// The files SQLite may keep beside a database; removed with it on a rebuild.
constexpr std::array<std::string_view, 3> kSideFileSuffixes = {"-journal", "-wal", "-shm"};
constexpr std::int64_t kLastStatus = static_cast<std::int64_t>(PhotoStatus::kUnreadable);
constexpr std::int64_t kMaxOrientation = 0xFF;

// The doubles are kept as their IEEE 754 bit patterns: SQLite stores a REAL
// NaN as NULL, and the bits keep negative zero and NaN payloads as well.
constexpr char kCreateTable[] = R"sql(
CREATE TABLE IF NOT EXISTS photo (
  path BLOB NOT NULL PRIMARY KEY,
  size INTEGER NOT NULL,
  mtime_ns INTEGER NOT NULL,
  wgs84_lng_bits INTEGER NOT NULL,
  wgs84_lat_bits INTEGER NOT NULL,
  gcj02_lng_bits INTEGER NOT NULL,
  gcj02_lat_bits INTEGER NOT NULL,
  status INTEGER NOT NULL,
  orientation INTEGER NOT NULL,
  has_thumbnail INTEGER NOT NULL,
  taken INTEGER NOT NULL
) STRICT, WITHOUT ROWID)sql";
// Both statements list the columns in the order of `Column`.
constexpr char kSelectRow[] =
    "SELECT size, mtime_ns, wgs84_lng_bits, wgs84_lat_bits, gcj02_lng_bits, gcj02_lat_bits, status, "
    "orientation, has_thumbnail, taken FROM photo WHERE path = ?1";
constexpr char kUpsertRow[] =
    "INSERT OR REPLACE INTO photo (path, size, mtime_ns, wgs84_lng_bits, wgs84_lat_bits, gcj02_lng_bits, "
    "gcj02_lat_bits, status, orientation, has_thumbnail, taken) "
    "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)";
constexpr char kSelectPathsBetween[] = "SELECT path FROM photo WHERE path >= ?1 AND path < ?2";
constexpr char kDeleteRow[] = "DELETE FROM photo WHERE path = ?1";

// Result columns of kSelectRow; parameter i + 2 of kUpsertRow (the path is 1).
enum Column : int {
  kSize,
  kMtime,
  kWgs84Lng,
  kWgs84Lat,
  kGcj02Lng,
  kGcj02Lat,
  kStatus,
  kOrientation,
  kHasThumbnail,
  kTaken,
};
constexpr int kPathParameter = 1;
constexpr int kFirstFactParameter = 2;

struct DatabaseCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Database = std::unique_ptr<sqlite3, DatabaseCloser>;

struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

Code CodeOf(int result) {
  switch (result & 0xFF) {  // the primary code of an extended one
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return Code::kBusy;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return Code::kCorrupt;
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_READONLY:
    case SQLITE_AUTH:
      return Code::kCannotOpen;
    default:
      return Code::kIo;
  }
}

// Sets `error` (when given); returns false for the caller to pass on.
bool Fail(CacheError* error, Code code, const std::string& path, std::string_view what) {
  if (error != nullptr) *error = {code, "scan cache " + path + ": " + std::string(what)};
  return false;
}

// Fails with SQLite's code and words for `result` on `db`.
bool FailWith(sqlite3* db, int result, const std::string& path, CacheError* error) {
  return Fail(error, CodeOf(result), path, db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(result));
}

int Exec(sqlite3* db, const std::string& sql) { return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr); }

// Runs `body` (SQLITE_OK on success, else the failing code) between `begin`
// and COMMIT, rolling back on any failure. False with `error` set on failure.
bool InTransaction(sqlite3* db, const char* begin, const std::string& path, CacheError* error,
                   const std::function<int()>& body) {
  int result = Exec(db, begin);
  if (result == SQLITE_OK) result = body();
  if (result == SQLITE_OK) result = Exec(db, "COMMIT");
  if (result == SQLITE_OK) return true;
  FailWith(db, result, path, error);  // before the rollback replaces SQLite's message
  if (sqlite3_get_autocommit(db) == 0) Exec(db, "ROLLBACK");
  return false;
}

// Readies a reused statement for its next bindings.
void Reset(sqlite3_stmt* statement) {
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
}

// Steps a statement that gives no rows to its end, then resets it.
int RunOnce(sqlite3_stmt* statement) {
  const int result = sqlite3_step(statement);
  Reset(statement);
  return result == SQLITE_DONE ? SQLITE_OK : result;
}

int BindBytes(sqlite3_stmt* statement, int parameter, std::string_view bytes) {
  return sqlite3_bind_blob64(statement, parameter, bytes.data(), bytes.size(), SQLITE_STATIC);
}

std::string ColumnBytes(sqlite3_stmt* statement, int column) {
  const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, column));
  const auto size = static_cast<std::size_t>(sqlite3_column_bytes(statement, column));
  return bytes == nullptr ? std::string() : std::string(bytes, size);
}

// The first column of the first row `sql` gives, as text.
int QueryText(sqlite3* db, const char* sql, std::string* text) {
  sqlite3_stmt* raw = nullptr;
  int result = sqlite3_prepare_v2(db, sql, -1, &raw, nullptr);
  const Statement statement(raw);
  if (result != SQLITE_OK) return result;
  result = sqlite3_step(raw);
  if (result == SQLITE_DONE) return SQLITE_OK;
  if (result != SQLITE_ROW) return result;
  const auto* chars = reinterpret_cast<const char*>(sqlite3_column_text(raw, 0));
  *text = chars == nullptr ? std::string() : std::string(chars);
  return SQLITE_OK;
}

int Prepare(sqlite3* db, const char* sql, Statement* statement) {
  sqlite3_stmt* raw = nullptr;
  const int result = sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
  statement->reset(raw);
  return result;
}

int BindEntry(sqlite3_stmt* statement, const CacheEntry& entry) {
  const PhotoFacts& facts = entry.facts;
  const std::array<std::int64_t, kTaken + 1> values = {
      entry.key.stamp.size,
      entry.key.stamp.mtime_ns,
      std::bit_cast<std::int64_t>(facts.wgs84.lng),
      std::bit_cast<std::int64_t>(facts.wgs84.lat),
      std::bit_cast<std::int64_t>(facts.gcj02.lng),
      std::bit_cast<std::int64_t>(facts.gcj02.lat),
      static_cast<std::int64_t>(facts.status),
      facts.orientation,
      facts.has_thumbnail ? 1 : 0,
      facts.taken,
  };
  int result = BindBytes(statement, kPathParameter, entry.key.path);
  for (int column = kSize; column <= kTaken && result == SQLITE_OK; ++column) {
    result = sqlite3_bind_int64(statement, kFirstFactParameter + column, values[static_cast<std::size_t>(column)]);
  }
  return result;
}

// The facts of the row `statement` stands on when its stamp is `stamp` and
// every value is one this program writes; nullopt otherwise.
std::optional<PhotoFacts> ReadFacts(sqlite3_stmt* statement, const FileStamp& stamp) {
  const auto value = [statement](Column column) { return sqlite3_column_int64(statement, column); };
  const auto number = [&value](Column column) { return std::bit_cast<double>(value(column)); };
  if (value(kSize) != stamp.size || value(kMtime) != stamp.mtime_ns) return std::nullopt;
  const std::int64_t status = value(kStatus);
  const std::int64_t orientation = value(kOrientation);
  const std::int64_t has_thumbnail = value(kHasThumbnail);
  if (status < 0 || status > kLastStatus || orientation < 0 || orientation > kMaxOrientation ||
      (has_thumbnail != 0 && has_thumbnail != 1)) {
    return std::nullopt;
  }
  PhotoFacts facts;
  facts.wgs84 = {number(kWgs84Lng), number(kWgs84Lat)};
  facts.gcj02 = {number(kGcj02Lng), number(kGcj02Lat)};
  facts.status = static_cast<PhotoStatus>(status);
  facts.orientation = static_cast<std::uint8_t>(orientation);
  facts.has_thumbnail = has_thumbnail == 1;
  facts.taken = value(kTaken);
  return facts;
}

// Makes the file's folder (mode 0700) when missing; fails when `path` is
// something other than a regular file or its folder cannot be made.
bool PrepareLocation(const std::string& path, CacheError* error) {
  const fs::path file(path);
  const fs::path folder = file.parent_path();
  std::error_code failure;
  if (!folder.empty() && !fs::is_directory(folder, failure)) {
    fs::create_directories(folder, failure);
    if (!failure) fs::permissions(folder, fs::perms::owner_all, failure);
    if (failure) return Fail(error, Code::kCannotOpen, path, "cannot make its folder: " + failure.message());
  }
  const fs::file_status status = fs::status(file, failure);
  if (fs::exists(status) && !fs::is_regular_file(status)) {
    return Fail(error, Code::kCannotOpen, path, "not a regular file");
  }
  return true;
}

// Deletes the database file and the files SQLite keeps beside it.
bool RemoveDatabase(const std::string& path, CacheError* error) {
  std::error_code failure;
  fs::remove(path, failure);
  for (const std::string_view suffix : kSideFileSuffixes) {
    std::error_code ignored;  // a leftover side file is found stale and ignored by SQLite
    fs::remove(path + std::string(suffix), ignored);
  }
  return failure ? Fail(error, Code::kCannotOpen, path, "cannot remove it to rebuild: " + failure.message()) : true;
}

}  // namespace

struct ScanCache::Connection {
  std::string path;
  Database db;  // declared before the statements: closed after they are finalized
  Statement select_row;
  Statement upsert_row;
  Statement select_paths_between;
  Statement delete_row;

  // Opens `path`, makes the table in an empty database and readies the
  // statements. Null with `error` set on failure; kCorrupt for a file to rebuild.
  static std::unique_ptr<Connection> Open(const std::string& path, CacheError* error);

 private:
  bool FailOn(int result, CacheError* error) const { return FailWith(db.get(), result, path, error); }
  bool CheckSchema(CacheError* error);
};

std::unique_ptr<ScanCache::Connection> ScanCache::Connection::Open(const std::string& path, CacheError* error) {
  auto connection = std::make_unique<Connection>();
  connection->path = path;
  sqlite3* raw = nullptr;
  const int result =
      sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  connection->db.reset(raw);
  if (result != SQLITE_OK) {
    connection->FailOn(result, error);
    return nullptr;
  }
  sqlite3_extended_result_codes(raw, 1);
  sqlite3_busy_timeout(raw, kBusyTimeoutMs);
  if (sqlite3_db_readonly(raw, "main") == 1) {
    Fail(error, Code::kCannotOpen, path, "opened read-only");
    return nullptr;
  }
  if (!connection->CheckSchema(error)) return nullptr;
  const std::array<std::pair<const char*, Statement*>, 4> statements = {{
      {kSelectRow, &connection->select_row},
      {kUpsertRow, &connection->upsert_row},
      {kSelectPathsBetween, &connection->select_paths_between},
      {kDeleteRow, &connection->delete_row},
  }};
  for (const auto& [sql, statement] : statements) {
    if (Prepare(raw, sql, statement) != SQLITE_OK) {
      // The version is ours but the table is not: a file to rebuild.
      Fail(error, Code::kCorrupt, path, std::string("unexpected table: ") + sqlite3_errmsg(raw));
      return nullptr;
    }
  }
  return connection;
}

bool ScanCache::Connection::CheckSchema(CacheError* error) {
  sqlite3* raw = db.get();
  const std::string ours = std::to_string(kSchemaVersion);
  std::string version;
  int result = QueryText(raw, "PRAGMA user_version", &version);
  if (result != SQLITE_OK) return FailOn(result, error);
  if (version == "0") {
    // A new file, or one another connection is making right now: either way
    // the table is made once and the version set with it.
    const bool made = InTransaction(raw, "BEGIN IMMEDIATE", path, error, [raw, &ours] {
      const int made_table = Exec(raw, kCreateTable);
      return made_table != SQLITE_OK ? made_table : Exec(raw, "PRAGMA user_version = " + ours);
    });
    if (!made) return false;
  } else if (version != ours) {
    return Fail(error, Code::kCorrupt, path, "schema version " + version + ", not " + ours);
  }
  std::string verdict;
  result = QueryText(raw, "PRAGMA quick_check(1)", &verdict);
  if (result != SQLITE_OK) return FailOn(result, error);
  if (verdict != "ok") return Fail(error, Code::kCorrupt, path, "quick check: " + verdict);
  return true;
}

ScanCache::ScanCache(std::unique_ptr<Connection> connection) : connection_(std::move(connection)) {}

ScanCache::~ScanCache() = default;

std::string ScanCache::DefaultPath() {
  const std::string cache_home = platform::UserCacheHome();
  return cache_home.empty() ? std::string() : cache_home + "/" + kFolderName + "/" + kFileName;
}

std::unique_ptr<ScanCache> ScanCache::Open(const std::string& path, CacheError* error, std::string* notice) {
  if (notice != nullptr) notice->clear();
  if (path.empty()) {
    Fail(error, Code::kCannotOpen, path, "no cache folder (neither XDG_CACHE_HOME nor HOME is an absolute path)");
    return nullptr;
  }
  if (!PrepareLocation(path, error)) return nullptr;
  CacheError first;
  std::unique_ptr<Connection> connection = Connection::Open(path, &first);
  if (connection == nullptr && first.code == Code::kCorrupt) {
    if (!RemoveDatabase(path, error)) return nullptr;
    connection = Connection::Open(path, error);
    if (connection != nullptr && notice != nullptr) *notice = first.message + "; made anew, empty";
  } else if (connection == nullptr && error != nullptr) {
    *error = std::move(first);
  }
  if (connection == nullptr) return nullptr;
  return std::unique_ptr<ScanCache>(new ScanCache(std::move(connection)));
}

std::vector<std::optional<PhotoFacts>> ScanCache::Find(const std::vector<CacheKey>& keys, CacheError* error) {
  const std::lock_guard lock(mutex_);
  std::vector<std::optional<PhotoFacts>> found(keys.size());
  sqlite3_stmt* select = connection_->select_row.get();
  const bool read = InTransaction(connection_->db.get(), "BEGIN", connection_->path, error, [&] {
    for (std::size_t i = 0; i < keys.size(); ++i) {
      int result = BindBytes(select, kPathParameter, keys[i].path);
      if (result == SQLITE_OK) result = sqlite3_step(select);
      if (result == SQLITE_ROW) found[i] = ReadFacts(select, keys[i].stamp);
      Reset(select);
      if (result != SQLITE_ROW && result != SQLITE_DONE) return result;
    }
    return SQLITE_OK;
  });
  if (!read) found.assign(keys.size(), std::nullopt);
  return found;
}

bool ScanCache::Store(const std::vector<CacheEntry>& entries, CacheError* error) {
  const std::lock_guard lock(mutex_);
  sqlite3_stmt* upsert = connection_->upsert_row.get();
  return InTransaction(connection_->db.get(), "BEGIN IMMEDIATE", connection_->path, error, [&] {
    for (const CacheEntry& entry : entries) {
      const int bound = BindEntry(upsert, entry);
      const int result = bound == SQLITE_OK ? RunOnce(upsert) : bound;
      if (result != SQLITE_OK) {
        Reset(upsert);
        return result;
      }
    }
    return SQLITE_OK;
  });
}

bool ScanCache::ForgetMissing(const std::string& folder, const std::vector<std::string>& present,
                              CacheError* error) {
  if (folder.empty() || folder.front() != '/') {
    return Fail(error, Code::kInvalidArgument, connection_->path, "not an absolute folder: " + folder);
  }
  // Every path under `prefix` sorts (byte-wise, as SQLite compares blobs) at
  // or after it and before `limit`, the prefix with its final "/" raised to "0".
  const std::string prefix = folder.back() == '/' ? folder : folder + "/";
  std::string limit = prefix;
  limit.back() = static_cast<char>('/' + 1);
  const std::unordered_set<std::string_view> kept(present.begin(), present.end());

  const std::lock_guard lock(mutex_);
  sqlite3_stmt* select = connection_->select_paths_between.get();
  sqlite3_stmt* remove = connection_->delete_row.get();
  return InTransaction(connection_->db.get(), "BEGIN IMMEDIATE", connection_->path, error, [&] {
    std::vector<std::string> gone;
    int result = BindBytes(select, 1, prefix);
    if (result == SQLITE_OK) result = BindBytes(select, 2, limit);
    if (result == SQLITE_OK) {
      while ((result = sqlite3_step(select)) == SQLITE_ROW) {
        std::string path = ColumnBytes(select, 0);
        if (!kept.contains(path)) gone.push_back(std::move(path));
      }
    }
    Reset(select);
    if (result != SQLITE_DONE) return result;
    for (const std::string& path : gone) {
      result = BindBytes(remove, kPathParameter, path);
      result = result == SQLITE_OK ? RunOnce(remove) : result;
      if (result != SQLITE_OK) return result;
    }
    return SQLITE_OK;
  });
}

}  // namespace tavimo::catalogue
