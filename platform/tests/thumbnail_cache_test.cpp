#include "platform/thumbnail_cache.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QBuffer>
#include <QColor>
#include <QImageReader>
#include <QImageWriter>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/jpeg_builder.h"
#include "tests/support/scoped_env.h"

namespace tavimo::platform {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

constexpr std::int64_t kMTime = 1'700'000'000;
constexpr std::int64_t kSize = 123'456;
constexpr unsigned kPrivateFile = 0600;
constexpr unsigned kPrivateFolder = 0700;

std::string Png(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter(&buffer, "png").write(image);
  return bytes.toStdString();
}

// A w x h image, filled, carrying `texts` as PNG text.
QImage Image(int width, int height, const std::map<QString, QString>& texts = {}, QColor fill = Qt::darkCyan) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(fill);
  for (const auto& [key, value] : texts) image.setText(key, value);
  return image;
}

unsigned ModeOf(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// What a PNG file's own bytes say, read without Qt: the IHDR fields and the
// keywords of its text chunks (tEXt, zTXt, iTXt).
struct PngLayout {
  int bit_depth = 0;
  int color_type = 0;
  int interlace = -1;
  std::vector<std::string> text_keywords;
};
PngLayout ReadLayout(const std::string& png) {
  constexpr std::size_t kSignatureSize = 8;
  constexpr std::size_t kChunkOverhead = 12;  // length, type, CRC
  PngLayout layout;
  const auto u32 = [&png](std::size_t at) {
    return static_cast<std::size_t>(static_cast<unsigned char>(png[at])) << 24 |
           static_cast<std::size_t>(static_cast<unsigned char>(png[at + 1])) << 16 |
           static_cast<std::size_t>(static_cast<unsigned char>(png[at + 2])) << 8 |
           static_cast<std::size_t>(static_cast<unsigned char>(png[at + 3]));
  };
  for (std::size_t at = kSignatureSize; at + kChunkOverhead <= png.size();) {
    const std::size_t length = u32(at);
    const std::string type = png.substr(at + 4, 4);
    const std::string data = png.substr(at + 8, length);
    if (type == "IHDR" && data.size() >= 13) {
      layout.bit_depth = data[8];
      layout.color_type = data[9];
      layout.interlace = data[12];
    } else if (type == "tEXt" || type == "zTXt" || type == "iTXt") {
      layout.text_keywords.push_back(data.substr(0, data.find('\0')));
    }
    at += length + kChunkOverhead;
  }
  return layout;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ThumbnailCacheTest : public ::testing::Test {
 protected:
  std::string NormalFolder() const { return home_.Path() + "/thumbnails/normal"; }
  std::vector<std::string> FilesInCache() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(NormalFolder())) names.push_back(entry.path().filename());
    return names;
  }

  TempDir home_;
  TempDir photos_;
  const ThumbnailCache cache_{home_.Path()};
  const std::string photo_ = photos_.Path() + "/trip 2024/IMG_0001 #1.jpg";
};

TEST(FileUri, EscapesAsGlibDoes) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/home/jens/photos/me.png", "file:///home/jens/photos/me.png"},
      {"/a b", "file:///a%20b"},
      {"/\xE4\xB8\xAD\xE6\x96\x87.jpg", "file:///%E4%B8%AD%E6%96%87.jpg"},
      {"/x\xFF", "file:///x%FF"},
      {"/100%", "file:///100%25"},
      {"/a#b?c", "file:///a%23b%3Fc"},
      {"/!$&'()*+,-.:=@_~", "file:///!$&'()*+,-.:=@_~"},
      {"/\"<>[\\]^`{|};", "file:///%22%3C%3E%5B%5C%5D%5E%60%7B%7C%7D%3B"},
      {"/c\x01\t\x7F", "file:///c%01%09%7F"},
      {"/AZaz09/", "file:///AZaz09/"},
  };
  for (const auto& [path, uri] : cases) EXPECT_EQ(ThumbnailCache::FileUri(path), uri) << path;
}

TEST(ThumbnailPath, IsTheMd5OfTheUri) {
  const ThumbnailCache cache("/home/jens/.cache");
  EXPECT_EQ(cache.ThumbnailPath("/home/jens/photos/me.png"),
            "/home/jens/.cache/thumbnails/normal/c6ee772d9e49320e97ec29a7eb5b1697.png");
}

