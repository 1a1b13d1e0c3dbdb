// The folder scan in the window: it runs in the background with progress in
// the status bar, and a cancel or a newer folder ends it for good.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>

#include "shell/desktop.h"
#include "shell/tests/wait_for_scan.h"
#include "tests/support/jpeg_builder.h"

namespace tavimo::shell {
namespace {

const std::string kSamples = std::string(TAVIMO_SAMPLES_DIR) + "/";

class ScanInWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    desktop_.Window().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&desktop_.Window()));
  }
  void Open(const std::string& folder) { OnFolderDropped(IntakeOf(desktop_.State()), folder); }
  QWidget* Progress() { return desktop_.Window().findChild<QWidget*>(QStringLiteral("scanProgress")); }
  std::string Notice() {
    auto* notice = desktop_.Window().findChild<QLabel*>(QStringLiteral("scanNotice"));
    return notice != nullptr && notice->isVisible() ? notice->text().toStdString() : std::string();
  }

  Desktop desktop_;
  testing::TempDir dir_;
};

TEST_F(ScanInWindow, ProgressShowsWhileItRunsAndTheResultStaysWhenItEnds) {
  Open(kSamples);
  ASSERT_NE(Progress(), nullptr);
  EXPECT_TRUE(Progress()->isVisible()) << "shown while the scan runs";
  EXPECT_TRUE(desktop_.State().scan->Running());
  ASSERT_TRUE(WaitForScan(desktop_.State()));
  EXPECT_FALSE(Progress()->isVisible());
  EXPECT_EQ(desktop_.State().tables.photo_names.size(), 11u);
  EXPECT_EQ(desktop_.State().tables.map_points.Snapshot()->size(), 10u);
  EXPECT_EQ(Notice(), "") << "everything could be read";
}

TEST_F(ScanInWindow, ACancelledScanNeverShowsAsFinished) {
  desktop_.Window().activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&desktop_.Window()));
  for (const bool by_key : {false, true}) {
    // Cancelled before the event loop runs again, so before any result is taken.
    Open(kSamples);
    if (by_key) {
      QTest::keyClick(&desktop_.Window(), Qt::Key_Escape);
    } else {
      Progress()->findChild<QPushButton*>(QStringLiteral("scanCancel"))->click();
    }
    EXPECT_FALSE(desktop_.State().scan->Running()) << by_key;
    // Whatever the scan's threads still send is dropped.
    QTest::qWait(300);
    EXPECT_TRUE(desktop_.State().tables.photo_names.empty()) << by_key;
    EXPECT_EQ(Notice().rfind("已取消读取", 0), 0u) << by_key << " " << Notice();
    EXPECT_FALSE(Progress()->isVisible());
  }
}

TEST_F(ScanInWindow, ANewFolderReplacesTheScanRunning) {
  dir_.Write("one/only.jpg",
             testing::JpegWithExif(testing::PhotoBlock({testing::Order::kBig, testing::GpsFix{121.49, 31.24}, "", 0})));
  Open(kSamples);
  Open(dir_.Path() + "/one/");
  ASSERT_TRUE(WaitForScan(desktop_.State()));
  QTest::qWait(200);  // anything late from the first scan would land now
  EXPECT_EQ(desktop_.State().tables.current_folder, dir_.Path() + "/one/");
  EXPECT_EQ(desktop_.State().tables.photo_names, (std::vector<std::string>{"only.jpg"}));
  EXPECT_EQ(desktop_.State().tables.map_points.Snapshot()->size(), 1u);
}

TEST_F(ScanInWindow, AFolderWithoutPhotosSaysSo) {
  dir_.Write("empty/readme.txt", "no photos here");
  Open(dir_.Path() + "/empty/");
  ASSERT_TRUE(WaitForScan(desktop_.State()));
  EXPECT_EQ(Notice(), "目录中没有照片：" + dir_.Path() + "/empty/");
}

TEST_F(ScanInWindow, ClosingTheWindowDuringAScanEndsIt) {
  Open(kSamples);
  ReleaseGlobals(desktop_.State());
  EXPECT_EQ(desktop_.State().scan, nullptr) << "the scan's threads were ended with the rest";
}

}  // namespace
}  // namespace tavimo::shell
