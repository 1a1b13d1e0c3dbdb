#include "shell/main_window.h"

#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QShowEvent>
#include <QWebEngineView>

#include "platform/canvas.h"

namespace tavimo::shell {
namespace {

constexpr QPoint kPlace(50, 50);
constexpr QSize kOuterSize(1479, 685);
constexpr QSize kThumbnail(80, 80);

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QString::fromUtf8(kBaseTitle));
  setWindowIcon(QIcon(QStringLiteral(":/tavimo/tavimo.png")));
  auto* area = new QWidget(this);
  area->setObjectName(QStringLiteral("area"));
  setCentralWidget(area);

  browser_ = new QWebEngineView(area);
  browser_->setObjectName(QStringLiteral("超文本浏览框1"));
  browser_->setGeometry(0, 3, 920, 632);

  canvas_ = new platform::Canvas(area);
  canvas_->setObjectName(QStringLiteral("画板1"));
  canvas_->setGeometry(928, 0, 536, 456);
  canvas_->Clear();

  list_ = new QListWidget(area);
  list_->setObjectName(QStringLiteral("超级列表框1"));
  list_->setGeometry(928, 464, 536, 129);
  SetUpPhotoList(list_);

  button_ = new QPushButton(QStringLiteral("切换无坐标图片"), area);
  button_->setObjectName(QStringLiteral("按钮1"));
  button_->setGeometry(928, 598, 104, 32);

  QMenu* other = menuBar()->addMenu(QStringLiteral("其他"));
  sponsor_ = other->addAction(QStringLiteral("赞助作者"));
  about_ = other->addAction(QStringLiteral("关于"));

  move(kPlace);
  resize(kOuterSize);
}

void SetUpPhotoList(QListWidget* list) {
  list->setViewMode(QListView::IconMode);
  list->setIconSize(kThumbnail);
  list->setFlow(QListView::LeftToRight);
  list->setWrapping(true);
  list->setWordWrap(false);
  list->setMovement(QListView::Static);
  list->setResizeMode(QListView::Adjust);
  // Thousands of entries are laid out a batch at a time, between events.
  list->setLayoutMode(QListView::Batched);
  list->setStyleSheet(QStringLiteral("QListWidget { background: white; color: black; }"));
}

QWebEngineView* MainWindow::Browser() const { return browser_; }
platform::Canvas* MainWindow::Preview() const { return canvas_; }
QListWidget* MainWindow::PhotoList() const { return list_; }
QPushButton* MainWindow::NoPositionButton() const { return button_; }
QAction* MainWindow::SponsorAction() const { return sponsor_; }
QAction* MainWindow::AboutAction() const { return about_; }

void MainWindow::FitOuterSize() {
  const QSize frame = frameGeometry().size() - geometry().size();
  resize(kOuterSize - frame);
  move(kPlace);
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!fitted_) {
    fitted_ = true;
    FitOuterSize();
  }
}

}  // namespace tavimo::shell
