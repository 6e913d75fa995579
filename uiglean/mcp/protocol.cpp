#include "uiglean/mcp/protocol.h"

#include <algorithm>

#include "uiglean/mcp/tools.h"

namespace uiglean::mcp {

namespace {

const char* const kHandshakeVersions[] = {VERSION_2025_11, VERSION_2025_06};

bool isHandshakeVersion(const std::string& v) {
  return std::find(std::begin(kHandshakeVersions), std::end(kHandshakeVersions), v) !=
         std::end(kHandshakeVersions);
}

json supportedVersions() { return json::array({VERSION_2026_07, VERSION_2025_11, VERSION_2025_06}); }

json serverInfo() { return {{"name", SERVER_NAME}, {"version", SERVER_VERSION}}; }

const char* kInstructions =
    "Reads and drives the desktop's frontmost application through accessibility. Loop: take a "
    "snapshot with `tree` (format \"text\" and interactive true keep it small), act on an element "
    "by its ref (press, focus, setvalue, ...), call `settle` to wait until the interface is quiet, "
    "and take a new snapshot: refs are paths into the last snapshot and go stale when the "
    "interface changes.";

json capabilities() { return {{"tools", json::object()}}; }

// A request id as JSON-RPC and the protocol allow it: a string or an integer.
bool validId(const json& id) { return id.is_string() || id.is_number_integer() || id.is_number_unsigned(); }

// The request's _meta object, or null.
const json* metaOf(const json& params) {
  if (!params.is_object()) return nullptr;
  auto it = params.find("_meta");
  if (it == params.end() || !it->is_object()) return nullptr;
  return &*it;
}

struct Route {
  std::string version;  // empty: refused, `error` holds the reply
  std::optional<json> error;
};

// Which version a request speaks: the one its _meta names (stateless era), or the one the
// handshake settled on.
Route routeRequest(const Session& session, const json& id, const json& params) {
  const json* meta = metaOf(params);
  if (meta != nullptr && meta->contains(META_VERSION)) {
    const json& v = (*meta)[META_VERSION];
    if (!v.is_string()) {
      return {"", errorResponse(id, rpc::invalidParams, std::string(META_VERSION) + " must be a string")};
    }
    if (v.get<std::string>() != VERSION_2026_07) {
      return {"", errorResponse(id, rpc::unsupportedVersion, "Unsupported protocol version",
                                json{{"supported", supportedVersions()}, {"requested", v}})};
    }
    auto caps = meta->find(META_CAPABILITIES);
    if (caps == meta->end() || !caps->is_object()) {
      return {"", errorResponse(id, rpc::invalidParams,
                                std::string("_meta needs ") + META_CAPABILITIES + " (an object)")};
    }
    return {VERSION_2026_07, std::nullopt};
  }
  if (session.version) return {*session.version, std::nullopt};
  return {"", errorResponse(id, rpc::invalidParams,
                            std::string("no protocol version: send initialize first, or name the "
                                        "version in params._meta[\"") +
                                META_VERSION + "\"]")};
}

json initializeResult(Session& session, const json& id, const json& params) {
  if (!params.is_object() || !params.contains("protocolVersion") ||
      !params["protocolVersion"].is_string()) {
    return errorResponse(id, rpc::invalidParams, "initialize needs params.protocolVersion (a string)");
  }
  if (params.contains("capabilities") && !params["capabilities"].is_object()) {
    return errorResponse(id, rpc::invalidParams, "params.capabilities must be an object");
  }
  if (session.version) return errorResponse(id, rpc::invalidRequest, "already initialized");
  std::string asked = params["protocolVersion"].get<std::string>();
  // The client's version when spoken here, else the newest of the handshake era.
  std::string chosen = isHandshakeVersion(asked) ? asked : VERSION_2025_11;
  session.version = chosen;
  json result = {{"protocolVersion", chosen},
                 {"capabilities", capabilities()},
                 {"serverInfo", serverInfo()},
                 {"instructions", kInstructions}};
  return {{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}};
}

Handled handleRequest(Session& session, const json& id, const std::string& method,
                      const json& params) {
  Handled h;
  if (method == "initialize") {
    // A request of the stateless era never opens a handshake.
    const json* meta = metaOf(params);
    if (meta != nullptr && meta->contains(META_VERSION)) {
      h.replies.push_back(errorResponse(id, rpc::methodNotFound,
                                        "initialize is not part of the stateless protocol"));
      return h;
    }
    h.replies.push_back(initializeResult(session, id, params));
    return h;
  }
  if (method == "ping" && !(metaOf(params) && metaOf(params)->contains(META_VERSION))) {
    h.replies.push_back({{"jsonrpc", "2.0"}, {"id", id}, {"result", json::object()}});
    return h;
  }
  bool known = method == "server/discover" || method == "tools/list" || method == "tools/call";
  if (!known) {
    h.replies.push_back(errorResponse(id, rpc::methodNotFound, "Method not found: " + method));
    return h;
  }
  Route route = routeRequest(session, id, params);
  if (route.error) {
    h.replies.push_back(std::move(*route.error));
    return h;
  }
  const std::string& version = route.version;
  if (method == "server/discover") {
    if (version != VERSION_2026_07) {
      h.replies.push_back(errorResponse(id, rpc::methodNotFound, "Method not found: " + method));
      return h;
    }
    json result = {{"supportedVersions", supportedVersions()},
                   {"capabilities", capabilities()},
                   {"instructions", kInstructions},
                   {"ttlMs", 0},
                   {"cacheScope", "private"}};
    h.replies.push_back(resultResponse(id, std::move(result), version));
    return h;
  }
  if (method == "tools/list") {
    if (params.is_object() && params.contains("cursor") && !params["cursor"].is_string()) {
      h.replies.push_back(errorResponse(id, rpc::invalidParams, "cursor must be a string"));
      return h;
    }
    json result = {{"tools", toolList()}};
    if (version == VERSION_2026_07) {
      // The list never changes while the process runs.
      result["ttlMs"] = 3'600'000;
      result["cacheScope"] = "public";
    }
    h.replies.push_back(resultResponse(id, std::move(result), version));
    return h;
  }
  // tools/call
  if (!params.is_object() || !params.contains("name") || !params["name"].is_string()) {
    h.replies.push_back(errorResponse(id, rpc::invalidParams, "tools/call needs params.name (a string)"));
    return h;
  }
  std::string name = params["name"].get<std::string>();
  if (!knownTool(name)) {
    h.replies.push_back(errorResponse(id, rpc::invalidParams, "Unknown tool: " + name));
    return h;
  }
  ToolCall call;
  call.id = id;
  call.name = name;
  call.version = version;
  if (params.contains("arguments") && !params["arguments"].is_null()) {
    if (!params["arguments"].is_object()) {
      h.replies.push_back(errorResponse(id, rpc::invalidParams, "arguments must be an object"));
      return h;
    }
    call.arguments = params["arguments"];
  }
  if (const json* meta = metaOf(params); meta != nullptr && meta->contains("progressToken")) {
    const json& token = (*meta)["progressToken"];
    if (token.is_string() || token.is_number_integer() || token.is_number_unsigned()) {
      call.progressToken = token;
    }
  }
  h.call = std::move(call);
  return h;
}

void handleNotification(Session& session, const std::string& method, const json& params,
                        Handled& h) {
  if (method == "notifications/initialized") {
    if (session.version) session.initialized = true;
  } else if (method == "notifications/cancelled") {
    if (params.is_object() && params.contains("requestId") && validId(params["requestId"])) {
      h.cancelled = params["requestId"];
    }
  }
  // Every other notification is ignored, as notifications may be.
}

}  // namespace

bool nestsDeeperThan(std::string_view text, int limit) {
  int depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return true;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return false;
}

json errorResponse(const json& id, int code, const std::string& message,
                   const std::optional<json>& data) {
  json error = {{"code", code}, {"message", message}};
  if (data) error["data"] = *data;
  return {{"jsonrpc", "2.0"}, {"id", validId(id) ? id : json(nullptr)}, {"error", std::move(error)}};
}

json resultResponse(const json& id, json result, const std::string& version) {
  if (version == VERSION_2026_07) {
    result["resultType"] = "complete";
    result["_meta"] = {{META_SERVER_INFO, serverInfo()}};
  }
  return {{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}};
}

json toolCallResponse(const ToolCall& call, json result, bool isProtocolError) {
  if (isProtocolError) {
    return errorResponse(call.id, result.value("code", rpc::internalError),
                         result.value("message", std::string("internal error")));
  }
  return resultResponse(call.id, std::move(result), call.version);
}

json progressNotification(const json& token, double progress, const std::string& message) {
  return {{"jsonrpc", "2.0"},
          {"method", "notifications/progress"},
          {"params", {{"progressToken", token}, {"progress", progress}, {"message", message}}}};
}

std::string serialize(const json& message) {
  return message.dump(-1, ' ', false, json::error_handler_t::replace);
}

Handled handleLine(Session& session, std::string_view line) {
  Handled h;
  if (line.size() > MAX_MESSAGE_BYTES) {
    h.replies.push_back(errorResponse(nullptr, rpc::invalidRequest, "message too large"));
    return h;
  }
  if (nestsDeeperThan(line, MAX_NESTING)) {
    h.replies.push_back(errorResponse(nullptr, rpc::invalidRequest, "message nested too deeply"));
    return h;
  }
  json msg = json::parse(line.begin(), line.end(), nullptr, false);
  if (msg.is_discarded()) {
    h.replies.push_back(errorResponse(nullptr, rpc::parseError, "Parse error"));
    return h;
  }
  if (msg.is_array()) {
    h.replies.push_back(errorResponse(nullptr, rpc::invalidRequest, "batches are not supported"));
    return h;
  }
  if (!msg.is_object()) {
    h.replies.push_back(errorResponse(nullptr, rpc::invalidRequest, "a message is a JSON object"));
    return h;
  }
  bool hasId = msg.contains("id");
  json id = hasId ? msg["id"] : json(nullptr);
  auto jsonrpc = msg.find("jsonrpc");
  bool versionOk = jsonrpc != msg.end() && jsonrpc->is_string() && *jsonrpc == "2.0";
  auto method = msg.find("method");
  if (method == msg.end()) {
    // A response (the server asks nothing, so none is expected) or nothing recognisable.
    if (versionOk && hasId && (msg.contains("result") || msg.contains("error"))) return h;
    h.replies.push_back(errorResponse(id, rpc::invalidRequest, "Invalid Request"));
    return h;
  }
  if (!versionOk || !method->is_string() || (hasId && !validId(id))) {
    h.replies.push_back(errorResponse(id, rpc::invalidRequest, "Invalid Request"));
    return h;
  }
  json params = msg.contains("params") ? msg["params"] : json::object();
  std::string name = method->get<std::string>();
  if (!hasId) {
    handleNotification(session, name, params, h);
    return h;
  }
  if (!params.is_object()) {
    h.replies.push_back(errorResponse(id, rpc::invalidParams, "params must be an object"));
    return h;
  }
  try {
    return handleRequest(session, id, name, params);
  } catch (const std::exception&) {
    Handled failed;
    failed.replies.push_back(errorResponse(id, rpc::internalError, "internal error"));
    return failed;
  }
}

}  // namespace uiglean::mcp
