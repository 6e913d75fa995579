#include "uiglean/menus/menuitems.h"

#include "uiglean/ax/readers.h"
#include "uiglean/front/casefold.h"
#include "uiglean/front/output.h"
#include "uiglean/menus/menubar.h"

namespace uiglean {

namespace {

// A key code or modifier mask as an integer: exactly when the platform holds it as one (a double
// keeps only 53 bits, and the mask's low bits are the modifiers), else the real truncated.
std::int64_t wholeNumber(const Number& n) { return n.integer ? *n.integer : integerValue(n.value); }

}  // namespace

void writeJson(JsonWriter& w, const MenuItemOut& item) {
  w.beginObject();
  field(w, "path", item.path);
  field(w, "title", item.title);
  field(w, "shortcut", item.shortcut);
  field(w, "enabled", item.enabled);
  field(w, "mark", item.mark);
  field(w, "submenu", item.submenu);
  w.endObject();
}

void writeJson(JsonWriter& w, const MenuPayload& p) {
  w.beginObject();
  field(w, "menu", p.menu);
  w.key("items");
  w.beginArray();
  for (const auto& item : p.items) writeJson(w, item);
  w.endArray();
  w.endObject();
}

std::optional<Element> openedMenu(const Element& menuBarItem) {
  ElementList kids = children(menuBarItem);
  if (kids.empty()) return std::nullopt;
  if (!children(kids[0]).empty()) return kids[0];

  axPerformAction(menuBarItem, "AXPress");
  sleepMicros(MENU_OPEN_WAIT_MICROS);
  kids = children(menuBarItem);
  if (kids.empty()) {
    axPerformAction(menuBarItem, "AXCancel");
    return std::nullopt;
  }
  if (!children(kids[0]).empty()) return kids[0];
  axPerformAction(menuBarItem, "AXCancel");
  return kids[0];
}

void collectMenu(const Element& menu, const std::vector<std::string>& path, std::int64_t depth,
                 std::vector<MenuItemOut>& into) {
  if (depth > MAX_MENU_DEPTH || into.size() >= MAX_MENU_RECORDS) return;
  for (const Element& c : children(menu)) {
    if (attrString(c, "AXRole").value_or("") != "AXMenuItem") continue;
    auto title = attrString(c, "AXTitle");
    if (!title || isBlank(*title)) continue;

    ElementList kids = children(c);
    bool hasSubmenu = !kids.empty() && !children(kids[0]).empty();
    std::optional<bool> enabled;
    if (boolAttr(c, "AXEnabled") == false) enabled = false;

    MenuItemOut item;
    item.path = path;
    item.path.push_back(*title);
    item.title = *title;
    item.shortcut = shortcutString(c);
    item.enabled = enabled;
    item.mark = nonEmpty(attrString(c, "AXMenuItemMarkChar"));
    if (hasSubmenu) item.submenu = true;
    std::vector<std::string> itemPath = item.path;
    into.push_back(std::move(item));

    if (hasSubmenu) collectMenu(kids[0], itemPath, depth + 1, into);
  }
}

std::optional<std::string> shortcutString(const Element& item) {
  auto character = attrString(item, "AXMenuItemCmdChar");
  auto virtualKey = attrNumber(item, "AXMenuItemCmdVirtualKey");
  std::string key;
  if (character && !isBlank(*character)) {
    key = lowercaseFull(*character);
  } else if (virtualKey) {
    key = virtualKeyName(wholeNumber(*virtualKey));
  } else {
    return std::nullopt;
  }
  auto modifierNumber = attrNumber(item, "AXMenuItemCmdModifiers");
  std::int64_t modifiers = modifierNumber ? wholeNumber(*modifierNumber) : 0;

  std::string text;
  auto add = [&](const std::string& word) {
    if (!text.empty()) text += '+';
    text += word;
  };
  if ((modifiers & 8) == 0) add("cmd");
  if ((modifiers & 4) != 0) add("ctrl");
  if ((modifiers & 2) != 0) add("alt");
  if ((modifiers & 1) != 0) add("shift");
  add(key);
  return text;
}

std::string virtualKeyName(std::int64_t code) {
  switch (code) {
    case 36:
      return "enter";
    case 48:
      return "tab";
    case 49:
      return "space";
    case 51:
      return "backspace";
    case 53:
      return "escape";
    case 96:
      return "f5";
    case 97:
      return "f6";
    case 98:
      return "f7";
    case 99:
      return "f3";
    case 100:
      return "f8";
    case 101:
      return "f9";
    case 103:
      return "f11";
    case 109:
      return "f10";
    case 111:
      return "f12";
    case 115:
      return "home";
    case 116:
      return "pageup";
    case 117:
      return "delete";
    case 118:
      return "f4";
    case 119:
      return "end";
    case 120:
      return "f2";
    case 121:
      return "pagedown";
    case 122:
      return "f1";
    case 123:
      return "left";
    case 124:
      return "right";
    case 125:
      return "down";
    case 126:
      return "up";
    default:
      return "vk" + std::to_string(code);
  }
}

MenuPayload listMenu(const ElementList& items, const std::string& title) {
  auto barItem = firstTitled(items, title);
  if (!barItem) fail("no menu titled \"" + title + "\"", 5);
  MenuPayload payload{title, {}};
  // A menu that had to be opened to be read is closed again: left open, it would hold the
  // application's input and hide its menu bar from the next run.
  ElementList before = children(*barItem);
  bool wasPopulated = !before.empty() && !children(before[0]).empty();
  if (auto menu = openedMenu(*barItem)) {
    collectMenu(*menu, {title}, 1, payload.items);
    if (!wasPopulated && !children(*menu).empty()) axPerformAction(*barItem, "AXCancel");
  }
  return payload;
}

}  // namespace uiglean
