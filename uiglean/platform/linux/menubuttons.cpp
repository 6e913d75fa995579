#include "uiglean/platform/linux/menubuttons.h"

#include <ctime>
#include <deque>
#include <memory>

#include "uiglean/platform/linux/bus.h"
#include "uiglean/platform/linux/workspace.h"

namespace uiglean::lx {

namespace {

constexpr std::size_t MAX_MENU_BUTTONS = 8;
constexpr std::size_t MAX_POPOVER_ITEMS = 200;
// How long a popover may take to appear or go after its button is pressed.
constexpr int POPOVER_WAIT_MS = 1000;
constexpr int POPOVER_POLL_MS = 50;

void sleepFor(int ms) {
  struct timespec ts{ms / 1000, (ms % 1000) * 1'000'000L};
  nanosleep(&ts, nullptr);
}

bool isButtonRole(std::uint32_t r) { return r == role::pushButton || r == role::toggleButton; }

ElementImpl objectImpl(const ObjectRef& ref, Context context = Context::other,
                       std::shared_ptr<Group> group = nullptr) {
  return ElementImpl{ref.first, ref.second, View::object, context, std::move(group)};
}

// The button inside a menu button that acts (opens and closes the popover), if the object is a
// menu button: in GTK 4, a button without actions of its own whose first child is a button of the
// same name that has one. Nothing else is taken for one, since reading a menu presses it.
std::optional<ObjectRef> innerButton(const ElementImpl& outer) {
  if (!extentsRelativeToWindow(outer.bus)) return std::nullopt;  // GTK 4 and later
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

std::int32_t press(const ObjectRef& button) {
  std::int32_t status = axerr::failure;
  callNow(button.first, button.second, IFACE_ACTION, "DoAction",
          [](sd_bus_message* m) { return sd_bus_message_append(m, "i", 0); },
          [&](const Reply& r) {
            if (r.end != CallEnd::ok) {
              status = readStatus(r.end);
              return;
            }
            int b = 0;
            if (sd_bus_message_read(r.message, "b", &b) > 0 && b) status = axerr::success;
          });
  forgetAnswers();
  return status;
}

}  // namespace

std::vector<ObjectRef> menuButtonsIn(const Element& window) {
  std::vector<ObjectRef> found;
  std::deque<std::pair<ObjectRef, int>> queue{{{window.impl->bus, window.impl->path}, 0}};
  int visited = 0;
  while (!queue.empty() && visited < 600 && found.size() < MAX_MENU_BUTTONS &&
         !pastRunDeadline()) {
    auto [ref, depth] = queue.front();
    queue.pop_front();
    ++visited;
    ElementImpl e = objectImpl(ref);
    Node& n = fetch(e, Part::base);
    if (n.baseEnd != CallEnd::ok) continue;
    if (isButtonRole(n.role) && innerButton(e)) {
      found.push_back(ref);
      continue;
    }
    if (depth >= 8 || n.childCount <= 0) continue;
    // Header bars sit near the top of a window, never inside these.
    if (n.role == role::menu || n.role == role::popupMenu || isTextRole(n.role) ||
        n.role == role::table || n.role == role::treeTable || n.role == role::tree ||
        n.role == role::list || n.role == role::listBox || n.role == role::documentWeb ||
        n.role == role::documentFrame) {
      continue;
    }
    Node& c = fetch(e, Part::children);
    std::vector<ObjectRef> kids = c.children;
    if (kids.size() > PREFETCH_LIMIT) kids.resize(PREFETCH_LIMIT);
    if (kids.empty()) continue;
    auto group = std::make_shared<Group>(Group{kids});
    fetch(objectImpl(kids[0], Context::other, group), Part::base);
    for (const auto& k : kids) queue.emplace_back(k, depth + 1);
  }
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
  std::int32_t status = press(*inner);
  if (status != axerr::success) return status;
  for (int waited = 0; waited < POPOVER_WAIT_MS && !pastRunDeadline();
       waited += POPOVER_POLL_MS) {
    sleepFor(POPOVER_POLL_MS);
    forgetAnswers();
    if (menuButtonOpen(button) == open) return axerr::success;
  }
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
