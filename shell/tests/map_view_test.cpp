// The map page in the real browser box, with a fake provider served on
// loopback in place of the provider's scripts.
#include <gtest/gtest.h>
#include <httplib.h>

#include <QListWidget>
#include <QMimeData>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

#include <fstream>
#include <thread>

#include "shell/desktop.h"
#include "shell/tests/wait_for_scan.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/loopback.h"

namespace tavimo::shell {
namespace {

const std::string kSamples = TAVIMO_SAMPLES_DIR;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}


// Tries every way a web page has to read the positions or to make the
// window list photos: a CORS fetch, a form post without CORS, an image.
constexpr const char* kForeignSite = R"(<!doctype html><html><body><script>
  const q = new URLSearchParams(location.search);
  const server = 'http://127.0.0.1:' + q.get('port');
  window.result = 'pending';
  fetch(server + '/', {method: 'POST'})
      .then(r => r.text()).then(t => { window.result = 'read ' + t; }, () => { window.result = 'blocked'; });
  fetch(server + '/data', {method: 'POST', mode: 'no-cors', body: new URLSearchParams({lng: q.get('lng'), lat: q.get('lat')})});
  new Image().src = server + '/data?lng=' + q.get('lng') + '&lat=' + q.get('lat');
</script></body></html>)";

class FakeProvider : public QWebEngineUrlRequestInterceptor {
 public:
  explicit FakeProvider(int port) : port_(port) {}
  void interceptRequest(QWebEngineUrlRequestInfo& info) override {
    const QUrl url = info.requestUrl();
    if (url.host() != QStringLiteral("webapi.amap.com")) return;
    const QString file = url.path() == QStringLiteral("/maps") ? QStringLiteral("/maps.js") : QStringLiteral("/main.js");
    info.redirect(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(file)));
  }

 private:
  int port_;
};

class MapView : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    provider_server_ = new httplib::Server;
    const int port = provider_server_->bind_to_any_port("127.0.0.1");
    for (const char* name : {"maps.js", "main.js"}) {
      const std::string body = ReadFile(std::string(TAVIMO_FAKE_AMAP_DIR) + "/" + name);
      provider_server_->Get(std::string("/") + name, [body](const httplib::Request&, httplib::Response& response) {
        response.set_content(body, "text/javascript");
      });
    }
    // A page of some web site the user visits, on another loopback origin.
    provider_server_->Get("/site.html", [](const httplib::Request&, httplib::Response& response) {
      response.set_content(kForeignSite, "text/html");
    });
    provider_port_ = port;
    provider_thread_ = new std::thread([] { provider_server_->listen_after_bind(); });
    interceptor_ = new FakeProvider(port);
    QWebEngineProfile::defaultProfile()->setUrlRequestInterceptor(interceptor_);
  }
  static void TearDownTestSuite() {
    provider_server_->stop();
    provider_thread_->join();
    QWebEngineProfile::defaultProfile()->setUrlRequestInterceptor(nullptr);
  }

  void SetUp() override {
    ::setenv("TAVIMO_PORT", std::to_string(testing::FreeLoopbackPort()).c_str(), 1);
    desktop_ = std::make_unique<Desktop>();
    ::setenv("TAVIMO_PORT", "0", 1);
    desktop_->Window().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&desktop_->Window()));
    ASSERT_GT(desktop_->State().port, 0);
    ASSERT_TRUE(WaitFor("window.__fakeAMap && __fakeAMap.fitViews >= 1"))
        << "the page did not start: " << Js("location.href + ' ' + document.contentType + ' ' + typeof AMap + ' ' + typeof $")
               .toStdString();
  }
  void TearDown() override { desktop_.reset(); }

  // Evaluates `script` in the page; the text of its value.
  QString Js(const QString& script) {
    QString result;
    bool done = false;
    desktop_->Window().Browser()->page()->runJavaScript(script, [&](const QVariant& value) {
      result = value.toString();
      done = true;
    });
    for (int i = 0; i < 500 && !done; ++i) QTest::qWait(10);
    return result;
  }
  bool WaitFor(const QString& condition) {
    for (int i = 0; i < 300; ++i) {
      if (Js("!!(" + condition + ")") == QStringLiteral("true")) return true;
      QTest::qWait(20);
    }
    return false;
  }

  std::unique_ptr<Desktop> desktop_;
  testing::TempDir dir_;
  static httplib::Server* provider_server_;
  static int provider_port_;
  static std::thread* provider_thread_;
  static FakeProvider* interceptor_;
};

httplib::Server* MapView::provider_server_ = nullptr;
int MapView::provider_port_ = 0;
std::thread* MapView::provider_thread_ = nullptr;
FakeProvider* MapView::interceptor_ = nullptr;

TEST_F(MapView, StartsWithTheMapAndNoMarkers) {
  EXPECT_EQ(Js("__fakeAMap.map.id"), QStringLiteral("container"));
  EXPECT_EQ(Js("JSON.stringify(__fakeAMap.map.options.center)"), QStringLiteral("[116.397428,39.90923]"));
  EXPECT_EQ(Js("__fakeAMap.controls[0].options.position"), QStringLiteral("rt"));
  EXPECT_EQ(Js("__fakeAMap.onMap().length"), QStringLiteral("0"));
  EXPECT_TRUE(desktop_->Window().Browser()->url().isLocalFile());
}

