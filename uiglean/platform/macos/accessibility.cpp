// Trust, application elements, messaging timeouts, window numbers and secure keyboard entry.
#include <ApplicationServices/ApplicationServices.h>
#include <Carbon/Carbon.h>

#include "uiglean/ax/platform.h"
#include "uiglean/platform/macos/cftypes.h"
#include "uiglean/platform/macos/elements.h"

// Not in the public headers: the window-server number of a window element. Present in every
// macOS release the tool supports; it answers for window elements only.
extern "C" AXError _AXUIElementGetWindow(AXUIElementRef element, CGWindowID* window);

namespace uiglean {

void platformStart() {}

// Every question goes to the accessibility API afresh; nothing is kept between runs.
void platformNewRun() {}

void platformKeepAnswersBetweenRuns() {}

bool axIsProcessTrusted() { return AXIsProcessTrusted(); }

Element axCreateApplication(std::int32_t pid) {
  auto impl = std::make_shared<ElementImpl>();
  impl->ref = macos::CFRef<AXUIElementRef>(AXUIElementCreateApplication(pid));
  if (!impl->ref) return Element{};
  return Element{std::move(impl)};
}

namespace {
double runDeadline = 0;  // CFAbsoluteTime; 0: none
}  // namespace

void axSetRunDeadline(double seconds) {
  runDeadline = seconds > 0 && seconds < 1e9 ? CFAbsoluteTimeGetCurrent() + seconds : 0;
}

bool macos::pastRunDeadline() {
  return runDeadline != 0 && CFAbsoluteTimeGetCurrent() >= runDeadline;
}

void axSetMessagingTimeout(const Element& element, float seconds) {
  if (AXUIElementRef ref = macos::axRef(element)) (void)AXUIElementSetMessagingTimeout(ref, seconds);
}

WindowNumberResult axGetWindowNumber(const Element& window) {
  AXUIElementRef ref = macos::axRef(window);
  if (!ref) return WindowNumberResult{axerr::illegalArgument, 0};
  CGWindowID number = 0;
  const AXError status = _AXUIElementGetWindow(ref, &number);
  if (status != kAXErrorSuccess) return WindowNumberResult{static_cast<std::int32_t>(status), 0};
  return WindowNumberResult{axerr::success, number};
}

bool isSecureEventInputEnabled() { return IsSecureEventInputEnabled(); }

}  // namespace uiglean
