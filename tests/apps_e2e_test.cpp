// "activate", "windows" and "focuswindow" end to end on scripted scenes.
#include <gtest/gtest.h>

#include "tests/harness.h"

namespace {

using testing_harness::json;
using testing_harness::RunResult;
using testing_harness::runScene;

json okFalse(const std::string& message) { return {{"ok", false}, {"error", message}}; }

// ---------------------------------------------------------------------------------------------
// activate.

json runningScene() {
  return {
      {"frontmost", 1},
      {"apps",
       {{{"pid", 1}, {"name", "Finder"}, {"bundleId", "com.apple.finder"}},
        {{"pid", 2},
         {"name", "Launcher for com.example.Notes"},
         {"bundleId", "com.example.launcher"}},
        {{"pid", 3}, {"name", "Notes Helper"}, {"bundleId", "com.example.helper"}, {"policy", 1}},
        {{"pid", 4}, {"name", "Notes"}, {"bundleId", "com.example.notes"}},
        {{"pid", 5}, {"name", "Mail"}, {"bundleId", "com.example.mail"}, {"activates", false}}}}};
}

TEST(Activate, NeedsAnArgumentButNoFrontmostApplication) {
  json scene = runningScene();
  scene["frontmost"] = nullptr;
  RunResult none = runScene(scene, {"activate"});
  EXPECT_EQ(none.status, 5);
  EXPECT_EQ(none.err, "uiglean: activate needs an app name or bundle id\n");
  EXPECT_EQ(none.out, "");

  RunResult r = runScene(scene, {"activate", "Notes"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, R"({"ok":true})");
}

TEST(Activate, BundleIdentifierBeatsAnEarlierNameContainment) {
  RunResult r = runScene(runningScene(), {"activate", "COM.EXAMPLE.NOTES"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, R"({"ok":true})");
  auto activations = r.calls("activateWithOptions");
  ASSERT_EQ(activations.size(), 1u);
  EXPECT_EQ(activations[0]["pid"], 4);
  EXPECT_EQ(activations[0]["options"], 1);
  EXPECT_EQ(r.count("openApplicationAtURL"), 0u);
  // The application came to the front at once: one poll after one pause.
  ASSERT_EQ(r.count("usleep"), 1u);
  EXPECT_EQ(r.calls("usleep")[0]["micros"], 100000);
}

TEST(Activate, WholeNameBeatsEarlierContainmentAndEarlierContainmentWins) {
  RunResult whole = runScene(runningScene(), {"activate", "notes"});
  ASSERT_EQ(whole.count("activateWithOptions"), 1u);
  EXPECT_EQ(whole.calls("activateWithOptions")[0]["pid"], 4);

  // Two names contain "note": the earlier one in the list, an accessory helper or not.
  RunResult part = runScene(runningScene(), {"activate", "NOTE"});
  ASSERT_EQ(part.count("activateWithOptions"), 1u);
  EXPECT_EQ(part.calls("activateWithOptions")[0]["pid"], 2);
  EXPECT_EQ(part.out, R"({"ok":true})");

  // The last part of a bundle identifier is no identifier match; it is found in no name either.
  RunResult helper = runScene(runningScene(), {"activate", "launcher"});
  EXPECT_EQ(helper.calls("activateWithOptions")[0]["pid"], 2);  // by name
  RunResult tail = runScene(runningScene(), {"activate", "finder2"});
  EXPECT_EQ(tail.count("activateWithOptions"), 0u);
  EXPECT_EQ(tail.outJson(), okFalse(R"(no app matching "finder2" is running or installed)"));
}

TEST(Activate, AlreadyFrontmostSucceedsAfterTheFirstPoll) {
  RunResult r = runScene(runningScene(), {"activate", "finder"});
  EXPECT_EQ(r.out, R"({"ok":true})");
  EXPECT_EQ(r.count("usleep"), 1u);
  EXPECT_EQ(r.count("frontmostApplication"), 1u);
}

TEST(Activate, TimesOutAfterTwentyPollsOfVirtualTime) {
  RunResult r = runScene(runningScene(), {"activate", "Mail"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, R"({"ok":false,"error":"\"Mail\" did not come to the front within 2s"})");
  auto sleeps = r.calls("usleep");
  ASSERT_EQ(sleeps.size(), 20u);
  for (const auto& s : sleeps) EXPECT_EQ(s["micros"], 100000);
  EXPECT_EQ(sleeps.back()["atMs"], 1900);
  // Each poll looks once, after its pause; the last look is at 2000 virtual ms.
  auto looks = r.calls("frontmostApplication");
  ASSERT_EQ(looks.size(), 20u);
  EXPECT_EQ(looks.front()["atMs"], 100);
  EXPECT_EQ(looks.back()["atMs"], 2000);
}

TEST(Activate, SlowActivationWithinAndBeyondTheLimit) {
  json scene = runningScene();
  scene["apps"][3]["activateDelayMs"] = 1950;
  RunResult late = runScene(scene, {"activate", "com.example.notes"});
  EXPECT_EQ(late.out, R"({"ok":true})");
  EXPECT_EQ(late.count("usleep"), 20u);

  scene["apps"][3]["activateDelayMs"] = 2050;
  RunResult tooLate = runScene(scene, {"activate", "com.example.notes"});
  EXPECT_EQ(tooLate.outJson(),
            okFalse(R"("com.example.notes" did not come to the front within 2s)"));
}

TEST(Activate, OtherFrontmostAppWhoseNameContainsTheQueryCounts) {
  json scene = runningScene();
  scene["apps"][4]["activates"] = false;  // Mail never comes
  scene["apps"].push_back({{"pid", 6}, {"name", "Mailbox Pro"}});
  scene["frontmost"] = 6;
  RunResult r = runScene(scene, {"activate", "mail"});
  EXPECT_EQ(r.calls("activateWithOptions")[0]["pid"], 5);
  EXPECT_EQ(r.out, R"({"ok":true})");
}

json installedScene() {
  return {
      {"frontmost", 1},
      {"apps", {{{"pid", 1}, {"name", "Finder"}, {"bundleId", "com.apple.finder"}}}},
      {"installed",
       {{{"url", "/System/Applications/Calculator.app"},
         {"launches", {{"pid", 300}, {"name", "Calculator"}, {"bundleId", "com.apple.calculator"}}},
         {"launchDelayMs", 350}},
        {{"bundleId", "com.example.paint"},
         {"url", "/opt/Paint.app"},
         {"launches", {{"pid", 301}, {"name", "Paint"}, {"bundleId", "com.example.paint"}}}},
        {{"url", "/Applications/Silent.app"}}}},
      {"files", {"/Applications/Both.app", "/System/Applications/Both.app"}}};
}

TEST(Activate, LaunchesFromTheSecondCandidatePath) {
  RunResult r = runScene(installedScene(), {"activate", "Calculator"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, R"({"ok":true})");
  EXPECT_EQ(r.count("activateWithOptions"), 0u);
  // The query, then the running applications' identifiers, each once: none of them is the
  // application found.
  auto lookups = r.calls("URLForApplicationWithBundleIdentifier");
  ASSERT_EQ(lookups.size(), 2u);
  EXPECT_EQ(lookups[0]["bundleId"], "Calculator");
  EXPECT_EQ(lookups[1]["bundleId"], "com.apple.finder");
  auto probes = r.calls("fileExistsAtPath");
  ASSERT_EQ(probes.size(), 2u);
  EXPECT_EQ(probes[0]["path"], "/Applications/Calculator.app");
  EXPECT_EQ(probes[1]["path"], "/System/Applications/Calculator.app");
  auto opens = r.calls("openApplicationAtURL");
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(opens[0]["url"], "/System/Applications/Calculator.app");
  EXPECT_EQ(opens[0]["activates"], true);
  // Launched after 350 virtual ms: found by the fourth poll.
  EXPECT_EQ(r.count("usleep"), 4u);
  EXPECT_EQ(r.sceneAfter.is_discarded(), false);
}

TEST(Activate, InstalledBundleIdentifierAndTheFirstCandidatePath) {
  RunResult byId = runScene(installedScene(), {"activate", "com.example.paint"});
  EXPECT_EQ(byId.out, R"({"ok":true})");
  EXPECT_EQ(byId.count("fileExistsAtPath"), 0u);
  EXPECT_EQ(byId.calls("openApplicationAtURL")[0]["url"], "/opt/Paint.app");

  RunResult both = runScene(installedScene(), {"activate", "Both"});
  EXPECT_EQ(both.count("fileExistsAtPath"), 1u);
  ASSERT_EQ(both.count("openApplicationAtURL"), 1u);
  EXPECT_EQ(both.calls("openApplicationAtURL")[0]["url"], "/Applications/Both.app");
  // Nothing comes of that launch, so the poll runs out.
  EXPECT_EQ(both.outJson(), okFalse(R"("Both" did not come to the front within 2s)"));
  EXPECT_EQ(both.count("usleep"), 20u);
}

// An application runs under a name that is not the one the caller typed, while the installed
// application the caller named is that same application.
json otherNameScene() {
  return {{"frontmost", 1},
          {"apps",
           {{{"pid", 1}, {"name", "Finder"}, {"bundleId", "com.apple.finder"}},
            {{"pid", 9}, {"name", "gedit"}, {"bundleId", "org.gnome.gedit"}}}},
          {"installed",
           {{{"bundleId", "org.gnome.gedit"},
             {"url", "/Applications/Text Editor.app"},
             {"launches", {{"pid", 301}, {"name", "gedit"}, {"bundleId", "org.gnome.gedit"}}}}}}};
}

TEST(Activate, ARunningApplicationNamedByAnotherOfItsNamesIsNeverLaunchedAgain) {
  RunResult r = runScene(otherNameScene(), {"activate", "Text Editor"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.count("openApplicationAtURL"), 0u);
  auto activations = r.calls("activateWithOptions");
  ASSERT_EQ(activations.size(), 1u);
  EXPECT_EQ(activations[0]["pid"], 9);
  // In front under a name that does not contain the query: it is the one activated.
  EXPECT_EQ(r.out, R"({"ok":true})");
  EXPECT_EQ(r.count("usleep"), 1u);
}

TEST(Activate, ALaunchedApplicationCountsByItsInstalledIdentity) {
  json scene = otherNameScene();
  scene["apps"].erase(1);  // not running
  RunResult r = runScene(scene, {"activate", "Text Editor"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.count("openApplicationAtURL"), 1u);
  EXPECT_EQ(r.out, R"({"ok":true})");

  // Another application in front whose identity is installed elsewhere does not count.
  scene["installed"][0].erase("launches");
  scene["installed"].push_back({{"bundleId", "com.apple.finder"}, {"url", "/System/Finder.app"}});
  RunResult other = runScene(scene, {"activate", "Text Editor"});
  EXPECT_EQ(other.outJson(), okFalse(R"("Text Editor" did not come to the front within 2s)"));
  // Each identity is looked up once, however many polls see it in front.
  EXPECT_EQ(
      other.count("URLForApplicationWithBundleIdentifier", {{"bundleId", "com.apple.finder"}}), 1u);
}

TEST(Activate, NothingRunningOrInstalled) {
  RunResult r = runScene(installedScene(), {"activate", "Nowhere"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, R"({"ok":false,"error":"no app matching \"Nowhere\" is running or installed"})");
  EXPECT_EQ(r.count("openApplicationAtURL"), 0u);
  EXPECT_EQ(r.count("usleep"), 0u);
}

TEST(Activate, EmptyQueryLooksForAnEmptyBundleName) {
  RunResult r = runScene(installedScene(), {"activate", ""});
  EXPECT_EQ(r.count("activateWithOptions"), 0u);
  auto probes = r.calls("fileExistsAtPath");
  ASSERT_EQ(probes.size(), 2u);
  EXPECT_EQ(probes[0]["path"], "/Applications/.app");
  EXPECT_EQ(r.outJson(), okFalse(R"(no app matching "" is running or installed)"));
}

TEST(Activate, NonAsciiNamesMatchIgnoringCase) {
  json scene = {{"apps",
                 {{{"pid", 7}, {"name", "Übersetzer"}},
                  {{"pid", 8}, {"name", "Почта"}, {"bundleId", "ru.example.pochta"}}}}};
  RunResult de = runScene(scene, {"activate", "ÜBERS"});
  EXPECT_EQ(de.calls("activateWithOptions")[0]["pid"], 7);
  EXPECT_EQ(de.out, R"({"ok":true})");
  RunResult ru = runScene(scene, {"activate", "почТА"});
  EXPECT_EQ(ru.calls("activateWithOptions")[0]["pid"], 8);
  EXPECT_EQ(ru.out, R"({"ok":true})");
}

// ---------------------------------------------------------------------------------------------
// windows and focuswindow.

json window(const std::string& id, json title, json extra = json::object()) {
  json w = {{"id", id},
            {"AXRole", "AXWindow"},
            {"AXPosition", {{"point", {10, 20}}}},
            {"AXSize", {{"size", {800.5, 600}}}},
            {"actions", {"AXRaise"}},
            {"settable", {"AXMain"}}};
  if (!title.is_null()) w["AXTitle"] = title;
  w.update(extra);
  return w;
}

json windowsScene(json windows, json name = "Docs") {
  json app = {{"pid", 101},
              {"element", {{"AXRole", "AXApplication"}, {"AXWindows", std::move(windows)}}}};
  if (!name.is_null()) app["name"] = name;
  return {{"frontmost", 101}, {"apps", json::array({app})}};
}

json eightWindows() {
  json list = json::array();
  list.push_back(window("w0", "Quarterly REPORT", {{"AXMain", true}}));
  list.push_back(window("w1", "   "));
  list.push_back(window("w2", "  padded  ", {{"AXModal", 1}, {"AXMain", false}}));
  list.push_back(window("w3", nullptr, {{"AXSize", nullptr}}));
  list.push_back(window("w4", 42, {{"AXModal", 0}}));
  list.push_back(window("w5", "Draft-1", {{"errors", {{"AXPosition", -25204}}}}));
  list.push_back(window("w6", "Report notes"));
  list.push_back(window("w7", "Eighth"));
  return windowsScene(list);
}

TEST(Windows, ListsTheFirstSixWithTheirFlags) {
  RunResult r = runScene(eightWindows(), {"windows", "extra"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            R"({"app":"Docs","windows":[)"
            R"({"index":0,"title":"Quarterly REPORT","frame":[10,20,800.5,600],"main":true},)"
            R"({"index":1,"frame":[10,20,800.5,600]},)"
            R"({"index":2,"title":"  padded  ","frame":[10,20,800.5,600],"modal":true},)"
            R"({"index":3,"frame":[0,0,0,0]},)"
            R"({"index":4,"frame":[10,20,800.5,600]},)"
            R"({"index":5,"title":"Draft-1","frame":[0,0,0,0]}]})");
  long timeout = r.indexOf("AXUIElementSetMessagingTimeout", {{"seconds", 1.0}});
  ASSERT_GE(timeout, 0);
  EXPECT_LT(timeout, r.indexOf("AXUIElementCopyAttributeValue"));
  EXPECT_EQ(r.count("AXUIElementCopyAttributeValue", {{"element", "w6"}}), 0u);
}

TEST(Windows, UnknownNameNoWindowsAndNoFrontmostApplication) {
  RunResult r = runScene(windowsScene(json::array(), nullptr), {"windows"});
  EXPECT_EQ(r.out, R"({"app":"unknown","windows":[]})");

  json unreadable = windowsScene(json::array());
  unreadable["apps"][0]["element"]["AXWindows"] = "nope";
  EXPECT_EQ(runScene(unreadable, {"windows"}).out, R"({"app":"Docs","windows":[]})");

  json none = eightWindows();
  none["frontmost"] = nullptr;
  RunResult r3 = runScene(none, {"windows"});
  EXPECT_EQ(r3.status, 3);
  EXPECT_EQ(r3.err, "uiglean: no frontmost app\n");
}

// The window that focuswindow raised, or "" when it raised none.
std::string raised(const RunResult& r) {
  auto raises = r.calls("AXUIElementPerformAction", {{"action", "AXRaise"}});
  if (raises.size() != 1) return "";
  return raises[0]["element"];
}

TEST(FocusWindow, ArgumentChecksComeFirst) {
  json scene = eightWindows();
  scene["frontmost"] = nullptr;
  RunResult r = runScene(scene, {"focuswindow"});
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.err, "uiglean: focuswindow needs an index or a title substring\n");
  RunResult r2 = runScene(scene, {"focuswindow", "0"});
  EXPECT_EQ(r2.status, 3);
}

TEST(FocusWindow, IndexOrTitleSubstring) {
  struct Case {
    std::string arg;
    std::string window;
  };
  const std::vector<Case> cases = {
      {"7", "w7"},     {"007", "w7"},
      {"+0", "w0"},    {"0", "w0"},
      {"-1", "w5"},    {"report", "w0"},
      {"NOTES", "w6"}, {"padded", "w2"},
      {"  pad", "w2"}, {"eighth", "w7"},
      {"4", "w4"},     {"1", "w1"},
      {"-0", "w0"},    {"99999999999999999999", ""},
      {"8", ""},  // out of range, and no title holds an 8
      {"4 ", ""},      {"", ""},
  };
  for (const auto& c : cases) {
    RunResult r = runScene(eightWindows(), {"focuswindow", c.arg});
    ASSERT_EQ(r.status, 0) << c.arg << r.err;
    EXPECT_EQ(raised(r), c.window) << "argument [" << c.arg << "]";
    if (c.window.empty()) {
      EXPECT_EQ(r.outJson(), okFalse("no window matching \"" + c.arg + "\"")) << c.arg;
      EXPECT_EQ(r.count("activateWithOptions"), 0u);
    } else {
      EXPECT_EQ(r.out, R"({"ok":true})") << c.arg;
    }
  }
}

TEST(FocusWindow, SingleWindowOutOfRangeIndexFallsBackToTheTitle) {
  RunResult miss =
      runScene(windowsScene(json::array({window("only", "Main")})), {"focuswindow", "1"});
  EXPECT_EQ(miss.out, R"({"ok":false,"error":"no window matching \"1\""})");
  RunResult hit =
      runScene(windowsScene(json::array({window("only", "Chapter 1")})), {"focuswindow", "1"});
  EXPECT_EQ(hit.out, R"({"ok":true})");
  EXPECT_EQ(raised(hit), "only");
}

TEST(FocusWindow, ActivatesWritesMainThenRaises) {
  RunResult r = runScene(eightWindows(), {"focuswindow", "Eighth"});
  ASSERT_EQ(r.out, R"({"ok":true})");
  long timeout = r.indexOf("AXUIElementSetMessagingTimeout", {{"seconds", 4.0}});
  long activate = r.indexOf("activateWithOptions", {{"pid", 101}, {"options", 1}});
  long main = r.indexOf("AXUIElementSetAttributeValue", {{"element", "w7"}, {"attr", "AXMain"}});
  long raise = r.indexOf("AXUIElementPerformAction", {{"element", "w7"}, {"action", "AXRaise"}});
  ASSERT_GE(timeout, 0);
  EXPECT_LT(timeout, r.indexOf("AXUIElementCopyAttributeValue"));
  ASSERT_GE(activate, 0);
  ASSERT_GE(main, 0);
  EXPECT_LT(activate, main);
  EXPECT_LT(main, raise);
  EXPECT_EQ(r.calls("AXUIElementSetAttributeValue")[0]["value"], true);
}

TEST(FocusWindow, RefusedRaiseReportsItsCodeWhateverTheMainWrite) {
  json scene = windowsScene(json::array(
      {window("w", "Stuck", {{"perform", {{"AXRaise", -25200}}}, {"settable", json::array()}})}));
  RunResult r = runScene(scene, {"focuswindow", "stuck"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, R"x({"ok":false,"error":"AXRaise failed (-25200)"})x");
  EXPECT_EQ(r.count("activateWithOptions"), 1u);
  EXPECT_EQ(r.count("AXUIElementSetAttributeValue", {{"attr", "AXMain"}}), 1u);

  // A failed AXMain write alone does not matter.
  json unsettable = windowsScene(json::array({window("w", "Fine", {{"settable", json::array()}})}));
  EXPECT_EQ(runScene(unsettable, {"focuswindow", "0"}).out, R"({"ok":true})");
}

TEST(FocusWindow, NonAsciiTitleSearch) {
  json scene =
      windowsScene({window("a", "Große Datei"), window("b", "ОТЧЁТ за май"), window("c", "ΛΟΓΟΣ")});
  EXPECT_EQ(raised(runScene(scene, {"focuswindow", "GROSSE"})), "a");
  EXPECT_EQ(raised(runScene(scene, {"focuswindow", "отчёт"})), "b");
  EXPECT_EQ(raised(runScene(scene, {"focuswindow", "λογος"})), "c");
  EXPECT_EQ(raised(runScene(scene, {"focuswindow", "λογοσ"})), "c");
}

}  // namespace
