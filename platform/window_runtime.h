#pragma once

#include <cstdint>
#include <string>

namespace tavimo::platform {

// A picture known by its file and its size as shown (EXIF orientation
// applied); 0 x 0 when it could not be loaded.
struct Picture {
  std::string path;
  int width = 0;
  int height = 0;
};

struct Rect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

// Pixels decoded elsewhere, seen where they lie: `height` rows of `width`
// pixels, each a 32-bit 0xAARRGGBB value in the machine's byte order (alpha
// not premultiplied), each row `bytes_per_line` bytes after the one before.
// Not owned: valid during the call it is passed to. Pictures made off the GUI
// thread reach the window this way, without being encoded and decoded again.
// Empty (a side of 0) for no picture.
struct ImageView {
  const unsigned char* bits = nullptr;
  int width = 0;
  int height = 0;
  std::int64_t bytes_per_line = 0;
};

// List entries `first` to `last`, both included; empty when last < first.
struct EntryRange {
  int first = 0;
  int last = -1;
};

// What the program's own logic asks of the main window and its controls. The
// desktop implements it on Qt; tests record the calls.
class WindowRuntime {
 public:
  virtual ~WindowRuntime() = default;

  // The main window's caption; empty when there is no window.
  virtual std::string Caption() const = 0;
  // Replaces the main window's caption, shown as written ("[*]" included);
  // nothing when there is no window.
  virtual void SetCaption(const std::string& text) = 0;
  // Shows `text` with one OK button under the caption "信息：" and returns
  // when the user has closed it; returns at once when there is no window.
  virtual void MessageBox(const std::string& text) = 0;
  // Deletes every entry of the photo list; nothing when there is none.
  virtual void ListDeleteAll() = 0;
  // Appends an entry with a caption, the index of its image in the list's
  // image group and a value kept for it; nothing when there is no list.
  virtual void ListInsert(const std::string& caption, int image_index, std::int64_t item_value) = 0;
  // Index of the first selected entry; -1 when none is selected.
  virtual int ListSelectedIndex() const = 0;
  // The value kept for entry `index`; 0 when there is no such entry.
  virtual std::int64_t ListItemValue(int index) const = 0;
  // Shows the group's images as the entries' icons; an empty group shows none.
  virtual void ListSetImageGroup(int group) = 0;
  // A new, empty group of images of the given size; its handle.
  virtual int NewImageGroup(int width, int height) = 0;
  // Appends the PNG image to the group; empty or undecodable bytes add nothing.
  virtual void ImageGroupAdd(int group, const std::string& png) = 0;
  // Replaces image `index` of the group, and the icon of each entry showing
  // it while the list shows the group; nothing when the group has no such
  // image or `image` is empty.
  virtual void ImageGroupReplace(int group, int index, const ImageView& image) = 0;
  // The entries the list's viewport shows, wholly or in part; empty when it
  // shows none.
  virtual EntryRange ListVisibleEntries() const = 0;

  // Blanks the preview canvas; nothing when there is none.
  virtual void CanvasClear() = 0;
  // The canvas's width and height in pixels; 0 x 0 when there is none.
  virtual Rect CanvasSize() const = 0;
  // Draws the picture stretched into `where`; nothing for a picture of size 0.
  virtual void CanvasDraw(const Picture& picture, const Rect& where) = 0;
  // Draws `image` stretched into `where`, over what is there; nothing for an
  // empty image or rectangle.
  virtual void CanvasDrawImage(const ImageView& image, const Rect& where) = 0;
  // The picture in the file at `path`; size 0 x 0 when it cannot be read.
  virtual Picture LoadPicture(const std::string& path) = 0;
  // Opens the file or folder with the desktop's default application; the
  // outcome is the desktop's.
  virtual void ShellOpen(const std::string& path) = 0;
  // Shows `text` in the main window's status bar, and `details` when the
  // pointer rests on it; an empty text takes the notice away. Both are shown
  // as plain text. Nothing when there is no window.
  virtual void SetStatusNotice(const std::string& text, const std::string& details) = 0;
  // Starts a navigation of the browser box; a "javascript:" address runs in
  // the page shown. Nothing when there is no browser box.
  virtual void SetBrowserAddress(const std::string& address) = 0;
};

}  // namespace tavimo::platform
