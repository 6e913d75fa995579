// uiglean against an application that answers the accessibility protocol in hostile ways
// (tests/apps/hostile): it must never run what the application hands it, never wait longer than
// its documented bounds, keep reading an application that leaves one call unanswered, and always
// print one valid JSON answer.
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "tests/desktop/desktop_harness.h"

namespace desktop_tests {
namespace {

const auto* const desktop = ::testing::AddGlobalTestEnvironment(new Desktop);

using Clock = std::chrono::steady_clock;

struct Timed {
  RunResult run;
  double seconds = 0;
};

Timed timedUiglean(const std::vector<std::string>& args) {
  auto start = Clock::now();
  Timed t;
  t.run = uiglean(args);
  t.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return t;
}

// The whole-run bounds the README documents: walks stop after this many seconds, waits end two
// seconds later. The tests allow for a loaded machine on top.
constexpr double TREE_BOUND = 10;
constexpr double ACTION_BOUND = 12;
constexpr double SLACK = 4;

std::size_t maxDepth(const json& node) {
  std::size_t deepest = 0;
  for (const auto& c : node["children"]) deepest = std::max(deepest, 1 + maxDepth(c));
  return deepest;
}

bool fileExists(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0;
}

class Hostile : public ::testing::Test {
 protected:
  // Starts the hostile application with `options` and waits until the window manager has made its
  // window the active one and it has said it is ready.
  void start(const std::vector<std::string>& options) {
    logPath = testing_harness::tempDir() + "/hostile.log";
    std::vector<std::string> argv{testing_harness::binaryPath("uiglean-hostile-app"), "--log",
                                  logPath};
    argv.insert(argv.end(), options.begin(), options.end());
    pid = spawnQuiet(argv);
    ASSERT_GT(pid, 0);
    for (int i = 0; i < 100; ++i) {
      if (log().find("ready") != std::string::npos) {
        RunResult active =
            testing_harness::runProgram("/usr/bin/xdotool", {"getactivewindow", "getwindowpid"}, {});
        if (active.out.find(std::to_string(pid)) == 0) return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    FAIL() << "the hostile application did not come up: " << log();
  }
  void TearDown() override {
    endProcess(pid);
    pid = 0;
  }
  std::string log() const { return testing_harness::readFile(logPath); }

  // A tree of the hostile application, checked for what every answer must be: status 0, one
  // valid JSON object, within the bound.
  json tree() {
    Timed t = timedUiglean({"tree"});
    EXPECT_EQ(t.run.status, 0) << t.run.err;
    EXPECT_LT(t.seconds, TREE_BOUND + SLACK);
    json j = json::parse(t.run.out, nullptr, false);
    EXPECT_FALSE(j.is_discarded()) << t.run.out.substr(0, 300);
    if (j.is_discarded()) return json::object();
    EXPECT_EQ(j.value("pid", 0), pid);
    return j;
  }

  pid_t pid = 0;
  std::string logPath;
};

// The tree every well-behaved answer gives: the window, the button, the panel with its label,
// the field and the slider, each with what it said.
void expectWholeTree(const json& t) {
  ASSERT_EQ(t["windows"].size(), 1U) << t.dump().substr(0, 400);
  const json& w = t["windows"][0];
  EXPECT_EQ(w["frame"], json::array({100, 100, 400, 300}));
  ASSERT_EQ(w["children"].size(), 4U);
  EXPECT_EQ(w["children"][0]["role"], "AXButton");
  EXPECT_EQ(w["children"][0]["acts"], json::array({"Press"}));
  EXPECT_EQ(w["children"][1]["children"][0]["role"], "AXStaticText");
  EXPECT_EQ(w["children"][1]["children"][0]["value"], "Inside");
  EXPECT_EQ(w["children"][2]["value"], "hello");
  EXPECT_EQ(w["children"][3]["value"], "5");
}

TEST_F(Hostile, BusAddressesThatRunProgramsOrReachOtherProcessesAreNeverUsed) {
  // A unixexec: address would have uiglean start a shell; tcp: reaches whatever listens there; a
  // socket that another process listens on is not the application's.
  for (const char* kind : {"exec", "tcp", "foreign"}) {
    SCOPED_TRACE(kind);
    std::string marker = testing_harness::tempDir() + "/ran";
    start({"--peer", kind, "--marker", marker});
    expectWholeTree(tree());
    EXPECT_FALSE(fileExists(marker)) << "uiglean ran the program the application named";
    EXPECT_EQ(log().find("foreign: got data"), std::string::npos)
        << "uiglean spoke to a socket that is not the application's: " << log();
    if (std::string(kind) == "foreign") {
      EXPECT_NE(log().find("foreign: closed silently"), std::string::npos) << log();
    }
    TearDown();
  }
}

TEST_F(Hostile, AnOwnBusThatNeverAnswersCostsNoMoreThanTheMessagingTimeout) {
  for (const char* kind : {"stall", "abstract"}) {
    SCOPED_TRACE(kind);
    start({"--peer", kind});
    Timed t = timedUiglean({"tree"});
    ASSERT_EQ(t.run.status, 0) << t.run.err;
    expectWholeTree(t.run.outJson());
    // It was tried (and authentication begun), then given up within the 0.5 s of "tree".
    EXPECT_NE(log().find("peer: got data"), std::string::npos) << log();
    EXPECT_LT(t.seconds, 0.5 + SLACK);
    TearDown();
  }
}

TEST_F(Hostile, OneUnansweredCallCostsOnlyThatCall) {
  // The button's extents never come; everything asked afterwards must still be answered.
  start({"--silent", "GetExtents@/h/0"});
  json t = tree();
  ASSERT_EQ(t["windows"].size(), 1U);
  const json& w = t["windows"][0];
  EXPECT_EQ(w["children"][0]["frame"], json::array({0, 0, 0, 0}));
  EXPECT_EQ(w["frame"], json::array({100, 100, 400, 300}));
  EXPECT_EQ(w["children"][0]["acts"], json::array({"Press"}));
  EXPECT_EQ(w["children"][1]["children"][0]["role"], "AXStaticText");
  EXPECT_EQ(w["children"][3]["value"], "5");
}

TEST_F(Hostile, AnActionThatNeverAnswersIsATimeoutResult) {
  start({"--silent", "DoAction"});
  Timed t = timedUiglean({"press", "w0.0"});
  ASSERT_EQ(t.run.status, 0) << t.run.err;
  json j = t.run.outJson();
  EXPECT_EQ(j["ok"], false);
  EXPECT_NE(j.value("error", "").find("-25204"), std::string::npos) << j.dump();
  EXPECT_LT(t.seconds, ACTION_BOUND + SLACK);
}

TEST_F(Hostile, ASlowApplicationGivesASnapshotCutAtTheDeadline) {
  // Every answer 0.4 s late, just inside the 0.5 s timeout, in a tree 16 levels deep: the whole
  // tree would take half a minute.
  start({"--tree", "deep", "--delay-ms", "400"});
  Timed t = timedUiglean({"tree"});
  ASSERT_EQ(t.run.status, 0) << t.run.err;
  json j = t.run.outJson();
  EXPECT_LT(t.seconds, TREE_BOUND + SLACK);
  ASSERT_EQ(j["windows"].size(), 1U);
  std::size_t nodes = countNodes(j["windows"][0]);
  EXPECT_GT(nodes, 1U);
  EXPECT_LT(nodes, 33U) << "the whole tree has 33 elements; it cannot have been read in time";
}

TEST_F(Hostile, AStoppedApplicationIsGivenUpQuickly) {
  start({});
  ::kill(pid, SIGSTOP);
  Timed t = timedUiglean({"tree"});
  ::kill(pid, SIGCONT);
  ASSERT_EQ(t.run.status, 0) << t.run.err;
  json j = t.run.outJson();
  EXPECT_TRUE(j["windows"].empty()) << j.dump().substr(0, 300);
  EXPECT_LT(t.seconds, TREE_BOUND + SLACK);
}

TEST_F(Hostile, MalformedTreesGiveValidBoundedSnapshots) {
  // Cycles, a million claimed children, wrong reply types, errors and 10 kB object paths.
  for (const char* kind : {"cycle", "wide", "types", "errors", "paths"}) {
    SCOPED_TRACE(kind);
    start({"--tree", kind});
    json t = tree();
    ASSERT_EQ(t["windows"].size(), 1U) << t.dump().substr(0, 300);
    const json& w = t["windows"][0];
    std::size_t nodes = countNodes(w);
    EXPECT_LE(nodes, 4000U);
    std::string k = kind;
    if (k == "wide") {
      EXPECT_EQ(w["children"][1]["children"].size(), 96U);
      // The first children are asked by index: all of a million would make a toolkit build them
      // (a LibreOffice Calc sheet claims every cell).
      EXPECT_EQ(log().find("all children asked"), std::string::npos) << log();
    }
    if (k == "cycle") {
      // The window appears again below itself, down to the depth limit and no further.
      EXPECT_EQ(maxDepth(w), 14U);
    }
    if (k == "types" || k == "errors") {
      // Nothing the children said can be used: they are there, with nothing made up.
      for (const auto& c : w["children"]) {
        EXPECT_EQ(c["role"], "unknown") << c.dump();
        EXPECT_FALSE(c.contains("value")) << c.dump();
        EXPECT_EQ(c["frame"], json::array({0, 0, 0, 0})) << c.dump();
      }
    }
    if (k == "paths") {
      ASSERT_EQ(w["children"][1]["children"].size(), 1U);
      EXPECT_EQ(w["children"][1]["children"][0]["value"], "Inside");
      // Refs stay short whatever the paths are.
      EXPECT_EQ(w["children"][1]["children"][0]["ref"], "w0.1.0");
    }
    TearDown();
  }
}

TEST_F(Hostile, MegabyteNamesWithEveryControlAndBidiCharacterComeOutWholeAsJson) {
  start({"--tree", "names"});
  json t = tree();
  ASSERT_EQ(t["windows"].size(), 1U);
  std::string title = t["windows"][0].value("title", "");
  EXPECT_GE(title.size(), 1U << 20);
  EXPECT_NE(title.find("\x01\x02\x03"), std::string::npos);
  EXPECT_NE(title.find("\x1e\x1f\x7f"), std::string::npos);
  EXPECT_NE(title.find("\u202e\u2066"), std::string::npos);
  EXPECT_NE(title.find("\u2028\u2029\ufeff"), std::string::npos);
  EXPECT_NE(title.find("\"\\</script>"), std::string::npos);
}

TEST_F(Hostile, UnreadableRolesAndValuesAreAbsentNotMadeUp) {
  start({"--tree", "values"});
  json t = tree();
  ASSERT_EQ(t["windows"].size(), 1U);
  const json& w = t["windows"][0];
  // GetRole answered an error, and a string: the role is unknown, what else was said stays.
  EXPECT_EQ(w["children"][0]["role"], "unknown");
  EXPECT_EQ(w["children"][0]["title"], "OK");
  EXPECT_EQ(w["children"][2]["role"], "unknown");
  EXPECT_EQ(w["children"][2]["title"], "Field");
  // Values that are NaN, infinite or not numbers at all: no value.
  EXPECT_EQ(w["children"][3]["role"], "AXSlider");
  EXPECT_FALSE(w["children"][3].contains("value")) << w["children"][3].dump();
  for (const auto& c : w["children"][1]["children"]) {
    EXPECT_EQ(c["role"], "AXSlider");
    EXPECT_FALSE(c.contains("value")) << c.dump();
  }
}

TEST_F(Hostile, AnApplicationThatExitsMidWalkGivesWhatWasRead) {
  start({"--exit-after", "25"});
  Timed t = timedUiglean({"tree"});
  // Gone before the snapshot was taken, or during it: either way one answer, in time.
  EXPECT_TRUE(t.run.status == 0 || t.run.status == 3) << t.run.err;
  if (t.run.status == 0) {
    EXPECT_FALSE(json::parse(t.run.out, nullptr, false).is_discarded());
  }
  EXPECT_LT(t.seconds, TREE_BOUND + SLACK);
  EXPECT_NE(log().find("exiting after"), std::string::npos) << log();
}

}  // namespace
}  // namespace desktop_tests
