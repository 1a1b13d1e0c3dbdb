#include "catalogue/scan_cache.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <array>
#include <bit>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <thread>

#include "tests/support/jpeg_builder.h"
#include "tests/support/scoped_env.h"

namespace tavimo::catalogue {
namespace {

using testing::ScopedEnv;
using testing::TempDir;
using Code = CacheError::Code;
using namespace std::string_literals;

constexpr FileStamp kStamp{1'234'567, 1'700'000'000'123'456'789};
// Far above the cache's own busy wait: only a call that waits forever exceeds it.
constexpr auto kHangBound = std::chrono::seconds(10);
// SQLite's default page size, which the cache keeps.
constexpr std::size_t kPageSize = 4096;

// Every field as a 64-bit pattern, so that NaN and negative zero compare by their bits.
using FactBits = std::array<std::int64_t, 8>;
FactBits Bits(const PhotoFacts& facts) {
  return {std::bit_cast<std::int64_t>(facts.wgs84.lng), std::bit_cast<std::int64_t>(facts.wgs84.lat),
          std::bit_cast<std::int64_t>(facts.gcj02.lng), std::bit_cast<std::int64_t>(facts.gcj02.lat),
          static_cast<std::int64_t>(facts.status),      facts.orientation,
          facts.has_thumbnail ? 1 : 0,                  facts.taken};
}
std::vector<std::optional<FactBits>> Bits(const std::vector<std::optional<PhotoFacts>>& found) {
  std::vector<std::optional<FactBits>> bits;
  for (const auto& facts : found) bits.push_back(facts ? std::optional(Bits(*facts)) : std::nullopt);
  return bits;
}

PhotoFacts Facts(LngLat wgs84, LngLat gcj02, PhotoStatus status, std::uint8_t orientation = 1,
                 bool has_thumbnail = false, std::int64_t taken = kUnknownTime) {
  return {wgs84, gcj02, status, orientation, has_thumbnail, taken};
}
PhotoFacts Located(double lng, double lat) {
  return Facts({lng, lat}, {lng + 0.005, lat - 0.002}, PhotoStatus::kLocated);
}

std::vector<CacheKey> KeysOf(const std::vector<CacheEntry>& entries) {
  std::vector<CacheKey> keys;
  for (const CacheEntry& entry : entries) keys.push_back(entry.key);
  return keys;
}

// A second connection to the cache's file, as another program would hold one.
class RawDatabase {
 public:
  explicit RawDatabase(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("cannot open " + path);
  }
  ~RawDatabase() { sqlite3_close(db_); }
  RawDatabase(const RawDatabase&) = delete;
  RawDatabase& operator=(const RawDatabase&) = delete;

  void Exec(const std::string& sql) {
    char* message = nullptr;
    const int result = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
    const std::string text = message != nullptr ? message : "";
    sqlite3_free(message);
    if (result != SQLITE_OK) throw std::runtime_error(sql + ": " + text);
  }

 private:
  sqlite3* db_ = nullptr;
};

class ScanCacheTest : public ::testing::Test {
 protected:
  // Opens the cache at path_, failing the test when it cannot.
  std::unique_ptr<ScanCache> OpenCache(std::string* notice = nullptr) {
    CacheError error;
    std::unique_ptr<ScanCache> cache = ScanCache::Open(path_, &error, notice);
    EXPECT_NE(cache, nullptr) << error.message;
    return cache;
  }
  void StoreAll(ScanCache& cache, const std::vector<CacheEntry>& entries) {
    CacheError error;
    ASSERT_TRUE(cache.Store(entries, &error)) << error.message;
  }
  // Fills a database of several pages at path_.
  void StoreMany() {
    constexpr int kCount = 2000;
    std::vector<CacheEntry> many;
    for (int i = 0; i < kCount; ++i) many.push_back({{"/photos/" + std::to_string(i) + ".jpg", kStamp}, {}});
    StoreAll(*OpenCache(), many);
  }

