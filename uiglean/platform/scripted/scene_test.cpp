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

TEST(Scene, IntegersStayExactFromSceneToPlatformAndBack) {
  const char* text = R"({"frontmost": 1, "apps": [{"pid": 1, "element": {
      "AXChildren": [{"id": "t", "AXValue": 9007199254740993, "AXMax": 9223372036854775807,
                      "AXMin": -9223372036854775808, "AXBig": 9223372036854775808,
                      "AXHuge": 18446744073709551615, "AXReal": 2.5,
                      "AXSelectedTextRange": {"range": [9223372036854775807, 9223372036854775807]},
                      "settable": ["AXValue"]}]}}]})";
  Scene scene = parseScene(text, "s.json");
  json out = sceneToJson(scene);
  const json& t = out["apps"][0]["element"]["AXChildren"][0];
  EXPECT_EQ(t["AXValue"].dump(), "9007199254740993");
  EXPECT_EQ(t["AXMax"].dump(), "9223372036854775807");
  EXPECT_EQ(t["AXMin"].dump(), "-9223372036854775808");
  EXPECT_EQ(t["AXBig"].dump(), "9223372036854775808");
  EXPECT_EQ(t["AXHuge"].dump(), "18446744073709551615");
  EXPECT_EQ(t["AXReal"].dump(), "2.5");
  EXPECT_EQ(t["AXSelectedTextRange"].dump(), R"({"range":[9223372036854775807,9223372036854775807]})");
  EXPECT_EQ(valueToJournal(*scene.byId.at("t")->find("AXValue")).dump(), "9007199254740993");

  useScene(std::move(scene));
  Element el = children(axCreateApplication(1)).at(0);
  auto n = attrNumber(el, "AXValue");
  ASSERT_TRUE(n);
  EXPECT_EQ(n->integer, 9007199254740993);
  EXPECT_EQ(numberText(*n), "9007199254740993");
  EXPECT_EQ(numberText(*attrNumber(el, "AXMin")), "-9223372036854775808");
  EXPECT_FALSE(attrNumber(el, "AXReal")->integer);
  // An exact integer written by the caller is stored as it is.
  ASSERT_EQ(axSetAttributeValue(el, "AXValue", Number{0, false, true, INT64_MAX - 1}), 0);
  EXPECT_EQ(attrNumber(el, "AXValue")->integer, INT64_MAX - 1);
  ASSERT_EQ(axSetAttributeValue(el, "AXValue", Number{1e300, false, true, std::nullopt}), 0);
  EXPECT_EQ(attrNumber(el, "AXValue")->value, 1e300);
  EXPECT_FALSE(attrNumber(el, "AXValue")->integer);
}

TEST(Scene, SelectionAtTheEdgesOfTheIntegerRange) {
  useScene(parseScene(R"({"frontmost": 1, "apps": [{"pid": 1, "element": {"AXChildren": [{
      "id": "t", "AXValue": "abc", "AXSelectedTextRange": {"range": [9223372036854775807, 9223372036854775807]},
      "settable": ["AXSelectedText"]}, {
      "id": "u", "AXValue": "abc", "AXSelectedTextRange": {"range": [-9223372036854775808, 9223372036854775807]},
      "settable": ["AXSelectedText"]}]}}]})",
                      "s.json"));
  ElementList kids = children(axCreateApplication(1));
  ASSERT_EQ(axSetAttributeValue(kids.at(0), "AXSelectedText", std::string("!")), 0);
  EXPECT_EQ(attrString(kids.at(0), "AXValue"), "abc!");
  EXPECT_EQ(std::get<Range>(axCopyAttributeValue(kids.at(0), "AXSelectedTextRange").value).location, 4);
  ASSERT_EQ(axSetAttributeValue(kids.at(1), "AXSelectedText", std::string("x")), 0);
  EXPECT_EQ(attrString(kids.at(1), "AXValue"), "x");
}

TEST(Scene, DegenerateSchedulesAreRejected) {
  EXPECT_EQ(errorOf(R"({"notifications": [{"name": "A", "everyMs": 1e-9}]})"),
            "/notifications/0/everyMs: expected a period of 1 to 1e15 ms");
  EXPECT_EQ(errorOf(R"({"notifications": [{"name": "A", "everyMs": 0.5}]})"),
            "/notifications/0/everyMs: expected a period of 1 to 1e15 ms");
  EXPECT_EQ(errorOf(R"({"notifications": [{"name": "A", "atMs": -1e12, "everyMs": 40}]})"),
            "/notifications/0/atMs: expected a time of 0 to 1e15 ms");
  EXPECT_EQ(errorOf(R"({"notifications": [{"name": "A", "atMs": 1e300}]})"),
            "/notifications/0/atMs: expected a time of 0 to 1e15 ms");
  EXPECT_EQ(errorOf(R"({"apps": [{"pid": 1, "element": {"actions": ["AXPress"], "on": {"AXPress": [
      {"notify": {"name": "A", "afterMs": -5}}]}}}]})"),
            "/apps/0/element/on/AXPress/0/notify/afterMs: expected a time of 0 to 1e15 ms");
  EXPECT_EQ(errorOf(R"({"notifications": [{"name": "A", "atMs": 0, "everyMs": 1, "untilMs": -4}]})"), "");
}

