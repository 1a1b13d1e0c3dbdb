#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>

#include "app/inspect.h"
#include "app/tests/run_tavimo.h"
#include "tests/support/jpeg_builder.h"

namespace tavimo::app {
namespace {

using testing::Order;
using testing::TempDir;

exif::ExifReader CameraReader() {
  exif::ExifReader reader;
  reader.SetPointerTags({"8825", "8769"});
  return reader;
}

TEST(InspectLine, DescribesACameraBlock) {
  const TempDir dir;
  const std::string thumb = "\xFF\xD8thumb\xFF\xD9";
  const std::string path = dir.Write(
      "a.jpg", testing::JpegWithExif(testing::PhotoBlock({Order::kBig, testing::GpsFix{-74.0445, 40.6892}, thumb})));
  const auto line = nlohmann::json::parse(InspectLine(CameraReader(), path));
  EXPECT_EQ(line["file"], path);
  EXPECT_EQ(line["byteorder"], false);
  EXPECT_EQ(line["off"], 13);
  EXPECT_EQ(line["longitude"], "74.0445");
  EXPECT_EQ(line["latitude"], "40.6892");
  EXPECT_EQ(line["thumbnail"], thumb.size());
  EXPECT_EQ(line["records"][0], (nlohmann::json{{"tag", "010F"}, {"type", 2}, {"num", 7}, {"value", "546176696D6F00"}}));
  EXPECT_EQ(line["records"][1]["tag"], "8825");
  EXPECT_EQ(line["records"][1]["value"].get<std::string>().size(), 8u);
}

TEST(InspectLine, KeepsTheDocumentedKeyOrder) {
  const TempDir dir;
  const std::string line = InspectLine(CameraReader(), dir.Write("plain.jpg", testing::JpegWithoutExif()));
  EXPECT_EQ(line.substr(line.find("\"byteorder\"")),
            R"("byteorder":true,"off":5,"records":[],"longitude":"0","latitude":"0","thumbnail":0})");
}

TEST(InspectCommand, PrintsOneLinePerFileAndFailsWithoutFiles) {
  const TempDir dir;
  const std::string a = dir.Write("a b.jpg", testing::JpegWithoutExif());
  const CommandOutput run = RunTavimo("--inspect '" + a + "' '" + dir.Path() + "/none.jpg'");
  EXPECT_EQ(run.status, 0);
  ASSERT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 2);
  EXPECT_EQ(nlohmann::json::parse(run.out.substr(0, run.out.find('\n')))["file"], a);

  EXPECT_EQ(RunTavimo("--inspect").status, 2);
  EXPECT_EQ(RunTavimo("--help").status, 0);
}

}  // namespace
}  // namespace tavimo::app
