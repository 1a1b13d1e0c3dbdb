#include "platform/local_files.h"

namespace tavimo::platform {
namespace {

// Bytes a path keeps as they are in a URL: its separators.
constexpr const char* kPathSeparators = "/";

}  // namespace

std::unique_ptr<QFile> FileDevice(const exif::ReadOnlyFile& file) {
  if (file.Descriptor() < 0) return nullptr;
  auto device = std::make_unique<QFile>();
  if (!device->open(file.Descriptor(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) return nullptr;
  return device;
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
