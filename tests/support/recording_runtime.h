#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/window_runtime.h"

namespace tavimo::testing {

// An image as the runtime was given it: the PNG bytes it was added as, or
// the pixels (0xAARRGGBB, row after row) it was handed as.
struct RecordedImage {
  std::string png;
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
};

// A window runtime that records every call that changes something as one
// line, in order: "caption <text>", "message <text>", "list clear",
// "insert <caption> <image> <value>", "list group <g>", "new group <g> <w>x<h>",
// "add <g> <bytes>", "replace <g> <index> <w>x<h>", "canvas clear",
// "draw <path> <l>,<t> <w>x<h>", "draw image <w>x<h> <l>,<t> <w>x<h>",
// "load <path>", "open <path>", "address <text>", "notice <text>" (its
// details go to `notice_details`). Reads are answered from
// the fields below and not recorded.
class RecordingRuntime : public platform::WindowRuntime {
 public:
  explicit RecordingRuntime(std::string caption = "Tavimo by:Orsel");

  std::string Caption() const override;
  void SetCaption(const std::string& text) override;
  void MessageBox(const std::string& text) override;
  void ListDeleteAll() override;
  void ListInsert(const std::string& caption, int image_index, std::int64_t item_value) override;
  int ListSelectedIndex() const override;
  std::int64_t ListItemValue(int index) const override;
  void ListSetImageGroup(int group) override;
  int NewImageGroup(int width, int height) override;
  void ImageGroupAdd(int group, const std::string& png) override;
  void ImageGroupReplace(int group, int index, const platform::ImageView& image) override;
  platform::EntryRange ListVisibleEntries() const override;
  void CanvasClear() override;
  platform::Rect CanvasSize() const override;
  void CanvasDraw(const platform::Picture& picture, const platform::Rect& where) override;
  void CanvasDrawImage(const platform::ImageView& image, const platform::Rect& where) override;
  platform::Picture LoadPicture(const std::string& path) override;
  void ShellOpen(const std::string& path) override;
  void SetBrowserAddress(const std::string& address) override;
  void SetStatusNotice(const std::string& text, const std::string& details) override;

  // The images of the group the list shows now.
  std::vector<RecordedImage> ShownImages() const;

  std::vector<std::string> calls;
  std::vector<std::int64_t> item_values;      // one per entry inserted since the last clear
  int selected = -1;                          // what ListSelectedIndex answers
  std::map<int, std::vector<RecordedImage>> groups;  // images added or replaced, by group
  int shown_group = 0;                               // the group the list shows
  platform::EntryRange visible;                      // what ListVisibleEntries answers
  RecordedImage drawn;                               // the image drawn last by CanvasDrawImage
  platform::Rect canvas{0, 0, 536, 456};
  int picture_width = 0;                      // the size LoadPicture answers
  int picture_height = 0;
  std::string notice_details;                 // the details of the last notice

 private:
  std::string caption_;
  int groups_made_ = 0;
};

}  // namespace tavimo::testing
