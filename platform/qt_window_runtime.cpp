#include "platform/qt_window_runtime.h"

#include <QDesktopServices>
#include <QPixmap>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QMessageBox>
#include <QStatusBar>
#include <QUrl>
#include <QWebEngineView>

#include "exif/file_access.h"
#include "platform/canvas.h"
#include "platform/local_files.h"

namespace tavimo::platform {
namespace {

constexpr std::string_view kScriptScheme = "javascript:";

constexpr int kItemValueRole = Qt::UserRole + 1;

// A caption's "[*]" marks where Qt shows that the window is modified and is
// dropped otherwise; "[*][*]" shows one "[*]" as it stands.
constexpr QLatin1StringView kModifiedMark("[*]");
constexpr QLatin1StringView kLiteralModifiedMark("[*][*]");

constexpr const char* kStatusNoticeName = "scanNotice";

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The pixels `image` shows, wrapped without a copy: valid while the view is.
// Null when it is empty.
QImage Wrapped(const ImageView& image) {
  if (image.bits == nullptr || image.width <= 0 || image.height <= 0) return {};
  return QImage(image.bits, image.width, image.height, static_cast<qsizetype>(image.bytes_per_line),
                QImage::Format_ARGB32);
}

// The first of `count` rows for which `after` holds; `count` when none does.
// `after` must hold for every row past one it holds for.
template <typename Predicate>
int FirstRowWhere(int count, Predicate after) {
  int low = 0;
  int high = count;
  while (low < high) {
    const int middle = low + (high - low) / 2;
    if (after(middle)) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  return low;
}

// Text that rich-text detection cannot take for markup: escaped, with line
// breaks kept.
QString PlainForToolTip(const std::string& text) {
  if (text.empty()) return {};
  const QString escaped = FromUtf8(text).toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br>"));
  return QStringLiteral("<qt>%1</qt>").arg(escaped);
}

}  // namespace

QtWindowRuntime::QtWindowRuntime(QWidget* window, QListWidget* list, Canvas* canvas, QWebEngineView* browser)
    : window_(window), list_(list), canvas_(canvas), browser_(browser) {}

std::string QtWindowRuntime::Caption() const {
  if (!window_) return {};
  QString title = window_->windowTitle();
  return title.replace(kLiteralModifiedMark, kModifiedMark).toStdString();
}

void QtWindowRuntime::SetCaption(const std::string& text) {
  // Every "[*]" doubled, so that the caption shows the text as it stands.
  if (window_) window_->setWindowTitle(FromUtf8(text).replace(kModifiedMark, kLiteralModifiedMark));
}

void QtWindowRuntime::MessageBox(const std::string& text) {
  if (!window_) return;
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("信息："), FromUtf8(text), QMessageBox::Ok, window_);
  box.exec();
}

void QtWindowRuntime::ListDeleteAll() {
  image_of_row_.clear();
  if (list_) list_->clear();
}

void QtWindowRuntime::ListInsert(const std::string& caption, int image_index, std::int64_t item_value) {
  if (!list_) return;
  // Filled before it joins the list, which then hears of it once.
  auto* item = new QListWidgetItem(FromUtf8(caption));
  item->setData(kItemValueRole, static_cast<qlonglong>(item_value));
  image_of_row_.resize(static_cast<std::size_t>(list_->count()), -1);
  image_of_row_.push_back(image_index);
  list_->addItem(item);
}

int QtWindowRuntime::ListSelectedIndex() const {
  if (!list_) return -1;
  for (int i = 0; i < list_->count(); ++i) {
    if (list_->item(i)->isSelected()) return i;
  }
  return -1;
}

std::int64_t QtWindowRuntime::ListItemValue(int index) const {
  if (!list_ || index < 0 || index >= list_->count()) return 0;
  return list_->item(index)->data(kItemValueRole).toLongLong();
}

void QtWindowRuntime::ListSetImageGroup(int group) {
  // The group shown before goes; groups still being filled stay.
  if (shown_group_ != group) groups_.erase(shown_group_);
  shown_group_ = group;
  ShowIcons();
}

int QtWindowRuntime::NewImageGroup(int, int) {
  const int group = next_group_++;
  groups_[group];
  return group;
}

void QtWindowRuntime::ImageGroupAdd(int group, const std::string& png) {
  auto found = groups_.find(group);
  if (found == groups_.end() || png.empty()) return;
  if (png != last_png_) {
    QPixmap image;
    if (!image.loadFromData(reinterpret_cast<const uchar*>(png.data()), static_cast<uint>(png.size()), "PNG")) return;
    last_png_ = png;
    last_icon_ = QIcon(image);
  }
  found->second.push_back(last_icon_);
  if (group == shown_group_) ShowIcons();
}

void QtWindowRuntime::ImageGroupReplace(int group, int index, const ImageView& image) {
  auto found = groups_.find(group);
  const QImage pixels = Wrapped(image);
  if (found == groups_.end() || index < 0 || index >= static_cast<int>(found->second.size()) || pixels.isNull()) {
    return;
  }
  // A pixmap may keep the very pixels it is made from: they must be its own.
  const QIcon icon(QPixmap::fromImage(pixels));
  found->second[static_cast<std::size_t>(index)] = icon;
  if (group != shown_group_ || !list_) return;
  for (std::size_t row = 0; row < image_of_row_.size(); ++row) {
    if (image_of_row_[row] != index) continue;
    if (QListWidgetItem* item = list_->item(static_cast<int>(row))) item->setIcon(icon);
  }
}

EntryRange QtWindowRuntime::ListVisibleEntries() const {
  if (!list_) return {};
  // Entries are laid out in rows, in their order: those in view are a run,
  // found by halving. An entry not laid out yet counts as below the view.
  const int count = list_->count();
  const int bottom = list_->viewport()->height();
  const auto place = [this](int row) { return list_->visualItemRect(list_->item(row)); };
  const int first = FirstRowWhere(count, [&](int row) {
    const QRect rect = place(row);
    return !rect.isValid() || rect.bottom() >= 0;
  });
  const int past = FirstRowWhere(count, [&](int row) {
    const QRect rect = place(row);
    return !rect.isValid() || rect.top() >= bottom;
  });
  return {first, past - 1};
}

void QtWindowRuntime::ShowIcons() {
  if (!list_) return;
  const auto found = groups_.find(shown_group_);
  for (int row = 0; row < list_->count(); ++row) {
    const auto at = static_cast<std::size_t>(row);
    const int index = at < image_of_row_.size() ? image_of_row_[at] : -1;
    const bool has = found != groups_.end() && index >= 0 && index < static_cast<int>(found->second.size());
    list_->item(row)->setIcon(has ? found->second[static_cast<std::size_t>(index)] : QIcon());
  }
}

void QtWindowRuntime::CanvasClear() {
  if (canvas_) canvas_->Clear();
}

Rect QtWindowRuntime::CanvasSize() const {
  if (!canvas_) return {};
  return {0, 0, canvas_->width(), canvas_->height()};
}

void QtWindowRuntime::CanvasDraw(const Picture& picture, const Rect& where) {
  if (!canvas_ || picture.width <= 0 || picture.height <= 0 || where.width <= 0 || where.height <= 0) return;
  const QImage image = DecodePicture(exif::ReadOnlyFile(picture.path), QSize(where.width, where.height));
  if (image.isNull()) return;
  canvas_->Draw(image, QRect(where.left, where.top, where.width, where.height));
}

void QtWindowRuntime::CanvasDrawImage(const ImageView& image, const Rect& where) {
  const QImage pixels = Wrapped(image);
  if (!canvas_ || pixels.isNull() || where.width <= 0 || where.height <= 0) return;
  canvas_->Draw(pixels, QRect(where.left, where.top, where.width, where.height));
}

Picture QtWindowRuntime::LoadPicture(const std::string& path) {
  // Only the header is read here; the pixels are decoded when drawn.
  const QSize size = PictureSize(exif::ReadOnlyFile(path));
  if (!size.isValid()) return {path, 0, 0};
  return {path, size.width(), size.height()};
}

void QtWindowRuntime::ShellOpen(const std::string& path) { QDesktopServices::openUrl(FileUrl(path)); }

void QtWindowRuntime::SetStatusNotice(const std::string& text, const std::string& details) {
  auto* main = qobject_cast<QMainWindow*>(window_.data());
  if (main == nullptr) return;
  auto* notice = main->findChild<QLabel*>(QLatin1StringView(kStatusNoticeName));
  if (notice == nullptr) {
    if (text.empty()) return;
    notice = new QLabel;
    notice->setObjectName(QLatin1StringView(kStatusNoticeName));
    notice->setTextFormat(Qt::PlainText);
    notice->setStyleSheet(QStringLiteral("color: #b00020"));
    // A status bar made while the window is shown stays hidden until shown.
    main->statusBar()->addWidget(notice);
    main->statusBar()->show();
  }
  notice->setText(FromUtf8(text));
  notice->setToolTip(PlainForToolTip(details));
  notice->setVisible(!text.empty());
}

void QtWindowRuntime::SetBrowserAddress(const std::string& address) {
  if (!browser_) return;
  if (address.rfind(kScriptScheme, 0) == 0) {
    // Runs in the page shown; the page itself stays.
    browser_->page()->runJavaScript(FromUtf8(address.substr(kScriptScheme.size())));
    return;
  }
  // A local path is the file there; anything else is an address as it stands.
  browser_->setUrl(address.rfind('/', 0) == 0 ? FileUrl(address) : QUrl(FromUtf8(address)));
}

ImageView ViewOf(const QImage& image) {
  if (image.format() != QImage::Format_ARGB32) return {};
  return {image.constBits(), image.width(), image.height(), image.bytesPerLine()};
}

}  // namespace tavimo::platform
