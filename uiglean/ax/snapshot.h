// The snapshot: the frontmost application's first windows as trees of nodes, each with its ref.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "uiglean/ax/readers.h"
#include "uiglean/front/json.h"

namespace uiglean {

struct AXNode {
  std::string ref;
  std::string role;
  std::optional<std::string> subrole;
  std::optional<std::string> title;
  std::optional<std::string> value;
  std::optional<std::string> desc;
  std::optional<std::string> ident;
  std::optional<bool> enabled;   // only ever false
  std::optional<bool> focused;   // only ever true
  std::optional<bool> selected;  // only ever true
  std::optional<std::vector<std::string>> acts;
  Frame frame = ZERO_FRAME;
  std::vector<AXNode> children;
};

struct AXPayload {
  std::string app;
  std::optional<std::string> bundleId;
  std::int32_t pid = 0;
  std::int64_t frontWindow = 0;
  bool secureInput = false;
  std::vector<AXNode> windows;
};

void writeJson(JsonWriter& w, const AXNode& n);
void writeJson(JsonWriter& w, const AXPayload& p);

// One node and what lies below it, or nothing when a limit stops it (no attribute is read then).
std::optional<AXNode> dumpNode(const Element& element, const std::string& ref, std::int64_t depth);

// One attempt: nodeCount reset, the first MAX_WINDOWS windows dumped.
std::vector<AXNode> snapshotWindows(const Element& app);

// The index of the first window whose frame equals the focused window's frame, else 0.
std::int64_t frontWindowIndex(const Element& app, const std::vector<AXNode>& windows);

}  // namespace uiglean
