#include "uiglean/ax/snapshot.h"

#include "uiglean/front/commands.h"
#include "uiglean/front/globals.h"
#include "uiglean/front/output.h"

namespace uiglean {

void writeJson(JsonWriter& w, const AXNode& n) {
  w.beginObject();
  field(w, "ref", n.ref);
  field(w, "role", n.role);
  field(w, "subrole", n.subrole);
  field(w, "title", n.title);
  field(w, "value", n.value);
  field(w, "desc", n.desc);
  field(w, "ident", n.ident);
  field(w, "enabled", n.enabled);
  field(w, "focused", n.focused);
  field(w, "selected", n.selected);
  field(w, "acts", n.acts);
  w.key("frame");
  w.beginArray();
  for (double d : n.frame) w.number(d);
  w.endArray();
  w.key("children");
  w.beginArray();
  for (const auto& c : n.children) writeJson(w, c);
  w.endArray();
  w.endObject();
}

void writeJson(JsonWriter& w, const AXPayload& p) {
  w.beginObject();
  field(w, "app", p.app);
  field(w, "bundleId", p.bundleId);
  field(w, "pid", p.pid);
  field(w, "frontWindow", p.frontWindow);
  field(w, "secureInput", p.secureInput);
  w.key("windows");
  w.beginArray();
  for (const auto& n : p.windows) writeJson(w, n);
  w.endArray();
  w.endObject();
}

std::optional<AXNode> dumpNode(const Element& element, const std::string& ref, std::int64_t depth) {
  if (depth > MAX_DEPTH) return std::nullopt;
  if (nodeCount >= MAX_NODES) return std::nullopt;
  // Out of time: the snapshot ends where the walk stood, as at the node limit.
  if (walkTimeIsUp()) return std::nullopt;
  ++nodeCount;

  AXNode node;
  node.ref = ref;
  node.role = attrString(element, "AXRole").value_or("unknown");

  // The element's own attributes come before its children, so that a walk cut short by the
  // run's time limit leaves every element it wrote complete.
  if (boolAttr(element, "AXEnabled") == std::optional<bool>(false)) node.enabled = false;
  if (boolAttr(element, "AXFocused") == std::optional<bool>(true)) node.focused = true;
  if (boolAttr(element, "AXSelected") == std::optional<bool>(true)) node.selected = true;

  node.subrole = nonEmpty(attrString(element, "AXSubrole"));
  node.title = nonEmpty(attrString(element, "AXTitle"));
  node.value = valueString(element);
  for (const char* name : {"AXDescription", "AXHelp", "AXPlaceholderValue"}) {
    node.desc = nonEmpty(attrString(element, name));
    if (node.desc) break;
  }
  node.ident = nonEmpty(attrString(element, "AXIdentifier"));
  node.acts = actionsOf(element);
  node.frame = frameOf(element);

  ElementList kids = children(element);
  for (std::size_t i = 0; i < kids.size(); ++i) {
    auto child = dumpNode(kids[i], ref + "." + std::to_string(i), depth + 1);
    if (child) node.children.push_back(std::move(*child));
  }
  return node;
}

std::vector<AXNode> snapshotWindows(const Element& app) {
  nodeCount = 0;
  ElementList windows = attrElements(app, "AXWindows").value_or(ElementList{});
  std::vector<AXNode> out;
  for (std::size_t i = 0; i < windows.size() && static_cast<std::int64_t>(i) < MAX_WINDOWS; ++i) {
    std::string ref = "w";
    ref += std::to_string(i);
    auto node = dumpNode(windows[i], ref, 0);
    if (node) out.push_back(std::move(*node));
  }
  return out;
}

std::int64_t frontWindowIndex(const Element& app, const std::vector<AXNode>& windows) {
  auto focused = attrElement(app, "AXFocusedWindow");
  if (!focused) return 0;
  Frame f = frameOf(*focused);
  for (std::size_t i = 0; i < windows.size(); ++i) {
    if (windows[i].frame == f) return static_cast<std::int64_t>(i);
  }
  return 0;
}

void cmdTree() {
  FrontApp front = requireFrontmostApp();
  enableFullAccessibility(front.element);
  axSetMessagingTimeout(front.element, 0.5f);

  std::vector<AXNode> windows;
  for (int attempt = 1; attempt <= 3; ++attempt) {
    windows = snapshotWindows(front.element);
    if (nodeCount > 1 || attempt == 3 || walkTimeIsUp()) break;
    sleepMicros(250000);
  }

  AXPayload payload;
  payload.frontWindow = frontWindowIndex(front.element, windows);
  payload.app = front.app.localizedName.value_or("unknown");
  payload.bundleId = front.app.bundleIdentifier;
  payload.pid = front.app.pid;
  payload.secureInput = isSecureEventInputEnabled();
  payload.windows = std::move(windows);
  emit(payload);
}

}  // namespace uiglean
