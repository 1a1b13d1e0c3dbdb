#include <gtest/gtest.h>

#include <filesystem>

#include <nlohmann/json.hpp>
#include <string>

#include "app/export.h"
#include "app/tests/run_tavimo.h"
#include "tests/support/jpeg_builder.h"

namespace tavimo::app {
namespace {

using testing::GpsFix;
using testing::Order;
using testing::TempDir;

TEST(ExportCsv, QuotesFieldsAsRfc4180Requires) {
  catalogue::PhotoTables tables;
  tables.photo_names = {"plain.jpg", "with,comma.jpg", "say \"cheese\".jpg", "line\nbreak.jpg", "short.jpg"};
  tables.photo_table = {{116.5, 39.25}, {0, 0}, {-74.0445, 40.6892}, {1e-7, 2}, {}};
  EXPECT_EQ(ExportCsv(tables),
            "path,longitude,latitude\r\n"
            "plain.jpg,116.5,39.25\r\n"
            "\"with,comma.jpg\",0.0,0.0\r\n"
            "\"say \"\"cheese\"\".jpg\",-74.0445,40.6892\r\n"
            "\"line\nbreak.jpg\",1e-7,2\r\n"
            "short.jpg,,\r\n");
}

TEST(ExportGeoJson, HoldsTheMapPointsWithTheirPaths) {
  catalogue::PhotoTables tables;
  tables.photo_names = {"a.jpg", "none.jpg", "west.jpg"};
  tables.photo_table = {{116.40374357265176, 39.91010349934476}, {0, 0}, {-74.0445, 40.6892}};
  const auto json = nlohmann::json::parse(ExportGeoJson(tables));
  EXPECT_EQ(json["type"], "FeatureCollection");
  ASSERT_EQ(json["features"].size(), 2u);
  EXPECT_EQ(json["features"][0]["geometry"],
            (nlohmann::json{{"type", "Point"}, {"coordinates", {116.40374357265176, 39.91010349934476}}}));
  EXPECT_EQ(json["features"][0]["properties"]["path"], "a.jpg");
  EXPECT_EQ(json["features"][1]["properties"]["path"], "west.jpg");
}

TEST(ExportCommand, ScansTheFolderGivenOnTheCommandLine) {
  const TempDir dir;
  dir.Write("sub/a.jpg", testing::JpegWithExif(testing::PhotoBlock({Order::kBig, GpsFix{116.3975, 39.9087}, ""})));
  dir.Write("b.jpg", testing::JpegWithoutExif());
  const CommandOutput csv = RunTavimo("--export csv '" + dir.Path() + "'");
  EXPECT_EQ(csv.status, 0);
  EXPECT_EQ(csv.out, "path,longitude,latitude\r\nb.jpg,0.0,0.0\r\nsub/a.jpg,116.40374357265176,39.91010349934476\r\n");
  const CommandOutput geojson = RunTavimo("--export geojson '" + dir.Path() + "/'");
  EXPECT_EQ(geojson.status, 0);
  EXPECT_EQ(nlohmann::json::parse(geojson.out)["features"][0]["properties"]["path"], "sub/a.jpg");
}

TEST(ExportCommand, KeepsWhatItReadInTheScanCacheUnlessToldNot) {
  const TempDir dir;
  dir.Write("photos/a.jpg", testing::JpegWithExif(testing::PhotoBlock({Order::kBig, GpsFix{116.3975, 39.9087}, ""})));
  const std::string photos = "'" + dir.Path() + "/photos'";
  const std::string database = dir.Path() + "/cache/tavimo/scan-cache.sqlite3";
  const std::string in_cache = "env XDG_CACHE_HOME='" + dir.Path() + "/cache' ";
  const CommandOutput bypassed = RunTavimo("--no-cache --export csv " + photos, "", in_cache);
  EXPECT_EQ(bypassed.status, 0);
  EXPECT_FALSE(std::filesystem::exists(database)) << "--no-cache keeps nothing";
  const CommandOutput first = RunTavimo("--export csv " + photos, "", in_cache);
  EXPECT_TRUE(std::filesystem::exists(database));
  const CommandOutput again = RunTavimo("--export csv " + photos, "", in_cache);
  EXPECT_EQ(first.out, bypassed.out);
  EXPECT_EQ(again.out, bypassed.out) << "the same from the cache";
}

TEST(ExportCommand, RefusesWhatIsNotAFolder) {
  const TempDir dir;
  const std::string file = dir.Write("a.jpg", "");
  for (const std::string& arguments :
       {"--export csv '" + dir.Path() + "/missing'", "--export geojson '" + file + "'", "--export xml '" + dir.Path() + "'",
        std::string("--export csv")}) {
    const CommandOutput run = RunTavimo(arguments);
    EXPECT_EQ(run.status, 2) << arguments;
    EXPECT_NE(run.out.find("tavimo: "), std::string::npos) << arguments;
  }
}

TEST(ConvertCommand, ConvertsEachLine) {
  const CommandOutput run = RunTavimo("--convert", "116.3975,39.9087\r\n0,0\n1.#INF,39.9\n2.50,48.50");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "116.40374357265176,39.91010349934476\n0,0\n\n2.5,48.5\n");
}

}  // namespace
}  // namespace tavimo::app
