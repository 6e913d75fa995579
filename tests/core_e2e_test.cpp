// End-to-end runs of dispatch, tree, the element actions and settle on scenes.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/harness.h"

namespace {

using namespace testing_harness;
using nlohmann::json;

const std::string kDash = "\xE2\x80\x94";

// One app, frontmost, whose window holds the given children.
json sceneWith(json children, json windowExtra = json::object()) {
  json window = {{"id", "win"}, {"AXRole", "AXWindow"}, {"AXChildren", children}};
  window.update(windowExtra);
  return {{"frontmost", 101},
          {"apps",
           {{{"pid", 101},
             {"name", "Notes"},
             {"bundleId", "com.example.notes"},
             {"element", {{"AXRole", "AXApplication"}, {"AXWindows", json::array({window})}}}}}}};
}

TEST(Dispatch, WordsChecksAndStatuses) {
  json scene = sceneWith(json::array());
  // No word runs tree; extra words after tree are ignored.
  auto r = runScene(scene, {});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.outJson()["app"], "Notes");
  EXPECT_EQ(runScene(scene, {"tree", "extra", "words"}).out, r.out);

  r = runScene(scene, {""});
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.err, "uiglean: unknown subcommand \"\"\n");
  EXPECT_EQ(r.out, "");
  r = runScene(scene, {"Tree"});
  EXPECT_EQ(r.err, "uiglean: unknown subcommand \"Tree\"\n");
  EXPECT_EQ(r.status, 5);

  // Trust is checked before the word is even looked at.
  json untrusted = scene;
  untrusted["trusted"] = false;
  for (const auto& argv : std::vector<std::vector<std::string>>{{"bogus"}, {"tree"}, {"press"}}) {
    r = runScene(untrusted, argv);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "uiglean: not trusted for accessibility\n");
  }

  // Argument counts are checked before the frontmost application is looked up.
  json nobody = scene;
  nobody["frontmost"] = nullptr;
  for (const char* word : {"press", "focus", "reveal", "altui"}) {
    r = runScene(nobody, {word});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err, std::string("uiglean: ") + word + " needs a ref\n");
    EXPECT_EQ(r.count("frontmostApplication"), 0u);
    r = runScene(nobody, {word, "w0"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "uiglean: no frontmost app\n");
  }
  r = runScene(nobody, {"setvalue", "w0"});
  EXPECT_EQ(r.err, "uiglean: setvalue needs a ref and a value\n");
  EXPECT_EQ(r.status, 5);
  for (const char* word : {"tree", "settle"}) {
    r = runScene(nobody, {word});
    EXPECT_EQ(r.status, 3) << word;
    EXPECT_EQ(r.out, "");
  }
}

