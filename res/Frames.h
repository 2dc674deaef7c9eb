#pragma once
// Frames that stay whole at any scale. A style draws a frame's edges at
// logical coordinates; at 125 % or 150 % an edge can fall between device
// pixels or under a child, and vanishes. These draw every edge as a band
// exactly one device pixel wide, which always covers one pixel's centre.

#include <QColor>
#include <QGroupBox>
#include <QPointer>
#include <QRectF>
#include <QWidget>

class QPainter;

namespace vantorq::res {

struct FrameColors {
  QColor topLeft;
  QColor bottomRight;
};

// Draws the four edges of `rect` (logical) on a device of ratio `dpr`;
// the top edge leaves out [gapFrom, gapTo) when that is not empty.
void DrawFrame(QPainter& painter, const QRectF& rect, qreal dpr, const FrameColors& colors, qreal gapFrom = 0,
               qreal gapTo = 0);

// Draws `target`'s frame above everything inside it, following its place
// and visibility: for a frame whose children would cover an edge. It is a
// sibling of `target`, raised above it, and takes no input.
class CFrameOverlay final : public QWidget {
 public:
  CFrameOverlay(QWidget& target, FrameColors colors, QWidget* topGap = nullptr);
  // What the top edge leaves out (the tab row standing on it), if anything.
  QWidget* TopGap() const { return m_topGap; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void Follow();

  QPointer<QWidget> m_target;
  FrameColors m_colors;
  QPointer<QWidget> m_topGap;
};

// A group box whose frame is drawn that way; its title as the style has it.
class CGroupBox final : public QGroupBox {
 public:
  CGroupBox(const QString& title, QWidget* parent) : QGroupBox(title, parent) {}

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace vantorq::res
