// Narrowing a snapshot for a client with a small context: one subtree, fewer levels, fewer nodes,
// only what can be acted on, and a compact text form. All of it works on the snapshot's JSON
// (the "tree" subcommand's record), after the walk.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace uiglean::mcp {

struct TreeView {
  std::optional<std::string> root;  // a ref: that node and what lies below it only
  std::int64_t maxNodes = 0;        // nodes kept at most (preorder), > 0
  std::int64_t maxDepth = 0;        // levels below the top node kept, >= 0
  bool interactive = false;         // only elements with actions or editable values, and their ancestors
};

struct ViewResult {
  nlohmann::json payload;  // the record with its "windows" narrowed
  bool rootFound = true;
  std::int64_t kept = 0;
  std::int64_t omitted = 0;  // nodes left out by maxNodes or maxDepth
  bool cutByNodes = false;
  bool cutByDepth = false;
};

// The nodes of a snapshot record, windows included.
std::int64_t snapshotNodes(const nlohmann::json& payload);

// Whether an element can be acted on: it has actions, or a value that can be edited.
bool isInteractive(const nlohmann::json& node);

// Applies `view` to a snapshot record; nodes keep their refs, so refs stay valid for actions.
ViewResult applyView(const nlohmann::json& payload, const TreeView& view);

// One line per element: two spaces per level, the role without its "AX", the title (or
// description) and the value quoted, the ref, flags and actions. The first line names the
// application.
std::string textForm(const nlohmann::json& payload);

}  // namespace uiglean::mcp