TEST(Dispatch, BadScenesFailBeforeAnythingElse) {
  auto r = runSceneText("{\"apps\": [ {\"pid\": 1,}", {"tree"});
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.err.rfind("uiglean-scripted: bad scene: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("line 1"), std::string::npos) << r.err;
  EXPECT_TRUE(r.journal.empty());

  r = runScene({{"apps", {{{"pid", 1}, {"element", {{"AXWindows", {{{"AXRole", "AXWindow"}}, {{"AXSize", {{"size", {1}}}}}}}}}}}}},
               {"tree"});
  EXPECT_EQ(r.status, 5);
  EXPECT_NE(r.err.find("/apps/0/element/AXWindows"), std::string::npos) << r.err;

  r = runScene({{"frontmost", 5}}, {"tree"});
  EXPECT_EQ(r.status, 5);
  EXPECT_NE(r.err.find("/frontmost"), std::string::npos) << r.err;

  r = runScene({{"apps", {{{"pid", 1}, {"element", {{"AXFocusedWindow", {{"element", "nope"}}}}}}}}},
               {"tree"});
  EXPECT_EQ(r.status, 5);
  EXPECT_NE(r.err.find("nope"), std::string::npos) << r.err;
}

TEST(Tree, NodeFieldsAndTheirOmissions) {
  json scene = sceneWith(
      {{{"AXRole", "AXCheckBox"}, {"AXValue", 1}, {"AXTitle", "  Bold "}, {"AXEnabled", false},
        {"AXFocused", true}, {"AXSelected", false}, {"AXSubrole", " "}, {"AXHelp", "help text"},
        {"AXDescription", "\t\n"}, {"AXIdentifier", "id/1"},
        {"actions", {"AXPress", "AXRaise", "AXShowMenu"}},
        {"AXPosition", {{"point", {1.5, 2}}}}, {"AXSize", {{"size", {30, 40.25}}}}},
       {{"AXValue", ""}, {"AXTitle", "   "}, {"AXEnabled", true}, {"actions", {"AXRaise"}},
        {"AXPosition", {{"point", {5, 5}}}}},
       {{"AXRole", 7}, {"AXValue", 0.5}, {"AXPlaceholderValue", "type here"},
        {"errors", {{"AXDescription", -25204}}}},
       {{"AXValue", {{"range", {0, 1}}}}, {"AXDescription", "first"}, {"AXHelp", "second"}}});
  scene["secureInput"] = true;
  auto r = runScene(scene, {"tree"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            R"({"app":"Notes","bundleId":"com.example.notes","pid":101,"frontWindow":0,)"
            R"("secureInput":true,"windows":[{"ref":"w0","role":"AXWindow","frame":[0,0,0,0],)"
            R"("children":[{"ref":"w0.0","role":"AXCheckBox","title":"  Bold ","value":"1",)"
            R"("desc":"help text","ident":"id\/1","enabled":false,"focused":true,)"
            R"("acts":["Press","ShowMenu"],"frame":[1.5,2,30,40.25],"children":[]},)"
            R"({"ref":"w0.1","role":"unknown","frame":[0,0,0,0],"children":[]},)"
            R"({"ref":"w0.2","role":"unknown","value":"0.5","desc":"type here","frame":[0,0,0,0],"children":[]},)"
            R"({"ref":"w0.3","role":"unknown","desc":"first","frame":[0,0,0,0],"children":[]}]}]})");
  // The description stops at the first non-blank attribute: AXHelp is never read for w0.3.
  EXPECT_EQ(r.count("AXUIElementCopyAttributeValue", {{"element", "win/AXChildren/3"}, {"attr", "AXHelp"}}), 0u);
  // The full tree is asked for, then the timeout is set, all before the first attribute read.
  long manual = r.indexOf("AXUIElementSetAttributeValue", {{"attr", "AXManualAccessibility"}});
  long enhanced = r.indexOf("AXUIElementSetAttributeValue", {{"attr", "AXEnhancedUserInterface"}});
  long timeout = r.indexOf("AXUIElementSetMessagingTimeout", {{"seconds", 0.5}});
  long firstRead = r.indexOf("AXUIElementCopyAttributeValue");
  EXPECT_TRUE(manual >= 0 && manual < enhanced && enhanced < timeout && timeout < firstRead);
  // The size is read only when a position exists.
  EXPECT_EQ(r.count("AXUIElementCopyAttributeValue", {{"element", "win/AXChildren/2"}, {"attr", "AXSize"}}), 0u);
}

TEST(Tree, AttemptsWhenTheTreeIsEmpty) {
  // No windows: three attempts with two 250 ms pauses.
  json scene = {{"frontmost", 7}, {"apps", {{{"pid", 7}}}}};
  auto r = runScene(scene, {"tree"});
  EXPECT_EQ(r.out, R"({"app":"unknown","pid":7,"frontWindow":0,"secureInput":false,"windows":[]})");
  EXPECT_EQ(r.count("usleep", {{"micros", 250000}}), 2u);
  EXPECT_EQ(r.count("AXUIElementCopyAttributeValue", {{"attr", "AXWindows"}}), 3u);

  // A lone window without children: still three attempts; a window with one child: one attempt.
  r = runScene(sceneWith(json::array()), {"tree"});
  EXPECT_EQ(r.count("AXUIElementCopyAttributeValue", {{"attr", "AXWindows"}}), 3u);
  r = runScene(sceneWith({{{"AXRole", "AXButton"}}}), {"tree"});
  EXPECT_EQ(r.count("AXUIElementCopyAttributeValue", {{"attr", "AXWindows"}}), 1u);
  EXPECT_EQ(r.count("usleep"), 0u);
}

// A chain `depth` levels deep below the window.
json chain(int depth) {
  json node = {{"AXRole", "AXGroup"}};
  for (int i = 0; i < depth; ++i)
    node = {{"AXRole", "AXGroup"}, {"AXChildren", json::array({node})}};
  return node;
}

TEST(Tree, LimitsOnWindowsChildrenDepthAndNodes) {
  // Seven windows: refs w0..w5, the seventh never read.
  json windows = json::array();
  for (int i = 0; i < 7; ++i) windows.push_back({{"AXRole", "AXWindow"}, {"AXTitle", numbered("W", i)}});
  json scene = {{"frontmost", 1}, {"apps", {{{"pid", 1}, {"element", {{"AXWindows", windows}}}}}}};
  auto r = runScene(scene, {"tree"});
  auto out = r.outJson();
  ASSERT_EQ(out["windows"].size(), 6u);
  EXPECT_EQ(out["windows"][5]["ref"], "w5");
  EXPECT_EQ(r.count("AXUIElementCopyAttributeValue", {{"element", "pid:1/AXWindows/6"}}), 0u);

  // 200 children: 96 nodes, refs .0 to .95.
  json many = json::array();
  for (int i = 0; i < 200; ++i) many.push_back({{"AXRole", "AXCell"}});
  out = runScene(sceneWith(many), {"tree"}).outJson();
  ASSERT_EQ(out["windows"][0]["children"].size(), 96u);
  EXPECT_EQ(out["windows"][0]["children"][95]["ref"], "w0.95");

  // Depth: the node at depth 14 is written with no children and its child is never read.
  r = runScene(sceneWith(json::array({chain(15)})), {"tree"});
  json node = r.outJson()["windows"][0];
  int depth = 0;
  while (!node["children"].empty()) {
    node = node["children"][0];
    ++depth;
  }
  EXPECT_EQ(depth, 14);
  EXPECT_EQ(node["ref"], "w0" + [] { std::string s; for (int i = 0; i < 14; ++i) s += ".0"; return s; }());
  std::string cutPath = "win/AXChildren/0";
  for (int i = 0; i < 14; ++i) cutPath += "/AXChildren/0";
  EXPECT_EQ(r.count("AXUIElementCopyAttributeValue", {{"element", cutPath}}), 0u);
}

TEST(Tree, NodeLimitCutsInPreOrder) {
  // 50 groups of 90 leaves: 4551 elements in one window.
  json groups = json::array();
  for (int g = 0; g < 50; ++g) {
    json leaves = json::array();
    for (int l = 0; l < 90; ++l) leaves.push_back({{"AXRole", "AXCell"}});
    groups.push_back({{"AXRole", "AXRow"}, {"AXChildren", leaves}});
  }
  auto r = runScene(sceneWith(groups), {"tree"});
  json w = r.outJson()["windows"][0];
  std::size_t count = 1;
  for (const auto& g : w["children"]) count += 1 + g["children"].size();
  EXPECT_EQ(count, 4000u);
  // Window + 43 full groups (43 * 91 = 3913) + group 43 with 85 leaves = 4000.
  ASSERT_EQ(w["children"].size(), 44u);
  EXPECT_EQ(w["children"][43]["children"].size(), 85u);
  EXPECT_EQ(w["children"][43]["children"][84]["ref"], "w0.43.84");
  // Nothing of a cut element is read.
  EXPECT_EQ(r.count("AXUIElementCopyAttributeValue", {{"element", "win/AXChildren/43/AXChildren/85"}}), 0u);
  EXPECT_EQ(r.count("AXUIElementCopyAttributeValue", {{"element", "win/AXChildren/44"}}), 0u);
}

TEST(Tree, FrontWindowIsTheFirstFrameMatch) {
  auto win = [](const std::string& id, double x) {
    return json{{"id", id}, {"AXRole", "AXWindow"}, {"AXPosition", {{"point", {x, 0}}}},
                {"AXSize", {{"size", {100, 100}}}}, {"AXChildren", {{{"AXRole", "AXButton"}}}}};
  };
  json scene = {{"frontmost", 1},
                {"apps", {{{"pid", 1},
                           {"element", {{"AXWindows", {win("a", 0), win("b", 50), win("c", 50)}},
                                        {"AXFocusedWindow", {{"element", "c"}}}}}}}}};
  EXPECT_EQ(runScene(scene, {"tree"}).outJson()["frontWindow"], 1);
  scene["apps"][0]["element"]["AXFocusedWindow"] = {{"element", {{"AXRole", "AXWindow"}}}};
  EXPECT_EQ(runScene(scene, {"tree"}).outJson()["frontWindow"], 0);
}

json actionScene() {
  return sceneWith(
      {{{"id", "ok"}, {"AXRole", "AXButton"}, {"actions", {"AXPress", "AXScrollToVisible", "AXShowAlternateUI"}},
        {"settable", {"AXFocused"}}},
       {{"id", "refuses"}, {"AXRole", "AXButton"}, {"perform", {{"AXPress", -25200}, {"AXScrollToVisible", -25204}}},
        {"set", {{"AXFocused", -25201}}}}});
}

TEST(Actions, OutcomesAndMessages) {
  json scene = actionScene();
  for (const char* word : {"press", "focus", "reveal", "altui"}) {
    auto r = runScene(scene, {word, "w0.0"});
    EXPECT_EQ(r.out, R"({"ok":true})") << word;
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.indexOf("AXUIElementSetMessagingTimeout", {{"seconds", 8.0}}), 3) << word;
  }
  auto r = runScene(scene, {"press", "w0.1"});
  EXPECT_EQ(r.out, R"j({"ok":false,"error":"AXPress failed (-25200)"})j");
  r = runScene(scene, {"reveal", "w0.1"});
  EXPECT_EQ(r.out, R"j({"ok":false,"error":"AXScrollToVisible failed (-25204)"})j");
  r = runScene(scene, {"altui", "w0.1"});
  EXPECT_EQ(r.out, R"j({"ok":false,"error":"AXShowAlternateUI failed (-25206)"})j");
  r = runScene(scene, {"focus", "w0.1"});
  EXPECT_EQ(r.out, R"j({"ok":false,"error":"could not focus (-25201)"})j");
  EXPECT_EQ(r.count("AXUIElementPerformAction"), 0u);
  EXPECT_EQ(r.status, 0);

  // Exactly one platform call acts.
  r = runScene(scene, {"press", "w0.0", "w0.1"});
  EXPECT_EQ(r.count("AXUIElementPerformAction"), 1u);
  EXPECT_EQ(r.count("AXUIElementSetAttributeValue"), 0u);
}

TEST(Actions, RefsThatNoLongerResolve) {
  json scene = actionScene();
  for (const std::string ref : {"w2", "w0.5", "x0", "", " w0", "w0.-1", "w0.96"}) {
    auto r = runScene(scene, {"press", ref});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.outJson()["error"], "ref \"" + ref + "\" no longer resolves " + kDash +
                                         " the UI changed; re-read the snapshot")
        << ref;
    EXPECT_EQ(r.count("AXUIElementPerformAction"), 0u);
  }
  auto r = runScene(scene, {"setvalue", "w9", "x"});
  EXPECT_EQ(r.outJson()["error"], "ref \"w9\" no longer resolves " + kDash + " re-read the snapshot");
  // A ref that is not valid UTF-8 is still echoed as valid JSON.
  r = runScene(scene, {"press", "w\xFF"});
  EXPECT_EQ(r.out, "{\"ok\":false,\"error\":\"ref \\\"w\xEF\xBF\xBD\\\" no longer resolves " + kDash +
                       " the UI changed; re-read the snapshot\"}");
  // Leading, trailing and doubled dots do not matter; the resolver reads no more than the path.
  for (const std::string ref : {"w0..1", ".w0.1", "w0.1.", "w+0.01"}) {
    r = runScene(scene, {"press", ref});
    EXPECT_EQ(r.out, R"j({"ok":false,"error":"AXPress failed (-25200)"})j") << ref;
  }
  EXPECT_EQ(r.count("AXUIElementCopyAttributeValue"), 2u);  // AXWindows, then AXChildren of w0
}

