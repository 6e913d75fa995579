#include "uiglean/platform/linux/desktopfiles.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

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

namespace uiglean::lx {
namespace {

using Args = std::vector<std::string>;

TEST(ExecLine, QuotingEscapesAndFieldCodes) {
  EXPECT_EQ(execArguments("gedit %U"), Args({"gedit"}));
  EXPECT_EQ(execArguments("foo --file=%f -x"), Args({"foo", "--file=", "-x"}));
  EXPECT_EQ(execArguments("\"/opt/My App/run\" --name \"a \\\"b\\\" \\$c \\\\d\""),
            Args({"/opt/My App/run", "--name", "a \"b\" $c \\d"}));
  EXPECT_EQ(execArguments("app 100%% %i %c %k"), Args({"app", "100%"}));
  EXPECT_EQ(execArguments("app \"100%% sure\""), Args({"app", "100% sure"}));
  // The value escapes come first: a blank written \s separates words like any other.
  EXPECT_EQ(execArguments("app a\\sb"), Args({"app", "a", "b"}));
  EXPECT_EQ(execArguments("app \"a\\sb\""), Args({"app", "a b"}));
  // Shell metacharacters are just characters inside quotes, and never reach a shell.
  EXPECT_EQ(execArguments("sh-free \"; rm -rf /tmp/x\" \"$(id)\" \"`id`\""),
            Args({"sh-free", "; rm -rf /tmp/x", "$(id)", "`id`"}));
  EXPECT_EQ(execArguments("sh-free \"; rm -rf /tmp/x | cat\""),
            Args({"sh-free", "; rm -rf /tmp/x | cat"}));
}

TEST(ExecLine, MalformedLinesAreRefused) {
  EXPECT_EQ(execArguments(""), std::nullopt);
  EXPECT_EQ(execArguments("   "), std::nullopt);
  EXPECT_EQ(execArguments("%U"), std::nullopt);  // nothing left to run
  EXPECT_EQ(execArguments("app \"unterminated"), std::nullopt);
  EXPECT_EQ(execArguments("app ; reboot"), std::nullopt);  // reserved outside quotes
  EXPECT_EQ(execArguments("app $(id)"), std::nullopt);
  EXPECT_EQ(execArguments("app | tee"), std::nullopt);
  EXPECT_EQ(execArguments("app %z"), std::nullopt);  // unknown field code
}

}  // namespace
}  // namespace uiglean::lx

namespace uiglean::lx {
namespace {

void writeFile(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path) << text;
}

// IDs are paths below applications/ with '/' as '-'; the user's folder hides the system's.
TEST(DesktopFiles, IdsFromTheFoldersInOrder) {
  char dirTemplate[] = "/tmp/uiglean-apps-XXXXXX";
  ASSERT_NE(::mkdtemp(dirTemplate), nullptr);
  std::string root = dirTemplate;
  writeFile(root + "/home/applications/kde/calc.desktop", "[Desktop Entry]\nName=Mine\nExec=c\n");
  writeFile(root + "/home/applications/viewer.desktop", "[Desktop Entry]\nName=User's\nExec=v\n");
  writeFile(root + "/sys/applications/viewer.desktop", "[Desktop Entry]\nName=System's\nExec=v\n");
  writeFile(root + "/sys/applications/notes.txt", "[Desktop Entry]\nName=Not one\n");
  ::setenv("XDG_DATA_HOME", (root + "/home").c_str(), 1);
  ::setenv("XDG_DATA_DIRS", ("relative:" + root + "/sys/").c_str(), 1);
  std::map<std::string, std::string> names;
  for (const auto& e : desktopEntries()) names[e.id] = e.name;
  std::filesystem::remove_all(root);
  EXPECT_EQ(names,
            (std::map<std::string, std::string>{{"kde-calc", "Mine"}, {"viewer", "User's"}}));
}

}  // namespace
}  // namespace uiglean::lx

namespace uiglean::lx {
namespace {

// A long-lived process sees what was installed and removed between two runs.
TEST(DesktopFiles, ReadAgainWhenAFolderChanged) {
  char dirTemplate[] = "/tmp/uiglean-apps-XXXXXX";
  ASSERT_NE(::mkdtemp(dirTemplate), nullptr);
  std::string root = dirTemplate;
  writeFile(root + "/applications/first.desktop", "[Desktop Entry]\nName=First\nExec=f\n");
  ::setenv("XDG_DATA_HOME", root.c_str(), 1);
  ::setenv("XDG_DATA_DIRS", (root + "/none").c_str(), 1);
  auto ids = [] {
    std::set<std::string> out;
    for (const auto& e : desktopEntries()) out.insert(e.id);
    return out;
  };
  // The folder last changed a while ago, so that what follows changes its time whatever the
  // clock's resolution.
  struct timespec past[2] = {{1'000'000, 0}, {1'000'000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (root + "/applications").c_str(), past, 0), 0);
  recheckDesktopEntries();  // whatever an earlier test of this process read
  EXPECT_EQ(ids(), (std::set<std::string>{"first"}));
  writeFile(root + "/applications/second.desktop", "[Desktop Entry]\nName=Second\nExec=s\n");
  std::filesystem::remove(root + "/applications/first.desktop");
  EXPECT_EQ(ids(), (std::set<std::string>{"first"}));  // within one run: as read
  recheckDesktopEntries();
  EXPECT_EQ(ids(), (std::set<std::string>{"second"}));
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace uiglean::lx
