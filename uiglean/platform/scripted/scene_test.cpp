#include "uiglean/platform/scripted/scene.h"

#include <gtest/gtest.h>

#include "uiglean/ax/readers.h"
#include "uiglean/platform/scripted/scripted.h"

namespace uiglean {
namespace {

std::string errorOf(const std::string& text) {
  try {
    parseScene(text, "s.json");
  } catch (const SceneError& e) {
    return e.what();
  }
  return "";
}

TEST(Scene, ErrorsNameTheJsonLocation) {
  EXPECT_EQ(errorOf("[]"), "/: a scene is a JSON object");
  EXPECT_NE(errorOf("{\n  \"apps\": [,]\n}").find("line 2"), std::string::npos);
  EXPECT_EQ(errorOf(R"({"trusted": 1})"), "/trusted: expected true or false");
  EXPECT_EQ(errorOf(R"({"apps": [{"name": "x"}]})"), "/apps/0: missing \"pid\"");
  EXPECT_EQ(errorOf(R"({"apps": [{"pid": 1}, {"pid": 1}]})"), "/apps/1/pid: duplicate pid");
  EXPECT_EQ(errorOf(R"({"apps": [{"pid": 1, "element": {"AXWindows": [{"AXPosition": {"point": [1]}}]}}]})"),
            "/apps/0/element/AXWindows/0/AXPosition/point: expected a list of two numbers");
  EXPECT_EQ(errorOf(R"({"apps": [{"pid": 1, "element": {"id": "a", "AXChildren": [{"id": "a"}]}}]})"),
            "/apps/0/element/AXChildren/0/id: duplicate id \"a\"");
  EXPECT_EQ(errorOf(R"({"apps": [{"pid": 1, "element": {"colour": 1}}]})"),
            "/apps/0/element/colour: unknown element key (attributes start with \"AX\")");
  EXPECT_NE(errorOf(R"({"apps": [{"pid": 1, "element": {"on": {"AXPress": [{"setAttr": {"element": "zz", "attr": "AXValue", "value": 1}}]}}}]})")
                .find("no element has the id \"zz\""),
            std::string::npos);
  EXPECT_EQ(errorOf(R"({"images": {"/a/b.png": {"w": "x"}}})"), "/images/~1a~1b.png/w: expected an integer");
  EXPECT_EQ(errorOf(R"({"apps": [{"pid": 1}], "frontmost": 1, "windowList": {"not": "a list"}})"), "");
}

TEST(Scene, WritesBackWhatTheRunChanged) {
  Scene s = parseScene(R"({
    "frontmost": 1, "persist": true, "secureInput": true,
    "apps": [{"pid": 1, "name": "A", "element": {
      "AXFocusedWindow": {"element": "win"},
      "AXWindows": [{"id": "win", "AXTitle": "T", "AXChildren": [{"AXRole": "AXButton"}, {"element": "shared"}]}],
      "AXMenuBar": {"element": {"id": "shared", "AXRole": "AXMenuBar", "settable": ["AXValue"]}}}}],
    "notifications": [{"name": "AXValueChanged", "atMs": 500}]})",
                       "s.json");
  json out = sceneToJson(s, 200);
  // References stay references, elements defined in place stay in place.
  EXPECT_EQ(out["apps"][0]["element"]["AXFocusedWindow"], json({{"element", "win"}}));
  EXPECT_EQ(out["apps"][0]["element"]["AXWindows"][0]["AXChildren"][1], json({{"element", "shared"}}));
  EXPECT_EQ(out["apps"][0]["element"]["AXMenuBar"]["element"]["AXRole"], "AXMenuBar");
  EXPECT_EQ(out["secureInput"], true);
  // Arrivals still to come continue on the next run's clock.
  EXPECT_EQ(out["notifications"][0]["atMs"], 300.0);
  // The written scene reads back to the same scene.
  Scene again = parseScene(out.dump(), "s.json");
  EXPECT_EQ(sceneToJson(again, 0).dump(), sceneToJson(parseScene(out.dump(), "s.json"), 0).dump());
  EXPECT_EQ(again.byId.at("shared")->find("AXRole")->text, "AXMenuBar");
}

TEST(Scene, SelectedTextReplacesItsRangeInScalars) {
  useScene(parseScene(R"({"frontmost": 1, "apps": [{"pid": 1, "element": {"AXChildren": [{
      "id": "t", "AXValue": "h\u00e9llo \ud83d\ude00!", "AXSelectedTextRange": {"range": [1, 5]},
      "AXNumberOfCharacters": 9, "settable": ["AXSelectedText"]}]}}]})",
                      "s.json"));
  Element app = axCreateApplication(1);
  Element t = children(app).at(0);
  ASSERT_EQ(axSetAttributeValue(t, "AXSelectedText", std::string("\xC3\xA4")), 0);
  EXPECT_EQ(attrString(t, "AXValue"), "h\xC3\xA4\xF0\x9F\x98\x80!");
  EXPECT_EQ(attrNumber(t, "AXNumberOfCharacters")->value, 4);
  // The caret follows the inserted text; a range past the end is clamped to the text.
  EXPECT_EQ(std::get<Range>(axCopyAttributeValue(t, "AXSelectedTextRange").value).location, 2);
  ASSERT_EQ(axSetAttributeValue(t, "AXSelectedText", std::string("xyz")), 0);
  EXPECT_EQ(attrString(t, "AXValue"), "h\xC3\xA4xyz\xF0\x9F\x98\x80!");
}

TEST(Scene, RunLoopDeliversOnePerCallInTimeThenSceneOrder) {
  useScene(parseScene(R"({"frontmost": 1, "apps": [{"pid": 1}], "notifications": [
      {"name": "B", "atMs": 20}, {"name": "A", "atMs": 20}, {"name": "C", "atMs": 10},
      {"name": "R", "atMs": 100, "everyMs": 30, "untilMs": 160}]})",
                      "s.json"));
  static std::vector<std::string> got;
  got.clear();
  auto obs = axObserverCreate(1, [](const Observer&, const Element&, const std::string& n, void*) {
    got.push_back(n);
  });
  for (const char* n : {"A", "B", "C", "R"}) axObserverAddNotification(obs.observer, axCreateApplication(1), n, nullptr);
  // Not yet in the run loop: nothing is delivered, and what passed is gone.
  EXPECT_EQ(runLoopRunInMode(0.005, true), 3);
  addObserverToRunLoop(obs.observer);
  EXPECT_EQ(runLoopRunInMode(0.05, true), 4);
  EXPECT_EQ(scriptedNowMs(), 10);
  EXPECT_EQ(runLoopRunInMode(0.05, true), 4);
  EXPECT_EQ(runLoopRunInMode(0.05, true), 4);
  EXPECT_EQ(scriptedNowMs(), 20);
  EXPECT_EQ(runLoopRunInMode(0.05, true), 3);
  EXPECT_EQ(scriptedNowMs(), 70);
  for (int i = 0; i < 10; ++i) runLoopRunInMode(0.05, true);
  EXPECT_EQ(got, (std::vector<std::string>{"C", "B", "A", "R", "R", "R"}));
}

}  // namespace
}  // namespace uiglean
