#include "platform/qt_window_runtime.h"

#include <QDesktopServices>
#include <QImageReader>
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

constexpr int kImageIndexRole = Qt::UserRole;
constexpr int kItemValueRole = Qt::UserRole + 1;

// A caption's "[*]" marks where Qt shows that the window is modified and is
// dropped otherwise; "[*][*]" shows one "[*]" as it stands.
constexpr QLatin1StringView kModifiedMark("[*]");
constexpr QLatin1StringView kLiteralModifiedMark("[*][*]");

constexpr const char* kStatusNoticeName = "scanNotice";

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool Rotated(const QImageReader& reader) {
  return (reader.transformation() & QImageIOHandler::TransformationRotate90) != 0;
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
  if (list_) list_->clear();
}

void QtWindowRuntime::ListInsert(const std::string& caption, int image_index, std::int64_t item_value) {
  if (!list_) return;
  auto* item = new QListWidgetItem(FromUtf8(caption), list_);
  item->setData(kImageIndexRole, image_index);
  item->setData(kItemValueRole, static_cast<qlonglong>(item_value));
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
  QPixmap image;
  if (!image.loadFromData(reinterpret_cast<const uchar*>(png.data()), static_cast<uint>(png.size()), "PNG")) return;
  found->second.push_back(image);
  if (group == shown_group_) ShowIcons();
}

void QtWindowRuntime::ShowIcons() {
  if (!list_) return;
  const auto found = groups_.find(shown_group_);
  for (int i = 0; i < list_->count(); ++i) {
    QListWidgetItem* item = list_->item(i);
    const int index = item->data(kImageIndexRole).toInt();
    const bool has = found != groups_.end() && index >= 0 && index < static_cast<int>(found->second.size());
    item->setIcon(has ? QIcon(found->second[static_cast<std::size_t>(index)]) : QIcon());
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
  const exif::ReadOnlyFile file(picture.path);
  const std::unique_ptr<QIODevice> device = FileDevice(file, kMaxPhotoBytes);
  if (!device) return;
  // Decoded at the size drawn: a 24 MP photo needs no full decode for 536 x 456.
  QImageReader reader(device.get());
  reader.setAutoTransform(true);
  const QSize target(where.width, where.height);
  reader.setScaledSize(Rotated(reader) ? target.transposed() : target);
  const QImage image = reader.read();
  if (image.isNull()) return;
  canvas_->Draw(image, QRect(where.left, where.top, where.width, where.height));
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

}  // namespace tavimo::platform
