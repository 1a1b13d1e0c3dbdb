// The background scan: the same tables as a scan on one thread, whatever the
// number of workers and the order results arrive in; a cancelled scan never
// finishes.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>

#include "catalogue/scan_cache.h"
#include "catalogue/scan_job.h"
#include "geo/conversion.h"
#include "tests/support/jpeg_builder.h"

namespace tavimo::catalogue {
namespace {

const std::vector<std::string> kPointerTags = {"8825", "8769"};

// Two tables hold the same: names, positions bit for bit (NaN included), points and report.
void ExpectSameTables(const PhotoTables& a, const ScanReport& a_report, const PhotoTables& b, const ScanReport& b_report,
                      const std::string& what) {
  EXPECT_EQ(a.photo_names, b.photo_names) << what;
  ASSERT_EQ(a.photo_table.size(), b.photo_table.size()) << what;
  for (std::size_t i = 0; i < a.photo_table.size(); ++i) {
    ASSERT_EQ(a.photo_table[i].size(), b.photo_table[i].size()) << what << " " << a.photo_names[i];
    EXPECT_EQ(std::memcmp(a.photo_table[i].data(), b.photo_table[i].data(), a.photo_table[i].size() * sizeof(double)), 0)
        << what << " " << a.photo_names[i];
  }
  EXPECT_EQ(*a.map_points.Snapshot(), *b.map_points.Snapshot()) << what;
  EXPECT_EQ(a_report.failures.size(), b_report.failures.size()) << what;
  EXPECT_EQ(a_report.folder_error, b_report.folder_error) << what;
}

void ExpectSameAcrossThreadCounts(const std::string& folder) {
  exif::ExifReader reader;
  reader.SetPointerTags(kPointerTags);
  geo::ScriptHost host;
  geo::LoadConversionScript(host);
  PhotoTables one;
  one.current_folder = folder;
  const ScanReport one_report = ScanFolder(one, reader, host);
  ASSERT_FALSE(one.photo_names.empty()) << folder;
  for (unsigned threads : {1u, 2u, 3u, 8u}) {
    PhotoTables many;
    many.current_folder = folder;
    const ScanReport many_report = ScanFolderInParallel(many, kPointerTags, threads);
    ExpectSameTables(one, one_report, many, many_report, folder + " with " + std::to_string(threads) + " threads");
  }
}

TEST(ScanJob, SamplesGiveTheSameTablesOnAnyNumberOfThreads) {
  ExpectSameAcrossThreadCounts(std::string(TAVIMO_SAMPLES_DIR) + "/");
}

TEST(ScanJob, CorpusGivesTheSameTablesOnAnyNumberOfThreads) {
  if (!std::filesystem::is_directory(TAVIMO_CORPUS_DIR)) {
    GTEST_SKIP() << "corpus of real camera files not found at " << TAVIMO_CORPUS_DIR;
  }
  ExpectSameAcrossThreadCounts(std::string(TAVIMO_CORPUS_DIR) + "/");
}

TEST(TablesBuilder, ShowsOnlyResultsWithoutAGapBeforeThem) {
  auto listing = std::make_shared<FolderListing>();
  listing->names = {"a.jpg", "b.jpg", "c.jpg", "d.jpg"};
  PhotoTables tables;
  tables.photo_names = {"left over"};
  TablesBuilder builder(tables, listing);
  EXPECT_TRUE(tables.photo_names.empty()) << "a new listing starts empty";
  builder.Add({{2, {121.5, 31.2}, false, ""}, {1, {0, 0}, false, "Input/output error"}});
  EXPECT_FALSE(builder.Publish()) << "nothing before the gap at a";
  EXPECT_TRUE(tables.photo_names.empty());
  EXPECT_EQ(builder.Read(), 2u);
  builder.Add({{0, {116.4, 39.9}, false, ""}, {0, {1, 1}, false, ""}});
  EXPECT_TRUE(builder.Publish());
  EXPECT_EQ(tables.photo_names, (std::vector<std::string>{"a.jpg", "b.jpg", "c.jpg"}));
  EXPECT_EQ(tables.photo_table[0], (CoordinateList{116.4, 39.9})) << "the first result for an id counts";
  EXPECT_EQ(*tables.map_points.Snapshot(), (PointList{{116.4, 39.9}, {121.5, 31.2}}));
  EXPECT_FALSE(builder.Complete());
  builder.Add({{3, {}, true, ""}});
  EXPECT_FALSE(builder.Publish());
  EXPECT_TRUE(builder.Complete());
  EXPECT_EQ(tables.photo_names.size(), 3u) << "a photo gone since the listing leaves the tables";
  EXPECT_EQ(builder.Located(), 2u);
  ASSERT_EQ(builder.Report().failures.size(), 1u);
  EXPECT_EQ(builder.Report().failures[0].name, "b.jpg");
}

TEST(ScanJob, ACancelledScanNeverFinishes) {
  testing::TempDir dir;
  for (int i = 0; i < 400; ++i) {
    dir.Write("p" + std::to_string(i) + ".jpg",
              testing::JpegWithExif(testing::PhotoBlock({testing::Order::kLittle, testing::GpsFix{116.0 + i * 1e-3, 39.9}, "", 0})));
  }
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t read = 0;
  bool released = false;
  std::atomic<bool> finished = false;
  {
    ScanJob job(dir.Path() + "/", kPointerTags, 2,
                {nullptr,
                 [&](std::vector<PhotoResult> results) {
                   std::unique_lock lock(mutex);
                   read += results.size();
                   changed.notify_all();
                   // Each worker stops here with its first batch until the cancel is in.
                   changed.wait(lock, [&] { return released; });
                 },
                 [&] { finished = true; }});
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return read > 0; });
    job.Cancel();
    released = true;
    changed.notify_all();
    lock.unlock();
    job.Wait();
  }
  EXPECT_FALSE(finished);
  EXPECT_LT(read, 400u) << "the workers stopped at the cancel";
}

