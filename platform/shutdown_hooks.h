#pragma once

#include <functional>

class QWidget;

namespace tavimo::platform {

// Runs `quit` on the GUI thread when SIGTERM or SIGINT arrives, so that the
// program ends in its usual order (server stopped, state released) instead
// of dying mid-request. A second signal while shutting down ends the process
// at once. Needs a QCoreApplication; call once, from the GUI thread. False
// when the signals could not be taken over (they keep their default then).
bool OnTerminationSignal(std::function<void()> quit);

// Runs `destroyed` on the GUI thread when another program destroys
// `window`'s native X11 window (as `xdotool windowclose` does): Qt would
// otherwise go on without a window, the server still answering. Does
// nothing on other window systems. Needs a QApplication and a native window.
void OnNativeWindowDestroyed(QWidget* window, std::function<void()> destroyed);

}  // namespace tavimo::platform
