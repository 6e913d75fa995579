// Actions and attribute writes (the action table in README.md).
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <optional>
#include <utility>

#include "uiglean/ax/platform.h"
#include "uiglean/platform/linux/plainwindows.h"
#include "uiglean/platform/linux/a11ywindows.h"
#include "uiglean/platform/linux/elements.h"
#include "uiglean/platform/linux/keyboard.h"
#include "uiglean/platform/linux/menubuttons.h"
#include "uiglean/platform/linux/strings.h"
#include "uiglean/platform/linux/windowserver.h"
#include "uiglean/platform/linux/workspace.h"

namespace uiglean {

using namespace lx;

namespace {

// The macOS action an action of the toolkit stands for, or "" when none.
std::string macAction(const std::string& name, std::uint32_t role) {
  std::string n = asciiLower(name);
  if (n == "activate" && isTextRole(role)) return "AXConfirm";
  static const char* const press[] = {"click", "press", "activate", "toggle", "jump", "check",
                                      "uncheck", "select", "open", "expand", "collapse", "switch"};
  for (const char* p : press) {
    if (n == p) return "AXPress";
  }
  if (n == "popup" || n == "menu" || n == "showmenu" || n == "show menu" ||
      n == "showcontextmenu") {
    return "AXShowMenu";
  }
  if (n == "increase" || n == "increment") return "AXIncrement";
  if (n == "decrease" || n == "decrement") return "AXDecrement";
  return "";
}

bool hasPress(const Node& n) {
  return std::any_of(n.actions.begin(), n.actions.end(),
                     [&](const auto& a) { return macAction(a.first, n.role) == "AXPress"; });
}

bool isMenuEntry(const ElementImpl& e) {
  std::string r = macRoleOf(e).role;
  return r == "AXMenuBarItem" || r == "AXMenuItem";
}

bool isTopLevel(const Node& n) { return isWindowRole(n.role) || n.parent.second == ROOT_PATH; }

// The layer's sleep (which also starts a new epoch of answers), in milliseconds.
void sleepMs(std::uint32_t ms) { sleepMicros(ms * 1000U); }

std::int32_t boolCall(const ElementImpl& e, const char* interface, const char* member,
                      const Appender& append, bool isAction, std::uint64_t timeoutUsec = 0) {
  std::int32_t status = axerr::failure;
  callNow(e.bus, e.path, interface, member, append, [&](const Reply& r) {
    if (r.end != CallEnd::ok) {
      status = isAction ? actionStatus(r.end) : readStatus(r.end);
      return;
    }
    int b = 0;
    if (sd_bus_message_read(r.message, "b", &b) > 0 && b) status = axerr::success;
  }, timeoutUsec);
  return status;
}

// Selection changes are immediate in every toolkit that makes them; one that does not answer
// (GTK 4 leaves Text.AddSelection unanswered) should not cost the whole messaging timeout before
// the fallbacks are tried.
constexpr std::uint64_t SELECTION_TIMEOUT_USEC = 1'000'000;

std::int32_t doAction(const ElementImpl& e, std::size_t index) {
  return boolCall(e, IFACE_ACTION, "DoAction",
                  [index](sd_bus_message* m) {
                    return sd_bus_message_append(m, "i", static_cast<std::int32_t>(index));
                  },
                  true);
}

std::int32_t setCurrentValue(const ElementImpl& e, double v) {
  std::int32_t status = axerr::failure;
  callNow(e.bus, e.path, IFACE_PROPERTIES, "Set",
          [v](sd_bus_message* m) {
            return sd_bus_message_append(m, "ssv", IFACE_VALUE, "CurrentValue", "d", v);
          },
          [&](const Reply& r) { status = readStatus(r.end); });
  return status;
}

std::int32_t stepValue(const ElementImpl& e, int direction) {
  Node& n = fetch(e, Part::value);
  if (n.valueEnd != CallEnd::ok) return axerr::actionUnsupported;
  bool range = n.hasMinimum && n.hasMaximum;
  double step = n.increment > 0 ? n.increment : range ? (n.maximum - n.minimum) / 20.0 : 1;
  if (!(step > 0) || !std::isfinite(step)) step = 1;
  double target = n.current + direction * step;
  // Clamped to whichever ends of the range the object gave.
  if (range) {
    target = std::clamp(target, std::min(n.minimum, n.maximum), std::max(n.minimum, n.maximum));
  } else if (n.hasMinimum) {
    target = std::max(target, n.minimum);
  } else if (n.hasMaximum) {
    target = std::min(target, n.maximum);
  }
  if (!std::isfinite(target)) return axerr::failure;
  return setCurrentValue(e, target);
}

// Raises the X11 window that shows this top-level object; a window the window server does not
// show is brought to the front by the toolkit, if it will.
std::int32_t raiseWindow(const ElementImpl& e) {
  Node& n = fetch(e, Part::extents);
  const AccessibleApp* app = appForBus(e.bus);
  if (app == nullptr || app->pid == 0) return axerr::cannotComplete;
  if (!ownsServerWindow(app->pid)) return focusStandIn(e);
  auto window = windowFor(app->pid, n.name, n.x, n.y, n.width, n.height, n.hasExtents);
  if (!window) return axerr::failure;
  return activateWindow(*window) ? axerr::success : axerr::failure;
}

std::int32_t grabFocus(const ElementImpl& e) {
  return boolCall(e, IFACE_COMPONENT, "GrabFocus", nullptr, false);
}

// Gecko builds a menu's items the first time it opens: a press that opens a menu returns once the
// menu has items (or after a second).
void awaitMenuItems(const ElementImpl& entry) {
  for (int waited = 0; waited < 1000 && !pastRunDeadline(); waited += 50) {
    Node& c = fetch(entry, Part::children);
    if (!c.children.empty() || c.childrenEnd != CallEnd::ok) return;
    sleepMs(50);
    forgetAnswers();
  }
}

// GTK 4 clicks a button a quarter of a second after it is asked to (the time it shows the button
// pressed down) and says nothing until then, so a press answers only once the click has happened:
// what is read next, and a settle started next, see its effect.
constexpr std::uint32_t LATE_CLICK_MS = 250 + 40;
constexpr std::uint32_t CLICK_FRAME_MS = 40;

bool clicksLate(const ElementImpl& e, const Node& n) {
  return (n.role == role::pushButton || n.role == role::toggleButton) && isGtk4OrLater(e.bus);
}

// Presses a GTK 4 button: a pointer click where one lands on it, which the application has
// handled when this returns; else the action, answered once GTK has clicked.
std::int32_t pressLateClicker(const ElementImpl& e, std::size_t actionIndex) {
  // A pointer click on such a button clicks it at once, and a click is what the user does: where
  // a click lands on the button, the press is one.
  if (pointerClick(e)) return axerr::success;
  std::int32_t status = doAction(e, actionIndex);
  if (status == axerr::success) sleepMs(LATE_CLICK_MS);
  return status;
}

std::string currentText(const ElementImpl& e) {
  forgetAnswers();
  return fetch(e, Part::text).text;
}

// Focuses the element, selects all of its text and types `text` over it: the route of last
// resort, for widgets whose text cannot be written through the accessibility interface.
std::int32_t typeOver(const ElementImpl& e, const std::string& text) {
  Node& n = fetch(e, Part::base);
  if (!hasState(n.states, state::focused)) grabFocus(e);
  sleepMs(50);
  if (!pressKey('a', true)) return axerr::cannotComplete;
  if (text.empty()) {
    pressKey(KEY_DELETE);
  } else if (!typeText(text, [&] { return currentText(e) == text; })) {
    return axerr::cannotComplete;
  }
  sleepMs(50);
  forgetAnswers();
  return axerr::success;
}

// A terminal's text is its whole screen, and Ctrl+A moves a shell's cursor rather than selecting:
// the text is typed where the cursor is. What the terminal then shows cannot be compared with
// it, so delivering every key is the success.
std::int32_t typeIntoTerminal(const ElementImpl& e, const std::string& text) {
  Node& n = fetch(e, Part::base);
  if (!hasState(n.states, state::focused)) grabFocus(e);
  sleepMs(50);
  if (!text.empty() && !typeText(text, [] { return true; })) return axerr::cannotComplete;
  sleepMs(50);
  forgetAnswers();
  return axerr::success;
}

std::int32_t writeText(const ElementImpl& e, const std::string& text) {
  if (fetch(e, Part::base).role == role::terminal) return typeIntoTerminal(e, text);
  std::int32_t s = boolCall(e, IFACE_EDITABLE, "SetTextContents",
                            [&text](sd_bus_message* m) {
                              return sd_bus_message_append(m, "s", text.c_str());
                            },
                            false);
  forgetAnswers();
  if (s == axerr::success && currentText(e) == text) return axerr::success;
  // No editable text, or a write that did not take: type it.
  std::int32_t typed = typeOver(e, text);
  if (typed != axerr::success) return s != axerr::success ? s : typed;
  return currentText(e) == text ? axerr::success : axerr::failure;
}

std::uint64_t selectionTimeout(const ElementImpl& e) {
  return std::min(timeoutFor(e.bus), SELECTION_TIMEOUT_USEC);
}

std::int32_t setSelection(const ElementImpl& e, const Range& range) {
  Node& t = fetch(e, Part::text);
  if (t.textEnd != CallEnd::ok) return readStatus(t.textEnd);
  auto start = static_cast<std::int32_t>(std::clamp<std::int64_t>(range.location, 0, INT32_MAX));
  auto end = static_cast<std::int32_t>(
      std::clamp<std::int64_t>(range.location + range.length, start, INT32_MAX));
  bool had = t.hasSelection;
  std::int32_t s;
  if (end == start) {
    if (had) {
      boolCall(e, IFACE_TEXT, "RemoveSelection",
               [](sd_bus_message* m) { return sd_bus_message_append(m, "i", 0); }, false);
    }
    s = boolCall(e, IFACE_TEXT, "SetCaretOffset",
                 [start](sd_bus_message* m) { return sd_bus_message_append(m, "i", start); },
                 false, selectionTimeout(e));
  } else if (had) {
    s = boolCall(e, IFACE_TEXT, "SetSelection",
                 [start, end](sd_bus_message* m) {
                   return sd_bus_message_append(m, "iii", 0, start, end);
                 },
                 false, selectionTimeout(e));
  } else {
    s = boolCall(e, IFACE_TEXT, "AddSelection",
                 [start, end](sd_bus_message* m) {
                   return sd_bus_message_append(m, "ii", start, end);
                 },
                 false, selectionTimeout(e));
  }
  forgetAnswers();
  return s;
}

std::int32_t replaceSelection(const ElementImpl& e, const std::string& text) {
  Node& t = fetch(e, Part::text);
  if (t.textEnd != CallEnd::ok) return readStatus(t.textEnd);
  std::int64_t count = charLength(t.text);
  std::int64_t start = t.hasSelection ? std::min(t.selStart, t.selEnd) : t.caret;
  std::int64_t end = t.hasSelection ? std::max(t.selStart, t.selEnd) : t.caret;
  start = std::clamp<std::int64_t>(start, 0, count);
  end = std::clamp<std::int64_t>(end, start, count);
  std::string before = t.text;
  std::string expected = before.substr(0, byteOffset(before, start)) + text +
                         before.substr(byteOffset(before, end));
  auto s32 = static_cast<std::int32_t>(start);
  auto e32 = static_cast<std::int32_t>(end);
  std::int32_t s = axerr::success;
  if (end > start) {
    s = boolCall(e, IFACE_EDITABLE, "DeleteText",
                 [s32, e32](sd_bus_message* m) { return sd_bus_message_append(m, "ii", s32, e32); },
                 false);
  }
  if (s == axerr::success && !text.empty()) {
    auto length = static_cast<std::int32_t>(charLength(text));
    s = boolCall(e, IFACE_EDITABLE, "InsertText",
                 [s32, &text, length](sd_bus_message* m) {
                   return sd_bus_message_append(m, "isi", s32, text.c_str(), length);
                 },
                 false);
  }
  forgetAnswers();
  if (s == axerr::success && currentText(e) == expected) return axerr::success;
  // The write did not take: select the range again and type over it.
  if (s != axerr::success && s != axerr::failure && s != axerr::attributeUnsupported) return s;
  if (start == 0 && end == count) {
    std::int32_t typed = typeOver(e, text);
    if (typed != axerr::success) return s != axerr::success ? s : typed;
    return currentText(e) == expected ? axerr::success : axerr::failure;
  }
  return s != axerr::success ? s : axerr::failure;
}

}  // namespace

namespace lx {

std::optional<std::pair<std::int32_t, std::int32_t>> clickPointOf(const ElementImpl& e) {
  const AccessibleApp* app = appForBus(e.bus);
  if (app == nullptr || app->pid <= 0 || inputUnavailable() || !ownsServerWindow(app->pid) ||
      hasModalWindow(app->pid)) {
    return std::nullopt;
  }
  Node& n = fetch(e, Part::extents);
  if (!n.hasExtents || n.width <= 0 || n.height <= 0 || !(hasState(n.states, state::enabled) ||
        hasState(n.states, state::sensitive))) {
    return std::nullopt;
  }
  // Positions are the window's (GTK 4), the same for the element and each of its ancestors.
  std::int64_t cx = static_cast<std::int64_t>(n.x) + n.width / 2;
  std::int64_t cy = static_cast<std::int64_t>(n.y) + n.height / 2;
  ObjectRef at = n.parent;
  for (int depth = 0; depth < 64; ++depth) {
    if (at.first.empty() || at.second.empty() || at.second == ROOT_PATH) return std::nullopt;
    ElementImpl up{at.first, at.second, View::object, Context::other, nullptr};
    Node& a = fetch(up, Part::extents);
    if (a.baseEnd != CallEnd::ok || !a.hasExtents) return std::nullopt;
    if (cx < a.x || cy < a.y || cx >= static_cast<std::int64_t>(a.x) + a.width ||
        cy >= static_cast<std::int64_t>(a.y) + a.height) {
      return std::nullopt;
    }
    if (a.parent.second != ROOT_PATH) {
      at = a.parent;
      continue;
    }
    auto xid = windowFor(app->pid, a.name, a.x, a.y, a.width, a.height, true);
    if (!xid) return std::nullopt;
    auto origin = contentOrigin(*xid, a.width, a.height);
    if (!origin) return std::nullopt;
    std::int64_t sx = origin->first + (cx - a.x), sy = origin->second + (cy - a.y);
    if (sx < INT16_MIN || sy < INT16_MIN || sx > INT16_MAX || sy > INT16_MAX) return std::nullopt;
    auto point = std::make_pair(static_cast<std::int32_t>(sx), static_cast<std::int32_t>(sy));
    if (!clientShownAt(*xid, point.first, point.second)) return std::nullopt;
    return point;
  }
  return std::nullopt;
}

bool pointerClick(const ElementImpl& e) {
  auto point = clickPointOf(e);
  if (!point || !clickAndReturn(point->first, point->second)) return false;
  // GTK reads the pointer's events on its next frame; one round trip after that is answered once
  // the click has been handled.
  sleepMs(CLICK_FRAME_MS);
  callNow(e.bus, ROOT_PATH, IFACE_ACCESSIBLE, "GetRole", nullptr, [](const Reply&) {});
  forgetAnswers();
  return true;
}

}  // namespace lx

ActionNamesResult axCopyActionNames(const Element& element) {
  ActionNamesResult result;
  if (!element) return result;
  const ElementImpl& e = *element.impl;
  if (isPlainView(e)) return plainActionNames(e);
  std::vector<std::string> names;
  auto add = [&](const std::string& n) {
    if (!n.empty() && std::find(names.begin(), names.end(), n) == names.end()) names.push_back(n);
  };
  if (e.view == View::appItem || e.view == View::buttonEntry) add("AXPress");
  if (e.view == View::buttonEntry && menuButtonOpen(e)) add("AXCancel");
  if (e.view != View::object || e.path == ROOT_PATH) {
    result.status = axerr::success;
    result.names = names;
    return result;
  }
  Node& n = fetch(e, Part::actions);
  if (n.baseEnd != CallEnd::ok) {
    result.status = actionStatus(n.baseEnd);
    return result;
  }
  bool opensMenu = isMenuEntry(e);
  for (const auto& [name, binding] : n.actions) {
    std::string mac = macAction(name, n.role);
    // A menu entry that only shows its menu (Qt) is pressed to open it, as on macOS.
    if (mac == "AXShowMenu" && opensMenu && !hasPress(n)) add("AXPress");
    add(mac);
  }
  if (isValueRole(n.role)) {
    add("AXIncrement");
    add("AXDecrement");
  }
  if (isTopLevel(n)) add("AXRaise");
  if (macRoleOf(e).role == "AXMenuBarItem" && menuOpen(e)) add("AXCancel");
  result.status = axerr::success;
  result.names = names;
  return result;
}

std::int32_t axPerformAction(const Element& element, const std::string& action) {
  if (!element) return axerr::illegalArgument;
  const ElementImpl& e = *element.impl;
  if (isPlainView(e)) return plainPerformAction(e, action);
  if (e.bus.empty()) return axerr::invalidElement;
  std::int32_t status = axerr::actionUnsupported;
  if (e.view == View::appItem) {
    // The application menu has nothing to open or close.
    return action == "AXPress" || action == "AXCancel" ? axerr::success
                                                       : axerr::actionUnsupported;
  }
  if (e.view == View::buttonEntry) {
    if (action != "AXPress" && action != "AXCancel") return axerr::actionUnsupported;
    return setMenuButtonOpen(e, action == "AXPress");
  }
  if (e.view != View::object || e.path == ROOT_PATH) return axerr::actionUnsupported;
  Node& n = fetch(e, Part::actions);
  if (n.baseEnd != CallEnd::ok) return actionStatus(n.baseEnd);
  if (hasState(n.states, state::defunct)) return axerr::invalidElement;

  for (std::size_t i = 0; i < n.actions.size(); ++i) {
    if (macAction(n.actions[i].first, n.role) == action) {
      bool lateClick = action == "AXPress" && clicksLate(e, n);
      status = lateClick ? pressLateClicker(e, i) : doAction(e, i);
      forgetAnswers();
      if (status == axerr::success && n.role == role::menu && isMenuEntry(e)) awaitMenuItems(e);
      return status;
    }
  }
  if (action == "AXPress" && isMenuEntry(e)) {
    for (std::size_t i = 0; i < n.actions.size(); ++i) {
      if (macAction(n.actions[i].first, n.role) == "AXShowMenu") {
        status = doAction(e, i);
        forgetAnswers();
        if (status == axerr::success) awaitMenuItems(e);
        return status;
      }
    }
  }
  if (action == "AXIncrement" || action == "AXDecrement") {
    if (!isValueRole(n.role)) return axerr::actionUnsupported;
    status = stepValue(e, action == "AXIncrement" ? 1 : -1);
  } else if (action == "AXScrollToVisible") {
    status = boolCall(e, IFACE_COMPONENT, "ScrollTo",
                      [](sd_bus_message* m) { return sd_bus_message_append(m, "u", 6U); }, true);
  } else if (action == "AXRaise") {
    if (!isTopLevel(n)) return axerr::actionUnsupported;
    status = raiseWindow(e);
  } else if (action == "AXCancel") {
    if (macRoleOf(e).role != "AXMenuBarItem") return axerr::actionUnsupported;
    status = axerr::success;
    const AccessibleApp* app = appForBus(e.bus);
    if (app != nullptr && app->pid > 0 && !ownsServerWindow(app->pid)) {
      // Keys typed into an X server would not reach it (a Wayland application): the menu bar's
      // selection is cleared instead, which closes whichever of its menus is open (GTK).
      const ObjectRef bar = fetch(e, Part::base).parent;
      ElementImpl barImpl{bar.first, bar.second, View::object, Context::menuBar, nullptr};
      boolCall(barImpl, IFACE_SELECTION, "ClearSelection", nullptr, true);
      sleepMs(60);
      forgetAnswers();
      return menuOpen(e) ? axerr::cannotComplete : axerr::success;
    }
    // Escape closes one level at a time, in every toolkit.
    for (int i = 0; i < 5 && menuOpen(e); ++i) {
      if (!pressKey(KEY_ESCAPE)) {
        status = axerr::cannotComplete;
        break;
      }
      sleepMs(60);
      forgetAnswers();
    }
  }
  forgetAnswers();
  return status;
}

std::int32_t axSetAttributeValue(const Element& element, const std::string& attribute,
                                 const Value& value) {
  if (!element) return axerr::illegalArgument;
  const ElementImpl& e = *element.impl;
  if (isPlainView(e)) return plainSetAttribute(e, attribute, value);
  if (e.bus.empty()) return axerr::invalidElement;
  if (e.view != View::object) return axerr::attributeUnsupported;
  if (e.path == ROOT_PATH) {
    if (attribute == "AXManualAccessibility" || attribute == "AXEnhancedUserInterface") {
      return enableWebContent(e.bus) ? axerr::success : axerr::failure;
    }
    return axerr::attributeUnsupported;
  }
  Node& n = fetch(e, Part::base);
  if (n.baseEnd != CallEnd::ok) return readStatus(n.baseEnd);
  std::int32_t status = axerr::attributeUnsupported;
  const auto* number = std::get_if<Number>(&value);
  const auto* text = std::get_if<std::string>(&value);
  if (attribute == "AXFocused") {
    if (number == nullptr || number->value == 0) return axerr::illegalArgument;
    status = isTopLevel(n) ? raiseWindow(e) : grabFocus(e);
  } else if (attribute == "AXMain") {
    if (!isTopLevel(n)) return axerr::attributeUnsupported;
    if (number == nullptr || number->value == 0) return axerr::illegalArgument;
    status = raiseWindow(e);
  } else if (attribute == "AXValue") {
    if (isEditableText(n.role, n.states)) {
      if (text == nullptr) return axerr::illegalArgument;
      status = writeText(e, *text);
    } else if (isValueRole(n.role)) {
      if (number == nullptr) return axerr::illegalArgument;
      status = setCurrentValue(e, number->value);
    }
  } else if (n.role == role::terminal &&
             (attribute == "AXSelectedTextRange" || attribute == "AXSelectedText")) {
    // A terminal's screen is no text to select and replace: its value is typed (writeText).
    return axerr::attributeUnsupported;
  } else if (attribute == "AXSelectedTextRange") {
    const auto* range = std::get_if<Range>(&value);
    if (!isEditableText(n.role, n.states)) return axerr::attributeUnsupported;
    if (range == nullptr) return axerr::illegalArgument;
    status = setSelection(e, *range);
  } else if (attribute == "AXSelectedText") {
    if (!isEditableText(n.role, n.states)) return axerr::attributeUnsupported;
    if (text == nullptr) return axerr::illegalArgument;
    status = replaceSelection(e, *text);
  }
  forgetAnswers();
  return status;
}

std::optional<Value> axCreateRangeValue(std::int64_t location, std::int64_t length) {
  return Value{Range{location, length}};
}

}  // namespace uiglean
