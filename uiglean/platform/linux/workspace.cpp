#include "uiglean/platform/linux/plainwindows.h"
#include "uiglean/platform/linux/workspace.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fstream>
#include <map>
#include <thread>

#include "uiglean/ax/platform.h"
#include "uiglean/platform/linux/a11ywindows.h"
#include "uiglean/platform/linux/bus.h"
#include "uiglean/platform/linux/desktopfiles.h"
#include "uiglean/platform/linux/elements.h"
#include "uiglean/platform/linux/identity.h"
#include "uiglean/platform/linux/strings.h"
#include "uiglean/platform/linux/windowserver.h"

namespace uiglean::lx {

namespace {

// Lookups made before the caller set a messaging timeout use this one, and an application that
// misses it is not thereby marked as hung.
constexpr std::uint64_t LOOKUP_TIMEOUT_USEC = 500'000;

std::vector<AccessibleApp>& apps() {
  static std::vector<AccessibleApp> list;
  return list;
}

bool listed = false;

void listApps() {
  auto& list = apps();
  list.clear();
  std::vector<std::pair<std::string, std::string>> roots;
  callNow(REGISTRY_NAME, ROOT_PATH, IFACE_ACCESSIBLE, "GetChildren", nullptr,
          [&](const Reply& r) {
            if (r.end == CallEnd::ok) readObjectRefs(r.message, roots);
          },
          LOOKUP_TIMEOUT_USEC);
  list.resize(roots.size());
  Batch batch(false, false);  // a few questions each: not worth a connection of their own
  for (std::size_t i = 0; i < roots.size(); ++i) {
    AccessibleApp* app = &list[i];
    app->bus = roots[i].first;
    const char* bus = roots[i].first.c_str();
    batch.call(DBUS_NAME, DBUS_PATH, DBUS_NAME, "GetConnectionUnixProcessID",
               [bus](sd_bus_message* m) { return sd_bus_message_append(m, "s", bus); },
               [app](const Reply& r) {
                 std::uint32_t pid = 0;
                 if (r.end == CallEnd::ok && sd_bus_message_read(r.message, "u", &pid) > 0) {
                   app->pid = static_cast<std::int32_t>(pid);
                 }
               },
               LOOKUP_TIMEOUT_USEC);
    // One property at a time: Qt 5 applications crash on GetAll.
    getProperty(batch, app->bus, ROOT_PATH, IFACE_ACCESSIBLE, "Name",
                [app](sd_bus_message* m) { variantString(m, app->name); }, LOOKUP_TIMEOUT_USEC);
    getProperty(batch, app->bus, ROOT_PATH, IFACE_ACCESSIBLE, "ChildCount",
                [app](sd_bus_message* m) { variantInt(m, app->childCount); }, LOOKUP_TIMEOUT_USEC);
    getProperty(batch, app->bus, ROOT_PATH, IFACE_APPLICATION, "ToolkitName",
                [app](sd_bus_message* m) { variantString(m, app->toolkit); }, LOOKUP_TIMEOUT_USEC);
    getProperty(batch, app->bus, ROOT_PATH, IFACE_APPLICATION, "Version",
                [app](sd_bus_message* m) { variantString(m, app->toolkitVersion); },
                LOOKUP_TIMEOUT_USEC);
  }
  batch.run();
  listed = true;
}

// The application's desktop-file ID, from its process and its X11 windows (the active one
// first); see identity.h for the clues and their order.
std::optional<std::string> bundleIdOf(std::int32_t pid) {
  std::vector<std::uint32_t> own;
  if (auto active = activeWindow(); active && windowPid(*active) == pid) own.push_back(*active);
  for (xcb_window_t w : clientWindows()) {
    if (windowPid(w) == pid && (own.empty() || own.front() != w)) own.push_back(w);
  }
  return desktopIdOfProcess(pid, own);
}

RunningApp runningAppFor(const AccessibleApp& app) {
  RunningApp r;
  r.pid = app.pid;
  std::string name = applicationName(app.bus);
  if (!name.empty()) r.localizedName = name;
  r.bundleIdentifier = bundleIdOf(app.pid);
  return r;
}

// A process that is not on the accessibility bus, named after its program.
RunningApp runningProcess(std::int32_t pid) {
  RunningApp r;
  r.pid = pid;
  std::string name = processName(pid);
  if (!name.empty()) r.localizedName = name;
  r.bundleIdentifier = bundleIdOf(pid);
  return r;
}

// Whether an accessible window of the process shows (for applications without X11 windows).
bool showsStandIn(std::int32_t pid) {
  std::string bus = busForPid(pid);
  if (bus.empty()) return false;
  for (const auto& w : windowsOf(bus)) {
    if (hasState(fetch(*w.impl, Part::base).states, state::showing)) return true;
  }
  return false;
}

bool hasActiveWindow(const std::string& bus) {
  for (const auto& w : windowsOf(bus)) {
    if (hasState(fetch(*w.impl, Part::base).states, state::active)) return true;
  }
  return false;
}

}  // namespace

void forgetAccessibleApps() {
  listed = false;
  forgetIdentities();
}

const std::vector<AccessibleApp>& accessibleApps(bool refresh) {
  if (!listed || refresh) listApps();
  return apps();
}

std::string busForPid(std::int32_t pid) {
  if (pid <= 0) return {};
  for (int attempt = 0; attempt < 2; ++attempt) {
    const AccessibleApp* best = nullptr;
    for (const auto& app : accessibleApps(attempt == 1)) {
      if (app.pid == pid && (best == nullptr || app.childCount > best->childCount)) best = &app;
    }
    if (best != nullptr) return best->bus;
  }
  return {};
}

const AccessibleApp* appForBus(const std::string& bus) {
  for (const auto& app : accessibleApps()) {
    if (app.bus == bus) return &app;
  }
  return nullptr;
}

std::string applicationName(const std::string& bus) {
  const AccessibleApp* app = appForBus(bus);
  if (app == nullptr) return {};
  if (!app->name.empty()) return app->name;
  return processName(app->pid);
}

bool answersGetAll(const std::string& bus) {
  const AccessibleApp* app = appForBus(bus);
  if (app == nullptr) return false;
  std::string t = asciiLower(app->toolkit);
  return t == "gtk" || t == "chromium" || t == "gecko";
}

bool extentsRelativeToWindow(const std::string& bus) { return isGtk4OrLater(bus); }

namespace {

// GTK's major version (ToolkitName GTK, Version "3.24.36"), or 0 for other toolkits and versions
// that do not read as one.
int gtkMajor(const std::string& bus) {
  const AccessibleApp* app = appForBus(bus);
  if (app == nullptr || asciiLower(app->toolkit) != "gtk") return 0;
  const std::string& v = app->toolkitVersion;
  std::string major = v.substr(0, v.find('.'));
  if (major.empty() || major.size() > 3 ||
      !std::all_of(major.begin(), major.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return 0;
  }
  return std::stoi(major);
}

}  // namespace

bool isGtk4OrLater(const std::string& bus) { return gtkMajor(bus) >= 4; }

bool isGtk3(const std::string& bus) { return gtkMajor(bus) == 3; }

bool isWebToolkit(const std::string& bus) {
  const AccessibleApp* app = appForBus(bus);
  if (app == nullptr) return false;
  return app->toolkit == "Chromium" || app->toolkit == "Gecko";
}

std::string processName(std::int32_t pid) {
  if (pid <= 0) return {};
  std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

// Whether the pages in the application's windows are built: every document found has content
// and is not busy, and no object still stands for a child that is not there yet.
bool pagesReady(const std::string& bus) {
  std::vector<Element> level = windowsOf(bus);
  int seen = 0;
  for (int depth = 0; depth < 14 && !level.empty() && seen < 600; ++depth) {
    std::vector<Element> next;
    for (const auto& e : level) {
      Node& n = fetch(*e.impl, Part::base);
      ++seen;
      if (n.baseEnd != CallEnd::ok) continue;
      if (n.role == role::documentWeb) {
        if (n.childCount == 0 || hasState(n.states, 3 /* busy */)) return false;
        continue;  // a page's inside is not walked
      }
      if (n.childCount <= 0) continue;
      Node& c = fetch(*e.impl, Part::children);
      if (c.childrenEnd == CallEnd::ok && c.children.empty()) return false;
      auto group = std::make_shared<Group>(Group{c.children});
      for (const auto& ref : c.children) {
        next.push_back(makeElement(ref.first, ref.second, View::object, Context::other, group));
      }
    }
    level = std::move(next);
  }
  return true;
}

void waitForPages(const std::string& bus) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
  while (!pagesReady(bus) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    forgetAnswers();
  }
}

bool enableWebContent(const std::string& bus) {
  bool answered = false;
  std::vector<std::pair<std::string, std::string>> tops;
  Batch first(false);
  first.call(bus, ROOT_PATH, IFACE_ACCESSIBLE, "GetChildren", nullptr,
             [&](const Reply& r) {
               if (r.end == CallEnd::ok) {
                 answered = true;
                 readObjectRefs(r.message, tops);
               }
             },
             LOOKUP_TIMEOUT_USEC);
  first.run();
  if (!answered) return false;
  // Asking any object for its attributes is what makes a browser build its page tree.
  Batch batch(false);
  batch.call(bus, ROOT_PATH, IFACE_ACCESSIBLE, "GetAttributes", nullptr, [](const Reply&) {},
             LOOKUP_TIMEOUT_USEC);
  for (const auto& [b, path] : tops) {
    batch.call(b, path, IFACE_ACCESSIBLE, "GetAttributes", nullptr, [](const Reply&) {},
               LOOKUP_TIMEOUT_USEC);
  }
  batch.run();
  forgetAnswers();
  if (isWebToolkit(bus)) waitForPages(bus);
  return true;
}

}  // namespace uiglean::lx

namespace uiglean {

using namespace lx;

std::optional<RunningApp> frontmostApplication() {
  if (a11yBus() == nullptr) return std::nullopt;
  if (auto active = activeWindow()) {
    if (auto pid = windowPid(*active)) {
      std::string bus = busForPid(*pid);
      if (!bus.empty()) {
        if (const AccessibleApp* app = appForBus(bus)) return runningAppFor(*app);
      } else if (isPlainApplication(*pid)) {
        // Without accessibility, still the application in front (plainwindows.h).
        return runningProcess(*pid);
      }
    }
  }
  for (const auto& app : accessibleApps()) {
    if (app.childCount > 0 && hasActiveWindow(app.bus)) return runningAppFor(app);
  }
  return std::nullopt;
}

std::vector<RunningApp> runningApplications() {
  // The owners of top-level windows, with the kinds of windows they own, and the accessibility
  // applications; each process once, in pid order.
  std::map<std::int32_t, std::pair<bool, bool>> owners;  // pid -> normal window, other window
  for (const auto& w : windowInfos()) {
    if (!w.pid) continue;
    auto& kinds = owners[*w.pid];
    if (w.layer == LAYER_NORMAL) {
      kinds.first = true;
    } else {
      kinds.second = true;
    }
  }
  std::map<std::int32_t, RunningApp> byPid;
  for (const auto& app : accessibleApps()) {
    if (app.pid <= 0 || byPid.count(app.pid) != 0) continue;
    byPid[app.pid] = runningAppFor(*appForBus(busForPid(app.pid)));
  }
  for (const auto& [pid, kinds] : owners) {
    RunningApp& r = byPid[pid];
    if (r.pid == 0) r = runningProcess(pid);
  }
  std::vector<RunningApp> out;
  for (auto& [pid, app] : byPid) {
    auto it = owners.find(pid);
    if (it != owners.end()) {
      app.activationPolicy = it->second.first ? 0 : 1;  // docks, panels, tooltips: accessory
    } else {
      // No X11 window (a Wayland application, or none at all): regular while an accessible
      // window of it shows.
      app.activationPolicy = showsStandIn(pid) ? 0 : 2;
    }
    app.hidden = false;  // neither X11 nor Wayland has application hiding
    out.push_back(std::move(app));
  }
  return out;
}

bool activateApplication(const RunningApp& app, std::uint32_t) {
  // The application's topmost normal window.
  for (const auto& w : windowInfos()) {
    if (w.pid == app.pid && w.layer == LAYER_NORMAL) return activateWindow(w.id);
  }
  // Without an X11 window, its first accessible frame or dialog, through the toolkit.
  for (const auto& w : standInWindows()) {
    if (w.pid == app.pid && w.layer == LAYER_NORMAL) {
      ElementImpl e{w.ref.first, w.ref.second, View::object, Context::other, nullptr};
      return focusStandIn(e) == axerr::success;
    }
  }
  return false;
}

std::optional<std::string> urlForApplicationWithBundleIdentifier(const std::string& bundleId) {
  if (const DesktopEntry* e = launchableEntry(bundleId)) return e->path;
  return std::nullopt;
}

bool fileExistsAtPath(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0;
}

void openApplicationAtURL(const std::string& path, bool) {
  // The path is a .desktop file found by urlForApplicationWithBundleIdentifier (or any other
  // file the caller names): its Exec line is run without a shell.
  auto entry = readDesktopFile(path);
  if (!entry || !entry->isApplication || entry->hidden || entry->exec.empty()) return;
  if (auto argv = execArguments(entry->exec)) launchDetached(*argv, path);
}

}  // namespace uiglean