TEST(Scene, ALongSliceReachesTheNextArrivalInOneStep) {
  useScene(parseScene(R"({"frontmost": 1, "apps": [{"pid": 1}], "notifications": [
      {"name": "Noise", "atMs": 0, "everyMs": 1},
      {"name": "A", "atMs": 999999999999.5},
      {"name": "Noise2", "atMs": 999999999999.5, "everyMs": 1},
      {"name": "B", "atMs": 5, "everyMs": 1e12}]})",
                      "s.json"));
  static std::vector<std::pair<std::string, double>> got;
  got.clear();
  auto obs = axObserverCreate(1, [](const Observer&, const Element&, const std::string& n, void*) {
    got.emplace_back(n, scriptedNowMs());
  });
  for (const char* n : {"A", "B"}) axObserverAddNotification(obs.observer, axCreateApplication(1), n, nullptr);
  addObserverToRunLoop(obs.observer);
  // Ten years of virtual time in a few calls; the noise nobody receives passes by on its own.
  EXPECT_EQ(runLoopRunInMode(1e9, true), 4);
  EXPECT_EQ(runLoopRunInMode(1e9, true), 4);
  EXPECT_EQ(runLoopRunInMode(1e9, true), 4);
  EXPECT_EQ(runLoopRunInMode(1e9, false), 4);
  EXPECT_EQ(scriptedNowMs(), 2000000000005);
  using P = std::pair<std::string, double>;
  EXPECT_EQ(got, (std::vector<P>{{"B", 5}, {"A", 999999999999.5}, {"B", 1000000000005}, {"B", 2000000000005}}));
}

TEST(Scene, ArrivalsNobodyReceivesPassInSceneOrderAtTheSameTime) {
  // Three arrivals at 10 ms. The first "X" passes before "A" (earlier in the scene) while nobody
  // listens for it; delivering "A" subscribes to "X", so the second "X" is received.
  useScene(parseScene(R"({"frontmost": 1, "apps": [{"pid": 1}], "notifications": [
      {"name": "X", "atMs": 10}, {"name": "A", "atMs": 10}, {"name": "X", "atMs": 10}]})",
                      "s.json"));
  static std::vector<std::string> got;
  got.clear();
  auto callback = [](const Observer& o, const Element& app, const std::string& n, void*) {
    got.push_back(n + "@" + std::to_string(scriptedNowMs()).substr(0, 2));
    if (n == "A") axObserverAddNotification(o, app, "X", nullptr);
  };
  auto obs = axObserverCreate(1, callback);
  axObserverAddNotification(obs.observer, axCreateApplication(1), "A", nullptr);
  addObserverToRunLoop(obs.observer);
  EXPECT_EQ(runLoopRunInMode(0.05, false), 4);
  EXPECT_EQ(got, (std::vector<std::string>{"A@10", "X@10"}));
  EXPECT_EQ(scriptedNowMs(), 50);
}

TEST(Scene, ACopyThatSucceedsWithoutAValue) {
  useScene(parseScene(R"({"frontmost": 1, "apps": [{"pid": 1, "element": {
      "AXTitle": "t", "errors": {"AXTitle": 0, "AXDescription": 0, "AXHelp": -25204}}}]})",
                      "s.json"));
  Element app = axCreateApplication(1);
  CopyResult r = axCopyAttributeValue(app, "AXDescription");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(std::holds_alternative<NoValue>(r.value));
  EXPECT_EQ(axCopyAttributeValue(app, "AXTitle").status, 0);
  EXPECT_TRUE(std::holds_alternative<NoValue>(axCopyAttributeValue(app, "AXTitle").value));
  EXPECT_EQ(axCopyAttributeValue(app, "AXHelp").status, -25204);
}

TEST(Scene, ElementsInCyclesGoWithTheirScene) {
  std::weak_ptr<SElement> app, win, self;
  {
    Scene s = parseScene(R"({"apps": [{"pid": 1, "element": {"id": "app", "AXWindows": [
        {"id": "win", "AXParent": {"element": "app"}, "AXChildren": [
          {"id": "self", "AXTopLevelUIElement": {"element": "self"}, "AXWindow": {"element": "win"}}]}]}}]})",
                         "s.json");
    app = s.byId.at("app");
    win = s.byId.at("win");
    self = s.byId.at("self");
    Scene moved = std::move(s);
    EXPECT_FALSE(app.expired());
    EXPECT_EQ(moved.byId.at("win")->find("AXParent")->element.get(), app.lock().get());
  }
  EXPECT_TRUE(app.expired());
  EXPECT_TRUE(win.expired());
  EXPECT_TRUE(self.expired());
  // A scene that fails to load after its references were resolved leaves nothing behind either.
  EXPECT_NE(errorOf(R"({"apps": [{"pid": 1, "element": {"id": "a", "AXParent": {"element": "a"},
      "actions": ["AXPress"], "on": {"AXPress": [{"frontmost": 7}]}}}]})"),
            "");
}

}  // namespace
}  // namespace uiglean
