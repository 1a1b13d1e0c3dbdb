#include <benchmark/benchmark.h>

#include <string>

#include "exif/decimal_text.h"
#include "exif/exif_reader.h"
#include "tests/support/jpeg_builder.h"

namespace {

using tavimo::exif::ExifReader;
using tavimo::exif::IndexOf;
using tavimo::exif::ValueAt;

ExifReader CameraReader() {
  ExifReader reader;
  reader.SetPointerTags({"8825", "8769"});
  return reader;
}

const std::string kSample = std::string(TAVIMO_SAMPLES_DIR) + "/sydney-opera-house.jpg";

void ReadTagsInMemory(benchmark::State& state) {
  const std::string thumb(6000, 't');
  const std::string file = tavimo::testing::JpegWithExif(tavimo::testing::PhotoBlock(
      {tavimo::testing::Order::kBig, tavimo::testing::GpsFix{116.39, 39.9}, thumb}));
  const ExifReader reader = CameraReader();
  for (auto _ : state) benchmark::DoNotOptimize(reader.ReadTagsFromBytes(file));
}
BENCHMARK(ReadTagsInMemory);

// What a scan does per photo: the walk and both degrees texts.
void ReadPositionFromFile(benchmark::State& state) {
  const ExifReader reader = CameraReader();
  for (auto _ : state) {
    const auto list = reader.ReadTags(kSample);
    benchmark::DoNotOptimize(ExifReader::ToDegreesText(ValueAt(list, IndexOf(list, "0004")), list.byteorder));
    benchmark::DoNotOptimize(ExifReader::ToDegreesText(ValueAt(list, IndexOf(list, "0002")), list.byteorder));
  }
}
BENCHMARK(ReadPositionFromFile);

void ReadThumbnailFromFile(benchmark::State& state) {
  const ExifReader reader = CameraReader();
  for (auto _ : state) benchmark::DoNotOptimize(reader.ReadThumbnail(kSample));
}
BENCHMARK(ReadThumbnailFromFile);

void DecimalText(benchmark::State& state) {
  double value = 116.39601944444445;
  for (auto _ : state) {
    benchmark::DoNotOptimize(tavimo::exif::DecimalText(value));
    value += 1e-9;
  }
}
BENCHMARK(DecimalText);

}  // namespace
