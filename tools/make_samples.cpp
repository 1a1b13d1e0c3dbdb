// Draws the bundled sample photos and gives them EXIF blocks with the
// project's own fixture builder. Run: make_samples OUTPUT_FOLDER
#include <QBuffer>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QTransform>

#include <cstdio>
#include <optional>
#include <string>

#include "tests/support/jpeg_builder.h"

namespace {

using tavimo::testing::GpsFix;
using tavimo::testing::Order;

struct Sample {
  const char* file;
  const char* caption;
  std::optional<GpsFix> gps;
  Order order;
  bool thumbnail;
  QColor sky;
  QColor ground;
  bool portrait = false;  // stored on its side with orientation 6, as phones do
};

QImage Draw(const Sample& sample, int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, height);
  sky.setColorAt(0, sample.sky.lighter(130));
  sky.setColorAt(1, sample.sky);
  painter.fillRect(image.rect(), sky);
  // A horizon of hills and a sun, so thumbnails are told apart at a glance.
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(255, 236, 170));
  painter.drawEllipse(QPointF(width * 0.78, height * 0.25), height * 0.09, height * 0.09);
  painter.setBrush(sample.ground);
  QPolygonF hills;
  hills << QPointF(0, height);
  for (int x = 0; x <= width; x += width / 16) {
    hills << QPointF(x, height * (0.62 + 0.08 * ((x * 7 / width + sample.caption[0]) % 3)));
  }
  hills << QPointF(width, height);
  painter.drawPolygon(hills);
  painter.setPen(Qt::white);
  QFont font = painter.font();
  font.setPixelSize(height / 9);
  font.setBold(true);
  painter.setFont(font);
  painter.drawText(image.rect().adjusted(0, 0, 0, -height / 10), Qt::AlignHCenter | Qt::AlignBottom,
                   QString::fromUtf8(sample.caption));
  return image;
}

std::string Jpeg(const QImage& image, int quality) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "JPEG", quality);
  return bytes.toStdString();
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_samples OUTPUT_FOLDER\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  const Sample samples[] = {
      {"beijing-tiananmen.jpg", "Beijing", GpsFix{116.397500, 39.908700}, Order::kLittle, true,
       QColor(90, 140, 200), QColor(150, 60, 50)},
      {"beijing-tiananmen-2.jpg", "Beijing 2", GpsFix{116.397500, 39.908700}, Order::kBig, false,
       QColor(80, 120, 190), QColor(170, 70, 60)},
      {"shanghai-bund.jpg", "Shanghai", GpsFix{121.490500, 31.240400}, Order::kBig, true,
       QColor(60, 100, 170), QColor(60, 70, 90)},
      {"guangzhou-tower.jpg", "Guangzhou", GpsFix{113.324500, 23.106400}, Order::kLittle, false,
       QColor(120, 160, 210), QColor(40, 110, 70)},
      {"chengdu-panda-base.jpg", "Chengdu", GpsFix{104.146000, 30.733000}, Order::kBig, true,
       QColor(130, 170, 160), QColor(50, 130, 60)},
      {"xian-bell-tower.jpg", "Xi'an", GpsFix{108.940200, 34.261500}, Order::kLittle, false,
       QColor(200, 170, 120), QColor(140, 100, 60)},
      {"trip/hangzhou-west-lake.JPG", "Hangzhou", GpsFix{120.148500, 30.242400}, Order::kBig, true,
       QColor(110, 170, 200), QColor(60, 120, 110)},
      {"new-york-liberty.jpg", "New York", GpsFix{-74.044500, 40.689200}, Order::kBig, false,
       QColor(70, 110, 180), QColor(90, 120, 100)},
      {"sydney-opera-house.jpg", "Sydney", GpsFix{151.215300, -33.856800}, Order::kLittle, true,
       QColor(40, 150, 220), QColor(200, 190, 160)},
      {"no-position.jpg", "No position", std::nullopt, Order::kLittle, true, QColor(150, 150, 160),
       QColor(90, 90, 100)},
      {"shenzhen-portrait.jpg", "Shenzhen", GpsFix{114.057900, 22.543100}, Order::kLittle, true,
       QColor(100, 150, 220), QColor(70, 90, 80), true},
  };
  for (const Sample& sample : samples) {
    // A portrait is drawn upright, then stored turned a quarter to the left.
    const auto stored = [&](int width, int height) {
      return sample.portrait ? Draw(sample, height, width).transformed(QTransform().rotate(-90))
                             : Draw(sample, width, height);
    };
    const std::string thumbnail = sample.thumbnail ? Jpeg(stored(160, 120), 80) : std::string();
    const std::string body = Jpeg(stored(800, 600), 85);
    const std::string block =
        tavimo::testing::PhotoBlock({sample.order, sample.gps, thumbnail, sample.portrait ? 6 : 0});
    const std::string file = tavimo::testing::JpegWithExif(block, std::string_view(body).substr(2));
    const QString path = out + "/" + QString::fromUtf8(sample.file);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile target(path);
    if (!target.open(QIODevice::WriteOnly) ||
        target.write(file.data(), static_cast<qint64>(file.size())) != static_cast<qint64>(file.size())) {
      std::fprintf(stderr, "make_samples: cannot write %s\n", qPrintable(path));
      return 1;
    }
  }
  return 0;
}
