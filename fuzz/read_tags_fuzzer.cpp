// Arbitrary bytes through the walk, the degrees texts and the thumbnail cut.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "exif/exif_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const tavimo::exif::ExifReader reader = [] {
    tavimo::exif::ExifReader camera;
    camera.SetPointerTags({"8825", "8769"});
    return camera;
  }();
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const tavimo::exif::TagRecordList list = reader.ReadTagsFromBytes(bytes);
  for (const tavimo::exif::TagRecord& record : list.records) {
    (void)tavimo::exif::ExifReader::ToDegreesText(record.value, list.byteorder, record.type);
  }
  (void)reader.ReadThumbnailFromBytes(bytes);
  return 0;
}
