// The message reader and dispatcher: handshake and stateless eras, and every malformed shape.
#include "uiglean/mcp/protocol.h"

#include <gtest/gtest.h>

namespace uiglean::mcp {
namespace {

json only(const Handled& h) {
  EXPECT_EQ(h.replies.size(), 1u);
  return h.replies.empty() ? json() : h.replies[0];
}

json request(const json& id, const std::string& method, json params = json::object()) {
  return {{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", std::move(params)}};
}

json modernMeta(const std::string& version = VERSION_2026_07) {
  return {{META_VERSION, version}, {META_CAPABILITIES, json::object()}};
}

Handled send(Session& s, const json& message) { return handleLine(s, message.dump()); }

int errorCode(const json& reply) { return reply.at("error").at("code").get<int>(); }

TEST(Handshake, NegotiatesTheVersionOnceAndServesItAfterwards) {
  struct Case {
    const char* asked;
    const char* answered;
  };
  for (Case c : {Case{"2025-06-18", "2025-06-18"}, Case{"2025-11-25", "2025-11-25"},
                 Case{"2024-11-05", "2025-11-25"}, Case{"2026-07-28", "2025-11-25"},
                 Case{"not a version", "2025-11-25"}}) {
    Session s;
    json r = only(send(s, request(1, "initialize",
                                  {{"protocolVersion", c.asked}, {"capabilities", json::object()},
                                   {"clientInfo", {{"name", "t"}, {"version", "1"}}}})));
    EXPECT_EQ(r["result"]["protocolVersion"], c.answered) << c.asked;
    EXPECT_EQ(r["result"]["serverInfo"]["name"], SERVER_NAME);
    EXPECT_TRUE(r["result"]["capabilities"].contains("tools"));
    EXPECT_FALSE(r["result"].contains("resultType"));
    EXPECT_TRUE(send(s, {{"jsonrpc", "2.0"}, {"method", "notifications/initialized"}}).replies.empty());
    json list = only(send(s, request("a", "tools/list")));
    EXPECT_EQ(list["id"], "a");
    EXPECT_EQ(list["result"]["tools"].size(), 19u);
    EXPECT_FALSE(list["result"].contains("resultType"));
    // A second handshake is refused; the first one stands.
    EXPECT_EQ(errorCode(only(send(s, request(2, "initialize", {{"protocolVersion", "2025-06-18"}})))),
              rpc::invalidRequest);
    EXPECT_EQ(*s.version, c.answered);
  }
}

TEST(Handshake, RequestsBeforeItNeedAVersionButPingDoesNot) {
  Session s;
  json r = only(send(s, request(7, "tools/list")));
  EXPECT_EQ(errorCode(r), rpc::invalidParams);
  EXPECT_EQ(r["id"], 7);
  EXPECT_EQ(only(send(s, request(8, "ping")))["result"], json::object());
  EXPECT_EQ(errorCode(only(send(s, request(9, "initialize", {{"protocolVersion", 20250618}})))),
            rpc::invalidParams);
  EXPECT_EQ(errorCode(only(send(s, request(9, "initialize")))), rpc::invalidParams);
  EXPECT_FALSE(s.version.has_value());
  // server/discover belongs to the stateless era only.
  ASSERT_TRUE(send(s, request(1, "initialize", {{"protocolVersion", "2025-11-25"}})).replies.size() == 1);
  EXPECT_EQ(errorCode(only(send(s, request(10, "server/discover")))), rpc::methodNotFound);
}

TEST(Stateless, EveryRequestCarriesItsVersionAndCapabilities) {
  Session s;
  json list = only(send(s, request(1, "tools/list", {{"_meta", modernMeta()}})));
  EXPECT_EQ(list["result"]["resultType"], "complete");
  EXPECT_EQ(list["result"]["_meta"][META_SERVER_INFO]["name"], SERVER_NAME);
  EXPECT_GE(list["result"]["ttlMs"].get<int>(), 0);
  EXPECT_TRUE(list["result"]["cacheScope"] == "public" || list["result"]["cacheScope"] == "private");
  EXPECT_FALSE(s.version.has_value()) << "no state is kept";

  json discover = only(send(s, request(2, "server/discover", {{"_meta", modernMeta()}})));
  EXPECT_EQ(discover["result"]["supportedVersions"][0], VERSION_2026_07);
  EXPECT_EQ(discover["result"]["resultType"], "complete");
  EXPECT_TRUE(discover["result"].contains("ttlMs"));

  for (const char* version : {"1900-01-01", "2025-11-25", "2026-07-29"}) {
    json r = only(send(s, request(3, "tools/list", {{"_meta", modernMeta(version)}})));
    EXPECT_EQ(errorCode(r), rpc::unsupportedVersion) << version;
    EXPECT_EQ(r["error"]["data"]["requested"], version);
    EXPECT_EQ(r["error"]["data"]["supported"][0], VERSION_2026_07);
  }
  json noCaps = {{META_VERSION, VERSION_2026_07}};
  EXPECT_EQ(errorCode(only(send(s, request(4, "tools/list", {{"_meta", noCaps}})))), rpc::invalidParams);
  json badVersion = {{META_VERSION, 2026}, {META_CAPABILITIES, json::object()}};
  EXPECT_EQ(errorCode(only(send(s, request(5, "tools/list", {{"_meta", badVersion}})))),
            rpc::invalidParams);
  // ping and initialize are not part of it.
  EXPECT_EQ(errorCode(only(send(s, request(6, "ping", {{"_meta", modernMeta()}})))), rpc::methodNotFound);
  EXPECT_EQ(errorCode(only(send(s, request(7, "initialize", {{"_meta", modernMeta()},
                                                            {"protocolVersion", "2025-11-25"}})))),
            rpc::methodNotFound);
  EXPECT_FALSE(s.version.has_value());
}

TEST(Messages, MalformedInputGetsTheJsonRpcErrorWithTheIdWhenOneIsReadable) {
  Session s;
  struct Case {
    std::string line;
    int code;
    json id;
  };
  std::string deep(100, '[');
  const std::vector<Case> cases = {
      {"{", rpc::parseError, nullptr},
      {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"} trailing", rpc::parseError, nullptr},
      {"\"jsonrpc\"", rpc::invalidRequest, nullptr},
      {"[{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}]", rpc::invalidRequest, nullptr},
      {"{\"jsonrpc\":\"1.0\",\"id\":3,\"method\":\"ping\"}", rpc::invalidRequest, 3},
      {"{\"id\":3,\"method\":\"ping\"}", rpc::invalidRequest, 3},
      {"{\"jsonrpc\":\"2.0\",\"id\":\"x\",\"method\":42}", rpc::invalidRequest, "x"},
      {"{\"jsonrpc\":\"2.0\",\"id\":null,\"method\":\"ping\"}", rpc::invalidRequest, nullptr},
      {"{\"jsonrpc\":\"2.0\",\"id\":1.5,\"method\":\"ping\"}", rpc::invalidRequest, nullptr},
      {"{\"jsonrpc\":\"2.0\",\"id\":{\"a\":1},\"method\":\"ping\"}", rpc::invalidRequest, nullptr},
      {"{\"jsonrpc\":\"2.0\",\"id\":4}", rpc::invalidRequest, 4},
      {"{\"jsonrpc\":\"2.0\",\"id\":5,\"method\":\"ping\",\"params\":[1]}", rpc::invalidParams, 5},
      {"{\"jsonrpc\":\"2.0\",\"id\":6,\"method\":\"resources/list\"}", rpc::methodNotFound, 6},
      {"{\"jsonrpc\":\"2.0\",\"id\":7,\"method\":\"tools/call\",\"params\":{\"name\":\"x\"}}",
       rpc::invalidParams, 7},
      {"{\"jsonrpc\":\"2.0\",\"id\":\"\\ud800\",\"method\":\"ping\"}", rpc::parseError, nullptr},
      {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"p\xff\"}", rpc::parseError, nullptr},
      {deep, rpc::invalidRequest, nullptr},
      {std::string(MAX_MESSAGE_BYTES + 1, ' '), rpc::invalidRequest, nullptr},
  };
  for (const auto& c : cases) {
    json r = only(handleLine(s, c.line));
    EXPECT_EQ(errorCode(r), c.code) << c.line.substr(0, 80);
    EXPECT_EQ(r["id"], c.id) << c.line.substr(0, 80);
    EXPECT_EQ(r["jsonrpc"], "2.0");
    EXPECT_EQ(serialize(r).find('\n'), std::string::npos);
  }
}

TEST(Messages, NotificationsAndResponsesAreNeverAnswered) {
  Session s;
  for (const char* line :
       {R"({"jsonrpc":"2.0","method":"notifications/whatever"})",
        R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":"x"})",
        R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":null}})",
        R"({"jsonrpc":"2.0","method":"tools/call","params":{"name":"tree"}})",
        R"({"jsonrpc":"2.0","id":3,"result":{}})",
        R"({"jsonrpc":"2.0","id":3,"error":{"code":1,"message":"m"}})"}) {
    Handled h = handleLine(s, line);
    EXPECT_TRUE(h.replies.empty()) << line;
    EXPECT_FALSE(h.call.has_value()) << line;
    EXPECT_FALSE(h.cancelled.has_value()) << line;
  }
  Handled c = handleLine(s, R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":"r1","reason":"x"}})");
  ASSERT_TRUE(c.cancelled.has_value());
  EXPECT_EQ(*c.cancelled, "r1");
}

TEST(ToolCalls, AreHandedOnWithTheirVersionArgumentsAndProgressToken) {
  Session s;
  ASSERT_EQ(send(s, request(1, "initialize", {{"protocolVersion", "2025-06-18"}})).replies.size(), 1u);
  Handled h = send(s, request(9, "tools/call",
                              {{"name", "press"},
                               {"arguments", {{"ref", "w0.1"}}},
                               {"_meta", {{"progressToken", "p"}}}}));
  EXPECT_TRUE(h.replies.empty());
  ASSERT_TRUE(h.call.has_value());
  EXPECT_EQ(h.call->id, 9);
  EXPECT_EQ(h.call->name, "press");
  EXPECT_EQ(h.call->arguments["ref"], "w0.1");
  EXPECT_EQ(*h.call->progressToken, "p");
  EXPECT_EQ(h.call->version, VERSION_2025_06);

  Handled noArgs = send(s, request(10, "tools/call", {{"name", "windows"}, {"arguments", nullptr}}));
  ASSERT_TRUE(noArgs.call.has_value());
  EXPECT_EQ(noArgs.call->arguments, json::object());
  EXPECT_FALSE(noArgs.call->progressToken.has_value());

  EXPECT_EQ(errorCode(only(send(s, request(11, "tools/call", {{"name", "press"}, {"arguments", "w0"}})))),
            rpc::invalidParams);
  EXPECT_EQ(errorCode(only(send(s, request(12, "tools/call", {{"name", 3}})))), rpc::invalidParams);
  json modern = request(13, "tools/call", {{"name", "tree"}, {"_meta", modernMeta()}});
  Handled m = send(s, modern);
  ASSERT_TRUE(m.call.has_value());
  EXPECT_EQ(m.call->version, VERSION_2026_07);

  json answer = toolCallResponse(*m.call, {{"content", json::array()}}, false);
  EXPECT_EQ(answer["result"]["resultType"], "complete");
  json failed = toolCallResponse(*h.call, {{"code", rpc::invalidParams}, {"message", "bad"}}, true);
  EXPECT_EQ(errorCode(failed), rpc::invalidParams);
  EXPECT_EQ(failed["id"], 9);
}

TEST(Messages, SerializedRepliesStayOneValidLine) {
  json m = {{"text", std::string("a\nb\xff\"c\x01")}};
  std::string line = serialize(m);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  json back = json::parse(line);
  EXPECT_EQ(back["text"], "a\nb\xEF\xBF\xBD\"c\x01");
  EXPECT_FALSE(nestsDeeperThan(R"({"a":"[[[[[[[[[[[[[[["})", 3));
  EXPECT_FALSE(nestsDeeperThan(R"({"a":"\"[[[[[[[[[[[[[["})", 3));
  EXPECT_TRUE(nestsDeeperThan("[[[[", 3));
  EXPECT_FALSE(nestsDeeperThan("[[[]]]", 3));
}

}  // namespace
}  // namespace uiglean::mcp