json textScene(json field) {
  field["id"] = "field";
  if (!field.contains("AXRole")) field["AXRole"] = "AXTextField";
  return sceneWith(json::array({field}));
}

TEST(SetValue, SelectedTextRouteAndFallbacks) {
  // Whole text selected and replaced; the write lands in AXValue through the selection.
  json scene = textScene({{"AXValue", "milk"}, {"AXNumberOfCharacters", 4},
                          {"settable", {"AXFocused", "AXSelectedTextRange", "AXSelectedText"}}});
  scene["persist"] = true;
  auto r = runScene(scene, {"setvalue", "w0.0", "b\xC3\xA4ker"});
  EXPECT_EQ(r.out, R"({"ok":true})");
  auto sets = r.calls("AXUIElementSetAttributeValue");
  ASSERT_EQ(sets.size(), 3u);
  EXPECT_EQ(sets[0]["attr"], "AXFocused");
  EXPECT_EQ(sets[1]["attr"], "AXSelectedTextRange");
  EXPECT_EQ(sets[1]["value"], json({{"range", {0, 4}}}));
  EXPECT_EQ(sets[2]["attr"], "AXSelectedText");
  const json& after = r.sceneAfter["apps"][0]["element"]["AXWindows"][0]["AXChildren"][0];
  EXPECT_EQ(after["AXValue"], "b\xC3\xA4ker");
  EXPECT_EQ(after["AXNumberOfCharacters"], 5);

  // No character count: straight to AXValue. Empty text is written as it is.
  scene = textScene({{"AXValue", "x"}, {"settable", {"AXValue"}}});
  r = runScene(scene, {"setvalue", "w0.0", ""});
  EXPECT_EQ(r.out, R"({"ok":true})");
  sets = r.calls("AXUIElementSetAttributeValue");
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(sets[1]["attr"], "AXValue");
  EXPECT_EQ(sets[1]["value"], "");

  // Range accepted, selected text refused: AXValue still written.
  scene = textScene({{"AXValue", "x"}, {"AXNumberOfCharacters", 1},
                     {"settable", {"AXSelectedTextRange", "AXValue"}}, {"set", {{"AXSelectedText", -25200}}}});
  r = runScene(scene, {"setvalue", "w0.0", "new"});
  EXPECT_EQ(r.out, R"({"ok":true})");
  EXPECT_EQ(r.count("AXUIElementSetAttributeValue", {{"attr", "AXValue"}, {"value", "new"}}), 1u);

  // Both refused: the AXValue write's code is reported.
  scene = textScene({{"AXNumberOfCharacters", 3}, {"set", {{"AXSelectedTextRange", -25201}, {"AXValue", -25204}}}});
  r = runScene(scene, {"setvalue", "w0.0", "t"});
  EXPECT_EQ(r.out, R"j({"ok":false,"error":"neither AXSelectedText nor AXValue was writable (-25204)"})j");
  EXPECT_EQ(r.count("AXUIElementSetAttributeValue", {{"attr", "AXSelectedText"}}), 0u);
}

