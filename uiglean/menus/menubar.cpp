#include "uiglean/menus/menubar.h"

#include "uiglean/ax/readers.h"
#include "uiglean/front/casefold.h"
#include "uiglean/front/commands.h"
#include "uiglean/front/globals.h"
#include "uiglean/front/output.h"
#include "uiglean/menus/menuitems.h"

namespace uiglean {

void writeJson(JsonWriter& w, const MenuSummary& m) {
  w.beginObject();
  field(w, "index", m.index);
  field(w, "title", m.title);
  field(w, "count", m.count);
  w.endObject();
}

void writeJson(JsonWriter& w, const MenuBarPayload& p) {
  w.beginObject();
  w.key("menus");
  w.beginArray();
  for (const auto& m : p.menus) writeJson(w, m);
  w.endArray();
  w.endObject();
}

ElementList menuBarItems(const Element& app) {
  auto bar = attrElement(app, "AXMenuBar");
  if (!bar) return {};
  return children(*bar);
}

std::optional<Element> firstTitled(const ElementList& items, const std::string& title) {
  for (const auto& item : items) {
    auto t = attrString(item, "AXTitle");
    if (t && equalsIgnoringCase(*t, title)) return item;
  }
  return std::nullopt;
}

MenuBarPayload listMenuBar(const ElementList& items) {
  MenuBarPayload payload;
  // Position 0 is the application's own menu; it is never listed.
  for (std::size_t i = 1; i < items.size(); ++i) {
    auto title = attrString(items[i], "AXTitle");
    if (!title || isBlank(*title)) continue;
    ElementList kids = children(items[i]);
    std::int64_t count = kids.empty() ? 0 : static_cast<std::int64_t>(children(kids[0]).size());
    payload.menus.push_back(MenuSummary{static_cast<std::int64_t>(i), *title, count});
  }
  return payload;
}

void cmdMenus() {
  FrontApp front = requireFrontmostApp();
  axSetMessagingTimeout(front.element, 2.0f);
  ElementList items = menuBarItems(front.element);
  if (args.size() >= 2 && nonEmpty(args[1])) {
    emit(listMenu(items, args[1]));
  }
  emit(listMenuBar(items));
}

}  // namespace uiglean
