#pragma once

#include <QIcon>
#include <QImage>
#include <QPointer>
#include <map>
#include <string>
#include <vector>

#include "platform/window_runtime.h"

class QListWidget;
class QWebEngineView;
class QWidget;

namespace tavimo::platform {

class Canvas;

// The window runtime on Qt widgets. Controls that are gone make the
// operations on them do nothing. Files are named by their bytes throughout:
// pictures are read from descriptors opened on those bytes, and files are
// handed to the desktop as URLs built from them. Captions are shown as they
// stand, "[*]" included; the status notice is a label named "scanNotice".
// An image added to a group as the same PNG bytes as the image added before
// it is decoded once and shared, so that a list of thousands of entries with
// one placeholder fills at once.
class QtWindowRuntime : public WindowRuntime {
 public:
  QtWindowRuntime(QWidget* window, QListWidget* list, Canvas* canvas, QWebEngineView* browser);

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
  void ImageGroupReplace(int group, int index, const ImageView& image) override;
  EntryRange ListVisibleEntries() const override;
  void CanvasClear() override;
  Rect CanvasSize() const override;
  void CanvasDraw(const Picture& picture, const Rect& where) override;
  void CanvasDrawImage(const ImageView& image, const Rect& where) override;
  Picture LoadPicture(const std::string& path) override;
  void ShellOpen(const std::string& path) override;
  void SetBrowserAddress(const std::string& address) override;
  void SetStatusNotice(const std::string& text, const std::string& details) override;

 private:
  void ShowIcons();

  // Image groups by handle, as icons; a group that no list shows any more is dropped.
  std::map<int, std::vector<QIcon>> groups_;
  // The index of the image each entry of the list shows, by row.
  std::vector<int> image_of_row_;
  // The PNG bytes added last and their icon, shared by the next add of the same bytes.
  std::string last_png_;
  QIcon last_icon_;
  int next_group_ = 1;
  int shown_group_ = 0;
  QPointer<QWidget> window_;
  QPointer<QListWidget> list_;
  QPointer<Canvas> canvas_;
  QPointer<QWebEngineView> browser_;
};

// The pixels of `image` where they lie, for as long as it lives unchanged;
// empty unless it is in QImage::Format_ARGB32.
ImageView ViewOf(const QImage& image);

}  // namespace tavimo::platform
