// Listings of many photos at one spot in the window's own photo list: the
// time to fill the list (every entry with the placeholder), the time until
// every thumbnail is shown, and the longest the GUI thread was kept busy at
// once meanwhile; and how long ReleaseGlobals takes to stop the workers in
// the middle of a listing. 10,000 photos with embedded EXIF thumbnails, and 24 MP
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
#include <memory>
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
constexpr auto kWorkBeforeRelease = std::chrono::milliseconds(300);

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

// The window's photo list and the global state over it, with `count`
// photos at one spot, hard links to one file.
class Listing {
 public:
  Listing(const std::string& photo, int count) : globals_(tavimo::shell::InitGlobals()) {
    const std::string original = dir_.Write("photo.jpg", photo);
    tavimo::shell::SetUpPhotoList(&list_);
    list_.resize(536, 129);
    list_.show();
    globals_->window = &window_;
    globals_->reader->SetPointerTags({"8825", "8769"});
    globals_->tables.current_folder = dir_.Path() + "/";
    for (int i = 0; i < count; ++i) {
      const std::string name = "p" + std::to_string(i) + ".jpg";
      linked_ = linked_ && ::link(original.c_str(), (dir_.Path() + "/" + name).c_str()) == 0;
      globals_->tables.photo_names.push_back(name);
      globals_->tables.photo_table.push_back({116.5, 39.5});
    }
  }
  ~Listing() { tavimo::shell::ReleaseGlobals(*globals_); }

  bool Linked() const { return linked_; }
  tavimo::shell::Globals& State() { return *globals_; }
  void List() { tavimo::shell::ListPhotosAt(*globals_, "116.5", "39.5"); }

 private:
  TempDir dir_;
  QListWidget list_;
  tavimo::platform::Canvas canvas_;
  tavimo::platform::QtWindowRuntime window_{nullptr, &list_, &canvas_, nullptr};
  std::unique_ptr<tavimo::shell::Globals> globals_;
  bool linked_ = true;
};

void ListPhotos(benchmark::State& state, const std::string& photo, int count) {
  Listing listing(photo, count);
  if (!listing.Linked()) {
    state.SkipWithError("cannot link the photos");
    return;
  }
  double fill = 0;
  double all_shown = 0;
  double longest_pass = 0;
  for (auto _ : state) {
    QElapsedTimer clock;
    clock.start();
    listing.List();
    fill += MillisecondsOf(clock);
    while (!listing.State().pictures->Idle()) {
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

// ReleaseGlobals while the workers decode 24 MP photos.
void ReleaseWhileMakingThumbnails(benchmark::State& state) {
  const std::string photo = Jpeg(6000, 4000);
  for (auto _ : state) {
    state.PauseTiming();
    {
      Listing listing(photo, kLargePhotos);
      listing.List();
      std::this_thread::sleep_for(kWorkBeforeRelease);
      state.ResumeTiming();
      tavimo::shell::ReleaseGlobals(listing.State());
      state.PauseTiming();
    }
    state.ResumeTiming();
  }
}
BENCHMARK(ReleaseWhileMakingThumbnails)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
