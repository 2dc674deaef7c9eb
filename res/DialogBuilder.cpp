#include "DialogBuilder.h"

#include "Frames.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabBar>
#include <QProxyStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <memory>

namespace vantorq::res {

DialogUnits DialogUnitsFor(const QFont& font) {
  const QFontMetricsF metrics(font);
  const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  const double average = metrics.horizontalAdvance(letters) / letters.size();
  return {average / 4.0, metrics.height() / 8.0};
}

QRect ToPixels(const DialogUnits& units, int x, int y, int w, int h) {
  auto px = [](double v) { return static_cast<int>(std::lround(v)); };
  return {px(x * units.x), px(y * units.y), px(w * units.x), px(h * units.y)};
}

namespace {

double g_dialogScale = 1.0;
// Room for the window manager's frame and title bar around the window.
constexpr QSize kDecoration(16, 48);

}  // namespace

QFont DialogFont() {
  // The layouts were drawn for a narrow 8-point sans; Liberation Sans has
  // the proportions they expect. Any sans serif will do when it is missing.
  QFont font(QStringLiteral("Liberation Sans"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSizeF(8.0 * g_dialogScale);
  return font;
}

double DialogScale() { return g_dialogScale; }

void ChooseDialogScale(const DialogSpec& layout) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  ChooseDialogScale(QApplication::font(), screen != nullptr ? screen->availableGeometry().size() : QSize(), layout);
}

void ChooseDialogScale(const QFont& desktopFont, QSize available, const DialogSpec& layout) {
  const double points = desktopFont.pointSizeF() > 0 ? desktopFont.pointSizeF() : desktopFont.pixelSize() * 72.0 / 96.0;
  g_dialogScale = std::max(1.0, points / kUsualDesktopPointSize);
  const QSize room = available - kDecoration;
  // Text does not grow exactly with its point size: shrink in small steps
  // until the window fits.
  for (int step = 0; step < 60; ++step) {
    const QSize size = ToPixels(DialogUnitsFor(DialogFont()), 0, 0, layout.w, layout.h).size();
    if (room.isEmpty() || (size.width() <= room.width() && size.height() <= room.height())) break;
    const double fit = std::min(static_cast<double>(room.width()) / size.width(),
                                static_cast<double>(room.height()) / size.height());
    g_dialogScale *= std::min(0.98, fit);
  }
}

CTabCtrl::CTabCtrl(QWidget* parent) : QFrame(parent), m_bar(new QTabBar(this)) {
  // Its static edge is drawn above its pages, which would cover it (Frames.h).
  setFrameStyle(QFrame::NoFrame);
  m_bar->setDrawBase(false);
  m_bar->setExpanding(false);
  m_bar->move(2, 0);
  m_bar->setFixedHeight(TabRowHeight());
}

int CTabCtrl::TabRowHeight() const {
  constexpr int kDrawnFor = 20;
  return std::max(kDrawnFor, m_bar->sizeHint().height());
}

void CTabCtrl::InsertItem(int index, const QString& text) {
  m_bar->insertTab(index, text);
  m_bar->adjustSize();
  m_bar->setFixedHeight(TabRowHeight());
}

int CTabCtrl::GetCurSel() const { return m_bar->currentIndex(); }

void CTabCtrl::SetCurSel(int index) { m_bar->setCurrentIndex(index); }

QWidget* CDialogControls::Get(int id) const {
  const auto it = m_byId.find(id);
  return it == m_byId.end() ? nullptr : it->second;
}

QButtonGroup* CDialogControls::Group(int firstId) const {
  const auto it = m_groups.find(firstId);
  return it == m_groups.end() ? nullptr : it->second;
}

namespace {

// The application's style, with radio and check indicators `scale` times
// their size. One per scale, kept for the program's life.
class CScaledIndicatorStyle final : public QProxyStyle {
 public:
  CScaledIndicatorStyle(const QString& base, double scale) : QProxyStyle(base), m_scale(scale) {}
  int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
    const int size = QProxyStyle::pixelMetric(metric, option, widget);
    switch (metric) {
      case PM_ExclusiveIndicatorWidth:
      case PM_ExclusiveIndicatorHeight:
      case PM_IndicatorWidth:
      case PM_IndicatorHeight:
        return static_cast<int>(std::lround(size * m_scale));
      default:
        return size;
    }
  }

 private:
  double m_scale;
};

QStyle* ScaledIndicatorStyle(double scale) {
  static std::map<int, std::unique_ptr<QStyle>> styles;
  const int key = static_cast<int>(std::lround(scale * 100));
  auto& style = styles[key];
  if (!style) style = std::make_unique<CScaledIndicatorStyle>(QApplication::style()->name(), scale);
  return style.get();
}

// A push button whose text wraps onto several lines.
QPushButton* WrappingButton(QWidget* parent, const QString& text) {
  auto* button = new QPushButton(parent);
  auto* label = new QLabel(text, button);
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignCenter);
  label->setAttribute(Qt::WA_TransparentForMouseEvents);
  auto* layout = new QVBoxLayout(button);
  layout->setContentsMargins(4, 1, 4, 1);
  layout->addWidget(label);
  button->setAccessibleName(text);
  return button;
}

// A label whose text needs more room than its row gives (a larger font,
// or a form drawn for a narrower one) grows: away from the control its
// text runs up to, else to the right; and as tall as its letters.
void FitLabels(const std::vector<QWidget*>& all) {
  for (QWidget* w : all) {
    auto* label = qobject_cast<QLabel*>(w);
    if (label == nullptr || label->text().isEmpty() || label->wordWrap()) continue;
    const QFontMetrics metrics(label->font());
    const QMargins margins = label->contentsMargins();
    const int width = metrics.horizontalAdvance(label->text()) + margins.left() + margins.right() + 1;
    const int height = metrics.tightBoundingRect(label->text()).height() + margins.top() + margins.bottom();
    QRect rect = label->geometry();
    if (rect.height() < height) rect.adjust(0, -(height - rect.height()) / 2, 0, (height - rect.height() + 1) / 2);
    // The nearest control to its right, on its row.
    int limit = std::numeric_limits<int>::max();
    for (QWidget* other : all) {
      if (other == w || qobject_cast<QGroupBox*>(other) != nullptr) continue;
      const QRect o = other->geometry();
      if (o.left() > rect.left() && o.top() <= rect.bottom() && o.bottom() >= rect.top()) limit = std::min(limit, o.left());
    }
    rect.setWidth(std::max(rect.width(), width));
    if (rect.right() >= limit) rect.moveRight(limit - 1);
    label->setGeometry(rect);
  }
}

// Radio buttons drawn inside a group box become its children: a screen
// reader then says which group a button belongs to ("Scaler setting").
// They stay where they are drawn.
void GatherRadioGroups(const DialogSpec& layout, const std::vector<QWidget*>& all) {
  for (std::size_t i = 0; i < layout.controls.size(); ++i) {
    if (layout.controls[i].kind != ControlKind::RadioButton) continue;
    QWidget* radio = all[i];
    for (std::size_t j = 0; j < layout.controls.size(); ++j) {
      if (layout.controls[j].kind != ControlKind::GroupBox || !all[j]->geometry().contains(radio->geometry())) continue;
      const QRect rect = radio->geometry().translated(-all[j]->pos());
      radio->setParent(all[j]);
      radio->setGeometry(rect);
      radio->show();
      break;
    }
  }
}

}  // namespace

