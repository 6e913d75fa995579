#include "uiglean/platform/linux/identity.h"
#include "uiglean/platform/linux/workspace.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <string_view>
#include <tuple>

#include "uiglean/platform/linux/bus.h"
#include "uiglean/platform/linux/strings.h"
#include "uiglean/platform/linux/windowserver.h"

namespace uiglean::lx {

namespace {

bool usable(const DesktopEntry& e) { return !e.hidden && e.isApplication; }

std::string fileName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// What follows the last '.' ("kcalc" of "org.kde.kcalc"); the whole name when it has none.
std::string lastPart(const std::string& name) { return name.substr(name.rfind('.') + 1); }

const DesktopEntry* byLauncherRecord(const std::string& file,
                                     const std::vector<DesktopEntry>& entries) {
  if (file.empty()) return nullptr;
  for (const auto& e : entries) {
    if (usable(e) && e.path == file) return &e;
  }
  // A file of the same ID elsewhere (a copy the launcher read from another folder).
  std::string name = fileName(file);
  if (name.size() <= 8 || name.compare(name.size() - 8, 8, ".desktop") != 0) return nullptr;
  name.resize(name.size() - 8);
  for (const auto& e : entries) {
    if (usable(e) && e.id == name) return &e;
  }
  return nullptr;
}

const DesktopEntry* byId(const std::vector<std::string>& names,
                         const std::vector<DesktopEntry>& entries) {
  for (const auto& name : names) {
    if (name.empty()) continue;
    for (const auto& e : entries) {
      if (usable(e) && e.id == name) return &e;
    }
  }
  return nullptr;
}

// The window classes, or the process name for a process without windows to tell (a Wayland
// client).
std::vector<std::pair<std::string, std::string>> classesOf(const ProcessClues& c) {
  if (!c.windowClasses.empty()) return c.windowClasses;
  return {{c.processName, c.processName}};
}

const DesktopEntry* byStartupClass(const ProcessClues& c,
                                   const std::vector<DesktopEntry>& entries) {
  for (bool ignoreCase : {false, true}) {
    for (const auto& [instance, klass] : classesOf(c)) {
      for (const std::string* name : {&klass, &instance}) {
        if (name->empty()) continue;
        for (const auto& e : entries) {
          if (!usable(e) || e.startupWMClass.empty()) continue;
          if (ignoreCase ? equalsIgnoringAsciiCase(e.startupWMClass, *name)
                         : e.startupWMClass == *name) {
            return &e;
          }
        }
      }
    }
  }
  return nullptr;
}

const DesktopEntry* byNameLikeId(const ProcessClues& c, const std::vector<DesktopEntry>& entries) {
  std::vector<std::string> names;
  for (const auto& [instance, klass] : classesOf(c)) {
    names.push_back(klass);
    names.push_back(instance);
  }
  for (const auto& id : c.applicationIds) names.push_back(id);
  // Whole names first, then the last parts.
  for (bool parts : {false, true}) {
    for (const auto& name : names) {
      if (name.empty()) continue;
      for (const auto& e : entries) {
        if (!usable(e)) continue;
        bool same = parts ? (equalsIgnoringAsciiCase(lastPart(e.id), name) ||
                             equalsIgnoringAsciiCase(e.id, lastPart(name)))
                          : equalsIgnoringAsciiCase(e.id, name);
        if (same) return &e;
      }
    }
  }
  return nullptr;
}

const DesktopEntry* byProgram(const ProcessClues& c, const std::vector<DesktopEntry>& entries) {
  std::set<std::string> programs;
  if (!c.exe.empty()) programs.insert(fileName(c.exe));
  if (!c.commandLine.empty() && !c.commandLine[0].empty()) {
    programs.insert(fileName(c.commandLine[0]));
  }
  programs.erase("");
  if (programs.empty()) return nullptr;
  std::set<std::string> given(c.commandLine.begin() + (c.commandLine.empty() ? 0 : 1),
                              c.commandLine.end());
  const DesktopEntry* best = nullptr;
  int bestScore = -1;
  for (const auto& e : entries) {
    if (!usable(e)) continue;
    auto argv = execArguments(e.exec);
    if (!argv || argv->empty() || programs.count(fileName((*argv)[0])) == 0) continue;
    bool allGiven = true;
    for (std::size_t i = 1; i < argv->size(); ++i) {
      if (given.count((*argv)[i]) == 0) allGiven = false;
    }
    // The entry that gives the most of the arguments the process was given, then one shown in
    // menus.
    int score = (allGiven ? 2 + 2 * static_cast<int>(std::min<std::size_t>(argv->size(), 64)) : 0) +
                (e.noDisplay ? 0 : 1);
    if (score > bestScore) {
      best = &e;
      bestScore = score;
    }
  }
  return best;
}

}  // namespace

const DesktopEntry* identifyProcess(const ProcessClues& c,
                                    const std::vector<DesktopEntry>& entries) {
  if (const DesktopEntry* e = byLauncherRecord(c.launchedFile, entries)) return e;
  if (const DesktopEntry* e = byId(c.applicationIds, entries)) return e;
  if (const DesktopEntry* e = byStartupClass(c, entries)) return e;
  if (c.busNames) {
    if (const DesktopEntry* e = byId(c.busNames(), entries)) return e;
  }
  if (const DesktopEntry* e = byNameLikeId(c, entries)) return e;
  if (const DesktopEntry* e = byLauncherRecord(c.parentLaunchedFile, entries)) return e;
  return byProgram(c, entries);
}

std::pair<std::string, std::string> launcherRecord(const std::string& environ, std::int32_t pid,
                                                   std::int32_t parentPid) {
  std::string file, recordPid;
  bool haveFile = false, havePid = false;
  std::size_t start = 0;
  while (start < environ.size()) {
    std::size_t end = environ.find('\0', start);
    if (end == std::string::npos) end = environ.size();
    std::string_view var(environ.data() + start, end - start);
    constexpr std::string_view fileKey = "GIO_LAUNCHED_DESKTOP_FILE=";
    constexpr std::string_view pidKey = "GIO_LAUNCHED_DESKTOP_FILE_PID=";
    // The first definition counts, as the process's own getenv finds it.
    if (!haveFile && var.substr(0, fileKey.size()) == fileKey) {
      file = var.substr(fileKey.size());
      haveFile = true;
    }
    if (!havePid && var.substr(0, pidKey.size()) == pidKey) {
      recordPid = var.substr(pidKey.size());
      havePid = true;
    }
    start = end + 1;
  }
  // Only an absolute path to a .desktop file, and only with the pid that says whose record it is.
  if (file.empty() || file[0] != '/' || recordPid.empty() || recordPid.size() > 10 ||
      recordPid.find_first_not_of("0123456789") != std::string::npos) {
    return {};
  }
  long long owner = std::stoll(recordPid);
  if (pid > 0 && owner == pid) return {file, ""};
  if (parentPid > 0 && owner == parentPid) return {"", file};
  return {};
}

namespace {

// At most `limit` bytes of a file under /proc ("" when it cannot be read).
std::string readProc(std::int32_t pid, const char* what, std::size_t limit) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + what, std::ios::binary);
  std::string text;
  char buf[4096];
  while (in && text.size() < limit) {
    in.read(buf, sizeof buf);
    text.append(buf, static_cast<std::size_t>(in.gcount()));
  }
  if (text.size() > limit) text.resize(limit);
  return text;
}

