#include "shell/scan_session.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>
#include <iterator>
#include <thread>

#include "shell/folder_intake.h"
#include "shell/globals.h"

namespace tavimo::shell {
namespace {

constexpr int kRedrawMs = 500;
// How often the GUI thread takes what the scan's threads have read: often
// enough for the progress to move, seldom enough that a fast scan does not
// flood the event loop.
constexpr int kTakeMs = 100;
constexpr const char* kReading = "正在读取照片：";
constexpr const char* kLocated = "，有位置 ";
constexpr const char* kCancel = "取消";
constexpr const char* kCancelled = "已取消读取";
constexpr const char* kCancelledRead = "：已读 ";
constexpr const char* kNoPhotos = "目录中没有照片：";

void ShowProgressText(QLabel* label, std::size_t read, std::size_t listed, std::size_t located) {
  label->setText(QString::fromUtf8(kReading) + QString::number(read) + QStringLiteral(" / ") + QString::number(listed) +
                 QString::fromUtf8(kLocated) + QString::number(located));
}

}  // namespace

ScanSession::ScanSession(Globals& globals, QStatusBar* bar)
    : globals_(globals), bar_(bar), redraw_(new QTimer(this)), take_(new QTimer(this)), progress_(new QWidget) {
  redraw_->setSingleShot(true);
  redraw_->setInterval(kRedrawMs);
  connect(redraw_, &QTimer::timeout, this, [this] { PublishAndRedraw(); });
  take_->setInterval(kTakeMs);
  connect(take_, &QTimer::timeout, this, [this] { TakeRead(); });
  progress_->setObjectName(QStringLiteral("scanProgress"));
  auto* layout = new QHBoxLayout(progress_);
  layout->setContentsMargins(0, 0, 0, 0);
  progress_text_ = new QLabel(progress_);
  progress_text_->setObjectName(QStringLiteral("scanProgressText"));
  cancel_ = new QPushButton(QString::fromUtf8(kCancel), progress_);
  cancel_->setObjectName(QStringLiteral("scanCancel"));
  layout->addWidget(progress_text_);
  layout->addWidget(cancel_);
  connect(cancel_, &QPushButton::clicked, this, [this] { Cancel(); });
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), bar->window());
  connect(escape, &QShortcut::activated, this, [this] { Cancel(); });
  bar->addPermanentWidget(progress_);
  progress_->hide();
}

ScanSession::~ScanSession() { Shutdown(); }

void ScanSession::Start(const std::string& folder) {
  Retire();
  inbox_ = std::make_shared<Inbox>();
  folder_ = folder;
  const std::uint64_t generation = ++generation_;
  // Results are taken on the GUI thread, and only from the newest scan.
  const auto post = [this, alive = alive_, generation](auto handle) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [this, alive, generation, handle = std::move(handle)]() mutable {
          if (*alive && generation == generation_) handle();
        },
        Qt::QueuedConnection);
  };
  catalogue::ScanCallbacks callbacks{
      [this, post](std::shared_ptr<const catalogue::FolderListing> listing) {
        post([this, listing = std::move(listing)]() mutable { OnListed(std::move(listing)); });
      },
      [inbox = inbox_](std::vector<catalogue::PhotoResult> results) {
        // Taken by the GUI thread's timer: no event per batch.
        const std::lock_guard lock(inbox->mutex);
        std::move(results.begin(), results.end(), std::back_inserter(inbox->results));
      },
      [this, post] { post([this] { OnFinished(); }); }};
  job_ = std::make_unique<catalogue::ScanJob>(folder, globals_.reader->PointerTags(), 0, std::move(callbacks),
                                              globals_.scan_cache);
  progress_text_->setText(QString::fromUtf8(kReading));
  progress_->show();
  bar_->show();
}

void ScanSession::Cancel() {
  if (!job_) return;
  job_->Cancel();
  ++generation_;  // what is still on its way is dropped
  redraw_->stop();
  std::string notice = kCancelled;
  if (builder_) {
    PublishAndRedraw();
    notice += kCancelledRead + std::to_string(builder_->Read()) + " / " + std::to_string(builder_->Listed());
  }
  globals_.window->SetStatusNotice(notice, {});
  Retire();
}

bool ScanSession::Running() const { return job_ != nullptr; }

void ScanSession::Shutdown() {
  *alive_ = false;
  redraw_->stop();
  take_->stop();
  if (job_) job_->Cancel();
  job_.reset();  // waits: each worker ends after the photo it is reading
  builder_.reset();
  for (std::thread& retiring : retiring_) retiring.join();
  retiring_.clear();
}

void ScanSession::OnListed(std::shared_ptr<const catalogue::FolderListing> listing) {
  builder_ = std::make_unique<catalogue::TablesBuilder>(globals_.tables, std::move(listing));
  ShowProgress();
  take_->start();
}

void ScanSession::TakeRead() {
  std::vector<catalogue::PhotoResult> results;
  {
    const std::lock_guard lock(inbox_->mutex);
    results.swap(inbox_->results);
  }
  if (!builder_ || results.empty()) return;
  builder_->Add(std::move(results));
  ShowProgress();
  if (!redraw_->isActive()) redraw_->start();
}

void ScanSession::OnFinished() {
  TakeRead();
  redraw_->stop();
  if (builder_) {
    builder_->Publish();
    const catalogue::ScanReport report = builder_->Report();
    ShowScanResult(*globals_.window, report, folder_);
    const std::string cache_notice = globals_.scan_cache ? globals_.scan_cache->TakeNotice() : std::string();
    const bool all_read = report.failures.empty() && report.folder_error.empty() && !report.folder_gone;
    if (all_read && builder_->Listed() == 0) {
      globals_.window->SetStatusNotice(kNoPhotos + folder_, {});
    } else if (all_read && !cache_notice.empty()) {
      globals_.window->SetStatusNotice(cache_notice, {});
    }
  }
  Retire();
}

void ScanSession::PublishAndRedraw() {
  if (builder_ && builder_->Publish()) RedrawMap(*globals_.window);
}

void ScanSession::ShowProgress() {
  if (builder_) ShowProgressText(progress_text_, builder_->Read(), builder_->Listed(), builder_->Located());
}

void ScanSession::Retire() {
  take_->stop();
  progress_->hide();
  builder_.reset();
  if (!job_) return;
  job_->Cancel();
  // Its threads end after the photo each is reading; the GUI thread does not
  // wait for that, except at Shutdown.
  retiring_.emplace_back([job = std::move(job_)]() mutable { job.reset(); });
}

}  // namespace tavimo::shell
