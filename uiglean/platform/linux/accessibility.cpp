// The process-level accessibility operations: trust, application elements, messaging timeouts,
// window numbers and secure input.
#include <cmath>

#include "uiglean/ax/platform.h"
#include "uiglean/platform/linux/plainwindows.h"
#include "uiglean/platform/linux/a11ywindows.h"
#include "uiglean/platform/linux/bus.h"
#include "uiglean/platform/linux/elements.h"
#include "uiglean/platform/linux/keptanswers.h"
#include "uiglean/platform/linux/windowserver.h"
#include "uiglean/platform/linux/workspace.h"

namespace uiglean {

using namespace lx;

void platformStart() {}

void platformKeepAnswersBetweenRuns() { keepAnswersAcrossRuns(); }

void platformNewRun() {
  forgetNodes();
  forgetAccessibleApps();
  forgetRunState();
  keptNewRun();
}

bool axIsProcessTrusted() {
  if (!connectBuses()) return false;
  if (enabledJustNow()) {
    // Some applications join the accessibility bus only once it is switched on.
    sleepMicros(150'000);
  }
  return true;
}

Element axCreateApplication(std::int32_t pid) {
  if (Element plain = plainApplication(pid)) return plain;
  return applicationElement(busForPid(pid));
}

void axSetMessagingTimeout(const Element& element, float seconds) {
  if (!element || element.impl->bus.empty()) return;
  if (!(seconds > 0) || !std::isfinite(seconds)) {
    setTimeout(element.impl->bus, DEFAULT_TIMEOUT_USEC);
    return;
  }
  double usec = static_cast<double>(seconds) * 1e6;
  setTimeout(element.impl->bus, usec > 3.6e9 ? 3'600'000'000ULL : static_cast<std::uint64_t>(usec));
}

void axSetRunDeadline(double seconds) {
  if (!(seconds > 0) || !std::isfinite(seconds) || seconds > 1e6) {
    setRunDeadline(0);
    return;
  }
  setRunDeadline(static_cast<std::uint64_t>(seconds * 1e6));
}

WindowNumberResult axGetWindowNumber(const Element& window) {
  WindowNumberResult result;
  if (window && isPlainView(*window.impl)) return plainWindowNumber(*window.impl);
  if (!window || window.impl->view != View::object) {
    result.status = axerr::illegalArgument;
    return result;
  }
  const ElementImpl& e = *window.impl;
  Node& n = fetch(e, Part::extents);
  if (n.baseEnd != CallEnd::ok) {
    result.status = readStatus(n.baseEnd);
    return result;
  }
  const AccessibleApp* app = appForBus(e.bus);
  if (app == nullptr || app->pid <= 0) {
    result.status = axerr::cannotComplete;
    return result;
  }
  if (!ownsServerWindow(app->pid)) {
    result.status = axerr::success;
    result.windowNumber = standInNumber(app->pid, e.path);
    return result;
  }
  auto xid = windowFor(app->pid, n.name, n.x, n.y, n.width, n.height, n.hasExtents);
  if (!xid) {
    result.status = axerr::failure;
    return result;
  }
  result.status = axerr::success;
  result.windowNumber = *xid;
  return result;
}

namespace {

// Asks the active window of the frontmost application for a focused password field (the
// Collection interface; toolkits without it answer nothing, and then there is none).
bool focusedPasswordInFrontWindow() {
  auto app = frontmostApplication();
  if (!app) return false;
  std::string bus = busForPid(app->pid);
  for (const auto& w : windowsOf(bus)) {
    Node& n = fetch(*w.impl, Part::base);
    if (!hasState(n.states, state::active)) continue;
    bool found = false;
    callNow(w.impl->bus, w.impl->path, "org.a11y.atspi.Collection", "GetMatches",
            [](sd_bus_message* m) {
              const std::int32_t states[2] = {1 << state::focused, 0};
              const std::int32_t roles[4] = {0, 1 << (role::passwordText - 32), 0, 0};
              int r = sd_bus_message_open_container(m, 'r', "aiia{ss}iaiiasib");
              if (r >= 0) r = sd_bus_message_append_array(m, 'i', states, sizeof states);
              if (r >= 0) r = sd_bus_message_append(m, "i", 1);       // all of the states
              if (r >= 0) r = sd_bus_message_append(m, "a{ss}", 0);   // no attributes
              if (r >= 0) r = sd_bus_message_append(m, "i", 1);
              if (r >= 0) r = sd_bus_message_append_array(m, 'i', roles, sizeof roles);
              if (r >= 0) r = sd_bus_message_append(m, "i", 2);       // any of the roles
              if (r >= 0) r = sd_bus_message_append(m, "as", 0);      // no interfaces
              if (r >= 0) r = sd_bus_message_append(m, "ib", 1, 0);
              if (r >= 0) r = sd_bus_message_close_container(m);
              if (r >= 0) r = sd_bus_message_append(m, "uib", 1U, 1, 1);  // canonical, 1, deep
              return r;
            },
            [&](const Reply& r) {
              std::vector<ObjectRef> matches;
              if (r.end == CallEnd::ok) readObjectRefs(r.message, matches);
              found = !matches.empty();
            });
    return found;
  }
  return false;
}

}  // namespace

bool isSecureEventInputEnabled() {
  if (auto seen = focusedPasswordSeen()) return *seen;
  return focusedPasswordInFrontWindow();
}

}  // namespace uiglean
