// "world": the displays and the titled windows of ordinary applications, from the window server.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "uiglean/ax/platform.h"
#include "uiglean/ax/readers.h"
#include "uiglean/front/json.h"

namespace uiglean {

inline constexpr std::uint32_t MAX_DISPLAYS = 16;
// A listed window is at least this wide and this high, in points.
inline constexpr double MIN_WORLD_WINDOW_SIDE = 120;
inline constexpr float MINIMIZED_PROBE_TIMEOUT = 0.25f;

struct WorldDisplay {
  std::uint32_t id = 0;
  Frame frame = ZERO_FRAME;
  bool main = false;
};

struct WorldWindow {
  std::int64_t windowId = -1;
  std::int32_t pid = 0;
  std::string app;
  std::optional<std::string> bundleId;
  std::string title;
  Frame frame = ZERO_FRAME;
  std::optional<std::uint32_t> display;
  std::string state;
  std::optional<bool> minimized;
  bool frontmost = false;
};

struct WorldPayload {
  std::vector<WorldDisplay> displays;
  std::vector<WorldWindow> windows;
  std::optional<std::string> frontApp;
  bool screenRecordingGranted = false;
  std::int64_t elapsedMs = 0;
};

void writeJson(JsonWriter& w, const WorldDisplay& d);
void writeJson(JsonWriter& w, const WorldWindow& win);
void writeJson(JsonWriter& w, const WorldPayload& p);

struct DisplayEntry {
  std::uint32_t id = 0;
  Rect bounds;
};

// The rectangle with a non-negative width and height covering the same points.
Rect standardized(const Rect& r);

// The display that shows the largest part of `rect`; on equal shares the earlier display. Nothing
// when the rectangle overlaps no display with a positive area.
std::optional<std::uint32_t> displayFor(const std::vector<DisplayEntry>& displays,
                                        const Rect& rect);

// What one run has learned about minimized windows.
struct MinimizedProbe {
  std::set<std::int32_t> probedPids;
  std::map<std::int64_t, bool> minimizedByWindow;
};

// Reads AXMinimized of each of the application's windows, once per process per run.
void probeMinimized(MinimizedProbe& probe, std::int32_t pid);

// The survey itself; `startedAt` is currentTime() at the start of the subcommand.
WorldPayload surveyWorld(double startedAt);

}  // namespace uiglean
