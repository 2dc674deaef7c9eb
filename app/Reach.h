#pragma once
// What makes the console reachable without a mouse or without sight: names
// and descriptions for controls whose meaning is not in their text, and
// the keys that switch tabs and open About.

#include <functional>

class QWidget;

namespace vantorq {

namespace res {
class CDialogControls;
class CTabCtrl;
}  // namespace res

// Names and describes the main window's controls (the pages do their own).
void DescribeConsole(const res::CDialogControls& controls);

// Ctrl+Tab and Ctrl+PgDn go to the next tab, Ctrl+Shift+Tab and Ctrl+PgUp
// to the previous one (both wrap); F1 runs `about`. None of them makes a
// control a tab stop.
void InstallShortcuts(QWidget& window, res::CTabCtrl& tab, const std::function<void()>& about);

}  // namespace vantorq
