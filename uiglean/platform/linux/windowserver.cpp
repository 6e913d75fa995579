#include "uiglean/platform/linux/windowserver.h"

#include "uiglean/ax/platform.h"
#include "uiglean/platform/linux/a11ywindows.h"
#include "uiglean/platform/linux/keptanswers.h"

#include <xcb/randr.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <cstring>
#include <map>
#include <memory>

namespace uiglean::lx {

namespace {

struct Display {
  bool tried = false;
  xcb_connection_t* conn = nullptr;
  xcb_window_t root = 0;
};

Display& server() {
  static Display d;
  return d;
}

template <class T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <class T>
Reply<T> take(T* p) {
  return Reply<T>(p, &std::free);
}

Reply<xcb_get_property_reply_t> getProperty(xcb_window_t window, const char* name,
                                            xcb_atom_t type, std::uint32_t longs) {
  xcb_connection_t* c = display();
  xcb_atom_t a = atom(name);
  if (c == nullptr || a == XCB_ATOM_NONE) return take<xcb_get_property_reply_t>(nullptr);
  auto cookie = xcb_get_property(c, 0, window, a, type, 0, longs);
  return take(xcb_get_property_reply(c, cookie, nullptr));
}

}  // namespace

xcb_connection_t* display() {
  Display& d = server();
  if (d.tried) return d.conn;
  d.tried = true;
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0') return nullptr;
  int screenNumber = 0;
  xcb_connection_t* c = xcb_connect(name, &screenNumber);
  if (c == nullptr || xcb_connection_has_error(c) != 0) {
    if (c != nullptr) xcb_disconnect(c);
    return nullptr;
  }
  auto it = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int i = 0; i < screenNumber && it.rem > 0; ++i) xcb_screen_next(&it);
  if (it.rem == 0) {
    xcb_disconnect(c);
    return nullptr;
  }
  d.conn = c;
  d.root = it.data->root;
  return c;
}

xcb_window_t rootWindow() {
  display();
  return server().root;
}

xcb_atom_t atom(const char* name) {
  static std::map<std::string, xcb_atom_t> cache;
  auto it = cache.find(name);
  if (it != cache.end()) return it->second;
  xcb_connection_t* c = display();
  if (c == nullptr) return XCB_ATOM_NONE;
  auto cookie = xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
  auto reply = take(xcb_intern_atom_reply(c, cookie, nullptr));
  xcb_atom_t a = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
  cache[name] = a;
  return a;
}

std::optional<std::uint32_t> cardinalProperty(xcb_window_t window, const char* name) {
  auto r = getProperty(window, name, XCB_ATOM_ANY, 1);
  if (!r || r->format != 32 || xcb_get_property_value_length(r.get()) < 4) return std::nullopt;
  return *static_cast<std::uint32_t*>(xcb_get_property_value(r.get()));
}

std::vector<std::uint32_t> windowListProperty(xcb_window_t window, const char* name) {
  std::vector<std::uint32_t> out;
  auto r = getProperty(window, name, XCB_ATOM_ANY, 65536);
  if (!r || r->format != 32) return out;
  int len = xcb_get_property_value_length(r.get()) / 4;
  auto* v = static_cast<std::uint32_t*>(xcb_get_property_value(r.get()));
  out.assign(v, v + len);
  return out;
}

std::vector<std::uint32_t> atomListProperty(xcb_window_t window, const char* name) {
  return windowListProperty(window, name);
}

std::optional<std::string> stringProperty(xcb_window_t window, const char* name) {
  auto r = getProperty(window, name, XCB_ATOM_ANY, 16384);
  if (!r || r->format != 8) return std::nullopt;
  int len = xcb_get_property_value_length(r.get());
  if (len <= 0) return std::nullopt;
  return std::string(static_cast<const char*>(xcb_get_property_value(r.get())),
                     static_cast<std::size_t>(len));
}

std::optional<xcb_window_t> activeWindow() {
  auto w = cardinalProperty(rootWindow(), "_NET_ACTIVE_WINDOW");
  if (!w || *w == 0) return std::nullopt;
  return *w;
}

