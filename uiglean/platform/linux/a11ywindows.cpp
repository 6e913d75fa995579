#include "uiglean/platform/linux/a11ywindows.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <set>
#include <thread>

#include "uiglean/platform/linux/bus.h"
#include "uiglean/platform/linux/roles.h"
#include "uiglean/platform/linux/windowserver.h"
#include "uiglean/platform/linux/workspace.h"

namespace uiglean::lx {

namespace {

// How long a window is watched for becoming active after it was asked to come to the front.
constexpr auto FOCUS_WAIT = std::chrono::milliseconds(300);
constexpr auto FOCUS_POLL = std::chrono::milliseconds(30);

// The owners of X11 windows, read once per epoch (an action or a wait may open windows).
const std::set<std::int32_t>& serverOwners() {
  static std::set<std::int32_t> owners;
  static std::uint64_t readIn = 0;
  if (readIn != answersEpoch()) {
    readIn = answersEpoch();
    owners.clear();
    for (const auto& w : windowInfos()) {
      if (w.pid) owners.insert(*w.pid);
    }
  }
  return owners;
}

}  // namespace

bool ownsServerWindow(std::int32_t pid) { return serverOwners().count(pid) != 0; }

std::uint32_t standInNumber(std::int32_t pid, const std::string& path) {
  // FNV-1a over the pid and the path, folded into [2^30, 2^31).
  std::uint64_t h = 1469598103934665603ULL;
  auto mix = [&h](unsigned char c) {
    h ^= c;
    h *= 1099511628211ULL;
  };
  auto upid = static_cast<std::uint32_t>(pid);
  for (int i = 0; i < 4; ++i) mix(static_cast<unsigned char>(upid >> (8 * i)));
  for (char c : path) mix(static_cast<unsigned char>(c));
  return 0x40000000U | static_cast<std::uint32_t>((h ^ (h >> 32)) & 0x3fffffffU);
}

std::int64_t standInLayer(std::uint32_t r) {
  switch (r) {
    case role::frame:
    case role::dialog:
    case role::alert:
    case role::fileChooser:
      return LAYER_NORMAL;
    case role::toolTip:
      return LAYER_TOOLTIP;
    default:
      return LAYER_MENU;  // untitled pop-ups: menus, combo lists
  }
}

std::vector<StandInWindow> standInWindows() {
  std::set<std::int32_t> pids;
  for (const auto& app : accessibleApps()) {
    if (app.pid > 0 && app.childCount > 0 && !ownsServerWindow(app.pid)) pids.insert(app.pid);
  }
  std::vector<StandInWindow> out;
  for (std::int32_t pid : pids) {
    std::string bus = busForPid(pid);
    if (bus.empty()) continue;
    std::string owner = applicationName(bus);
    for (const auto& w : windowsOf(bus)) {
      Node& n = fetch(*w.impl, Part::extents);
      if (n.baseEnd != CallEnd::ok || !n.hasExtents) continue;
      StandInWindow s;
      s.pid = pid;
      s.ref = {w.impl->bus, w.impl->path};
      s.owner = owner;
      s.title = n.name;
      s.x = n.x;
      s.y = n.y;
      s.width = n.width;
      s.height = n.height;
      s.layer = standInLayer(n.role);
      s.onscreen = hasState(n.states, state::showing) && !hasState(n.states, state::iconified);
      s.active = hasState(n.states, state::active);
      s.number = standInNumber(pid, w.impl->path);
      out.push_back(std::move(s));
    }
  }
  std::stable_partition(out.begin(), out.end(), [](const StandInWindow& s) { return s.active; });
  return out;
}

std::int32_t focusStandIn(const ElementImpl& window) {
  auto isActive = [&window] {
    Node& n = fetch(window, Part::base);
    return n.baseEnd == CallEnd::ok && hasState(n.states, state::active);
  };
  if (isActive()) return axerr::success;
  bool accepted = false;
  callNow(window.bus, window.path, IFACE_COMPONENT, "GrabFocus", nullptr, [&](const Reply& r) {
    int b = 0;
    accepted = r.end == CallEnd::ok && sd_bus_message_read(r.message, "b", &b) > 0 && b != 0;
  });
  if (!accepted) return axerr::failure;
  auto deadline = std::chrono::steady_clock::now() + FOCUS_WAIT;
  while (std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(FOCUS_POLL);
    forgetAnswers();
    if (isActive()) return axerr::success;
  }
  return axerr::failure;
}

namespace {

// The accessible window of `windows` that the X11 window `xid` of process `pid` shows.
std::optional<Element> shownBy(std::int32_t pid, xcb_window_t xid, const ElementList& windows) {
  for (const auto& w : windows) {
    Node& n = fetch(*w.impl, Part::extents);
    if (n.baseEnd != CallEnd::ok) continue;
    if (windowFor(pid, n.name, n.x, n.y, n.width, n.height, n.hasExtents) == xid) return w;
  }
  return std::nullopt;
}

}  // namespace

std::optional<Element> frontWindowOf(const std::string& bus) {
  static std::map<std::string, std::pair<std::uint64_t, std::optional<Element>>> known;
  auto it = known.find(bus);
  if (it != known.end() && it->second.first == answersEpoch()) return it->second.second;
  ElementList windows = windowsOf(bus);
  std::optional<Element> front;
  const AccessibleApp* app = appForBus(bus);
  if (app != nullptr && app->pid > 0 && ownsServerWindow(app->pid)) {
    if (auto active = activeWindow(); active && windowPid(*active) == app->pid) {
      front = shownBy(app->pid, *active, windows);
    }
  }
  if (!front) {
    for (const auto& w : windows) {
      if (hasState(fetch(*w.impl, Part::base).states, state::active)) {
        front = w;
        break;
      }
    }
  }
  known[bus] = {answersEpoch(), front};
  return front;
}

bool isFrontWindow(const ElementImpl& window) {
  auto front = frontWindowOf(window.bus);
  return front && front->impl->path == window.path && front->impl->bus == window.bus;
}

}  // namespace uiglean::lx
