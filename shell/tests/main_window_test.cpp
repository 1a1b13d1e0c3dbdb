#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <iostream>
#include <nlohmann/json.hpp>
#include <thread>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <QWebEngineView>

#include "platform/canvas.h"
#include "shell/desktop.h"
#include "shell/tests/wait_for_pictures.h"
#include "shell/tests/wait_for_scan.h"
#include "shell/menus.h"
#include "shell/photo_list.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/modal_closer.h"

namespace tavimo::shell {
namespace {

using testing::ModalCloser;
using testing::TempDir;

const std::string kSamples = TAVIMO_SAMPLES_DIR;

class DesktopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    desktop_.Window().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&desktop_.Window()));
  }
  std::string Caption() { return desktop_.Window().windowTitle().toStdString(); }
  void Drop(const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    const QPointF at(1200, 640);  // below the list, outside the map
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&desktop_.Window(), &enter);
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&desktop_.Window(), &drop);
  }
  // Runs `action`, closing the modal window it opens; returns what was seen.
  template <typename Action>
  void WithModalClosed(ModalCloser& closer, Action action) {
    closer.Arm();
    action();
    EXPECT_EQ(closer.closed, 1);
  }

  Desktop desktop_;
  TempDir dir_;
};

TEST_F(DesktopTest, WindowHasItsControlsAtTheirPlaces) {
  MainWindow& window = desktop_.Window();
  EXPECT_EQ(window.frameGeometry().size(), QSize(1479, 685));
  EXPECT_EQ(window.frameGeometry().topLeft(), QPoint(50, 50));
  const std::pair<const char*, QRect> controls[] = {
      {"超文本浏览框1", QRect(0, 3, 920, 632)},
      {"画板1", QRect(928, 0, 536, 456)},
      {"超级列表框1", QRect(928, 464, 536, 129)},
      {"按钮1", QRect(928, 598, 104, 32)},
  };
  for (const auto& [name, place] : controls) {
    auto* control = window.findChild<QWidget*>(QString::fromUtf8(name));
    ASSERT_NE(control, nullptr) << name;
    EXPECT_EQ(control->geometry(), place) << name;
    EXPECT_TRUE(control->isVisible()) << name;
  }
  EXPECT_NE(qobject_cast<QWebEngineView*>(window.findChild<QWidget*>(QStringLiteral("超文本浏览框1"))), nullptr);
  EXPECT_EQ(window.PhotoList()->viewMode(), QListView::IconMode);
  EXPECT_EQ(window.NoPositionButton()->text(), QStringLiteral("切换无坐标图片"));
  const QList<QAction*> menus = window.menuBar()->actions();
  ASSERT_EQ(menus.size(), 1);
  EXPECT_EQ(menus[0]->text(), QStringLiteral("其他"));
  EXPECT_EQ(window.SponsorAction()->text(), QStringLiteral("赞助作者"));
  EXPECT_EQ(window.AboutAction()->text(), QStringLiteral("关于"));
}

TEST_F(DesktopTest, StartsWithEmptyStateAndTheBaseTitle) {
  const Globals& state = desktop_.State();
  EXPECT_EQ(state.base_title, "Tavimo by:Orsel");
  EXPECT_EQ(Caption(), state.base_title);
  EXPECT_TRUE(state.tables.photo_names.empty());
  EXPECT_TRUE(state.tables.photo_table.empty());
  EXPECT_TRUE(state.tables.map_points.Snapshot()->empty());
  EXPECT_EQ(state.tables.current_folder, "");
  EXPECT_EQ(state.current_photo_path, "");
  EXPECT_EQ(state.reader->PointerTags(), (std::vector<std::string>{"8825", "8769"}));
  EXPECT_TRUE(state.drop_receiver->IsAttached());
}

