#pragma once
// String and icon resources by their numeric ids.

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace vantorq::res {

// The text of string resource `id`; empty for an unknown id.
QString String(int id);
// Icon resource `id` (128 application, 133 dark lamp, 134 lit lamp,
// 180 bit lamp); a null pixmap for an unknown id.
QPixmap IconPixmap(int id);
QIcon Icon(int id);

}  // namespace vantorq::res
