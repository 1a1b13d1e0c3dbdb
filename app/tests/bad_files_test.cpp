// The export and the JSON texts with folders of bad files and names that are
// not UTF-8.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "app/export.h"
#include "app/json_text.h"
#include "app/tests/run_tavimo.h"
#include "tests/support/file_cases.h"
#include "tests/support/jpeg_builder.h"

namespace tavimo::app {
namespace {

using testing::TempDir;

namespace fs = std::filesystem;

constexpr std::int64_t kFourGiB = std::int64_t{4} << 30;

std::string GpsPhoto() {
  return testing::JpegWithExif(testing::PhotoBlock({testing::Order::kBig, testing::GpsFix{116.3975, 39.9087}, ""}));
}

void AppendUtf8(std::string& out, unsigned int code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Reads the JSON string that starts at `text[at]` (its opening quote) back
// into bytes, as a reader of the surrogate escapes does: U+DC80..U+DCFF
// become the bytes 0x80..0xFF, other code points UTF-8. Moves `at` past it.
std::string DecodeJsonString(const std::string& text, std::size_t& at) {
  if (text.at(at) != '"') throw std::invalid_argument("no string at " + std::to_string(at));
  std::string out;
  for (++at; text.at(at) != '"'; ++at) {
    if (text[at] != '\\') {
      out += text[at];
      continue;
    }
    const char escape = text.at(++at);
    switch (escape) {
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'u': {
        const unsigned int code = static_cast<unsigned int>(std::stoul(text.substr(at + 1, 4), nullptr, 16));
        at += 4;
        if (code >= 0xDC80 && code <= 0xDCFF) {
          out += static_cast<char>(code - 0xDC00);
        } else {
          AppendUtf8(out, code);
        }
        break;
      }
      default: out += escape;
    }
  }
  ++at;
  return out;
}

std::string JsonString(std::string_view bytes) {
  std::string out;
  AppendJsonString(out, bytes);
  return out;
}

struct JsonCase {
  const char* name;
  std::string bytes;
  std::string json;
};

// Test names show the case's name, not its bytes.
void PrintTo(const JsonCase& c, std::ostream* out) { *out << c.name; }

class JsonStrings : public ::testing::TestWithParam<JsonCase> {};

TEST_P(JsonStrings, KeepUtf8AndEscapeOtherBytesSoTheyComeBack) {
  const std::string json = JsonString(GetParam().bytes);
  EXPECT_EQ(json, GetParam().json);
  std::size_t at = 0;
  EXPECT_EQ(DecodeJsonString(json, at), GetParam().bytes);
  EXPECT_EQ(at, json.size());
}

INSTANTIATE_TEST_SUITE_P(
    Names, JsonStrings,
    ::testing::Values(JsonCase{"Plain", "trip/a.jpg", R"("trip/a.jpg")"},
                      JsonCase{"QuotesAndControls", "say \"hi\"\\\n\t\x01.jpg", R"("say \"hi\"\\\n\t\u0001.jpg")"},
                      JsonCase{"Chinese", "旅行/照片.jpg", "\"旅行/照片.jpg\""},
                      JsonCase{"FourByteUtf8", "\xF0\x9F\x93\xB7.jpg", "\"\xF0\x9F\x93\xB7.jpg\""},
                      JsonCase{"LatinOne", "caf\xE9.jpg", R"("caf\udce9.jpg")"},
                      JsonCase{"ByteFf", "\xFF", R"("\udcff")"},
                      JsonCase{"CutSequence", "\xE6\x97.jpg", R"("\udce6\udc97.jpg")"},
                      JsonCase{"Overlong", "\xC0\xAF", R"("\udcc0\udcaf")"},
                      JsonCase{"EncodedSurrogate", "\xED\xA0\x80", R"("\udced\udca0\udc80")"},
                      JsonCase{"PastU10FFFF", "\xF4\x90\x80\x80", R"("\udcf4\udc90\udc80\udc80")"},
                      JsonCase{"Empty", "", R"("")"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(ExportGeoJson, PathsThatAreNotUtf8ComeBackExactly) {
  catalogue::PhotoTables tables;
  const std::string name = std::string("trip") + testing::kNotUtf8 + "/caf\xE9 \"1\".jpg";
  tables.photo_names = {name};
  tables.photo_table = {{116.5, 39.25}};
  const std::string geojson = ExportGeoJson(tables);
  EXPECT_EQ(geojson,
            R"({"type":"FeatureCollection","features":[{"type":"Feature","geometry":{"type":"Point",)"
            R"("coordinates":[116.5,39.25]},"properties":{"path":"trip\udcff/caf\udce9 \"1\".jpg"}}]})"
            "\n");
  std::size_t at = geojson.find(R"("path":)") + 7;
  EXPECT_EQ(DecodeJsonString(geojson, at), name);
  EXPECT_EQ(ExportCsv(tables), "path,longitude,latitude\r\n\"" + std::string("trip") + testing::kNotUtf8 +
                                   "/caf\xE9 \"\"1\"\".jpg\",116.5,39.25\r\n");
}

TEST(ExportCommand, NamesThatAreNotUtf8AreExportedAsTheirBytes) {
  const TempDir dir;
  const std::string name = std::string("caf") + testing::kNotUtf8 + ".jpg";
  dir.Write(name, GpsPhoto());
  const CommandOutput csv = RunTavimo("--export csv '" + dir.Path() + "'");
  EXPECT_EQ(csv.status, 0);
  EXPECT_EQ(csv.out, "path,longitude,latitude\r\n" + name + ",116.40374357265176,39.91010349934476\r\n");
  const CommandOutput geojson = RunTavimo("--export geojson '" + dir.Path() + "'");
  EXPECT_EQ(geojson.status, 0);
  std::size_t at = geojson.out.find(R"("path":)") + 7;
  EXPECT_EQ(DecodeJsonString(geojson.out, at), name);
  const CommandOutput inspect = RunTavimo("--inspect '" + dir.Path() + "/" + name + "'");
  at = inspect.out.find(R"("file":)") + 7;
  EXPECT_EQ(DecodeJsonString(inspect.out, at), dir.Path() + "/" + name);
}

TEST(ExportCommand, ThingsThatAreNoPhotosNeitherStopNorSlowIt) {
  const TempDir dir;
  dir.Write("a.jpg", GpsPhoto());
  testing::MakeSparseFile(dir.Path() + "/huge.jpg", kFourGiB, "this is no photo");
  ASSERT_EQ(::mkfifo((dir.Path() + "/fifo.jpg").c_str(), 0644), 0);
  fs::create_symlink("/dev/zero", dir.Path() + "/zero.jpg");
  const testing::DeepFolder deep(dir.Path(), PATH_MAX + 100, {{"deep.jpg", GpsPhoto()}});
  const CommandOutput csv = RunTavimo("--export csv '" + dir.Path() + "'");
  EXPECT_EQ(csv.status, 0);
  EXPECT_EQ(csv.out, "path,longitude,latitude\r\n" + deep.Relative() +
                         "/deep.jpg,116.40374357265176,39.91010349934476\r\n"
                         "a.jpg,116.40374357265176,39.91010349934476\r\n"
                         "huge.jpg,0.0,0.0\r\n");
  // A folder named by a path longer than PATH_MAX exports as well.
  const CommandOutput long_folder = RunTavimo("--export csv '" + deep.Path() + "'");
  EXPECT_EQ(long_folder.status, 0);
  EXPECT_EQ(long_folder.out, "path,longitude,latitude\r\ndeep.jpg,116.40374357265176,39.91010349934476\r\n");
}

TEST(ReportScanProblems, WarnsForEachAndFailsOnlyForTheFolderItself) {
  const catalogue::ScanReport some{"", false, {{"locked.jpg", "Permission denied"}, {"sub/", "Input/output error"}}};
  std::ostringstream warnings;
  EXPECT_TRUE(ReportScanProblems(some, "/p/", warnings));
  EXPECT_EQ(warnings.str(),
            "tavimo: warning: cannot read /p/locked.jpg: Permission denied\n"
            "tavimo: warning: cannot read /p/sub/: Input/output error\n");
  // Gone between the folder test and the scan.
  std::ostringstream gone;
  EXPECT_FALSE(ReportScanProblems({"No such file or directory", true, {}}, "/p/", gone));
  EXPECT_EQ(gone.str(), "tavimo: cannot read /p/: No such file or directory\n");
  std::ostringstream none;
  EXPECT_TRUE(ReportScanProblems({}, "/p/", none));
  EXPECT_EQ(none.str(), "");
}

TEST(InspectCommand, FifosDevicesAndHugeFilesAreAnsweredAtOnce) {
  const TempDir dir;
  const std::string fifo = dir.Path() + "/fifo.jpg";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  const std::string zero = dir.Path() + "/zero.jpg";
  fs::create_symlink("/dev/zero", zero);
  const std::string huge = dir.Path() + "/huge.jpg";
  testing::MakeSparseFile(huge, kFourGiB, "this is no photo");
  const CommandOutput run = RunTavimo("--inspect '" + fifo + "' '" + zero + "' '" + huge + "'");
  EXPECT_EQ(run.status, 0);
  const std::string rest = R"(","byteorder":true,"off":5,"records":[],"longitude":"0","latitude":"0","thumbnail":0})";
  EXPECT_EQ(run.out, R"({"file":")" + fifo + rest + "\n" + R"({"file":")" + zero + rest + "\n" + R"({"file":")" + huge +
                         rest + "\n");
}

