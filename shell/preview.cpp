#include "shell/preview.h"

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
  const platform::Picture picture = window.LoadPicture(globals.current_photo_path);
  const platform::Rect canvas = window.CanvasSize();
  window.CanvasClear();
  window.CanvasDraw(picture, PreviewRect(picture.width, picture.height, canvas.width, canvas.height));
}

void OpenCurrentPhoto(Globals& globals) {
  if (globals.current_photo_path.empty()) return;
  globals.window->ShellOpen(globals.current_photo_path);
}

}  // namespace tavimo::shell