CDialogControls BuildDialog(QWidget& host, const DialogSpec& layout) {
  CDialogControls controls;
  host.setFont(DialogFont());
  const DialogUnits units = DialogUnitsFor(host.font());
  const QRect size = ToPixels(units, 0, 0, layout.w, layout.h);
  if (layout.caption.empty()) {
    // A child page: its owner places and sizes it.
    host.resize(size.size());
  } else {
    host.setFixedSize(size.size());
    host.setWindowTitle(QString::fromUtf8(layout.caption.data(), layout.caption.size()));
  }

  QButtonGroup* group = nullptr;
  for (const ControlSpec& c : layout.controls) {
    const QString text = QString::fromUtf8(c.text.data(), static_cast<qsizetype>(c.text.size()));
    const QRect rect = ToPixels(units, c.x, c.y, c.w, c.h);
    QWidget* widget = nullptr;
    if (c.kind != ControlKind::RadioButton || (c.flags & kStartsGroup) != 0) group = nullptr;

    switch (c.kind) {
      case ControlKind::Icon: {
        auto* label = new QLabel(&host);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = label;
        break;
      }
      case ControlKind::PushButton:
        widget = (c.flags & kWrapText) != 0 ? WrappingButton(&host, text)
                                            : new QPushButton(text, &host);
        static_cast<QPushButton*>(widget)->setAutoDefault(false);
        break;
      case ControlKind::Label: {
        auto* label = new QLabel(text, &host);
        if ((c.flags & kWrapText) != 0) {
          label->setWordWrap(true);
          label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        }
        widget = label;
        break;
      }
      case ControlKind::ComboBox: {
        auto* combo = new QComboBox(&host);
        // The table's height is the open list's; the closed box is as tall
        // as its font needs.
        const int itemHeight = std::max(1, combo->fontMetrics().height());
        combo->setMaxVisibleItems(std::max(1, rect.height() / itemHeight - 1));
        widget = combo;
        break;
      }
      case ControlKind::TabControl:
        widget = new CTabCtrl(&host);
        break;
      case ControlKind::GroupBox:
        widget = new CGroupBox(text, &host);
        break;
      case ControlKind::RadioButton: {
        auto* radio = new QRadioButton(text, &host);
        // The style draws its indicator at one size whatever the text's;
        // with large text it grows with the letters beside it.
        if (g_dialogScale > 1.05) radio->setStyle(ScaledIndicatorStyle(g_dialogScale));
        if (group == nullptr) {
          group = new QButtonGroup(&host);
          controls.m_groups[c.id] = group;
        }
        group->addButton(radio, static_cast<int>(group->buttons().size()));
        widget = radio;
        break;
      }
      case ControlKind::TextBox: {
        auto* edit = new QPlainTextEdit(&host);
        edit->setLineWrapMode(QPlainTextEdit::NoWrap);
        edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        // Its border is drawn above its viewport (see the end): the style's
        // frame lies under the viewport and vanishes at fractional scales.
        edit->setFrameStyle(QFrame::NoFrame);
        widget = edit;
        break;
      }
    }

    if (c.kind == ControlKind::ComboBox) {
      widget->setGeometry(rect.x(), rect.y(), rect.width(), widget->sizeHint().height());
    } else {
      widget->setGeometry(rect);
    }
    if ((c.flags & kDisabled) != 0) {
      widget->setEnabled(false);
      if (c.kind == ControlKind::TextBox) {
        // Display only, but meant to be read: keep its text at full contrast.
        QPalette palette = widget->palette();
        palette.setColor(QPalette::Disabled, QPalette::Text, palette.color(QPalette::Active, QPalette::Text));
        widget->setPalette(palette);
      }
    }
    widget->setFocusPolicy(c.kind == ControlKind::Label || c.kind == ControlKind::Icon
                               ? Qt::NoFocus
                               : widget->focusPolicy());
    widget->setProperty("controlId", c.id);
    if (c.id != kNoId) {
      widget->setObjectName(QStringLiteral("ctl%1").arg(c.id));
      controls.m_byId[c.id] = widget;
    }
    controls.m_all.push_back(widget);
  }
  FitLabels(controls.m_all);
  GatherRadioGroups(layout, controls.m_all);
  // Frames that children cover are drawn again above them, once every
  // control stands where it will.
  for (std::size_t i = 0; i < layout.controls.size(); ++i) {
    const ControlSpec& c = layout.controls[i];
    QWidget* w = controls.m_all[i];
    if (c.kind == ControlKind::TextBox && (c.flags & kBorder) != 0) {
      const QColor edge = w->palette().color(QPalette::Mid);
      new CFrameOverlay(*w, {edge, edge});
    } else if (c.kind == ControlKind::TabControl) {
      auto* tab = static_cast<CTabCtrl*>(w);
      new CFrameOverlay(*tab, {w->palette().color(QPalette::Dark), w->palette().color(QPalette::Mid)}, tab->TabBar());
    }
  }
  return controls;
}

