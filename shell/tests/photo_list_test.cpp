#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <tuple>

#include "shell/globals.h"
#include "shell/photo_list.h"
#include "shell/preview.h"
#include "tests/support/file_cases.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/qt_images.h"
#include "tests/support/recording_runtime.h"

namespace tavimo::shell {
namespace {

using testing::TempDir;

constexpr std::int64_t kFourGiB = std::int64_t{4} << 30;

QImage Decode(const std::string& png) { return testing::DecodePng(png); }

std::string Jpeg(int width, int height, QColor color = Qt::red) { return testing::ColourJpeg(width, height, color); }

// The photo table of a folder, filled by hand: names and coordinate lists.
class Listing : public ::testing::Test {
 protected:
  void SetUp() override {
    globals_ = InitGlobals();
    globals_->window = &window_;
    globals_->tables.current_folder = dir_.Path() + "/";
  }
  void AddPhoto(const std::string& name, catalogue::CoordinateList coordinates, const std::string& bytes = "") {
    dir_.Write(name, bytes.empty() ? Jpeg(64, 48) : bytes);
    AddEntry(name, std::move(coordinates));
  }
  // An entry for a file the test makes itself.
  void AddEntry(const std::string& name, catalogue::CoordinateList coordinates = {0, 0}) {
    globals_->tables.photo_names.push_back(name);
    globals_->tables.photo_table.push_back(std::move(coordinates));
  }
  std::vector<std::string> Inserted() const {
    std::vector<std::string> out;
    for (const std::string& call : window_.calls) {
      if (call.rfind("insert ", 0) == 0) out.push_back(call.substr(7));
    }
    return out;
  }

