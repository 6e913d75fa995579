// The window server through CoreGraphics: displays, the window list as property-list values, and
// the screen-capture preflight.
#include <CoreGraphics/CoreGraphics.h>

#include "uiglean/ax/platform.h"
#include "uiglean/platform/macos/cftypes.h"

namespace uiglean {

std::vector<std::uint32_t> activeDisplayList(std::uint32_t capacity) {
  std::vector<CGDirectDisplayID> ids(capacity);
  uint32_t count = 0;
  if (capacity == 0) return {};
  // The error code is not looked at: the count says how many identifiers there are.
  (void)CGGetActiveDisplayList(capacity, ids.data(), &count);
  if (count > capacity) count = capacity;
  return std::vector<std::uint32_t>(ids.begin(), ids.begin() + count);
}

std::uint32_t mainDisplayId() { return CGMainDisplayID(); }

Rect displayBounds(std::uint32_t displayId) {
  const CGRect r = CGDisplayBounds(displayId);
  return Rect{r.origin.x, r.origin.y, r.size.width, r.size.height};
}

PlistValue windowListCopyWindowInfo(std::uint32_t options, std::uint32_t relativeToWindow) {
  macos::CFRef<CFArrayRef> list(CGWindowListCopyWindowInfo(options, relativeToWindow));
  if (!list) return PlistValue{};
  return macos::plistOf(macos::CfReader{}, static_cast<CFTypeRef>(list.get()));
}

bool preflightScreenCaptureAccess() { return CGPreflightScreenCaptureAccess(); }

}  // namespace uiglean