TEST(ExportCommand, WarnsAboutWhatItCannotReadAndFailsWhenTheFolderIsClosed) {
  const auto launcher = testing::UnprivilegedLauncher();
  if (!launcher) GTEST_SKIP() << "no process the permission bits apply to can be made here";
  const TempDir dir;
  testing::OpenToOthers(dir.Path());
  dir.Write("photos/a.jpg", GpsPhoto());
  dir.Write("photos/locked.jpg", GpsPhoto());
  dir.Write("photos/private/b.jpg", GpsPhoto());
  fs::permissions(dir.Path() + "/photos/locked.jpg", fs::perms::none);
  fs::permissions(dir.Path() + "/photos/private", fs::perms::none);
  const std::string folder = dir.Path() + "/photos/";
  const CommandOutput run = RunTavimo("--export csv '" + folder + "'", "", *launcher);
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("tavimo: warning: cannot read " + folder + "locked.jpg: Permission denied\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("tavimo: warning: cannot read " + folder + "private/: Permission denied\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("a.jpg,116.40374357265176,39.91010349934476\r\nlocked.jpg,0.0,0.0\r\n"), std::string::npos)
      << run.out;

  fs::permissions(dir.Path() + "/photos", fs::perms::none);
  for (const char* format : {"csv", "geojson"}) {
    // Without the cache: a user that cannot make one would be told so first.
    const CommandOutput closed =
        RunTavimo(std::string("--no-cache --export ") + format + " '" + folder + "'", "", *launcher);
    EXPECT_EQ(closed.status, 1) << format;
    EXPECT_EQ(closed.out, "tavimo: cannot read " + folder + ": Permission denied\n") << format;
  }
}

}  // namespace
}  // namespace tavimo::app
