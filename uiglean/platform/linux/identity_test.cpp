#include "uiglean/platform/linux/identity.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace uiglean::lx {
namespace {

DesktopEntry entry(const std::string& id, const std::string& exec,
                   const std::string& startupClass = "", bool noDisplay = false) {
  DesktopEntry e;
  e.id = id;
  e.path = "/usr/share/applications/" + id + ".desktop";
  e.name = id;
  e.exec = exec;
  e.startupWMClass = startupClass;
  e.noDisplay = noDisplay;
  return e;
}

// Entries as Debian 12 installs them, where each application is named differently by its
// desktop file, its windows and its process.
std::vector<DesktopEntry> debianEntries() {
  return {
      entry("libreoffice-startcenter", "libreoffice %U", "libreoffice-startcenter"),
      entry("libreoffice-writer", "libreoffice --writer %U", "libreoffice-writer"),
      entry("libreoffice-calc", "libreoffice --calc %U", "libreoffice-calc"),
      entry("org.gnome.gedit", "gedit %U"),
      entry("thunar", "thunar %F"),
      entry("thunar-settings", "thunar-settings", "", true),
      entry("org.kde.kcalc", "kcalc"),
      entry("sakura", "sakura"),
      entry("gtk3-widget-factory", "gtk3-widget-factory"),
  };
}

std::string idOf(const ProcessClues& c, const std::vector<DesktopEntry>& entries) {
  const DesktopEntry* e = identifyProcess(c, entries);
  return e == nullptr ? "" : e->id;
}

ProcessClues windowed(std::vector<std::string> appIds,
                      std::vector<std::pair<std::string, std::string>> classes, std::string exe) {
  ProcessClues c;
  c.applicationIds = std::move(appIds);
  c.windowClasses = std::move(classes);
  c.exe = std::move(exe);
  c.commandLine = {c.exe};
  c.processName = c.exe.substr(c.exe.rfind('/') + 1).substr(0, 15);
  return c;
}

TEST(Identity, EachToolkitsNamesLeadToTheDesktopFileId) {
  auto entries = debianEntries();
  // GTK with a D-Bus name: the application id is the desktop-file ID.
  EXPECT_EQ(idOf(windowed({"org.gnome.gedit"}, {{"gedit", "Gedit"}}, "/usr/bin/gedit"), entries),
            "org.gnome.gedit");
  // GTK whose application id is not the file's name: the window class is.
  EXPECT_EQ(idOf(windowed({"org.xfce.Thunar"}, {{"thunar", "Thunar"}}, "/usr/bin/thunar"), entries),
            "thunar");
  // KDE: the class is the ID's last part.
  EXPECT_EQ(idOf(windowed({}, {{"kcalc", "kcalc"}}, "/usr/bin/kcalc"), entries), "org.kde.kcalc");
  // One LibreOffice process, its window's module told by the class against StartupWMClass, never
  // the application id every module shares.
  ProcessClues office = windowed({"org.libreoffice"}, {{"libreoffice", "libreoffice-calc"}},
                                 "/usr/lib/libreoffice/program/soffice.bin");
  EXPECT_EQ(idOf(office, entries), "libreoffice-calc");
  // The active window comes first: a Writer document in front makes it Writer.
  office.windowClasses.insert(office.windowClasses.begin(), {"libreoffice", "libreoffice-writer"});
  EXPECT_EQ(idOf(office, entries), "libreoffice-writer");
}

TEST(Identity, ProgramAndCommandLineWhenWindowsTellNothing) {
  auto entries = debianEntries();
  // No window at all (a Wayland client): the process name stands in for a class.
  ProcessClues wayland = windowed({}, {}, "/usr/bin/kcalc");
  EXPECT_EQ(idOf(wayland, entries), "org.kde.kcalc");
  // The office's start center without a window class: the entry whose arguments are on the
  // command line, here none beyond the program's.
  ProcessClues office = windowed({}, {{"", ""}}, "/usr/lib/libreoffice/program/soffice.bin");
  office.commandLine = {"/usr/lib/libreoffice/bin/libreoffice", "--calc", "x.ods"};
  EXPECT_EQ(idOf(office, entries), "libreoffice-calc");
  office.commandLine = {"/usr/lib/libreoffice/bin/libreoffice", "x.odt"};
  EXPECT_EQ(idOf(office, entries), "libreoffice-startcenter");
  // Entries shown in menus before a NoDisplay helper running the same program.
  std::vector<DesktopEntry> helperFirst = {entry("foo-handler", "foo --handle %u", "", true),
                                           entry("foo", "foo %U")};
  EXPECT_EQ(idOf(windowed({}, {}, "/opt/foo/bin/foo"), helperFirst), "foo");
  // Nothing the entries know.
  EXPECT_EQ(idOf(windowed({"com.example.Unknown"}, {{"unknown", "Unknown"}}, "/usr/bin/unknown"),
                 entries),
            "");
}

TEST(Identity, TheLaunchersRecordOutweighsWindowsButAParentsDoesNot) {
  auto entries = debianEntries();
  // Started through a desktop file: whatever its windows say.
  ProcessClues launched = windowed({"org.libreoffice"}, {{"libreoffice", "libreoffice-calc"}},
                                   "/usr/lib/libreoffice/program/soffice.bin");
  launched.launchedFile = "/usr/share/applications/libreoffice-writer.desktop";
  EXPECT_EQ(idOf(launched, entries), "libreoffice-writer");
  // A copy of the file elsewhere names the same ID.
  launched.launchedFile = "/home/u/.local/share/applications/libreoffice-writer.desktop";
  EXPECT_EQ(idOf(launched, entries), "libreoffice-writer");
  // A record of a file that is no desktop file, or of an unknown one, is passed over.
  launched.launchedFile = "/etc/passwd";
  EXPECT_EQ(idOf(launched, entries), "libreoffice-calc");
  // gedit started from a terminal that was itself launched: the terminal's record, inherited,
  // counts less than gedit's own windows.
  ProcessClues child = windowed({}, {{"gedit", "Gedit"}}, "/usr/bin/gedit");
  child.parentLaunchedFile = "/usr/share/applications/sakura.desktop";
  EXPECT_EQ(idOf(child, entries), "org.gnome.gedit");
  child.windowClasses.clear();
  child.exe = "/usr/bin/something-else";
  child.commandLine = {"something-else"};
  child.processName = "something-else";
  EXPECT_EQ(idOf(child, entries), "sakura");
}

TEST(Identity, BusNamesAreAskedOnlyWhenIdsAndStartupClassesDoNotTell) {
  auto entries = debianEntries();
  int asked = 0;
  ProcessClues c = windowed({"org.gnome.gedit"}, {}, "/usr/bin/gedit");
  c.busNames = [&asked]() {
    ++asked;
    return std::vector<std::string>{"org.kde.kcalc"};
  };
  EXPECT_EQ(idOf(c, entries), "org.gnome.gedit");
  EXPECT_EQ(asked, 0);
  c.applicationIds.clear();
  c.windowClasses = {{"libreoffice", "libreoffice-writer"}};
  EXPECT_EQ(idOf(c, entries), "libreoffice-writer");
  EXPECT_EQ(asked, 0);
  // Before names that are only like an ID.
  c.windowClasses = {{"gedit", "Gedit"}};
  EXPECT_EQ(idOf(c, entries), "org.kde.kcalc");
  EXPECT_EQ(asked, 1);
}

TEST(Identity, DeletedEntriesOtherTypesAndEmptyCluesNeverMatch) {
  std::vector<DesktopEntry> entries = {entry("gedit", "gedit"), entry("Gedit", "gedit")};
  entries[0].hidden = true;
  entries[1].isApplication = false;
  EXPECT_EQ(idOf(windowed({"gedit"}, {{"gedit", "Gedit"}}, "/usr/bin/gedit"), entries), "");
  // Empty and odd names match no entry with an empty or odd ID.
  std::vector<DesktopEntry> odd = {entry("", "", ""), entry(".", "x", ".")};
  ProcessClues empty;
  empty.windowClasses = {{"", ""}};
  empty.applicationIds = {""};
  empty.commandLine = {""};
  EXPECT_EQ(identifyProcess(empty, odd), nullptr);
  EXPECT_EQ(identifyProcess(ProcessClues{}, {}), nullptr);
}

// An environment as /proc/PID/environ holds it.
std::string environ(const std::vector<std::string>& vars) {
  std::string out;
  for (const auto& v : vars) out += v + '\0';
  return out;
}

TEST(LauncherRecord, OnlyARecordThatNamesTheProcessOrItsParent) {
  std::string env =
      environ({"PATH=/usr/bin", "GIO_LAUNCHED_DESKTOP_FILE=/usr/share/applications/a.desktop",
               "GIO_LAUNCHED_DESKTOP_FILE_PID=42", "HOME=/h"});
  using Pair = std::pair<std::string, std::string>;
  EXPECT_EQ(launcherRecord(env, 42, 1), Pair("/usr/share/applications/a.desktop", ""));
  EXPECT_EQ(launcherRecord(env, 43, 42), Pair("", "/usr/share/applications/a.desktop"));
  EXPECT_EQ(launcherRecord(env, 43, 44), Pair());
  // Without the pid, with a pid that is no number, or a relative file: no record.
  EXPECT_EQ(launcherRecord(environ({"GIO_LAUNCHED_DESKTOP_FILE=/a.desktop"}), 42, 1), Pair());
  for (const char* pid : {"", "4x2", "-42", "99999999999999999999", " 42"}) {
    std::string e = environ({"GIO_LAUNCHED_DESKTOP_FILE=/a.desktop",
                             std::string("GIO_LAUNCHED_DESKTOP_FILE_PID=") + pid});
    EXPECT_EQ(launcherRecord(e, 42, 1), Pair()) << pid;
  }
  EXPECT_EQ(launcherRecord(environ({"GIO_LAUNCHED_DESKTOP_FILE=a.desktop",
                                    "GIO_LAUNCHED_DESKTOP_FILE_PID=42"}),
                           42, 1),
            Pair());
  // The first definition counts, as getenv finds it; an unterminated environment is read.
  EXPECT_EQ(launcherRecord(
                environ({"GIO_LAUNCHED_DESKTOP_FILE=/a.desktop", "GIO_LAUNCHED_DESKTOP_FILE_PID=7",
                         "GIO_LAUNCHED_DESKTOP_FILE_PID=42"}),
                42, 1),
            Pair());
  EXPECT_EQ(launcherRecord("GIO_LAUNCHED_DESKTOP_FILE=/a.desktop", 42, 1), Pair());
  EXPECT_EQ(launcherRecord("", 42, 1), Pair());
}

}  // namespace
}  // namespace uiglean::lx

