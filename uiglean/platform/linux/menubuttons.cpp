#include "uiglean/platform/linux/menubuttons.h"

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

// The button inside a menu button that acts (opens and closes the popover), if the object is a
// menu button: in GTK 4, a button without actions of its own whose first child is a button of the
// same name that has one. Nothing else is taken for one, since reading a menu presses it.
std::optional<ObjectRef> innerButton(const ElementImpl& outer) {
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

// The menu items below a popover, in order, without going into the items themselves.
void collectItems(const ObjectRef& at, int depth, std::vector<ObjectRef>& into) {
  if (depth > 20 || into.size() >= MAX_POPOVER_ITEMS || pastRunDeadline()) return;
  Node& c = fetch(objectImpl(at), Part::children);
  if (c.childrenEnd != CallEnd::ok || c.children.empty()) return;
  std::vector<ObjectRef> kids = c.children;
  if (kids.size() > PREFETCH_LIMIT) kids.resize(PREFETCH_LIMIT);
  auto group = std::make_shared<Group>(Group{kids});
  fetch(objectImpl(kids[0], Context::other, group), Part::base);
  for (const auto& k : kids) {
    Node& n = nodeOf(k);
    if (n.baseEnd != CallEnd::ok) continue;
    if (isMenuItemRole(n.role)) {
      into.push_back(k);
      if (into.size() >= MAX_POPOVER_ITEMS) return;
    } else if (n.childCount > 0) {
      collectItems(k, depth + 1, into);
    }
  }
}

}  // namespace

std::vector<ObjectRef> menuButtonsIn(const Element& window) {
  std::vector<ObjectRef> found;
  walkFrame(window, 8, [&](const ElementImpl& e, Node& n) {
    if (!isButtonRole(n.role) || !innerButton(e)) return Visit::descend;
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
  auto inner = innerButton(button);
  if (!inner) return axerr::actionUnsupported;
  std::int32_t status =
      axPerformAction(makeElement(inner->first, inner->second, View::object, Context::other),
                      "AXPress");
  if (status != axerr::success) return status;
  for (int waited = 0; waited < POPOVER_WAIT_MS && !pastRunDeadline();
       waited += POPOVER_POLL_MS) {
    if (menuButtonOpen(button) == open) return axerr::success;
    sleepMicros(POPOVER_POLL_MS * 1000U);
  }
  if (menuButtonOpen(button) == open) return axerr::success;
  return axerr::cannotComplete;
}

ElementList menuButtonItems(const ElementImpl& button) {
  bool wasOpen = menuButtonOpen(button);
  if (!wasOpen && setMenuButtonOpen(button, true) != axerr::success) return {};
  std::vector<ObjectRef> items;
  if (auto popover = openPopover(button)) collectItems(*popover, 0, items);
  if (!wasOpen) setMenuButtonOpen(button, false);
  ElementList out;
  auto group = std::make_shared<Group>(Group{items});
  for (const auto& ref : items) {
    out.push_back(makeElement(ref.first, ref.second, View::object, Context::menu, group));
    out.back().impl->popoverItem = true;
  }
  return out;
}

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
