// One long-lived uiglean-mcp against the hostile application (tests/apps/hostile) in turn stalled,
// slow, exiting in the middle of a walk and malformed: every call answers in time with a result,
// and the same process goes on answering, reading a well-behaved application whole afterwards
// (nothing a hostile run marked is kept).
#include <signal.h>

#include <chrono>
#include <thread>

#include "tests/desktop/desktop_harness.h"
#include "tests/mcp_process.h"

namespace desktop_tests {
namespace {

const auto* const desktop = ::testing::AddGlobalTestEnvironment(new Desktop);

using Clock = std::chrono::steady_clock;
using testing_harness::McpProcess;

// The tree's run clock (8 s of walk, 2 s to finish) and room for a loaded machine.
constexpr double TREE_BOUND = 10 + 4;

class McpHostile : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server = new McpProcess(testing_harness::binaryPath("uiglean-mcp"), {});
    server->send(testing_harness::mcpRequest(
        0, "initialize", {{"protocolVersion", "2025-11-25"}, {"capabilities", json::object()},
                          {"clientInfo", {{"name", "hostile"}, {"version", "1"}}}}));
    ASSERT_EQ(server->response(0)["result"]["protocolVersion"], "2025-11-25");
  }
  static void TearDownTestSuite() {
    server->closeInput();
    EXPECT_EQ(server->exitStatus(TREE_BOUND), 0);
    delete server;
  }

  void start(const std::vector<std::string>& options) {
    logPath = testing_harness::tempDir() + "/hostile.log";
    std::vector<std::string> argv{testing_harness::binaryPath("uiglean-hostile-app"), "--log", logPath};
    argv.insert(argv.end(), options.begin(), options.end());
    pid = spawnQuiet(argv);
    ASSERT_GT(pid, 0);
    for (int i = 0; i < 100; ++i) {
      if (testing_harness::readFile(logPath).find("ready") != std::string::npos) {
        RunResult active =
            testing_harness::runProgram("/usr/bin/xdotool", {"getactivewindow", "getwindowpid"}, {});
        if (active.out.find(std::to_string(pid)) == 0) return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    FAIL() << "the hostile application did not come up";
  }
  void TearDown() override {
    endProcess(pid);
    pid = 0;
  }

  // A tree through the server: a result (not a protocol error) within the bound.
  json tree(double* seconds = nullptr) {
    auto begin = Clock::now();
    server->send(testing_harness::mcpToolCall(++id, "tree", {{"maxNodes", 4000}}));
    json r = server->response(id, nullptr, TREE_BOUND + 5);
    double took = std::chrono::duration<double>(Clock::now() - begin).count();
    if (seconds != nullptr) *seconds = took;
    EXPECT_LT(took, TREE_BOUND);
    EXPECT_TRUE(r.contains("result")) << r.dump().substr(0, 300);
    return r.contains("result") ? r["result"] : json::object();
  }
  // The server still answers at once.
  void stillServing() {
    server->send(testing_harness::mcpRequest(++id, "ping"));
    EXPECT_EQ(server->response(id, nullptr, 2)["result"], json::object());
    server->send(testing_harness::mcpToolCall(++id, "world"));
    EXPECT_TRUE(server->response(id, nullptr, TREE_BOUND).contains("result"));
  }

  static McpProcess* server;
  static int id;
  pid_t pid = 0;
  std::string logPath;
};

McpProcess* McpHostile::server = nullptr;
int McpHostile::id = 0;

TEST_F(McpHostile, StalledSlowExitingAndMalformedApplicationsLeaveTheServerAnswering) {
  {
    SCOPED_TRACE("stalled");
    start({});
    ::kill(pid, SIGSTOP);
    json r = tree();
    ::kill(pid, SIGCONT);
    if (r.value("isError", true) == false) {
      EXPECT_TRUE(r["structuredContent"]["windows"].empty());
    }
    stillServing();
    // Resumed, it is read again: the hung mark was the stalled call's only.
    json again = tree();
    ASSERT_EQ(again.value("isError", true), false);
    EXPECT_EQ(again["structuredContent"]["pid"], pid);
    EXPECT_EQ(again["structuredContent"]["windows"].size(), 1U);
    TearDown();
  }
  {
    SCOPED_TRACE("slow");
    start({"--tree", "deep", "--delay-ms", "400"});
    json r = tree();
    EXPECT_EQ(r.value("isError", true), false);
    stillServing();
    TearDown();
  }
  {
    SCOPED_TRACE("exits mid-walk");
    start({"--exit-after", "25"});
    json r = tree();
    EXPECT_TRUE(r.contains("content"));
    stillServing();
    TearDown();
  }
  for (const char* kind : {"cycle", "wide", "names"}) {
    SCOPED_TRACE(kind);
    start({"--tree", kind});
    json r = tree();
    EXPECT_EQ(r.value("isError", true), false);
    stillServing();
    TearDown();
  }
  // A well-behaved application after all of that, whole and quick.
  start({});
  double seconds = 0;
  json r = tree(&seconds);
  ASSERT_EQ(r.value("isError", true), false);
  const json& w = r["structuredContent"]["windows"];
  ASSERT_EQ(w.size(), 1U);
  EXPECT_EQ(w[0]["children"].size(), 4U);
  EXPECT_LT(seconds, 3);
}

// An application whose answers the server keeps (it says it is GTK 3) and that floods object
// events, some of them malformed: every call answers in time with the same window, also after a
// flood long enough to pause the keeping, and the server goes on serving.
TEST_F(McpHostile, EventFloodsNeitherStallNorCorruptTheServer) {
  start({"--version", "3.24.0", "--events", "400"});
  json first = tree();
  ASSERT_EQ(first.value("isError", true), false);
  const json windows = first["structuredContent"]["windows"];
  ASSERT_EQ(windows.size(), 1U);
  for (int waitMs : {0, 200, 3000}) {  // 3 s: some 24,000 events, past a flood's count
    std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
    double seconds = 0;
    json r = tree(&seconds);
    ASSERT_EQ(r.value("isError", true), false);
    EXPECT_EQ(r["structuredContent"]["windows"], windows);
    EXPECT_LT(seconds, 5);
  }
  stillServing();
}

}  // namespace
}  // namespace desktop_tests
