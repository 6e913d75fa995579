// "menuclick": choose a menu item by its path of titles.
#include <string>
#include <vector>

#include "uiglean/ax/readers.h"
#include "uiglean/front/commands.h"
#include "uiglean/front/globals.h"
#include "uiglean/front/output.h"
#include "uiglean/menus/menubar.h"
#include "uiglean/menus/menuitems.h"

namespace uiglean {

namespace {

// Every failure after the menu bar item was found closes the menu again through that item, which
// also dismisses any submenu opened on the way.
[[noreturn]] void cancelAndReport(const Element& barItem, const std::string& message) {
  axPerformAction(barItem, "AXCancel");
  emit(errorResult(message));
}

}  // namespace

void cmdMenuClick() {
  if (args.size() < 3) fail("menuclick needs at least a menu and an item title", 5);
  FrontApp front = requireFrontmostApp();
  axSetMessagingTimeout(front.element, 8.0f);

  const std::vector<std::string> path(args.begin() + 1, args.end());
  auto barItem = firstTitled(menuBarItems(front.element), path[0]);
  if (!barItem) emit(errorResult("no menu titled \"" + path[0] + "\""));

  std::optional<Element> menu = openedMenu(*barItem);
  std::optional<Element> target;
  for (std::size_t i = 1; i < path.size(); ++i) {
    if (!menu) break;
    auto item = firstTitled(children(*menu), path[i]);
    if (!item) {
      cancelAndReport(*barItem, "no item \"" + path[i] + "\" at depth " + std::to_string(i));
    }
    if (i + 1 == path.size()) {
      target = item;
      break;
    }
    axPerformAction(*item, "AXPress");
    sleepMicros(MENU_OPEN_WAIT_MICROS);
    ElementList kids = children(*item);
    menu = kids.empty() ? std::nullopt : std::optional<Element>(kids[0]);
  }
  if (!target) cancelAndReport(*barItem, "could not resolve the menu path");

  if (boolAttr(*target, "AXEnabled") == false) {
    cancelAndReport(*barItem, "\"" + path.back() + "\" is disabled right now");
  }
  std::int32_t code = axPerformAction(*target, "AXPress");
  if (code != axerr::success) {
    cancelAndReport(*barItem, "AXPress failed (" + std::to_string(code) + ")");
  }
  emit(okResult());
}

}  // namespace uiglean
