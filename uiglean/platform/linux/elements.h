// Elements and attributes: what an element handle is on this desktop, what the layer knows of
// each accessible object, and how it learns it.
//
// An element is an accessible object (its application's bus name and its object path) seen in
// one of a few ways: as itself, or as one of the menu shapes a macOS caller expects that the
// toolkits do not have (the menu that a menu-bar entry opens, the application's own menu at the
// start of the menu bar).
//
// What an object says is fetched in bursts of asynchronous calls: siblings that came in one
// children list are asked together, one kind of question at a time, and the answers are kept
// until anything could have changed them (an action, a write, a sleep, a turn of the run loop),
// so one snapshot costs a few round trips per level instead of one per attribute.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "uiglean/ax/platform.h"
#include "uiglean/platform/linux/bus.h"
#include "uiglean/platform/linux/roles.h"
#include "uiglean/platform/linux/strings.h"

namespace uiglean::lx {

using ObjectRef = std::pair<std::string, std::string>;  // bus name, object path

// Siblings asked together: the snapshot, ref resolution and menus never read more children of one
// object than this.
inline constexpr std::size_t PREFETCH_LIMIT = 96;

// Objects whose answers are fetched together.
struct Group {
  std::vector<ObjectRef> members;
};

enum class View : std::uint8_t {
  object,   // the object itself
  menuOf,   // the menu that a menu-bar entry or submenu item opens (the object's children)
  appItem,  // the application's entry at the start of the menu bar
  appMenu,  // its (empty) menu
  // An application without a menu bar whose window has menu buttons (menubuttons.h): the window
  // seen as the menu bar, each menu button as an entry of it, and the button's popover as the
  // entry's menu.
  buttonBar,
  buttonEntry,
  buttonMenu,
  // A submenu of a GTK 4 popover: a page of the popover's stack, seen as the menu of the item
  // that opens it.
  popoverPage,
  // An application with X11 windows and no accessibility object, and one of its windows
  // (plainwindows.h).
  plainApp,
  plainWindow,
};

}  // namespace uiglean::lx

namespace uiglean {

struct ElementImpl {
  std::string bus;
  std::string path;
  lx::View view = lx::View::object;
  lx::Context context = lx::Context::unknown;
  std::shared_ptr<lx::Group> group;
  // Reached through the application's AXMenuBar (menus are read there whether open or not),
  // not through a window's tree, where a closed menu lists no items.
  bool throughMenuBar = false;
  // An item of a menu button's popover (menubuttons.h): its children are its own check mark and
  // labels, never a submenu, so it shows none.
  bool popoverItem = false;
  // For such an item that opens a submenu (GTK 4): the object path of the stack page holding it.
  std::string popoverPage{};
};

}  // namespace uiglean

namespace uiglean::lx {

// What one object has said in the current epoch. Each part is fetched at most once per epoch.
struct Node {
  std::uint64_t epoch = 0;
  // Taken from the answers kept between runs (keptanswers.h), not asked in this epoch: the role
  // and states, the actions.
  bool baseFromKept = false;
  bool actionsFromKept = false;
  std::int32_t childCountHint = -1;  // the kept child count of an earlier run
  bool childrenAhead = false;        // children asked in the base burst (elements.cpp)

  bool baseLoaded = false;
  // ok when any of the base questions was answered (the object shows what it answered), gone
  // when any said the object is gone, else how the first one ended.
  CallEnd baseEnd = CallEnd::failed;
  bool baseAnswered = false;
  bool roleKnown = false;  // GetRole answered with a role number
  std::uint32_t role = 0;
  std::uint64_t states = 0;
  bool statesKnown = false;  // GetState answered with a state set
  std::string name, description, accessibleId, helpText;
  std::int32_t childCount = -1;
  ObjectRef parent;

  bool extentsLoaded = false;
  bool hasExtents = false;
  std::int32_t x = 0, y = 0, width = 0, height = 0;

  bool actionsLoaded = false;
  CallEnd actionsEnd = CallEnd::unsupported;
  std::vector<std::pair<std::string, std::string>> actions;  // name, key binding

  bool childrenLoaded = false;
  CallEnd childrenEnd = CallEnd::failed;
  std::vector<ObjectRef> children;

