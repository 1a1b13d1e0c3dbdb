#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QImage>

#include <QTest>
#include <algorithm>
#include <climits>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <tuple>

#include "platform/thumbnail_cache.h"
#include "shell/globals.h"
#include "shell/photo_list.h"
#include "shell/preview.h"
#include "shell/tests/wait_for_pictures.h"
#include "tests/support/file_cases.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/qt_images.h"
#include "tests/support/recording_runtime.h"

namespace tavimo::shell {
namespace {

using testing::TempDir;

constexpr std::int64_t kFourGiB = std::int64_t{4} << 30;

constexpr int kGiveUpMs = 10000;  // how long a test waits for what must come before it fails

QImage Decode(const std::string& png) { return testing::DecodePng(png); }

// The image as the window was given it.
QImage Decode(const testing::RecordedImage& image) {
  if (!image.png.empty()) return Decode(image.png);
  if (image.pixels.empty()) return {};
  return QImage(reinterpret_cast<const uchar*>(image.pixels.data()), image.width, image.height,
                QImage::Format_ARGB32)
      .copy();
}

std::string Jpeg(int width, int height, QColor color = Qt::red) { return testing::ColourJpeg(width, height, color); }

// Grey level k of a few that stay apart after JPEG compression.
QColor Grey(int k) { return QColor(20 + 40 * k, 20 + 40 * k, 20 + 40 * k); }

// What the workers hand to the GUI thread, held until the test runs it, in
// the order it chooses. Outlives the workers that post to it.
class HeldPosts {
 public:
  PostToGui Post() const {
    return [shared = shared_](std::function<void()> task) {
      const std::lock_guard lock(shared->mutex);
      shared->tasks.push_back(std::move(task));
      shared->arrived.notify_all();
    };
  }
  // Waits until `count` tasks have been posted in all; false when they have
  // not after kGiveUpMs.
  bool WaitFor(std::size_t count) const {
    std::unique_lock lock(shared_->mutex);
    return shared_->arrived.wait_for(lock, std::chrono::milliseconds(kGiveUpMs),
                                     [&] { return shared_->tasks.size() + shared_->taken >= count; });
  }
  // The tasks posted since the last Take, in the order they came.
  std::vector<std::function<void()>> Take() {
    const std::lock_guard lock(shared_->mutex);
    std::vector<std::function<void()>> tasks = std::move(shared_->tasks);
    shared_->tasks.clear();
    shared_->taken += tasks.size();
    return tasks;
  }

 private:
  struct Shared {
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<std::function<void()>> tasks;
    std::size_t taken = 0;
  };
  std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
};

// Holds thumbnail makers until opened, and notes each photo they are given,
// on which thread, and whether they were told to stop while held.
class MakerGate {
 public:
  // The thumbnail maker: PhotoThumbnail once the gate is open; a null image
  // when cancelled while held.
  PictureMakers Makers() {
    return {[this](const exif::ExifReader& reader, const std::string& path, const Cancelled& cancelled) {
              std::unique_lock lock(mutex_);
              paths_.push_back(path);
              threads_.push_back(std::this_thread::get_id());
              entered_.notify_all();
              // Held without end by no fault of the code under test, it gives up.
              const auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGiveUpMs);
              while (!open_ && std::chrono::steady_clock::now() < give_up) {
                if (cancelled()) {
                  saw_cancel_ = true;
                  return QImage();
                }
                opened_.wait_for(lock, std::chrono::milliseconds(1));
              }
              lock.unlock();
              return PhotoThumbnail(reader, path, cancelled);
            },
            DecodePreview};
  }
  void Open() {
    const std::lock_guard lock(mutex_);
    open_ = true;
    opened_.notify_all();
  }
  // Waits until the makers have been given `count` photos; false after kGiveUpMs.
  bool WaitForEntries(std::size_t count) {
    std::unique_lock lock(mutex_);
    return entered_.wait_for(lock, std::chrono::milliseconds(kGiveUpMs), [&] { return paths_.size() >= count; });
  }
  std::vector<std::string> Paths() {
    const std::lock_guard lock(mutex_);
    return paths_;
  }
  std::vector<std::thread::id> Threads() {
    const std::lock_guard lock(mutex_);
    return threads_;
  }
  bool SawCancel() {
    const std::lock_guard lock(mutex_);
    return saw_cancel_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  std::condition_variable entered_;
  bool open_ = false;
  bool saw_cancel_ = false;
  std::vector<std::string> paths_;
  std::vector<std::thread::id> threads_;
};

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
  // The workers with these makers, `threads` thumbnail workers and `post`.
  void UseWorkers(PictureMakers makers, PostToGui post, unsigned threads = 0) {
    globals_->pictures = std::make_unique<PictureWorkers>(std::move(post), std::move(makers), threads);
  }
  // The calls that begin with `kind` and a space, without it.
  std::vector<std::string> Calls(const std::string& kind) const {
    std::vector<std::string> out;
    for (const std::string& call : window_.calls) {
      if (call.rfind(kind + " ", 0) == 0) out.push_back(call.substr(kind.size() + 1));
    }
    return out;
  }
  std::vector<std::string> Inserted() const { return Calls("insert"); }
  // The images the list shows, decoded.
  std::vector<QImage> ShownPictures() const {
    std::vector<QImage> out;
    for (const testing::RecordedImage& image : window_.ShownImages()) out.push_back(Decode(image));
    return out;
  }
  static void RunAll(std::vector<std::function<void()>> tasks) {
    for (const auto& task : tasks) task();
  }

