#pragma once
// Turns a layout table into child widgets of a host widget, converting
// dialog units with the host font's own metrics: a horizontal unit is a
// quarter of the average width of A-Z a-z, a vertical unit an eighth of the
// font height.

#include <QButtonGroup>
#include <QFrame>
#include <QPixmap>
#include <QRect>
#include <QWidget>

#include <map>
#include <vector>

#include "DialogLayout.h"

class QTabBar;
class QLabel;

namespace vantorq::res {

struct DialogUnits {
  double x;  // pixels per horizontal dialog unit
  double y;  // pixels per vertical dialog unit
};

DialogUnits DialogUnitsFor(const QFont& font);
QRect ToPixels(const DialogUnits& units, int x, int y, int w, int h);

// The font every dialog of the console is drawn in: the layouts' 8-point
// sans at the dialog scale.
QFont DialogFont();

// A desktop's usual text size: a default font this large or smaller draws
// the dialogs as they were made; a larger one, proportionally larger.
inline constexpr double kUsualDesktopPointSize = 11.0;

// Chooses the dialog scale for a main window laid out as `layout` on a
// screen whose free area is `available` (logical pixels): the operator's
// text scaling (the desktop font's size over the usual one, never below
// 1), reduced where the window would not fit. Font DPI needs nothing
// here: Qt turns it into the screen's scale factor.
void ChooseDialogScale(const QFont& desktopFont, QSize available, const DialogSpec& layout);
// The same for the application's font and the primary screen.
void ChooseDialogScale(const DialogSpec& layout);
double DialogScale();

// A tab control: a framed area with a row of tabs along its top; pages are
// ordinary children placed inside it by their owner.
class CTabCtrl final : public QFrame {
 public:
  explicit CTabCtrl(QWidget* parent);
  // The tab row's height: what its text needs, never less than the 20
  // pixels the pages' placement was drawn for.
  int TabRowHeight() const;
  void InsertItem(int index, const QString& text);
  int GetCurSel() const;
  void SetCurSel(int index);
  QTabBar* TabBar() const { return m_bar; }

 private:
  QTabBar* m_bar;
};

class CDialogControls {
 public:
  QWidget* Get(int id) const;
  template <class T>
  T* As(int id) const {
    return qobject_cast<T*>(Get(id));
  }
  // The radio group whose first button has `firstId`.
  QButtonGroup* Group(int firstId) const;
  const std::vector<QWidget*>& All() const { return m_all; }

 private:
  friend CDialogControls BuildDialog(QWidget& host, const DialogSpec& layout);
  std::map<int, QWidget*> m_byId;
  std::map<int, QButtonGroup*> m_groups;
  std::vector<QWidget*> m_all;
};

// Sizes `host` to the dialog and creates its controls. Widgets carry their
// id in the "controlId" property and their id as object name "ctl<id>".
CDialogControls BuildDialog(QWidget& host, const DialogSpec& layout);

// Inside a radio group the arrow keys move the focus from button to button
// (wrapping) and choose nothing: Space or a click chooses. Every choice
// acts on the device at once, and an arrow is no choice.
void ArrowsMoveWithin(QButtonGroup& group);

// Radio group exchange: the position of the checked button, -1 if none;
// checking a position outside the group clears every button.
int CheckedIndex(const QButtonGroup& group);
void CheckIndex(QButtonGroup& group, int index);

// Shows an icon in a picture control, scaled to fit it.
void SetIcon(QLabel& control, const QPixmap& icon);

// Shows a lamp as lit or dark; the control remembers which in its "lit"
// property, so that what a lamp shows can be asked without comparing images,
// and tells a screen reader as its accessible name (see DescribeLamp).
void ShowLamp(QLabel& lamp, bool lit, const QPixmap& on, const QPixmap& off);

// What a lamp says to a screen reader when dark and when lit, and what it
// means: colour alone says nothing to someone who cannot see it.
void DescribeLamp(QLabel& lamp, const QString& dark, const QString& lit, const QString& description);
bool LampLit(const QWidget* lamp);

}  // namespace vantorq::res
