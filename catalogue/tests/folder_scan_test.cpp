#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "catalogue/folder_scan.h"
#include "geo/conversion.h"
#include "tests/support/jpeg_builder.h"

namespace tavimo::catalogue {
namespace {

using testing::GpsFix;
using testing::Order;
using testing::TempDir;
using testing::TiffWriter;

std::string Photo(std::optional<GpsFix> gps, Order order = Order::kLittle) {
  return testing::JpegWithExif(testing::PhotoBlock({order, gps, ""}));
}

// A GPS directory with the given raw latitude and longitude values.
std::string RawGpsPhoto(const std::string& lat_ref, const std::string& lat, const std::string& lng_ref,
                        const std::string& lng, std::uint16_t type = 5) {
  TiffWriter w(Order::kBig);
  w.AddDirectory({w.Long(0x8825, 26)});
  w.AddDirectory({TiffWriter::Ascii(0x0001, lat_ref), {0x0002, type, 3, lat, std::nullopt},
                  TiffWriter::Ascii(0x0003, lng_ref), {0x0004, type, 3, lng, std::nullopt}});
  return testing::JpegWithExif(w.Bytes());
}

class Catalogue : public ::testing::Test {
 protected:
  void SetUp() override {
    reader_.SetPointerTags({"8825", "8769"});
    geo::LoadConversionScript(host_);
  }
  std::string Texts(const CoordinateList& coordinates) {
    return CoordinateTextAt(coordinates, 0) + "," + CoordinateTextAt(coordinates, 1);
  }
  CoordinateList Position(const std::string& bytes) {
    return ReadPhotoPosition(reader_, host_, exif::ReadOnlyFile(dir_.Write("p.jpg", bytes)));
  }
  ScanReport Scan(PhotoTables& tables, const std::string& folder) {
    tables.current_folder = folder + "/";
    return ScanFolder(tables, reader_, host_);
  }

