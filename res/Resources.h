#pragma once
// String and icon resources by their numeric ids.

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace vantorq::res {

// The text of string resource `id`; empty for an unknown id.
QString String(int id);
// Icon resource `id` (128 application, 133 dark lamp, 134 lit lamp,
// 180 bit lamp), drawn from its SVG at `size` pixels: large enough by
// default to be scaled down sharp for any control at any screen scale. A
// null pixmap for an unknown id.
QPixmap IconPixmap(int id, int size = 256);
// The icon at every size a window manager may ask for.
QIcon Icon(int id);

}  // namespace vantorq::res
