#pragma once

#include <string>

namespace tavimo::platform {

// What the program's own logic asks of the main window and its controls. The
// desktop implements it on Qt; tests record the calls.
class WindowRuntime {
 public:
  virtual ~WindowRuntime() = default;

  // The main window's caption; empty when there is no window.
  virtual std::string Caption() const = 0;
  // Replaces the main window's caption; nothing when there is no window.
  virtual void SetCaption(const std::string& text) = 0;
  // Shows `text` with one OK button under the caption "信息：" and returns
  // when the user has closed it; returns at once when there is no window.
  virtual void MessageBox(const std::string& text) = 0;
  // Deletes every entry of the photo list; nothing when there is none.
  virtual void ListDeleteAll() = 0;
  // Blanks the preview canvas; nothing when there is none.
  virtual void CanvasClear() = 0;
  // Starts a navigation of the browser box; a "javascript:" address runs in
  // the page shown. Nothing when there is no browser box.
  virtual void SetBrowserAddress(const std::string& address) = 0;
};

}  // namespace tavimo::platform