  exif::ExifReader reader_;
  geo::ScriptHost host_;
  TempDir dir_;
};

TEST_F(Catalogue, ScanListsJpgFilesAndMapsThoseWithAPosition) {
  dir_.Write("a.jpg", Photo(GpsFix{116.3975, 39.9087}));
  dir_.Write("b.JPG", Photo(std::nullopt));
  dir_.Write("c.jpeg", Photo(GpsFix{116.3975, 39.9087}));
  PhotoTables tables;
  Scan(tables, dir_.Path());
  EXPECT_EQ(tables.photo_names, (std::vector<std::string>{"a.jpg", "b.JPG"}));
  ASSERT_EQ(tables.photo_table.size(), 2u);
  EXPECT_EQ(Texts(tables.photo_table[0]), "116.40374357265176,39.91010349934476");
  EXPECT_EQ(Texts(tables.photo_table[1]), "0.0,0.0");
  const auto points = tables.map_points.Snapshot();
  ASSERT_EQ(points->size(), 1u);
  EXPECT_EQ((*points)[0], tables.photo_table[0]);
}

TEST_F(Catalogue, SubFoldersAndAnyLetterCaseOfJpgAreListedSorted) {
  dir_.Write("trip/day 2/z.jpg", Photo(GpsFix{121.4905, 31.2404}));
  dir_.Write("B.Jpg", "");
  dir_.Write("a.jPG", "");
  dir_.Write("trip/x.jpg.txt", "");
  dir_.Write("jpg", "");
  std::filesystem::create_directories(dir_.Path() + "/folder.jpg");
  std::filesystem::create_directory_symlink(dir_.Path(), dir_.Path() + "/trip/loop");
  EXPECT_EQ(ListPhotoFiles(dir_.Path()).names, (std::vector<std::string>{"B.Jpg", "a.jPG", "trip/day 2/z.jpg"}));
  PhotoTables tables;
  Scan(tables, dir_.Path());
  EXPECT_EQ(Texts(tables.photo_table[2]), "121.49496625571157,31.238414170741756");
}

TEST_F(Catalogue, HemisphereReferencesSignThePosition) {
  // New York must stay west, outside the conversion region, not move to +74 in China.
  EXPECT_EQ(Texts(Position(Photo(GpsFix{-74.0445, 40.6892}, Order::kBig))), "-74.0445,40.6892");
  EXPECT_EQ(Texts(Position(Photo(GpsFix{151.2153, -33.8568}))), "151.2153,-33.8568");
  const TiffWriter w(Order::kBig);
  // A signed value with the opposite reference is negated back.
  EXPECT_EQ(Texts(Position(RawGpsPhoto("S", w.Rationals({{33, 0xFFFFFFFF}, {0, 1}, {0, 1}}), "W",
                                       w.Rationals({{74, 1}, {0, 1}, {0, 1}}), 10))),
            "-74,33");
  // Zero and broken values keep their texts: the references do not apply.
  EXPECT_EQ(Texts(Position(RawGpsPhoto("S", w.Rationals({{0, 1}, {0, 1}, {0, 1}}), "W",
                                       w.Rationals({{0, 1}, {0, 1}, {0, 1}})))),
            "0.0,0.0");
  // Lower-case or missing references are not hemispheres.
  EXPECT_EQ(Texts(Position(RawGpsPhoto("s", w.Rationals({{33, 1}, {0, 1}, {0, 1}}), "",
                                       w.Rationals({{4, 1}, {0, 1}, {0, 1}})))),
            "4,33");
}

TEST_F(Catalogue, UnreadablePositionCountsAsNone) {
  const TiffWriter w(Order::kBig);
  const std::string broken = RawGpsPhoto("N", w.Rationals({{0, 0}, {0, 0}, {0, 0}}), "E",
                                         w.Rationals({{0, 0}, {0, 0}, {0, 0}}));
  EXPECT_EQ(Texts(Position(broken)), "0.0,0.0");
  EXPECT_EQ(Texts(Position(testing::JpegWithoutExif())), "0.0,0.0");
  EXPECT_EQ(Texts(Position("not a jpeg")), "0.0,0.0");
}

TEST_F(Catalogue, OnlyLongitudesBeyondOneTenMillionthGoOnTheMap) {
  const TiffWriter w(Order::kBig);
  const auto photo = [&](std::uint32_t lng_numerator, std::uint32_t lng_denominator, std::uint32_t lat) {
    return RawGpsPhoto("N", w.Rationals({{lat, 1}, {0, 1}, {0, 1}}), "E",
                       w.Rationals({{lng_numerator, lng_denominator}, {0, 1}, {0, 1}}));
  };
  dir_.Write("1-exact.jpg", photo(1, 10000000, 5));
  dir_.Write("2-above.jpg", photo(15, 100000000, 5));
  dir_.Write("3-zero-lng.jpg", photo(0, 1, 5));
  dir_.Write("4-zero-lat.jpg", photo(2, 1, 0));
  PhotoTables tables;
  Scan(tables, dir_.Path());
  EXPECT_EQ(Texts(tables.photo_table[0]), "1e-7,5");
  const auto points = tables.map_points.Snapshot();
  ASSERT_EQ(points->size(), 2u);
  EXPECT_EQ((*points)[0], (CoordinateList{1.5e-7, 5}));
  EXPECT_EQ((*points)[1], (CoordinateList{2, 0}));
}

TEST_F(Catalogue, ScanOfAnEmptyOrMissingFolderEmptiesEverything) {
  dir_.Write("full/a.jpg", Photo(GpsFix{116.3975, 39.9087}));
  std::filesystem::create_directories(dir_.Path() + "/empty");
  for (const char* next : {"/empty", "/missing"}) {
    PhotoTables tables;
    Scan(tables, dir_.Path() + "/full");
    ASSERT_EQ(tables.map_points.Snapshot()->size(), 1u);
    const auto held = tables.map_points.Snapshot();
    Scan(tables, dir_.Path() + next);
    EXPECT_TRUE(tables.photo_names.empty()) << next;
    EXPECT_TRUE(tables.photo_table.empty()) << next;
    EXPECT_TRUE(tables.map_points.Snapshot()->empty()) << next;
    EXPECT_EQ(held->size(), 1u) << "a reader's snapshot outlives the scan";
  }
}

TEST(CoordinateText, ZeroIsWrittenWithAPointAndOthersAsTheEngineDoes) {
  EXPECT_EQ(CoordinateText(0), "0.0");
  EXPECT_EQ(CoordinateText(-0.0), "0.0");
  EXPECT_EQ(CoordinateText(116.40374357265176), "116.40374357265176");
  EXPECT_EQ(CoordinateText(1e-7), "1e-7");
  EXPECT_EQ(CoordinateText(-74.0445), "-74.0445");
  EXPECT_EQ(CoordinateTextAt({1.5}, 1), "");
}

TEST(MapPointStore, ReadersSeeWholeListsWhileScansReplaceThem) {
  MapPointStore store;
  std::atomic<bool> done = false;
  std::atomic<int> torn = 0;
  std::vector<std::thread> readers;
  for (int r = 0; r < 4; ++r) {
    readers.emplace_back([&] {
      while (!done) {
        const auto points = store.Snapshot();
        // Every list written below holds n copies of {n, n}.
        for (const CoordinateList& point : *points) {
          if (point[0] != static_cast<double>(points->size())) ++torn;
        }
      }
    });
  }
  for (int n = 1; n <= 2000; ++n) store.Replace(PointList(static_cast<std::size_t>(n % 50), {double(n % 50), double(n % 50)}));
  done = true;
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(torn, 0);
}

}  // namespace
}  // namespace tavimo::catalogue
