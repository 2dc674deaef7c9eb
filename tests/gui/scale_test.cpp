// The window at every scale a desktop offers: every frame shows its four
// edges. The scales need a process each (Qt takes the factor at start),
// so the test runs this binary again per scale.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QTabBar>
#include <QScreen>
#include <QTemporaryDir>
#include <QImage>
#include <QPlainTextEdit>
#include <QProcess>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>

#include <cmath>

#include "ConsoleDlg.h"
#include "SettingsPage.h"
#include "DialogBuilder.h"
#include "Frames.h"
#include "Dialogs.h"
#include "Support.h"

namespace vantorq {
namespace {

int Distance(QRgb a, QRgb b) {
  return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

// The frame rectangle of a framed widget, in its own coordinates; empty
// when it draws none.
QRect FrameRect(const QWidget& w) {
  if (const auto* box = qobject_cast<const QGroupBox*>(&w)) {
    QStyleOptionGroupBox option;
    option.initFrom(box);
    option.text = box->title();
    option.subControls = QStyle::SC_GroupBoxFrame;
    return box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxFrame, box);
  }
  if (dynamic_cast<const res::CFrameOverlay*>(&w) != nullptr) return w.rect();
  if (const auto* frame = qobject_cast<const QFrame*>(&w)) {
    if (frame->frameShape() != QFrame::NoFrame && frame->frameWidth() > 0) return frame->frameRect();
  }
  return {};
}

// Whether the edge from `from` to `to` (device pixels, a straight line) is
// drawn: along most of it a pixel near it stands out both from what lies
// a few pixels outside the frame and from the pixel two further in.
bool EdgeDrawn(const QImage& image, QPoint from, QPoint to, QPoint outward) {
  // A style may inset its line a little (Fusion's group box top by 4 px).
  const int inset = static_cast<int>(std::ceil(4 * image.devicePixelRatio())) + 1;
  const bool horizontal = from.y() == to.y();
  const int length = horizontal ? to.x() - from.x() : to.y() - from.y();
  int drawn = 0;
  int looked = 0;
  for (int i = length / 10; i < length - length / 10; ++i) {
    const QPoint p = horizontal ? QPoint(from.x() + i, from.y()) : QPoint(from.x(), from.y() + i);
    const QPoint out = p + outward * 4;
    if (!image.rect().contains(out) || !image.rect().contains(p - outward * (inset + 2))) continue;
    ++looked;
    for (int d = 1; d >= -inset; --d) {
      const QPoint q = p + outward * d;
      const QRgb c = image.pixel(q);
      if (Distance(c, image.pixel(out)) > 12 && Distance(c, image.pixel(q - outward * 2)) > 12) {
        ++drawn;
        break;
      }
    }
  }
  return looked > 0 && drawn * 10 >= looked * 9;
}

QStringList MissingEdges(QWidget& window, const QImage& image) {
  QStringList missing;
  const double dpr = image.devicePixelRatio();
  for (QWidget* w : window.findChildren<QWidget*>()) {
    if (!w->isVisible() || w->width() < 8 || w->height() < 8) continue;
    const QRect frame = FrameRect(*w);
    if (frame.isEmpty()) continue;
    QRect box = frame;
    if (const auto* group = qobject_cast<const QGroupBox*>(w); group != nullptr && !group->title().isEmpty()) {
      // The frame's top runs just below the title, not through it.
      QStyleOptionGroupBox option;
      option.initFrom(group);
      option.text = group->title();
      option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
      const QRect label = group->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, group);
      box.setTop(std::max(box.top(), label.bottom()));
    }
    const QPointF topLeft = QPointF(w->mapTo(&window, box.topLeft())) * dpr;
    const QPointF size = QPointF(box.width(), box.height()) * dpr;
    const int l = static_cast<int>(std::floor(topLeft.x()));
    const int t = static_cast<int>(std::floor(topLeft.y()));
    const int r = static_cast<int>(std::ceil(topLeft.x() + size.x())) - 1;
    const int b = static_cast<int>(std::ceil(topLeft.y() + size.y())) - 1;
    const QString name = w->metaObject()->className() + QStringLiteral(" ") + w->objectName() + QStringLiteral(" at %1,%2").arg(w->x()).arg(w->y());
    if (!EdgeDrawn(image, {l, t}, {l, b}, {-1, 0})) missing << name + " left";
    if (!EdgeDrawn(image, {r, t}, {r, b}, {1, 0})) missing << name + " right";
    if (!EdgeDrawn(image, {l, b}, {r, b}, {0, 1})) missing << name + " bottom";
    // The tab row stands on the tab control's top edge: the edge is looked
    // for right of it.
    int topFrom = l;
    if (const auto* overlay = dynamic_cast<res::CFrameOverlay*>(w); overlay != nullptr && overlay->TopGap() != nullptr) {
      const QWidget* gap = overlay->TopGap();
      topFrom = static_cast<int>(std::ceil((gap->mapTo(&window, QPoint(gap->width(), 0)).x() + 2) * dpr));
    }
    if (!EdgeDrawn(image, {topFrom, t}, {r, t}, {0, -1})) missing << name + " top";
  }
  return missing;
}

// Run with QT_SCALE_FACTOR set, by the test below.
TEST(FramesAtThisScale, EveryFrameShowsItsFourEdges) {
  test::CDialogRecorder dialogs;
  CConsoleDlg window;
  window.show();
  const QString shots = qEnvironmentVariable("VANTORQ_SHOTS");
  const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1"));
  for (int tab : {0, 1}) {
    window.Tab()->SetCurSel(tab);
    test::Pump(std::chrono::milliseconds(20));
    const QImage image = window.grab().toImage();
    EXPECT_EQ(MissingEdges(window, image), QStringList()) << "tab " << tab << " at " << scale.toStdString();
    if (!shots.isEmpty()) image.save(QStringLiteral("%1/console-tab%2-%3x.png").arg(shots).arg(tab).arg(scale));
  }
}

// Run by the test below on a 1280 x 800 screen at 200 %.
TEST(FitsTheScreen, AtThisScale) {
  test::CDialogRecorder dialogs;
  CConsoleDlg window;
  window.show();
  const QRect available = window.screen()->availableGeometry();
  EXPECT_LE(window.frameGeometry().width(), available.width());
  EXPECT_LE(window.frameGeometry().height(), available.height());
  EXPECT_LT(res::DialogScale(), 1.0);
}

TEST(TextScaling, ALargerDesktopFontGivesAProportionallyLargerWindow) {
  test::CDialogRecorder dialogs;
  const QFont desktop = QApplication::font();
  const QSize usual = CConsoleDlg().size();
  QFont larger = desktop;
  larger.setPointSizeF(14);
  QApplication::setFont(larger);
  const QSize large = CConsoleDlg().size();
  larger.setPointSizeF(res::kUsualDesktopPointSize);
  QApplication::setFont(larger);
  const QSize stillUsual = CConsoleDlg().size();
  QApplication::setFont(desktop);
  EXPECT_EQ(stillUsual, usual) << "the desktop's usual size changes nothing";
  EXPECT_NEAR(static_cast<double>(large.width()) / usual.width(), 14.0 / 11.0, 0.06);
  EXPECT_NEAR(static_cast<double>(large.height()) / usual.height(), 14.0 / 11.0, 0.06);
  CConsoleDlg again;
  EXPECT_EQ(again.size(), usual);
}

// What of each text control's text does not fit where it is drawn, or lies
// under another control: "QLabel "Comm:": needs 36x13 in 34x12".
QStringList ClippedTexts(QWidget& window) {
  QStringList clipped;
  auto name = [](const QWidget* w) { return w->metaObject()->className() + QStringLiteral(" ") + w->objectName(); };
  for (QWidget* w : window.findChildren<QWidget*>()) {
    if (!w->isVisibleTo(&window)) continue;
    const QFontMetrics metrics(w->font());
    QString text;
    QSize need;
    QRect room;
    if (auto* tabs = qobject_cast<QTabBar*>(w)) {
      // The row as tall as the style asks for its text, each tab as wide.
      const int rowNeeds = tabs->sizeHint().height();
      if (tabs->height() < rowNeeds) clipped << QStringLiteral("tab row: %1 px high needs %2").arg(tabs->height()).arg(rowNeeds);
      for (int i = 0; i < tabs->count(); ++i) {
        const int textNeeds = metrics.horizontalAdvance(tabs->tabText(i));
        if (tabs->tabRect(i).width() < textNeeds) {
          clipped << QStringLiteral("tab \"%1\": %2 px wide needs %3").arg(tabs->tabText(i)).arg(tabs->tabRect(i).width()).arg(textNeeds);
        }
      }
      continue;
    }
    if (auto* label = qobject_cast<QLabel*>(w); label != nullptr && !label->text().trimmed().isEmpty()) {
      text = label->text();
      room = label->contentsRect();
      // The ink, centred in the label's height; the advance along it.
      need = label->wordWrap() ? QSize(0, label->heightForWidth(room.width()))
                               : QSize(metrics.horizontalAdvance(text), metrics.tightBoundingRect(text).height());
    } else if (auto* button = qobject_cast<QAbstractButton*>(w); button != nullptr && !button->text().isEmpty()) {
      text = button->text();
      QStyleOptionButton option;
      option.initFrom(button);
      option.text = text;
      const bool radio = qobject_cast<QRadioButton*>(button) != nullptr;
      room = button->style()->subElementRect(radio ? QStyle::SE_RadioButtonContents : QStyle::SE_PushButtonContents,
                                             &option, button);
      need = QSize(metrics.horizontalAdvance(text), metrics.tightBoundingRect(text).height());
    } else {
      continue;
    }
    if (need.width() > room.width() || need.height() > room.height()) {
      clipped << QStringLiteral("%1 \"%2\": needs %3x%4 in %5x%6").arg(name(w), text).arg(need.width()).arg(need.height())
                     .arg(room.width()).arg(room.height());
    }
    if (qobject_cast<QLabel*>(w) == nullptr) continue;
    // A label's text is not under a neighbour either.
    const QRect textRect(w->geometry().topLeft() + room.topLeft(), QSize(std::min(need.width(), room.width()), room.height()));
    for (QWidget* other : w->parentWidget()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
      if (other == w || !other->isVisibleTo(&window) || qobject_cast<QGroupBox*>(other) != nullptr ||
          other->property("controlId").isNull()) {
        continue;
      }
      if (textRect.intersects(other->geometry())) clipped << name(w) + " \"" + text + "\" lies under " + name(other);
    }
  }
  return clipped;
}

TEST(TextScaling, EveryTextFitsItsControlWithLargeDesktopFonts) {
  // GNOME's Large Text and similar: the window grows, and so must every
  // row of text in it, the tab row included.
  test::CDialogRecorder dialogs;
  const QFont desktop = QApplication::font();
  for (double points : {11.0, 13.0, 16.0, 24.0}) {
    QFont larger = desktop;
    larger.setPointSizeF(points);
    QApplication::setFont(larger);
    CConsoleDlg window;
    window.show();
    for (int tab : {0, 1}) {
      window.Tab()->SetCurSel(tab);
      EXPECT_EQ(ClippedTexts(window), QStringList()) << points << " pt, tab " << tab;
    }
    // The radio indicators grow with the letters beside them.
    QAbstractButton* radio = window.SettingsPage()->EnhancementGroup()->button(0);
    const int indicator = radio->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, radio);
    const int usual = QApplication::style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth);
    EXPECT_NEAR(indicator, usual * res::DialogScale(), 1.0) << points << " pt";
  }
  QApplication::setFont(desktop);
}

TEST(Frames, NoFrameVanishesAtAnyDesktopScale) {
  for (const char* scale : {"1", "1.25", "1.5", "1.75", "2"}) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::fromLatin1(scale));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=FramesAtThisScale.*")});
    ASSERT_TRUE(child.waitForFinished(60000)) << scale;
    EXPECT_EQ(child.exitCode(), 0) << scale << "\n" << child.readAllStandardOutput().toStdString();
  }
}

TEST(Frames, AtTwiceTheScaleAWindowStillFitsA1280By800Screen) {
  QTemporaryDir dir;
  QFile config(dir.filePath(QStringLiteral("screen.json")));
  ASSERT_TRUE(config.open(QIODevice::WriteOnly));
  config.write(R"({"screens": [{"name": "laptop", "x": 0, "y": 0, "width": 1280, "height": 800, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
  config.close();
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("2"));
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen:configfile=") + config.fileName());
  child.setProcessEnvironment(env);
  child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=FitsTheScreen.*")});
  ASSERT_TRUE(child.waitForFinished(60000));
  EXPECT_EQ(child.exitCode(), 0) << child.readAllStandardOutput().toStdString();
}

}  // namespace
}  // namespace vantorq
