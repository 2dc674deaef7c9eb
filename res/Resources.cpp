#include "Resources.h"

#include <QGuiApplication>
#include <QIcon>
#include <QScreen>

#include <array>

#include "DialogLayout.h"

static void InitVantorqIcons() { Q_INIT_RESOURCE(vantorq_icons); }

namespace vantorq::res {

namespace {

// The sizes the icons are rendered at: a 32-pixel icon at 1x to 4x.
constexpr std::array<int, 4> kRenderedSizes{32, 64, 96, 128};

QString IconFile(int id, int size) {
  // The bit lamp is the lit lamp: every lamp has the same ring.
  const int file = id == ids::kIconBitOn ? ids::kIconLampOn : id;
  return QStringLiteral(":/vantorq/%1x%1/apps/icon%2.png").arg(size).arg(file);
}

void EnsureIcons() {
  static const bool loaded = [] {
    InitVantorqIcons();
    return true;
  }();
  (void)loaded;
}

}  // namespace

qreal PrimaryScale() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->devicePixelRatio() : 1.0;
}

QString String(int id) {
  switch (id) {
    case ids::kAboutString:
      return QStringLiteral("&About Vantorq...");
    default:
      return {};
  }
}

QPixmap IconPixmap(int id, qreal scale) {
  EnsureIcons();
  // The smallest rendering that is still sharp at the screen's scale.
  int size = kRenderedSizes.back();
  for (int s : kRenderedSizes) {
    if (s >= 32 * scale) {
      size = s;
      break;
    }
  }
  return QPixmap(IconFile(id, size));
}

QIcon Icon(int id) {
  EnsureIcons();
  // Window managers scale what they need from these.
  QIcon icon;
  for (int size : {16, 32, 64}) icon.addFile(IconFile(id, size));
  return icon;
}

}  // namespace vantorq::res