TEST_F(DesktopTest, CaptionShowsOnlyTheLastFolder) {
  dir_.Write("one/a.jpg", testing::JpegWithoutExif());
  OnFolderDropped(IntakeOf(desktop_.State()), kSamples);
  ASSERT_TRUE(WaitForScan(desktop_.State()));
  EXPECT_EQ(Caption(), "Tavimo by:Orsel  - " + kSamples + "/");
  EXPECT_EQ(desktop_.State().tables.photo_names.size(), 11u);
  OnFolderDropped(IntakeOf(desktop_.State()), dir_.Path() + "/one/");
  ASSERT_TRUE(WaitForScan(desktop_.State()));
  EXPECT_EQ(Caption(), "Tavimo by:Orsel  - " + dir_.Path() + "/one/");
  EXPECT_EQ(desktop_.State().tables.photo_names, (std::vector<std::string>{"a.jpg"}));
}

TEST_F(DesktopTest, DroppedFolderOpens) {
  Drop({QUrl::fromLocalFile(QString::fromStdString(kSamples))});
  EXPECT_EQ(Caption(), "Tavimo by:Orsel  - " + kSamples + "/");
  EXPECT_EQ(desktop_.State().tables.current_folder, kSamples + "/");
}

TEST_F(DesktopTest, AnythingButOneFolderShowsTheMessageAndChangesNothing) {
  OnFolderDropped(IntakeOf(desktop_.State()), kSamples);
  ASSERT_TRUE(WaitForScan(desktop_.State()));
  const std::string caption = Caption();
  const QString file = QString::fromStdString(dir_.Write("a.jpg", ""));
  const QString folder = QString::fromStdString(dir_.Path());
  const QList<QList<QUrl>> drops = {
      {QUrl::fromLocalFile(file)},
      {QUrl::fromLocalFile(folder), QUrl::fromLocalFile(QString::fromStdString(kSamples))},
      {QUrl::fromLocalFile(folder + "/missing")},
  };
  for (const QList<QUrl>& urls : drops) {
    ModalCloser closer;
    WithModalClosed(closer, [&] { Drop(urls); });
    EXPECT_EQ(closer.text, QStringLiteral("请拖入目录"));
    EXPECT_EQ(closer.title, QStringLiteral("信息："));
    EXPECT_EQ(Caption(), caption);
    EXPECT_EQ(desktop_.State().tables.current_folder, kSamples + "/");
    EXPECT_EQ(desktop_.State().tables.photo_names.size(), 11u);
  }
}

TEST_F(DesktopTest, SecondAttachKeepsTheFirstCallback) {
  std::vector<std::string> second;
  desktop_.State().drop_receiver->Attach(&desktop_.Window(), [&second](const std::string& names) {
    second.push_back(names);
  });
  Drop({QUrl::fromLocalFile(QString::fromStdString(kSamples))});
  EXPECT_TRUE(second.empty());
  EXPECT_EQ(desktop_.State().tables.current_folder, kSamples + "/");
}

TEST(DroppedNames, JoinsLocalPathsWithLineBreaks) {
  EXPECT_EQ(DroppedNames({QUrl::fromLocalFile("/a/b"), QUrl("https://example.org/x"), QUrl::fromLocalFile("/c 旅行")}),
            "/a/b\r\n/c 旅行");
  EXPECT_EQ(DroppedNames({QUrl("https://example.org/x")}), "");
}

TEST(DropReceiver, DetachedReceiverTakesNoDrops) {
  QWidget window;
  DropReceiver receiver;
  receiver.Detach();
  int calls = 0;
  receiver.Attach(&window, [&calls](const std::string&) { ++calls; });
  EXPECT_TRUE(window.acceptDrops());
  receiver.Detach();
  EXPECT_FALSE(window.acceptDrops());
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile("/tmp")});
  QDropEvent drop(QPointF(1, 1), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&window, &drop);
  EXPECT_EQ(calls, 0);
}

TEST_F(DesktopTest, AboutShowsTheNotice) {
  ModalCloser closer;
  WithModalClosed(closer, [&] { desktop_.Window().AboutAction()->trigger(); });
  EXPECT_EQ(closer.title, QStringLiteral("信息："));
  EXPECT_EQ(closer.text.toStdString(), AboutText());
  const QStringList lines = QString::fromStdString(AboutText()).split(QStringLiteral("\r\n"));
  ASSERT_EQ(lines.size(), 4);
  EXPECT_EQ(lines[0], QStringLiteral("编写不易，不如请作者喝杯咖啡叭^.^"));
  EXPECT_EQ(lines[1], QString());
  EXPECT_TRUE(lines[2].contains(QStringLiteral("，")));
  EXPECT_TRUE(lines[3].startsWith(QStringLiteral("本工具首发")));
}