  bool textLoaded = false;
  CallEnd textEnd = CallEnd::unsupported;
  std::string text;
  std::int32_t characterCount = 0, caret = 0, selStart = 0, selEnd = 0;
  bool hasSelection = false;

  bool valueLoaded = false;
  // ok only when the current value was read as a finite number.
  CallEnd valueEnd = CallEnd::unsupported;
  double current = 0, minimum = 0, maximum = 0, increment = 0;
  bool hasMinimum = false, hasMaximum = false;  // read, and finite

  bool attributesLoaded = false;
  std::map<std::string, std::string> attributes;
};

// Everything fetched so far is forgotten (answers older than an action or a wait).
void forgetAnswers();
// Between two runs of a long-lived process: the nodes of earlier runs are dropped (what is kept
// across runs lives in keptanswers.h, bounded).
void forgetNodes();
// The current epoch: what was learnt in it is still good (for caches of other kinds).
std::uint64_t answersEpoch();

// The node of an object in the current epoch (empty when nothing was fetched yet).
Node& nodeOf(const ObjectRef& ref);

enum class Part { base, extents, actions, children, text, value, attributes };

// Makes sure `part` of the element's object is fetched, together with its group's. Returns the
// element's node.
Node& fetch(const ElementImpl& e, Part part);

// Handles.
Element makeElement(const std::string& bus, const std::string& path, View view, Context context,
                    std::shared_ptr<Group> group = nullptr);
Element applicationElement(const std::string& bus);

// Results of attribute reads.
inline CopyResult ok(Value v) { return CopyResult{axerr::success, std::move(v)}; }
inline CopyResult unsupported() { return CopyResult{axerr::attributeUnsupported, NoValue{}}; }
inline CopyResult noValue() { return CopyResult{axerr::noValue, NoValue{}}; }
inline CopyResult boolean(bool b) { return ok(Number{b ? 1.0 : 0.0, true, true}); }

// The status code of a call's end, for a read (attribute errors) or an action.
std::int32_t readStatus(CallEnd end);
std::int32_t actionStatus(CallEnd end);

// The element's role and context as the layer shows it.
Context contextOf(const ElementImpl& e);
MacRole macRoleOf(const ElementImpl& e);

// Whether the menu that a menu-bar entry or submenu item opens is open: the entry is selected,
// armed or expanded, or, for an entry that does not say whether it can expand, one of its items
// is showing.
bool menuOpen(const ElementImpl& entry);

// The top-level object (a child of the application object) that `ref` sits in, by its parents.
ObjectRef topLevelOf(const ObjectRef& ref);

// The application's windows (top-level children that are shown or minimized, in its order) and
// the active one among them.
ElementList windowsOf(const std::string& bus);

// What a walk of a window's frame does after an object: goes into its children, passes them by,
// or ends.
enum class Visit { descend, skip, stop };
// The objects of a window breadth first, the window included, down to `maxDepth` levels and at
// most 600 of them (the first PREFETCH_LIMIT children of each), until the run's deadline. Menus,
// text, tables, trees, lists and documents are not gone into: nothing of a window's frame (its
// menu bar, its header bar) sits there.
void walkFrame(const Element& window, int maxDepth,
               const std::function<Visit(const ElementImpl&, Node&)>& visit);


}  // namespace uiglean::lx

namespace uiglean::lx {

// Where a left click lands on the element, in root coordinates, for toolkits that give positions
// relative to the window (GTK 4) under X11: its centre, when it is enabled (GTK 4 says only
// sensitive), lies inside the extents of each of its ancestors (nothing scrolled or clipped it
// away), and the X11 window that shows its top-level window is the topmost one at that point;
// never while the application has a modal window, which takes every click from the others.
std::optional<std::pair<std::int32_t, std::int32_t>> clickPointOf(const ElementImpl& e);
// Clicks the element there with the pointer (put back afterwards) and returns once the
// application has handled the click; false, doing nothing, where a click would not land on it.
bool pointerClick(const ElementImpl& e);

// Whether the focused object read in the current epoch is a password field; nothing when no
// focused object was read.
std::optional<bool> focusedPasswordSeen();
}  // namespace uiglean::lx