  TempDir dir_;
  const std::string path_ = dir_.Path() + "/cache/scan-cache.sqlite3";
};

TEST_F(ScanCacheTest, KeepsEveryFieldBitForBit) {
  constexpr std::int64_t kLargest = std::numeric_limits<std::int64_t>::max();
  const double nan_with_payload = std::bit_cast<double>(std::int64_t{0x7FF8'0000'0000'0123});
  std::vector<CacheEntry> entries = {
      {{"/photos/plain.jpg", kStamp}, Located(116.3975, 39.9087)},
      {{"/photos/nan.jpg", kStamp},
       Facts({-0.0, 0.0}, {std::numeric_limits<double>::quiet_NaN(), nan_with_payload}, PhotoStatus::kLocated)},
      {{"/photos/\xFF\xFE-not-utf8.jpg", {0, 0}}, Facts({}, {}, PhotoStatus::kNoGps, 8, true, kUnknownTime)},
      {{"/photos/nul\0inside.jpg"s, {-1, -1}},
       Facts({}, {}, PhotoStatus::kNoExif, 1, false, kLargest)},
      {{"/photos/\xE4\xB8\xAD.jpg", {kLargest, std::numeric_limits<std::int64_t>::min()}},
       Facts({-180, -90}, {180, 90}, PhotoStatus::kGpsUnreadable, 255, false, -1)},
  };
  for (const PhotoStatus status : {PhotoStatus::kLocated, PhotoStatus::kNoGps, PhotoStatus::kGpsUnreadable,
                                   PhotoStatus::kNoExif, PhotoStatus::kUnreadable}) {
    const int index = static_cast<int>(status);
    entries.push_back({{"/photos/status-" + std::to_string(index) + ".jpg", kStamp},
                       Facts({}, {}, status, static_cast<std::uint8_t>(index + 1), index % 2 == 0, index)});
  }
  StoreAll(*OpenCache(), entries);

  std::string notice = "not cleared";
  const std::unique_ptr<ScanCache> reopened = OpenCache(&notice);
  EXPECT_EQ(notice, "");
  std::vector<std::optional<FactBits>> expected;
  for (const CacheEntry& entry : entries) expected.push_back(Bits(entry.facts));
  CacheError error;
  EXPECT_EQ(Bits(reopened->Find(KeysOf(entries), &error)), expected) << error.message;
}

TEST_F(ScanCacheTest, FolderIsPrivate) {
  OpenCache();
  struct stat info {};
  ASSERT_EQ(::stat((dir_.Path() + "/cache").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(ScanCacheTest, HitsOnlyOnTheSameSizeAndTime) {
  const std::unique_ptr<ScanCache> cache = OpenCache();
  const CacheEntry stored{{"/photos/a.jpg", kStamp}, Located(1, 2)};
  StoreAll(*cache, {stored});

  struct Probe {
    const char* what;
    CacheKey key;
    bool hit;
  };
  const std::vector<Probe> probes = {
      {"same stamp", stored.key, true},
      {"one byte larger", {"/photos/a.jpg", {kStamp.size + 1, kStamp.mtime_ns}}, false},
      {"one byte smaller", {"/photos/a.jpg", {kStamp.size - 1, kStamp.mtime_ns}}, false},
      {"one nanosecond later", {"/photos/a.jpg", {kStamp.size, kStamp.mtime_ns + 1}}, false},
      {"one nanosecond earlier", {"/photos/a.jpg", {kStamp.size, kStamp.mtime_ns - 1}}, false},
      {"another path", {"/photos/b.jpg", kStamp}, false},
      {"a path's prefix", {"/photos/a.jp", kStamp}, false},
  };
  std::vector<CacheKey> keys;
  for (const Probe& probe : probes) keys.push_back(probe.key);
  CacheError error;
  const std::vector<std::optional<PhotoFacts>> found = cache->Find(keys, &error);
  ASSERT_EQ(found.size(), probes.size());
  for (std::size_t i = 0; i < probes.size(); ++i) {
    EXPECT_EQ(found[i].has_value(), probes[i].hit) << probes[i].what;
    if (found[i]) {
      EXPECT_EQ(Bits(*found[i]), Bits(stored.facts)) << probes[i].what;
    }
  }
}

TEST_F(ScanCacheTest, AChangedPhotoReplacesItsRow) {
  const std::unique_ptr<ScanCache> cache = OpenCache();
  const CacheKey before{"/photos/a.jpg", kStamp};
  const CacheKey after{"/photos/a.jpg", {kStamp.size + 10, kStamp.mtime_ns + 5}};
  StoreAll(*cache, {{before, Located(1, 2)}});
  StoreAll(*cache, {{after, Located(3, 4)}});

  const std::vector<std::optional<PhotoFacts>> found = cache->Find({before, after});
  EXPECT_FALSE(found[0].has_value());
  ASSERT_TRUE(found[1].has_value());
  EXPECT_EQ(Bits(*found[1]), Bits(Located(3, 4)));
}

TEST_F(ScanCacheTest, ARowThisProgramWouldNotWriteIsAMiss) {
  const std::unique_ptr<ScanCache> cache = OpenCache();
  const CacheEntry stored{{"/photos/a.jpg", kStamp}, Facts({}, {}, PhotoStatus::kNoExif, 1, true, 0)};
  for (const char* change : {"status = 5", "status = -1", "orientation = 256", "orientation = -1",
                             "has_thumbnail = 2", "has_thumbnail = -1"}) {
    StoreAll(*cache, {stored});
    ASSERT_TRUE(cache->Find({stored.key})[0].has_value());
    RawDatabase(path_).Exec(std::string("UPDATE photo SET ") + change);
    EXPECT_FALSE(cache->Find({stored.key})[0].has_value()) << change;
  }
}

TEST_F(ScanCacheTest, ForgetsOnlyMissingFilesUnderTheFolder) {
  const std::unique_ptr<ScanCache> cache = OpenCache();
  const std::vector<CacheEntry> entries = {
      {{"/trip/kept.jpg", kStamp}, {}},        {{"/trip/deleted.jpg", kStamp}, {}},
      {{"/trip/sub/deleted.jpg", kStamp}, {}}, {{"/trip/sub/kept.jpg", kStamp}, {}},
      {{"/trip0/beside.jpg", kStamp}, {}},     {{"/trip-2/beside.jpg", kStamp}, {}},
      {{"/tri/outside.jpg", kStamp}, {}},      {{"/trip\xFF/beside.jpg", kStamp}, {}},
  };
  const std::vector<bool> kept_after = {true, false, false, true, true, true, true, true};
  for (const std::string folder : {"/trip/", "/trip"}) {
    SCOPED_TRACE(folder);
    StoreAll(*cache, entries);
    CacheError error;
    ASSERT_TRUE(cache->ForgetMissing(folder, {"/trip/kept.jpg", "/trip/sub/kept.jpg", "/elsewhere.jpg"}, &error))
        << error.message;
    std::vector<bool> kept;
    for (const auto& facts : cache->Find(KeysOf(entries))) kept.push_back(facts.has_value());
    EXPECT_EQ(kept, kept_after);
  }
}

TEST_F(ScanCacheTest, ForgetMissingWantsAnAbsoluteFolder) {
  const std::unique_ptr<ScanCache> cache = OpenCache();
  StoreAll(*cache, {{{"trip/a.jpg", kStamp}, {}}});
  for (const std::string folder : {"", "trip/"}) {
    CacheError error;
    EXPECT_FALSE(cache->ForgetMissing(folder, {}, &error)) << folder;
    EXPECT_EQ(error.code, Code::kInvalidArgument) << folder;
  }
  EXPECT_TRUE(cache->Find({{"trip/a.jpg", kStamp}})[0].has_value());
}

TEST_F(ScanCacheTest, AFailedBatchWritesNothing) {
  const std::unique_ptr<ScanCache> cache = OpenCache();
  const CacheEntry first{{"/photos/a.jpg", kStamp}, Located(1, 2)};
  StoreAll(*cache, {first});
  constexpr std::int64_t kRefusedSize = 666;
  RawDatabase other(path_);
  other.Exec("CREATE TRIGGER refuse BEFORE INSERT ON photo WHEN NEW.size = " + std::to_string(kRefusedSize) +
             " BEGIN SELECT RAISE(ABORT, 'refused'); END");

  const CacheEntry replaced{{"/photos/a.jpg", {kStamp.size + 1, kStamp.mtime_ns}}, Located(5, 6)};
  const CacheEntry added{{"/photos/b.jpg", kStamp}, Located(7, 8)};
  const CacheEntry refused{{"/photos/c.jpg", {kRefusedSize, 0}}, {}};
  CacheError error;
  EXPECT_FALSE(cache->Store({replaced, added, refused}, &error));
  EXPECT_NE(error.message.find("refused"), std::string::npos) << error.message;
  const std::vector<std::optional<PhotoFacts>> found = cache->Find({first.key, replaced.key, added.key});
  EXPECT_TRUE(found[0].has_value());
  EXPECT_FALSE(found[1].has_value());
  EXPECT_FALSE(found[2].has_value());

  // The failed batch left no transaction open: the next one goes through.
  other.Exec("DROP TRIGGER refuse");
  StoreAll(*cache, {added});
  EXPECT_TRUE(cache->Find({added.key})[0].has_value());
}

TEST_F(ScanCacheTest, WorkersShareOneCache) {
  const std::unique_ptr<ScanCache> cache = OpenCache();
  constexpr int kWorkers = 3;
  constexpr int kBatches = 40;
  std::vector<CacheEntry> all;
  std::vector<std::thread> workers;
  std::array<int, kWorkers> failures{};
  for (int worker = 0; worker < kWorkers; ++worker) {
    std::vector<CacheEntry> mine;
    for (int batch = 0; batch < kBatches; ++batch) {
      const std::string path = "/w" + std::to_string(worker) + "/" + std::to_string(batch) + ".jpg";
      mine.push_back({{path, kStamp}, Located(worker, batch)});
    }
    all.insert(all.end(), mine.begin(), mine.end());
    workers.emplace_back([&cache, &failures, worker, mine] {
      for (const CacheEntry& entry : mine) {
        failures[static_cast<std::size_t>(worker)] += cache->Store({entry}, nullptr) ? 0 : 1;
        failures[static_cast<std::size_t>(worker)] += cache->Find({entry.key})[0].has_value() ? 0 : 1;
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(failures, (std::array<int, kWorkers>{}));
  for (const auto& facts : cache->Find(KeysOf(all))) EXPECT_TRUE(facts.has_value());
}

TEST_F(ScanCacheTest, AnUnusableFileIsRebuilt) {
  // Each makes, at path_, a file that is not one of our databases.
  const std::vector<std::pair<const char*, std::function<void()>>> damages = {
      {"garbage bytes",
       [this] {
         std::string garbage;
         while (garbage.size() < 8192) garbage += "this is not an SQLite database ";
         dir_.Write("cache/scan-cache.sqlite3", garbage);
       }},
      {"a truncated database",
       [this] {
         StoreMany();
         std::filesystem::resize_file(path_, std::filesystem::file_size(path_) / 2);
       }},
      {"a database with a page overwritten",
       [this] {
         StoreMany();
         const std::uintmax_t middle_page = std::filesystem::file_size(path_) / 2 / kPageSize * kPageSize;
         std::fstream file(path_, std::ios::in | std::ios::out | std::ios::binary);
         file.seekp(static_cast<std::streamoff>(middle_page));
         file << std::string(kPageSize, '\x5A');
       }},
      {"another schema version",
       [this] {
         OpenCache();
         RawDatabase(path_).Exec("PRAGMA user_version = 99");
       }},
      {"a table of another shape",
       [this] { RawDatabase(path_).Exec("CREATE TABLE photo (name TEXT); PRAGMA user_version = 1"); }},
  };
  for (const auto& [what, make] : damages) {
    SCOPED_TRACE(what);
    std::filesystem::remove_all(dir_.Path() + "/cache");
    std::filesystem::create_directories(dir_.Path() + "/cache");
    make();

    std::string notice;
    const std::unique_ptr<ScanCache> cache = OpenCache(&notice);
    ASSERT_NE(cache, nullptr);
    EXPECT_NE(notice.find(path_), std::string::npos) << notice;
    const CacheEntry entry{{"/photos/0.jpg", kStamp}, Located(1, 2)};
    EXPECT_FALSE(cache->Find({entry.key})[0].has_value());
    StoreAll(*cache, {entry});
    EXPECT_TRUE(cache->Find({entry.key})[0].has_value());
  }
}

TEST_F(ScanCacheTest, ALockedCacheIsBusyNotAHang) {
  const std::unique_ptr<ScanCache> cache = OpenCache();
  const CacheEntry stored{{"/photos/a.jpg", kStamp}, Located(1, 2)};
  StoreAll(*cache, {stored});
  RawDatabase other(path_);
  other.Exec("BEGIN EXCLUSIVE");

  struct Call {
    const char* what;
    std::function<bool(CacheError*)> run;  // false when the call reports a failure
  };
  const std::vector<Call> calls = {
      {"open", [this](CacheError* error) { return ScanCache::Open(path_, error) != nullptr; }},
      {"find",
       [&](CacheError* error) {
         error->code = Code::kIo;
         return cache->Find({stored.key}, error)[0].has_value();
       }},
      {"store", [&](CacheError* error) { return cache->Store({stored}, error); }},
      {"forget", [&](CacheError* error) { return cache->ForgetMissing("/photos/", {}, error); }},
  };
  for (const Call& call : calls) {
    CacheError error;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(call.run(&error)) << call.what;
    EXPECT_LT(std::chrono::steady_clock::now() - start, kHangBound) << call.what;
    EXPECT_EQ(error.code, Code::kBusy) << call.what << ": " << error.message;
  }

  // Released, the same file answers again with what it held.
  other.Exec("COMMIT");
  EXPECT_TRUE(cache->Find({stored.key})[0].has_value());
  StoreAll(*cache, {stored});
}

TEST_F(ScanCacheTest, AnUnopenablePlaceIsAnError) {
  const std::string folder_in_the_way = dir_.Path() + "/folder.sqlite3";
  std::filesystem::create_directories(folder_in_the_way);
  const std::string regular_file = dir_.Write("plain.txt", "text");
  for (const std::string& path : {folder_in_the_way, regular_file + "/scan-cache.sqlite3", std::string()}) {
    CacheError error;
    std::string notice = "not cleared";
    EXPECT_EQ(ScanCache::Open(path, &error, &notice), nullptr) << path;
    EXPECT_EQ(error.code, Code::kCannotOpen) << path << ": " << error.message;
    EXPECT_EQ(notice, "") << path;
  }
  EXPECT_TRUE(std::filesystem::is_directory(folder_in_the_way));
  EXPECT_TRUE(std::filesystem::is_regular_file(regular_file));
}

TEST(ScanCacheDefaultPath, FollowsXdgCacheHome) {
  struct Case {
    const char* xdg_cache_home;
    const char* home;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"/var/cache/me", "/home/me", "/var/cache/me/tavimo/scan-cache.sqlite3"},
      {nullptr, "/home/me", "/home/me/.cache/tavimo/scan-cache.sqlite3"},
      {"", "/home/me", "/home/me/.cache/tavimo/scan-cache.sqlite3"},
      {"relative/cache", "/home/me", "/home/me/.cache/tavimo/scan-cache.sqlite3"},
      {nullptr, nullptr, ""},
      {nullptr, "relative", ""},
  };
  for (const Case& test : cases) {
    const ScopedEnv xdg("XDG_CACHE_HOME", test.xdg_cache_home);
    const ScopedEnv home("HOME", test.home);
    EXPECT_EQ(ScanCache::DefaultPath(), test.expected) << (test.xdg_cache_home ? test.xdg_cache_home : "(unset)");
  }
}

}  // namespace
}  // namespace tavimo::catalogue
