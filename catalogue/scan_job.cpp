#include "catalogue/scan_job.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "geo/conversion.h"

namespace tavimo::catalogue {
namespace {

// A worker hands on its results in batches of this many, or sooner when
// this much time has passed, so that a slow disk still shows progress.
constexpr std::size_t kBatchSize = 64;
constexpr std::chrono::milliseconds kBatchTime{100};

}  // namespace

PhotoResult ReadListedPhoto(const exif::ExifReader& reader, geo::ScriptHost& host, const std::string& folder,
                            std::uint32_t id, const std::string& name) {
  PhotoResult result;
  result.id = id;
  const exif::ReadOnlyFile photo(folder + name);
  // Removed, or replaced by something that is no photo, since it was listed.
  if (photo.Status() == exif::FileStatus::kMissing || photo.Status() == exif::FileStatus::kNotRegular) {
    result.gone = true;
    return result;
  }
  result.coordinates = ReadPhotoPosition(reader, host, photo);
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

ScanJob::ScanJob(std::string folder, std::vector<std::string> pointer_tags, unsigned threads, ScanCallbacks callbacks)
    : folder_(std::move(folder)),
      pointer_tags_(std::move(pointer_tags)),
      threads_(threads != 0 ? threads : std::max(1u, std::thread::hardware_concurrency())),
      callbacks_(std::move(callbacks)),
      coordinator_([this] { Run(); }) {}

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
  if (!cancelled_ && callbacks_.finished) callbacks_.finished();
}

void ScanJob::Work(std::shared_ptr<const FolderListing> listing) {
  // The engine belongs to the thread that made it: one per worker.
  geo::ScriptHost host;
  geo::LoadConversionScript(host);
  exif::ExifReader reader;
  reader.SetPointerTags(pointer_tags_);
  std::vector<PhotoResult> batch;
  auto since = std::chrono::steady_clock::now();
  const auto hand_on = [&] {
    if (!batch.empty() && callbacks_.read) callbacks_.read(std::move(batch));
    batch.clear();
    since = std::chrono::steady_clock::now();
  };
  while (!cancelled_) {
    const std::uint32_t id = next_id_++;
    if (id >= listing->names.size()) break;
    batch.push_back(ReadListedPhoto(reader, host, folder_, id, listing->names[id]));
    if (batch.size() >= kBatchSize || std::chrono::steady_clock::now() - since >= kBatchTime) hand_on();
  }
  if (!cancelled_) hand_on();
}

ScanReport ScanFolderInParallel(PhotoTables& tables, const std::vector<std::string>& pointer_tags, unsigned threads) {
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
               nullptr});
  job.Wait();
  TablesBuilder builder(tables, listing);
  builder.Add(std::move(results));
  builder.Publish();
  return builder.Report();
}

}  // namespace tavimo::catalogue
