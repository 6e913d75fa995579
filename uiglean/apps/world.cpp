#include "uiglean/apps/world.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "uiglean/apps/windows.h"
#include "uiglean/front/commands.h"
#include "uiglean/front/output.h"

namespace uiglean {

void writeJson(JsonWriter& w, const WorldDisplay& d) {
  w.beginObject();
  field(w, "id", d.id);
  writeFrame(w, "frame", d.frame);
  field(w, "main", d.main);
  w.endObject();
}

void writeJson(JsonWriter& w, const WorldWindow& win) {
  w.beginObject();
  field(w, "windowId", win.windowId);
  field(w, "pid", win.pid);
  field(w, "app", win.app);
  field(w, "bundleId", win.bundleId);
  field(w, "title", win.title);
  writeFrame(w, "frame", win.frame);
  field(w, "display", win.display);
  field(w, "state", win.state);
  field(w, "minimized", win.minimized);
  field(w, "frontmost", win.frontmost);
  w.endObject();
}

void writeJson(JsonWriter& w, const WorldPayload& p) {
  w.beginObject();
  w.key("displays");
  w.beginArray();
  for (const auto& d : p.displays) writeJson(w, d);
  w.endArray();
  w.key("windows");
  w.beginArray();
  for (const auto& win : p.windows) writeJson(w, win);
  w.endArray();
  field(w, "frontApp", p.frontApp);
  field(w, "screenRecordingGranted", p.screenRecordingGranted);
  field(w, "elapsedMs", p.elapsedMs);
  w.endObject();
}

Rect standardized(const Rect& r) {
  Rect s = r;
  if (s.width < 0) {
    s.x += s.width;
    s.width = -s.width;
  }
  if (s.height < 0) {
    s.y += s.height;
    s.height = -s.height;
  }
  return s;
}

namespace {

Frame frameOfRect(const Rect& r) {
  Rect s = standardized(r);
  return Frame{s.x, s.y, s.width, s.height};
}

// The area of the overlap of two rectangles; 0 when they do not overlap or only touch.
double overlapArea(const Rect& a, const Rect& b) {
  Rect p = standardized(a), q = standardized(b);
  double width = std::min(p.x + p.width, q.x + q.width) - std::max(p.x, q.x);
  double height = std::min(p.y + p.height, q.y + q.height) - std::max(p.y, q.y);
  if (!(width > 0) || !(height > 0)) return 0;
  return width * height;
}

// A real of the window list: a real, or an integer (which counts as one).
std::optional<double> plistReal(const PlistValue* v) {
  if (!v) return std::nullopt;
  if (auto* d = std::get_if<double>(&v->v)) return *d;
  if (auto* i = std::get_if<std::int64_t>(&v->v)) return static_cast<double>(*i);
  return std::nullopt;
}

std::optional<std::int64_t> plistInteger(const PlistValue* v) {
  if (!v) return std::nullopt;
  if (auto* i = std::get_if<std::int64_t>(&v->v)) return *i;
  return std::nullopt;
}

const std::string* plistString(const PlistValue* v) {
  return v ? std::get_if<std::string>(&v->v) : nullptr;
}

Rect windowBounds(const PlistValue& window) {
  const PlistValue* bounds = plistLookup(window, "kCGWindowBounds");
  if (!bounds) return Rect{};
  auto component = [&](const char* key) {
    return plistReal(plistLookup(*bounds, key)).value_or(0);
  };
  return Rect{component("X"), component("Y"), component("Width"), component("Height")};
}

bool isFinite(const Rect& r) {
  return std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.width) &&
         std::isfinite(r.height);
}

// Whether the rectangle's frame can be written: finite as it is and once standardized (x + width
// overflows for a large negative width).
bool isWritable(const Rect& r) { return isFinite(r) && isFinite(standardized(r)); }

}  // namespace

std::optional<std::uint32_t> displayFor(const std::vector<DisplayEntry>& displays,
                                        const Rect& rect) {
  std::optional<std::uint32_t> best;
  double bestArea = 0;
  for (const auto& d : displays) {
    double area = overlapArea(d.bounds, rect);
    if (area > bestArea) {
      best = d.id;
      bestArea = area;
    }
  }
  return best;
}

void probeMinimized(MinimizedProbe& probe, std::int32_t pid) {
  if (!probe.probedPids.insert(pid).second) return;
  Element app = axCreateApplication(pid);
  axSetMessagingTimeout(app, MINIMIZED_PROBE_TIMEOUT);
  auto windows = attrElements(app, "AXWindows");
  if (!windows) return;
  for (const auto& window : *windows) {
    WindowNumberResult number = axGetWindowNumber(window);
    if (number.status != axerr::success) continue;
    CopyResult r = axCopyAttributeValue(window, "AXMinimized");
    bool minimized = false;
    if (r.status == axerr::success) {
      if (auto* n = std::get_if<Number>(&r.value)) minimized = n->value != 0;
    }
    probe.minimizedByWindow[number.windowNumber] = minimized;
  }
}

