// Which installed application a running process is: its .desktop entry, told from every clue the
// process, its windows and the session bus give. The entry's desktop-file ID is the application's
// bundle identifier everywhere (snapshot, window list, running applications), and the same ID
// names it to activation and launching.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "uiglean/platform/linux/desktopfiles.h"

namespace uiglean::lx {

// What is known of one process. Every field comes from outside (the process's environment and
// command line, X11 properties its windows set, names it took on the bus) and may be empty,
// malformed or misleading.
struct ProcessClues {
  // The .desktop file a launcher recorded for this very process (GIO_LAUNCHED_DESKTOP_FILE with
  // GIO_LAUNCHED_DESKTOP_FILE_PID naming the process).
  std::string launchedFile;
  // The same record found in the process's environment but naming its parent process (a launcher
  // script that started the process as its child, or a program started from a terminal that was
  // itself launched: weighed only after the window classes).
  std::string parentLaunchedFile;
  // _GTK_APPLICATION_ID of its windows, the active one first.
  std::vector<std::string> applicationIds;
  // WM_CLASS (instance, class) of its windows, the active one first.
  std::vector<std::pair<std::string, std::string>> windowClasses;
  // The well-known names it owns on the session bus; asked only when the clues before them do not
  // tell (nullptr: none).
  std::function<std::vector<std::string>()> busNames;
  std::string exe;                       // /proc/PID/exe
  std::vector<std::string> commandLine;  // /proc/PID/cmdline
  std::string processName;               // /proc/PID/comm
};

// The installed entry a process with those clues belongs to, or nullptr. The clues are weighed in
// this order, the first that names an entry deciding:
//   1. the launcher's record for the process: the entry at that path, else of that file name;
//   2. an application id equal to an entry's ID (GTK applications and D-Bus activatable ones are
//      named so);
//   3. a window class equal to an entry's StartupWMClass (class before instance, exact before
//      ASCII case ignored); the process name stands in for a class when it has no window;
//   4. a session-bus name of the process equal to an entry's ID (asked only here, since it costs
//      a question to the bus daemon per name);
//   5. an entry's ID equal, ASCII case ignored, to a window class or instance or an application id,
//      or the last dot-separated part of either equal to the other's (org.kde.kcalc and kcalc,
//      org.xfce.Thunar and thunar);
//   6. the launcher's record found for its parent process;
//   7. an entry whose Exec program has the file name of the executable or of the command line's
//      first word: of the entries whose further Exec arguments all occur on the command line, the
//      one with the most of them; then entries shown in menus before NoDisplay ones.
// Hidden entries (deleted ones) and entries that are not applications never match.
const DesktopEntry* identifyProcess(const ProcessClues& clues,
                                    const std::vector<DesktopEntry>& entries);

// The launcher record of a process environment (NUL-separated NAME=value strings, as
// /proc/PID/environ holds it): the file when GIO_LAUNCHED_DESKTOP_FILE_PID names `pid` (first) or
// `parentPid` (second); empty otherwise.
std::pair<std::string, std::string> launcherRecord(const std::string& environ, std::int32_t pid,
                                                   std::int32_t parentPid);

// The clues of a running process: /proc (environment where it is readable, executable, command
// line, parent) and its X11 windows (`windows`: its client windows, the active one first).
ProcessClues cluesOfProcess(std::int32_t pid, const std::vector<std::uint32_t>& windows);

// The desktop-file ID of a running process (from its clues and the installed entries), cached per
// process for the run; when no entry matches, the application id of its windows (the name the
// application gives itself, which finds it while it runs but launches nothing); else nothing.
std::optional<std::string> desktopIdOfProcess(std::int32_t pid,
                                              const std::vector<std::uint32_t>& windows);
void forgetIdentities();

}  // namespace uiglean::lx
