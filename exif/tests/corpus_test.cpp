// Conformance over real camera files: what the reader derives must match the
// table of expected texts that ships with the corpus.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "exif/exif_reader.h"

namespace tavimo::exif {
namespace {

const std::filesystem::path kCorpus = TAVIMO_CORPUS_DIR;

using Row = std::map<std::string, std::string>;

std::vector<Row> ReadTable(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::vector<Row> rows;
  std::string line;
  std::vector<std::string> header;
  while (std::getline(in, line)) {
    std::vector<std::string> cells;
    std::stringstream split(line);
    std::string cell;
    while (std::getline(split, cell, '\t')) cells.push_back(cell);
    if (header.empty()) {
      header = cells;
      continue;
    }
    Row row;
    for (std::size_t i = 0; i < header.size(); ++i) row[header[i]] = i < cells.size() ? cells[i] : "";
    rows.push_back(row);
  }
  return rows;
}

// The reader's texts carry no hemisphere sign; the table's do.
std::string Unsigned(const std::string& text) {
  if (text.rfind("-1.#", 0) == 0 || text.empty() || text[0] != '-') return text;
  return text.substr(1);
}

// Broken and fuzzed files prove that nothing crashes; another tool may read
// their blocks differently, so their rows are information, not expectations.
bool Informational(const std::string& file) {
  const std::string name = std::filesystem::path(file).stem().string();
  const bool hex_name = name.size() == 32 && name.find_first_not_of("0123456789abcdef") == std::string::npos;
  return file.rfind("exiv2/", 0) == 0 || hex_name || name.find("Error") != std::string::npos;
}

class Corpus : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::is_regular_file(kCorpus / "expected.tsv")) {
      GTEST_SKIP() << "corpus of real camera files not found at " << kCorpus
                   << "; set TAVIMO_CORPUS_DIR to run the conformance tests";
    }
    reader_.SetPointerTags({"8825", "8769"});
  }
  ExifReader reader_;
};

TEST_F(Corpus, DegreesTextsMatchTheTable) {
  const std::vector<Row> rows = ReadTable(kCorpus / "expected.tsv");
  ASSERT_GE(rows.size(), 50u);
  for (const Row& row : rows) {
    const std::string& file = row.at("file");
    const TagRecordList list = reader_.ReadTags((kCorpus / file).string());
    const std::string lng = DegreesTextOf(list, "0004");
    const std::string lat = DegreesTextOf(list, "0002");
    if (Informational(file)) {
      if (lng != Unsigned(row.at("wgs84_lng_text")) || lat != Unsigned(row.at("wgs84_lat_text"))) {
        std::cout << "note: " << file << " reads " << lng << "," << lat << " here\n";
      }
      continue;
    }
    EXPECT_EQ(lng, Unsigned(row.at("wgs84_lng_text"))) << file;
    EXPECT_EQ(lat, Unsigned(row.at("wgs84_lat_text"))) << file;
  }
}

TEST_F(Corpus, TiffHeaderAndThumbnailMatchExiv2WhereItReadsTheBlockWhole) {
  for (const Row& row : ReadTable(kCorpus / "exiv2-raw.tsv")) {
    const std::string& file = row.at("file");
    if (Informational(file)) continue;
    const std::string path = (kCorpus / file).string();
    const TagRecordList list = reader_.ReadTags(path);
    const long long header_at = std::stoll(row.at("tiff_header_at"));
    EXPECT_EQ(list.off, header_at < 0 ? 5.0 : static_cast<double>(header_at + 1)) << file;
    const std::string thumbnail = reader_.ReadThumbnail(path);
    if (row.at("thumb_0202_raw").empty() || row.at("thumb_0201_raw").empty()) continue;
    const auto file_size = static_cast<long long>(std::filesystem::file_size(path));
    const long long first = header_at + std::stoll(row.at("thumb_0201_raw"));
    const long long expected = std::max(0LL, std::min(std::stoll(row.at("thumb_0202_raw")), file_size - first));
    EXPECT_EQ(static_cast<long long>(thumbnail.size()), expected) << file;
  }
}

TEST_F(Corpus, EveryFileReadsWithoutFault) {
  // Under the sanitizers this proves no read leaves the file's bytes.
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(kCorpus)) {
    if (entry.path().extension() != ".jpg") continue;
    const TagRecordList list = reader_.ReadTags(entry.path().string());
    EXPECT_GE(Count(list), 1);
    (void)reader_.ReadThumbnail(entry.path().string());
    ++files;
  }
  EXPECT_GE(files, 50u);
}

}  // namespace
}  // namespace tavimo::exif
