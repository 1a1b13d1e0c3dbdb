// Listings of many photos at one spot in the window's own photo list: the
// time to fill the list (every entry with the placeholder), the time until
// every thumbnail is shown, and the longest the GUI thread was kept busy at
// once meanwhile. 10,000 photos with embedded EXIF thumbnails, and 24 MP
// photos without, thumbnailed from a reduced decode of the whole photo. The
// photos of a listing are hard links to one file: distinct paths, and after
// the first iteration, bytes the system has cached.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QListWidget>
#include <QPainter>
#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/canvas.h"
#include "platform/qt_window_runtime.h"
#include "shell/globals.h"
#include "shell/main_window.h"
#include "shell/photo_list.h"
#include "tests/support/jpeg_builder.h"

namespace {

using tavimo::testing::TempDir;

constexpr int kManyPhotos = 10000;
constexpr int kLargePhotos = 100;
constexpr auto kIdlePause = std::chrono::milliseconds(1);

std::string Jpeg(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  QPainter painter(&image);
  QLinearGradient gradient(0, 0, width, height);
  gradient.setColorAt(0, Qt::darkBlue);
  gradient.setColorAt(1, Qt::yellow);
  painter.fillRect(image.rect(), gradient);
  painter.end();
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "JPEG", 90);
  return bytes.toStdString();
}

double MillisecondsOf(const QElapsedTimer& clock) { return static_cast<double>(clock.nsecsElapsed()) / 1e6; }

void ListPhotos(benchmark::State& state, const std::string& photo, int count) {
  TempDir dir;
  const std::string original = dir.Write("photo.jpg", photo);
  QListWidget list;
  tavimo::shell::SetUpPhotoList(&list);
  list.resize(536, 129);
  list.show();
  tavimo::platform::Canvas canvas;
  tavimo::platform::QtWindowRuntime window(nullptr, &list, &canvas, nullptr);
  auto globals = tavimo::shell::InitGlobals();
  globals->window = &window;
  globals->reader->SetPointerTags({"8825", "8769"});
  globals->tables.current_folder = dir.Path() + "/";
  for (int i = 0; i < count; ++i) {
    const std::string name = "p" + std::to_string(i) + ".jpg";
    if (::link(original.c_str(), (dir.Path() + "/" + name).c_str()) != 0) {
      state.SkipWithError("cannot link the photos");
      return;
    }
    globals->tables.photo_names.push_back(name);
    globals->tables.photo_table.push_back({116.5, 39.5});
  }
  double fill = 0;
  double all_shown = 0;
  double longest_pass = 0;
  for (auto _ : state) {
    QElapsedTimer clock;
    clock.start();
    tavimo::shell::ListPhotosAt(*globals, "116.5", "39.5");
    fill += MillisecondsOf(clock);
    while (!globals->pictures->Idle()) {
      QElapsedTimer pass;
      pass.start();
      QCoreApplication::processEvents();
      longest_pass = std::max(longest_pass, MillisecondsOf(pass));
      std::this_thread::sleep_for(kIdlePause);
    }
    all_shown += MillisecondsOf(clock);
  }
  state.counters["photos"] = count;
  state.counters["fill_ms"] = benchmark::Counter(fill, benchmark::Counter::kAvgIterations);
  state.counters["all_shown_ms"] = benchmark::Counter(all_shown, benchmark::Counter::kAvgIterations);
  state.counters["longest_gui_pass_ms"] = longest_pass;
}

void ListTenThousandWithEmbeddedThumbnails(benchmark::State& state) {
  const std::string body = Jpeg(4000, 3000);
  const std::string block = tavimo::testing::PhotoBlock(
      {tavimo::testing::Order::kLittle, tavimo::testing::GpsFix{116.5, 39.5}, Jpeg(160, 120)});
  ListPhotos(state, tavimo::testing::JpegWithExif(block, std::string_view(body).substr(2)), kManyPhotos);
}
BENCHMARK(ListTenThousandWithEmbeddedThumbnails)->Unit(benchmark::kMillisecond)->Iterations(3);

void ListHundredTwentyFourMegapixelWithout(benchmark::State& state) {
  ListPhotos(state, Jpeg(6000, 4000), kLargePhotos);
}
BENCHMARK(ListHundredTwentyFourMegapixelWithout)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