WorldPayload surveyWorld(double startedAt) {
  WorldPayload payload;

  std::vector<DisplayEntry> displays;
  for (std::uint32_t id : activeDisplayList(MAX_DISPLAYS)) {
    if (displays.size() >= MAX_DISPLAYS) break;
    Rect bounds = displayBounds(id);
    // Bounds that could not be written out (not finite, or overflowing once standardized) leave
    // the display out, as they do a window.
    if (!isWritable(bounds)) continue;
    displays.push_back(DisplayEntry{id, bounds});
  }
  std::uint32_t mainId = mainDisplayId();

  std::unordered_map<std::int32_t, RunningApp> appsByPid;
  for (auto& app : runningApplications()) appsByPid[app.pid] = std::move(app);
  std::optional<std::int32_t> frontPid;
  if (auto front = frontmostApplication()) frontPid = front->pid;

  PlistValue list = windowListCopyWindowInfo(windowListOptionAll | windowListExcludeDesktopElements,
                                             nullWindowId);
  static const PlistArray noWindows;
  const PlistArray* windows = std::get_if<PlistArray>(&list.v);
  if (!windows) windows = &noWindows;

  const std::int32_t selfPid = processId();
  MinimizedProbe probe;
  bool sawTitledWindow = false;
  for (const PlistValue& entry : *windows) {
    if (!std::holds_alternative<PlistDict>(entry.v)) continue;
    auto layer = plistInteger(plistLookup(entry, "kCGWindowLayer"));
    auto alpha = plistReal(plistLookup(entry, "kCGWindowAlpha"));
    const std::string* name = plistString(plistLookup(entry, "kCGWindowName"));
    if (!layer || *layer != 0 || !alpha || !(*alpha > 0) || !name || name->empty()) continue;
    sawTitledWindow = true;

    Rect rect = windowBounds(entry);
    Rect box = standardized(rect);
    // A rectangle that could not be written out is not listed.
    if (!isWritable(rect) || !(box.width >= MIN_WORLD_WINDOW_SIDE) ||
        !(box.height >= MIN_WORLD_WINDOW_SIDE)) {
      continue;
    }

    auto ownerPid = plistInteger(plistLookup(entry, "kCGWindowOwnerPID"));
    std::int32_t pid = 0;
    if (ownerPid && *ownerPid >= INT32_MIN && *ownerPid <= INT32_MAX) {
      pid = static_cast<std::int32_t>(*ownerPid);
    }
    if (pid == selfPid) continue;
    auto found = appsByPid.find(pid);
    if (found == appsByPid.end() || found->second.activationPolicy != 0) continue;
    const RunningApp& app = found->second;

    probeMinimized(probe, pid);

    WorldWindow win;
    win.windowId = plistInteger(plistLookup(entry, "kCGWindowNumber")).value_or(-1);
    const PlistValue* onscreenValue = plistLookup(entry, "kCGWindowIsOnscreen");
    const bool* onscreenFlag = onscreenValue ? std::get_if<bool>(&onscreenValue->v) : nullptr;
    bool onscreen = onscreenFlag && *onscreenFlag;
    if (auto m = probe.minimizedByWindow.find(win.windowId); m != probe.minimizedByWindow.end()) {
      win.minimized = m->second;
    }
    if (onscreen) {
      win.state = "visible";
    } else if (app.hidden) {
      win.state = "app-hidden";
    } else if (win.minimized == true) {
      win.state = "minimized";
    } else {
      win.state = "minimized-or-other-space";
    }
    if (app.localizedName) {
      win.app = *app.localizedName;
    } else if (const std::string* owner = plistString(plistLookup(entry, "kCGWindowOwnerName"))) {
      win.app = *owner;
    } else {
      win.app = "?";
    }
    win.pid = pid;
    win.bundleId = app.bundleIdentifier;
    win.title = *name;
    win.frame = frameOfRect(rect);
    win.display = displayFor(displays, rect);
    win.frontmost = frontPid && pid == *frontPid;
    payload.windows.push_back(std::move(win));
  }

  payload.screenRecordingGranted = sawTitledWindow || preflightScreenCaptureAccess();
  for (const auto& d : displays) {
    payload.displays.push_back(WorldDisplay{d.id, frameOfRect(d.bounds), d.id == mainId});
  }
  if (frontPid) {
    if (auto it = appsByPid.find(*frontPid); it != appsByPid.end()) {
      payload.frontApp = it->second.localizedName;
    }
  }
  double elapsed = (currentTime() - startedAt) * 1000.0;
  payload.elapsedMs =
      std::isfinite(elapsed) && elapsed > 0 ? static_cast<std::int64_t>(elapsed) : 0;
  return payload;
}

void cmdWorld() { emit(surveyWorld(currentTime())); }

}  // namespace uiglean