TEST_F(ThumbnailCacheTest, WritesWhatTheStandardAsks) {
  ASSERT_TRUE(cache_.Store(photo_, kMTime, kSize, Image(400, 300, {{"Thumb::Mimetype", "image/old"}})));

  const std::string path = cache_.ThumbnailPath(photo_);
  EXPECT_EQ(FilesInCache(), std::vector<std::string>{fs::path(path).filename()});
  EXPECT_EQ(ModeOf(path), kPrivateFile);
  EXPECT_EQ(ModeOf(home_.Path() + "/thumbnails"), kPrivateFolder);
  EXPECT_EQ(ModeOf(NormalFolder()), kPrivateFolder);

  QImageReader reader(QString::fromStdString(path));
  EXPECT_EQ(reader.format(), "png");
  const QImage stored = reader.read();
  EXPECT_EQ(stored.size(), QSize(128, 96));
  const std::map<std::string, std::string> expected = {
      {"Thumb::URI", ThumbnailCache::FileUri(photo_)},
      {"Thumb::MTime", "1700000000"},
      {"Thumb::Size", "123456"},
      {"Software", "Tavimo"},
  };
  std::map<std::string, std::string> texts;
  for (const QString& key : stored.textKeys()) texts[key.toStdString()] = stored.text(key).toStdString();
  EXPECT_EQ(texts, expected);

  const PngLayout layout = ReadLayout(ReadBytes(path));
  EXPECT_EQ(layout.bit_depth, 8);
  EXPECT_EQ(layout.color_type, 6);  // RGB with alpha
  EXPECT_EQ(layout.interlace, 0);
  EXPECT_EQ(layout.text_keywords, (std::vector<std::string>{"Software", "Thumb::MTime", "Thumb::Size", "Thumb::URI"}));
}

TEST_F(ThumbnailCacheTest, FitsWithoutCroppingOrEnlarging) {
  const std::vector<std::pair<QSize, QSize>> cases = {
      {{400, 300}, {128, 96}},  {{300, 400}, {96, 128}}, {{4000, 3000}, {128, 96}}, {{129, 10}, {128, 10}},
      {{128, 128}, {128, 128}}, {{50, 20}, {50, 20}},    {{1, 1}, {1, 1}},          {{1000, 1}, {128, 1}},
  };
  for (const auto& [source, fitted] : cases) {
    ASSERT_TRUE(cache_.Store(photo_, kMTime, kSize, Image(source.width(), source.height())));
    EXPECT_EQ(cache_.FindFresh(photo_, kMTime, kSize).size(), fitted) << source.width() << "x" << source.height();
  }

  // Left quarter red, right quarter blue: a fitted picture keeps both edges.
  QImage wide = Image(400, 200, {}, Qt::white);
  for (int y = 0; y < wide.height(); ++y) {
    for (int x = 0; x < wide.width() / 4; ++x) {
      wide.setPixelColor(x, y, Qt::red);
      wide.setPixelColor(wide.width() - 1 - x, y, Qt::blue);
    }
  }
  ASSERT_TRUE(cache_.Store(photo_, kMTime, kSize, wide));
  const QImage thumbnail = cache_.FindFresh(photo_, kMTime, kSize);
  ASSERT_EQ(thumbnail.size(), QSize(128, 64));
  EXPECT_EQ(thumbnail.pixelColor(2, 32), QColor(Qt::red));
  EXPECT_EQ(thumbnail.pixelColor(125, 32), QColor(Qt::blue));
  EXPECT_EQ(thumbnail.pixelColor(64, 32), QColor(Qt::white));
}

TEST_F(ThumbnailCacheTest, FreshOnlyForTheSameTimeAndSize) {
  ASSERT_TRUE(cache_.Store(photo_, kMTime, kSize, Image(200, 100)));
  struct Probe {
    const char* what;
    std::string path;
    std::int64_t mtime;
    std::int64_t size;
    bool fresh;
  };
  const std::vector<Probe> probes = {
      {"unchanged", photo_, kMTime, kSize, true},
      {"a second later", photo_, kMTime + 1, kSize, false},
      {"a second earlier", photo_, kMTime - 1, kSize, false},
      {"a byte larger", photo_, kMTime, kSize + 1, false},
      {"another file", photos_.Path() + "/other.jpg", kMTime, kSize, false},
  };
  for (const Probe& probe : probes) {
    const QImage found = cache_.FindFresh(probe.path, probe.mtime, probe.size);
    EXPECT_EQ(!found.isNull(), probe.fresh) << probe.what;
  }
}

