#pragma once

#include <QObject>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/scan_job.h"

class QLabel;
class QPushButton;
class QStatusBar;
class QTimer;
class QWidget;

namespace tavimo::shell {

struct Globals;

// The scan of the folder being shown, run in the background: results go into
// the photo tables on the GUI thread as they arrive, the map is redrawn at
// most every 500 ms and once at the end, and the status bar shows progress
// with a cancel button (Esc cancels too). A new folder cancels the scan
// running. Lives on the GUI thread; never waits for the scan's threads except
// at Shutdown.
class ScanSession : public QObject {
 public:
  // `bar` shows the progress; it belongs to the main window and must outlive
  // Shutdown (or the session).
  ScanSession(Globals& globals, QStatusBar* bar);
  ~ScanSession() override;

  // Scans `folder` (globals.tables.current_folder), cancelling a scan running.
  void Start(const std::string& folder);
  // Stops the running scan; what was read so far stays shown. Nothing when none runs.
  void Cancel();
  // True while a scan runs.
  bool Running() const;
  // Cancels and waits for the scan's threads: for the end of the program.
  void Shutdown();

 private:
  // What the newest scan's threads hand on, taken on the GUI thread.
  void OnListed(std::shared_ptr<const catalogue::FolderListing> listing);
  void TakeRead();  // what the workers put in the inbox
  void OnFinished();
  void PublishAndRedraw();
  void ShowProgress();
  void Retire();

  Globals& globals_;
  QStatusBar* bar_;
  std::string folder_;
  std::uint64_t generation_ = 0;
  std::unique_ptr<catalogue::ScanJob> job_;
  std::unique_ptr<catalogue::TablesBuilder> builder_;
  std::vector<std::thread> retiring_;  // each ends a cancelled scan
  // Whether this session still takes results: the scan's threads post to the
  // GUI thread, which checks it there.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  // Results the scan's threads have read, until the GUI thread takes them.
  struct Inbox {
    std::mutex mutex;
    std::vector<catalogue::PhotoResult> results;
  };
  std::shared_ptr<Inbox> inbox_ = std::make_shared<Inbox>();
  QTimer* redraw_;
  QTimer* take_;
  QWidget* progress_;
  QLabel* progress_text_;
  QPushButton* cancel_;
};

}  // namespace tavimo::shell