json settleScene(json notifications) {
  json scene = sceneWith(json::array());
  scene["notifications"] = notifications;
  return scene;
}

TEST(Settle, QuietPeriodTimeLimitAndArguments) {
  auto r = runScene(settleScene(json::array()), {"settle"});
  EXPECT_EQ(r.out, R"({"settled":true,"elapsedMs":300,"events":[],"sheetAppeared":false,"changed":false})");
  EXPECT_EQ(r.count("AXObserverAddNotification"), 10u);
  EXPECT_EQ(r.calls("AXObserverAddNotification")[0]["notification"], "AXValueChanged");
  EXPECT_EQ(r.calls("AXObserverAddNotification")[9]["notification"], "AXUIElementDestroyed");
  EXPECT_EQ(r.count("AXUIElementSetMessagingTimeout"), 0u);
  EXPECT_EQ(r.count("AXUIElementSetAttributeValue"), 0u);

  // Steady notifications keep it going until the time limit.
  r = runScene(settleScene({{{"name", "AXLayoutChanged"}, {"atMs", 0}, {"everyMs", 40}, {"untilMs", 5000}}}),
               {"settle"});
  EXPECT_EQ(r.out, R"({"settled":false,"elapsedMs":3000,"events":["AXLayoutChanged"],"sheetAppeared":false,"changed":true})");

  // A sheet, a repeated name listed once, and the quiet period counted from the last arrival.
  r = runScene(settleScene({{{"name", "AXValueChanged"}, {"atMs", 10}},
                            {{"name", "AXSheetCreated"}, {"atMs", 120}},
                            {{"name", "AXValueChanged"}, {"atMs", 200}}}),
               {"settle"});
  EXPECT_EQ(r.out, R"({"settled":true,"elapsedMs":500,"events":["AXValueChanged","AXSheetCreated"],"sheetAppeared":true,"changed":true})");

  // Unparsable arguments fall back one by one; zero and negative values are taken as they are.
  r = runScene(settleScene(json::array()), {"settle", "abc", "500"});
  EXPECT_EQ(r.outJson()["elapsedMs"], 300);
  r = runScene(settleScene({{{"name", "AXValueChanged"}, {"atMs", 0}, {"everyMs", 100}}}), {"settle", "abc", "500"});
  EXPECT_EQ(r.outJson()["elapsedMs"], 500);
  EXPECT_EQ(r.outJson()["settled"], false);
  r = runScene(settleScene(json::array()), {"settle", "+150"});
  EXPECT_EQ(r.outJson()["elapsedMs"], 150);
  r = runScene(settleScene(json::array()), {"settle", "300", "0"});
  EXPECT_EQ(r.out, R"({"settled":false,"elapsedMs":0,"events":[],"sheetAppeared":false,"changed":false})");
  EXPECT_EQ(r.count("CFRunLoopRunInMode"), 0u);
  r = runScene(settleScene(json::array()), {"settle", "-5"});
  EXPECT_EQ(r.out, R"({"settled":true,"elapsedMs":50,"events":[],"sheetAppeared":false,"changed":false})");
  EXPECT_EQ(r.count("CFRunLoopRunInMode"), 1u);
}

