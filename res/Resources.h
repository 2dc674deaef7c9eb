#pragma once
// String and icon resources by their numeric ids.

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace vantorq::res {

// The text of string resource `id`; empty for an unknown id.
QString String(int id);
// Icon resource `id` (128 application, 133 dark lamp, 134 lit lamp,
// 180 bit lamp) as a 32-pixel icon rendered at build time for a screen of
// `scale` (1 to 4; the primary screen's when not given), to be scaled down
// sharp to the control. A null pixmap for an unknown id.
qreal PrimaryScale();
QPixmap IconPixmap(int id, qreal scale = PrimaryScale());
// The icon at every size a window manager may ask for.
QIcon Icon(int id);

}  // namespace vantorq::res