TEST_F(MapView, OneMarkerPerPointAndAClickListsThePhotosThere) {
  OnFolderDropped(IntakeOf(desktop_->State()), kSamples);
  ASSERT_TRUE(WaitForScan(desktop_->State()));
  ASSERT_TRUE(WaitFor("__fakeAMap.onMap().length == 10 && __fakeAMap.fitViews >= 2"));
  EXPECT_EQ(Js("__fakeAMap.onMap()[0].De.icon"), QStringLiteral("./poi-marker-default.png"));
  EXPECT_EQ(Js("__fakeAMap.onMap()[0].De.offset.x + ',' + __fakeAMap.onMap()[0].De.offset.y"), QStringLiteral("-13,-30"));
  // The first point is one of the two Beijing photos taken at the same spot.
  Js("__fakeAMap.click(0)");
  QListWidget* list = desktop_->Window().PhotoList();
  for (int i = 0; i < 300 && list->count() == 0; ++i) QTest::qWait(10);
  EXPECT_EQ(list->count(), 2);
}

TEST_F(MapView, SecondDrawLeavesOnlyTheNewMarkers) {
  OnFolderDropped(IntakeOf(desktop_->State()), kSamples);
  ASSERT_TRUE(WaitForScan(desktop_->State()));
  ASSERT_TRUE(WaitFor("__fakeAMap.onMap().length == 10"));
  dir_.Write("one.jpg", testing::JpegWithExif(testing::PhotoBlock({testing::Order::kBig, testing::GpsFix{121.49, 31.24}, ""})));
  OnFolderDropped(IntakeOf(desktop_->State()), dir_.Path());
  ASSERT_TRUE(WaitForScan(desktop_->State()));
  ASSERT_TRUE(WaitFor("__fakeAMap.fitViews >= 3"));
  EXPECT_EQ(Js("__fakeAMap.onMap().length"), QStringLiteral("1"));
  EXPECT_EQ(Js("__fakeAMap.markers.length"), QStringLiteral("11"));
}

TEST_F(MapView, FolderDroppedOnTheMapOpensAndThePageStays) {
  QWebEngineView* browser = desktop_->Window().Browser();
  const QUrl page = browser->url();
  QWidget* target = browser->focusProxy() ? browser->focusProxy() : browser;
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(kSamples))});
  QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
  EXPECT_EQ(desktop_->State().tables.current_folder, kSamples + "/");
  ASSERT_TRUE(WaitFor("__fakeAMap.onMap().length == 10"));
  EXPECT_EQ(browser->url(), page);
}

TEST_F(MapView, NavigationToALocalFolderOpensItInstead) {
  QWebEngineView* browser = desktop_->Window().Browser();
  const QUrl page = browser->url();
  browser->setUrl(QUrl::fromLocalFile(QString::fromStdString(kSamples)));
  for (int i = 0; i < 300 && desktop_->State().tables.current_folder.empty(); ++i) QTest::qWait(10);
  EXPECT_EQ(desktop_->State().tables.current_folder, kSamples + "/");
  ASSERT_TRUE(WaitFor("__fakeAMap.onMap().length == 10"));
  EXPECT_EQ(browser->url(), page);
}

TEST_F(MapView, AWebSiteCannotReadThePositionsNorListPhotos) {
  OnFolderDropped(IntakeOf(desktop_->State()), kSamples);
  ASSERT_TRUE(WaitForScan(desktop_->State()));
  ASSERT_TRUE(WaitFor("__fakeAMap.onMap().length == 10"));
  const catalogue::CoordinateList first = desktop_->State().tables.map_points.Snapshot()->front();
  QWebEnginePage site(QWebEngineProfile::defaultProfile());
  bool loaded = false;
  QObject::connect(&site, &QWebEnginePage::loadFinished, [&](bool) { loaded = true; });
  site.load(QUrl(QStringLiteral("http://127.0.0.1:%1/site.html?port=%2&lng=%3&lat=%4")
                     .arg(provider_port_)
                     .arg(desktop_->State().port)
                     .arg(QString::fromStdString(catalogue::CoordinateText(first[0])))
                     .arg(QString::fromStdString(catalogue::CoordinateText(first[1])))));
  for (int i = 0; i < 500 && !loaded; ++i) QTest::qWait(10);
  ASSERT_TRUE(loaded);
  QString result;
  for (int i = 0; i < 300; ++i) {
    bool done = false;
    site.runJavaScript(QStringLiteral("window.result"), [&](const QVariant& value) {
      result = value.toString();
      done = true;
    });
    while (!done) QTest::qWait(5);
    if (result != QStringLiteral("pending")) break;
    QTest::qWait(10);
  }
  EXPECT_EQ(result.toStdString(), "blocked");
  // Time for the post and the image to arrive and be handed on, were they answered.
  QTest::qWait(500);
  EXPECT_EQ(desktop_->Window().PhotoList()->count(), 0) << "the window listed photos for a web site";
  // Our own page still reads and lists.
  Js("__fakeAMap.click(0)");
  QListWidget* list = desktop_->Window().PhotoList();
  for (int i = 0; i < 300 && list->count() == 0; ++i) QTest::qWait(10);
  EXPECT_EQ(list->count(), 2);
}

}  // namespace
}  // namespace tavimo::shell
