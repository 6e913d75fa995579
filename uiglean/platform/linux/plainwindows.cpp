// Applications without accessibility: their X11 windows as window elements (plainwindows.h).
#include "uiglean/platform/linux/plainwindows.h"

#include <charconv>

#include "uiglean/platform/linux/windowserver.h"
#include "uiglean/platform/linux/workspace.h"

namespace uiglean::lx {

namespace {

// Element paths: the process id for the application, "pid:xid" for one of its windows.
std::optional<std::int32_t> parsePid(std::string_view text) {
  std::int32_t pid = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), pid);
  if (ec != std::errc() || end != text.data() + text.size() || pid <= 0) return std::nullopt;
  return pid;
}

std::optional<std::pair<std::int32_t, xcb_window_t>> parseWindow(const std::string& path) {
  std::size_t colon = path.find(':');
  if (colon == std::string::npos) return std::nullopt;
  auto pid = parsePid(std::string_view(path).substr(0, colon));
  xcb_window_t xid = 0;
  const char* first = path.data() + colon + 1;
  const char* last = path.data() + path.size();
  auto [end, ec] = std::from_chars(first, last, xid);
  if (!pid || ec != std::errc() || end != last || xid == 0) return std::nullopt;
  return std::make_pair(*pid, xid);
}

// The process's normal windows, front to back.
std::vector<WindowInfo> windowsOfProcess(std::int32_t pid) {
  std::vector<WindowInfo> out;
  for (auto& w : windowInfos()) {
    if (w.pid == pid && w.layer == LAYER_NORMAL) out.push_back(std::move(w));
  }
  return out;
}

Element windowElement(std::int32_t pid, xcb_window_t xid) {
  return Element{std::make_shared<ElementImpl>(ElementImpl{
      "", std::to_string(pid) + ":" + std::to_string(xid), View::plainWindow, Context::other,
      nullptr})};
}

// The window as the window server has it now; nothing once it is gone.
std::optional<WindowInfo> windowNow(const ElementImpl& e) {
  auto key = parseWindow(e.path);
  if (!key) return std::nullopt;
  for (auto& w : windowsOfProcess(key->first)) {
    if (w.id == key->second) return std::move(w);
  }
  return std::nullopt;
}

CopyResult appAttribute(std::int32_t pid, const std::string& name) {
  if (name == "AXRole") return ok(std::string("AXApplication"));
  if (name == "AXTitle") return ok(processName(pid));
  if (name == "AXEnabled") return boolean(true);
  if (name == "AXWindows" || name == "AXChildren") {
    ElementList list;
    for (const auto& w : windowsOfProcess(pid)) list.push_back(windowElement(pid, w.id));
    return ok(std::move(list));
  }
  if (name == "AXFocusedWindow" || name == "AXMainWindow") {
    std::vector<WindowInfo> windows = windowsOfProcess(pid);
    auto active = activeWindow();
    for (const auto& w : windows) {
      if (active && w.id == *active) return ok(windowElement(pid, w.id));
    }
    for (const auto& w : windows) {
      if (!w.iconified) return ok(windowElement(pid, w.id));
    }
    return noValue();
  }
  return unsupported();
}

CopyResult windowAttribute(const ElementImpl& e, const std::string& name) {
  if (name == "AXRole") return ok(std::string("AXWindow"));
  if (name == "AXSubrole") return ok(std::string("AXStandardWindow"));
  std::optional<WindowInfo> w = windowNow(e);
  if (!w) return CopyResult{axerr::invalidElement, NoValue{}};
  if (name == "AXTitle") return ok(w->title.value_or(""));
  if (name == "AXChildren") return ok(ElementList{});
  if (name == "AXEnabled") return boolean(true);
  if (name == "AXMain" || name == "AXFocused") {
    auto active = activeWindow();
    return boolean(active && *active == w->id);
  }
  if (name == "AXMinimized") return boolean(w->iconified);
  if (name == "AXPosition") {
    return ok(Point{static_cast<double>(w->x), static_cast<double>(w->y)});
  }
  if (name == "AXSize") {
    return ok(Size{static_cast<double>(w->width), static_cast<double>(w->height)});
  }
  return unsupported();
}

}  // namespace

bool isPlainApplication(std::int32_t pid) {
  return pid > 0 && busForPid(pid).empty() && !windowsOfProcess(pid).empty();
}

Element plainApplication(std::int32_t pid) {
  if (!isPlainApplication(pid)) return {};
  return Element{std::make_shared<ElementImpl>(
      ElementImpl{"", std::to_string(pid), View::plainApp, Context::other, nullptr})};
}

bool isPlainView(const ElementImpl& e) {
  return e.view == View::plainApp || e.view == View::plainWindow;
}

CopyResult plainAttribute(const ElementImpl& e, const std::string& name) {
  if (e.view == View::plainApp) {
    auto pid = parsePid(e.path);
    if (!pid) return CopyResult{axerr::invalidElement, NoValue{}};
    return appAttribute(*pid, name);
  }
  return windowAttribute(e, name);
}

ActionNamesResult plainActionNames(const ElementImpl& e) {
  ActionNamesResult result;
  result.status = axerr::success;
  result.names = std::vector<std::string>{};
  if (e.view == View::plainWindow) {
    if (!windowNow(e)) {
      result.status = axerr::invalidElement;
      result.names.reset();
      return result;
    }
    result.names->push_back("AXRaise");
  }
  return result;
}

std::int32_t plainPerformAction(const ElementImpl& e, const std::string& action) {
  if (e.view != View::plainWindow || action != "AXRaise") return axerr::actionUnsupported;
  std::optional<WindowInfo> w = windowNow(e);
  if (!w) return axerr::invalidElement;
  return activateWindow(w->id) ? axerr::success : axerr::cannotComplete;
}

std::int32_t plainSetAttribute(const ElementImpl& e, const std::string& name, const Value& value) {
  if (e.view != View::plainWindow || (name != "AXMain" && name != "AXFocused")) {
    return axerr::attributeUnsupported;
  }
  const auto* number = std::get_if<Number>(&value);
  if (number == nullptr || number->value == 0) return axerr::illegalArgument;
  return plainPerformAction(e, "AXRaise");
}

WindowNumberResult plainWindowNumber(const ElementImpl& e) {
  WindowNumberResult result;
  if (e.view != View::plainWindow) {
    result.status = axerr::illegalArgument;
    return result;
  }
  std::optional<WindowInfo> w = windowNow(e);
  if (!w) {
    result.status = axerr::invalidElement;
    return result;
  }
  result.status = axerr::success;
  result.windowNumber = w->id;
  return result;
}

}  // namespace uiglean::lx
