// Synthesized input: key strokes, typing, clicks and the wheel as CGEvents posted to the HID
// event tap. Keys go nowhere while secure input is on, so key strokes and typing are refused
// then; clicks and the wheel still work.
#include <ApplicationServices/ApplicationServices.h>
#include <Carbon/Carbon.h>

#include <cmath>
#include <cstdlib>

#include "uiglean/ax/platform.h"
#include "uiglean/platform/macos/cfref.h"

namespace uiglean {

namespace {

using macos::CFRef;

// Virtual key codes of the ANSI keyboard.
CGKeyCode namedKeyCode(NamedKey key) {
  switch (key) {
    case NamedKey::enter: return 36;
    case NamedKey::tab: return 48;
    case NamedKey::space: return 49;
    case NamedKey::backspace: return 51;
    case NamedKey::escape: return 53;
    case NamedKey::forwardDelete: return 117;
    case NamedKey::home: return 115;
    case NamedKey::end: return 119;
    case NamedKey::pageUp: return 116;
    case NamedKey::pageDown: return 121;
    case NamedKey::left: return 123;
    case NamedKey::right: return 124;
    case NamedKey::down: return 125;
    case NamedKey::up: return 126;
    default: break;
  }
  static const CGKeyCode function[] = {122, 120, 99,  118, 96,  97, 98, 100, 101, 109,
                                       103, 111, 105, 107, 113, 106, 64, 79, 80,  90};
  auto n = static_cast<std::size_t>(static_cast<int>(key) - static_cast<int>(NamedKey::f1));
  return n < 20 ? function[n] : 0;
}

// The ANSI key that types an ASCII character unshifted, or nothing.
std::optional<CGKeyCode> characterKeyCode(std::uint32_t c) {
  static const char* const keys =
      "asdfhgzxcv\0bqweryt123465=97-80]ou[ip\0lj'k;\\,/nm.\0 `";
  if (c == 0 || c >= 0x80) return std::nullopt;
  for (std::size_t i = 0; i < 51; ++i) {
    if (static_cast<unsigned char>(keys[i]) == c) return static_cast<CGKeyCode>(i);
  }
  return std::nullopt;
}

CGEventFlags flagsOf(std::uint32_t modifiers) {
  CGEventFlags f = 0;
  if ((modifiers & keyModCommand) != 0) f |= kCGEventFlagMaskCommand;
  if ((modifiers & keyModControl) != 0) f |= kCGEventFlagMaskControl;
  if ((modifiers & keyModOption) != 0) f |= kCGEventFlagMaskAlternate;
  if ((modifiers & keyModShift) != 0) f |= kCGEventFlagMaskShift;
  return f;
}

std::optional<std::string> keysRefused() {
  if (IsSecureEventInputEnabled()) return std::string("secure input is on");
  return std::nullopt;
}

CFRef<CGEventSourceRef> source() {
  return CFRef<CGEventSourceRef>(CGEventSourceCreate(kCGEventSourceStateHIDSystemState));
}

// Posts one key down and up; `text`, when given, is what the key types instead of its own
// character.
bool postKey(CGEventSourceRef src, CGKeyCode code, CGEventFlags flags, const UniChar* text,
             UniCharCount length) {
  for (bool down : {true, false}) {
    CFRef<CGEventRef> event(CGEventCreateKeyboardEvent(src, code, down));
    if (!event) return false;
    CGEventSetFlags(event.get(), flags);
    if (text != nullptr) CGEventKeyboardSetUnicodeString(event.get(), length, text);
    CGEventPost(kCGHIDEventTap, event.get());
  }
  return true;
}

std::optional<std::string> postMouse(CGEventType type, Point where, CGMouseButton button,
                                     std::int64_t clickState) {
  CFRef<CGEventSourceRef> src = source();
  CFRef<CGEventRef> event(CGEventCreateMouseEvent(src.get(), type, CGPointMake(where.x, where.y), button));
  if (!event) return std::string("the mouse event could not be made");
  if (clickState > 0) CGEventSetIntegerValueField(event.get(), kCGMouseEventClickState, clickState);
  CGEventPost(kCGHIDEventTap, event.get());
  return std::nullopt;
}

}  // namespace

std::optional<std::string> postKeyStroke(const KeyStroke& stroke) {
  if (auto refused = keysRefused()) return refused;
  CFRef<CGEventSourceRef> src = source();
  CGEventFlags flags = flagsOf(stroke.modifiers);
  if (stroke.named) {
    if (!postKey(src.get(), namedKeyCode(*stroke.named), flags, nullptr, 0)) {
      return std::string("the key event could not be made");
    }
    return std::nullopt;
  }
  if (auto code = characterKeyCode(stroke.character)) {
    if (!postKey(src.get(), *code, flags, nullptr, 0)) return std::string("the key event could not be made");
    return std::nullopt;
  }
  // A character without a key of its own on the ANSI keyboard: the event carries it.
  UniChar units[2];
  UniCharCount length = 1;
  std::uint32_t c = stroke.character;
  if (c >= 0x10000) {
    units[0] = static_cast<UniChar>(0xd800 + ((c - 0x10000) >> 10));
    units[1] = static_cast<UniChar>(0xdc00 + ((c - 0x10000) & 0x3ff));
    length = 2;
  } else {
    units[0] = static_cast<UniChar>(c);
  }
  if (!postKey(src.get(), 0, flags, units, length)) return std::string("the key event could not be made");
  return std::nullopt;
}

std::optional<std::string> postText(const std::string& text) {
  if (auto refused = keysRefused()) return refused;
  CFRef<CFStringRef> string(CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>(text.data()),
                                                   static_cast<CFIndex>(text.size()),
                                                   kCFStringEncodingUTF8, false));
  if (!string) return std::string("the text is not UTF-8");
  CFIndex length = CFStringGetLength(string.get());
  CFRef<CGEventSourceRef> src = source();
  // At most 20 UTF-16 units travel in one event; line breaks and tabs are their keys.
  CFIndex at = 0;
  while (at < length) {
    UniChar first = CFStringGetCharacterAtIndex(string.get(), at);
    if (first == '\n' || first == '\r' || first == '\t') {
      postKey(src.get(), first == '\t' ? 48 : 36, 0, nullptr, 0);
      ++at;
      continue;
    }
    CFIndex end = at;
    while (end < length && end - at < 20) {
      UniChar u = CFStringGetCharacterAtIndex(string.get(), end);
      if (u == '\n' || u == '\r' || u == '\t') break;
      ++end;
    }
    // A surrogate pair is never split between two events.
    if (end < length && end - at == 20 &&
        CFStringIsSurrogateHighCharacter(CFStringGetCharacterAtIndex(string.get(), end - 1))) {
      --end;
    }
    UniChar units[20];
    CFStringGetCharacters(string.get(), CFRangeMake(at, end - at), units);
    if (!postKey(src.get(), 0, 0, units, static_cast<UniCharCount>(end - at))) {
      return std::string("the key event could not be made");
    }
    at = end;
  }
  return std::nullopt;
}

