// CoreFoundation values for the rest of the layer: strings in both directions, and the reader
// that cfvalues.h converts real CFTypeRefs with.
#pragma once

#include <ApplicationServices/ApplicationServices.h>

#include <optional>
#include <vector>
#include <string>

#include "uiglean/platform/macos/cfref.h"
#include "uiglean/platform/macos/cfvalues.h"

namespace uiglean::macos {

// The string as a CFString, or a null reference when it is not valid UTF-8.
CFRef<CFStringRef> cfString(const std::string& s);
// The CFString as UTF-8, or nothing when it has no UTF-8 form (a lone surrogate).
std::optional<std::string> utf8(CFStringRef s);

// An element of this layer for a borrowed AXUIElementRef (a reference of its own is taken).
Element wrapElement(AXUIElementRef element);

// cfvalues.h's reader over CFTypeRefs. Nodes are borrowed references, valid while the value that
// holds them is.
struct CfReader {
  CfKind kind(CFTypeRef v) const;
  std::optional<std::string> string(CFTypeRef v) const;
  bool boolean(CFTypeRef v) const;
  NumberReading number(CFTypeRef v) const;
  AxValueReading axValue(CFTypeRef v) const;
  Element element(CFTypeRef v) const;
  std::string describe(CFTypeRef v) const;
  template <class F>
  void forEachItem(CFTypeRef v, F&& f) const {
    auto array = static_cast<CFArrayRef>(v);
    const CFIndex n = CFArrayGetCount(array);
    for (CFIndex i = 0; i < n; ++i) f(static_cast<CFTypeRef>(CFArrayGetValueAtIndex(array, i)));
  }
  template <class F>
  void forEachEntry(CFTypeRef v, F&& f) const {
    auto dict = static_cast<CFDictionaryRef>(v);
    const CFIndex n = CFDictionaryGetCount(dict);
    if (n <= 0) return;
    std::vector<const void*> keys(static_cast<std::size_t>(n)), values(static_cast<std::size_t>(n));
    CFDictionaryGetKeysAndValues(dict, keys.data(), values.data());
    for (std::size_t i = 0; i < keys.size(); ++i)
      f(static_cast<CFTypeRef>(keys[i]), static_cast<CFTypeRef>(values[i]));
  }
};

}  // namespace uiglean::macos
