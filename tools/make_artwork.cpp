// Draws the program's own pictures: the sponsor picture (474 x 281, RGBA),
// the application icon (256 x 256) and the map marker. Run:
// make_artwork OUTPUT_FOLDER (then move poi-marker-default.png to mapview/resources)
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

QImage Sponsor() {
  QImage image(474, 281, QImage::Format_ARGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient background(0, 0, 474, 281);
  background.setColorAt(0, QColor(255, 244, 228));
  background.setColorAt(1, QColor(246, 214, 178));
  p.fillRect(image.rect(), background);
  // A cup of coffee with steam.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(120, 72, 40));
  p.drawRoundedRect(QRectF(60, 120, 120, 100), 18, 18);
  p.setBrush(QColor(250, 250, 250));
  p.drawRoundedRect(QRectF(52, 108, 136, 22), 10, 10);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(120, 72, 40), 12));
  p.drawArc(QRectF(160, 140, 50, 50), -90 * 16, 180 * 16);
  p.setPen(QPen(QColor(200, 160, 130), 6, Qt::SolidLine, Qt::RoundCap));
  for (int i = 0; i < 3; ++i) {
    QPainterPath steam;
    const double x = 85 + i * 35;
    steam.moveTo(x, 95);
    steam.cubicTo(x - 12, 80, x + 12, 65, x, 45);
    p.drawPath(steam);
  }
  p.setPen(QColor(90, 50, 30));
  QFont title = p.font();
  title.setPixelSize(34);
  title.setBold(true);
  p.setFont(title);
  p.drawText(QRectF(230, 70, 230, 50), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("谢谢支持"));
  QFont body = p.font();
  body.setPixelSize(18);
  body.setBold(false);
  p.setFont(body);
  p.drawText(QRectF(230, 125, 230, 90), Qt::AlignLeft | Qt::TextWordWrap,
             QStringLiteral("一杯咖啡，\n让 Tavimo 走得更远"));
  return image;
}

QImage Icon() {
  QImage image(256, 256, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  // A photo with a map pin on it.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(250, 250, 250));
  p.drawRoundedRect(QRectF(16, 40, 224, 176), 20, 20);
  p.setBrush(QColor(96, 160, 220));
  p.drawRoundedRect(QRectF(32, 56, 192, 144), 12, 12);
  p.setBrush(QColor(70, 140, 90));
  QPolygonF hills;
  hills << QPointF(32, 200) << QPointF(90, 130) << QPointF(130, 170) << QPointF(170, 120) << QPointF(224, 200);
  p.drawPolygon(hills);
  QPainterPath pin;
  pin.moveTo(128, 190);
  pin.cubicTo(90, 130, 80, 110, 80, 90);
  pin.arcTo(QRectF(80, 42, 96, 96), 180, -180);
  pin.cubicTo(176, 110, 166, 130, 128, 190);
  p.setBrush(QColor(220, 60, 50));
  p.drawPath(pin);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(128, 90), 18, 18);
  return image;
}

// The map marker, drawn at twice the 25 x 34 it is shown at.
QImage Marker() {
  QImage image(50, 68, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath pin;
  pin.moveTo(25, 66);
  pin.cubicTo(10, 44, 2, 34, 2, 24);
  pin.arcTo(QRectF(2, 1, 46, 46), 180, -180);
  pin.cubicTo(48, 34, 40, 44, 25, 66);
  p.setPen(QPen(QColor(150, 30, 25), 2));
  p.setBrush(QColor(225, 60, 50));
  p.drawPath(pin);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(25, 24), 9, 9);
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_artwork OUTPUT_FOLDER\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  return Sponsor().save(out + "/sponsor.png") && Icon().save(out + "/tavimo.png") &&
                 Marker().save(out + "/poi-marker-default.png")
             ? 0
             : 1;
}
