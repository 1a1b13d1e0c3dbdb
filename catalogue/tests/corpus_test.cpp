// Conformance over real camera files: the position each photo gets in the
// photo table, and whether it goes on the map.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "catalogue/folder_scan.h"
#include "geo/conversion.h"

namespace tavimo::catalogue {
namespace {

const std::filesystem::path kCorpus = TAVIMO_CORPUS_DIR;

TEST(CatalogueCorpus, PositionsAndMapMembershipMatchTheTable) {
  if (!std::filesystem::is_regular_file(kCorpus / "expected.tsv")) {
    GTEST_SKIP() << "corpus of real camera files not found at " << kCorpus
                 << "; set TAVIMO_CORPUS_DIR to run the conformance tests";
  }
  exif::ExifReader reader;
  reader.SetPointerTags({"8825", "8769"});
  geo::ScriptHost host;
  geo::LoadConversionScript(host);
  std::ifstream table(kCorpus / "expected.tsv");
  std::string line;
  std::getline(table, line);
  std::size_t rows = 0;
  while (std::getline(table, line)) {
    std::vector<std::string> cells;
    std::stringstream split(line);
    for (std::string cell; std::getline(split, cell, '\t');) cells.push_back(cell);
    ASSERT_EQ(cells.size(), 6u) << line;
    const CoordinateList position = ReadPhotoPosition(reader, host, exif::ReadOnlyFile((kCorpus / cells[0]).string()));
    ASSERT_EQ(position.size(), 2u) << cells[0];
    EXPECT_EQ(geo::EcmaNumberText(position[0]) + "," + geo::EcmaNumberText(position[1]), cells[4]) << cells[0];
    EXPECT_EQ(std::fabs(position[0]) > 1e-7 ? "yes" : "no", cells[5]) << cells[0];
    ++rows;
  }
  EXPECT_GE(rows, 50u);
}

}  // namespace
}  // namespace tavimo::catalogue