std::optional<std::string> postMouseClick(Point where, MouseButton button, std::int32_t clicks) {
  if (auto error = postMouse(kCGEventMouseMoved, where, kCGMouseButtonLeft, 0)) return error;
  CGEventType down = kCGEventLeftMouseDown, up = kCGEventLeftMouseUp;
  CGMouseButton which = kCGMouseButtonLeft;
  if (button == MouseButton::right) {
    down = kCGEventRightMouseDown;
    up = kCGEventRightMouseUp;
    which = kCGMouseButtonRight;
  } else if (button == MouseButton::middle) {
    down = kCGEventOtherMouseDown;
    up = kCGEventOtherMouseUp;
    which = kCGMouseButtonCenter;
  }
  for (std::int32_t i = 1; i <= clicks; ++i) {
    if (auto error = postMouse(down, where, which, i)) return error;
    if (auto error = postMouse(up, where, which, i)) return error;
  }
  return std::nullopt;
}

std::optional<std::string> postScrollWheel(Point where, std::int32_t lines, std::int32_t columns) {
  if (auto error = postMouse(kCGEventMouseMoved, where, kCGMouseButtonLeft, 0)) return error;
  CFRef<CGEventSourceRef> src = source();
  // The wheel's positive direction moves the content down (scrolls up), and right for the
  // second wheel.
  CFRef<CGEventRef> event(
      CGEventCreateScrollWheelEvent2(src.get(), kCGScrollEventUnitLine, 2, -lines, -columns, 0));
  if (!event) return std::string("the scroll event could not be made");
  CGEventSetLocation(event.get(), CGPointMake(where.x, where.y));
  CGEventPost(kCGHIDEventTap, event.get());
  return std::nullopt;
}

}  // namespace uiglean
