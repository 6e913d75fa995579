// Runs made in-process through runCaptured, against the scripted platform.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>

#include "uiglean/front/commands.h"
#include "uiglean/front/globals.h"
#include "uiglean/front/output.h"
#include "uiglean/platform/scripted/scripted.h"

namespace uiglean {
namespace {

const char* kNotes = R"({"frontmost": 101, "apps": [{"pid": 101, "name": "Notes",
  "element": {"AXRole": "AXApplication", "AXWindows": [{"AXRole": "AXWindow", "AXTitle": "Shop",
    "AXChildren": [
      {"AXRole": "AXButton", "AXTitle": "Save", "actions": ["AXPress"],
       "on": {"AXPress": [{"setAttr": {"element": "status", "attr": "AXValue", "value": "Saved"}},
                          {"notify": {"name": "AXValueChanged", "afterMs": 30}}]}},
      {"id": "status", "AXRole": "AXStaticText", "AXValue": "Not saved"}]}]}}]})";

std::string statusText(const RunOutcome& o) {
  auto tree = nlohmann::json::parse(o.json);
  return tree["windows"][0]["children"][1]["value"].get<std::string>();
}

TEST(RunCaptured, OutcomesComeBackAndTheSceneGoesOnBetweenRuns) {
  useScene(parseScene(kNotes, "test"));
  RunOutcome first = runCaptured({"tree"});
  ASSERT_EQ(first.status, 0) << first.message;
  EXPECT_EQ(statusText(first), "Not saved");
  EXPECT_FALSE(capturing());

  RunOutcome press = runCaptured({"press", "w0.0"});
  EXPECT_EQ(press.status, 0);
  EXPECT_EQ(press.json, R"({"ok":true})");
  // The later run sees what the earlier one did, and starts from fresh globals.
  nodeCount = 12345;
  RunOutcome second = runCaptured({});
  ASSERT_EQ(second.status, 0);
  EXPECT_EQ(statusText(second), "Saved");

  RunOutcome gone = runCaptured({"press", "w0.9"});
  EXPECT_EQ(gone.status, 0);
  EXPECT_NE(gone.json.find("no longer resolves"), std::string::npos);
}

TEST(RunCaptured, FailuresCarryTheirStatusAndMessage) {
  useScene(parseScene(kNotes, "test"));
  RunOutcome usage = runCaptured({"press"});
  EXPECT_EQ(usage.status, 5);
  EXPECT_EQ(usage.message, "press needs a ref");
  EXPECT_TRUE(usage.json.empty());
  RunOutcome unknown = runCaptured({"Tree\n"});
  EXPECT_EQ(unknown.status, 5);
  EXPECT_EQ(unknown.message, "unknown subcommand \"Tree\\n\"");  // kept on one line

  useScene(parseScene(R"({"apps": []})", "test"));
  RunOutcome none = runCaptured({"windows"});
  EXPECT_EQ(none.status, 3);
  EXPECT_EQ(none.message, "no frontmost app");
  EXPECT_FALSE(capturing());
}

TEST(RunCaptured, SettleObserversEndWithTheirRunAndACancelledSettleEndsEarly) {
  useScene(parseScene(kNotes, "test"));
  ASSERT_EQ(runCaptured({"settle", "200", "1000"}).status, 0);
  // The press's late notification reaches the observer of the run that waits for it.
  ASSERT_EQ(runCaptured({"press", "w0.0"}).status, 0);
  RunOutcome quiet = runCaptured({"settle", "200", "1000"});
  ASSERT_EQ(quiet.status, 0);
  auto settled = nlohmann::json::parse(quiet.json);
  EXPECT_TRUE(settled["settled"].get<bool>());
  EXPECT_EQ(settled["events"], nlohmann::json::array({"AXValueChanged"}));

  std::atomic<bool> cancel{true};
  runCancelled = &cancel;
  double before = scriptedNowMs();
  RunOutcome cancelled = runCaptured({"settle", "2000", "5000"});
  runCancelled = nullptr;
  ASSERT_EQ(cancelled.status, 0);
  EXPECT_LT(scriptedNowMs() - before, 500);
  EXPECT_FALSE(nlohmann::json::parse(cancelled.json)["settled"].get<bool>());
}

}  // namespace
}  // namespace uiglean
