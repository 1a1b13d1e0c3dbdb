#include "exif/file_access.h"

#include <gtest/gtest.h>

#include <ostream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <functional>

#include "exif/exif_reader.h"
#include "tests/support/file_cases.h"
#include "tests/support/jpeg_builder.h"

namespace tavimo::exif {
namespace {

using testing::TempDir;

constexpr std::int64_t kFourGiB = std::int64_t{4} << 30;

std::string GpsPhoto() {
  return testing::JpegWithExif(testing::PhotoBlock({testing::Order::kBig, testing::GpsFix{116.3975, 39.9087}, ""}));
}

ExifReader CameraReader() {
  ExifReader reader;
  reader.SetPointerTags({"8825", "8769"});
  return reader;
}

// A UNIX socket bound at `path`; it stays there after the descriptor closes.
void MakeSocket(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof(address.sun_path));
  path.copy(address.sun_path, path.size());
  ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
  ::close(fd);
}

void Link(const std::string& target, const std::string& path) { std::filesystem::create_symlink(target, path); }

struct OpenCase {
  const char* name;
  std::function<void(const TempDir&, const std::string&)> make;  // makes the path
  FileStatus expected;
  const char* reason;  // the start of the reason expected; "" for none
};

void PrintTo(const OpenCase& c, std::ostream* out) { *out << c.name; }

class OpenCases : public ::testing::TestWithParam<OpenCase> {};

// Each case makes "x.jpg" (or a path through it) some kind of thing; opening
// it never waits, and only a regular file is open afterwards.
TEST_P(OpenCases, OnlyRegularFilesOpen) {
  const TempDir dir;
  const std::string path = dir.Path() + "/x.jpg";
  GetParam().make(dir, path);
  const std::string target = std::string(GetParam().name) == "ThroughAFile" ? path + "/y.jpg" : path;
  const ReadOnlyFile file(target);
  EXPECT_EQ(file.Status(), GetParam().expected);
  EXPECT_EQ(file.Reason().rfind(GetParam().reason, 0), 0u) << file.Reason();
  EXPECT_EQ(file.Descriptor() >= 0, GetParam().expected == FileStatus::kOk);
  // The reader never waits on such a file either: it finds no block there.
  EXPECT_EQ(ExifReader().ReadTags(target).records.empty(), GetParam().expected != FileStatus::kOk);
}

INSTANTIATE_TEST_SUITE_P(
    Things, OpenCases,
    ::testing::Values(
        OpenCase{"Regular", [](const TempDir& d, const std::string&) { d.Write("x.jpg", GpsPhoto()); },
                 FileStatus::kOk, ""},
        OpenCase{"Missing", [](const TempDir&, const std::string&) {}, FileStatus::kMissing, "No such file"},
        OpenCase{"ThroughAFile", [](const TempDir& d, const std::string&) { d.Write("x.jpg", GpsPhoto()); },
                 FileStatus::kMissing, "Not a directory"},
        OpenCase{"DanglingLink", [](const TempDir&, const std::string& p) { Link("gone.jpg", p); },
                 FileStatus::kMissing, "No such file"},
        OpenCase{"LinkLoop", [](const TempDir&, const std::string& p) { Link("x.jpg", p); }, FileStatus::kFailed,
                 "Too many levels of symbolic links"},
        OpenCase{"Folder", [](const TempDir&, const std::string& p) { std::filesystem::create_directory(p); },
                 FileStatus::kNotRegular, "not a regular file"},
        // Without O_NONBLOCK the open would wait for a writer forever.
        OpenCase{"Fifo", [](const TempDir&, const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); },
                 FileStatus::kNotRegular, "not a regular file"},
        OpenCase{"Socket", [](const TempDir&, const std::string& p) { MakeSocket(p); }, FileStatus::kNotRegular,
                 "not a regular file"},
        // Endless bytes: a device must not be read.
        OpenCase{"Device", [](const TempDir&, const std::string& p) { Link("/dev/zero", p); }, FileStatus::kNotRegular,
                 "not a regular file"},
        OpenCase{"Terminal", [](const TempDir&, const std::string& p) { Link("/dev/tty", p); }, FileStatus::kNotRegular,
                 ""}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(ReadOnlyFile, ReadsArePositionedAndCutAtTheEnd) {
  const TempDir dir;
  const ReadOnlyFile file(dir.Write("a.jpg", "0123456789"));
  ASSERT_EQ(file.Status(), FileStatus::kOk);
  EXPECT_EQ(file.Size(), 10);
  EXPECT_EQ(file.Read(2, 3), "234");
  EXPECT_EQ(file.Read(2, 3), "234") << "positioned: the same bytes again";
  EXPECT_EQ(file.Read(8, 100), "89");
  EXPECT_EQ(file.Read(10, 1), "");
  EXPECT_EQ(file.Read(-1, 4), "");
  EXPECT_EQ(file.Read(0, -4), "");
  EXPECT_EQ(file.Status(), FileStatus::kOk);
  const ReadOnlyFile missing(dir.Path() + "/b.jpg");
  EXPECT_EQ(missing.Size(), 0);
  EXPECT_EQ(missing.Read(0, 4), "");
}

TEST(ReadOnlyFile, PermissionDeniedIsAFailureWithItsReason) {
  const TempDir dir;
  testing::OpenToOthers(dir.Path());
  const std::string path = dir.Write("locked.jpg", GpsPhoto());
  std::filesystem::permissions(path, std::filesystem::perms::none);
  const auto seen = testing::RunUnprivileged([&] {
    const ReadOnlyFile file(path);
    return std::to_string(static_cast<int>(file.Status())) + " " + file.Reason();
  });
  if (!seen) GTEST_SKIP() << "no process the permission bits apply to can be made here";
  EXPECT_EQ(*seen, std::to_string(static_cast<int>(FileStatus::kFailed)) + " Permission denied");
}

TEST(OpenPath, OpensPathsLongerThanPathMax) {
  const TempDir dir;
  const testing::DeepFolder deep(dir.Path(), PATH_MAX + 100, {{"photo.jpg", GpsPhoto()}});
  const std::string path = deep.Path() + "/photo.jpg";
  ASSERT_GT(path.size(), std::size_t{PATH_MAX});
  const ReadOnlyFile file(path);
  ASSERT_EQ(file.Status(), FileStatus::kOk) << file.Reason();
  EXPECT_EQ(file.Read(0, 1 << 20), GpsPhoto());
  EXPECT_EQ(DegreesTextOf(CameraReader().ReadTags(path), "0004"), "116.3975");

  // Relative to an open folder, and with doubled slashes on the way.
  const int base = ::open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(base, 0);
  std::string doubled = deep.Relative() + "/photo.jpg";
  doubled.insert(doubled.find('/'), "/");
  const int relative = OpenPath(doubled, O_RDONLY | O_CLOEXEC, base);
  EXPECT_GE(relative, 0) << SystemErrorText(errno);
  if (relative >= 0) ::close(relative);
  ::close(base);

  // A folder on the way that is not there, and one name past NAME_MAX.
  EXPECT_EQ(ReadOnlyFile(dir.Path() + "/gone/" + deep.Relative() + "/photo.jpg").Status(), FileStatus::kMissing);
  const ReadOnlyFile too_long(dir.Path() + "/" + std::string(PATH_MAX, 'n'));
  EXPECT_EQ(too_long.Status(), FileStatus::kFailed);
  EXPECT_EQ(too_long.Reason(), SystemErrorText(ENAMETOOLONG));
}

TEST(ReadTags, AHugeFileThatIsNoPhotoIsSearchedOnlyAtItsStart) {
  const TempDir dir;
  const std::string path = dir.Path() + "/huge.jpg";
  testing::MakeSparseFile(path, kFourGiB, "this is no photo");
  const std::int64_t before = testing::BytesReadByProcess();
  if (before < 0) GTEST_SKIP() << "this system does not count the bytes a process reads";
  const TagRecordList list = CameraReader().ReadTags(path);
  const std::int64_t read = testing::BytesReadByProcess() - before;
  EXPECT_TRUE(list.records.empty());
  EXPECT_EQ(list.off, 5);
  EXPECT_LE(read, std::int64_t{17} << 20) << "the search stops after 16 MiB";
}

TEST(ReadTags, MarkerPastTheFirst16MiBIsNotFound) {
  const std::string block = testing::JpegWithExif(testing::PhotoBlock({testing::Order::kLittle, std::nullopt, ""}));
  const TempDir dir;
  constexpr std::int64_t kBound = 16 << 20;
  for (const std::int64_t at : {kBound - static_cast<std::int64_t>(block.size()) - 2, kBound}) {
    const std::string path = dir.Path() + "/far.jpg";
    testing::MakeSparseFile(path, at + static_cast<std::int64_t>(block.size()), "\xFF\xD8");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, block.data() + 2, block.size() - 2, at), static_cast<ssize_t>(block.size() - 2));
    ::close(fd);
    const TagRecordList list = CameraReader().ReadTags(path);
    EXPECT_EQ(list.records.empty(), at == kBound) << at;
  }
}

}  // namespace
}  // namespace tavimo::exif
