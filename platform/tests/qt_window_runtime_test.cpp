#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDesktopServices>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QStatusBar>
#include <QTest>
#include <QWindow>
#include <climits>

#include "platform/canvas.h"
#include "platform/local_files.h"
#include "platform/qt_window_runtime.h"
#include "tests/support/file_cases.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/qt_images.h"

namespace tavimo::platform {
namespace {

using testing::TempDir;

constexpr std::int64_t kFourGiB = std::int64_t{4} << 30;

// Records the file URLs the desktop is asked to open instead of opening them.
class UrlCatcher : public QObject {
  Q_OBJECT

 public:
  UrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "Open"); }
  ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }

  QList<QUrl> urls;

 public slots:
  void Open(const QUrl& url) { urls.append(url); }
};

// A shown main window with a canvas in it, and the runtime over them.
class WindowRuntime : public ::testing::Test {
 protected:
  void SetUp() override {
    canvas_ = new Canvas;
    window_.setCentralWidget(canvas_);
    window_.resize(400, 320);
    window_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
  }
  QLabel* Notice() { return window_.statusBar()->findChild<QLabel*>(QStringLiteral("scanNotice")); }
  // A shown list of 80 x 80 icons in rows, laid out a batch at a time, as
  // the window's photo list is.
  static void ShowList(QListWidget& list) {
    list.setViewMode(QListView::IconMode);
    list.setIconSize(QSize(80, 80));
    list.setWrapping(true);
    list.setLayoutMode(QListView::Batched);
    list.resize(536, 129);
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
  }

  QMainWindow window_;
  Canvas* canvas_ = nullptr;
  QtWindowRuntime runtime_{&window_, nullptr, nullptr, nullptr};
  TempDir dir_;
};

TEST_F(WindowRuntime, CaptionShowsTheTextAsItStands) {
  const std::string captions[] = {"Tavimo by:Orsel  - /photos/tit[*]le/", "[*]", "a[*][*]b", "[*][*][*]x[*]",
                                  "旅行 2026"};
  for (const std::string& caption : captions) {
    runtime_.SetCaption(caption);
    // What the window system is given, after Qt has dealt with its placeholder.
    EXPECT_EQ(window_.windowHandle()->title().toStdString(), caption);
    EXPECT_EQ(runtime_.Caption(), caption);
  }
}

TEST_F(WindowRuntime, StatusNoticeIsAPlainLabelShownWhileThereIsText) {
  runtime_.SetStatusNotice("", "");
  EXPECT_EQ(Notice(), nullptr) << "no label before there is something to say";
  runtime_.SetStatusNotice("2 个照片或子目录无法读取",
                           "<b>bold</b>.jpg：Permission denied\nsub/：Input/output error");
  QLabel* notice = Notice();
  ASSERT_NE(notice, nullptr);
  EXPECT_TRUE(notice->isVisible());
  EXPECT_EQ(notice->text(), QStringLiteral("2 个照片或子目录无法读取"));
  EXPECT_EQ(notice->textFormat(), Qt::PlainText);
  EXPECT_TRUE(notice->toolTip().contains(QStringLiteral("&lt;b&gt;bold&lt;/b&gt;.jpg"))) << "names are not markup";
  EXPECT_TRUE(notice->toolTip().contains(QStringLiteral("<br>sub/")));
  runtime_.SetStatusNotice("", "");
  EXPECT_EQ(Notice(), notice);
  EXPECT_FALSE(notice->isVisible());
  // A runtime over a plain widget has no status bar to show it in.
  QWidget plain;
  QtWindowRuntime(&plain, nullptr, nullptr, nullptr).SetStatusNotice("x", "y");
  EXPECT_EQ(plain.findChild<QLabel*>(), nullptr);
}

struct PictureCase {
  const char* name;
  std::string folder;  // below the temp folder; "" for the temp folder itself
  std::string file;
};

// A solid image in Format_ARGB32, as pictures made off the GUI thread come.
QImage Solid(QColor colour, QSize size = QSize(80, 80)) {
  QImage image(size, QImage::Format_ARGB32);
  image.fill(colour);
  return image;
}

QColor IconColour(const QListWidgetItem* item) { return item->icon().pixmap(80, 80).toImage().pixelColor(40, 40); }

