// The menu bar of an application: reading its items, picking one out by title, and the bar
// listing of "menus".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "uiglean/ax/platform.h"
#include "uiglean/front/json.h"

namespace uiglean {

struct MenuSummary {
  std::int64_t index = 0;  // position among the menu bar's children; never renumbered
  std::string title;
  std::int64_t count = 0;  // children of the item's menu element, separators included
};

struct MenuBarPayload {
  std::vector<MenuSummary> menus;
};

void writeJson(JsonWriter& w, const MenuSummary& m);
void writeJson(JsonWriter& w, const MenuBarPayload& p);

// The children of the application's AXMenuBar element; empty when there is no menu bar.
ElementList menuBarItems(const Element& app);

// The first element of `items` whose AXTitle equals `title` ignoring case; nothing otherwise.
// Neither side is trimmed.
std::optional<Element> firstTitled(const ElementList& items, const std::string& title);

// The bar listing: every menu bar item after the first with a non-blank title.
MenuBarPayload listMenuBar(const ElementList& items);

}  // namespace uiglean