std::optional<std::int32_t> windowPid(xcb_window_t window) {
  auto p = cardinalProperty(window, "_NET_WM_PID");
  if (!p || *p == 0 || *p > 0x7fffffffU) return std::nullopt;
  return static_cast<std::int32_t>(*p);
}

std::optional<std::string> windowTitle(xcb_window_t window) {
  if (auto t = stringProperty(window, "_NET_WM_NAME")) return t;
  return stringProperty(window, "WM_NAME");
}

std::optional<std::pair<std::string, std::string>> windowClass(xcb_window_t window) {
  auto s = stringProperty(window, "WM_CLASS");
  if (!s) return std::nullopt;
  std::size_t nul = s->find('\0');
  if (nul == std::string::npos) return std::make_pair(*s, *s);
  std::string instance = s->substr(0, nul);
  std::string klass = s->substr(nul + 1);
  if (!klass.empty() && klass.back() == '\0') klass.pop_back();
  return std::make_pair(instance, klass);
}

std::vector<xcb_window_t> clientWindows() {
  auto list = windowListProperty(rootWindow(), "_NET_CLIENT_LIST_STACKING");
  if (list.empty()) list = windowListProperty(rootWindow(), "_NET_CLIENT_LIST");
  // Stacking order is bottom to top; callers want front to back.
  return std::vector<xcb_window_t>(list.rbegin(), list.rend());
}

