#include "uiglean/platform/linux/menubuttons.h"

#include <map>
#include <memory>

#include "uiglean/platform/linux/bus.h"
#include "uiglean/platform/linux/workspace.h"

namespace uiglean::lx {

namespace {

constexpr std::size_t MAX_MENU_BUTTONS = 8;
constexpr std::size_t MAX_POPOVER_ITEMS = 200;
// How long a popover may take to appear or go after its button is pressed.
constexpr int POPOVER_WAIT_MS = 1000;
constexpr unsigned POPOVER_POLL_MS = 50;

bool isButtonRole(std::uint32_t r) { return r == role::pushButton || r == role::toggleButton; }

ElementImpl objectImpl(const ObjectRef& ref, Context context = Context::other,
                       std::shared_ptr<Group> group = nullptr) {
  return ElementImpl{ref.first, ref.second, View::object, context, std::move(group)};
}

// GTK 3 keeps a window's popovers among the window's own children, shown or not, and the button
// that opens one says nothing of it: the popover names the button by its popup-for relation. Its
// items are buttons, check boxes and radio buttons, readable and pressable while it is closed.
constexpr std::uint32_t RELATION_POPUP_FOR = 15;

bool isPopoverItemRole(std::uint32_t r) {
  return isMenuItemRole(r) || r == role::pushButton || r == role::checkBox ||
         r == role::radioButton || r == role::toggleButton;
}

// The objects a GTK 3 popover says it pops up for, read for each of `candidates` in one burst.
std::map<ObjectRef, ObjectRef> popupForTargets(const std::vector<ObjectRef>& candidates) {
  std::map<ObjectRef, ObjectRef> byButton;
  Batch batch;
  for (const auto& c : candidates) {
    batch.call(c.first, c.second, IFACE_ACCESSIBLE, "GetRelationSet", nullptr,
               [&byButton, c](const Reply& r) {
                 if (r.end != CallEnd::ok) return;
                 sd_bus_message* m = r.message;
                 if (sd_bus_message_enter_container(m, 'a', "(ua(so))") <= 0) return;
                 while (sd_bus_message_enter_container(m, 'r', "ua(so)") > 0) {
                   std::uint32_t type = 0;
                   std::vector<ObjectRef> targets;
                   if (sd_bus_message_read(m, "u", &type) <= 0 || !readObjectRefs(m, targets)) {
                     return;
                   }
                   sd_bus_message_exit_container(m);
                   if (type != RELATION_POPUP_FOR) continue;
                   for (const auto& t : targets) {
                     if (t.first == c.first && !t.second.empty() && t.second != NULL_PATH) {
                       byButton.emplace(t, c);
                     }
                   }
                 }
               });
  }
  batch.run();
  return byButton;
}

// The GTK 3 popovers of a top-level window, by the button each opens, learnt once per epoch.
const std::map<ObjectRef, ObjectRef>& gtk3Popovers(const ObjectRef& window) {
  static std::map<ObjectRef, std::pair<std::uint64_t, std::map<ObjectRef, ObjectRef>>> known;
  // A long-lived process sees windows come and go: what earlier epochs learnt is dropped.
  std::erase_if(known, [](const auto& entry) { return entry.second.first != answersEpoch(); });
  auto& slot = known[window];
  if (slot.first == answersEpoch() && slot.first != 0) return slot.second;
  slot = {answersEpoch(), {}};
  Node& c = fetch(objectImpl(window), Part::children);
  std::vector<ObjectRef> kids = c.children;
  if (kids.size() > PREFETCH_LIMIT) kids.resize(PREFETCH_LIMIT);
  if (kids.empty()) return slot.second;
  auto group = std::make_shared<Group>(Group{kids});
  fetch(objectImpl(kids[0], Context::other, group), Part::base);
  std::vector<ObjectRef> panels;
  for (const auto& k : kids) {
    Node& n = nodeOf(k);
    if (n.baseEnd == CallEnd::ok && n.role == role::panel && n.childCount > 0) panels.push_back(k);
  }
  if (!panels.empty()) slot.second = popupForTargets(panels);
  return slot.second;
}

// The GTK 3 popover of a button, if it has one.
std::optional<ObjectRef> gtk3PopoverOf(const ElementImpl& button) {
  if (!isGtk3(button.bus)) return std::nullopt;
  const auto& popovers = gtk3Popovers(topLevelOf({button.bus, button.path}));
  auto it = popovers.find({button.bus, button.path});
  if (it == popovers.end()) return std::nullopt;
  return it->second;
}

// An entry of GTK 4's own menu bar (GtkPopoverMenuBar): a menu item without actions in a menu
// bar, opened and closed by a click on it, holding its popover (role menu) only while open.
bool isPopoverBarEntry(const ElementImpl& e) {
  if (!isGtk4OrLater(e.bus)) return false;
  Node& n = fetch(e, Part::base);
  if (n.baseEnd != CallEnd::ok || n.role != role::menuItem || n.parent.first.empty()) return false;
  if (fetch(objectImpl(n.parent), Part::base).role != role::menuBar) return false;
  return fetch(e, Part::actions).actions.empty();
}

// The button inside a menu button that acts (opens and closes the popover), if the object is a
// menu button: in GTK 4, a button without actions of its own whose first child is a button of the
// same name that has one. Nothing else is taken for one, since reading a menu presses it.
std::optional<ObjectRef> innerButton(const ElementImpl& outer) {
  if (isGtk3(outer.bus)) {
    if (!gtk3PopoverOf(outer)) return std::nullopt;
    return ObjectRef{outer.bus, outer.path};
  }
  if (!isGtk4OrLater(outer.bus)) return std::nullopt;
  Node& n = fetch(outer, Part::base);
  if (n.baseEnd != CallEnd::ok || !isButtonRole(n.role) || n.childCount < 1 || n.name.empty()) {
    return std::nullopt;
  }
  if (!fetch(outer, Part::actions).actions.empty()) return std::nullopt;
  Node& c = fetch(outer, Part::children);
  if (c.children.empty()) return std::nullopt;
  auto group = std::make_shared<Group>(Group{c.children});
  ElementImpl first = objectImpl(c.children[0], Context::other, group);
  Node& f = fetch(first, Part::base);
  if (f.baseEnd != CallEnd::ok || !isButtonRole(f.role) || f.name != n.name) return std::nullopt;
  if (fetch(first, Part::actions).actions.empty()) return std::nullopt;
  return c.children[0];
}

// The popover the button holds while it is open.
std::optional<ObjectRef> openPopover(const ElementImpl& outer) {
  if (auto popover = gtk3PopoverOf(outer)) {
    if (hasState(fetch(objectImpl(*popover), Part::base).states, state::showing)) return popover;
    return std::nullopt;
  }
  Node& c = fetch(outer, Part::children);
  if (c.children.size() < 2) return std::nullopt;
  auto group = std::make_shared<Group>(Group{c.children});
  fetch(objectImpl(c.children[0], Context::other, group), Part::base);
  for (std::size_t i = 1; i < c.children.size(); ++i) {
    Node& k = nodeOf(c.children[i]);
    if (k.baseEnd == CallEnd::ok && (k.role == role::menu || k.role == role::popupMenu)) {
      return c.children[i];
    }
  }
  return std::nullopt;
}

// GTK 4 keeps each submenu of a popover as a page of a stack beside the main one, all of them in
// the tree whether shown or not. The stack's children list gives each page's content without the
// page object between them (which GetChildAtIndex and the content's parent name): a child whose
// parent is not the object that listed it is the content of a page.
bool isPageContent(const Node& child, const ObjectRef& listedBy) {
  return !child.parent.second.empty() && child.parent != listedBy;
}

// What a reading of a popover found: its items in order, and the stacks of pages met on the way.
struct Collected {
  std::vector<ObjectRef> items;
  std::vector<ObjectRef> stacks;
};

// The menu items below a popover, in order, without going into the items themselves (GTK 3: the
// visible buttons, check boxes and radio buttons), nor into the pages of a stack after its first
// (a GTK 4 submenu is listed under the item that opens it).
void collectItems(const ObjectRef& at, int depth, Collected& into) {
  bool gtk3 = isGtk3(at.first);
  if (depth > 20 || into.items.size() >= MAX_POPOVER_ITEMS || pastRunDeadline()) return;
  Node& c = fetch(objectImpl(at), Part::children);
  if (c.childrenEnd != CallEnd::ok || c.children.empty()) return;
  std::vector<ObjectRef> kids = c.children;
  if (kids.size() > PREFETCH_LIMIT) kids.resize(PREFETCH_LIMIT);
  auto group = std::make_shared<Group>(Group{kids});
  fetch(objectImpl(kids[0], Context::other, group), Part::base);
  bool pageSeen = false;
  for (const auto& k : kids) {
    Node& n = nodeOf(k);
    if (n.baseEnd != CallEnd::ok) continue;
    if (gtk3 && !hasState(n.states, state::visible)) continue;
    if (!gtk3 && isPageContent(n, at)) {
      // The first page is the main one; the others are submenus, listed under their items.
      if (pageSeen) continue;
      pageSeen = true;
      into.stacks.push_back(at);
    }
    if (gtk3 ? isPopoverItemRole(n.role) : isMenuItemRole(n.role)) {
      into.items.push_back(k);
      if (into.items.size() >= MAX_POPOVER_ITEMS) return;
    } else if (n.childCount > 0) {
      collectItems(k, depth + 1, into);
      if (into.items.size() >= MAX_POPOVER_ITEMS) return;
    }
  }
}

// The submenu pages of a stack by their titles: a page after the first begins with an item that
// carries its title (and leads back), which is also the title of the item that opens it.
std::map<std::string, ObjectRef> submenuPages(const ObjectRef& stack) {
  std::map<std::string, ObjectRef> pages;
  Node& c = fetch(objectImpl(stack), Part::children);
  std::vector<ObjectRef> kids = c.children;
  if (kids.size() > PREFETCH_LIMIT) kids.resize(PREFETCH_LIMIT);
  if (kids.empty()) return pages;
  auto group = std::make_shared<Group>(Group{kids});
  fetch(objectImpl(kids[0], Context::other, group), Part::base);
  bool first = true;
  for (const auto& k : kids) {
    if (!isPageContent(nodeOf(k), stack)) continue;
    if (first) {
      first = false;
      continue;
    }
    Collected page;
    collectItems(k, 0, page);
    if (page.items.empty()) continue;
    const std::string& title = fetch(objectImpl(page.items[0]), Part::base).name;
    if (!title.empty()) pages.emplace(title, k);
  }
  return pages;
}

// The items as elements of a menu, each item that opens a submenu page linked to it.
ElementList asPopoverItems(const Collected& found) {
  std::map<std::string, ObjectRef> pages;
  for (const auto& stack : found.stacks) pages.merge(submenuPages(stack));
  ElementList out;
  auto group = std::make_shared<Group>(Group{found.items});
  for (const auto& ref : found.items) {
    out.push_back(makeElement(ref.first, ref.second, View::object, Context::menu, group));
    ElementImpl& item = *out.back().impl;
    item.popoverItem = true;
    auto page = pages.find(fetch(item, Part::base).name);
    if (page != pages.end() && page->second.first == ref.first) item.popoverPage = page->second.second;
  }
  return out;
}

}  // namespace

std::vector<ObjectRef> menuButtonsIn(const Element& window) {
  std::vector<ObjectRef> found;
  bool gtk3 = isGtk3(window.impl->bus);
  if (gtk3 && gtk3Popovers({window.impl->bus, window.impl->path}).empty()) return found;
  walkFrame(window, 8, [&](const ElementImpl& e, Node& n) {
    if (!isButtonRole(n.role) || !innerButton(e)) return Visit::descend;
    if (gtk3) {
      // A GTK 3 window keeps popovers of buttons it does not show, and popovers that are not
      // menus (a search list): only a shown button whose popover has items is a menu button.
      Collected popoverItems;
      if (auto popover = gtk3PopoverOf(e)) collectItems(*popover, 0, popoverItems);
      if (!hasState(n.states, state::showing) || popoverItems.items.empty()) return Visit::skip;
    }
    found.emplace_back(e.bus, e.path);
    return found.size() >= MAX_MENU_BUTTONS ? Visit::stop : Visit::skip;
  });
  return found;
}

bool menuButtonOpen(const ElementImpl& button) {
  Node& n = fetch(button, Part::base);
  if (n.baseEnd != CallEnd::ok) return false;
  return hasState(n.states, state::expanded) || openPopover(button).has_value();
}

std::int32_t setMenuButtonOpen(const ElementImpl& button, bool open) {
  if (menuButtonOpen(button) == open) return axerr::success;
  if (isPopoverBarEntry(button)) {
    // No action opens it: a click on it does, and closes it again.
    if (!pointerClick(button)) return axerr::cannotComplete;
  } else {
    auto inner = innerButton(button);
    if (!inner) return axerr::actionUnsupported;
    std::int32_t status =
        axPerformAction(makeElement(inner->first, inner->second, View::object, Context::other),
                        "AXPress");
    if (status != axerr::success) return status;
  }
  for (int waited = 0; waited < POPOVER_WAIT_MS && !pastRunDeadline();
       waited += POPOVER_POLL_MS) {
    if (menuButtonOpen(button) == open) return axerr::success;
    sleepMicros(POPOVER_POLL_MS * 1000U);
  }
  if (menuButtonOpen(button) == open) return axerr::success;
  return axerr::cannotComplete;
}

ElementList menuButtonItems(const ElementImpl& button) {
  Collected found;
  if (auto popover = gtk3PopoverOf(button)) {
    // Read and pressed where they are, open or not.
    collectItems(*popover, 0, found);
    return asPopoverItems(found);
  }
  bool wasOpen = menuButtonOpen(button);
  if (!wasOpen && setMenuButtonOpen(button, true) != axerr::success) return {};
  // A popover that has just opened may not hold its items yet.
  for (int waited = 0; !pastRunDeadline(); waited += POPOVER_POLL_MS) {
    if (auto popover = openPopover(button)) collectItems(*popover, 0, found);
    if (!found.items.empty() || wasOpen || waited >= POPOVER_WAIT_MS) break;
    found = {};
    sleepMicros(POPOVER_POLL_MS * 1000U);
  }
  ElementList items = asPopoverItems(found);
  if (!wasOpen) setMenuButtonOpen(button, false);
  return items;
}

ElementList popoverPageItems(const ElementImpl& page) {
  Collected found;
  collectItems({page.bus, page.path}, 0, found);
  // The first item is the page's title, which leads back.
  if (!found.items.empty()) found.items.erase(found.items.begin());
  // The stack: the parent of the page object that holds this content.
  ObjectRef pageObject = fetch(page, Part::base).parent;
  if (!pageObject.second.empty()) {
    ObjectRef stack = fetch(objectImpl(pageObject), Part::base).parent;
    if (!stack.second.empty()) found.stacks.push_back(stack);
  }
  return asPopoverItems(found);
}

bool popoverBarEntry(const ElementImpl& e) { return isPopoverBarEntry(e); }

std::optional<std::string> acceleratorLabelOf(const ElementImpl& item) {
  Node& n = fetch(item, Part::base);
  if (n.baseEnd != CallEnd::ok || !isMenuItemRole(n.role) || n.childCount < 2) {
    return std::nullopt;
  }
  Node& c = fetch(item, Part::children);
  if (c.children.size() < 2 || c.children.size() > 8) return std::nullopt;
  auto group = std::make_shared<Group>(Group{c.children});
  fetch(objectImpl(c.children[0], Context::other, group), Part::base);
  // The title comes first; the accelerator is the last label that is not the title.
  for (auto it = c.children.rbegin(); it != c.children.rend(); ++it) {
    Node& k = nodeOf(*it);
    if (k.baseEnd != CallEnd::ok || k.role != role::label) continue;
    if (k.name.empty() || k.name == n.name) return std::nullopt;
    return k.name;
  }
  return std::nullopt;
}

}  // namespace uiglean::lx
