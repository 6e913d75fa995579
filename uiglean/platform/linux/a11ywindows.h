// Windows the window server does not show. An application that owns no X11 window (every
// application of a Wayland session, or a Wayland application beside an X server) still has its
// accessible top-level windows: they stand in for window-server windows in the window list, for
// window numbers and for raising.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "uiglean/platform/linux/elements.h"

namespace uiglean::lx {

// Whether process `pid` owns a window of the X11 window server (none without an X display).
bool ownsServerWindow(std::int32_t pid);

// The window number of an accessible window: stable for as long as the window lives (its owner
// and object path), never 0, and above every X11 window id (those stay below 2^29), so the two
// kinds never collide.
std::uint32_t standInNumber(std::int32_t pid, const std::string& path);

// The layer a window of this role is listed in: 0 for frames and dialogs, as for X11 windows.
std::int64_t standInLayer(std::uint32_t role);

struct StandInWindow {
  std::int32_t pid = 0;
  ObjectRef ref;
  std::string owner;  // the application's name
  std::string title;
  std::int64_t x = 0, y = 0, width = 0, height = 0;  // as the toolkit reports them
  std::int64_t layer = 0;
  bool onscreen = false, active = false;
  std::uint32_t number = 0;
};

// The accessible windows, with a rectangle, of applications that own no X11 window: the active
// one first, then each application's in its order, applications in pid order.
std::vector<StandInWindow> standInWindows();

// Brings an accessible window to the front by the toolkit's own means (the Component interface's
// GrabFocus): success when it is, or becomes, the active window; failure when the toolkit or the
// compositor would not (Wayland compositors let no client raise itself at will).
std::int32_t focusStandIn(const ElementImpl& window);

// The application's window in front, the one the user sees and types into: the accessible
// counterpart of the X11 active window (_NET_ACTIVE_WINDOW, dialogs included) when the application
// owns it; otherwise its first top-level window in state active (the toolkit's own word, all there
// is without X11). Nothing when neither names one of its windows. Read once per epoch.
std::optional<Element> frontWindowOf(const std::string& bus);
// Whether the object is that window.
bool isFrontWindow(const ElementImpl& window);

}  // namespace uiglean::lx
