#include "uiglean/platform/linux/desktopfiles.h"

#include <gtest/gtest.h>

namespace uiglean::lx {
namespace {

TEST(DesktopFiles, ReadsOnlyTheDesktopEntryGroup) {
  auto e = parseDesktopEntry(
      "# comment\n"
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name = Text Editor \n"
      "Exec=gedit %U\n"
      "StartupWMClass=Gedit\n"
      "NoDisplay=true\n"
      "[Desktop Action new-window]\n"
      "Name=New Window\n"
      "Exec=gedit --new-window\n");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->name, "Text Editor");
  EXPECT_EQ(e->exec, "gedit %U");
  EXPECT_EQ(e->startupWMClass, "Gedit");
  EXPECT_TRUE(e->noDisplay);
  EXPECT_FALSE(e->hidden);
  EXPECT_TRUE(e->isApplication);
}

TEST(DesktopFiles, MalformedFilesAreNotEntries) {
  EXPECT_FALSE(parseDesktopEntry(""));
  EXPECT_FALSE(parseDesktopEntry("Name=x\nExec=y\n"));
  EXPECT_FALSE(parseDesktopEntry(std::string("\0\xff[Desktop\n", 11)));
  auto link = parseDesktopEntry("[Desktop Entry]\nType=Link\nURL=http://x\n");
  ASSERT_TRUE(link);
  EXPECT_FALSE(link->isApplication);
}

}  // namespace
}  // namespace uiglean::lx
