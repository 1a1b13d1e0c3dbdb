#pragma once

#include <string>
#include <vector>

#include "platform/window_runtime.h"

namespace tavimo::testing {

// A window runtime that records every call as one line, in order:
// "caption <text>", "message <text>", "list clear", "canvas clear",
// "address <text>". Reads of the caption are answered, not recorded.
class RecordingRuntime : public platform::WindowRuntime {
 public:
  explicit RecordingRuntime(std::string caption = "Tavimo by:Orsel");

  std::string Caption() const override;
  void SetCaption(const std::string& text) override;
  void MessageBox(const std::string& text) override;
  void ListDeleteAll() override;
  void CanvasClear() override;
  void SetBrowserAddress(const std::string& address) override;

  std::vector<std::string> calls;

 private:
  std::string caption_;
};

}  // namespace tavimo::testing