TEST_F(DesktopTest, SponsorShowsAFreshWindowEachTime) {
  for (int i = 0; i < 2; ++i) {
    ModalCloser closer;
    WithModalClosed(closer, [&] { desktop_.Window().SponsorAction()->trigger(); });
    EXPECT_EQ(closer.title, QStringLiteral("感谢支持"));
    EXPECT_EQ(closer.size, QSize(483, 313));
    EXPECT_EQ(closer.position, QPoint(50, 50));
    EXPECT_EQ(closer.picture_size, QSize(474, 281));
  }
  const QWidgetList windows = QApplication::topLevelWidgets();
  EXPECT_EQ(std::count_if(windows.begin(), windows.end(), [](QWidget* w) { return w->isVisible(); }), 1);
}

TEST_F(DesktopTest, ReleaseGlobalsRunsOnce) {
  Globals& state = desktop_.State();
  ReleaseGlobals(state);
  ReleaseGlobals(state);
  EXPECT_EQ(state.releases, 1);
  EXPECT_EQ(state.reader, nullptr);
  EXPECT_EQ(state.script_host, nullptr);
  EXPECT_EQ(state.drop_receiver, nullptr);
}

TEST_F(DesktopTest, ScreenshotAfterOpeningTheSamples) {
  OnFolderDropped(IntakeOf(desktop_.State()), kSamples);
  ASSERT_TRUE(WaitForScan(desktop_.State()));
  QTest::qWait(500);
  QDir().mkpath(QStringLiteral(TAVIMO_ARTEFACTS_DIR));
  const QString path = QStringLiteral(TAVIMO_ARTEFACTS_DIR "/main_window.png");
  ASSERT_TRUE(desktop_.Window().grab().save(path));
  std::cout << "screenshot: " << path.toStdString() << '\n';
}

TEST_F(DesktopTest, ButtonListsPhotosWithoutPositionAndAClickPreviews) {
  OnFolderDropped(IntakeOf(desktop_.State()), kSamples);
  ASSERT_TRUE(WaitForScan(desktop_.State()));
  QListWidget* list = desktop_.Window().PhotoList();
  QTest::mouseClick(desktop_.Window().NoPositionButton(), Qt::LeftButton);
  ASSERT_EQ(list->count(), 1);
  EXPECT_EQ(list->item(0)->text(), QStringLiteral("图片1"));
  EXPECT_FALSE(list->item(0)->icon().isNull());

  ListPhotosAt(desktop_.State(), "", "");
  ASSERT_EQ(list->count(), 11);
  // The placeholder at once, each thumbnail when it is made.
  const QImage placeholder = list->item(0)->icon().pixmap(80, 80).toImage();
  for (int i = 0; i < list->count(); ++i) EXPECT_FALSE(list->item(i)->icon().isNull()) << i;
  ASSERT_TRUE(WaitForPictures(desktop_.State()));
  for (int i = 0; i < list->count(); ++i) {
    EXPECT_NE(list->item(i)->icon().pixmap(80, 80).toImage(), placeholder) << i;
  }

  // A click on the third entry shows that photo, centred on the canvas.
  const QRect third = list->visualItemRect(list->item(2));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, third.center());
  EXPECT_EQ(desktop_.State().current_photo_path, kSamples + "/" + desktop_.State().tables.photo_names[2]);
  ASSERT_TRUE(WaitForPictures(desktop_.State()));
  const QImage& canvas = desktop_.Window().Preview()->Content();
  EXPECT_EQ(canvas.pixelColor(5, 5), QColor(Qt::white)) << "above the picture stays blank";
  EXPECT_NE(canvas.pixelColor(268, 228), QColor(Qt::white)) << "the picture is drawn in the middle";

  // Moving the selection with the keyboard does not change the preview.
  list->setFocus();
  QTest::keyClick(list, Qt::Key_Right);
  EXPECT_EQ(list->currentRow(), 3);
  EXPECT_EQ(desktop_.State().current_photo_path, kSamples + "/" + desktop_.State().tables.photo_names[2]);

  QTest::qWait(300);
  QDir().mkpath(QStringLiteral(TAVIMO_ARTEFACTS_DIR));
  ASSERT_TRUE(desktop_.Window().grab().save(QStringLiteral(TAVIMO_ARTEFACTS_DIR "/photo_list.png")));
}

