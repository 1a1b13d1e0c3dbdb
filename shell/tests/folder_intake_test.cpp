#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <functional>

#include "geo/conversion.h"
#include "shell/folder_intake.h"
#include "tests/support/file_cases.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/recording_runtime.h"

namespace tavimo::shell {
namespace {

using catalogue::PhotoTables;
using testing::TempDir;

class FolderIntake : public ::testing::Test {
 protected:
  void SetUp() override {
    reader_.SetPointerTags({"8825", "8769"});
    geo::LoadConversionScript(host_);
    dir_.Write("trip/a.jpg", testing::JpegWithExif(
                                 testing::PhotoBlock({testing::Order::kBig, testing::GpsFix{116.3975, 39.9087}, ""})));
    dir_.Write("other/b.jpg", testing::JpegWithoutExif());
  }
  IntakeContext Context() { return {tables_, reader_, host_, window_, base_title_}; }
  std::string Folder(const std::string& name) { return dir_.Path() + "/" + name + "/"; }

  TempDir dir_;
  exif::ExifReader reader_;
  geo::ScriptHost host_;
  PhotoTables tables_;
  testing::RecordingRuntime window_;
  const std::string base_title_ = "Tavimo by:Orsel";
};

TEST_F(FolderIntake, OpensAFolderInOrder) {
  OpenFolder(Context(), Folder("trip"));
  EXPECT_EQ(window_.calls, (std::vector<std::string>{"caption Tavimo by:Orsel  - " + Folder("trip"), "list clear",
                                                     "canvas clear", "address javascript:opendraw()", "notice "}));
  EXPECT_EQ(tables_.current_folder, Folder("trip"));
  EXPECT_EQ(tables_.photo_names, (std::vector<std::string>{"a.jpg"}));
  EXPECT_EQ(tables_.map_points.Snapshot()->size(), 1u);
}

TEST_F(FolderIntake, SecondFolderReplacesTheCaptionSuffix) {
  OpenFolder(Context(), Folder("trip"));
  OpenFolder(Context(), Folder("other"));
  EXPECT_EQ(window_.Caption(), "Tavimo by:Orsel  - " + Folder("other"));
  EXPECT_EQ(tables_.photo_names, (std::vector<std::string>{"b.jpg"}));
  EXPECT_TRUE(tables_.map_points.Snapshot()->empty());
}

TEST_F(FolderIntake, AnythingButOneFolderOnlyShowsTheMessage) {
  OpenFolder(Context(), Folder("trip"));
  const std::vector<std::string> before = window_.calls;
  const std::string file = dir_.Path() + "/trip/a.jpg";
  for (const std::string& names : {file, Folder("trip").substr(0, Folder("trip").size() - 1) + "\r\n" + dir_.Path() + "/other",
                                   dir_.Path() + "/missing", std::string()}) {
    window_.calls = before;
    OnFolderDropped(Context(), names);
    EXPECT_EQ(window_.calls.size(), before.size() + 1) << names;
    EXPECT_EQ(window_.calls.back(), "message 请拖入目录") << names;
    EXPECT_EQ(tables_.current_folder, Folder("trip")) << names;
    EXPECT_EQ(tables_.photo_names, (std::vector<std::string>{"a.jpg"})) << names;
    EXPECT_EQ(window_.Caption(), "Tavimo by:Orsel  - " + Folder("trip")) << names;
  }
}

TEST_F(FolderIntake, DroppedNamesGetOneTrailingSlash) {
  OnFolderDropped(Context(), dir_.Path() + "/trip");
  EXPECT_EQ(tables_.current_folder, Folder("trip"));
  OnFolderDropped(Context(), Folder("other"));
  EXPECT_EQ(tables_.current_folder, Folder("other"));
  EXPECT_EQ(window_.Caption(), "Tavimo by:Orsel  - " + Folder("other"));
}

TEST_F(FolderIntake, FolderNamesInChineseOpen) {
  dir_.Write("旅行 2026/c.jpg", testing::JpegWithoutExif());
  OnFolderDropped(Context(), dir_.Path() + "/旅行 2026");
  EXPECT_EQ(tables_.current_folder, Folder("旅行 2026"));
  EXPECT_EQ(tables_.photo_names, (std::vector<std::string>{"c.jpg"}));
}

TEST_F(FolderIntake, StatusBarTellsWhatCouldNotBeRead) {
  std::filesystem::create_symlink("gone.jpg", dir_.Path() + "/trip/dangling.jpg");
  OpenFolder(Context(), Folder("trip"));
  EXPECT_EQ(window_.calls.back(), "notice 1 个照片或子目录无法读取");
  EXPECT_EQ(window_.notice_details, "dangling.jpg：No such file or directory");
  EXPECT_EQ(tables_.photo_names, (std::vector<std::string>{"a.jpg"})) << "the rest is there";
  // The next folder's scan replaces the notice, here with none.
  OpenFolder(Context(), Folder("other"));
  EXPECT_EQ(window_.calls.back(), "notice ");
}

// A window whose caption change runs `during`: the moment between the
// folder test and the scan.
class CaptionHook : public testing::RecordingRuntime {
 public:
  std::function<void()> during;
  void SetCaption(const std::string& text) override {
    RecordingRuntime::SetCaption(text);
    if (during) during();
  }
};

TEST_F(FolderIntake, FolderThatVanishesBeforeItsScanSaysSo) {
  OpenFolder(Context(), Folder("trip"));
  CaptionHook window;
  window.during = [this] { std::filesystem::remove_all(Folder("other")); };
  OpenFolder({tables_, reader_, host_, window, base_title_}, Folder("other"));
  EXPECT_EQ(window.calls.back(), "notice 目录已不存在：" + Folder("other"));
  EXPECT_EQ(tables_.current_folder, Folder("other"));
  EXPECT_TRUE(tables_.photo_names.empty()) << "nothing of the folder before stays";
  EXPECT_TRUE(tables_.map_points.Snapshot()->empty());
}

TEST_F(FolderIntake, FolderPathsLongerThanPathMaxOpen) {
  const testing::DeepFolder deep(dir_.Path(), PATH_MAX + 100, {{"deep.jpg", testing::JpegWithoutExif()}});
  OnFolderDropped(Context(), deep.Path());
  EXPECT_EQ(tables_.current_folder, deep.Path() + "/");
  EXPECT_EQ(tables_.photo_names, (std::vector<std::string>{"deep.jpg"}));
  EXPECT_EQ(window_.calls.back(), "notice ");
}

}  // namespace
}  // namespace tavimo::shell
