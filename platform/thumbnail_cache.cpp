#include "platform/thumbnail_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QByteArray>
#include <QCryptographicHash>
#include <QImageReader>
#include <QImageWriter>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

#include "exif/file_access.h"
#include "platform/cache_home.h"

namespace tavimo::platform {
namespace {

namespace fs = std::filesystem;

constexpr char kUriKey[] = "Thumb::URI";
constexpr char kMTimeKey[] = "Thumb::MTime";
constexpr char kSizeKey[] = "Thumb::Size";
constexpr char kSoftwareKey[] = "Software";
constexpr char kSoftware[] = "Tavimo";
constexpr char kPngFormat[] = "png";
// Far above any 128 x 128 PNG: a larger file in the cache is not one to decode.
constexpr std::int64_t kMaxThumbnailBytes = std::int64_t{4} << 20;
// Punctuation g_filename_to_uri keeps in a path, besides letters and digits.
constexpr std::string_view kKeptPunctuation = "!$&'()*+,-./:=@_~";
constexpr char kHexDigits[] = "0123456789ABCDEF";

bool KeptInUri(unsigned char byte) {
  return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
         (byte != '\0' && kKeptPunctuation.find(static_cast<char>(byte)) != std::string_view::npos);
}

// The whole file, or nullopt when it is no regular file, cannot be read or is
// too large to be a thumbnail.
std::optional<QByteArray> ReadThumbnailFile(const std::string& path) {
  const exif::ReadOnlyFile file(path);
  if (file.Status() != exif::FileStatus::kOk || file.Size() > kMaxThumbnailBytes) return std::nullopt;
  const std::string bytes = file.Read(0, file.Size());
  if (file.Status() != exif::FileStatus::kOk) return std::nullopt;
  return QByteArray::fromStdString(bytes);
}

// True when `text` is a decimal integer equal to `value`.
bool SameNumber(const QString& text, std::int64_t value) {
  bool ok = false;
  const qlonglong number = text.toLongLong(&ok);
  return ok && number == value;
}

// `image` shrunk to fit kNormalSize x kNormalSize, proportions kept (each
// side rounded, at least 1); as it is when it fits already. In 8-bit ARGB,
// as the cache's readers expect, and without the texts `image` carried.
QImage Fitted(const QImage& image) {
  const int limit = ThumbnailCache::kNormalSize;
  QImage fitted = image;
  if (image.width() > limit || image.height() > limit) {
    const double scale =
        std::min(static_cast<double>(limit) / image.width(), static_cast<double>(limit) / image.height());
    const auto side = [scale](int length) { return std::max(1, static_cast<int>(std::lround(length * scale))); };
    fitted = image.scaled(side(image.width()), side(image.height()), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  }
  fitted = fitted.convertToFormat(QImage::Format_ARGB32);
  // A copy of the pixels alone: QImage cannot drop a text once set.
  return QImage(fitted.constBits(), fitted.width(), fitted.height(), fitted.bytesPerLine(), fitted.format()).copy();
}

bool WriteAll(int fd, const QByteArray& bytes) {
  const char* data = bytes.constData();
  auto left = static_cast<std::size_t>(bytes.size());
  while (left > 0) {
    const ssize_t written = ::write(fd, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  return true;
}

// Writes `bytes` to a new file of mode 0600 beside `target`, then renames it
// to `target`. False on any failure, with the new file removed.
bool ReplaceAtomically(const std::string& target, const QByteArray& bytes) {
  std::string temporary = target + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return false;
  bool done = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0 && WriteAll(fd, bytes);
  done = ::close(fd) == 0 && done;
  done = done && ::rename(temporary.c_str(), target.c_str()) == 0;
  if (!done) ::unlink(temporary.c_str());
  return done;
}

}  // namespace

ThumbnailCache::ThumbnailCache(std::string cache_home)
    : usable_(!cache_home.empty() && cache_home.front() == '/'),
      thumbnails_folder_(std::move(cache_home) + "/thumbnails"),
      normal_folder_(thumbnails_folder_ + "/normal") {}

std::string ThumbnailCache::DefaultCacheHome() { return UserCacheHome(); }

std::string ThumbnailCache::FileUri(const std::string& absolute_path) {
  std::string uri = "file://";
  for (const char c : absolute_path) {
    const auto byte = static_cast<unsigned char>(c);
    if (KeptInUri(byte)) {
      uri += c;
    } else {
      uri += '%';
      uri += kHexDigits[byte >> 4];
      uri += kHexDigits[byte & 0xF];
    }
  }
  return uri;
}

std::string ThumbnailCache::ThumbnailPath(const std::string& absolute_path) const {
  const QByteArray digest =
      QCryptographicHash::hash(QByteArray::fromStdString(FileUri(absolute_path)), QCryptographicHash::Md5);
  return normal_folder_ + "/" + digest.toHex().toStdString() + ".png";
}

QImage ThumbnailCache::FindFresh(const std::string& absolute_path, std::int64_t mtime_seconds,
                                 std::int64_t size) const {
  if (!usable_) return {};
  std::optional<QByteArray> bytes = ReadThumbnailFile(ThumbnailPath(absolute_path));
  if (!bytes) return {};
  QBuffer buffer(&*bytes);
  QImageReader reader(&buffer, kPngFormat);
  const QImage image = reader.read();
  const QString stored_size = image.text(kSizeKey);
  const bool fresh = !image.isNull() && image.width() <= kNormalSize && image.height() <= kNormalSize &&
                     image.text(kUriKey) == QString::fromStdString(FileUri(absolute_path)) &&
                     SameNumber(image.text(kMTimeKey), mtime_seconds) &&
                     (stored_size.isEmpty() || SameNumber(stored_size, size));
  return fresh ? image : QImage();
}

bool ThumbnailCache::Store(const std::string& absolute_path, std::int64_t mtime_seconds, std::int64_t size,
                           const QImage& image) const {
  if (!usable_ || image.isNull()) return false;
  QImage thumbnail = Fitted(image);
  thumbnail.setText(kUriKey, QString::fromStdString(FileUri(absolute_path)));
  thumbnail.setText(kMTimeKey, QString::number(mtime_seconds));
  thumbnail.setText(kSizeKey, QString::number(size));
  thumbnail.setText(kSoftwareKey, kSoftware);

  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, kPngFormat);
  if (!writer.write(thumbnail)) return false;

  std::error_code error;
  fs::create_directories(normal_folder_, error);
  for (const std::string& folder : {thumbnails_folder_, normal_folder_}) {
    if (!error) fs::permissions(folder, fs::perms::owner_all, error);
  }
  return !error && ReplaceAtomically(ThumbnailPath(absolute_path), png);
}

}  // namespace tavimo::platform
