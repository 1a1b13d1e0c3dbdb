#include "tests/support/recording_runtime.h"

namespace tavimo::testing {

RecordingRuntime::RecordingRuntime(std::string caption) : caption_(std::move(caption)) {}

std::string RecordingRuntime::Caption() const { return caption_; }

void RecordingRuntime::SetCaption(const std::string& text) {
  caption_ = text;
  calls.push_back("caption " + text);
}

void RecordingRuntime::MessageBox(const std::string& text) { calls.push_back("message " + text); }

void RecordingRuntime::ListDeleteAll() { calls.push_back("list clear"); }

void RecordingRuntime::CanvasClear() { calls.push_back("canvas clear"); }

void RecordingRuntime::SetBrowserAddress(const std::string& address) { calls.push_back("address " + address); }

}  // namespace tavimo::testing
