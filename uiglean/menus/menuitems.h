// The items of one menu: opening it, walking it down to the third level, and writing shortcuts
// as text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "uiglean/ax/platform.h"
#include "uiglean/front/json.h"

namespace uiglean {

// Deepest menu level that collectMenu walks (1 is the menu itself).
inline constexpr std::int64_t MAX_MENU_DEPTH = 3;
// collectMenu enters no further menu once this many records exist.
inline constexpr std::size_t MAX_MENU_RECORDS = 60;
// Pause after pressing a menu or menu item open.
inline constexpr std::uint32_t MENU_OPEN_WAIT_MICROS = 200000;

struct MenuItemOut {
  std::vector<std::string> path;  // the typed menu title, the submenu titles, the item's title
  std::string title;
  std::optional<std::string> shortcut;
  std::optional<bool> enabled;  // only ever false
  std::optional<std::string> mark;
  std::optional<bool> submenu;  // only ever true
};

struct MenuPayload {
  std::string menu;  // the title as typed
  std::vector<MenuItemOut> items;
};

void writeJson(JsonWriter& w, const MenuItemOut& item);
void writeJson(JsonWriter& w, const MenuPayload& p);

// The menu element under a menu bar item, pressing the item open (and waiting) when its menu is
// still empty. A menu that stays empty is cancelled again; a populated one is left open.
std::optional<Element> openedMenu(const Element& menuBarItem);

// Appends the titled AXMenuItem entries of `menu` and, depth first, of its submenus.
void collectMenu(const Element& menu, const std::vector<std::string>& path, std::int64_t depth,
                 std::vector<MenuItemOut>& into);

// The item's keyboard shortcut as text such as "cmd+shift+s", or nothing.
std::optional<std::string> shortcutString(const Element& item);

// The name of a virtual key code, or "vk" and the code.
std::string virtualKeyName(std::int64_t code);

// Fails with "no menu titled" (status 5) when no menu bar item has the title.
MenuPayload listMenu(const ElementList& menuBarItems, const std::string& title);

}  // namespace uiglean
