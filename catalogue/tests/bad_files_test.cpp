// Folders holding things that are not photos, cannot be read, vanish, have
// paths past PATH_MAX or names that are not UTF-8.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <climits>
#include <filesystem>

#include "catalogue/folder_scan.h"
#include "geo/conversion.h"
#include "tests/support/file_cases.h"
#include "tests/support/jpeg_builder.h"

namespace tavimo::catalogue {
namespace {

using testing::TempDir;

namespace fs = std::filesystem;

constexpr const char* kBeijing = "116.40374357265176,39.91010349934476";

std::string GpsPhoto() {
  return testing::JpegWithExif(testing::PhotoBlock({testing::Order::kBig, testing::GpsFix{116.3975, 39.9087}, ""}));
}

std::string Texts(const CoordinateList& coordinates) {
  return CoordinateTextAt(coordinates, 0) + "," + CoordinateTextAt(coordinates, 1);
}

// "name: reason" lines of a report's failures, the folder's own first.
std::string Describe(const ScanReport& report) {
  std::string out = report.folder_error.empty() ? "" : std::string(report.folder_gone ? "gone: " : "folder: ") +
                                                           report.folder_error + "\n";
  for (const ReadFailure& failure : report.failures) out += failure.name + ": " + failure.reason + "\n";
  return out;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& name : names) out += name + "\n";
  return out;
}

class BadFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    reader_.SetPointerTags({"8825", "8769"});
    geo::LoadConversionScript(host_);
  }
  ScanReport Scan(const std::string& folder) {
    tables_.current_folder = folder + "/";
    return ScanFolder(tables_, reader_, host_);
  }

  exif::ExifReader reader_;
  geo::ScriptHost host_;
  PhotoTables tables_;
  TempDir dir_;
};

TEST_F(BadFiles, FifosSocketsAndDevicesNamedJpgAreLeftOut) {
  dir_.Write("a.jpg", GpsPhoto());
  // A FIFO opened without O_NONBLOCK would wait for a writer for ever.
  ASSERT_EQ(::mkfifo((dir_.Path() + "/fifo.jpg").c_str(), 0644), 0);
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string sock_path = dir_.Path() + "/sock.jpg";
  sock_path.copy(address.sun_path, sizeof(address.sun_path) - 1);
  ASSERT_EQ(::bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
  ::close(sock);
  fs::create_symlink("/dev/zero", dir_.Path() + "/zero.jpg");
  fs::create_symlink("a.jpg", dir_.Path() + "/link.jpg");
  const ScanReport report = Scan(dir_.Path());
  EXPECT_EQ(Joined(tables_.photo_names), "a.jpg\nlink.jpg\n");
  ASSERT_EQ(tables_.photo_table.size(), 2u);
  EXPECT_EQ(Texts(tables_.photo_table[1]), kBeijing);
  EXPECT_EQ(Describe(report), "");
}

TEST_F(BadFiles, BrokenLinksAreNamedWithTheirReason) {
  dir_.Write("a.jpg", GpsPhoto());
  fs::create_symlink("gone.jpg", dir_.Path() + "/dangling.jpg");
  fs::create_symlink("loop.jpg", dir_.Path() + "/loop.jpg");
  fs::create_symlink("gone.txt", dir_.Path() + "/notes.txt");  // no photo: nothing to say
  const ScanReport report = Scan(dir_.Path());
  EXPECT_EQ(Joined(tables_.photo_names), "a.jpg\n");
  EXPECT_EQ(Describe(report),
            "dangling.jpg: No such file or directory\n"
            "loop.jpg: Too many levels of symbolic links\n");
}

TEST_F(BadFiles, UnreadableSubFoldersAndPhotosAreNamed) {
  testing::OpenToOthers(dir_.Path());
  dir_.Write("open.jpg", GpsPhoto());
  const std::string locked = dir_.Write("locked.jpg", GpsPhoto());
  dir_.Write("private/inside.jpg", GpsPhoto());
  dir_.Write("trip/deeper/secret/x.jpg", GpsPhoto());
  dir_.Write("trip/deeper/y.jpg", GpsPhoto());
  for (const std::string& path : {locked, dir_.Path() + "/private", dir_.Path() + "/trip/deeper/secret"}) {
    fs::permissions(path, fs::perms::none);
  }
  const auto seen = testing::RunUnprivileged([&] {
    const ScanReport report = Scan(dir_.Path());
    std::string out = Joined(tables_.photo_names) + "--\n" + Describe(report) + "--\n";
    for (const CoordinateList& coordinates : tables_.photo_table) out += Texts(coordinates) + "\n";
    return out;
  });
  if (!seen) GTEST_SKIP() << "no process the permission bits apply to can be made here";
  // The unreadable photo stays listed, without a position; nothing else is lost.
  EXPECT_EQ(*seen,
            "locked.jpg\nopen.jpg\ntrip/deeper/y.jpg\n--\n"
            "locked.jpg: Permission denied\n"
            "private/: Permission denied\n"
            "trip/deeper/secret/: Permission denied\n--\n" +
                std::string("0.0,0.0\n") + kBeijing + "\n" + kBeijing + "\n");
}

TEST_F(BadFiles, TopFolderThatCannotBeReadSaysWhy) {
  testing::OpenToOthers(dir_.Path());
  dir_.Write("closed/a.jpg", GpsPhoto());
  fs::permissions(dir_.Path() + "/closed", fs::perms::none);
  const auto seen = testing::RunUnprivileged([&] {
    const ScanReport report = Scan(dir_.Path() + "/closed");
    return Describe(report) + std::to_string(tables_.photo_names.size());
  });
  if (!seen) GTEST_SKIP() << "no process the permission bits apply to can be made here";
  EXPECT_EQ(*seen, "folder: Permission denied\n0");
}

TEST_F(BadFiles, FolderThatVanishesBeforeItsScanSaysSo) {
  dir_.Write("full/a.jpg", GpsPhoto());
  Scan(dir_.Path() + "/full");
  ASSERT_EQ(tables_.photo_names.size(), 1u);
  fs::remove_all(dir_.Path() + "/full");
  EXPECT_EQ(Describe(Scan(dir_.Path() + "/full")), "gone: No such file or directory\n");
  EXPECT_TRUE(tables_.photo_names.empty());
  EXPECT_TRUE(tables_.map_points.Snapshot()->empty());
  // Replaced by a file of the same name: gone as a folder.
  dir_.Write("full", "");
  EXPECT_EQ(Describe(Scan(dir_.Path() + "/full")), "gone: Not a directory\n");
}

TEST_F(BadFiles, PhotosThatVanishDuringAScanLeaveTheResult) {
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "sub/d.jpg"}) dir_.Write(name, GpsPhoto());
  tables_.current_folder = dir_.Path() + "/";
  FolderListing listing = ListPhotoFiles(tables_.current_folder);
  ASSERT_EQ(Joined(listing.names), "a.jpg\nb.jpg\nc.jpg\nsub/d.jpg\n");
  // Between the listing and the reading: one removed, one replaced by a
  // FIFO, a sub-folder removed.
  fs::remove(dir_.Path() + "/b.jpg");
  fs::remove(dir_.Path() + "/c.jpg");
  ASSERT_EQ(::mkfifo((dir_.Path() + "/c.jpg").c_str(), 0644), 0);
  fs::remove_all(dir_.Path() + "/sub");
  const ScanReport report = ScanListedPhotos(tables_, std::move(listing), reader_, host_);
  EXPECT_EQ(Joined(tables_.photo_names), "a.jpg\n");
  ASSERT_EQ(tables_.photo_table.size(), 1u);
  EXPECT_EQ(tables_.map_points.Snapshot()->size(), 1u);
  EXPECT_EQ(Describe(report), "");
}

