#include "shell/menus.h"

#include <QLabel>
#include <QPixmap>
#include <QShowEvent>

// Resources of a static library are registered by hand, outside any namespace.
static void RegisterShellResources() { Q_INIT_RESOURCE(shell); }

namespace tavimo::shell {

void LoadResources() { RegisterShellResources(); }

std::string AboutText() {
  return "编写不易，不如请作者喝杯咖啡叭^.^\r\n"
         "\r\n"
         "拖入照片文件夹，即可在地图上看到每张照片的拍摄地点\r\n"
         "本工具首发Tavimo官网";
}

void ShowAbout(platform::WindowRuntime& window) { window.MessageBox(AboutText()); }

SponsorWindow::SponsorWindow() {
  setWindowTitle(QStringLiteral("感谢支持"));
  setModal(true);
  auto* picture = new QLabel(this);
  picture->setObjectName(QStringLiteral("图片框1"));
  picture->setGeometry(0, 0, 474, 281);
  picture->setPixmap(QPixmap(QStringLiteral(":/tavimo/sponsor.png")));
  move(50, 50);
  resize(483, 313);
}

void SponsorWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  resize(QSize(483, 313) - (frameGeometry().size() - geometry().size()));
  move(50, 50);
}

void ShowSponsor() {
  SponsorWindow window;
  window.exec();
}

}  // namespace tavimo::shell
