// The frontmost application's windows: listing them and bringing one to the front.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "uiglean/ax/readers.h"
#include "uiglean/front/json.h"

namespace uiglean {

struct WindowInfo {
  std::int64_t index = 0;  // position in AXWindows
  std::optional<std::string> title;
  Frame frame = ZERO_FRAME;
  std::optional<bool> main;   // only ever true
  std::optional<bool> modal;  // only ever true
};

struct WindowsPayload {
  std::string app;
  std::vector<WindowInfo> windows;
};

void writeJson(JsonWriter& w, const WindowInfo& info);
void writeJson(JsonWriter& w, const WindowsPayload& p);

// Writes a frame as a list of four numbers.
void writeFrame(JsonWriter& w, std::string_view key, const Frame& frame);

WindowInfo describeWindow(const Element& window, std::int64_t index);

// The window that a focuswindow argument names: entry n when the argument is a whole number in
// range, else the first window whose title contains the argument ignoring case.
std::optional<Element> chooseWindow(const ElementList& windows, const std::string& arg);

}  // namespace uiglean