namespace {

class CArrowFocus final : public QObject {
 public:
  explicit CArrowFocus(QButtonGroup& group) : QObject(&group), m_group(group) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() != Qt::NoModifier && key->modifiers() != Qt::KeypadModifier) return false;
    int step = 0;
    switch (key->key()) {
      case Qt::Key_Up:
      case Qt::Key_Left:
        step = -1;
        break;
      case Qt::Key_Down:
      case Qt::Key_Right:
        step = 1;
        break;
      default:
        return false;
    }
    const auto buttons = m_group.buttons();
    const auto at = buttons.indexOf(static_cast<QAbstractButton*>(watched));
    if (at < 0) return false;
    const auto count = buttons.size();
    buttons[(at + step + count) % count]->setFocus(step < 0 ? Qt::BacktabFocusReason : Qt::TabFocusReason);
    return true;
  }

 private:
  QButtonGroup& m_group;
};

}  // namespace

void ArrowsMoveWithin(QButtonGroup& group) {
  auto* filter = new CArrowFocus(group);
  for (QAbstractButton* button : group.buttons()) button->installEventFilter(filter);
}

int CheckedIndex(const QButtonGroup& group) {
  const auto buttons = group.buttons();
  for (int i = 0; i < buttons.size(); ++i) {
    if (buttons[i]->isChecked()) return i;
  }
  return -1;
}

