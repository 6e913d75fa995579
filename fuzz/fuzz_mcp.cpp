// The MCP server's message reader and dispatcher, over any bytes: each line is one message to one
// session, and each tool call handed on is run against a stand-in for the subcommands that
// answers a snapshot. Every reply must be one JSON-RPC response on one line, requests get exactly
// one answer or are handed on, notifications and responses get none, and tool results have the
// protocol's shape.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "uiglean/mcp/protocol.h"
#include "uiglean/mcp/tools.h"

namespace {

using uiglean::RunOutcome;
using namespace uiglean::mcp;

const int kCodes[] = {rpc::parseError,     rpc::invalidRequest, rpc::methodNotFound,
                      rpc::invalidParams,  rpc::internalError,  rpc::unsupportedVersion};

void checkReply(const json& reply) {
  FUZZ_CHECK(reply.is_object());
  FUZZ_CHECK(reply.value("jsonrpc", "") == "2.0");
  FUZZ_CHECK(reply.contains("id"));
  const json& id = reply["id"];
  FUZZ_CHECK(id.is_null() || id.is_string() || id.is_number_integer() || id.is_number_unsigned());
  FUZZ_CHECK(reply.contains("result") != reply.contains("error"));
  if (reply.contains("error")) {
    int code = reply["error"].at("code").get<int>();
    FUZZ_CHECK(std::find(std::begin(kCodes), std::end(kCodes), code) != std::end(kCodes));
    FUZZ_CHECK(reply["error"].at("message").is_string());
  } else {
    FUZZ_CHECK(reply["result"].is_object());
  }
  std::string line = serialize(reply);
  FUZZ_CHECK(line.find('\n') == std::string::npos);
  FUZZ_CHECK(fuzzcheck::isValidUtf8(line));
  FUZZ_CHECK(json::parse(line, nullptr, false).is_object());
}

// What the line is, read independently: a request (an id of an allowed kind and a method), a
// notification, or something else.
enum class Kind { request, notification, other };

Kind kindOf(std::string_view line) {
  if (line.size() > MAX_MESSAGE_BYTES || nestsDeeperThan(line, MAX_NESTING)) return Kind::other;
  json m = json::parse(line.begin(), line.end(), nullptr, false);
  if (m.is_discarded() || !m.is_object() || m.value("jsonrpc", json()) != "2.0") return Kind::other;
  if (!m.contains("method") || !m["method"].is_string()) return Kind::other;
  if (!m.contains("id")) return Kind::notification;
  const json& id = m["id"];
  return id.is_string() || id.is_number_integer() || id.is_number_unsigned() ? Kind::request
                                                                           : Kind::other;
}

const char* kSnapshot =
    R"({"app":"A","pid":1,"frontWindow":0,"secureInput":false,"windows":[{"ref":"w0","role":)"
    R"("AXWindow","frame":[0,0,1,1],"children":[{"ref":"w0.0","role":"AXButton","title":"B",)"
    R"("acts":["Press"],"frame":[0,0,1,1],"children":[]}]}]})";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  Session session;
  std::size_t start = 0;
  while (start <= input.size()) {
    std::size_t nl = input.find('\n', start);
    std::string_view line = input.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start);
    Handled h = handleLine(session, line);
    for (const auto& r : h.replies) checkReply(r);
    switch (kindOf(line)) {
      case Kind::request:
        FUZZ_CHECK(h.replies.size() + (h.call ? 1 : 0) == 1);
        break;
      case Kind::notification:
        FUZZ_CHECK(h.replies.empty() && !h.call);
        break;
      case Kind::other:
        FUZZ_CHECK(!h.call && h.replies.size() <= 1);
        break;
    }
    if (h.call) {
      FUZZ_CHECK(knownTool(h.call->name));
      FUZZ_CHECK(h.call->arguments.is_object());
      bool ran = false;
      ToolAnswer a = callTool(*h.call, [&](std::vector<std::string> words, const WalkLimits& limits) {
        FUZZ_CHECK(!limits.maxNodes || (*limits.maxNodes > 1 && *limits.maxNodes <= 4001));
        ran = true;
        FUZZ_CHECK(!words.empty() && words[0] == h.call->name);
        for (const auto& w : words) FUZZ_CHECK(w.find('\0') == std::string::npos);
        return h.call->name == "tree" ? RunOutcome{0, kSnapshot, ""} : RunOutcome{5, "", "no"};
      });
      json reply = toolCallResponse(*h.call, a.result, a.protocolError);
      checkReply(reply);
      if (!a.protocolError) {
        const json& result = reply["result"];
        FUZZ_CHECK(result.at("content").is_array() && !result["content"].empty());
        FUZZ_CHECK(result.at("isError").is_boolean());
        FUZZ_CHECK(ran || result["isError"] == true);
      } else {
        FUZZ_CHECK(!ran);
      }
    }
    if (nl == std::string_view::npos) break;
    start = nl + 1;
  }
  return 0;
}
