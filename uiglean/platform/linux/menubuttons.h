// Menu buttons: the menus of applications without a menu bar (GTK 4's "primary menu" and the other
// buttons of a header bar that open a popover of menu items), shown as the entries of a menu bar
// so that they are listed and chosen like any other application's menus.
//
// GTK 4 shows such a button as a button holding one button of the same name (the one that acts);
// while its popover is open, the outer button also holds the popover (role menu), whose items sit
// a dozen levels further down. A closed popover is not among anyone's children, but its items stay
// alive and can be asked and pressed by their paths.
//
// GTK 3 keeps each popover among its window's children, closed or not, naming the button that
// opens it by a relation; its items are buttons and check boxes, read and pressed where they are.
#pragma once

#include <optional>
#include <vector>

#include "uiglean/ax/platform.h"
#include "uiglean/platform/linux/elements.h"

namespace uiglean::lx {

// The menu buttons of a window, breadth first (the order in which they are seen), at most a few.
std::vector<ObjectRef> menuButtonsIn(const Element& window);

// Whether the button's popover is open.
bool menuButtonOpen(const ElementImpl& button);

// Opens (open = true) or closes the button's popover; success when it ends up that way.
std::int32_t setMenuButtonOpen(const ElementImpl& button, bool open);

// The menu items of the button's popover, in order. A closed popover is opened for the reading and
// closed again.
ElementList menuButtonItems(const ElementImpl& button);

// The items of a GTK 4 popover's submenu page (View::popoverPage), without its title item.
ElementList popoverPageItems(const ElementImpl& page);

// Whether the object is an entry of GTK 4's own menu bar (GtkPopoverMenuBar): a menu item without
// actions that a click opens, holding its popover while open. Such entries are shown as menu-button
// entries (View::buttonEntry), opened by a pointer click.
bool popoverBarEntry(const ElementImpl& e);

// The accelerator a menu item shows as a label of its own beside its title (GTK 4 gives menu
// items no key binding), as the toolkit writes it ("Ctrl+Q", "F1"), or nothing.
std::optional<std::string> acceleratorLabelOf(const ElementImpl& item);

}  // namespace uiglean::lx
