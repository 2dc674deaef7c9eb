// Every layout table row by row against the console's forms: id, kind,
// text, position and size in dialog units, and where radio groups start.
// Swapped ids or a moved control would pass every behaviour test.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DialogLayout.h"

namespace vantorq::res {
namespace {

struct Row {
  int id;
  ControlKind kind;
  std::string text;
  int x, y, w, h;
  bool startsGroup = false;
};

using K = ControlKind;

std::vector<Row> ConsoleRows() {
  return {{1007, K::Icon, "", 7, 10, 20, 20},
          {1006, K::PushButton, "Turn on Port", 52, 7, 53, 14},
          {kNoId, K::Label, "Comm:", 33, 27, 21, 8},
          {1106, K::ComboBox, "", 54, 25, 52, 154},
          {1108, K::Label, "", 13, 45, 87, 8},
          {1107, K::PushButton, "Search Machine", 7, 57, 101, 22},
          {1000, K::TabControl, "", 116, 7, 356, 320},
          // Ours: the port row's note.
          {1109, K::Label, "", 7, 86, 101, 72}};
}

std::vector<Row> AboutRows() {
  // The form gives the icon's and the label's places only; their sizes are ours.
  return {{kNoId, K::Icon, "", 11, 17, 20, 20},
          {kNoId, K::Label, "Matrix CONSOLE Version 1.0", 40, 10, 119, 8},
          {1, K::PushButton, "OK", 178, 7, 50, 14},
          // Ours: the version every program gives.
          {1111, K::Label, "", 40, 22, 119, 8}};
}

std::vector<Row> SettingsRows() {
  return {{1315, K::Icon, "", 116, 179, 21, 23},
          {1008, K::Icon, "", 67, 181, 20, 20},
          {1009, K::Icon, "", 267, 183, 21, 23},
          {1010, K::Icon, "", 216, 183, 21, 23},
          {kNoId, K::GroupBox, "2K->4K Video Enhancement", 46, 31, 114, 186},
          {kNoId, K::GroupBox, "Scaler setting", 194, 34, 114, 186},
          {1307, K::RadioButton, "Off", 90, 53, 28, 10, true},
          {1308, K::RadioButton, "Weak", 90, 82, 32, 10},
          {1309, K::RadioButton, "Medium", 90, 114, 40, 10},
          {1310, K::RadioButton, "Strong", 90, 148, 40, 10},
          {kNoId, K::Label, "0 0", 67, 53, 13, 8},
          {kNoId, K::Label, "0 1", 67, 82, 13, 8},
          {kNoId, K::Label, "1 0", 67, 114, 13, 8},
          {kNoId, K::Label, "1 1", 67, 148, 13, 8},
          {1311, K::RadioButton, "BYPASS", 239, 53, 40, 10, true},
          {1312, K::RadioButton, "4K->2K", 239, 82, 40, 10},
          {1313, K::RadioButton, "2K->4K", 239, 114, 40, 10},
          {1314, K::RadioButton, "HDBT C mode", 239, 149, 60, 10},
          {kNoId, K::Label, "0 0", 217, 53, 13, 8},
          {kNoId, K::Label, "0 1", 217, 82, 13, 8},
          {kNoId, K::Label, "1 0", 217, 114, 13, 8},
          {kNoId, K::Label, "1 1", 217, 149, 13, 8}};
}

std::vector<Row> EdidRows() {
  const char* names[16] = {"EDID bypass",       "1080P_2CH",         "1080P_3D_2CH",      "4K30Hz_3D_2CH",
                           "4K30Hz_3D_6CH",     "4K60Hz_3D_2CH",     "4K60Hz_3D_6CH",     "4K60Hz_3D_8CH",
                           "1080P_2CH_HDR",     "1080P_3D_2CH_HDR",  "4K30Hz_3D_2CH_HDR", "4K30Hz_3D_6CH_HDR",
                           "4K60Hz_3D_2CH_HDR", "4K60Hz_3D_6CH_HDR", "4K60Hz_3D_8CH_HDR", "User_EDID"};
  std::vector<Row> rows{{kNoId, K::GroupBox, "", 48, 7, 133, 189}};
  for (int i = 0; i < 16; ++i) {
    std::string bits;
    for (int b = 3; b >= 0; --b) bits += ((i >> b) & 1) != 0 ? '1' : '0';
    rows.push_back({kNoId, K::Label, bits, 71, 14 + 10 * i, 17, 8});
  }
  // The form leaves the buttons' width open.
  for (int i = 0; i < 16; ++i) rows.push_back({1320 + i, K::RadioButton, names[i], 90, 14 + 10 * i, 88, 10, i == 0});
  const std::vector<Row> rest{{1318, K::Icon, "", 70, 173, 18, 20},
                              {1317, K::Icon, "", 96, 173, 18, 20},
                              {1316, K::Icon, "", 119, 173, 18, 20},
                              {1319, K::Icon, "", 139, 173, 18, 20},
                              {1097, K::PushButton, "Load EDID file and write to input port user EDID", 20, 216, 125, 21},
                              {1096, K::PushButton, "Read EDID data and save to file", 19, 249, 85, 21},
                              {kNoId, K::GroupBox, "", 105, 242, 61, 34},
                              {1336, K::RadioButton, "Input port", 107, 248, 50, 10, true},
                              {1337, K::RadioButton, "Output port", 107, 262, 54, 10},
                              {kNoId, K::Label, "Basic EDID infomation:", 170, 200, 89, 8},
                              {1110, K::TextBox, "", 169, 210, 131, 70},
                              // Ours: the whole EDID in a window.
                              {1098, K::PushButton, "Details\u2026", 262, 194, 38, 12}};
  rows.insert(rows.end(), rest.begin(), rest.end());
  return rows;
}

TEST(LayoutTables, EveryRowIsTheFormsRow) {
  const struct {
    const DialogSpec& layout;
    int id;
    std::string caption;
    int w, h;
    std::vector<Row> rows;
  } dialogs[] = {
      {ConsoleDialog(), 102, "Vantorq V0.1", 479, 334, ConsoleRows()},
      {AboutDialog(), 100, "About 8X8 Matrix controller", 235, 55, AboutRows()},
      {SettingsDialog(), 179, "", 359, 311, SettingsRows()},
      {EdidDialog(), 180, "", 310, 285, EdidRows()},
  };
  for (const auto& d : dialogs) {
    SCOPED_TRACE(d.id);
    EXPECT_EQ(d.layout.id, d.id);
    EXPECT_EQ(std::string(d.layout.caption), d.caption);
    EXPECT_EQ(d.layout.w, d.w);
    EXPECT_EQ(d.layout.h, d.h);
    ASSERT_EQ(d.layout.controls.size(), d.rows.size());
    for (std::size_t i = 0; i < d.rows.size(); ++i) {
      const ControlSpec& c = d.layout.controls[i];
      const Row& r = d.rows[i];
      SCOPED_TRACE("row " + std::to_string(i) + " " + r.text);
      EXPECT_EQ(c.id, r.id);
      EXPECT_EQ(c.kind, r.kind);
      EXPECT_EQ(std::string(c.text), r.text);
      EXPECT_EQ((std::vector<int>{c.x, c.y, c.w, c.h}), (std::vector<int>{r.x, r.y, r.w, r.h}));
      if (c.kind == K::RadioButton) {
        EXPECT_EQ((c.flags & kStartsGroup) != 0, r.startsGroup);
      }
    }
  }
}

}  // namespace
}  // namespace vantorq::res