std::int32_t parentOf(std::int32_t pid) {
  // "pid (comm) state ppid ...": the name may hold blanks and parentheses; the last ')' ends it.
  std::string stat = readProc(pid, "stat", 4096);
  std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  std::size_t p = stat.find_first_of("0123456789", close);
  if (p == std::string::npos || p > close + 4) return 0;
  std::size_t e = stat.find_first_not_of("0123456789", p);
  std::string digits = stat.substr(p, e == std::string::npos ? std::string::npos : e - p);
  if (digits.empty() || digits.size() > 9) return 0;
  return static_cast<std::int32_t>(std::stol(digits));
}

// The session-bus names that are some installed entry's ID, by the pid that owns each; asked
// once per run.
struct RunIdentities {
  std::map<std::int32_t, std::optional<std::string>> byPid;
  std::map<std::int32_t, std::vector<std::string>> busNamesByPid;
  bool busAsked = false;
};

RunIdentities& run() {
  static RunIdentities r;
  return r;
}

const std::map<std::int32_t, std::vector<std::string>>& entryNamesOnBus() {
  auto& byPid = run().busNamesByPid;
  if (run().busAsked) return byPid;
  run().busAsked = true;
  sd_bus* bus = sessionBus();
  if (bus == nullptr) return byPid;
  std::set<std::string> ids;
  for (const auto& e : desktopEntries()) ids.insert(e.id);
  sd_bus_message* reply = nullptr;
  if (sd_bus_call_method(bus, DBUS_NAME, DBUS_PATH, DBUS_NAME, "ListNames", nullptr, &reply,
                         nullptr) < 0) {
    return byPid;
  }
  std::vector<std::string> names;
  if (sd_bus_message_enter_container(reply, 'a', "s") > 0) {
    const char* s = nullptr;
    while (sd_bus_message_read(reply, "s", &s) > 0) {
      if (s != nullptr && ids.count(s) != 0) names.emplace_back(s);
    }
  }
  sd_bus_message_unref(reply);
  for (const auto& name : names) {
    sd_bus_message* r = nullptr;
    if (sd_bus_call_method(bus, DBUS_NAME, DBUS_PATH, DBUS_NAME, "GetConnectionUnixProcessID",
                           nullptr, &r, "s", name.c_str()) >= 0) {
      std::uint32_t pid = 0;
      if (sd_bus_message_read(r, "u", &pid) > 0 && pid > 0 && pid <= 0x7fffffffU) {
        byPid[static_cast<std::int32_t>(pid)].push_back(name);
      }
    }
    sd_bus_message_unref(r);
  }
  return byPid;
}

}  // namespace