TEST(Settle, WhatIsNeverReceived) {
  // No observer: the empty result at once.
  json scene = settleScene({{{"name", "AXValueChanged"}, {"atMs", 0}}});
  scene["observerError"] = -25200;
  auto r = runScene(scene, {"settle"});
  EXPECT_EQ(r.out, R"({"settled":false,"elapsedMs":0,"events":[],"sheetAppeared":false,"changed":false})");
  EXPECT_EQ(r.count("AXObserverAddNotification"), 0u);

  // An unsupported name never arrives; names outside the list are never subscribed.
  r = runScene(settleScene({{{"name", "AXValueChanged"}, {"atMs", 10}, {"unsupported", true}},
                            {{"name", "AXMoved"}, {"atMs", 20}}}),
               {"settle"});
  EXPECT_EQ(r.out, R"({"settled":true,"elapsedMs":300,"events":[],"sheetAppeared":false,"changed":false})");

  // At most 20 distinct names are kept. The scene sends 25 names that the app is not subscribed
  // to plus the subscribed ones, so only the ten subscribed names can ever appear.
  json many = json::array();
  const char* names[] = {"AXValueChanged", "AXLayoutChanged", "AXTitleChanged", "AXRowCountChanged",
                         "AXSelectedTextChanged", "AXFocusedUIElementChanged", "AXWindowCreated",
                         "AXSheetCreated", "AXMenuOpened", "AXUIElementDestroyed"};
  for (int i = 0; i < 10; ++i) many.push_back({{"name", names[i]}, {"atMs", 10 * i}});
  r = runScene(settleScene(many), {"settle"});
  EXPECT_EQ(r.outJson()["events"].size(), 10u);
  EXPECT_EQ(r.outJson()["events"][7], "AXSheetCreated");
}