TEST(ScanJob, AnEmptyOrMissingFolderFinishesWithItsListing) {
  testing::TempDir dir;
  for (const std::string& folder : {dir.Path() + "/", dir.Path() + "/gone/"}) {
    std::shared_ptr<const FolderListing> listing;
    bool finished = false;
    ScanJob job(folder, kPointerTags, 2,
                {[&](std::shared_ptr<const FolderListing> listed) { listing = std::move(listed); }, nullptr,
                 [&] { finished = true; }});
    job.Wait();
    ASSERT_TRUE(listing) << folder;
    EXPECT_TRUE(listing->names.empty()) << folder;
    EXPECT_TRUE(finished) << folder;
    EXPECT_EQ(listing->report.folder_gone, folder.ends_with("gone/")) << folder;
  }
}

// Replaces the file's bytes with as many others, keeping its time: only a
// scan that reads it can tell.
void SwapBytesKeepingStamp(const std::string& path) {
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << std::string(static_cast<std::size_t>(before.st_size), 'x');
  }
  const timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST(ScanJob, TheCacheSparesReadingUnchangedPhotosAndFollowsChanges) {
  testing::TempDir dir;
  const std::string folder = dir.Path() + "/photos/";
  const auto photo = [](double lng) {
    return testing::JpegWithExif(testing::PhotoBlock({testing::Order::kBig, testing::GpsFix{lng, 31.2}, "", 0}));
  };
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) dir.Write(std::string("photos/") + name, photo(121.0 + name[0] * 0.01));
  auto cache = std::make_shared<SharedScanCache>(dir.Path() + "/cache/scan.sqlite3");
  PhotoTables first;
  first.current_folder = folder;
  const ScanReport first_report = ScanFolderInParallel(first, kPointerTags, 2, cache);
  ASSERT_EQ(first.map_points.Snapshot()->size(), 3u);

  // Same size, same time, other bytes: the cache answers for all three.
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) SwapBytesKeepingStamp(folder + name);
  PhotoTables again;
  again.current_folder = folder;
  ExpectSameTables(first, first_report, again, ScanFolderInParallel(again, kPointerTags, 2, cache), "from the cache");
  PhotoTables uncached;
  uncached.current_folder = folder;
  ScanFolderInParallel(uncached, kPointerTags, 2);
  EXPECT_TRUE(uncached.map_points.Snapshot()->empty()) << "the photos' bytes are no photos any more";

  // A newer time is read again; a removed photo leaves the tables and the cache; a new one is read.
  const timespec later[2] = {{0, UTIME_OMIT}, {2'000'000'000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (folder + "a.jpg").c_str(), later, 0), 0);
  struct stat removed {};
  ASSERT_EQ(::stat((folder + "b.jpg").c_str(), &removed), 0);
  std::filesystem::remove(folder + "b.jpg");
  dir.Write("photos/d.jpg", photo(120.5));
  PhotoTables changed;
  changed.current_folder = folder;
  ScanFolderInParallel(changed, kPointerTags, 2, cache);
  EXPECT_EQ(changed.photo_names, (std::vector<std::string>{"a.jpg", "c.jpg", "d.jpg"}));
  EXPECT_EQ(changed.photo_table[0], (CoordinateList{0, 0})) << "a.jpg was read again";
  EXPECT_EQ(changed.photo_table[1], first.photo_table[2]) << "c.jpg still from the cache";
  EXPECT_TRUE(OnMap(changed.photo_table[2])) << "d.jpg read";
  const FileStamp old_stamp{removed.st_size, removed.st_mtim.tv_sec * 1'000'000'000 + removed.st_mtim.tv_nsec};
  const auto rows = cache->Get()->Find({{std::filesystem::absolute(folder + "b.jpg").string(), old_stamp}});
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_FALSE(rows[0].has_value()) << "the removed photo's row is gone";
  EXPECT_EQ(cache->TakeNotice(), "");
}

TEST(ScanJob, ACacheThatCannotBeOpenedIsBypassedWithANotice) {
  testing::TempDir dir;
  dir.Write("photos/a.jpg", testing::JpegWithExif(testing::PhotoBlock({testing::Order::kBig, testing::GpsFix{121.4, 31.2}, "", 0})));
  dir.Write("blocker", "a file where the cache's folder should be");
  auto cache = std::make_shared<SharedScanCache>(dir.Path() + "/blocker/scan.sqlite3");
  PhotoTables tables;
  tables.current_folder = dir.Path() + "/photos/";
  ScanFolderInParallel(tables, kPointerTags, 2, cache);
  EXPECT_EQ(tables.map_points.Snapshot()->size(), 1u) << "scanned all the same";
  EXPECT_EQ(cache->TakeNotice().rfind("扫描缓存未使用：", 0), 0u);
  EXPECT_EQ(cache->TakeNotice(), "") << "said once";
}

}  // namespace
}  // namespace tavimo::catalogue
