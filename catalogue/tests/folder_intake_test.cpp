#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

#include "catalogue/folder_intake.h"
#include "tests/support/file_cases.h"
#include "tests/support/jpeg_builder.h"

namespace tavimo::catalogue {
namespace {

using testing::TempDir;

TEST(NoticeOf, SaysWhatHappenedAndNamesAtMostTwenty) {
  EXPECT_EQ(NoticeOf({}, "/p/").text, "");
  const ScanNotice gone = NoticeOf({"No such file or directory", true, {}}, "/p/");
  EXPECT_EQ(gone.text, "目录已不存在：/p/");
  const ScanNotice closed = NoticeOf({"Permission denied", false, {}}, "/p/");
  EXPECT_EQ(closed.text, "无法读取目录：Permission denied");
  EXPECT_EQ(closed.details, "/p/");
  ScanReport many;
  for (int i = 0; i < 25; ++i) many.failures.push_back({"f" + std::to_string(100 + i) + ".jpg", "Input/output error"});
  const ScanNotice notice = NoticeOf(many, "/p/");
  EXPECT_EQ(notice.text, "25 个照片或子目录无法读取");
  EXPECT_EQ(notice.details.rfind("f100.jpg：Input/output error\nf101.jpg：", 0), 0u);
  EXPECT_NE(notice.details.find("\nf119.jpg：Input/output error\n……另有 5 个"), std::string::npos);
  EXPECT_EQ(notice.details.find("f120.jpg"), std::string::npos);
}

TEST(IsFolder, TellsFoldersFromEverythingElse) {
  const TempDir dir;
  const std::string file = dir.Write("f.jpg", "");
  std::filesystem::create_directory_symlink(dir.Path(), dir.Path() + "/link");
  EXPECT_TRUE(IsFolder(dir.Path()));
  EXPECT_TRUE(IsFolder(dir.Path() + "/"));
  EXPECT_TRUE(IsFolder(dir.Path() + "/link/"));
  EXPECT_FALSE(IsFolder(file));
  EXPECT_FALSE(IsFolder(dir.Path() + "/missing/"));
  EXPECT_FALSE(IsFolder(""));
  const testing::DeepFolder deep(dir.Path(), PATH_MAX + 100, {{"f.jpg", ""}});
  EXPECT_TRUE(IsFolder(deep.Path() + "/"));
  EXPECT_FALSE(IsFolder(deep.Path() + "/f.jpg"));
}

}  // namespace
}  // namespace tavimo::catalogue
