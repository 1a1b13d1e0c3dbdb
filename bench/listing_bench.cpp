// A listing of 100 photos: with embedded EXIF thumbnails, and 24 MP photos
// without, which are thumbnailed from a reduced decode of the whole photo.
#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "shell/globals.h"
#include "shell/photo_list.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/recording_runtime.h"

namespace {

using tavimo::testing::TempDir;

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

void ListHundred(benchmark::State& state, const std::string& photo) {
  TempDir dir;
  auto globals = tavimo::shell::InitGlobals();
  tavimo::testing::RecordingRuntime window;
  globals->window = &window;
  globals->reader->SetPointerTags({"8825", "8769"});
  globals->tables.current_folder = dir.Path() + "/";
  for (int i = 0; i < 100; ++i) {
    const std::string name = "p" + std::to_string(i) + ".jpg";
    dir.Write(name, photo);
    globals->tables.photo_names.push_back(name);
    globals->tables.photo_table.push_back({116.5, 39.5});
  }
  for (auto _ : state) {
    window.calls.clear();
    tavimo::shell::ListPhotosAt(*globals, "116.5", "39.5");
  }
  state.counters["photos"] = 100;
}

void ListWithEmbeddedThumbnails(benchmark::State& state) {
  const std::string body = Jpeg(4000, 3000);
  const std::string block = tavimo::testing::PhotoBlock(
      {tavimo::testing::Order::kLittle, tavimo::testing::GpsFix{116.5, 39.5}, Jpeg(160, 120)});
  ListHundred(state, tavimo::testing::JpegWithExif(block, std::string_view(body).substr(2)));
}
BENCHMARK(ListWithEmbeddedThumbnails)->Unit(benchmark::kMillisecond)->Iterations(5);

void ListTwentyFourMegapixelWithout(benchmark::State& state) {
  ListHundred(state, Jpeg(6000, 4000));
}
BENCHMARK(ListTwentyFourMegapixelWithout)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
