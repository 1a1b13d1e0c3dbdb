// The window with folders of bad files: things that are no photos, broken
// links, paths past PATH_MAX, names that are not UTF-8 or that hold "[*]".
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QBuffer>
#include <QImage>
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
#include "shell/photo_list.h"
#include "shell/preview.h"
#include "tests/support/file_cases.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/recording_runtime.h"

namespace tavimo::shell {
namespace {

using testing::TempDir;

namespace fs = std::filesystem;

constexpr std::int64_t kFourGiB = std::int64_t{4} << 30;

std::string ColourJpeg(QColor colour) {
  QImage image(64, 48, QImage::Format_RGB32);
  image.fill(colour);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "JPEG");
  return bytes.toStdString();
}

QImage Decode(const std::string& png) {
  return QImage::fromData(reinterpret_cast<const uchar*>(png.data()), static_cast<int>(png.size()), "PNG");
}

// The photo table filled by hand, listed through a recording window.
class BadListing : public ::testing::Test {
 protected:
  void SetUp() override {
    globals_ = InitGlobals();
    globals_->window = &window_;
    globals_->tables.current_folder = dir_.Path() + "/";
  }
  void Add(const std::string& name) {
    globals_->tables.photo_names.push_back(name);
    globals_->tables.photo_table.push_back({0, 0});
  }

  TempDir dir_;
  testing::RecordingRuntime window_;
  std::unique_ptr<Globals> globals_;
};

TEST_F(BadListing, WhatIsNoPhotoGetsThePlaceholderAfterAFewReads) {
  testing::MakeSparseFile(dir_.Path() + "/huge.jpg", kFourGiB, "this is no photo");
  Add("huge.jpg");
  // Listed as a photo, replaced by a FIFO before the list is shown.
  ASSERT_EQ(::mkfifo((dir_.Path() + "/fifo.jpg").c_str(), 0644), 0);
  Add("fifo.jpg");
  Add("gone.jpg");
  const std::int64_t before = testing::BytesReadByProcess();
  ListPhotosAt(*globals_, "", "");
  const std::int64_t read = testing::BytesReadByProcess() - before;
  const std::vector<std::string> images = window_.ShownImages();
  ASSERT_EQ(images.size(), 3u);
  for (const std::string& image : images) EXPECT_EQ(image, PlaceholderThumbnail());
  if (before < 0) GTEST_SKIP() << "this system does not count the bytes a process reads";
  // The EXIF marker search stops after 16 MiB; the decoder gives up at once.
  EXPECT_LT(read, std::int64_t{24} << 20);
}

TEST_F(BadListing, PhotosPastPathMaxAndWithNamesThatAreNotUtf8GetTheirThumbnails) {
  const testing::DeepFolder deep(dir_.Path(), PATH_MAX + 100, {{"deep.jpg", ColourJpeg(Qt::red)}});
  Add(deep.Relative() + "/deep.jpg");
  const std::string name = std::string("caf") + testing::kNotUtf8 + ".jpg";
  dir_.Write(name, ColourJpeg(Qt::blue));
  Add(name);
  ListPhotosAt(*globals_, "", "");
  const std::vector<std::string> images = window_.ShownImages();
  ASSERT_EQ(images.size(), 2u);
  EXPECT_GT(QColor(Decode(images[0]).pixel(40, 40)).red(), 200);
  EXPECT_GT(QColor(Decode(images[1]).pixel(40, 40)).blue(), 200);
}

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
  catalogue::OnFolderDropped(IntakeOf(desktop_.State()), folder);
  QLabel* notice = Notice();
  ASSERT_NE(notice, nullptr);
  EXPECT_TRUE(notice->isVisible());
  EXPECT_EQ(notice->text(), QStringLiteral("2 个照片或子目录无法读取"));
  EXPECT_TRUE(notice->toolTip().contains(QStringLiteral("dangling.jpg：No such file or directory")));
  EXPECT_EQ(desktop_.State().tables.photo_names, (std::vector<std::string>{"a.jpg"}));
  // The bar takes its room from the window's area; every control stays in view.
  QWidget* area = desktop_.Window().centralWidget();
  for (QWidget* control : area->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    EXPECT_TRUE(area->rect().contains(control->geometry())) << control->objectName().toStdString();
  }
  // A folder read in full takes the notice away.
  dir_.Write("clean/b.jpg", ColourJpeg(Qt::red));
  catalogue::OnFolderDropped(IntakeOf(desktop_.State()), dir_.Path() + "/clean");
  EXPECT_FALSE(notice->isVisible());
}

TEST_F(BadFolderWindow, CaptionShowsTheFolderNameAsItStands) {
  const std::string folder = dir_.Path() + "/tit[*]le";
  dir_.Write("tit[*]le/a.jpg", ColourJpeg(Qt::red));
  catalogue::OnFolderDropped(IntakeOf(desktop_.State()), folder);
  const std::string caption = "Tavimo by:Orsel  - " + folder + "/";
  EXPECT_EQ(desktop_.Window().windowHandle()->title().toStdString(), caption);
  EXPECT_EQ(desktop_.Runtime().Caption(), caption);
  EXPECT_EQ(desktop_.State().tables.photo_names, (std::vector<std::string>{"a.jpg"}));
}

TEST_F(BadFolderWindow, PhotoWithANameThatIsNotUtf8IsPreviewed) {
  const std::string folder = dir_.Path() + "/trip" + testing::kNotUtf8;
  dir_.Write("trip" + std::string(1, testing::kNotUtf8) + "/caf\xE9.jpg", ColourJpeg(Qt::red));
  catalogue::OnFolderDropped(IntakeOf(desktop_.State()), folder);
  ASSERT_EQ(desktop_.State().tables.photo_names.size(), 1u);
  ListPhotosAt(desktop_.State(), "", "");
  QListWidget* list = desktop_.Window().PhotoList();
  ASSERT_EQ(list->count(), 1);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, list->visualItemRect(list->item(0)).center());
  EXPECT_EQ(desktop_.State().current_photo_path, folder + "/caf\xE9.jpg");
  const QColor middle = desktop_.Window().Preview()->Content().pixelColor(268, 228);
  EXPECT_GT(middle.red(), 200) << "the photo is drawn, not a blank canvas";
  EXPECT_LT(middle.green(), 60);
}

}  // namespace
}  // namespace tavimo::shell
