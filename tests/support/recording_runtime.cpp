#include "tests/support/recording_runtime.h"

#include <cstring>

namespace tavimo::testing {
namespace {

RecordedImage Copied(const platform::ImageView& image) {
  RecordedImage copy{{}, image.width, image.height, {}};
  if (image.bits == nullptr || image.width <= 0 || image.height <= 0) return copy;
  const auto row_bytes = static_cast<std::size_t>(image.width) * sizeof(std::uint32_t);
  copy.pixels.resize(static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height));
  for (int y = 0; y < image.height; ++y) {
    std::memcpy(copy.pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width),
                image.bits + static_cast<std::int64_t>(y) * image.bytes_per_line, row_bytes);
  }
  return copy;
}

std::string SizeText(int width, int height) { return std::to_string(width) + "x" + std::to_string(height); }

std::string RectText(const platform::Rect& where) {
  return std::to_string(where.left) + "," + std::to_string(where.top) + " " + SizeText(where.width, where.height);
}

}  // namespace

RecordingRuntime::RecordingRuntime(std::string caption) : caption_(std::move(caption)) {}

std::string RecordingRuntime::Caption() const { return caption_; }

void RecordingRuntime::SetCaption(const std::string& text) {
  caption_ = text;
  calls.push_back("caption " + text);
}

void RecordingRuntime::MessageBox(const std::string& text) { calls.push_back("message " + text); }

void RecordingRuntime::ListDeleteAll() {
  calls.push_back("list clear");
  item_values.clear();
}

void RecordingRuntime::ListInsert(const std::string& caption, int image_index, std::int64_t item_value) {
  calls.push_back("insert " + caption + " " + std::to_string(image_index) + " " + std::to_string(item_value));
  item_values.push_back(item_value);
}

int RecordingRuntime::ListSelectedIndex() const { return selected; }

std::int64_t RecordingRuntime::ListItemValue(int index) const {
  if (index < 0 || index >= static_cast<int>(item_values.size())) return 0;
  return item_values[static_cast<std::size_t>(index)];
}

void RecordingRuntime::ListSetImageGroup(int group) {
  calls.push_back("list group " + std::to_string(group));
  shown_group = group;
}

std::vector<RecordedImage> RecordingRuntime::ShownImages() const {
  const auto found = groups.find(shown_group);
  return found == groups.end() ? std::vector<RecordedImage>() : found->second;
}

int RecordingRuntime::NewImageGroup(int width, int height) {
  ++groups_made_;
  groups[groups_made_];
  calls.push_back("new group " + std::to_string(groups_made_) + " " + SizeText(width, height));
  return groups_made_;
}

void RecordingRuntime::ImageGroupAdd(int group, const std::string& png) {
  calls.push_back("add " + std::to_string(group) + " " + std::to_string(png.size()));
  if (!png.empty() && groups.count(group) != 0) groups[group].push_back({png, 0, 0, {}});
}

void RecordingRuntime::ImageGroupReplace(int group, int index, const platform::ImageView& image) {
  calls.push_back("replace " + std::to_string(group) + " " + std::to_string(index) + " " +
                  SizeText(image.width, image.height));
  const auto found = groups.find(group);
  if (found == groups.end() || index < 0 || index >= static_cast<int>(found->second.size())) return;
  if (image.width > 0 && image.height > 0) found->second[static_cast<std::size_t>(index)] = Copied(image);
}

platform::EntryRange RecordingRuntime::ListVisibleEntries() const { return visible; }

void RecordingRuntime::CanvasClear() { calls.push_back("canvas clear"); }

platform::Rect RecordingRuntime::CanvasSize() const { return canvas; }

void RecordingRuntime::CanvasDraw(const platform::Picture& picture, const platform::Rect& where) {
  calls.push_back("draw " + picture.path + " " + RectText(where));
}

void RecordingRuntime::CanvasDrawImage(const platform::ImageView& image, const platform::Rect& where) {
  calls.push_back("draw image " + SizeText(image.width, image.height) + " " + RectText(where));
  drawn = Copied(image);
}

platform::Picture RecordingRuntime::LoadPicture(const std::string& path) {
  calls.push_back("load " + path);
  return {path, picture_width, picture_height};
}

void RecordingRuntime::ShellOpen(const std::string& path) { calls.push_back("open " + path); }

void RecordingRuntime::SetBrowserAddress(const std::string& address) { calls.push_back("address " + address); }

void RecordingRuntime::SetStatusNotice(const std::string& text, const std::string& details) {
  calls.push_back("notice " + text);
  notice_details = details;
}

}  // namespace tavimo::testing
