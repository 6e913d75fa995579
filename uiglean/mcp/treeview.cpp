#include "uiglean/mcp/treeview.h"

#include <set>
#include <string_view>

namespace uiglean::mcp {

using json = nlohmann::json;

namespace {

const std::set<std::string, std::less<>> kEditableRoles = {
    "AXTextField", "AXTextArea", "AXComboBox", "AXSlider", "AXIncrementor", "AXSearchField"};

// The node with that ref below `node` (itself included), or nullptr.
const json* findRef(const json& node, const std::string& ref) {
  auto r = node.find("ref");
  if (r != node.end() && r->is_string() && *r == ref) return &node;
  auto kids = node.find("children");
  if (kids == node.end() || !kids->is_array()) return nullptr;
  // Refs are paths: only the child whose ref is a prefix of the one sought can hold it.
  for (const auto& child : *kids) {
    auto cr = child.find("ref");
    if (cr == child.end() || !cr->is_string()) continue;
    const auto& cref = cr->get_ref<const std::string&>();
    if (ref == cref || (ref.size() > cref.size() && ref.compare(0, cref.size(), cref) == 0 &&
                        ref[cref.size()] == '.')) {
      return findRef(child, ref);
    }
  }
  return nullptr;
}

std::int64_t countNodes(const json& node) {
  std::int64_t n = 1;
  auto kids = node.find("children");
  if (kids != node.end() && kids->is_array()) {
    for (const auto& child : *kids) n += countNodes(child);
  }
  return n;
}

// Whether the node or anything below it can be acted on.
bool holdsInteractive(const json& node) {
  if (isInteractive(node)) return true;
  auto kids = node.find("children");
  if (kids == node.end() || !kids->is_array()) return false;
  for (const auto& child : *kids) {
    if (holdsInteractive(child)) return true;
  }
  return false;
}

struct Cutter {
  const TreeView& view;
  ViewResult& out;

  // A copy of `node` within the limits, or nothing when no node budget is left.
  std::optional<json> copy(const json& node, std::int64_t depth) {
    if (out.kept >= view.maxNodes) {
      out.omitted += countNodes(node);
      out.cutByNodes = true;
      return std::nullopt;
    }
    ++out.kept;
    json copied = json::object();
    for (auto it = node.begin(); it != node.end(); ++it) {
      if (it.key() != "children") copied[it.key()] = it.value();
    }
    json kids = json::array();
    auto src = node.find("children");
    if (src != node.end() && src->is_array()) {
      for (const auto& child : *src) {
        if (view.interactive && !holdsInteractive(child)) continue;
        if (depth >= view.maxDepth) {
          out.omitted += countNodes(child);
          out.cutByDepth = true;
          continue;
        }
        if (auto c = copy(child, depth + 1)) kids.push_back(std::move(*c));
      }
    }
    copied["children"] = std::move(kids);
    return copied;
  }
};

void quoted(std::string& out, const std::string& s) {
  out += json(s).dump(-1, ' ', false, json::error_handler_t::replace);
}

void textLines(const json& node, int depth, std::string& out) {
  out.append(static_cast<std::size_t>(depth) * 2, ' ');
  std::string role = node.value("role", std::string("?"));
  if (role.rfind("AX", 0) == 0 && role.size() > 2) role.erase(0, 2);
  out += role;
  if (node.contains("title") && node["title"].is_string()) {
    out += ' ';
    quoted(out, node["title"].get<std::string>());
  } else if (node.contains("desc") && node["desc"].is_string()) {
    out += ' ';
    quoted(out, node["desc"].get<std::string>());
  }
  if (node.contains("value") && node["value"].is_string()) {
    out += " = ";
    quoted(out, node["value"].get<std::string>());
  }
  out += ' ';
  out += node.value("ref", std::string("?"));
  if (node.value("enabled", true) == false) out += " disabled";
  if (node.value("focused", false)) out += " focused";
  if (node.value("selected", false)) out += " selected";
  if (node.contains("acts") && node["acts"].is_array()) {
    std::string acts;
    for (const auto& a : node["acts"]) {
      if (!a.is_string()) continue;
      if (!acts.empty()) acts += ',';
      acts += a.get<std::string>();
    }
    if (!acts.empty()) out += " [" + acts + "]";
  }
  out += '\n';
  auto kids = node.find("children");
  if (kids == node.end() || !kids->is_array()) return;
  for (const auto& child : *kids) textLines(child, depth + 1, out);
}

}  // namespace

std::int64_t snapshotNodes(const json& payload) {
  std::int64_t n = 0;
  auto windows = payload.find("windows");
  if (windows != payload.end() && windows->is_array()) {
    for (const auto& w : *windows) n += countNodes(w);
  }
  return n;
}

bool isInteractive(const json& node) {
  auto acts = node.find("acts");
  if (acts != node.end() && acts->is_array() && !acts->empty()) return true;
  auto role = node.find("role");
  return role != node.end() && role->is_string() &&
         kEditableRoles.count(role->get_ref<const std::string&>()) != 0 &&
         node.value("enabled", true);
}

ViewResult applyView(const json& payload, const TreeView& view) {
  ViewResult out;
  out.payload = payload;
  json tops = json::array();
  const json& windows = payload.contains("windows") && payload["windows"].is_array()
                            ? payload["windows"]
                            : json::array();
  if (view.root) {
    const json* found = nullptr;
    for (const auto& w : windows) {
      if ((found = findRef(w, *view.root)) != nullptr) break;
    }
    if (found == nullptr) {
      out.rootFound = false;
      out.payload["windows"] = json::array();
      return out;
    }
    tops.push_back(*found);
  } else {
    tops = windows;
  }
  Cutter cutter{view, out};
  json kept = json::array();
  for (const auto& top : tops) {
    if (auto c = cutter.copy(top, 0)) kept.push_back(std::move(*c));
  }
  out.payload["windows"] = std::move(kept);
  return out;
}

std::string textForm(const json& payload) {
  std::string out = "app ";
  quoted(out, payload.value("app", std::string()));
  out += " pid " + std::to_string(payload.value("pid", 0));
  out += " frontWindow " + std::to_string(payload.value("frontWindow", 0));
  if (payload.value("secureInput", false)) out += " secureInput";
  out += '\n';
  if (payload.contains("windows") && payload["windows"].is_array()) {
    for (const auto& w : payload["windows"]) textLines(w, 0, out);
  }
  return out;
}

}  // namespace uiglean::mcp
