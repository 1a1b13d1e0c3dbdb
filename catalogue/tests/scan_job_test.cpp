// The background scan: the same tables as a scan on one thread, whatever the
// number of workers and the order results arrive in; a cancelled scan never
// finishes.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>

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
  std::atomic<bool> finished = false;
  {
    ScanJob job(dir.Path() + "/", kPointerTags, 2,
                {nullptr,
                 [&](std::vector<PhotoResult> results) {
                   const std::lock_guard lock(mutex);
                   read += results.size();
                   changed.notify_all();
                 },
                 [&] { finished = true; }});
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return read > 0; });
    lock.unlock();
    job.Cancel();
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

}  // namespace
}  // namespace tavimo::catalogue
