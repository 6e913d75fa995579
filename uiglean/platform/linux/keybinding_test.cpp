#include "uiglean/platform/linux/keybinding.h"

#include <gtest/gtest.h>

namespace uiglean::lx {
namespace {

TEST(KeyBinding, GtkAcceleratorsBecomeControlOptionShiftWithoutCommand) {
  auto s = parseKeyBinding("n;<Alt>f:n;<Primary>n");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->cmdChar, "N");
  EXPECT_FALSE(s->virtualKey);
  EXPECT_EQ(s->modifiers, MOD_NO_COMMAND | MOD_CONTROL);

  s = parseKeyBinding("a;<Alt>f:a;<Primary><Shift>s");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->cmdChar, "S");
  EXPECT_EQ(s->modifiers, MOD_NO_COMMAND | MOD_CONTROL | MOD_SHIFT);

  s = parseKeyBinding(";;<Control><Alt>Delete");
  ASSERT_TRUE(s);
  EXPECT_FALSE(s->cmdChar);
  EXPECT_EQ(s->virtualKey, 117);
  EXPECT_EQ(s->modifiers, MOD_NO_COMMAND | MOD_CONTROL | MOD_OPTION);

  // Super is the command key: the no-command bit stays clear.
  s = parseKeyBinding(";;<Super>q");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->modifiers, 0);
}

TEST(KeyBinding, NamedKeysGetVirtualKeyCodesOrCharacters) {
  auto f1 = parseKeyBinding("h;;F1");
  ASSERT_TRUE(f1);
  EXPECT_EQ(f1->virtualKey, 122);
  EXPECT_FALSE(f1->cmdChar);
  EXPECT_EQ(f1->modifiers, MOD_NO_COMMAND);

  auto f5 = parseKeyBinding(";;F5");
  ASSERT_TRUE(f5);
  EXPECT_EQ(f5->virtualKey, 96);

  auto plus = parseKeyBinding(";;<Primary>plus");
  ASSERT_TRUE(plus);
  EXPECT_EQ(plus->cmdChar, "+");

  auto ret = parseKeyBinding(";;<Primary>Return");
  ASSERT_TRUE(ret);
  EXPECT_EQ(ret->virtualKey, 36);

  // A key name without a macOS code keeps its name rather than vanishing.
  auto ins = parseKeyBinding(";;<Shift>Insert");
  ASSERT_TRUE(ins);
  EXPECT_EQ(ins->cmdChar, "Insert");
}

TEST(KeyBinding, NoAcceleratorMeansNoShortcut) {
  EXPECT_FALSE(parseKeyBinding(""));
  EXPECT_FALSE(parseKeyBinding("n;<Alt>f:n;"));
  EXPECT_FALSE(parseKeyBinding("n;x"));    // malformed: no third part
  EXPECT_FALSE(parseKeyBinding(";;<Primary"));
  // A mnemonic repeated where the accelerator goes (LibreOffice), or a bare letter: no shortcut.
  EXPECT_FALSE(parseKeyBinding("y;<Alt>vy;y"));
  EXPECT_FALSE(parseKeyBinding("y"));
  EXPECT_FALSE(parseKeyBinding("\xc3\xa9"));
  EXPECT_FALSE(parseKeyBinding(";;plus"));
  // Unmodified named keys are shortcuts, and so are modified letters.
  auto f11 = parseKeyBinding("y;<Alt>v:y;F11");
  ASSERT_TRUE(f11);
  EXPECT_EQ(f11->virtualKey, 103);
  EXPECT_TRUE(parseKeyBinding("Delete"));
  EXPECT_TRUE(parseKeyBinding("u;<Alt>v:u;<Primary><Shift>j"));
}

TEST(KeyBinding, QtStyleBindings) {
  auto s = parseKeyBinding("Ctrl+Shift+N");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->cmdChar, "N");
  EXPECT_EQ(s->modifiers, MOD_NO_COMMAND | MOD_CONTROL | MOD_SHIFT);

  auto plus = parseKeyBinding("Ctrl++");
  ASSERT_TRUE(plus);
  EXPECT_EQ(plus->cmdChar, "+");
  EXPECT_EQ(plus->modifiers, MOD_NO_COMMAND | MOD_CONTROL);

  auto f2 = parseKeyBinding("F2");
  ASSERT_TRUE(f2);
  EXPECT_EQ(f2->virtualKey, 120);

  EXPECT_FALSE(parseKeyBinding("Bogus+Q"));
}

TEST(KeyBinding, QtMnemonicsOfMenuItemsAreNoShortcuts) {
  // Qt gives an item without a shortcut its mnemonic: Alt and a letter of the title.
  EXPECT_FALSE(parseMenuItemBinding("Alt+M", "Recently Modified"));
  EXPECT_FALSE(parseMenuItemBinding("Alt+c", "Clear"));
  // Alt with a letter the title lacks, another modifier, or a named key is a shortcut.
  auto other = parseMenuItemBinding("Alt+X", "Recently Modified");
  ASSERT_TRUE(other);
  EXPECT_EQ(other->cmdChar, "X");
  EXPECT_EQ(other->modifiers, MOD_NO_COMMAND | MOD_OPTION);
  EXPECT_TRUE(parseMenuItemBinding("Ctrl+M", "Recently Modified"));
  EXPECT_TRUE(parseMenuItemBinding("Alt+Shift+M", "Recently Modified"));
  EXPECT_TRUE(parseMenuItemBinding("Alt+Left", "Back"));
  // GTK's accelerators are read as before.
  auto gtk = parseMenuItemBinding("n;<Alt>f:n;<Primary>n", "New");
  ASSERT_TRUE(gtk);
  EXPECT_EQ(gtk->modifiers, MOD_NO_COMMAND | MOD_CONTROL);
}

}  // namespace
}  // namespace uiglean::lx
