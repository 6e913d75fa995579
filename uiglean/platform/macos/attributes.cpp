// Attribute reads and writes: AXUIElementCopyAttributeValue with the value conversion of
// cfvalues.h, AXUIElementSetAttributeValue with values made by AXValueCreate and CoreFoundation.
#include <ApplicationServices/ApplicationServices.h>

#include "uiglean/ax/platform.h"
#include "uiglean/platform/macos/cftypes.h"
#include "uiglean/platform/macos/elements.h"

namespace uiglean {

using macos::CFRef;

namespace {

// A layer value as a CF value that the accessibility API accepts; null when it has no such form.
CFRef<CFTypeRef> cfValueOf(const Value& value) {
  switch (macos::setKindOf(value)) {
    case macos::SetKind::string: {
      CFRef<CFStringRef> s = macos::cfString(std::get<std::string>(value));
      return CFRef<CFTypeRef>::retain(s.get());
    }
    case macos::SetKind::boolean:
      return CFRef<CFTypeRef>::retain(std::get<Number>(value).value != 0 ? kCFBooleanTrue
                                                                          : kCFBooleanFalse);
    case macos::SetKind::integer: {
      const std::int64_t i = macos::integerOf(std::get<Number>(value));
      return CFRef<CFTypeRef>(CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &i));
    }
    case macos::SetKind::real: {
      const double d = std::get<Number>(value).value;
      return CFRef<CFTypeRef>(CFNumberCreate(kCFAllocatorDefault, kCFNumberDoubleType, &d));
    }
    case macos::SetKind::point: {
      const Point& p = std::get<Point>(value);
      const CGPoint point{p.x, p.y};
      return CFRef<CFTypeRef>(AXValueCreate(kAXValueTypeCGPoint, &point));
    }
    case macos::SetKind::size: {
      const Size& s = std::get<Size>(value);
      const CGSize size{s.width, s.height};
      return CFRef<CFTypeRef>(AXValueCreate(kAXValueTypeCGSize, &size));
    }
    case macos::SetKind::range: {
      const Range& r = std::get<Range>(value);
      const CFRange range = CFRangeMake(static_cast<CFIndex>(r.location),
                                        static_cast<CFIndex>(r.length));
      return CFRef<CFTypeRef>(AXValueCreate(kAXValueTypeCFRange, &range));
    }
    case macos::SetKind::element:
      return CFRef<CFTypeRef>::retain(macos::axRef(std::get<Element>(value)));
    case macos::SetKind::elements: {
      const ElementList& list = std::get<ElementList>(value);
      std::vector<const void*> refs;
      for (const Element& e : list) {
        if (!macos::axRef(e)) return CFRef<CFTypeRef>();
        refs.push_back(macos::axRef(e));
      }
      return CFRef<CFTypeRef>(CFArrayCreate(kCFAllocatorDefault, refs.data(),
                                            static_cast<CFIndex>(refs.size()),
                                            &kCFTypeArrayCallBacks));
    }
    case macos::SetKind::none:
      break;
  }
  return CFRef<CFTypeRef>();
}

}  // namespace

CopyResult axCopyAttributeValue(const Element& element, const std::string& attribute) {
  AXUIElementRef ref = macos::axRef(element);
  CFRef<CFStringRef> name = macos::cfString(attribute);
  if (!ref || !name) return CopyResult{axerr::illegalArgument, NoValue{}};
  if (macos::pastRunDeadline()) return CopyResult{axerr::cannotComplete, NoValue{}};
  CFRef<CFTypeRef> value;
  const AXError status = AXUIElementCopyAttributeValue(ref, name.get(), value.out());
  if (status != kAXErrorSuccess) return CopyResult{static_cast<std::int32_t>(status), NoValue{}};
  return CopyResult{axerr::success, macos::valueOf(macos::CfReader{}, value.get())};
}

std::int32_t axSetAttributeValue(const Element& element, const std::string& attribute,
                                 const Value& value) {
  AXUIElementRef ref = macos::axRef(element);
  CFRef<CFStringRef> name = macos::cfString(attribute);
  CFRef<CFTypeRef> cfValue = cfValueOf(value);
  if (!ref || !name || !cfValue) return axerr::illegalArgument;
  if (macos::pastRunDeadline()) return axerr::cannotComplete;
  return static_cast<std::int32_t>(AXUIElementSetAttributeValue(ref, name.get(), cfValue.get()));
}

std::optional<Value> axCreateRangeValue(std::int64_t location, std::int64_t length) {
  // The AXValue itself is made by AXValueCreate when the range is written.
  return Value{Range{location, length}};
}

}  // namespace uiglean