TEST_F(WindowRuntime, ReplacedImagesShowInEveryEntryThatShowsThem) {
  QListWidget list;
  ASSERT_NO_FATAL_FAILURE(ShowList(list));
  QtWindowRuntime runtime(&window_, &list, canvas_, nullptr);
  constexpr int kImages = 15;
  const int group = runtime.NewImageGroup(80, 80);
  const std::string grey = testing::EncodePng(Solid(Qt::gray));
  for (int i = 0; i < kImages; ++i) runtime.ImageGroupAdd(group, grey);
  // Two entries show each image.
  for (int i = 0; i < 2 * kImages; ++i) runtime.ListInsert("e" + std::to_string(i), i % kImages, i + 1);
  runtime.ListSetImageGroup(group);
  const QImage red = Solid(Qt::red);
  QImage lent = red.copy();
  runtime.ImageGroupReplace(group, 3, ViewOf(lent));
  // The pixels were lent for the call only: what becomes of them after does not show.
  lent.fill(Qt::green);
  for (int i = 0; i < list.count(); ++i) {
    const bool replaced = i % kImages == 3;
    EXPECT_EQ(IconColour(list.item(i)), replaced ? QColor(Qt::red) : QColor(Qt::gray)) << i;
  }
  // A group not shown takes the image, and shows it once shown.
  const int other = runtime.NewImageGroup(80, 80);
  for (int i = 0; i < kImages; ++i) runtime.ImageGroupAdd(other, grey);
  const QImage blue = Solid(Qt::blue);
  runtime.ImageGroupReplace(other, 0, ViewOf(blue));
  EXPECT_EQ(IconColour(list.item(0)), QColor(Qt::gray));
  runtime.ListSetImageGroup(other);
  EXPECT_EQ(IconColour(list.item(0)), QColor(Qt::blue));
  EXPECT_EQ(IconColour(list.item(3)), QColor(Qt::gray));
  // No such image, no such group, no picture: nothing changes.
  runtime.ImageGroupReplace(other, kImages, ViewOf(red));
  runtime.ImageGroupReplace(group, 0, ViewOf(red));
  runtime.ImageGroupReplace(other, 1, ViewOf(QImage()));
  runtime.ImageGroupReplace(other, 1, ViewOf(red.convertToFormat(QImage::Format_RGB888)));
  for (int i = 0; i < list.count(); ++i) {
    EXPECT_EQ(IconColour(list.item(i)), i % kImages == 0 ? QColor(Qt::blue) : QColor(Qt::gray)) << i;
  }
}

TEST_F(WindowRuntime, VisibleEntriesAreThoseInTheListsView) {
  QListWidget list;
  ASSERT_NO_FATAL_FAILURE(ShowList(list));
  QtWindowRuntime runtime(&window_, &list, canvas_, nullptr);
  EXPECT_LT(runtime.ListVisibleEntries().last, runtime.ListVisibleEntries().first) << "an empty list shows none";
  for (int i = 0; i < 500; ++i) runtime.ListInsert("图片" + std::to_string(i + 1), i, i + 1);
  EXPECT_EQ(runtime.ListVisibleEntries().first, 0) << "while the list is still being laid out";
  // Laid out a batch at a time, between events.
  for (int i = 0; i < 500 && !list.visualItemRect(list.item(499)).isValid(); ++i) QTest::qWait(10);
  const QRect view = list.viewport()->rect();
  const auto in_view = [&](int row) { return list.visualItemRect(list.item(row)).intersects(view); };
  for (const char* where : {"top", "bottom"}) {
    if (std::string(where) == "bottom") list.scrollToBottom();
    const EntryRange range = runtime.ListVisibleEntries();
    ASSERT_LE(range.first, range.last) << where;
    EXPECT_TRUE(in_view(range.first)) << where;
    EXPECT_TRUE(in_view(range.last)) << where;
    EXPECT_TRUE(range.first == 0 || !in_view(range.first - 1)) << where;
    EXPECT_TRUE(range.last == list.count() - 1 || !in_view(range.last + 1)) << where;
  }
  EXPECT_EQ(runtime.ListVisibleEntries().last, 499);
}

TEST_F(WindowRuntime, ImagesAreDrawnOnTheCanvasAsTheyAre) {
  QtWindowRuntime runtime(&window_, nullptr, canvas_, nullptr);
  runtime.CanvasClear();
  QImage blue = Solid(Qt::blue, QSize(40, 30));
  runtime.CanvasDrawImage(ViewOf(blue), {10, 20, 80, 60});
  blue.fill(Qt::green);
  EXPECT_EQ(canvas_->Content().pixelColor(50, 50), QColor(Qt::blue));
  EXPECT_EQ(canvas_->Content().pixelColor(5, 5), QColor(Qt::white));
  runtime.CanvasDrawImage(ViewOf(QImage()), {0, 0, 80, 60});
  runtime.CanvasDrawImage(ViewOf(Solid(Qt::red)), {0, 0, 0, 0});
  EXPECT_EQ(canvas_->Content().pixelColor(5, 5), QColor(Qt::white));
}

TEST_F(WindowRuntime, PicturesAreReadByTheirBytesAndDrawn) {
  const testing::DeepFolder deep(dir_.Path(), PATH_MAX + 10, {{"deep.jpg", testing::ColourJpeg(64, 48)}});
  const PictureCase cases[] = {
      {"plain", "", "plain.jpg"},
      {"name that is not UTF-8", "", std::string("caf") + testing::kNotUtf8 + ".jpg"},
      {"folder that is not UTF-8", std::string("trip") + testing::kNotUtf8, "a.jpg"},
      {"path longer than PATH_MAX", deep.Relative(), "deep.jpg"},
  };
  QtWindowRuntime runtime(&window_, nullptr, canvas_, nullptr);
  for (const PictureCase& c : cases) {
    const std::string relative = (c.folder.empty() ? "" : c.folder + "/") + c.file;
    if (c.folder != deep.Relative()) dir_.Write(relative, testing::ColourJpeg(64, 48));
    const Picture picture = runtime.LoadPicture(dir_.Path() + "/" + relative);
    EXPECT_EQ(picture.width, 64) << c.name;
    EXPECT_EQ(picture.height, 48) << c.name;
    runtime.CanvasClear();
    runtime.CanvasDraw(picture, {0, 0, 128, 96});
    EXPECT_GT(canvas_->Content().pixelColor(64, 48).red(), 200) << c.name;
    EXPECT_LT(canvas_->Content().pixelColor(64, 48).green(), 60) << c.name;
  }
}