TEST_F(ThumbnailCacheTest, JudgesFilesOtherProgramsLeft) {
  const QString uri = QString::fromStdString(ThumbnailCache::FileUri(photo_));
  const QString mtime = QString::number(kMTime);
  struct Case {
    const char* what;
    std::string bytes;
    bool fresh;
  };
  const std::vector<Case> cases = {
      {"garbage bytes", std::string(300, '\x42'), false},
      {"an empty file", "", false},
      {"a PNG without keys", Png(Image(64, 64)), false},
      {"another file's URI", Png(Image(64, 64, {{"Thumb::URI", uri + "x"}, {"Thumb::MTime", mtime}})), false},
      {"no modification time", Png(Image(64, 64, {{"Thumb::URI", uri}})), false},
      {"a time that is no number", Png(Image(64, 64, {{"Thumb::URI", uri}, {"Thumb::MTime", "soon"}})), false},
      {"larger than normal", Png(Image(256, 256, {{"Thumb::URI", uri}, {"Thumb::MTime", mtime}})), false},
      {"a truncated PNG", Png(Image(64, 64, {{"Thumb::URI", uri}, {"Thumb::MTime", mtime}})).substr(0, 60), false},
      {"no size, which is optional", Png(Image(64, 64, {{"Thumb::URI", uri}, {"Thumb::MTime", mtime}})), true},
      {"the same size",
       Png(Image(64, 64, {{"Thumb::URI", uri}, {"Thumb::MTime", mtime}, {"Thumb::Size", QString::number(kSize)}})),
       true},
  };
  fs::create_directories(NormalFolder());
  for (const Case& test : cases) {
    std::ofstream(cache_.ThumbnailPath(photo_), std::ios::binary | std::ios::trunc) << test.bytes;
    EXPECT_EQ(!cache_.FindFresh(photo_, kMTime, kSize).isNull(), test.fresh) << test.what;
  }

  // A FIFO in the cache is not waited on.
  fs::remove(cache_.ThumbnailPath(photo_));
  ASSERT_EQ(::mkfifo(cache_.ThumbnailPath(photo_).c_str(), kPrivateFile), 0);
  EXPECT_TRUE(cache_.FindFresh(photo_, kMTime, kSize).isNull());
}

TEST_F(ThumbnailCacheTest, AFailedStoreLeavesNoFile) {
  ASSERT_TRUE(cache_.Store(photo_, kMTime, kSize, Image(64, 64)));
  EXPECT_FALSE(cache_.Store(photo_, kMTime + 1, kSize, QImage()));
  EXPECT_FALSE(cache_.FindFresh(photo_, kMTime, kSize).isNull());

  // A folder where the thumbnail should go: the rename fails.
  const std::string other = photos_.Path() + "/blocked.jpg";
  fs::create_directories(cache_.ThumbnailPath(other) + "/inside");
  EXPECT_FALSE(cache_.Store(other, kMTime, kSize, Image(64, 64)));
  EXPECT_EQ(FilesInCache().size(), 2u);  // the first thumbnail and the folder in the way

  // A file where the folders should go.
  TempDir blocked_home;
  blocked_home.Write("thumbnails", "not a folder");
  EXPECT_FALSE(ThumbnailCache(blocked_home.Path()).Store(photo_, kMTime, kSize, Image(64, 64)));
}

TEST_F(ThumbnailCacheTest, ReadersNeverSeeAHalfWrittenFile) {
  ASSERT_TRUE(cache_.Store(photo_, kMTime, kSize, Image(128, 128)));
  constexpr int kWriters = 2;
  constexpr int kRounds = 30;
  std::vector<std::thread> threads;
  std::vector<int> failures(kWriters + 1, 0);
  for (int writer = 0; writer < kWriters; ++writer) {
    threads.emplace_back([this, &failures, writer] {
      for (int round = 0; round < kRounds; ++round) {
        failures[static_cast<std::size_t>(writer)] += cache_.Store(photo_, kMTime, kSize, Image(300, 300)) ? 0 : 1;
      }
    });
  }
  threads.emplace_back([this, &failures] {
    for (int round = 0; round < kRounds * kWriters; ++round) {
      failures.back() += cache_.FindFresh(photo_, kMTime, kSize).isNull() ? 1 : 0;
    }
  });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(kWriters + 1, 0));
  EXPECT_EQ(FilesInCache().size(), 1u);
}

TEST(DefaultCacheHome, IsTheUserCacheHome) {
  const testing::ScopedEnv xdg("XDG_CACHE_HOME", "/var/cache/someone");
  EXPECT_EQ(ThumbnailCache::DefaultCacheHome(), "/var/cache/someone");
}

TEST(DefaultCacheHome, NoneKnownMakesACacheOfNothing) {
  const testing::ScopedEnv xdg("XDG_CACHE_HOME", nullptr);
  const testing::ScopedEnv home("HOME", nullptr);
  EXPECT_EQ(ThumbnailCache::DefaultCacheHome(), "");
  // Not absolute, as the empty home is not: nothing is written relative to the working folder.
  const ThumbnailCache cache("relative");
  EXPECT_FALSE(cache.Store("/photos/a.jpg", kMTime, kSize, Image(8, 8)));
  EXPECT_TRUE(cache.FindFresh("/photos/a.jpg", kMTime, kSize).isNull());
  EXPECT_FALSE(fs::exists("relative"));
}

}  // namespace
}  // namespace tavimo::platform
