// "windows" and "focuswindow".
#include "uiglean/apps/windows.h"

#include "uiglean/front/casefold.h"
#include "uiglean/front/commands.h"
#include "uiglean/front/globals.h"
#include "uiglean/front/output.h"
#include "uiglean/front/text.h"

namespace uiglean {

void writeFrame(JsonWriter& w, std::string_view key, const Frame& frame) {
  w.key(key);
  w.beginArray();
  for (double d : frame) w.number(d);
  w.endArray();
}

void writeJson(JsonWriter& w, const WindowInfo& info) {
  w.beginObject();
  field(w, "index", info.index);
  field(w, "title", info.title);
  writeFrame(w, "frame", info.frame);
  field(w, "main", info.main);
  field(w, "modal", info.modal);
  w.endObject();
}

void writeJson(JsonWriter& w, const WindowsPayload& p) {
  w.beginObject();
  field(w, "app", p.app);
  w.key("windows");
  w.beginArray();
  for (const auto& info : p.windows) writeJson(w, info);
  w.endArray();
  w.endObject();
}

WindowInfo describeWindow(const Element& window, std::int64_t index) {
  WindowInfo info;
  info.index = index;
  info.title = nonEmpty(attrString(window, "AXTitle"));
  info.frame = frameOf(window);
  if (boolAttr(window, "AXMain") == true) info.main = true;
  if (boolAttr(window, "AXModal") == true) info.modal = true;
  return info;
}

std::optional<Element> chooseWindow(const ElementList& windows, const std::string& arg) {
  if (auto n = parseInt64(arg); n && *n >= 0 && static_cast<std::uint64_t>(*n) < windows.size()) {
    return windows[static_cast<std::size_t>(*n)];
  }
  for (const auto& window : windows) {
    auto title = attrString(window, "AXTitle");
    if (title && containsIgnoringCase(*title, arg)) return window;
  }
  return std::nullopt;
}

void cmdWindows() {
  FrontApp front = requireFrontmostApp();
  axSetMessagingTimeout(front.element, 1.0f);
  ElementList windows = attrElements(front.element, "AXWindows").value_or(ElementList{});
  WindowsPayload payload;
  for (std::size_t i = 0; i < windows.size() && static_cast<std::int64_t>(i) < MAX_WINDOWS; ++i) {
    payload.windows.push_back(describeWindow(windows[i], static_cast<std::int64_t>(i)));
  }
  payload.app = front.app.localizedName.value_or("unknown");
  emit(payload);
}

void cmdFocusWindow() {
  if (args.size() < 2) fail("focuswindow needs an index or a title substring", 5);
  FrontApp front = requireFrontmostApp();
  axSetMessagingTimeout(front.element, 4.0f);
  ElementList windows = attrElements(front.element, "AXWindows").value_or(ElementList{});
  const std::string& arg = args[1];

  auto window = chooseWindow(windows, arg);
  if (!window) emit(errorResult("no window matching \"" + arg + "\""));
  activateApplication(front.app, activateAllWindows);
  axSetAttributeValue(*window, "AXMain", Number{1, true, true});
  std::int32_t code = axPerformAction(*window, "AXRaise");
  if (code != axerr::success) emit(errorResult("AXRaise failed (" + std::to_string(code) + ")"));
  emit(okResult());
}

}  // namespace uiglean
