#include "shell/photo_list.h"

#include <sys/stat.h>

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QTransform>

#include "exif/file_access.h"
#include "platform/local_files.h"
#include "platform/thumbnail_cache.h"
#include "platform/qt_window_runtime.h"

namespace tavimo::shell {
namespace {

constexpr const char* kCaptionPrefix = "图片";

std::string EncodePng(const QImage& image) {
  QByteArray png;
  QBuffer out(&png);
  out.open(QIODevice::WriteOnly);
  if (!image.save(&out, "PNG")) return {};
  return png.toStdString();
}

// The transformation an EXIF orientation asks for, as image readers name it.
QImageIOHandler::Transformations FromExifOrientation(int orientation) {
  switch (orientation) {
    case 2: return QImageIOHandler::TransformationMirror;
    case 3: return QImageIOHandler::TransformationRotate180;
    case 4: return QImageIOHandler::TransformationFlip;
    case 5: return QImageIOHandler::TransformationFlipAndRotate90;
    case 6: return QImageIOHandler::TransformationRotate90;
    case 7: return QImageIOHandler::TransformationMirrorAndRotate90;
    case 8: return QImageIOHandler::TransformationRotate270;
    default: return QImageIOHandler::TransformationNone;
  }
}

QImage Transformed(const QImage& image, QImageIOHandler::Transformations transform) {
  if (transform == QImageIOHandler::TransformationNone) return image;
  if (transform == QImageIOHandler::TransformationRotate270) return image.transformed(QTransform().rotate(270));
  QImage out = image.mirrored(transform & QImageIOHandler::TransformationMirror,
                              transform & QImageIOHandler::TransformationFlip);
  if (transform & QImageIOHandler::TransformationRotate90) out = out.transformed(QTransform().rotate(90));
  return out;
}

}  // namespace

bool MatchesPrefix(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

void ListPhotosAt(Globals& globals, const std::string& lng_prefix, const std::string& lat_prefix) {
  platform::WindowRuntime& window = *globals.window;
  const catalogue::PhotoTables& tables = globals.tables;
  window.ListDeleteAll();
  window.CanvasClear();
  // A preview still on its way would draw on the blank canvas.
  if (globals.pictures) globals.pictures->CancelPreview();
  int counter = 0;
  const int group = window.NewImageGroup(kThumbnailSize, kThumbnailSize);
  window.ListSetImageGroup(window.NewImageGroup(kThumbnailSize, kThumbnailSize));
  const std::size_t n = tables.photo_table.size();
  std::vector<std::string> paths;
  paths.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    const catalogue::CoordinateList& coordinates = tables.photo_table[i];
    if (!MatchesPrefix(catalogue::CoordinateTextAt(coordinates, 0), lng_prefix)) continue;
    if (!MatchesPrefix(catalogue::CoordinateTextAt(coordinates, 1), lat_prefix)) continue;
    window.ListInsert(kCaptionPrefix + std::to_string(counter + 1), counter, static_cast<std::int64_t>(i) + 1);
    ++counter;
    paths.push_back(tables.current_folder + (i < tables.photo_names.size() ? tables.photo_names[i] : ""));
    // Image k stays entry k's: its thumbnail, when one can be made, takes
    // the placeholder's place.
    window.ImageGroupAdd(group, PlaceholderThumbnail());
  }
  window.ListSetImageGroup(group);
  if (!globals.pictures) return;
  Globals* state = &globals;
  globals.pictures->MakeThumbnails(*globals.reader, std::move(paths), window.ListVisibleEntries(),
                                   [state, group](int index, const QImage& image) {
                                     if (state->window != nullptr) {
                                       state->window->ImageGroupReplace(group, index, platform::ViewOf(image));
                                     }
                                   });
}

void MakeVisibleThumbnailsFirst(Globals& globals) {
  if (globals.pictures && globals.window != nullptr) globals.pictures->Prioritise(globals.window->ListVisibleEntries());
}

QImage PhotoThumbnail(const exif::ExifReader& reader, const std::string& path, const Cancelled& cancelled) {
  const exif::ReadOnlyFile file(path);
  // The embedded thumbnail first, turned as the photo is; else the photo itself.
  const exif::TagRecordList records = reader.ReadTags(file);
  const std::string embedded = reader.ReadThumbnail(file, records);
  if (IsCancelled(cancelled)) return {};
  if (!embedded.empty()) {
    return MakeThumbnail(embedded, kThumbnailSize, kThumbnailSize, exif::OrientationOf(records), cancelled);
  }
  // A file that holds no picture a decoder knows is given up after its header.
  const QSize shown = platform::PictureSize(file);
  if (!shown.isValid()) return {};
  // Decoding the photo is the slow way: a thumbnail the desktop's cache
  // holds for this very file (same time, same size) is taken instead, and
  // one made here is kept there for next time and for file managers.
  static const platform::ThumbnailCache cache;
  struct stat info {};
  const bool stamped = ::fstat(file.Descriptor(), &info) == 0 && !path.empty() && path.front() == '/';
  if (stamped) {
    const QImage cached = cache.FindFresh(path, info.st_mtim.tv_sec, info.st_size);
    if (!cached.isNull()) {
      return cached.scaled(kThumbnailSize, kThumbnailSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
  }
  const std::unique_ptr<QIODevice> device = platform::FileDevice(file, platform::kMaxPhotoBytes);
  if (!device) return {};
  if (!stamped) return MakeThumbnail(device.get(), kThumbnailSize, kThumbnailSize, 0, cancelled);
  const QSize fitted = shown.scaled(platform::ThumbnailCache::kNormalSize, platform::ThumbnailCache::kNormalSize,
                                    Qt::KeepAspectRatio);
  const QImage normal = shown.width() <= fitted.width() && shown.height() <= fitted.height()
                            ? MakeThumbnail(device.get(), 0, 0, 0, cancelled)
                            : MakeThumbnail(device.get(), fitted.width(), fitted.height(), 0, cancelled);
  if (normal.isNull()) return {};
  cache.Store(path, info.st_mtim.tv_sec, info.st_size, normal);
  return normal.scaled(kThumbnailSize, kThumbnailSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QImage MakeThumbnail(std::string_view bytes, int width, int height, int orientation, const Cancelled& cancelled) {
  QByteArray data = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  return MakeThumbnail(&buffer, width, height, orientation, cancelled);
}

QImage MakeThumbnail(QIODevice* device, int width, int height, int orientation, const Cancelled& cancelled) {
  QImageReader reader(device);
  reader.setAutoTransform(false);
  const QImageIOHandler::Transformations transform =
      orientation == 0 ? reader.transformation() : FromExifOrientation(orientation);
  const bool turned = (transform & QImageIOHandler::TransformationRotate90) != 0;
  const QSize stored = reader.size();
  const QSize shown = turned ? stored.transposed() : stored;
  QSize target(width, height);
  if (target.width() < 1) target.setWidth(shown.width());
  if (target.height() < 1) target.setHeight(shown.height());
  // Large photos are decoded at reduced size (JPEG scales while decoding),
  // never in full for a small result.
  const QSize decode = turned ? target.transposed() : target;
  if (stored.isValid() && decode.isValid() && decode.width() < stored.width() && decode.height() < stored.height()) {
    reader.setScaledSize(decode);
  }
  if (IsCancelled(cancelled)) return {};
  QImage image = reader.read();
  if (image.isNull() || IsCancelled(cancelled)) return {};
  image = Transformed(image, transform);
  if (target.isValid() && !target.isEmpty() && image.size() != target) {
    image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  }
  return image;
}

const std::string& PlaceholderThumbnail() {
  static const std::string png = [] {
    QImage image(kThumbnailSize, kThumbnailSize, QImage::Format_RGB32);
    image.fill(QColor(236, 236, 236));
    QPainter painter(&image);
    painter.setPen(QPen(QColor(190, 190, 190), 2));
    painter.drawRect(image.rect().adjusted(1, 1, -2, -2));
    painter.drawLine(24, 56, 40, 36);
    painter.drawLine(40, 36, 52, 48);
    painter.drawLine(52, 48, 58, 42);
    painter.drawEllipse(QPoint(54, 28), 5, 5);
    painter.end();
    return EncodePng(image);
  }();
  return png;
}

}  // namespace tavimo::shell
