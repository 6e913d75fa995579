// The process-level accessibility operations: trust, application elements, messaging timeouts,
// window numbers and secure input.
#include <cmath>

#include "uiglean/ax/platform.h"
#include "uiglean/platform/linux/bus.h"
#include "uiglean/platform/linux/elements.h"
#include "uiglean/platform/linux/windowserver.h"
#include "uiglean/platform/linux/workspace.h"

namespace uiglean {

using namespace lx;

void platformStart() {}

bool axIsProcessTrusted() {
  if (!connectBuses()) return false;
  if (enabledJustNow()) {
    // Some applications join the accessibility bus only once it is switched on.
    sleepMicros(150'000);
  }
  return true;
}

Element axCreateApplication(std::int32_t pid) {
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

WindowNumberResult axGetWindowNumber(const Element& window) {
  WindowNumberResult result;
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
  auto xid = windowFor(app->pid, n.name, n.x, n.y, n.width, n.height, n.hasExtents);
  if (!xid) {
    result.status = axerr::failure;
    return result;
  }
  result.status = axerr::success;
  result.windowNumber = *xid;
  return result;
}

bool isSecureEventInputEnabled() { return focusedPasswordSeen(); }

}  // namespace uiglean
