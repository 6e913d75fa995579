// Attribute reads: each macOS attribute worked out from what the object says (the attribute
// table in README.md).
#include <algorithm>
#include <deque>
#include <map>

#include "uiglean/ax/platform.h"
#include "uiglean/platform/linux/elements.h"
#include "uiglean/platform/linux/windowserver.h"
#include "uiglean/platform/linux/a11ywindows.h"
#include "uiglean/platform/linux/keybinding.h"
#include "uiglean/platform/linux/menubuttons.h"
#include "uiglean/platform/linux/plainwindows.h"
#include "uiglean/platform/linux/workspace.h"

namespace uiglean {

using namespace lx;

namespace {

CopyResult integer(std::int64_t v) { return ok(Number{static_cast<double>(v), false, true}); }

bool isLabelRole(std::uint32_t r) {
  return r == 1 || r == role::label || r == role::staticText || r == 81;  // accelerator, caption
}

// The element's children as the layer shows them (see the menu shapes in README.md).
ElementList childElementsOf(const ElementImpl& e) {
  ElementList out;
  switch (e.view) {
    case View::appItem:
      out.push_back(makeElement(e.bus, e.path, View::appMenu, Context::menuBar));
      return out;
    case View::appMenu:
      return out;
    case View::buttonBar:
      out.push_back(makeElement(e.bus, e.path, View::appItem, Context::menuBar));
      for (const auto& ref : menuButtonsIn(makeElement(e.bus, e.path, View::object,
                                                       Context::other))) {
        out.push_back(makeElement(ref.first, ref.second, View::buttonEntry, Context::menuBar));
      }
      return out;
    case View::buttonEntry:
      out.push_back(makeElement(e.bus, e.path, View::buttonMenu, Context::menuBar));
      return out;
    case View::buttonMenu:
      return menuButtonItems(e);
    case View::popoverPage:
      return popoverPageItems(e);
    case View::plainApp:
    case View::plainWindow:
      return out;
    case View::menuOf:
    case View::object:
      break;
  }
  Node& n = fetch(e, Part::base);
  if (n.baseEnd != CallEnd::ok) return out;
  if (e.view == View::object) {
    Context ctx = (n.role == role::menu) ? contextOf(e) : Context::other;
    if (n.role == role::menu && (ctx == Context::menuBar || ctx == Context::menu)) {
      // An entry that opens a menu: its one child is that menu.
      out.push_back(makeElement(e.bus, e.path, View::menuOf, ctx));
      return out;
    }
  }
  Node& withChildren = fetch(e, Part::children);
  Context childContext = Context::other;
  if (e.view == View::menuOf || withChildren.role == role::menu ||
      withChildren.role == role::popupMenu) {
    childContext = Context::menu;
  } else if (withChildren.role == role::menuBar) {
    childContext = Context::menuBar;
  }
  auto group = std::make_shared<Group>(Group{withChildren.children});
  if (e.view == View::object && withChildren.role == role::menuBar) {
    // The place of the application menu.
    out.push_back(makeElement(e.bus, e.path, View::appItem, Context::menuBar));
  }
  for (const auto& ref : withChildren.children) {
    out.push_back(makeElement(ref.first, ref.second, View::object, childContext, group));
    if (childContext == Context::menuBar && popoverBarEntry(*out.back().impl)) {
      out.back().impl->view = View::buttonEntry;
    }
  }
  return out;
}

// The children, carrying how they were reached. In a window's tree a closed menu lists no items:
// on the screen it has none, and a large application's closed menus would fill the snapshot
// (LibreOffice's are nine in ten of its objects). Through the application's AXMenuBar every menu
// lists its items, open or not.
//
// Some toolkits list hidden widgets too: Qt all of them (a closed search bar, docks not shown, each
// menu's items), GTK 3 those its containers hold. Such a child says so by lacking the visible and
// showing states while its parent has the visible one; it is not on the screen, whatever extents
// it claims, and a window's tree leaves it out with all it holds, as the screen does. A hidden
// menu stays, closed. Where a toolkit sets the visible state on nothing, nothing is left out.
ElementList childElements(const ElementImpl& e) {
  if (e.view == View::menuOf && !e.throughMenuBar && !menuOpen(e)) return {};
  if (e.view == View::buttonMenu && !e.throughMenuBar && !menuOpen(e)) return {};
  bool inWindow = e.view == View::object && !e.throughMenuBar && e.path != ROOT_PATH;
  bool parentVisible = false;
  if (inWindow) {
    Node& n = fetch(e, Part::base);
    if (n.baseEnd == CallEnd::ok) {
      bool shown = hasState(n.states, state::visible) || hasState(n.states, state::showing);
      // A closed menu of its own window (Qt's popup menus) lists no items.
      if (n.role == role::popupMenu && !shown) return {};
      parentVisible = hasState(n.states, state::visible);
    }
  }
  ElementList out;
  if (e.popoverItem) {
    // Its own check mark and labels are no submenu; a page of the popover's stack is.
    if (!e.popoverPage.empty()) {
      out.push_back(makeElement(e.bus, e.popoverPage, View::popoverPage, Context::menu));
    }
  } else {
    out = childElementsOf(e);
  }
  if (parentVisible) {
    std::erase_if(out, [](const Element& c) {
      if (c.impl->view != View::object) return false;
      Node& n = fetch(*c.impl, Part::base);
      if (n.baseEnd != CallEnd::ok || n.role == role::popupMenu || n.role == role::menu) {
        return false;
      }
      return !hasState(n.states, state::visible) && !hasState(n.states, state::showing);
    });
  }
  if (e.throughMenuBar) {
    for (auto& c : out) c.impl->throughMenuBar = true;
  }
  return out;
}

CopyResult childrenResult(const ElementImpl& e) {
  if (e.view == View::object || e.view == View::menuOf) {
    Node& n = fetch(e, Part::base);
    if (n.baseEnd != CallEnd::ok) return CopyResult{readStatus(n.baseEnd), NoValue{}};
  }
  return ok(childElements(e));
}

// The menu bar of the application's active window, else of its other windows in order (a
// dialog has none, yet the application's menus stay reachable while it is open): the first
// object of role menu bar found breadth first, a few levels down, that is on screen with a size.
// Some toolkits keep a second, hidden menu bar beside the one shown (LibreOffice's own beside its
// GTK one, which sits deeper): a hidden one serves only when no shown one is found.
std::optional<Element> menuBarIn(const Element& window) {
  std::optional<Element> shown, hidden;
  walkFrame(window, 6, [&](const ElementImpl& e, Node& n) {
    if (n.role != role::menuBar) return Visit::descend;
    Element bar = makeElement(e.bus, e.path, View::object, Context::other);
    Node& x = fetch(e, Part::extents);
    if (hasState(x.states, state::showing) && x.hasExtents && x.width > 0 && x.height > 0) {
      shown = bar;
      return Visit::stop;
    }
    if (!hidden) hidden = bar;
    return Visit::skip;
  });
  return shown ? shown : hidden;
}

std::optional<Element> menuBarOf(const std::string& bus) {
  ElementList windows = windowsOf(bus);
  std::stable_partition(windows.begin(), windows.end(), [](const Element& w) {
    return hasState(fetch(*w.impl, Part::base).states, state::active);
  });
  for (const auto& w : windows) {
    if (auto bar = menuBarIn(w)) return bar;
  }
  // No menu bar: the menu buttons of the window in front, else of the first that has any.
  for (const auto& w : windows) {
    if (!menuButtonsIn(w).empty()) {
      return makeElement(w.impl->bus, w.impl->path, View::buttonBar, Context::other);
    }
  }
  return std::nullopt;
}

std::optional<MenuShortcut> shortcutOf(const ElementImpl& e) {
  Node& n = fetch(e, Part::actions);
  for (const auto& [name, binding] : n.actions) {
    if (auto s = parseMenuItemBinding(binding, n.name)) return s;
  }
  if (e.context == Context::menu) {
    if (auto label = acceleratorLabelOf(e)) return parseKeyBinding(*label);
  }
  return std::nullopt;
}

// The title of the X11 window that shows a top-level object, if it has one.
std::optional<std::string> serverWindowTitle(const ElementImpl& e) {
  const AccessibleApp* app = appForBus(e.bus);
  if (app == nullptr || app->pid <= 0 || !ownsServerWindow(app->pid)) return std::nullopt;
  Node& x = fetch(e, Part::extents);
  auto xid = windowFor(app->pid, x.name, x.x, x.y, x.width, x.height, x.hasExtents);
  if (!xid) return std::nullopt;
  auto title = windowTitle(*xid);
  if (!title || title->empty()) return std::nullopt;
  return title;
}

// What turns a position relative to the window into a screen position: nothing for toolkits that
// give screen positions, or where the window's place is not known (Wayland); for GTK 4 under X11,
// where its top-level window's content begins.
std::pair<double, double> windowOffset(const ElementImpl& e) {
  if (!extentsRelativeToWindow(e.bus)) return {0, 0};
  const AccessibleApp* app = appForBus(e.bus);
  if (app == nullptr || app->pid <= 0 || !ownsServerWindow(app->pid)) return {0, 0};
  ObjectRef top = topLevelOf({e.bus, e.path});
  static std::map<std::string, std::pair<std::uint64_t, std::pair<double, double>>> known;
  std::string key = top.first + '\n' + top.second;
  auto it = known.find(key);
  if (it != known.end() && it->second.first == answersEpoch()) return it->second.second;
  ElementImpl window{top.first, top.second, View::object, Context::other, nullptr};
  Node& w = fetch(window, Part::extents);
  std::pair<double, double> offset{0, 0};
  if (w.hasExtents) {
    if (auto xid = windowFor(app->pid, w.name, w.x, w.y, w.width, w.height, true)) {
      if (auto origin = contentOrigin(*xid, w.width, w.height)) {
        offset = {static_cast<double>(origin->first - w.x),
                  static_cast<double>(origin->second - w.y)};
      }
    }
  }
  known[key] = {answersEpoch(), offset};
  return offset;
}

CopyResult applicationAttribute(const ElementImpl& e, const std::string& name) {
  if (name == "AXRole") return ok(std::string("AXApplication"));
  if (name == "AXTitle") return ok(applicationName(e.bus));
  if (name == "AXWindows" || name == "AXChildren") {
    Node& n = fetch(e, Part::base);
    if (n.baseEnd != CallEnd::ok) return CopyResult{readStatus(n.baseEnd), NoValue{}};
    return ok(windowsOf(e.bus));
  }
  if (name == "AXFocusedWindow" || name == "AXMainWindow") {
    Node& n = fetch(e, Part::base);
    if (n.baseEnd != CallEnd::ok) return CopyResult{readStatus(n.baseEnd), NoValue{}};
    if (auto front = frontWindowOf(e.bus)) return ok(*front);
    return noValue();
  }
  if (name == "AXMenuBar") {
    if (auto bar = menuBarOf(e.bus)) {
      bar->impl->throughMenuBar = true;
      return ok(*bar);
    }
    return noValue();
  }
  if (name == "AXEnabled") return boolean(true);
  return unsupported();
}

CopyResult viewAttribute(const ElementImpl& e, const std::string& name) {
  if (name == "AXRole" || name == "AXSubrole") {
    MacRole r = macRoleOf(e);
    if (name == "AXRole") return ok(r.role);
    return r.subrole.empty() ? unsupported() : ok(r.subrole);
  }
  if (name == "AXChildren") return childrenResult(e);
  if (name == "AXTitle" && e.view == View::appItem) return ok(applicationName(e.bus));
  if (e.view == View::buttonEntry && (name == "AXTitle" || name == "AXEnabled")) {
    Node& n = fetch(e, Part::base);
    if (n.baseEnd != CallEnd::ok) return CopyResult{readStatus(n.baseEnd), NoValue{}};
    if (name == "AXTitle") return ok(trimBlanks(n.name));
    return boolean(hasState(n.states, state::sensitive));
  }
  if (name == "AXEnabled") return boolean(true);
  return unsupported();
}

}  // namespace

CopyResult axCopyAttributeValue(const Element& element, const std::string& name) {
  if (!element) return CopyResult{axerr::illegalArgument, NoValue{}};
  const ElementImpl& e = *element.impl;
  if (isPlainView(e)) return plainAttribute(e, name);
  if (e.bus.empty()) return CopyResult{axerr::invalidElement, NoValue{}};
  if (e.view != View::object) return viewAttribute(e, name);
  if (e.path == ROOT_PATH) return applicationAttribute(e, name);

  Node& n = fetch(e, Part::base);
  if (n.baseEnd != CallEnd::ok) return CopyResult{readStatus(n.baseEnd), NoValue{}};
  if (hasState(n.states, state::defunct)) return CopyResult{axerr::invalidElement, NoValue{}};
  const std::uint32_t r = n.role;

  // A role that could not be read is no role: callers show "unknown", not a made-up one.
  if ((name == "AXRole" || name == "AXSubrole") && !n.roleKnown) return unsupported();
  if (name == "AXRole") return ok(macRoleOf(e).role);
  if (name == "AXSubrole") {
    MacRole m = macRoleOf(e);
    return m.subrole.empty() ? unsupported() : ok(m.subrole);
  }
  if (name == "AXRoleDescription") {
    if (auto rn = roleName(r)) return ok(*rn);
    return unsupported();
  }
  if (name == "AXChildren") return childrenResult(e);
  if (name == "AXTitle") {
    if (isLabelRole(r) || r == role::comboBox) return unsupported();
    // Menus show their titles without the padding some toolkits put around them.
    if (isMenuItemRole(r) || r == role::menu) return ok(trimBlanks(n.name));
    // A window without a name of its own (Qt's) is called what its X11 window is called.
    if (n.name.empty() && n.parent.second == ROOT_PATH) {
      if (auto title = serverWindowTitle(e)) return ok(*title);
    }
    return ok(n.name);
  }
  if (name == "AXDescription") return ok(n.description);
  if (name == "AXHelp") {
    if (n.helpText.empty()) return unsupported();
    return ok(n.helpText);
  }
  if (name == "AXIdentifier") {
    if (!n.accessibleId.empty()) return ok(n.accessibleId);
    // Browsers give the element's id as an object attribute.
    Node& a = fetch(e, Part::attributes);
    auto it = a.attributes.find("id");
    if (it == a.attributes.end() || it->second.empty()) return unsupported();
    return ok(it->second);
  }
  if (name == "AXEnabled") {
    return boolean(hasState(n.states, state::enabled) || hasState(n.states, state::sensitive));
  }
  if (name == "AXFocused") return boolean(hasState(n.states, state::focused));
  if (name == "AXSelected") return boolean(hasState(n.states, state::selected));
  if (name == "AXPosition" || name == "AXSize") {
    Node& x = fetch(e, Part::extents);
    if (!x.hasExtents) return noValue();
    if (name == "AXPosition") {
      auto [dx, dy] = windowOffset(e);
      return ok(Point{static_cast<double>(x.x) + dx, static_cast<double>(x.y) + dy});
    }
    return ok(Size{static_cast<double>(x.width), static_cast<double>(x.height)});
  }
  if (name == "AXValue") {
    if (isLabelRole(r) || r == role::comboBox) return ok(n.name);
    if (hasTextValue(r)) {
      Node& t = fetch(e, Part::text);
      if (t.textEnd != CallEnd::ok) return CopyResult{readStatus(t.textEnd), NoValue{}};
      // Read-only prose stands for its links and images with object replacement characters.
      if (isProseRole(r) && !isEditableText(r, n.states)) return ok(withoutObjectMarks(t.text));
      return ok(t.text);
    }
    if (isValueRole(r)) {
      Node& v = fetch(e, Part::value);
      if (v.valueEnd != CallEnd::ok) return CopyResult{readStatus(v.valueEnd), NoValue{}};
      return ok(Number{v.current, false, false});
    }
    if (r == role::pageTab) return integer(hasState(n.states, state::selected) ? 1 : 0);
    if (isToggleRole(r)) {
      if (hasState(n.states, state::indeterminate)) return integer(2);
      bool on = hasState(n.states, state::checked) ||
                (r == role::toggleButton && hasState(n.states, state::pressed));
      return integer(on ? 1 : 0);
    }
    return unsupported();
  }
  if (name == "AXPlaceholderValue") {
    Node& a = fetch(e, Part::attributes);
    for (const char* key : {"placeholder-text", "placeholder"}) {
      auto it = a.attributes.find(key);
      if (it != a.attributes.end()) return ok(it->second);
    }
    return unsupported();
  }
  if (name == "AXNumberOfCharacters" || name == "AXSelectedTextRange" ||
      name == "AXSelectedText") {
    if (!hasTextValue(r)) return unsupported();
    Node& t = fetch(e, Part::text);
    if (t.textEnd != CallEnd::ok) return CopyResult{readStatus(t.textEnd), NoValue{}};
    std::int64_t count = charLength(t.text);
    if (name == "AXNumberOfCharacters") return integer(count);
    std::int64_t start = t.hasSelection ? std::min(t.selStart, t.selEnd) : t.caret;
    std::int64_t end = t.hasSelection ? std::max(t.selStart, t.selEnd) : t.caret;
    start = std::clamp<std::int64_t>(start, 0, count);
    end = std::clamp<std::int64_t>(end, start, count);
    if (name == "AXSelectedTextRange") return ok(Range{start, end - start});
    std::size_t b0 = byteOffset(t.text, start);
    std::size_t b1 = byteOffset(t.text, end);
    return ok(t.text.substr(b0, b1 - b0));
  }
  if (isWindowRole(r) || n.parent.second == ROOT_PATH) {
    if (name == "AXMain") return boolean(isFrontWindow(e));
    if (name == "AXMinimized") return boolean(hasState(n.states, state::iconified));
    if (name == "AXModal") return boolean(hasState(n.states, state::modal));
  }
  if (name == "AXMenuItemCmdChar" || name == "AXMenuItemCmdModifiers" ||
      name == "AXMenuItemCmdVirtualKey") {
    if (!isMenuItemRole(r)) return unsupported();
    auto s = shortcutOf(e);
    if (!s) return noValue();
    if (name == "AXMenuItemCmdChar") return s->cmdChar ? ok(*s->cmdChar) : noValue();
    if (name == "AXMenuItemCmdVirtualKey") return s->virtualKey ? integer(*s->virtualKey) : noValue();
    return integer(s->modifiers);
  }
  if (name == "AXMenuItemMarkChar") {
    if (!isMenuItemRole(r) && !e.popoverItem) return unsupported();
    // Qt gives its checkable items the plain role and no checkable state: checked is enough.
    if (hasState(n.states, state::checked)) return ok(std::string("\u2713"));
    return noValue();
  }
  if (name == "AXParent") {
    if (n.parent.first.empty() || n.parent.second == NULL_PATH) return noValue();
    return ok(makeElement(n.parent.first, n.parent.second, View::object, Context::unknown));
  }
  return unsupported();
}

}  // namespace uiglean
