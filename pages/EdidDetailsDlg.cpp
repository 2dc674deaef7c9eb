#include "EdidDetailsDlg.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

#include "DialogBuilder.h"

namespace vantorq {

CEdidDetailsDlg::CEdidDetailsDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("edidDetails"));
  setWindowTitle(QStringLiteral("EDID details"));
  // The dialogs' own font, in proportion to the operator's text size; a
  // fixed pitch keeps the report's hex and figures in their columns.
  QFont font(QStringLiteral("Liberation Mono"));
  font.setStyleHint(QFont::Monospace);
  font.setPointSizeF(res::DialogFont().pointSizeF() * 1.1);
  m_text = new QPlainTextEdit(this);
  m_text->setReadOnly(true);
  // A line longer than the screen is wide wraps rather than hides.
  m_text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  m_text->setFont(font);
  m_text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  m_text->setAccessibleName(QStringLiteral("The EDID in full"));
  m_close = new QPushButton(QStringLiteral("Close"), this);
  m_close->setFont(res::DialogFont());
  m_close->setAutoDefault(false);
  connect(m_close, &QPushButton::clicked, this, &QDialog::close);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(m_close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_text);
  layout->addLayout(buttons);
}

void CEdidDetailsDlg::SetText(const QString& text) {
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  m_text->setPlainText(shown);
  // As wide as its longest line and as tall as its lines, within most of
  // the screen; scroll bars for the rest.
  const QFontMetrics metrics(m_text->font());
  int width = 0;
  const QStringList lines = shown.split(QLatin1Char('\n'));
  for (const QString& line : lines) width = std::max(width, metrics.horizontalAdvance(line));
  const int frame = 2 * m_text->frameWidth() + 2 * static_cast<int>(m_text->document()->documentMargin());
  const int scroll = m_text->verticalScrollBar()->sizeHint().width();
  QSize wanted(width + frame + scroll + 24, static_cast<int>(lines.size()) * metrics.lineSpacing() + frame + 24);
  const QScreen* screen = QGuiApplication::primaryScreen();
  const QSize room = screen != nullptr ? screen->availableGeometry().size() * 0.85 : QSize(1024, 700);
  wanted = wanted.boundedTo(room);
  m_text->setMinimumSize(std::min(wanted.width(), metrics.averageCharWidth() * 40), metrics.lineSpacing() * 8);
  resize(wanted.width() + layout()->contentsMargins().left() + layout()->contentsMargins().right(),
         wanted.height() + m_close->sizeHint().height() + 3 * layout()->spacing() + 24);
}

QString CEdidDetailsDlg::Text() const { return m_text->toPlainText(); }

}  // namespace vantorq
