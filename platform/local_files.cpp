#include "platform/local_files.h"

#include <QImageReader>
#include <algorithm>

namespace tavimo::platform {
namespace {

// Bytes a path keeps as they are in a URL: its separators.
constexpr const char* kPathSeparators = "/";

// The first bytes of an open regular file, read by positioned reads.
class FileHead : public QIODevice {
 public:
  FileHead(const exif::ReadOnlyFile& file, std::int64_t limit)
      : file_(file), size_(std::clamp<std::int64_t>(limit, 0, file.Size())) {}

  bool isSequential() const override { return false; }
  qint64 size() const override { return size_; }

 protected:
  qint64 readData(char* data, qint64 length) override {
    const qint64 at = pos();
    if (at >= size_) return 0;
    return file_.ReadInto(at, data, std::min<qint64>(length, size_ - at));
  }
  qint64 writeData(const char*, qint64) override { return -1; }

 private:
  const exif::ReadOnlyFile& file_;
  const std::int64_t size_;
};

}  // namespace

std::unique_ptr<QIODevice> FileDevice(const exif::ReadOnlyFile& file, std::int64_t limit) {
  if (file.Descriptor() < 0) return nullptr;
  auto device = std::make_unique<FileHead>(file, limit);
  device->open(QIODevice::ReadOnly | QIODevice::Unbuffered);
  return device;
}

QSize PictureSize(const exif::ReadOnlyFile& file) {
  const std::unique_ptr<QIODevice> device = FileDevice(file, kPhotoHeaderBytes);
  if (!device) return {};
  QImageReader reader(device.get());
  reader.setAutoTransform(true);
  const QSize size = reader.size();
  if (!size.isValid() || size.isEmpty() || !reader.canRead()) return {};
  return (reader.transformation() & QImageIOHandler::TransformationRotate90) != 0 ? size.transposed() : size;
}

QImage DecodePicture(const exif::ReadOnlyFile& file, QSize size) {
  const std::unique_ptr<QIODevice> device = FileDevice(file, kMaxPhotoBytes);
  if (!device) return {};
  // Decoded at the size asked: a 24 MP photo needs no full decode for 536 x 456.
  QImageReader reader(device.get());
  reader.setAutoTransform(true);
  const bool turned = (reader.transformation() & QImageIOHandler::TransformationRotate90) != 0;
  if (size.isValid()) reader.setScaledSize(turned ? size.transposed() : size);
  return reader.read();
}

QUrl FileUrl(const std::string& path) {
  const QByteArray bytes(path.data(), static_cast<qsizetype>(path.size()));
  // An absolute path follows an empty host; a relative one has none.
  const QByteArray scheme = bytes.startsWith('/') ? "file://" : "file:";
  return QUrl::fromEncoded(scheme + bytes.toPercentEncoding(kPathSeparators), QUrl::StrictMode);
}

std::string LocalPath(const QUrl& url) {
  if (!url.isLocalFile()) return {};
  QByteArray path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
  if (!url.host().isEmpty()) path.prepend("//" + url.host(QUrl::FullyEncoded).toLatin1());
  return path.toStdString();
}

}  // namespace tavimo::platform