namespace uiglean::lx {
namespace {

// Whether the process runs `name` and sleeps, which a program that sleeps does only once its exec
// is complete. The state follows the name's closing parenthesis, the last one in the line.
bool execFinished(pid_t pid, const std::string& name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(in, line);
  std::size_t open = line.find('('), close = line.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close + 2 >= line.size())
    return false;
  return line.substr(open + 1, close - open - 1) == name && line[close + 2] == 'S';
}

// A real process read through /proc: a program whose name has the parentheses and blanks that
// end the name field of /proc/PID/stat, started with a launcher record naming its parent (us).
TEST(ProcessClues, ReadFromProcWhateverTheProcessIsCalled) {
  char dirTemplate[] = "/tmp/uiglean-identity-XXXXXX";
  ASSERT_NE(::mkdtemp(dirTemplate), nullptr);
  std::string program = std::string(dirTemplate) + "/a) 1 (b";
  ASSERT_EQ(::symlink("/bin/sleep", program.c_str()), 0);
  std::string file = "GIO_LAUNCHED_DESKTOP_FILE=/usr/share/applications/x.desktop";
  std::string owner = "GIO_LAUNCHED_DESKTOP_FILE_PID=" + std::to_string(::getpid());
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char* argv[] = {const_cast<char*>("x y"), const_cast<char*>("30"), nullptr};
    char* envp[] = {file.data(), owner.data(), nullptr};
    ::execve(program.c_str(), argv, envp);
    ::_exit(127);
  }
  // The kernel gives the process its new name before it lays out the arguments and the
  // environment, so a read between the two finds the name and nothing else. Wait until the
  // program sleeps: then exec is over.
  for (int i = 0; i < 500 && !execFinished(child, "a) 1 (b"); ++i) ::usleep(10'000);
  ProcessClues c = cluesOfProcess(child, {});
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ::unlink(program.c_str());
  ::rmdir(dirTemplate);

  EXPECT_EQ(c.processName, "a) 1 (b");
  EXPECT_EQ(c.commandLine, (std::vector<std::string>{"x y", "30"}));
  EXPECT_EQ(c.exe.substr(c.exe.rfind('/') + 1), "sleep");
  // The record names its parent, not itself.
  EXPECT_EQ(c.launchedFile, "");
  EXPECT_EQ(c.parentLaunchedFile, "/usr/share/applications/x.desktop");
  EXPECT_TRUE(c.windowClasses.empty());

  // No such process: no clues, and nothing that matches.
  for (std::int32_t pid : {0, -1, 0x7fffffff}) {
    ProcessClues none = cluesOfProcess(pid, {});
    EXPECT_TRUE(none.exe.empty() && none.commandLine.empty() && none.processName.empty()) << pid;
    EXPECT_EQ(identifyProcess(none, debianEntries()), nullptr) << pid;
  }
}

}  // namespace
}  // namespace uiglean::lx
