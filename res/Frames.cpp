#include "Frames.h"

#include <QEvent>
#include <QPainter>
#include <QStyleOptionGroupBox>

namespace vantorq::res {

void DrawFrame(QPainter& painter, const QRectF& rect, qreal dpr, const FrameColors& colors, qreal gapFrom,
               qreal gapTo) {
  const qreal px = 1.0 / dpr;
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setPen(Qt::NoPen);
  const qreal right = rect.x() + rect.width();
  const qreal bottom = rect.y() + rect.height();
  painter.fillRect(QRectF(rect.x(), rect.y(), px, rect.height()), colors.topLeft);
  if (gapTo > gapFrom) {
    painter.fillRect(QRectF(rect.x(), rect.y(), std::max<qreal>(0, gapFrom - rect.x()), px), colors.topLeft);
    painter.fillRect(QRectF(gapTo, rect.y(), std::max<qreal>(0, right - gapTo), px), colors.topLeft);
  } else {
    painter.fillRect(QRectF(rect.x(), rect.y(), rect.width(), px), colors.topLeft);
  }
  painter.fillRect(QRectF(right - px, rect.y(), px, rect.height()), colors.bottomRight);
  painter.fillRect(QRectF(rect.x(), bottom - px, rect.width(), px), colors.bottomRight);
  painter.restore();
}

CFrameOverlay::CFrameOverlay(QWidget& target, FrameColors colors, QWidget* topGap)
    : QWidget(target.parentWidget()), m_target(&target), m_colors(colors), m_topGap(topGap) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::NoFocus);
  target.installEventFilter(this);
  Follow();
}

void CFrameOverlay::Follow() {
  if (!m_target) return;
  setGeometry(m_target->geometry());
  setVisible(m_target->isVisibleTo(parentWidget()));
  raise();
}

bool CFrameOverlay::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_target) {
    switch (event->type()) {
      case QEvent::Move:
      case QEvent::Resize:
      case QEvent::Show:
      case QEvent::Hide:
        Follow();
        break;
      default:
        break;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void CFrameOverlay::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  qreal gapFrom = 0;
  qreal gapTo = 0;
  if (m_topGap && m_topGap->isVisible()) {
    gapFrom = m_topGap->mapTo(m_target, QPoint(0, 0)).x();
    gapTo = gapFrom + m_topGap->width();
  }
  DrawFrame(painter, rect(), devicePixelRatioF(), m_colors, gapFrom, gapTo);
}

void CGroupBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QStyleOptionGroupBox option;
  initStyleOption(&option);
  // The style draws the title; the frame is ours.
  option.subControls = QStyle::SC_GroupBoxLabel;
  style()->drawComplexControl(QStyle::CC_GroupBox, &option, &painter, this);
  option.subControls = QStyle::SC_GroupBoxFrame;
  QRect frame = style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxFrame, this);
  if (!title().isEmpty()) {
    option.subControls = QStyle::SC_GroupBoxLabel;
    const QRect label = style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, this);
    frame.setTop(std::max(frame.top(), label.bottom() + 1));
  }
  const QColor edge = palette().color(QPalette::Mid);
  DrawFrame(painter, frame, devicePixelRatioF(), {edge, edge});
}

}  // namespace vantorq::res
