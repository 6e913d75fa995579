// "world" end to end on scripted scenes.
#include <gtest/gtest.h>

#include "tests/harness.h"

namespace {

using testing_harness::json;
using testing_harness::RunResult;
using testing_harness::runScene;

// A window-list entry that passes every filter; `extra` overrides keys (null removes one).
json entry(int number, int pid, const std::string& name, json bounds, json extra = json::object()) {
  json w = {{"kCGWindowLayer", 0},
            {"kCGWindowAlpha", 1.0},
            {"kCGWindowName", name},
            {"kCGWindowBounds",
             {{"X", bounds[0]}, {"Y", bounds[1]}, {"Width", bounds[2]}, {"Height", bounds[3]}}},
            {"kCGWindowOwnerPID", pid},
            {"kCGWindowNumber", number},
            {"kCGWindowIsOnscreen", true},
            {"kCGWindowOwnerName", "Owner"}};
  for (auto it = extra.begin(); it != extra.end(); ++it) {
    if (it.value().is_null()) {
      w.erase(it.key());
    } else {
      w[it.key()] = it.value();
    }
  }
  return w;
}

// An accessibility window that the minimized probe sees.
json axWindow(int number, bool minimized) {
  return {{"AXRole", "AXWindow"}, {"windowNumber", number}, {"AXMinimized", minimized}};
}

json baseScene() {
  return {{"selfPid", 9999},
          {"frontmost", 101},
          {"displays",
           {{{"id", 1}, {"bounds", {0, 0, 1440, 900}}},
            {{"id", 2}, {"bounds", {1440, 0, 1920, 1080}}}}},
          {"mainDisplay", 2},
          {"apps",
           {{{"pid", 101},
             {"name", "Notes"},
             {"bundleId", "com.example.notes"},
             {"element",
              {{"AXWindows", {axWindow(11, false), axWindow(12, true), axWindow(13, true)}}}}},
            {{"pid", 102}, {"name", "Palette"}, {"policy", 1}},
            {{"pid", 103},
             {"bundleId", "com.example.hidden"},
             {"hidden", true},
             {"element", {{"AXWindows", json::array({axWindow(31, true)})}}}},
            {{"pid", 104}, {"name", "Agent"}, {"policy", 2}},
            {{"pid", 9999}, {"name", "Self"}}}}};
}

TEST(World, ExactOutputForAMixedDesktop) {
  json scene = baseScene();
  scene["windowList"] = {
      // Straddles both displays, with more of it on display 2.
      entry(11, 101, "Straddle", {1340, 100, 400, 300}),
      // Off screen and minimized according to the probe.
      entry(12, 101, "Minimized", {100, 100, 500, 500}, {{"kCGWindowIsOnscreen", false}}),
      // On screen wins over minimized.
      entry(13, 101, "Front/Back", {-100, -50, 600, 400}),
      // A hidden application without a name: the owner name, and app-hidden although minimized.
      entry(31, 103, "Hidden doc", {0, 0, 300, 300}, {{"kCGWindowIsOnscreen", false}}),
      // Not seen by the probe at all.
      entry(14, 101, "Other space", {5000, 5000, 200, 200}, {{"kCGWindowIsOnscreen", false}}),
  };
  RunResult r = runScene(scene, {"world", "extra"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(
      r.out,
      R"({"displays":[{"id":1,"frame":[0,0,1440,900],"main":false},{"id":2,"frame":[1440,0,1920,1080],"main":true}],)"
      R"("windows":[)"
      R"({"windowId":11,"pid":101,"app":"Notes","bundleId":"com.example.notes","title":"Straddle","frame":[1340,100,400,300],"display":2,"state":"visible","minimized":false,"frontmost":true},)"
      R"({"windowId":12,"pid":101,"app":"Notes","bundleId":"com.example.notes","title":"Minimized","frame":[100,100,500,500],"display":1,"state":"minimized","minimized":true,"frontmost":true},)"
      R"({"windowId":13,"pid":101,"app":"Notes","bundleId":"com.example.notes","title":"Front\/Back","frame":[-100,-50,600,400],"display":1,"state":"visible","minimized":true,"frontmost":true},)"
      R"({"windowId":31,"pid":103,"app":"Owner","bundleId":"com.example.hidden","title":"Hidden doc","frame":[0,0,300,300],"display":1,"state":"app-hidden","minimized":true,"frontmost":false},)"
      R"({"windowId":14,"pid":101,"app":"Notes","bundleId":"com.example.notes","title":"Other space","frame":[5000,5000,200,200],"state":"minimized-or-other-space","frontmost":true}],)"
      R"("frontApp":"Notes","screenRecordingGranted":true,"elapsedMs":0})");
  // One probe per application, with its short timeout, and no screen-capture question.
  EXPECT_EQ(r.count("AXUIElementCreateApplication", {{"pid", 101}}), 1u);
  EXPECT_EQ(r.count("AXUIElementCreateApplication", {{"pid", 103}}), 1u);
  EXPECT_EQ(r.count("AXUIElementCreateApplication"), 2u);
  EXPECT_EQ(r.count("AXUIElementSetMessagingTimeout", {{"seconds", 0.25}}), 2u);
  EXPECT_EQ(r.count("CGPreflightScreenCaptureAccess"), 0u);
  auto lists = r.calls("CGWindowListCopyWindowInfo");
  ASSERT_EQ(lists.size(), 1u);
  EXPECT_EQ(lists[0]["options"], 16);
  EXPECT_EQ(lists[0]["relativeToWindow"], 0);
}

TEST(World, SizeLimitAndFiltersThatStillCountAsTitledWindows) {
  json scene = baseScene();
  scene["screenCaptureAccess"] = false;
  scene["windowList"] = {
      entry(20, 101, "Exactly 120", {10, 10, 120, 120}),
      entry(21, 101, "Too narrow", {10, 10, 119.5, 500}),
      entry(22, 101, "Too low", {10, 10, 500, 119.9}),
      entry(23, 102, "Accessory palette", {10, 10, 500, 500}),
      entry(24, 104, "Background agent", {10, 10, 500, 500}),
      entry(25, 9999, "Our own", {10, 10, 500, 500}),
      entry(26, 555, "Unknown owner", {10, 10, 500, 500}),
      entry(27, 101, "No bounds", {0, 0, 0, 0}, {{"kCGWindowBounds", nullptr}}),
      entry(28, 101, "Bounds not a dictionary", {0, 0, 0, 0}, {{"kCGWindowBounds", "wide"}}),
      entry(29, 101, "Negative size", {630, 510, -500, -400}),
      entry(30, 101, "Integer alpha", {10, 10, 500, 500}, {{"kCGWindowAlpha", 1}}),
  };
  RunResult r = runScene(scene, {"world"});
  ASSERT_EQ(r.status, 0) << r.err;
  json out = r.outJson();
  std::vector<std::string> titles;
  for (const auto& w : out["windows"]) titles.push_back(w["title"]);
  EXPECT_EQ(titles, (std::vector<std::string>{"Exactly 120", "Negative size", "Integer alpha"}));
  EXPECT_EQ(out["windows"][1]["frame"], json({130, 110, 500, 400}));
  // Named windows were seen, so the system is not asked.
  EXPECT_EQ(out["screenRecordingGranted"], true);
  EXPECT_EQ(r.count("CGPreflightScreenCaptureAccess"), 0u);
  // Windows of accessory and background applications never cause a probe.
  EXPECT_EQ(r.count("AXUIElementCreateApplication", {{"pid", 102}}), 0u);
  EXPECT_EQ(r.count("AXUIElementCreateApplication", {{"pid", 104}}), 0u);
  EXPECT_EQ(r.count("AXUIElementCreateApplication", {{"pid", 101}}), 1u);
}

TEST(World, FramesThatOverflowOnceStandardizedAreLeftOut) {
  json scene = baseScene();
  scene["screenCaptureAccess"] = false;
  scene["displays"] = {{{"id", 1}, {"bounds", {-1.7e308, 0, -1.7e308, 900}}},
                       {{"id", 2}, {"bounds", {0, 0, 1440, 900}}},
                       {{"id", 3}, {"bounds", {0, 1.5e308, 1000, -1.5e308}}},
                       {{"id", 4}, {"bounds", {0, -1e308, 800, -1e308}}}};
  scene["mainDisplay"] = 1;
  scene["windowList"] = {
      entry(60, 101, "Wide left", {-1.7e308, 10, -1.7e308, 500}),
      entry(61, 101, "Tall up", {10, -1e308, 500, -1e308}),
      entry(62, 101, "Huge but fine", {1.7e308, 10, -1.7e308, 500}),
      entry(63, 101, "Ordinary", {10, 10, 500, 500}),
  };
  RunResult r = runScene(scene, {"world"});
  ASSERT_EQ(r.status, 0) << r.err;
  json out = r.outJson();
  ASSERT_EQ(out["displays"].size(), 2u);
  EXPECT_EQ(out["displays"][0], json({{"id", 2}, {"frame", {0, 0, 1440, 900}}, {"main", false}}));
  EXPECT_EQ(out["displays"][1]["frame"], json({0, 0, 1000, 1.5e308}));
  std::vector<std::string> titles;
  for (const auto& w : out["windows"]) titles.push_back(w["title"]);
  EXPECT_EQ(titles, (std::vector<std::string>{"Huge but fine", "Ordinary"}));
  EXPECT_EQ(out["windows"][0]["frame"], json({0, 10, 1.7e308, 500}));
  // The left-out windows were still titled windows.
  EXPECT_EQ(out["screenRecordingGranted"], true);
}

TEST(World, UntitledWindowsLeaveTheAnswerToTheSystem) {
  json scene = baseScene();
  scene["windowList"] = {
      entry(40, 101, "Invisible", {10, 10, 500, 500}, {{"kCGWindowAlpha", 0.0}}),
      entry(41, 101, "", {10, 10, 500, 500}),
      entry(42, 101, "x", {10, 10, 500, 500}, {{"kCGWindowName", nullptr}}),
      entry(43, 101, "Menu layer", {10, 10, 500, 500}, {{"kCGWindowLayer", 25}}),
      entry(44, 101, "Real layer", {10, 10, 500, 500}, {{"kCGWindowLayer", 0.0}}),
      entry(45, 101, "String alpha", {10, 10, 500, 500}, {{"kCGWindowAlpha", "1"}}),
      entry(46, 101, "x", {10, 10, 500, 500}, {{"kCGWindowName", 7}}),
      entry(47, 101, "No layer", {10, 10, 500, 500}, {{"kCGWindowLayer", nullptr}}),
      entry(48, 101, "Negative alpha", {10, 10, 500, 500}, {{"kCGWindowAlpha", -0.5}}),
      "not a dictionary",
  };
  for (bool granted : {false, true}) {
    scene["screenCaptureAccess"] = granted;
    RunResult r = runScene(scene, {"world"});
    ASSERT_EQ(r.status, 0) << r.err;
    json out = r.outJson();
    EXPECT_EQ(out["windows"], json::array());
    EXPECT_EQ(out["screenRecordingGranted"], granted);
    EXPECT_EQ(r.count("CGPreflightScreenCaptureAccess"), 1u);
    EXPECT_EQ(r.count("AXUIElementCreateApplication"), 0u);
  }
}

TEST(World, WindowListThatIsNotAListAndNoDisplays) {
  json scene = {{"windowList", {{"kCGWindowName", "x"}}}, {"screenCaptureAccess", true}};
  RunResult r = runScene(scene, {"world"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, R"({"displays":[],"windows":[],"screenRecordingGranted":true,"elapsedMs":0})");
}

TEST(World, DisplayForTiesAndEdges) {
  json scene = baseScene();
  scene["windowList"] = {
      entry(50, 101, "Equal shares", {1340, 100, 200, 200}),
      entry(51, 101, "Touches the right edge", {3360, 0, 200, 200}),
      entry(52, 101, "Below everything", {0, 1080, 300, 300}),
      entry(53, 101, "Mostly on one", {1000, 0, 500, 300}),
  };
  RunResult r = runScene(scene, {"world"});
  ASSERT_EQ(r.status, 0) << r.err;
  json windows = r.outJson()["windows"];
  ASSERT_EQ(windows.size(), 4u);
  EXPECT_EQ(windows[0]["display"], 1);  // equal shares: the first display in the list
  EXPECT_FALSE(windows[1].contains("display"));
  EXPECT_FALSE(windows[2].contains("display"));
  EXPECT_EQ(windows[3]["display"], 1);

  // With the display list reversed the tie goes the other way.
  std::swap(scene["displays"][0], scene["displays"][1]);
  json swapped = runScene(scene, {"world"}).outJson();
  EXPECT_EQ(swapped["windows"][0]["display"], 2);
  EXPECT_EQ(swapped["displays"][0]["id"], 2);
}

TEST(World, MissingWindowNumberAndWrongKinds) {
  json scene = baseScene();
  scene["windowList"] = {
      entry(0, 101, "No number", {10, 10, 500, 500},
            {{"kCGWindowNumber", nullptr}, {"kCGWindowIsOnscreen", false}}),
      entry(12, 101, "Onscreen as a number", {10, 10, 500, 500}, {{"kCGWindowIsOnscreen", 1}}),
      entry(13, 101, "Real number", {10, 10, 500, 500}, {{"kCGWindowNumber", 13.0}}),
      entry(60, 101, "String pid", {10, 10, 500, 500}, {{"kCGWindowOwnerPID", "101"}}),
      entry(61, 101, "Huge pid", {10, 10, 500, 500}, {{"kCGWindowOwnerPID", 4294967397LL}}),
      entry(62, 101, "String x", {"10", 10, 500, 500}),
      entry(63, 101, "String width", {10, 10, "500", 500}),
  };
  RunResult r = runScene(scene, {"world"});
  ASSERT_EQ(r.status, 0) << r.err;
  json windows = r.outJson()["windows"];
  ASSERT_EQ(windows.size(), 4u);
  EXPECT_EQ(windows[0]["windowId"], -1);
  EXPECT_FALSE(windows[0].contains("minimized"));
  EXPECT_EQ(windows[0]["state"], "minimized-or-other-space");
  // An on-screen flag that is not a boolean counts as off screen.
  EXPECT_EQ(windows[1]["windowId"], 12);
  EXPECT_EQ(windows[1]["state"], "minimized");
  EXPECT_EQ(windows[2]["windowId"], -1);
  // A bounds component of the wrong kind is 0: x becomes 0, a width of 0 is too narrow.
  EXPECT_EQ(windows[3]["title"], "String x");
  EXPECT_EQ(windows[3]["frame"], json({0, 10, 500, 500}));
  EXPECT_EQ(r.count("AXUIElementCreateApplication"), 1u);
}

TEST(World, NoFrontmostApplication) {
  json scene = baseScene();
  scene["frontmost"] = nullptr;
  scene["windowList"] = json::array({entry(11, 101, "Straddle", {1340, 100, 400, 300})});
  RunResult r = runScene(scene, {"world"});
  ASSERT_EQ(r.status, 0) << r.err;
  json out = r.outJson();
  EXPECT_FALSE(out.contains("frontApp"));
  EXPECT_EQ(out["windows"][0]["frontmost"], false);
}

TEST(World, ProbeQuirks) {
  // The probe stores what it reads: a failed AXMinimized read is false; a window whose number
  // cannot be had is passed over; an application without readable windows gives no entries.
  json scene = baseScene();
  scene["apps"][0]["element"]["AXWindows"] = {
      {{"windowNumber", 70}, {"errors", {{"AXMinimized", -25204}}}},
      {{"AXMinimized", true}},
      {{"windowNumber", 72}, {"AXMinimized", 1}},
      {{"windowNumber", 73}, {"AXMinimized", "yes"}},
  };
  scene["windowList"] = {
      entry(70, 101, "Read fails", {10, 10, 500, 500}, {{"kCGWindowIsOnscreen", false}}),
      entry(71, 101, "No number in AX", {10, 10, 500, 500}, {{"kCGWindowIsOnscreen", false}}),
      entry(72, 101, "Number one", {10, 10, 500, 500}, {{"kCGWindowIsOnscreen", false}}),
      entry(73, 101, "String", {10, 10, 500, 500}, {{"kCGWindowIsOnscreen", false}}),
  };
  RunResult r = runScene(scene, {"world"});
  ASSERT_EQ(r.status, 0) << r.err;
  json windows = r.outJson()["windows"];
  ASSERT_EQ(windows.size(), 4u);
  EXPECT_EQ(windows[0]["minimized"], false);
  EXPECT_FALSE(windows[1].contains("minimized"));
  EXPECT_EQ(windows[2]["minimized"], true);
  EXPECT_EQ(windows[2]["state"], "minimized");
  EXPECT_EQ(windows[3]["minimized"], false);
  EXPECT_EQ(windows[3]["state"], "minimized-or-other-space");
}

}  // namespace

namespace {

// The example scene of the README gives the output that the README shows.
TEST(WorldExample, ReadmeScene) {
  std::string scene = testing_harness::readFile(testing_harness::dataPath("world_example.json"));
  ASSERT_FALSE(scene.empty());
  RunResult r = testing_harness::runSceneText(scene, {"world"});
  ASSERT_EQ(r.status, 0) << r.err;
  json out = r.outJson();
  ASSERT_EQ(out["windows"].size(), 3u);
  EXPECT_EQ(out["windows"][0]["display"], 2);
  EXPECT_EQ(out["windows"][1]["state"], "minimized");
  EXPECT_EQ(out["windows"][2]["state"], "app-hidden");
  EXPECT_EQ(out["frontApp"], "TextEdit");
}

}  // namespace
