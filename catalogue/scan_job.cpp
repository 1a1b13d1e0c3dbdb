#include "catalogue/scan_job.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

#include <filesystem>
#include <utility>

#include "catalogue/scan_cache.h"
#include "geo/conversion.h"

namespace tavimo::catalogue {
namespace {

// A worker hands on its results in batches of this many, or sooner when
// this much time has passed, so that a slow disk still shows progress.
constexpr std::size_t kBatchSize = 64;
constexpr std::chrono::milliseconds kBatchTime{100};

constexpr const char* kCacheNotice = "扫描缓存未使用：";

PhotoResult FromFacts(std::uint32_t id, const PhotoFacts& facts) {
  return {id, {facts.gcj02.lng, facts.gcj02.lat}, false, ""};
}

}  // namespace

SharedScanCache::SharedScanCache(std::string path) : path_(std::move(path)) {}
SharedScanCache::~SharedScanCache() = default;

ScanCache* SharedScanCache::Get() {
  const std::lock_guard lock(mutex_);
  if (!tried_ && !path_.empty()) {
    tried_ = true;
    CacheError error;
    std::string rebuilt;
    cache_ = ScanCache::Open(path_, &error, &rebuilt);
    if (!cache_) {
      notice_ = kCacheNotice + error.message;
    } else if (!rebuilt.empty()) {
      notice_ = rebuilt;
    }
  }
  return cache_.get();
}

std::string SharedScanCache::TakeNotice() {
  const std::lock_guard lock(mutex_);
  return std::exchange(notice_, std::string());
}

void SharedScanCache::Note(const std::string& notice) {
  const std::lock_guard lock(mutex_);
  if (notice_.empty()) notice_ = kCacheNotice + notice;
}

PhotoResult ReadListedPhoto(const exif::ExifReader& reader, geo::ScriptHost& host, const std::string& folder,
                            std::uint32_t id, const std::string& name, PhotoFacts* facts) {
  const exif::ReadOnlyFile photo(folder + name);
  // Removed, or replaced by something that is no photo, since it was listed.
  if (photo.Status() == exif::FileStatus::kMissing || photo.Status() == exif::FileStatus::kNotRegular) {
    return {id, {}, true, ""};
  }
  const PhotoFacts read = ReadPhotoFacts(reader, host, photo);
  if (facts != nullptr) *facts = read;
  PhotoResult result = FromFacts(id, read);
  if (photo.Status() != exif::FileStatus::kOk) result.failure = photo.Reason();
  return result;
}

TablesBuilder::TablesBuilder(PhotoTables& tables, std::shared_ptr<const FolderListing> listing)
    : tables_(tables), listing_(std::move(listing)) {
  pending_.resize(listing_->names.size());
  arrived_.resize(listing_->names.size());
  tables_.photo_names.clear();
  tables_.photo_table.clear();
  tables_.map_points.Replace({});
}

void TablesBuilder::Add(std::vector<PhotoResult> results) {
  for (PhotoResult& result : results) {
    if (result.id >= pending_.size() || arrived_[result.id]) continue;
    arrived_[result.id] = true;
    ++read_;
    if (!result.failure.empty()) failures_.push_back({listing_->names[result.id], result.failure});
    pending_[result.id] = std::move(result);
  }
}

bool TablesBuilder::Publish() {
  PointList points;
  for (; next_ < pending_.size() && arrived_[next_]; ++next_) {
    PhotoResult& result = pending_[next_];
    if (result.gone) continue;
    if (OnMap(result.coordinates)) points.push_back(result.coordinates);
    tables_.photo_names.push_back(listing_->names[next_]);
    tables_.photo_table.push_back(std::move(result.coordinates));
    result = PhotoResult{};
  }
  located_ += points.size();
  const bool grew = !points.empty();
  tables_.map_points.Append(std::move(points));
  return grew;
}

bool TablesBuilder::Complete() const { return next_ == pending_.size(); }
std::size_t TablesBuilder::Listed() const { return pending_.size(); }
std::size_t TablesBuilder::Read() const { return read_; }
std::size_t TablesBuilder::Located() const { return located_; }

ScanReport TablesBuilder::Report() const {
  ScanReport report = listing_->report;
  report.failures.insert(report.failures.end(), failures_.begin(), failures_.end());
  std::sort(report.failures.begin(), report.failures.end(),
            [](const ReadFailure& a, const ReadFailure& b) { return a.name < b.name; });
  return report;
}

ScanJob::ScanJob(std::string folder, std::vector<std::string> pointer_tags, unsigned threads, ScanCallbacks callbacks,
                 std::shared_ptr<SharedScanCache> cache)
    : folder_(std::move(folder)),
      pointer_tags_(std::move(pointer_tags)),
      threads_(threads != 0 ? threads : std::max(1u, std::thread::hardware_concurrency())),
      callbacks_(std::move(callbacks)),
      cache_(std::move(cache)) {
  std::error_code error;
  cache_folder_ = std::filesystem::absolute(folder_, error).string();
  if (error) cache_folder_.clear();  // no keys, no cache
  coordinator_ = std::thread([this] { Run(); });
}

ScanJob::~ScanJob() {
  Cancel();
  Wait();
}

void ScanJob::Cancel() { cancelled_ = true; }

void ScanJob::Wait() {
  if (coordinator_.joinable()) coordinator_.join();
}

void ScanJob::Run() {
  auto listing = std::make_shared<const FolderListing>(ListPhotoFiles(folder_, &cancelled_));
  if (cancelled_) return;
  if (callbacks_.listed) callbacks_.listed(listing);
  std::vector<std::thread> workers;
  const unsigned count = std::min<unsigned>(threads_, static_cast<unsigned>(std::max<std::size_t>(1, listing->names.size())));
  for (unsigned i = 0; i < count; ++i) workers.emplace_back([this, listing] { Work(listing); });
  for (std::thread& worker : workers) worker.join();
  if (cancelled_) return;
  ScanCache* cache = cache_ && !cache_folder_.empty() ? cache_->Get() : nullptr;
  if (cache != nullptr) {
    std::vector<std::string> present;
    present.reserve(listing->names.size());
    for (const std::string& name : listing->names) present.push_back(cache_folder_ + name);
    CacheError error;
    if (!cache->ForgetMissing(cache_folder_, present, &error)) cache_->Note(error.message);
  }
  if (callbacks_.finished) callbacks_.finished();
}

void ScanJob::Work(std::shared_ptr<const FolderListing> listing) {
  // The engine belongs to the thread that made it: one per worker, made at
  // the first photo the cache does not know.
  std::optional<geo::ScriptHost> host;
  exif::ExifReader reader;
  reader.SetPointerTags(pointer_tags_);
  ScanCache* cache = cache_ && !cache_folder_.empty() && listing->stamps.size() == listing->names.size()
                         ? cache_->Get()
                         : nullptr;
  const std::uint32_t count = static_cast<std::uint32_t>(listing->names.size());
  std::vector<PhotoResult> batch;
  std::vector<CacheEntry> fresh;
  auto since = std::chrono::steady_clock::now();
  while (!cancelled_) {
    // Ids are taken a batch at a time, so that the cache is asked once a batch.
    const std::uint32_t first = next_id_.fetch_add(kBatchSize);
    if (first >= count) break;
    const std::uint32_t end = std::min<std::uint32_t>(count, first + static_cast<std::uint32_t>(kBatchSize));
    std::vector<std::optional<PhotoFacts>> cached(end - first);
    if (cache != nullptr) {
      std::vector<CacheKey> keys;
      for (std::uint32_t id = first; id < end; ++id) keys.push_back({cache_folder_ + listing->names[id], listing->stamps[id]});
      CacheError error;
      cached = cache->Find(keys, &error);
      if (cached.size() != keys.size()) cached.assign(keys.size(), std::nullopt);
    }
    for (std::uint32_t id = first; id < end && !cancelled_; ++id) {
      if (const auto& facts = cached[id - first]) {
        batch.push_back(FromFacts(id, *facts));
        continue;
      }
      if (!host) geo::LoadConversionScript(host.emplace());
      PhotoFacts facts;
      PhotoResult result = ReadListedPhoto(reader, *host, folder_, id, listing->names[id], &facts);
      // What could not be read, or is gone, is tried again next time.
      if (cache != nullptr && !result.gone && facts.status != PhotoStatus::kUnreadable) {
        fresh.push_back({{cache_folder_ + listing->names[id], listing->stamps[id]}, facts});
      }
      batch.push_back(std::move(result));
    }
    if (batch.size() >= kBatchSize || std::chrono::steady_clock::now() - since >= kBatchTime) {
      if (callbacks_.read) callbacks_.read(std::move(batch));
      batch.clear();
      since = std::chrono::steady_clock::now();
    }
    if (fresh.size() >= kBatchSize) {
      CacheError error;
      if (!cache->Store(fresh, &error)) cache_->Note(error.message);
      fresh.clear();
    }
  }
  if (cancelled_) return;
  if (!batch.empty() && callbacks_.read) callbacks_.read(std::move(batch));
  if (!fresh.empty()) {
    CacheError error;
    if (!cache->Store(fresh, &error)) cache_->Note(error.message);
  }
}

ScanReport ScanFolderInParallel(PhotoTables& tables, const std::vector<std::string>& pointer_tags, unsigned threads,
                                std::shared_ptr<SharedScanCache> cache) {
  std::mutex mutex;
  std::shared_ptr<const FolderListing> listing;
  std::vector<PhotoResult> results;
  ScanJob job(tables.current_folder, pointer_tags, threads,
              {[&](std::shared_ptr<const FolderListing> listed) {
                 const std::lock_guard lock(mutex);
                 listing = std::move(listed);
               },
               [&](std::vector<PhotoResult> read) {
                 const std::lock_guard lock(mutex);
                 std::move(read.begin(), read.end(), std::back_inserter(results));
               },
               nullptr},
              std::move(cache));
  job.Wait();
  TablesBuilder builder(tables, listing);
  builder.Add(std::move(results));
  builder.Publish();
  return builder.Report();
}

}  // namespace tavimo::catalogue