void CheckIndex(QButtonGroup& group, int index) {
  const auto buttons = group.buttons();
  // An exclusive group refuses to have its checked button cleared.
  const bool exclusive = group.exclusive();
  group.setExclusive(false);
  for (int i = 0; i < buttons.size(); ++i) buttons[i]->setChecked(i == index);
  group.setExclusive(exclusive);
}

void SetIcon(QLabel& control, const QPixmap& icon) {
  const QSize box = control.size();
  if (icon.isNull() || box.isEmpty()) {
    control.setPixmap(icon);
    return;
  }
  // Scaled from the large drawing to the control's size in device pixels,
  // so that a 2x screen shows it as sharp as a 1x one.
  const qreal dpr = control.devicePixelRatioF();
  const int side = static_cast<int>(std::lround(std::min(box.width(), box.height()) * dpr));
  QPixmap shown = icon.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  shown.setDevicePixelRatio(dpr);
  control.setPixmap(shown);
}

}  // namespace vantorq::res

namespace vantorq::res {

void ShowLamp(QLabel& lamp, bool lit, const QPixmap& on, const QPixmap& off) {
  lamp.setProperty("lit", lit);
  SetIcon(lamp, lit ? on : off);
  const QStringList names = lamp.property("lampNames").toStringList();
  if (names.size() == 2 && lamp.accessibleName() != names[lit ? 1 : 0]) {
    lamp.setAccessibleName(names[lit ? 1 : 0]);
    // Said, not only stored: a screen reader hears the lamp change.
    QAccessibleEvent changed(&lamp, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&changed);
  }
}

void DescribeLamp(QLabel& lamp, const QString& dark, const QString& lit, const QString& description) {
  lamp.setProperty("lampNames", QStringList{dark, lit});
  lamp.setAccessibleName(LampLit(&lamp) ? lit : dark);
  lamp.setAccessibleDescription(description);
}

bool LampLit(const QWidget* lamp) { return lamp != nullptr && lamp->property("lit").toBool(); }

}  // namespace vantorq::res
