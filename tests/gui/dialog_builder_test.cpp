#include <gtest/gtest.h>

#include <QComboBox>
#include <QFileDialog>
#include <QListView>

#include <QButtonGroup>
#include <QRadioButton>
#include <QWidget>

#include <array>

#include "AboutBox.h"
#include "ConsoleDlg.h"
#include "DialogBuilder.h"
#include "EdidPage.h"
#include "SettingsPage.h"
#include "OperatorDialogs.h"
#include "Dialogs.h"
#include "Support.h"

namespace vantorq::res {
namespace {

TEST(DialogUnits, FollowTheFontMetrics) {
  const QFont font = DialogFont();
  const DialogUnits u = DialogUnitsFor(font);
  const QFontMetricsF m(font);
  EXPECT_NEAR(u.y * 8, m.height(), 1e-9);
  EXPECT_GT(u.x, 0.5);
  EXPECT_EQ(ToPixels({1.5, 2.0}, 10, 10, 4, 3), QRect(15, 20, 6, 6));
  EXPECT_EQ(ToPixels({1.75, 1.625}, 1, 1, 1, 1), QRect(2, 2, 2, 2));  // rounded, not cut
}

TEST(DialogBuilder, RadioGroupsEndAtTheNextGroupOrAtAnotherKindOfControl) {
  using K = ControlKind;
  const std::array controls{
      ControlSpec{10, K::RadioButton, "a", 0, 0, 10, 10, kStartsGroup},
      ControlSpec{11, K::RadioButton, "b", 0, 10, 10, 10},
      ControlSpec{kNoId, K::Label, "x", 0, 20, 10, 10, kStartsGroup},
      ControlSpec{20, K::RadioButton, "c", 0, 30, 10, 10, kStartsGroup},
      ControlSpec{21, K::RadioButton, "d", 0, 40, 10, 10},
      ControlSpec{22, K::RadioButton, "e", 0, 50, 10, 10},
  };
  const DialogSpec layout{1, "T", 100, 100, controls};
  QWidget host;
  const auto built = BuildDialog(host, layout);
  ASSERT_NE(built.Group(10), nullptr);
  ASSERT_NE(built.Group(20), nullptr);
  EXPECT_EQ(built.Group(11), nullptr);
  EXPECT_EQ(built.Group(10)->buttons().size(), 2);
  EXPECT_EQ(built.Group(20)->buttons().size(), 3);
  EXPECT_EQ(host.windowTitle(), "T");
  EXPECT_EQ(built.All().size(), controls.size());

  QButtonGroup& g = *built.Group(20);
  EXPECT_EQ(CheckedIndex(g), -1);
  CheckIndex(g, 2);
  EXPECT_EQ(CheckedIndex(g), 2);
  EXPECT_TRUE(built.As<QRadioButton>(22)->isChecked());
  CheckIndex(g, 7);  // out of range: none
  EXPECT_EQ(CheckedIndex(g), -1);
  CheckIndex(g, 0);
  CheckIndex(g, -1);
  EXPECT_EQ(CheckedIndex(g), -1);
  built.As<QRadioButton>(21)->click();
  EXPECT_EQ(CheckedIndex(g), 1);
  EXPECT_EQ(CheckedIndex(*built.Group(10)), -1) << "groups are independent";
}

TEST(FileFilter, TheBarSeparatedListBecomesQtEntries) {
  EXPECT_EQ(QtFileFilter("bin file(*.bin)|*.bin|all file(*.*)|*.*||"),
            "bin file(*.bin) (*.bin);;all file(*.*) (*)");
  EXPECT_EQ(QtFileFilter("a|*.a"), "a (*.a)");
  EXPECT_EQ(QtFileFilter(""), "");
}

TEST(FileFilter, TheDialogShowsEachEntryByItsNameAndAllFileListsEveryFile) {
  test::CWorkFolder work;
  ASSERT_TRUE(test::WriteFile("edid.bin", "x") && test::WriteFile("README", "x") && test::WriteFile("a.txt", "x"));
  const auto dialog = MakeOpenFileDialog(nullptr, "bin file(*.bin)|*.bin|all file(*.*)|*.*||",
                                         QString::fromStdString(work.Path()));
  dialog->show();
  auto* types = dialog->findChild<QComboBox*>("fileTypeCombo");
  ASSERT_NE(types, nullptr);
  ASSERT_EQ(types->count(), 2);
  EXPECT_EQ(types->itemText(0), "bin file(*.bin)");
  EXPECT_EQ(types->itemText(1), "all file(*.*)");
  auto* list = dialog->findChild<QListView*>("listView");
  ASSERT_NE(list, nullptr);
  auto shown = [&] {
    QStringList names;
    const QModelIndex root = list->rootIndex();
    for (int r = 0; r < list->model()->rowCount(root); ++r) names << list->model()->index(r, 0, root).data().toString();
    names.sort();
    return names;
  };
  ASSERT_TRUE(test::WaitUntil([&] { return shown() == QStringList{"edid.bin"}; })) << shown().join(",").toStdString();
  dialog->selectNameFilter(dialog->nameFilters().at(1));
  EXPECT_TRUE(test::WaitUntil([&] { return shown() == (QStringList{"README", "a.txt", "edid.bin"}); }))
      << shown().join(",").toStdString();
}

}  // namespace
}  // namespace vantorq::res

namespace vantorq::res {
namespace {

// The real window's controls where their rows put them, in dialog units of
// the font they are drawn in.
TEST(DialogGeometry, EveryBuiltControlStandsWhereItsRowSays) {
  test::CDialogRecorder dialogs;
  CConsoleDlg window;
  CAboutBox about(&window);
  const struct {
    const DialogSpec& layout;
    QWidget* host;
  } forms[] = {{ConsoleDialog(), &window},
               {SettingsDialog(), window.SettingsPage()},
               {EdidDialog(), window.EdidPage()},
               {AboutDialog(), &about}};
  int checked = 0;
  for (const auto& f : forms) {
    const DialogUnits units = DialogUnitsFor(f.host->font());
    for (const ControlSpec& c : f.layout.controls) {
      if (c.id == kNoId) continue;
      // A radio button may stand inside its group box: placed all the same.
      auto* w = f.host->findChild<QWidget*>(QStringLiteral("ctl%1").arg(c.id));
      ASSERT_NE(w, nullptr) << c.id;
      const QRect expected = ToPixels(units, c.x, c.y, c.w, c.h);
      EXPECT_EQ(w->mapTo(f.host, QPoint(0, 0)), expected.topLeft()) << c.id;
      EXPECT_EQ(w->width(), expected.width()) << c.id;
      // A closed drop-down list is as tall as its font; the row gives the open list's height.
      if (c.kind != ControlKind::ComboBox) {
        EXPECT_EQ(w->height(), expected.height()) << c.id;
      }
      ++checked;
    }
  }
  EXPECT_EQ(checked, 7 + 12 + 26 + 2);
}

}  // namespace
}  // namespace vantorq::res
