// Actions: AXUIElementCopyActionNames and AXUIElementPerformAction.
#include <ApplicationServices/ApplicationServices.h>

#include "uiglean/ax/platform.h"
#include "uiglean/platform/macos/cftypes.h"
#include "uiglean/platform/macos/elements.h"

namespace uiglean {

using macos::CFRef;

ActionNamesResult axCopyActionNames(const Element& element) {
  AXUIElementRef ref = macos::axRef(element);
  if (!ref) return ActionNamesResult{axerr::illegalArgument, std::nullopt};
  if (macos::pastRunDeadline()) return ActionNamesResult{axerr::cannotComplete, std::nullopt};
  CFRef<CFArrayRef> names;
  const AXError status = AXUIElementCopyActionNames(ref, names.out());
  if (status != kAXErrorSuccess) return ActionNamesResult{static_cast<std::int32_t>(status), {}};
  ActionNamesResult result{axerr::success, std::nullopt};
  if (!names || CFGetTypeID(names.get()) != CFArrayGetTypeID()) return result;
  std::vector<std::string> out;
  const CFIndex n = CFArrayGetCount(names.get());
  for (CFIndex i = 0; i < n; ++i) {
    auto item = static_cast<CFTypeRef>(CFArrayGetValueAtIndex(names.get(), i));
    if (!item || CFGetTypeID(item) != CFStringGetTypeID()) return result;
    std::optional<std::string> name = macos::utf8(static_cast<CFStringRef>(item));
    if (!name) return result;
    out.push_back(std::move(*name));
  }
  result.names = std::move(out);
  return result;
}

std::int32_t axPerformAction(const Element& element, const std::string& action) {
  AXUIElementRef ref = macos::axRef(element);
  CFRef<CFStringRef> name = macos::cfString(action);
  if (!ref || !name) return axerr::illegalArgument;
  if (macos::pastRunDeadline()) return axerr::cannotComplete;
  return static_cast<std::int32_t>(AXUIElementPerformAction(ref, name.get()));
}

}  // namespace uiglean
