#pragma once

#include <string>

#include "platform/window_runtime.h"
#include "shell/globals.h"
#include "shell/picture_workers.h"

namespace tavimo::shell {

// Where a w x h picture goes on a canvas: fitted inside it, centred; an
// empty rectangle for a picture without size.
platform::Rect PreviewRect(int width, int height, int canvas_width, int canvas_height);
// Makes the photo of the first selected list entry the current photo at
// once, and shows it on the canvas once globals.pictures has decoded it,
// unless another entry was clicked or another listing shown meanwhile; the
// canvas is blanked when it cannot be loaded. With no entry selected the
// canvas is blanked at once.
void ShowPreview(Globals& globals);
// The photo at `path` decoded at the size it is drawn on a canvas of
// `canvas`'s size, and where it goes there; a null image when it cannot be
// loaded or `cancelled` says so between reading its header and decoding it.
// Reads as PictureSize and DecodePicture do (platform/local_files.h). Runs on
// a worker thread.
PreviewPicture DecodePreview(const std::string& path, const platform::Rect& canvas, const Cancelled& cancelled);
// Opens the current photo with the desktop's default application; nothing
// when no photo has been shown yet.
void OpenCurrentPhoto(Globals& globals);

}  // namespace tavimo::shell
