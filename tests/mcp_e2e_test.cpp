// uiglean-mcp-scripted as a client sees it: a child process spoken to over its standard input
// and output, one message a line.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "tests/harness.h"
#include "tests/mcp_process.h"

namespace {

using nlohmann::json;
using testing_harness::binaryPath;
using testing_harness::McpProcess;
using testing_harness::tempDir;

// tests/data/demo.json: Notes, whose Save button (w0.0) sets the status label (w0.2) and tells so
// 30 ms later.
std::string demoScene() { return testing_harness::readFile(testing_harness::dataPath("demo.json")); }

// The scripted server on `scene`, its run-loop waits paced on the wall clock.
struct Server : McpProcess {
  // The scene is a copy: the demo scene persists what runs do to it.
  explicit Server(const std::string& scene) : McpProcess(binaryPath("uiglean-mcp-scripted"), env(scene)) {}
  static std::vector<std::string> env(const std::string& scene) {
    std::string path = tempDir() + "/scene.json";
    std::ofstream(path) << scene;
    return {"UIGLEAN_SCENE=" + path, "UIGLEAN_SCENE_PACE=1"};
  }
};

json request(const json& id, const std::string& method, json params = json::object()) {
  return testing_harness::mcpRequest(id, method, std::move(params));
}
json call(const json& id, const std::string& tool, json args = json::object(), json meta = nullptr) {
  return testing_harness::mcpToolCall(id, tool, std::move(args), std::move(meta));
}

void handshake(Server& s, const char* version = "2025-11-25") {
  s.send(request(0, "initialize", {{"protocolVersion", version}, {"capabilities", json::object()},
                                   {"clientInfo", {{"name", "e2e"}, {"version", "1"}}}}));
  ASSERT_EQ(s.response(0)["result"]["protocolVersion"], version);
  s.send({{"jsonrpc", "2.0"}, {"method", "notifications/initialized"}});
}

TEST(McpServer, DrivesTheSceneThroughToolsAndKeepsServingAfterBadInput) {
  Server s(demoScene());
  handshake(s);
  s.writeRaw("{not json\n\n[1,2]\n" + std::string(5 << 20, 'x') + "\n");
  EXPECT_EQ(s.message()["error"]["code"], -32700);
  EXPECT_EQ(s.message()["error"]["code"], -32600);
  EXPECT_EQ(s.message()["error"]["code"], -32600);

  s.send(call(1, "tree", {{"format", "text"}}));
  json tree = s.response(1);
  EXPECT_EQ(tree["result"]["isError"], false);
  EXPECT_NE(tree["result"]["content"][0]["text"].get<std::string>().find("StaticText = \"Not saved\" w0.2"),
            std::string::npos);
  s.send(call(2, "press", {{"ref", "w0.0"}}));
  EXPECT_EQ(s.response(2)["result"]["structuredContent"], json::parse(R"({"ok":true})"));
  s.send(call(3, "settle"));
  EXPECT_EQ(s.response(3)["result"]["structuredContent"]["events"], json::array({"AXValueChanged"}));
  s.send(call(4, "tree"));
  EXPECT_EQ(s.response(4)["result"]["structuredContent"]["windows"][0]["children"][2]["value"], "Saved");
  s.send(call(5, "press"));
  json bad = s.response(5);
  EXPECT_EQ(bad["result"]["isError"], true);
  s.send(call(6, "menus", {{"menu", "Nope"}}));
  EXPECT_EQ(s.response(6)["result"]["isError"], true);
  s.send(call(7, "nope"));
  EXPECT_EQ(s.response(7)["error"]["code"], -32602);

  s.closeInput();
  EXPECT_EQ(s.exitStatus(), 0);
  EXPECT_EQ(s.line(1), "");
}

TEST(McpServer, ProgressWhileASettleRunsPingMeanwhileAndCancellationAnswersNothing) {
  Server s(demoScene());
  // The stateless era, no handshake.
  json meta = {{"io.modelcontextprotocol/protocolVersion", "2026-07-28"},
               {"io.modelcontextprotocol/clientCapabilities", json::object()},
               {"progressToken", "tok"}};
  auto start = std::chrono::steady_clock::now();
  s.send(call("long", "settle", {{"quietMs", 1500}, {"limitMs", 1500}}, meta));
  s.send(request("p", "ping"));
  // ping is answered while the settle runs (no handshake was made: ping needs none).
  EXPECT_EQ(s.response("p")["result"], json::object());
  std::vector<json> notes;
  json done = s.response("long", &notes);
  EXPECT_EQ(done["result"]["resultType"], "complete");
  EXPECT_FALSE(notes.empty());
  for (const auto& n : notes) {
    EXPECT_EQ(n["method"], "notifications/progress");
    EXPECT_EQ(n["params"]["progressToken"], "tok");
  }

  s.send(call("c", "settle", {{"quietMs", 60000}, {"limitMs", 60000}}, meta));
  usleep(300000);
  s.send({{"jsonrpc", "2.0"}, {"method", "notifications/cancelled"}, {"params", {{"requestId", "c"}}}});
  meta.erase("progressToken");
  s.send(call("after", "windows", json::object(), meta));
  json next = s.response("after");
  EXPECT_EQ(next["result"]["structuredContent"]["app"], "Notes");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));

  kill(s.pid, SIGTERM);
  EXPECT_EQ(s.exitStatus(), 0);
  // Nothing was ever written for the cancelled call.
  for (std::string l = s.line(0.5); !l.empty(); l = s.line(0.5)) {
    EXPECT_NE(json::parse(l).value("id", json()), "c");
  }
}

}  // namespace
