#include "uiglean/platform/linux/roles.h"

#include <gtest/gtest.h>

namespace uiglean::lx {
namespace {

std::uint64_t with(int bit) { return std::uint64_t{1} << bit; }

TEST(Roles, WidgetsShowAsTheirMacCounterparts) {
  EXPECT_EQ(macRole(role::pushButton, 0, Context::other).role, "AXButton");
  auto toggle = macRole(role::toggleButton, 0, Context::other);
  EXPECT_EQ(toggle.role, "AXCheckBox");
  EXPECT_EQ(toggle.subrole, "AXToggle");
  EXPECT_EQ(macRole(role::label, 0, Context::other).role, "AXStaticText");
  EXPECT_EQ(macRole(role::spinButton, 0, Context::other).role, "AXIncrementor");
  auto tab = macRole(role::pageTab, 0, Context::other);
  EXPECT_EQ(tab.role, "AXRadioButton");
  EXPECT_EQ(tab.subrole, "AXTabButton");
  EXPECT_EQ(macRole(role::documentWeb, 0, Context::other).role, "AXWebArea");
  EXPECT_EQ(macRole(role::filler, 0, Context::other).role, "AXGroup");
  // The protocol's "invalid" and numbers it does not define are no role a caller knows.
  EXPECT_EQ(macRole(0, 0, Context::other).role, "AXUnknown");
  EXPECT_EQ(macRole(100000, 0, Context::other).role, "AXUnknown");
}

TEST(Roles, TextDependsOnItsLinesAndSecrecy) {
  EXPECT_EQ(macRole(role::text, with(state::singleLine), Context::other).role, "AXTextField");
  EXPECT_EQ(macRole(role::text, with(state::multiLine), Context::other).role, "AXTextArea");
  EXPECT_EQ(macRole(role::entry, 0, Context::other).role, "AXTextField");
  auto secure = macRole(role::passwordText, 0, Context::other);
  EXPECT_EQ(secure.role, "AXTextField");
  EXPECT_EQ(secure.subrole, "AXSecureTextField");
  EXPECT_EQ(macRole(role::comboBox, 0, Context::other).role, "AXPopUpButton");
  EXPECT_EQ(macRole(role::comboBox, with(state::editable), Context::other).role, "AXComboBox");
}

TEST(Roles, MenusDependOnWhereTheySit) {
  EXPECT_EQ(macRole(role::menu, 0, Context::menuBar).role, "AXMenuBarItem");
  EXPECT_EQ(macRole(role::menu, 0, Context::menu).role, "AXMenuItem");
  EXPECT_EQ(macRole(role::menu, 0, Context::other).role, "AXMenu");
  EXPECT_EQ(macRole(role::menuItem, 0, Context::menuBar).role, "AXMenuBarItem");
  EXPECT_EQ(macRole(role::checkMenuItem, 0, Context::menu).role, "AXMenuItem");
  EXPECT_EQ(macRole(role::separator, 0, Context::menu).role, "AXMenuItem");
  EXPECT_EQ(macRole(role::separator, 0, Context::other).role, "AXSplitter");
}

TEST(Roles, WindowsAndUnmappedRoles) {
  auto frame = macRole(role::frame, 0, Context::other);
  EXPECT_EQ(frame.role, "AXWindow");
  EXPECT_EQ(frame.subrole, "AXStandardWindow");
  EXPECT_EQ(macRole(role::dialog, 0, Context::other).subrole, "AXDialog");
  // Unmapped roles: "AX" and the protocol's name in upper camel case.
  EXPECT_EQ(macRole(57, 0, Context::other).role, "AXTableColumnHeader");
  EXPECT_EQ(macRole(123, 0, Context::other).role, "AXDescriptionValue");
  EXPECT_EQ(macRole(100000, 0, Context::other).role, "AXUnknown");
  EXPECT_EQ(roleName(43), "push button");
  EXPECT_FALSE(roleName(130));
}

TEST(Roles, KindsOfRoles) {
  EXPECT_TRUE(isWindowRole(role::frame));
  EXPECT_TRUE(isWindowRole(role::dialog));
  EXPECT_FALSE(isWindowRole(role::filler));
  EXPECT_TRUE(isTextRole(role::passwordText));
  EXPECT_FALSE(isTextRole(role::label));
  EXPECT_TRUE(isValueRole(role::slider));
  EXPECT_FALSE(isValueRole(role::pushButton));
  EXPECT_TRUE(isMenuItemRole(role::menu));
  EXPECT_FALSE(mayHaveActions(role::label));
  EXPECT_TRUE(mayHaveActions(role::pushButton));
}

}  // namespace
}  // namespace uiglean::lx