  TempDir dir_;
  testing::RecordingRuntime window_;
  std::unique_ptr<Globals> globals_;
};

TEST_F(Listing, MatchesListEntriesInTableOrder) {
  for (int i = 1; i <= 9; ++i) {
    const bool here = i == 2 || i == 5 || i == 9;
    AddPhoto("p" + std::to_string(i) + ".jpg",
             here ? catalogue::CoordinateList{116.40374357265176, 39.91010349934476} : catalogue::CoordinateList{121.5, 31.2});
  }
  ListPhotosAt(*globals_, "116.4037435726", "39.9101034993");
  EXPECT_EQ(Inserted(), (std::vector<std::string>{"图片1 0 2", "图片2 1 5", "图片3 2 9"}));
  // Clear, blank, a group to fill, an empty group shown, ..., the filled group shown.
  ASSERT_GE(window_.calls.size(), 5u);
  EXPECT_EQ(window_.calls[0], "list clear");
  EXPECT_EQ(window_.calls[1], "canvas clear");
  EXPECT_EQ(window_.calls[2], "new group 1 80x80");
  EXPECT_EQ(window_.calls[3], "new group 2 80x80");
  EXPECT_EQ(window_.calls[4], "list group 2");
  EXPECT_EQ(window_.calls.back(), "list group 1");
  EXPECT_EQ(std::count_if(window_.calls.begin(), window_.calls.end(),
                          [](const std::string& c) { return c.rfind("add 1 ", 0) == 0; }),
            3);
}

TEST_F(Listing, PrefixesMatchByteForByte) {
  AddPhoto("a.jpg", {116.5, 39.25});
  AddPhoto("b.jpg", {16.5, 39.25});
  AddPhoto("c.jpg", {0, 0});
  const std::pair<std::pair<const char*, const char*>, std::vector<std::string>> cases[] = {
      {{"", ""}, {"图片1 0 1", "图片2 1 2", "图片3 2 3"}},
      {{"116.5", "39"}, {"图片1 0 1"}},
      {{"116.50", ""}, {}},          // longer than the stored text
      {{"16.5", ""}, {"图片1 0 2"}},  // a prefix of the text, not a number test
      {{"0.0", "0.0"}, {"图片1 0 3"}},
      {{"116.5", "39.3"}, {}},
  };
  for (const auto& [prefixes, expected] : cases) {
    window_.calls.clear();
    ListPhotosAt(*globals_, prefixes.first, prefixes.second);
    EXPECT_EQ(Inserted(), expected) << prefixes.first << " " << prefixes.second;
  }
}

TEST(MatchesPrefix, ComparesBytes) {
  EXPECT_TRUE(MatchesPrefix("abc", ""));
  EXPECT_TRUE(MatchesPrefix("", ""));
  EXPECT_TRUE(MatchesPrefix("abc", "abc"));
  EXPECT_FALSE(MatchesPrefix("ab", "abc"));
  EXPECT_FALSE(MatchesPrefix("Abc", "abc"));
}

TEST_F(Listing, TenthEntryIsCaptionedTen) {
  for (int i = 0; i < 11; ++i) AddPhoto("p" + std::to_string(i) + ".jpg", {1, 2});
  ListPhotosAt(*globals_, "1", "2");
  const std::vector<std::string> entries = Inserted();
  ASSERT_EQ(entries.size(), 11u);
  EXPECT_EQ(entries[9], "图片10 9 10");
  EXPECT_EQ(entries[10], "图片11 10 11");
}

TEST_F(Listing, EveryEntryGetsItsOwnEightyPixelImage) {
  // An embedded thumbnail, a photo without one, and a file that is no image.
  const std::string thumbnail = Jpeg(160, 120, Qt::blue);
  AddPhoto("embedded.jpg", {1, 2},
           testing::JpegWithExif(testing::PhotoBlock({testing::Order::kLittle, std::nullopt, thumbnail}),
                                 std::string_view(Jpeg(640, 480, Qt::green)).substr(2)));
  AddPhoto("plain.jpg", {1, 2}, Jpeg(640, 480, Qt::red));
  AddPhoto("broken.jpg", {1, 2}, "not an image at all");
  ListPhotosAt(*globals_, "", "");
  const std::vector<std::string> images = window_.ShownImages();
  ASSERT_EQ(images.size(), 3u);
  const QImage embedded = Decode(images[0]);
  const QImage plain = Decode(images[1]);
  EXPECT_EQ(embedded.size(), QSize(80, 80));
  EXPECT_EQ(plain.size(), QSize(80, 80));
  EXPECT_GT(QColor(embedded.pixel(40, 40)).blue(), 200) << "the embedded thumbnail, not the photo";
  EXPECT_GT(QColor(plain.pixel(40, 40)).red(), 200);
  EXPECT_EQ(images[2], PlaceholderThumbnail());
  EXPECT_EQ(Decode(PlaceholderThumbnail()).size(), QSize(80, 80));
}

TEST_F(Listing, WhatIsNoPhotoGetsThePlaceholderAfterAFewReads) {
  testing::MakeSparseFile(dir_.Path() + "/huge.jpg", kFourGiB, "this is no photo");
  AddEntry("huge.jpg");
  // Begins as a JPEG does, then no marker for gigabytes.
  testing::MakeSparseFile(dir_.Path() + "/soi.jpg", kFourGiB, "\xFF\xD8");
  AddEntry("soi.jpg");
  // Listed as a photo, replaced by a FIFO before the list is shown.
  ASSERT_EQ(::mkfifo((dir_.Path() + "/fifo.jpg").c_str(), 0644), 0);
  AddEntry("fifo.jpg");
  AddEntry("gone.jpg");
  const std::int64_t before = testing::BytesReadByProcess();
  ListPhotosAt(*globals_, "", "");
  const std::int64_t read = testing::BytesReadByProcess() - before;
  const std::vector<std::string> images = window_.ShownImages();
  ASSERT_EQ(images.size(), 4u);
  for (const std::string& image : images) EXPECT_EQ(image, PlaceholderThumbnail());
  if (before < 0) GTEST_SKIP() << "this system does not count the bytes a process reads";
  // Each huge file: the EXIF marker searched for in its first 16 MiB, a
  // picture header in its first 16 MiB.
  EXPECT_LT(read, std::int64_t{66} << 20);
}

TEST_F(Listing, PhotosPastPathMaxAndWithNamesThatAreNotUtf8GetTheirThumbnails) {
  const testing::DeepFolder deep(dir_.Path(), PATH_MAX + 100, {{"deep.jpg", Jpeg(64, 48, Qt::red)}});
  AddEntry(deep.Relative() + "/deep.jpg");
  const std::string name = std::string("caf") + testing::kNotUtf8 + ".jpg";
  dir_.Write(name, Jpeg(64, 48, Qt::blue));
  AddEntry(name);
  ListPhotosAt(*globals_, "", "");
  const std::vector<std::string> images = window_.ShownImages();
  ASSERT_EQ(images.size(), 2u);
  EXPECT_GT(QColor(Decode(images[0]).pixel(40, 40)).red(), 200);
  EXPECT_GT(QColor(Decode(images[1]).pixel(40, 40)).blue(), 200);
}

TEST_F(Listing, SecondListingReplacesTheFirst) {
  AddPhoto("a.jpg", {1, 2});
  AddPhoto("b.jpg", {3, 4});
  ListPhotosAt(*globals_, "1", "");
  window_.calls.clear();
  ListPhotosAt(*globals_, "3", "");
  EXPECT_EQ(window_.calls[0], "list clear");
  EXPECT_EQ(window_.calls[1], "canvas clear");
  EXPECT_EQ(Inserted(), (std::vector<std::string>{"图片1 0 2"}));
  EXPECT_EQ(window_.item_values, (std::vector<std::int64_t>{2}));
}

TEST(MakeThumbnail, ScalesTheWholeImageToTheSizeAsked) {
  const std::string jpeg = Jpeg(300, 100);
  EXPECT_EQ(Decode(MakeThumbnail(jpeg, 80, 80)).size(), QSize(80, 80));
  EXPECT_EQ(Decode(MakeThumbnail(jpeg, 0, 0)).size(), QSize(300, 100));
  EXPECT_EQ(Decode(MakeThumbnail(jpeg, 30, 0)).size(), QSize(30, 100));
  EXPECT_EQ(MakeThumbnail("", 80, 80), "");
  EXPECT_EQ(MakeThumbnail("garbage", 80, 80), "");
  // A PNG source works as well.
  EXPECT_EQ(Decode(MakeThumbnail(MakeThumbnail(jpeg, 0, 0), 80, 80)).size(), QSize(80, 80));
}

TEST(MakeThumbnail, TurnsTheImageAsItsOrientationSays) {
  // Left half red, right half blue; orientation 6 turns it a quarter clockwise.
  QImage image(200, 100, QImage::Format_RGB32);
  image.fill(Qt::red);
  for (int y = 0; y < 100; ++y) {
    for (int x = 100; x < 200; ++x) image.setPixel(x, y, qRgb(0, 0, 255));
  }
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  const QImage turned = Decode(MakeThumbnail(bytes.toStdString(), 0, 0, 6));
  ASSERT_EQ(turned.size(), QSize(100, 200));
  EXPECT_GT(QColor(turned.pixel(50, 20)).red(), 200);   // the left half went to the top
  EXPECT_GT(QColor(turned.pixel(50, 180)).blue(), 200);
}

struct RectCase {
  const char* name;
  int width, height;
  platform::Rect expected;
};

class PreviewRectTable : public ::testing::TestWithParam<RectCase> {};

TEST_P(PreviewRectTable, FitsInsideTheCanvas) {
  const platform::Rect r = PreviewRect(GetParam().width, GetParam().height, 536, 456);
  const platform::Rect e = GetParam().expected;
  EXPECT_EQ(std::tie(r.left, r.top, r.width, r.height), std::tie(e.left, e.top, e.width, e.height));
  EXPECT_GE(r.left, 0);
  EXPECT_GE(r.top, 0);
  EXPECT_LE(r.left + r.width, 536);
  EXPECT_LE(r.top + r.height, 456);
}

INSTANTIATE_TEST_SUITE_P(
    Photos, PreviewRectTable,
    ::testing::Values(RectCase{"Landscape", 4000, 3000, {0, 27, 536, 402}},
                      RectCase{"Portrait", 3000, 4000, {97, 0, 342, 456}},
                      RectCase{"Square", 1000, 1000, {40, 0, 456, 456}},
                      // Fitted to the width it would overflow by 13 rows: fitted to the height.
                      RectCase{"NearlySquareLandscape", 1000, 900, {15, 0, 506, 456}},
                      RectCase{"Panorama", 6000, 1000, {0, 183, 536, 89}},
                      RectCase{"NotLoaded", 0, 0, {0, 0, 0, 0}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(Listing, PreviewSetsThePathBeforeLoadingAndDrawsCentred) {
  AddPhoto("a.jpg", {1, 2});
  AddPhoto("sub/b.jpg", {1, 2});
  ListPhotosAt(*globals_, "", "");
  window_.calls.clear();
  window_.selected = 1;
  window_.picture_width = 4000;
  window_.picture_height = 3000;
  ShowPreview(*globals_);
  const std::string path = dir_.Path() + "/sub/b.jpg";
  EXPECT_EQ(globals_->current_photo_path, path);
  EXPECT_EQ(window_.calls, (std::vector<std::string>{"load " + path, "canvas clear", "draw " + path + " 0,27 536x402"}));
  // A picture that does not load leaves the path set and the canvas blank.
  window_.calls.clear();
  window_.selected = 0;
  window_.picture_width = window_.picture_height = 0;
  ShowPreview(*globals_);
  EXPECT_EQ(globals_->current_photo_path, dir_.Path() + "/a.jpg");
  EXPECT_EQ(window_.calls.back(), "draw " + dir_.Path() + "/a.jpg 0,0 0x0");
}

TEST_F(Listing, OpenUsesTheLastPreviewEvenAfterTheCanvasWasCleared) {
  OpenCurrentPhoto(*globals_);
  EXPECT_TRUE(window_.calls.empty()) << "nothing previewed yet: nothing opens";
  AddPhoto("a.jpg", {1, 2});
  ListPhotosAt(*globals_, "", "");
  window_.selected = 0;
  ShowPreview(*globals_);
  ListPhotosAt(*globals_, "9", "");
  window_.calls.clear();
  OpenCurrentPhoto(*globals_);
  EXPECT_EQ(window_.calls, (std::vector<std::string>{"open " + dir_.Path() + "/a.jpg"}));
}

TEST_F(Listing, ClickWithNothingSelectedPointsAtTheFolder) {
  AddPhoto("a.jpg", {1, 2});
  window_.selected = -1;
  ShowPreview(*globals_);
  EXPECT_EQ(globals_->current_photo_path, dir_.Path() + "/");
}

}  // namespace
}  // namespace tavimo::shell
