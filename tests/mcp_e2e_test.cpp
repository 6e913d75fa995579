// uiglean-mcp-scripted as a client sees it: a child process spoken to over its standard input
// and output, one message a line.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "tests/harness.h"

namespace {

using nlohmann::json;
using testing_harness::binaryPath;
using testing_harness::tempDir;

const char* kScene = R"({"frontmost": 101, "apps": [{"pid": 101, "name": "Notes",
  "element": {"AXRole": "AXApplication", "AXWindows": [{"AXRole": "AXWindow", "AXTitle": "Shop",
    "AXChildren": [
      {"AXRole": "AXButton", "AXTitle": "Save", "actions": ["AXPress"],
       "on": {"AXPress": [{"setAttr": {"element": "status", "attr": "AXValue", "value": "Saved"}},
                          {"notify": {"name": "AXValueChanged", "afterMs": 30}}]}},
      {"id": "status", "AXRole": "AXStaticText", "AXValue": "Not saved"}]}]}}]})";

struct Server {
  pid_t pid = -1;
  int in = -1;   // its standard input
  int out = -1;  // its standard output
  std::string pending;

  explicit Server(const std::string& scene) {
    std::string dir = tempDir();
    std::string path = dir + "/scene.json";
    std::ofstream(path) << scene;
    int toChild[2], fromChild[2];
    EXPECT_EQ(pipe(toChild), 0);
    EXPECT_EQ(pipe(fromChild), 0);
    pid = fork();
    if (pid == 0) {
      dup2(toChild[0], 0);
      dup2(fromChild[1], 1);
      close(toChild[1]);
      close(fromChild[0]);
      setenv("UIGLEAN_SCENE", path.c_str(), 1);
      setenv("UIGLEAN_SCENE_PACE", "1", 1);
      std::string bin = binaryPath("uiglean-mcp-scripted");
      execl(bin.c_str(), bin.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    in = toChild[1];
    out = fromChild[0];
  }
  ~Server() {
    if (in >= 0) close(in);
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (out >= 0) close(out);
  }

  void writeRaw(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
      ssize_t n = write(in, text.data() + done, text.size() - done);
      ASSERT_GT(n, 0);
      done += static_cast<std::size_t>(n);
    }
  }
  void send(const json& m) { writeRaw(m.dump() + "\n"); }

  // The next line the server writes, within `seconds`; empty at end of output or on time-out.
  std::string line(double seconds = 10) {
    auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
      auto nl = pending.find('\n');
      if (nl != std::string::npos) {
        std::string l = pending.substr(0, nl);
        pending.erase(0, nl + 1);
        return l;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      if (left.count() <= 0) return "";
      pollfd p{out, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return "";
      char buf[65536];
      ssize_t n = read(out, buf, sizeof buf);
      if (n <= 0) return "";
      pending.append(buf, static_cast<std::size_t>(n));
    }
  }
  json message(double seconds = 10) {
    std::string l = line(seconds);
    EXPECT_FALSE(l.empty()) << "no message";
    return l.empty() ? json() : json::parse(l);
  }
  // The response with that id, skipping notifications (kept in `notes`).
  json response(const json& id, std::vector<json>* notes = nullptr) {
    for (int i = 0; i < 100; ++i) {
      json m = message();
      if (m.is_null()) return m;
      if (m.contains("id") && m["id"] == id) return m;
      if (notes != nullptr) notes->push_back(m);
    }
    return json();
  }
  int exitStatus(double seconds = 10) {
    auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < until) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      usleep(20000);
    }
    return -1;
  }
};

json request(const json& id, const std::string& method, json params = json::object()) {
  return {{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", std::move(params)}};
}

json call(const json& id, const std::string& tool, json args = json::object(), json meta = nullptr) {
  json params = {{"name", tool}, {"arguments", std::move(args)}};
  if (!meta.is_null()) params["_meta"] = std::move(meta);
  return request(id, "tools/call", std::move(params));
}

void handshake(Server& s, const char* version = "2025-11-25") {
  s.send(request(0, "initialize", {{"protocolVersion", version}, {"capabilities", json::object()},
                                   {"clientInfo", {{"name", "e2e"}, {"version", "1"}}}}));
  ASSERT_EQ(s.response(0)["result"]["protocolVersion"], version);
  s.send({{"jsonrpc", "2.0"}, {"method", "notifications/initialized"}});
}

TEST(McpServer, DrivesTheSceneThroughToolsAndKeepsServingAfterBadInput) {
  Server s(kScene);
  handshake(s);
  s.writeRaw("{not json\n\n[1,2]\n" + std::string(5 << 20, 'x') + "\n");
  EXPECT_EQ(s.message()["error"]["code"], -32700);
  EXPECT_EQ(s.message()["error"]["code"], -32600);
  EXPECT_EQ(s.message()["error"]["code"], -32600);

  s.send(call(1, "tree", {{"format", "text"}}));
  json tree = s.response(1);
  EXPECT_EQ(tree["result"]["isError"], false);
  EXPECT_NE(tree["result"]["content"][0]["text"].get<std::string>().find("StaticText = \"Not saved\" w0.1"),
            std::string::npos);
  s.send(call(2, "press", {{"ref", "w0.0"}}));
  EXPECT_EQ(s.response(2)["result"]["structuredContent"], json::parse(R"({"ok":true})"));
  s.send(call(3, "settle"));
  EXPECT_EQ(s.response(3)["result"]["structuredContent"]["events"], json::array({"AXValueChanged"}));
  s.send(call(4, "tree"));
  EXPECT_EQ(s.response(4)["result"]["structuredContent"]["windows"][0]["children"][1]["value"], "Saved");
  s.send(call(5, "press"));
  json bad = s.response(5);
  EXPECT_EQ(bad["result"]["isError"], true);
  s.send(call(6, "menus", {{"menu", "Nope"}}));
  EXPECT_EQ(s.response(6)["result"]["isError"], true);
  s.send(call(7, "nope"));
  EXPECT_EQ(s.response(7)["error"]["code"], -32602);

  close(s.in);
  s.in = -1;
  EXPECT_EQ(s.exitStatus(), 0);
  EXPECT_EQ(s.line(1), "");
}

TEST(McpServer, ProgressWhileASettleRunsPingMeanwhileAndCancellationAnswersNothing) {
  Server s(kScene);
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