TEST_F(BadFiles, PathsLongerThanPathMaxAreListedAndScanned) {
  dir_.Write("a.jpg", GpsPhoto());
  const testing::DeepFolder deep(dir_.Path(), PATH_MAX + 100, {{"deep.jpg", GpsPhoto()}});
  ASSERT_GT(deep.Path().size(), std::size_t{PATH_MAX});
  const ScanReport report = Scan(dir_.Path());
  EXPECT_EQ(Describe(report), "");
  // The deep folder's name begins with a digit: it sorts first.
  ASSERT_EQ(tables_.photo_names.size(), 2u);
  EXPECT_TRUE(tables_.photo_names[0] == deep.Relative() + "/deep.jpg");
  ASSERT_EQ(tables_.photo_table.size(), 2u);
  EXPECT_EQ(Texts(tables_.photo_table[0]), kBeijing) << "a position, not none";
  // The deep folder itself, named by its long path.
  Scan(deep.Path());
  EXPECT_EQ(Joined(tables_.photo_names), "deep.jpg\n");
  EXPECT_EQ(tables_.map_points.Snapshot()->size(), 1u);
}

TEST_F(BadFiles, NamesThatAreNotUtf8AreListedAndScannedByTheirBytes) {
  const std::string photo = std::string("caf") + testing::kNotUtf8 + ".jpg";
  const std::string folder = std::string("trip") + testing::kNotUtf8 + "\xFE";
  dir_.Write(photo, GpsPhoto());
  dir_.Write(folder + "/x.jpg", GpsPhoto());
  EXPECT_EQ(Describe(Scan(dir_.Path())), "");
  EXPECT_EQ(Joined(tables_.photo_names), photo + "\n" + folder + "/x.jpg\n");
  ASSERT_EQ(tables_.photo_table.size(), 2u);
  EXPECT_EQ(Texts(tables_.photo_table[0]), kBeijing);
  EXPECT_EQ(Texts(tables_.photo_table[1]), kBeijing);
}

}  // namespace
}  // namespace tavimo::catalogue
