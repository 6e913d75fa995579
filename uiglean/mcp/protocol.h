// The server's side of the Model Context Protocol over newline-delimited JSON-RPC 2.0: reading
// one message, answering what needs no application, and handing tool calls to the caller.
//
// Two eras are spoken. The handshake era (2025-06-18, 2025-11-25): an `initialize` request picks
// the version for the rest of the process. The stateless era (2026-07-28): every request names
// its version and the client's capabilities in `params._meta`, no handshake, `server/discover`
// describes the server, and every result carries `resultType`.
//
// Everything here is plain functions over nlohmann::json, without input or output of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace uiglean::mcp {

using json = nlohmann::json;

inline constexpr const char* SERVER_NAME = "uiglean-mcp";
inline constexpr const char* SERVER_VERSION = "0.1.0";

inline constexpr const char* VERSION_2025_06 = "2025-06-18";
inline constexpr const char* VERSION_2025_11 = "2025-11-25";
inline constexpr const char* VERSION_2026_07 = "2026-07-28";

inline constexpr const char* META_VERSION = "io.modelcontextprotocol/protocolVersion";
inline constexpr const char* META_CAPABILITIES = "io.modelcontextprotocol/clientCapabilities";
inline constexpr const char* META_SERVER_INFO = "io.modelcontextprotocol/serverInfo";

// JSON-RPC and protocol error codes.
namespace rpc {
inline constexpr int parseError = -32700;
inline constexpr int invalidRequest = -32600;
inline constexpr int methodNotFound = -32601;
inline constexpr int invalidParams = -32602;
inline constexpr int internalError = -32603;
inline constexpr int unsupportedVersion = -32022;
}  // namespace rpc

// Longest message read, in bytes (a screenshot's path or a value to type fits many times over);
// a longer line is answered with an error and skipped. Deeper nesting than MAX_NESTING is
// refused before it is parsed.
inline constexpr std::size_t MAX_MESSAGE_BYTES = 4u << 20;
inline constexpr int MAX_NESTING = 64;

// What the process has agreed with a client of the handshake era.
struct Session {
  // The version `initialize` settled on; none before it.
  std::optional<std::string> version;
  bool initialized = false;  // notifications/initialized arrived
};

// A tools/call to be run where the platform lives (one at a time, in arrival order).
struct ToolCall {
  json id;
  std::string name;
  json arguments = json::object();
  std::optional<json> progressToken;
  std::string version;  // the protocol version the call was made in
};

// The outcome of one incoming line.
struct Handled {
  std::vector<json> replies;         // to write now, in order
  std::optional<ToolCall> call;      // to run, then answer with toolCallResponse
  std::optional<json> cancelled;     // a notifications/cancelled named this request id
};

// One line (without its newline). Never throws for any input.
Handled handleLine(Session& session, std::string_view line);

// Whether `text`'s arrays and objects nest deeper than `limit` (strings are skipped properly;
// the text need not be valid JSON).
bool nestsDeeperThan(std::string_view text, int limit);

json errorResponse(const json& id, int code, const std::string& message,
                   const std::optional<json>& data = std::nullopt);
json resultResponse(const json& id, json result, const std::string& version);
// The response to a finished tool call: `result` is a CallToolResult, or a JSON-RPC error
// object ({"code","message"}) when `isProtocolError`.
json toolCallResponse(const ToolCall& call, json result, bool isProtocolError);
json progressNotification(const json& token, double progress, const std::string& message);

// A message as one line of text: compact, invalid UTF-8 replaced, no raw newline.
std::string serialize(const json& message);

}  // namespace uiglean::mcp