TEST(Persist, PressThenSettleThenTreeShowsTheChange) {
  json scene = sceneWith(
      {{{"id", "save"}, {"AXRole", "AXButton"}, {"actions", {"AXPress"}},
        {"on", {{"AXPress", {{{"setAttr", {{"element", "label"}, {"attr", "AXValue"}, {"value", "Saved"}}}},
                             {{"notify", {{"name", "AXValueChanged"}, {"afterMs", 30}}}}}}}}},
       {{"id", "label"}, {"AXRole", "AXStaticText"}, {"AXValue", "Not saved"}}});
  scene["persist"] = true;
  std::string dir = tempDir();
  std::string path = dir + "/scene.json";
  {
    std::ofstream f(path);
    f << scene.dump();
  }
  auto run = [&](std::vector<std::string> argv) {
    return runProgram(binaryPath("uiglean-scripted"), argv, {"UIGLEAN_SCENE=" + path});
  };
  EXPECT_EQ(run({"tree"}).out.find("Saved\""), std::string::npos);
  EXPECT_EQ(run({"press", "w0.0"}).out, R"({"ok":true})");
  EXPECT_EQ(run({"settle"}).out, R"({"settled":true,"elapsedMs":330,"events":["AXValueChanged"],"sheetAppeared":false,"changed":true})");
  auto tree = json::parse(run({"tree"}).out);
  EXPECT_EQ(tree["windows"][0]["children"][1]["value"], "Saved");
}

}  // namespace