TEST_F(WindowRuntime, WhatIsNoImageLoadsAsNothingAndIsBarelyRead) {
  const std::string fifo = dir_.Path() + "/fifo.jpg";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  const std::string huge = dir_.Path() + "/huge.jpg";
  testing::MakeSparseFile(huge, kFourGiB, "this is no photo");
  const std::int64_t before = testing::BytesReadByProcess();
  for (const std::string& path : {fifo, huge, dir_.Path(), dir_.Path() + "/missing.jpg"}) {
    const Picture picture = runtime_.LoadPicture(path);
    EXPECT_EQ(picture.width, 0) << path;
    EXPECT_EQ(picture.height, 0) << path;
    // Drawing a picture said to be there reads no more of it either.
    runtime_.CanvasDraw({path, 64, 48}, {0, 0, 64, 48});
  }
  if (before < 0) GTEST_SKIP() << "this system does not count the bytes a process reads";
  EXPECT_LT(testing::BytesReadByProcess() - before, std::int64_t{1} << 20);
}

TEST_F(WindowRuntime, DecodersReadABoundedPartOfAHugeFile) {
  QtWindowRuntime runtime(&window_, nullptr, canvas_, nullptr);
  // Begins as a JPEG does, then gigabytes without a marker: the decoder
  // would search them all for the next one.
  const std::string soi = dir_.Path() + "/soi.jpg";
  testing::MakeSparseFile(soi, kFourGiB, "\xFF\xD8");
  // A photo followed by a gigabyte of zeros, as a download cut short leaves it.
  const std::string cut = dir_.Path() + "/cut.jpg";
  testing::MakeSparseFile(cut, std::int64_t{1} << 30, testing::ColourJpeg(64, 48));
  std::int64_t before = testing::BytesReadByProcess();
  if (before < 0) GTEST_SKIP() << "this system does not count the bytes a process reads";
  EXPECT_EQ(runtime.LoadPicture(soi).width, 0);
  EXPECT_LE(testing::BytesReadByProcess() - before, kPhotoHeaderBytes + (std::int64_t{1} << 20)) << "the header only";
  before = testing::BytesReadByProcess();
  runtime.CanvasDraw({soi, 64, 48}, {0, 0, 64, 48});
  EXPECT_LE(testing::BytesReadByProcess() - before, kMaxPhotoBytes + (std::int64_t{1} << 20));

  const Picture picture = runtime.LoadPicture(cut);
  EXPECT_EQ(picture.width, 64);
  before = testing::BytesReadByProcess();
  runtime.CanvasClear();
  runtime.CanvasDraw(picture, {0, 0, 64, 48});
  EXPECT_LE(testing::BytesReadByProcess() - before, kMaxPhotoBytes + (std::int64_t{1} << 20));
  EXPECT_GT(canvas_->Content().pixelColor(32, 24).red(), 200) << "the photo itself is drawn";
}

TEST(LocalFiles, UrlsCarryTheBytesOfThePath) {
  for (const std::string& path :
       {std::string("/photos/a b/c.jpg"), std::string("/旅行/x.jpg"), std::string("/caf\xFF\xFE.jpg"),
        std::string("/100%/#1?.jpg"), std::string("/\xE6\x97.jpg")}) {
    const QUrl url = FileUrl(path);
    EXPECT_TRUE(url.isLocalFile()) << path;
    EXPECT_EQ(LocalPath(url), path);
  }
  EXPECT_EQ(FileUrl("/caf\xFF.jpg").toEncoded(), QByteArray("file:///caf%FF.jpg"));
  EXPECT_EQ(LocalPath(QUrl(QStringLiteral("https://example.org/a.jpg"))), "");
  EXPECT_EQ(LocalPath(QUrl::fromLocalFile(QStringLiteral("//server/share/a.jpg"))), "//server/share/a.jpg");
}

TEST_F(WindowRuntime, OpenHandsTheDesktopTheRealBytes) {
  UrlCatcher catcher;
  const std::string path = dir_.Write(std::string("caf") + testing::kNotUtf8 + " 1.jpg", testing::ColourJpeg(8, 8));
  runtime_.ShellOpen(path);
  ASSERT_EQ(catcher.urls.size(), 1);
  EXPECT_EQ(LocalPath(catcher.urls[0]), path);
  EXPECT_TRUE(catcher.urls[0].toEncoded().endsWith("caf%FF%201.jpg"));
}

}  // namespace
}  // namespace tavimo::platform

#include "qt_window_runtime_test.moc"
