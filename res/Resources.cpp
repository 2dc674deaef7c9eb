#include "Resources.h"

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

QPixmap IconPixmap(int id) {
  EnsureIcons();
  return QPixmap(QStringLiteral(":/vantorq/icon%1.png").arg(id));
}

QIcon Icon(int id) { return QIcon(IconPixmap(id)); }

}  // namespace vantorq::res