  TempDir dir_;
  testing::RecordingRuntime window_;
  MakerGate gate_;  // outlives the workers that may hold on it
  HeldPosts held_;
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
  // Then each thumbnail takes its entry's place as it comes.
  ASSERT_TRUE(WaitForPictures(*globals_));
  std::vector<std::string> replaced = Calls("replace");
  std::sort(replaced.begin(), replaced.end());
  EXPECT_EQ(replaced, (std::vector<std::string>{"1 0 80x80", "1 1 80x80", "1 2 80x80"}));
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
  ASSERT_TRUE(WaitForPictures(*globals_));
  const std::vector<testing::RecordedImage> images = window_.ShownImages();
  ASSERT_EQ(images.size(), 3u);
  const QImage embedded = Decode(images[0]);
  const QImage plain = Decode(images[1]);
  EXPECT_EQ(embedded.size(), QSize(80, 80));
  EXPECT_EQ(plain.size(), QSize(80, 80));
  EXPECT_GT(QColor(embedded.pixel(40, 40)).blue(), 200) << "the embedded thumbnail, not the photo";
  EXPECT_GT(QColor(plain.pixel(40, 40)).red(), 200);
  EXPECT_EQ(images[2].png, PlaceholderThumbnail()) << "what is no image keeps the placeholder";
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
  ASSERT_TRUE(WaitForPictures(*globals_));
  const std::int64_t read = testing::BytesReadByProcess() - before;
  const std::vector<testing::RecordedImage> images = window_.ShownImages();
  ASSERT_EQ(images.size(), 4u);
  for (const testing::RecordedImage& image : images) EXPECT_EQ(image.png, PlaceholderThumbnail());
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
  ASSERT_TRUE(WaitForPictures(*globals_));
  const std::vector<QImage> images = ShownPictures();
  ASSERT_EQ(images.size(), 2u);
  EXPECT_GT(QColor(images[0].pixel(40, 40)).red(), 200);
  EXPECT_GT(QColor(images[1].pixel(40, 40)).blue(), 200);
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

TEST_F(Listing, EntriesAppearAtOnceAndTheirThumbnailsAreMadeOnWorkers) {
  constexpr int kPhotos = 20;
  for (int i = 0; i < kPhotos; ++i) AddPhoto("p" + std::to_string(i) + ".jpg", {1, 2}, Jpeg(64, 48, Qt::blue));
  UseWorkers(gate_.Makers(), PostToGuiThread());
  // The makers are held: the list is there before any thumbnail is made.
  ListPhotosAt(*globals_, "", "");
  EXPECT_EQ(Inserted().size(), static_cast<std::size_t>(kPhotos));
  const std::vector<testing::RecordedImage> placeholders = window_.ShownImages();
  ASSERT_EQ(placeholders.size(), static_cast<std::size_t>(kPhotos));
  for (const testing::RecordedImage& image : placeholders) EXPECT_EQ(image.png, PlaceholderThumbnail());
  EXPECT_TRUE(Calls("replace").empty());
  gate_.Open();
  ASSERT_TRUE(WaitForPictures(*globals_));
  const std::vector<std::thread::id> threads = gate_.Threads();
  EXPECT_EQ(threads.size(), static_cast<std::size_t>(kPhotos));
  EXPECT_EQ(std::count(threads.begin(), threads.end(), std::this_thread::get_id()), 0) << "none on the GUI thread";
  const std::vector<QImage> images = ShownPictures();
  ASSERT_EQ(images.size(), static_cast<std::size_t>(kPhotos));
  for (const QImage& image : images) EXPECT_GT(image.pixelColor(40, 40).blue(), 200);
}

TEST_F(Listing, EntryKGetsThumbnailKWhateverOrderTheThumbnailsArriveIn) {
  constexpr int kPhotos = 6;
  for (int k = 0; k < kPhotos; ++k) AddPhoto("p" + std::to_string(k) + ".jpg", {1, 2}, Jpeg(64, 48, Grey(k)));
  // One worker makes them in listing order; the GUI thread gets them in the
  // order of each case.
  UseWorkers({PhotoThumbnail, DecodePreview}, held_.Post(), 1);
  const std::pair<const char*, std::vector<int>> orders[] = {
      {"as made", {0, 1, 2, 3, 4, 5}},
      {"reversed", {5, 4, 3, 2, 1, 0}},
      {"mixed", {3, 0, 5, 1, 4, 2}},
  };
  std::size_t posted = 0;
  for (const auto& [name, order] : orders) {
    ListPhotosAt(*globals_, "", "");
    posted += kPhotos;
    ASSERT_TRUE(held_.WaitFor(posted)) << name;
    const std::vector<std::function<void()>> tasks = held_.Take();
    ASSERT_EQ(tasks.size(), static_cast<std::size_t>(kPhotos)) << name;
    for (int at : order) tasks[static_cast<std::size_t>(at)]();
    const std::vector<QImage> images = ShownPictures();
    ASSERT_EQ(images.size(), static_cast<std::size_t>(kPhotos)) << name;
    for (int k = 0; k < kPhotos; ++k) {
      EXPECT_NEAR(images[static_cast<std::size_t>(k)].pixelColor(40, 40).red(), Grey(k).red(), 8) << name << " " << k;
    }
  }
}

TEST_F(Listing, ANewListingDropsTheThumbnailsOfTheOneBeforeThatArriveLate) {
  for (int i = 0; i < 3; ++i) AddPhoto("here" + std::to_string(i) + ".jpg", {1, 2}, Jpeg(64, 48, Qt::red));
  for (int i = 0; i < 2; ++i) AddPhoto("there" + std::to_string(i) + ".jpg", {3, 4}, Jpeg(64, 48, Qt::blue));
  UseWorkers({PhotoThumbnail, DecodePreview}, held_.Post());
  ListPhotosAt(*globals_, "1", "");
  const int first_group = window_.shown_group;
  ASSERT_TRUE(held_.WaitFor(3));
  ListPhotosAt(*globals_, "3", "");
  ASSERT_TRUE(held_.WaitFor(5));
  window_.calls.clear();
  // The first listing's thumbnails reach the GUI thread after the second's
  // list is shown, before and after its own.
  RunAll(held_.Take());
  const std::string second_group = std::to_string(window_.shown_group);
  std::vector<std::string> replaced = Calls("replace");
  std::sort(replaced.begin(), replaced.end());
  EXPECT_EQ(replaced, (std::vector<std::string>{second_group + " 0 80x80", second_group + " 1 80x80"}));
  for (const testing::RecordedImage& image : window_.groups[first_group]) EXPECT_EQ(image.png, PlaceholderThumbnail());
  const std::vector<QImage> images = ShownPictures();
  ASSERT_EQ(images.size(), 2u);
  for (const QImage& image : images) EXPECT_GT(image.pixelColor(40, 40).blue(), 200);
  // The workers finish their bookkeeping just after their last hand-off.
  EXPECT_TRUE(WaitForPictures(*globals_));
}

struct MeanwhileCase {
  const char* name;
  std::function<void(Globals&, testing::RecordingRuntime&)> meanwhile;  // while the first click's preview is on its way
  std::size_t posts;                                                    // what the workers post in all
  std::vector<std::string> drawn;                                       // what reaches the canvas after it
};

TEST_F(Listing, APreviewOnItsWayIsDroppedForANewerClickOrListing) {
  AddPhoto("wide.jpg", {1, 2}, Jpeg(64, 48, Qt::red));
  AddPhoto("tall.jpg", {1, 2}, Jpeg(48, 64, Qt::blue));
  const MeanwhileCase cases[] = {
      {"newer click",
       [](Globals& globals, testing::RecordingRuntime& window) {
         window.selected = 1;
         ShowPreview(globals);
       },
       2, {"canvas clear", "draw image 342x456 97,0 342x456"}},
      {"click on no entry",
       [](Globals& globals, testing::RecordingRuntime& window) {
         window.selected = -1;
         ShowPreview(globals);
       },
       1, {}},
      {"new listing", [](Globals& globals, testing::RecordingRuntime&) { ListPhotosAt(globals, "9", ""); }, 1, {}},
  };
  for (const MeanwhileCase& c : cases) {
    HeldPosts held;
    UseWorkers({PhotoThumbnail, DecodePreview}, held.Post());
    window_.item_values = {1, 2};
    window_.selected = 0;
    ShowPreview(*globals_);
    ASSERT_TRUE(held.WaitFor(1)) << c.name;
    window_.calls.clear();
    c.meanwhile(*globals_, window_);
    ASSERT_TRUE(held.WaitFor(c.posts)) << c.name;
    std::vector<std::function<void()>> tasks = held.Take();
    // The newest first, the stale one last.
    std::reverse(tasks.begin(), tasks.end());
    const std::size_t before = window_.calls.size();
    RunAll(std::move(tasks));
    const auto since = window_.calls.begin() + static_cast<std::ptrdiff_t>(before);
    EXPECT_EQ(std::vector<std::string>(since, window_.calls.end()), c.drawn) << c.name;
  }
  EXPECT_GT(Decode(window_.drawn).pixelColor(171, 228).blue(), 200) << "the tall photo is the one drawn";
}

TEST_F(Listing, ThumbnailsInViewAreMadeFirstAndScrollingMovesOthersAhead) {
  constexpr int kPhotos = 12;
  for (int i = 0; i < kPhotos; ++i) AddPhoto("p" + std::to_string(i) + ".jpg", {1, 2});
  UseWorkers(gate_.Makers(), PostToGuiThread(), 1);
  window_.visible = {5, 7};
  ListPhotosAt(*globals_, "", "");
  ASSERT_TRUE(gate_.WaitForEntries(1));
  // The list scrolls while the first thumbnail is being made.
  window_.visible = {9, 10};
  MakeVisibleThumbnailsFirst(*globals_);
  gate_.Open();
  ASSERT_TRUE(WaitForPictures(*globals_));
  std::vector<std::string> made;
  for (const std::string& path : gate_.Paths()) made.push_back(path.substr(dir_.Path().size() + 1));
  EXPECT_EQ(made, (std::vector<std::string>{"p5.jpg", "p9.jpg", "p10.jpg", "p0.jpg", "p1.jpg", "p2.jpg", "p3.jpg",
                                            "p4.jpg", "p6.jpg", "p7.jpg", "p8.jpg", "p11.jpg"}));
  EXPECT_EQ(Calls("replace").size(), static_cast<std::size_t>(kPhotos));
}

TEST_F(Listing, ReleaseGlobalsStopsTheWorkersAndNothingIsShownAfter) {
  for (int i = 0; i < 8; ++i) AddPhoto("p" + std::to_string(i) + ".jpg", {1, 2});
  UseWorkers(gate_.Makers(), PostToGuiThread());
  ListPhotosAt(*globals_, "", "");
  window_.selected = 0;
  ShowPreview(*globals_);
  ASSERT_TRUE(gate_.WaitForEntries(1));
  ReleaseGlobals(*globals_);
  EXPECT_EQ(globals_->pictures, nullptr);
  EXPECT_TRUE(gate_.SawCancel()) << "the thumbnail being made was told to stop";
  const std::size_t given = gate_.Paths().size();
  gate_.Open();
  QTest::qWait(50);
  EXPECT_EQ(gate_.Paths().size(), given) << "no thumbnail is started after";
  EXPECT_TRUE(Calls("replace").empty());
  EXPECT_TRUE(Calls("draw").empty());
}

TEST(MakeThumbnail, ScalesTheWholeImageToTheSizeAsked) {
  const std::string jpeg = Jpeg(300, 100);
  EXPECT_EQ(MakeThumbnail(jpeg, 80, 80).size(), QSize(80, 80));
  EXPECT_EQ(MakeThumbnail(jpeg, 0, 0).size(), QSize(300, 100));
  EXPECT_EQ(MakeThumbnail(jpeg, 30, 0).size(), QSize(30, 100));
  EXPECT_TRUE(MakeThumbnail("", 80, 80).isNull());
  EXPECT_TRUE(MakeThumbnail("garbage", 80, 80).isNull());
  // A PNG source works as well.
  EXPECT_EQ(MakeThumbnail(testing::EncodePng(MakeThumbnail(jpeg, 0, 0)), 80, 80).size(), QSize(80, 80));
  // Cancelled, it gives up before decoding.
  EXPECT_TRUE(MakeThumbnail(jpeg, 80, 80, 0, [] { return true; }).isNull());
}

TEST(MakeThumbnail, TurnsTheImageAsItsOrientationSays) {
  // Left half red, right half blue; orientation 6 turns it a quarter clockwise.
  QImage image(200, 100, QImage::Format_RGB32);
  image.fill(Qt::red);
  for (int y = 0; y < 100; ++y) {
    for (int x = 100; x < 200; ++x) image.setPixel(x, y, qRgb(0, 0, 255));
  }
  const QImage turned = MakeThumbnail(testing::EncodePng(image), 0, 0, 6);
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

TEST_F(Listing, PreviewSetsThePathAtOnceAndDrawsThePhotoCentredWhenDecoded) {
  AddPhoto("a.jpg", {1, 2}, "not an image at all");
  AddPhoto("sub/b.jpg", {1, 2}, Jpeg(400, 300, Qt::blue));
  ListPhotosAt(*globals_, "", "");
  ASSERT_TRUE(WaitForPictures(*globals_));
  window_.calls.clear();
  window_.selected = 1;
  ShowPreview(*globals_);
  const std::string path = dir_.Path() + "/sub/b.jpg";
  EXPECT_EQ(globals_->current_photo_path, path);
  EXPECT_TRUE(window_.calls.empty()) << "nothing is decoded on the GUI thread";
  ASSERT_TRUE(WaitForPictures(*globals_));
  EXPECT_EQ(window_.calls, (std::vector<std::string>{"canvas clear", "draw image 536x402 0,27 536x402"}));
  EXPECT_GT(Decode(window_.drawn).pixelColor(268, 201).blue(), 200);
  // A picture that does not load leaves the path set and the canvas blank.
  window_.calls.clear();
  window_.selected = 0;
  ShowPreview(*globals_);
  EXPECT_EQ(globals_->current_photo_path, dir_.Path() + "/a.jpg");
  ASSERT_TRUE(WaitForPictures(*globals_));
  EXPECT_EQ(window_.calls, (std::vector<std::string>{"canvas clear"}));
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

TEST_F(Listing, ClickWithNothingSelectedPointsAtTheFolderAndBlanksTheCanvasAtOnce) {
  AddPhoto("a.jpg", {1, 2});
  window_.selected = -1;
  ShowPreview(*globals_);
  EXPECT_EQ(globals_->current_photo_path, dir_.Path() + "/");
  EXPECT_EQ(window_.calls, (std::vector<std::string>{"canvas clear"}));
}

}  // namespace
}  // namespace tavimo::shell

namespace tavimo::shell {
namespace {

// A photo that has no embedded thumbnail is decoded once: the thumbnail goes
// to the desktop's thumbnail cache, and a fresh entry there is used instead
// of the photo until the photo changes.
TEST(ThumbnailCacheInTheList, MadeOnceKeptAndUsedUntilThePhotoChanges) {
  testing::TempDir dir;
  const std::string path = dir.Write("blue.jpg", testing::ColourJpeg(640, 480, Qt::blue));
  exif::ExifReader reader;
  reader.SetPointerTags({"8825", "8769"});
  const platform::ThumbnailCache cache;
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  ASSERT_TRUE(cache.FindFresh(path, info.st_mtim.tv_sec, info.st_size).isNull());

  const QImage made = PhotoThumbnail(reader, path);
  ASSERT_EQ(made.size(), QSize(kThumbnailSize, kThumbnailSize));
  EXPECT_GT(made.pixelColor(40, 40).blue(), 200);
  const QImage kept = cache.FindFresh(path, info.st_mtim.tv_sec, info.st_size);
  ASSERT_FALSE(kept.isNull()) << "kept in the cache";
  EXPECT_EQ(kept.size(), QSize(128, 96)) << "the cache's own size, the photo's shape";

  // What the cache holds is what the list shows, while the photo is unchanged.
  QImage red(128, 96, QImage::Format_ARGB32);
  red.fill(Qt::red);
  ASSERT_TRUE(cache.Store(path, info.st_mtim.tv_sec, info.st_size, red));
  EXPECT_GT(PhotoThumbnail(reader, path).pixelColor(40, 40).red(), 200);

  // A newer photo makes the entry stale: decoded again.
  const timespec later[2] = {{0, UTIME_OMIT}, {info.st_mtim.tv_sec + 60, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), later, 0), 0);
  EXPECT_GT(PhotoThumbnail(reader, path).pixelColor(40, 40).blue(), 200);
}

}  // namespace
}  // namespace tavimo::shell
