#include "Resources.h"

#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <map>
#include <utility>

#include "DialogLayout.h"

static void InitVantorqIcons() { Q_INIT_RESOURCE(icons); }

namespace vantorq::res {

namespace {
void EnsureIcons() {
  static const bool loaded = [] {
    InitVantorqIcons();
    return true;
  }();
  (void)loaded;
}
}  // namespace

QString String(int id) {
  switch (id) {
    case ids::kAboutString:
      return QStringLiteral("&About Vantorq...");
    default:
      return {};
  }
}

QPixmap IconPixmap(int id, int size) {
  EnsureIcons();
  // Drawn once per id and size: the pages ask for the same lamps again.
  static std::map<std::pair<int, int>, QPixmap> drawn;
  if (const auto it = drawn.find({id, size}); it != drawn.end()) return it->second;
  QSvgRenderer svg(QStringLiteral(":/vantorq/icon%1.svg").arg(id));
  if (!svg.isValid()) return {};
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  svg.render(&painter);
  painter.end();
  return drawn[{id, size}] = QPixmap::fromImage(image);
}

QIcon Icon(int id) {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(IconPixmap(id, size));
  return icon;
}

}  // namespace vantorq::res