std::optional<WindowGeometry> windowGeometry(xcb_window_t window) {
  xcb_connection_t* c = display();
  if (c == nullptr) return std::nullopt;
  auto geo = take(xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
  if (!geo) return std::nullopt;
  auto tr = take(xcb_translate_coordinates_reply(
      c, xcb_translate_coordinates(c, window, rootWindow(), 0, 0), nullptr));
  if (!tr) return std::nullopt;
  return WindowGeometry{tr->dst_x, tr->dst_y, geo->width, geo->height};
}

std::optional<std::pair<std::int32_t, std::int32_t>> contentOrigin(xcb_window_t window,
                                                                   std::int32_t width,
                                                                   std::int32_t height) {
  auto geo = windowGeometry(window);
  if (!geo) return std::nullopt;
  std::vector<std::uint32_t> shadow = windowListProperty(window, "_GTK_FRAME_EXTENTS");
  std::int64_t left = 0, top = 0;
  if (shadow.size() == 4 && shadow[0] < 4096 && shadow[2] < 4096) {
    left = shadow[0];  // left, right, top, bottom
    top = shadow[2];
  } else {
    if (width >= 0 && geo->width > static_cast<std::uint32_t>(width)) {
      left = (static_cast<std::int64_t>(geo->width) - width) / 2;
    }
    if (height >= 0 && geo->height > static_cast<std::uint32_t>(height)) {
      top = (static_cast<std::int64_t>(geo->height) - height) / 2;
    }
  }
  return std::make_pair(static_cast<std::int32_t>(geo->x + left),
                        static_cast<std::int32_t>(geo->y + top));
}

bool clientShownAt(xcb_window_t client, std::int32_t x, std::int32_t y) {
  xcb_connection_t* c = display();
  if (c == nullptr || client == XCB_NONE) return false;
  xcb_window_t root = rootWindow();
  xcb_window_t at = root;
  // Root, frame, client: a window manager nests a few levels at most.
  for (int depth = 0; depth < 8; ++depth) {
    auto tr = take(xcb_translate_coordinates_reply(
        c,
        xcb_translate_coordinates(c, root, at, static_cast<std::int16_t>(x),
                                  static_cast<std::int16_t>(y)),
        nullptr));
    if (!tr || tr->child == XCB_NONE) return false;
    if (tr->child == client) return true;
    at = tr->child;
  }
  return false;
}

bool hasModalWindow(std::int32_t pid) {
  xcb_atom_t modal = atom("_NET_WM_STATE_MODAL");
  if (modal == XCB_NONE) return false;
  for (xcb_window_t w : clientWindows()) {
    if (windowPid(w) != pid) continue;
    for (std::uint32_t a : atomListProperty(w, "_NET_WM_STATE")) {
      if (a == modal) return true;
    }
  }
  return false;
}

bool activateWindow(xcb_window_t window) {
  xcb_connection_t* c = display();
  if (c == nullptr) return false;
  forgetKeptAnswers();  // windows raised and focused change their applications' states
  bool managed = cardinalProperty(rootWindow(), "_NET_SUPPORTING_WM_CHECK").has_value();
  if (managed) {
    xcb_client_message_event_t ev{};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = window;
    ev.type = atom("_NET_ACTIVE_WINDOW");
    ev.data.data32[0] = 2;  // a pager or other tool acting for the user
    ev.data.data32[1] = XCB_CURRENT_TIME;
    ev.data.data32[2] = 0;
    xcb_send_event(c, 0, rootWindow(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&ev));
  } else {
    const std::uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(c, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    xcb_set_input_focus(c, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
  }
  return xcb_flush(c) > 0;
}

std::optional<xcb_window_t> windowFor(std::int32_t pid, const std::string& title, std::int32_t x,
                                      std::int32_t y, std::int32_t width, std::int32_t height,
                                      bool hasRect) {
  std::vector<xcb_window_t> own;
  for (xcb_window_t w : clientWindows()) {
    if (windowPid(w) == pid) own.push_back(w);
  }
  if (!title.empty()) {
    for (xcb_window_t w : own) {
      if (windowTitle(w) == title) return w;
    }
  }
  if (hasRect) {
    for (xcb_window_t w : own) {
      auto g = windowGeometry(w);
      if (g && g->x == x && g->y == y && static_cast<std::int32_t>(g->width) == width &&
          static_cast<std::int32_t>(g->height) == height) {
        return w;
      }
    }
  }
  if (own.size() == 1) return own.front();
  return std::nullopt;
}

}  // namespace uiglean::lx


namespace uiglean::lx {

namespace {

std::int64_t layerOf(const std::vector<std::uint32_t>& types) {
  // The first type the window names that we know decides (the list is in order of preference).
  struct TypeLayer {
    const char* atomName;
    std::int64_t layer;
  };
  static const TypeLayer table[] = {
      {"_NET_WM_WINDOW_TYPE_NORMAL", LAYER_NORMAL},
      {"_NET_WM_WINDOW_TYPE_DIALOG", LAYER_NORMAL},
      {"_NET_WM_WINDOW_TYPE_DESKTOP", LAYER_DESKTOP},
      {"_NET_WM_WINDOW_TYPE_DOCK", LAYER_DOCK},
      {"_NET_WM_WINDOW_TYPE_TOOLBAR", LAYER_FLOATING},
      {"_NET_WM_WINDOW_TYPE_UTILITY", LAYER_FLOATING},
      {"_NET_WM_WINDOW_TYPE_MENU", LAYER_MENU},
      {"_NET_WM_WINDOW_TYPE_DROPDOWN_MENU", LAYER_MENU},
      {"_NET_WM_WINDOW_TYPE_POPUP_MENU", LAYER_MENU},
      {"_NET_WM_WINDOW_TYPE_COMBO", LAYER_MENU},
      {"_NET_WM_WINDOW_TYPE_NOTIFICATION", LAYER_NOTIFICATION},
      {"_NET_WM_WINDOW_TYPE_TOOLTIP", LAYER_TOOLTIP},
      {"_NET_WM_WINDOW_TYPE_SPLASH", LAYER_FLOATING},
      {"_NET_WM_WINDOW_TYPE_DND", LAYER_TOOLTIP},
  };
  for (std::uint32_t t : types) {
    for (const auto& entry : table) {
      if (t == atom(entry.atomName)) return entry.layer;
    }
  }
  return LAYER_NORMAL;  // no type: a normal window
}

WindowInfo describe(xcb_window_t w, std::optional<std::uint32_t> currentDesktop) {
  WindowInfo info;
  info.id = w;
  info.pid = windowPid(w);
  if (auto cls = windowClass(w); cls && !cls->second.empty()) {
    info.ownerName = cls->second;
  } else if (info.pid) {
    std::ifstream in("/proc/" + std::to_string(*info.pid) + "/comm");
    std::getline(in, info.ownerName);
  }
  info.title = windowTitle(w);
  if (auto g = windowGeometry(w)) {
    info.x = g->x;
    info.y = g->y;
    info.width = static_cast<std::int64_t>(g->width);
    info.height = static_cast<std::int64_t>(g->height);
  }
  // The frame the window manager draws around it counts, as on macOS.
  auto frame = windowListProperty(w, "_NET_FRAME_EXTENTS");
  if (frame.size() == 4 && frame[0] < 10000 && frame[1] < 10000 && frame[2] < 10000 &&
      frame[3] < 10000) {
    info.x -= frame[0];
    info.y -= frame[2];
    info.width += frame[0] + frame[1];
    info.height += frame[2] + frame[3];
  }
  info.layer = layerOf(atomListProperty(w, "_NET_WM_WINDOW_TYPE"));
  if (auto opacity = cardinalProperty(w, "_NET_WM_WINDOW_OPACITY")) {
    info.alpha = static_cast<double>(*opacity) / 4294967295.0;
  }
  auto states = atomListProperty(w, "_NET_WM_STATE");
  info.iconified = std::find(states.begin(), states.end(), atom("_NET_WM_STATE_HIDDEN")) !=
                   states.end();
  auto desktop = cardinalProperty(w, "_NET_WM_DESKTOP");
  info.otherDesktop = desktop && currentDesktop && *desktop != 0xffffffffU &&
                      *desktop != *currentDesktop;
  bool viewable = false;
  if (auto attrs = take(xcb_get_window_attributes_reply(
          display(), xcb_get_window_attributes(display(), w), nullptr))) {
    viewable = attrs->map_state == XCB_MAP_STATE_VIEWABLE;
  }
  // A window manager unmaps the client of an iconified window, and of one on another desktop.
  info.onscreen = viewable && !info.iconified && !info.otherDesktop;
  return info;
}

}  // namespace

std::vector<WindowInfo> windowInfos() {
  std::vector<WindowInfo> out;
  xcb_connection_t* c = display();
  if (c == nullptr) return out;
  std::vector<xcb_window_t> windows = clientWindows();
  bool managed = !windows.empty() || cardinalProperty(rootWindow(), "_NET_SUPPORTING_WM_CHECK");
  if (!managed) {
    // No window manager: the root's mapped children, in stacking order (front first).
    auto tree = take(xcb_query_tree_reply(c, xcb_query_tree(c, rootWindow()), nullptr));
    if (tree) {
      xcb_window_t* kids = xcb_query_tree_children(tree.get());
      int n = xcb_query_tree_children_length(tree.get());
      for (int i = n - 1; i >= 0; --i) {
        auto attrs = take(xcb_get_window_attributes_reply(
            c, xcb_get_window_attributes(c, kids[i]), nullptr));
        if (attrs && attrs->map_state == XCB_MAP_STATE_VIEWABLE && !attrs->override_redirect) {
          windows.push_back(kids[i]);
        }
      }
    }
  }
  auto current = cardinalProperty(rootWindow(), "_NET_CURRENT_DESKTOP");
  for (xcb_window_t w : windows) out.push_back(describe(w, current));
  return out;
}

const std::vector<Monitor>& monitors() {
  static std::vector<Monitor> list;
  static bool read = false;
  if (read) return list;
  read = true;
  xcb_connection_t* c = display();
  if (c == nullptr) return list;
  const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_randr_id);
  if (ext != nullptr && ext->present) {
    auto reply = take(xcb_randr_get_monitors_reply(
        c, xcb_randr_get_monitors(c, rootWindow(), 1), nullptr));
    if (reply) {
      auto it = xcb_randr_get_monitors_monitors_iterator(reply.get());
      for (; it.rem > 0; xcb_randr_monitor_info_next(&it)) {
        const xcb_randr_monitor_info_t* m = it.data;
        Monitor mon;
        // The monitor's first output is stable for the session; a monitor without one (set up
        // by hand) goes by its name.
        const xcb_randr_output_t* outputs = xcb_randr_monitor_info_outputs(m);
        mon.id = xcb_randr_monitor_info_outputs_length(m) > 0 ? outputs[0] : m->name;
        mon.x = m->x;
        mon.y = m->y;
        mon.width = m->width;
        mon.height = m->height;
        mon.primary = m->primary != 0;
        list.push_back(mon);
      }
    }
  }
  if (list.empty()) {
    // No RandR: the screen is the one display.
    if (auto geo = take(xcb_get_geometry_reply(c, xcb_get_geometry(c, rootWindow()), nullptr))) {
      list.push_back(Monitor{1, 0, 0, geo->width, geo->height, true});
    }
  }
  return list;
}

}  // namespace uiglean::lx

// The window server's share of the platform layer: displays are RandR monitors, the window list is
// the managed client windows with the keys the desktop overview reads.
namespace uiglean {

using namespace lx;

namespace {

template <class T>
PlistValue plist(T value) {
  PlistValue p;
  p.v.template emplace<T>(std::move(value));
  return p;
}

}  // namespace

std::vector<std::uint32_t> activeDisplayList(std::uint32_t capacity) {
  std::vector<std::uint32_t> ids;
  for (const auto& m : monitors()) {
    if (ids.size() >= capacity) break;
    ids.push_back(m.id);
  }
  return ids;
}

std::uint32_t mainDisplayId() {
  const auto& all = monitors();
  if (all.empty()) return 0;
  for (const auto& m : all) {
    if (m.primary) return m.id;
  }
  for (const auto& m : all) {
    if (m.x == 0 && m.y == 0) return m.id;
  }
  return all.front().id;
}

Rect displayBounds(std::uint32_t displayId) {
  for (const auto& m : monitors()) {
    if (m.id == displayId) {
      return Rect{static_cast<double>(m.x), static_cast<double>(m.y),
                  static_cast<double>(m.width), static_cast<double>(m.height)};
    }
  }
  return Rect{};
}

namespace {

PlistValue boundsPlist(std::int64_t x, std::int64_t y, std::int64_t width, std::int64_t height) {
  PlistDict bounds;
  bounds.emplace_back("X", plist(static_cast<double>(x)));
  bounds.emplace_back("Y", plist(static_cast<double>(y)));
  bounds.emplace_back("Width", plist(static_cast<double>(width)));
  bounds.emplace_back("Height", plist(static_cast<double>(height)));
  return plist(std::move(bounds));
}

}  // namespace

PlistValue windowListCopyWindowInfo(std::uint32_t, std::uint32_t) {
  PlistArray list;
  for (const auto& w : windowInfos()) {
    PlistDict d;
    d.emplace_back("kCGWindowNumber", plist(static_cast<std::int64_t>(w.id)));
    if (w.pid) d.emplace_back("kCGWindowOwnerPID", plist(static_cast<std::int64_t>(*w.pid)));
    if (!w.ownerName.empty()) d.emplace_back("kCGWindowOwnerName", plist(w.ownerName));
    if (w.title) d.emplace_back("kCGWindowName", plist(*w.title));
    d.emplace_back("kCGWindowBounds", boundsPlist(w.x, w.y, w.width, w.height));
    d.emplace_back("kCGWindowLayer", plist(static_cast<std::int64_t>(w.layer)));
    d.emplace_back("kCGWindowAlpha", plist(w.alpha));
    d.emplace_back("kCGWindowIsOnscreen", plist(w.onscreen));
    list.push_back(plist(std::move(d)));
  }
  // Then the windows of applications the X server does not show (all of them in a Wayland
  // session), as their toolkits describe them.
  for (const auto& w : standInWindows()) {
    PlistDict d;
    d.emplace_back("kCGWindowNumber", plist(static_cast<std::int64_t>(w.number)));
    d.emplace_back("kCGWindowOwnerPID", plist(static_cast<std::int64_t>(w.pid)));
    if (!w.owner.empty()) d.emplace_back("kCGWindowOwnerName", plist(w.owner));
    d.emplace_back("kCGWindowName", plist(w.title));
    d.emplace_back("kCGWindowBounds", boundsPlist(w.x, w.y, w.width, w.height));
    d.emplace_back("kCGWindowLayer", plist(w.layer));
    d.emplace_back("kCGWindowAlpha", plist(1.0));
    d.emplace_back("kCGWindowIsOnscreen", plist(w.onscreen));
    list.push_back(plist(std::move(d)));
  }
  return plist(std::move(list));
}

bool preflightScreenCaptureAccess() { return display() != nullptr; }

}  // namespace uiglean
