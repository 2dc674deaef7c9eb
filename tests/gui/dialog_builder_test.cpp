#include <gtest/gtest.h>

#include <QButtonGroup>
#include <QRadioButton>
#include <QWidget>

#include <array>

#include "DialogBuilder.h"
#include "OperatorDialogs.h"

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
            "bin file(*.bin) (*.bin);;all file(*.*) (*.*)");
  EXPECT_EQ(QtFileFilter("a|*.a"), "a (*.a)");
  EXPECT_EQ(QtFileFilter(""), "");
}

}  // namespace
}  // namespace vantorq::res
