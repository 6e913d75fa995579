// Strings and the CFTypeRef reader (see cfvalues.h for the rules it serves).
#include "uiglean/platform/macos/cftypes.h"

#include "uiglean/platform/macos/elements.h"

namespace uiglean::macos {

CFRef<CFStringRef> cfString(const std::string& s) {
  return CFRef<CFStringRef>(CFStringCreateWithBytes(kCFAllocatorDefault,
                                                    reinterpret_cast<const UInt8*>(s.data()),
                                                    static_cast<CFIndex>(s.size()),
                                                    kCFStringEncodingUTF8, false));
}

std::optional<std::string> utf8(CFStringRef s) {
  if (!s) return std::nullopt;
  const CFIndex length = CFStringGetLength(s);
  const CFRange all = CFRangeMake(0, length);
  CFIndex bytes = 0;
  // A first pass measures; lossByte 0 makes an unconvertible string fail instead of changing it.
  if (CFStringGetBytes(s, all, kCFStringEncodingUTF8, 0, false, nullptr, 0, &bytes) != length)
    return std::nullopt;
  std::string out(static_cast<std::size_t>(bytes), '\0');
  if (bytes > 0 && CFStringGetBytes(s, all, kCFStringEncodingUTF8, 0, false,
                                    reinterpret_cast<UInt8*>(out.data()), bytes,
                                    &bytes) != length)
    return std::nullopt;
  out.resize(static_cast<std::size_t>(bytes));
  return out;
}

Element wrapElement(AXUIElementRef element) {
  if (!element) return Element{};
  auto impl = std::make_shared<ElementImpl>();
  impl->ref = CFRef<AXUIElementRef>::retain(element);
  return Element{std::move(impl)};
}

CfKind CfReader::kind(CFTypeRef v) const {
  if (!v) return CfKind::null;
  const CFTypeID type = CFGetTypeID(v);
  if (type == CFStringGetTypeID()) return CfKind::string;
  if (type == CFBooleanGetTypeID()) return CfKind::boolean;
  if (type == CFNumberGetTypeID()) return CfKind::number;
  if (type == AXValueGetTypeID()) return CfKind::axValue;
  if (type == AXUIElementGetTypeID()) return CfKind::element;
  if (type == CFArrayGetTypeID()) return CfKind::array;
  if (type == CFDictionaryGetTypeID()) return CfKind::dictionary;
  if (type == CFNullGetTypeID()) return CfKind::null;
  return CfKind::other;
}

std::optional<std::string> CfReader::string(CFTypeRef v) const {
  return utf8(static_cast<CFStringRef>(v));
}

bool CfReader::boolean(CFTypeRef v) const {
  return CFBooleanGetValue(static_cast<CFBooleanRef>(v));
}

NumberReading CfReader::number(CFTypeRef v) const {
  auto n = static_cast<CFNumberRef>(v);
  NumberReading r;
  r.type = static_cast<int>(CFNumberGetType(n));
  std::int64_t i = 0;
  // CFNumberGetValue says false when the conversion lost something.
  if (!CFNumberIsFloatType(n) && CFNumberGetValue(n, kCFNumberSInt64Type, &i)) r.asInt64 = i;
  double d = 0;
  CFNumberGetValue(n, kCFNumberDoubleType, &d);
  r.asDouble = d;
  return r;
}

AxValueReading CfReader::axValue(CFTypeRef v) const {
  auto value = static_cast<AXValueRef>(v);
  AxValueReading r;
  const AXValueType type = AXValueGetType(value);
  r.type = static_cast<int>(type);
  switch (type) {
    case kAXValueTypeCGPoint: {
      CGPoint p{};
      r.ok = AXValueGetValue(value, type, &p);
      r.a = p.x;
      r.b = p.y;
      break;
    }
    case kAXValueTypeCGSize: {
      CGSize s{};
      r.ok = AXValueGetValue(value, type, &s);
      r.a = s.width;
      r.b = s.height;
      break;
    }
    case kAXValueTypeCFRange: {
      CFRange range{};
      r.ok = AXValueGetValue(value, type, &range);
      r.location = range.location;
      r.length = range.length;
      break;
    }
    default:
      break;
  }
  return r;
}

Element CfReader::element(CFTypeRef v) const {
  return wrapElement(static_cast<AXUIElementRef>(v));
}

std::string CfReader::describe(CFTypeRef v) const {
  if (!v) return "null";
  CFRef<CFStringRef> description(CFCopyDescription(v));
  std::optional<std::string> text = utf8(description.get());
  return text ? *text : "a value without a description";
}

}  // namespace uiglean::macos
