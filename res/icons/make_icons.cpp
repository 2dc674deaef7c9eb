// Draws the console's icons as PNG files into the folder given on the
// command line. The PNGs are committed; run this (target vantorq-make-icons)
// only to change the artwork.

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>

namespace {

QImage Canvas() {
  QImage image(32, 32, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  return image;
}

// A lamp: a coloured disc inside a white ring, lit with a soft highlight.
QImage Lamp(QColor core, QColor glow, bool ring) {
  QImage image = Canvas();
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF outer(2, 2, 28, 28);
  p.setPen(QPen(QColor(90, 90, 90), 1.2));
  p.setBrush(ring ? QColor(250, 250, 250) : QColor(200, 200, 200));
  p.drawEllipse(outer);
  const QRectF inner = outer.adjusted(5, 5, -5, -5);
  QRadialGradient g(inner.center() - QPointF(3, 3), inner.width() * 0.8);
  g.setColorAt(0, glow);
  g.setColorAt(1, core);
  p.setPen(QPen(core.darker(160), 1));
  p.setBrush(g);
  p.drawEllipse(inner);
  return image;
}

QImage AppIcon() {
  QImage image = Canvas();
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  // A screen on a stand, with an arrow from a small picture to a big one.
  p.setPen(QPen(QColor(30, 40, 60), 1.5));
  p.setBrush(QColor(40, 70, 130));
  p.drawRoundedRect(QRectF(2, 4, 28, 19), 2, 2);
  p.setBrush(QColor(30, 40, 60));
  p.drawRect(QRectF(13, 23, 6, 3));
  p.drawRoundedRect(QRectF(8, 26, 16, 3), 1, 1);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(120, 200, 255));
  p.drawRect(QRectF(5, 13, 6, 6));
  p.setBrush(QColor(255, 210, 80));
  p.drawRect(QRectF(17, 7, 11, 13));
  p.setPen(QPen(Qt::white, 1.6));
  p.drawLine(QPointF(11.5, 13), QPointF(16, 10));
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
  bool ok = true;
  ok &= AppIcon().save(dir + "/app128.png");
  ok &= Lamp(QColor(20, 20, 20), QColor(90, 90, 90), true).save(dir + "/lamp133_off.png");
  ok &= Lamp(QColor(200, 0, 0), QColor(255, 150, 150), false).save(dir + "/lamp134_on.png");
  ok &= Lamp(QColor(210, 0, 0), QColor(255, 170, 170), true).save(dir + "/lamp180_bit.png");
  return ok ? 0 : 1;
}
