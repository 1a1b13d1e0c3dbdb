#pragma once

#include "platform/window_runtime.h"
#include "shell/globals.h"

namespace tavimo::shell {

// Where a w x h picture goes on a canvas: fitted inside it, centred; an
// empty rectangle for a picture without size.
platform::Rect PreviewRect(int width, int height, int canvas_width, int canvas_height);
// Shows the photo of the first selected list entry on the canvas and makes it
// the current photo; the canvas stays blank when it cannot be loaded.
void ShowPreview(Globals& globals);
// Opens the current photo with the desktop's default application; nothing
// when no photo has been shown yet.
void OpenCurrentPhoto(Globals& globals);

}  // namespace tavimo::shell
