#include "shell/preview.h"

#include "exif/file_access.h"
#include "platform/local_files.h"
#include "platform/qt_window_runtime.h"

namespace tavimo::shell {
namespace {

platform::Rect WidthFitted(int width, int height, int canvas_width, int canvas_height) {
  const double ratio = static_cast<double>(height) / width;
  const int fitted = static_cast<int>(canvas_width * ratio);
  return {0, static_cast<int>((canvas_height - fitted) / 2.0), canvas_width, fitted};
}

platform::Rect HeightFitted(int width, int height, int canvas_width, int canvas_height) {
  const double ratio = static_cast<double>(width) / height;
  const int fitted = static_cast<int>(canvas_height * ratio);
  return {static_cast<int>((canvas_width - fitted) / 2.0), 0, fitted, canvas_height};
}

}  // namespace

platform::Rect PreviewRect(int width, int height, int canvas_width, int canvas_height) {
  if (width <= 0 || height <= 0) return {};
  // Landscape photos fit the width and others the height, unless that would
  // overflow the canvas: then the other side fits, so nothing is cut off.
  if (width > height) {
    const platform::Rect rect = WidthFitted(width, height, canvas_width, canvas_height);
    return rect.height <= canvas_height ? rect : HeightFitted(width, height, canvas_width, canvas_height);
  }
  const platform::Rect rect = HeightFitted(width, height, canvas_width, canvas_height);
  return rect.width <= canvas_width ? rect : WidthFitted(width, height, canvas_width, canvas_height);
}

void ShowPreview(Globals& globals) {
  platform::WindowRuntime& window = *globals.window;
  const std::int64_t value = window.ListItemValue(window.ListSelectedIndex());
  const auto& names = globals.tables.photo_names;
  const bool known = value >= 1 && value <= static_cast<std::int64_t>(names.size());
  globals.current_photo_path =
      globals.tables.current_folder + (known ? names[static_cast<std::size_t>(value - 1)] : std::string());
  if (!known || !globals.pictures) {
    if (globals.pictures) globals.pictures->CancelPreview();
    window.CanvasClear();
    return;
  }
  Globals* state = &globals;
  const auto shown = [state](const PreviewPicture& picture) {
    if (state->window == nullptr) return;
    state->window->CanvasClear();
    if (!picture.image.isNull()) state->window->CanvasDrawImage(platform::ViewOf(picture.image), picture.where);
  };
  globals.pictures->MakePreview(globals.current_photo_path, window.CanvasSize(), shown);
}

PreviewPicture DecodePreview(const std::string& path, const platform::Rect& canvas, const Cancelled& cancelled) {
  const exif::ReadOnlyFile file(path);
  const QSize size = platform::PictureSize(file);
  if (!size.isValid() || IsCancelled(cancelled)) return {};
  const platform::Rect where = PreviewRect(size.width(), size.height(), canvas.width, canvas.height);
  if (where.width <= 0 || where.height <= 0) return {};
  QImage image = platform::DecodePicture(file, QSize(where.width, where.height));
  if (image.isNull() || IsCancelled(cancelled)) return {};
  return {std::move(image), where};
}

void OpenCurrentPhoto(Globals& globals) {
  if (globals.current_photo_path.empty()) return;
  globals.window->ShellOpen(globals.current_photo_path);
}

}  // namespace tavimo::shell
