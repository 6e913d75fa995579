// The window server: the X11 display, its windows and their properties.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace uiglean::lx {

// The display named by DISPLAY, connected once per run; nullptr when there is none.
xcb_connection_t* display();
xcb_window_t rootWindow();

// An atom by name (0 when the server will not intern it).
xcb_atom_t atom(const char* name);

// Window properties; nothing when the window does not have them.
std::optional<std::uint32_t> cardinalProperty(xcb_window_t window, const char* name);
std::vector<std::uint32_t> windowListProperty(xcb_window_t window, const char* name);
std::optional<std::string> stringProperty(xcb_window_t window, const char* name);
std::vector<std::uint32_t> atomListProperty(xcb_window_t window, const char* name);

// _NET_ACTIVE_WINDOW, when a window manager keeps it and it names a window.
std::optional<xcb_window_t> activeWindow();
// The owner's process id (_NET_WM_PID).
std::optional<std::int32_t> windowPid(xcb_window_t window);
// The window's title: _NET_WM_NAME, else WM_NAME.
std::optional<std::string> windowTitle(xcb_window_t window);
// WM_CLASS: instance and class.
std::optional<std::pair<std::string, std::string>> windowClass(xcb_window_t window);

// The managed client windows, front to back (_NET_CLIENT_LIST_STACKING, else _NET_CLIENT_LIST).
std::vector<xcb_window_t> clientWindows();

// The window's frame-less rectangle in root coordinates.
struct WindowGeometry {
  std::int32_t x = 0, y = 0;
  std::uint32_t width = 0, height = 0;
};
std::optional<WindowGeometry> windowGeometry(xcb_window_t window);

// Where the content of a client window begins in root coordinates, for toolkits that give
// positions relative to it: its _GTK_FRAME_EXTENTS (the client-side shadow) inset, else the margin
// by which the window is larger than the content's `width` and `height`, split evenly.
std::optional<std::pair<std::int32_t, std::int32_t>> contentOrigin(xcb_window_t window,
                                                                   std::int32_t width,
                                                                   std::int32_t height);

// Whether a click at root position (x, y) lands in `client`: the X server's topmost window at the
// point is the client itself, or the frame the window manager keeps around it with the client the
// topmost window inside it there (no popup, menu or other window above the point).
bool clientShownAt(xcb_window_t client, std::int32_t x, std::int32_t y);

// Whether one of the process's client windows is modal (_NET_WM_STATE_MODAL): the toolkit then
// ignores clicks in its other windows.
bool hasModalWindow(std::int32_t pid);

// A left click at root position (x, y) through the test extension, the pointer put back where it
// was afterwards; false when synthesized input cannot reach the display.
bool clickAndReturn(std::int32_t x, std::int32_t y);

// Asks the window manager to activate the window (a _NET_ACTIVE_WINDOW client message with
// source indication 2); without a window manager, raises it and gives it the input focus.
bool activateWindow(xcb_window_t window);

// The client window of process `pid` that shows the accessible window with this title and
// rectangle: the one whose title equals it, else the one whose rectangle does, else the pid's
// only window.
std::optional<xcb_window_t> windowFor(std::int32_t pid, const std::string& title, std::int32_t x,
                                      std::int32_t y, std::int32_t width, std::int32_t height,
                                      bool hasRect);

// What the window list says of one client window.
struct WindowInfo {
  xcb_window_t id = 0;
  std::optional<std::int32_t> pid;
  std::string ownerName;  // WM_CLASS class, else the process name
  std::optional<std::string> title;
  std::int64_t x = 0, y = 0, width = 0, height = 0;  // root coordinates, frame included
  std::int64_t layer = 0;
  double alpha = 1;
  bool iconified = false, otherDesktop = false, onscreen = false;
};

// Window layers, as macOS numbers its window levels: 0 for normal and dialog windows.
inline constexpr std::int64_t LAYER_NORMAL = 0;
inline constexpr std::int64_t LAYER_FLOATING = 3;
inline constexpr std::int64_t LAYER_DOCK = 20;
inline constexpr std::int64_t LAYER_MENU = 101;
inline constexpr std::int64_t LAYER_NOTIFICATION = 23;
inline constexpr std::int64_t LAYER_TOOLTIP = 25;
inline constexpr std::int64_t LAYER_DESKTOP = -2147483623;

// The client windows front to back (without a window manager, the root's mapped children).
std::vector<WindowInfo> windowInfos();

struct Monitor {
  std::uint32_t id = 0;
  std::int32_t x = 0, y = 0;
  std::uint32_t width = 0, height = 0;
  bool primary = false;
};

// The RandR monitors (read once per run); without RandR, the screen as one monitor with id 1.
const std::vector<Monitor>& monitors();

}  // namespace uiglean::lx