TEST_F(DesktopTest, PhonePortraitsAreShownUpright) {
  // Stored 800 x 600 on its side, with orientation 6.
  const platform::Picture picture = desktop_.Runtime().LoadPicture(kSamples + "/shenzhen-portrait.jpg");
  EXPECT_EQ(picture.width, 600);
  EXPECT_EQ(picture.height, 800);
  OnFolderDropped(IntakeOf(desktop_.State()), kSamples);
  ASSERT_TRUE(WaitForScan(desktop_.State()));
  ListPhotosAt(desktop_.State(), "114.06", "");
  ASSERT_TRUE(WaitForPictures(desktop_.State()));
  QListWidget* list = desktop_.Window().PhotoList();
  ASSERT_EQ(list->count(), 1);
  const QImage icon = list->item(0)->icon().pixmap(80, 80).toImage();
  const QColor top = icon.pixelColor(10, 5);
  const QColor bottom = icon.pixelColor(40, 76);
  EXPECT_GT(top.blue(), top.red() + 60) << "sky at the top";
  EXPECT_LT(bottom.blue(), 140) << "ground at the bottom";
}

TEST_F(DesktopTest, MarkerClickPostListsThroughTheGuiThread) {
  OnFolderDropped(IntakeOf(desktop_.State()), kSamples);
  ASSERT_TRUE(WaitForScan(desktop_.State()));
  const int port = desktop_.State().port;
  ASSERT_GT(port, 0);
  std::string points;
  std::thread page([&] {
    httplib::Client client("127.0.0.1", port);
    if (auto response = client.Post("/", "", "application/x-www-form-urlencoded")) points = response->body;
    // Both Beijing samples stand at the same spot.
    client.Post("/data", "lng=116.40374357265176&lat=39.91010349934476", "application/x-www-form-urlencoded");
  });
  // The handler waits for this thread, which keeps handling events meanwhile.
  QListWidget* list = desktop_.Window().PhotoList();
  for (int i = 0; i < 500 && list->count() == 0; ++i) QTest::qWait(10);
  page.join();
  EXPECT_EQ(list->count(), 2);
  EXPECT_EQ(nlohmann::json::parse(points).size(), 10u);
}

TEST(DesktopPort, PortInUseIsShownInTheWindow) {
  httplib::Server blocker;
  const int port = blocker.bind_to_any_port("127.0.0.1");
  ASSERT_GT(port, 0);
  ::setenv("TAVIMO_PORT", std::to_string(port).c_str(), 1);
  Desktop desktop;
  ::setenv("TAVIMO_PORT", "0", 1);
  auto* notice = desktop.Window().findChild<QLabel*>(QStringLiteral("portNotice"));
  ASSERT_NE(notice, nullptr);
  EXPECT_EQ(notice->text(), QStringLiteral("端口 %1 已被占用，地图无法显示标记").arg(port));
  EXPECT_EQ(desktop.State().port, 0);
}

TEST(FolderArgument, IsAbsoluteWithOneTrailingSlash) {
  EXPECT_EQ(FolderArgument("/photos/trip"), "/photos/trip/");
  EXPECT_EQ(FolderArgument("/photos/trip/"), "/photos/trip/");
  EXPECT_EQ(FolderArgument("/"), "/");
  EXPECT_EQ(FolderArgument("trip"), QDir::currentPath().toStdString() + "/trip/");
  EXPECT_EQ(FolderArgument(""), "");
}

}  // namespace
}  // namespace tavimo::shell
