// The window with folders of bad files: things that are no photos, broken
// links, paths past PATH_MAX, names that are not UTF-8 or that hold "[*]".
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QUrl>
#include <QWindow>
#include <climits>
#include <filesystem>

#include "platform/canvas.h"
#include "shell/desktop.h"
#include "shell/tests/wait_for_pictures.h"
#include "shell/tests/wait_for_scan.h"
#include "shell/photo_list.h"
#include "tests/support/file_cases.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/qt_images.h"

namespace tavimo::shell {
namespace {

using testing::TempDir;

namespace fs = std::filesystem;

std::string ColourJpeg(QColor colour) { return testing::ColourJpeg(64, 48, colour); }

TEST(DroppedNamesBytes, NamesThatAreNotUtf8KeepTheirBytes) {
  const QUrl url = QUrl::fromEncoded("file:///photos/trip%FF%FE/a%20b");
  EXPECT_EQ(DroppedNames({url, QUrl::fromLocalFile(QStringLiteral("/旅行"))}), "/photos/trip\xFF\xFE/a b\r\n/旅行");
}

class BadFolderWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    desktop_.Window().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&desktop_.Window()));
  }
  QLabel* Notice() { return desktop_.Window().findChild<QLabel*>(QStringLiteral("scanNotice")); }

  Desktop desktop_;
  TempDir dir_;
};

TEST_F(BadFolderWindow, StatusBarCountsWhatCouldNotBeReadAndTheRestIsThere) {
  const std::string folder = dir_.Path() + "/trip";
  dir_.Write("trip/a.jpg", ColourJpeg(Qt::red));
  fs::create_symlink("gone.jpg", folder + "/dangling.jpg");
  fs::create_symlink("loop.jpg", folder + "/loop.jpg");
  OnFolderDropped(IntakeOf(desktop_.State()), folder);
  ASSERT_TRUE(WaitForScan(desktop_.State()));
  // The window lays itself out again with its new status bar.
  QCoreApplication::sendPostedEvents();
  QLabel* notice = Notice();
  ASSERT_NE(notice, nullptr);
  EXPECT_TRUE(notice->isVisible());
  EXPECT_EQ(notice->text(), QStringLiteral("2 个照片或子目录无法读取"));
  EXPECT_TRUE(notice->toolTip().contains(QStringLiteral("dangling.jpg：No such file or directory")));
  EXPECT_EQ(desktop_.State().tables.photo_names, (std::vector<std::string>{"a.jpg"}));
  // The bar takes its room from the window's area; every control stays in view.
  EXPECT_LE(notice->mapTo(&desktop_.Window(), QPoint(0, 0)).y() + notice->height(), desktop_.Window().height());
  QWidget* area = desktop_.Window().centralWidget();
  for (QWidget* control : area->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    EXPECT_TRUE(area->rect().contains(control->geometry())) << control->objectName().toStdString();
  }
  QDir().mkpath(QStringLiteral(TAVIMO_ARTEFACTS_DIR));
  ASSERT_TRUE(desktop_.Window().grab().save(QStringLiteral(TAVIMO_ARTEFACTS_DIR "/scan_notice.png")));
  // A folder read in full takes the notice away.
  dir_.Write("clean/b.jpg", ColourJpeg(Qt::red));
  OnFolderDropped(IntakeOf(desktop_.State()), dir_.Path() + "/clean");
  ASSERT_TRUE(WaitForScan(desktop_.State()));
  EXPECT_FALSE(notice->isVisible());
}

TEST_F(BadFolderWindow, CaptionShowsTheFolderNameAsItStands) {
  const std::string folder = dir_.Path() + "/tit[*]le";
  dir_.Write("tit[*]le/a.jpg", ColourJpeg(Qt::red));
  OnFolderDropped(IntakeOf(desktop_.State()), folder);
  ASSERT_TRUE(WaitForScan(desktop_.State()));
  const std::string caption = "Tavimo by:Orsel  - " + folder + "/";
  EXPECT_EQ(desktop_.Window().windowHandle()->title().toStdString(), caption);
  EXPECT_EQ(desktop_.Runtime().Caption(), caption);
  EXPECT_EQ(desktop_.State().tables.photo_names, (std::vector<std::string>{"a.jpg"}));
}

TEST_F(BadFolderWindow, PhotoWithANameThatIsNotUtf8IsPreviewed) {
  const std::string folder = dir_.Path() + "/trip" + testing::kNotUtf8;
  dir_.Write("trip" + std::string(1, testing::kNotUtf8) + "/caf\xE9.jpg", ColourJpeg(Qt::red));
  OnFolderDropped(IntakeOf(desktop_.State()), folder);
  ASSERT_TRUE(WaitForScan(desktop_.State()));
  ASSERT_EQ(desktop_.State().tables.photo_names.size(), 1u);
  ListPhotosAt(desktop_.State(), "", "");
  QListWidget* list = desktop_.Window().PhotoList();
  ASSERT_EQ(list->count(), 1);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, list->visualItemRect(list->item(0)).center());
  EXPECT_EQ(desktop_.State().current_photo_path, folder + "/caf\xE9.jpg");
  ASSERT_TRUE(WaitForPictures(desktop_.State()));
  const QColor middle = desktop_.Window().Preview()->Content().pixelColor(268, 228);
  EXPECT_GT(middle.red(), 200) << "the photo is drawn, not a blank canvas";
  EXPECT_LT(middle.green(), 60);
}

}  // namespace
}  // namespace tavimo::shell