ProcessClues cluesOfProcess(std::int32_t pid, const std::vector<std::uint32_t>& windows) {
  ProcessClues c;
  if (pid <= 0) return c;
  std::tie(c.launchedFile, c.parentLaunchedFile) =
      launcherRecord(readProc(pid, "environ", 1U << 20), pid, parentOf(pid));
  for (std::uint32_t w : windows) {
    if (auto id = stringProperty(w, "_GTK_APPLICATION_ID"); id && !id->empty()) {
      c.applicationIds.push_back(*id);
    }
    if (auto cls = windowClass(w)) c.windowClasses.push_back(*cls);
  }
  c.busNames = [pid]() {
    const auto& all = entryNamesOnBus();
    auto it = all.find(pid);
    return it == all.end() ? std::vector<std::string>{} : it->second;
  };
  char exe[4096];
  ssize_t n = ::readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), exe, sizeof exe - 1);
  if (n > 0) c.exe.assign(exe, static_cast<std::size_t>(n));
  // A program replaced on disk since it started reads "... (deleted)".
  constexpr std::string_view deleted = " (deleted)";
  if (c.exe.size() > deleted.size() &&
      c.exe.compare(c.exe.size() - deleted.size(), deleted.size(), deleted) == 0) {
    c.exe.resize(c.exe.size() - deleted.size());
  }
  std::string cmdline = readProc(pid, "cmdline", 1U << 16);
  std::size_t start = 0;
  while (start < cmdline.size() && c.commandLine.size() < 256) {
    std::size_t end = cmdline.find('\0', start);
    if (end == std::string::npos) end = cmdline.size();
    c.commandLine.push_back(cmdline.substr(start, end - start));
    start = end + 1;
  }
  c.processName = processName(pid);
  return c;
}

std::optional<std::string> desktopIdOfProcess(std::int32_t pid,
                                              const std::vector<std::uint32_t>& windows) {
  auto& known = run().byPid;
  auto it = known.find(pid);
  if (it != known.end()) return it->second;
  std::optional<std::string> id;
  ProcessClues clues = cluesOfProcess(pid, windows);
  if (const DesktopEntry* e = identifyProcess(clues, desktopEntries())) {
    id = e->id;
  } else if (!clues.applicationIds.empty()) {
    // Installed nowhere: the name the application gives itself, which finds it while it runs.
    id = clues.applicationIds.front();
  }
  known[pid] = id;
  return id;
}

void forgetIdentities() {
  run() = RunIdentities{};
  recheckDesktopEntries();
}

}  // namespace uiglean::lx
