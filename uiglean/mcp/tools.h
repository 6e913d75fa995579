// The server's tools: one for each uiglean subcommand, run in-process with the subcommand's own
// semantics, its record returned as structured content and as text.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "uiglean/front/output.h"
#include "uiglean/mcp/protocol.h"

namespace uiglean::mcp {

// The tools/list array, in a fixed order.
const json& toolList();
bool knownTool(const std::string& name);

// Lower limits for one run's walk than the command line's.
struct WalkLimits {
  std::optional<std::int64_t> maxNodes;
};

// Runs one subcommand (its words, as on the command line) within `limits` and tells how it ended.
using Runner = std::function<RunOutcome(std::vector<std::string>, const WalkLimits&)>;

struct ToolAnswer {
  json result;                  // a CallToolResult, or {"code","message"} when protocolError
  bool protocolError = false;
};

// Checks the call's arguments against the tool, runs it through `run` and shapes the result.
// Arguments that do not fit are a JSON-RPC error in 2025-06-18 and a result with isError in later
// versions, as each version asks.
ToolAnswer callTool(const ToolCall& call, const Runner& run);

}  // namespace uiglean::mcp
