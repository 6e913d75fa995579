// The scripted platform under hostile scenes and runs: what it accepts, what it writes back, and
// what a run leaves behind when it is cut short.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/harness.h"

extern char** environ;

namespace {

using namespace testing_harness;
using nlohmann::json;

json sceneWith(json children) {
  json window = {{"id", "win"}, {"AXRole", "AXWindow"}, {"AXChildren", children}};
  return {
      {"frontmost", 101},
      {"apps",
       {{{"pid", 101},
         {"name", "Notes"},
         {"element",
          {{"id", "app"}, {"AXRole", "AXApplication"}, {"AXWindows", json::array({window})}}}}}}};
}

std::string writeScene(const std::string& dir, const json& scene) {
  std::string path = dir + "/scene.json";
  std::ofstream(path, std::ios::binary) << scene.dump();
  return path;
}

RunResult runOn(const std::string& scenePath, const std::vector<std::string>& args) {
  RunResult r = runProgram(binaryPath("uiglean-scripted"), args, {"UIGLEAN_SCENE=" + scenePath});
  r.sceneAfter = json::parse(readFile(scenePath), nullptr, false);
  return r;
}

TEST(ScriptedTime, AnyVirtualWaitIsQuick) {
  json scene = sceneWith(json::array());
  auto started = std::chrono::steady_clock::now();
  RunResult r = runScene(scene, {"settle", "100000000000000", "100000000000000"});
  EXPECT_EQ(r.out, R"({"settled":true,"elapsedMs":100000000000000,"events":[],"sheetAppeared":false,"changed":false})");
  // Events nobody subscribed to, every millisecond, pass by without costing a step each.
  scene["notifications"] = {{{"name", "AXMoved"}, {"atMs", 0}, {"everyMs", 1}}};
  r = runScene(scene, {"settle", "300", "100000000000000"});
  EXPECT_EQ(r.out, R"({"settled":true,"elapsedMs":300,"events":[],"sheetAppeared":false,"changed":false})");
  r = runScene(scene, {"settle", "9223372036854775807", "9223372036854775807"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.outJson()["settled"], true);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));

  // The slices add up as before: the limit and the quiet period end the wait on a slice's end.
  scene["notifications"] = {{{"name", "AXValueChanged"}, {"atMs", 0}, {"everyMs", 70}, {"untilMs", 400}}};
  r = runScene(scene, {"settle", "120", "8050"});
  EXPECT_EQ(r.out, R"({"settled":true,"elapsedMs":500,"events":["AXValueChanged"],"sheetAppeared":false,"changed":true})");
}

TEST(ScriptedTime, DegenerateSchedulesAreBadScenes) {
  json scene = sceneWith(json::array());
  scene["notifications"] = {{{"name", "AXValueChanged"}, {"atMs", 0}, {"everyMs", 1e-9}}};
  RunResult r = runScene(scene, {"settle"});
  EXPECT_EQ(r.status, 5);
  EXPECT_NE(r.err.find("/notifications/0/everyMs: expected a period of 1 to 1e15 ms"), std::string::npos) << r.err;
  scene["notifications"] = {{{"name", "AXValueChanged"}, {"atMs", -1e12}, {"everyMs", 40}}};
  r = runScene(scene, {"settle"});
  EXPECT_EQ(r.status, 5);
  EXPECT_NE(r.err.find("/notifications/0/atMs: expected a time of 0 to 1e15 ms"), std::string::npos) << r.err;
}

TEST(ScriptedJournal, ASuccessfulCopyWithoutAValue) {
  RunResult r = runScene(sceneWith({{{"AXRole", "AXButton"}, {"errors", {{"AXTitle", 0}}}}}), {"tree"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto copies = r.calls("AXUIElementCopyAttributeValue", {{"attr", "AXTitle"}, {"status", 0}});
  ASSERT_FALSE(copies.empty());
  EXPECT_TRUE(copies[0]["value"].is_null());
}

TEST(ScriptedJournal, EveryLineIsWrittenWholeAsTheCallReturns) {
  // A settle that never ends (a subscribed event every millisecond, a limit of years), killed.
  json scene = sceneWith(json::array());
  scene["notifications"] = {{{"name", "AXValueChanged"}, {"atMs", 0}, {"everyMs", 1}}};
  std::string dir = tempDir();
  std::string scenePath = writeScene(dir, scene), journalPath = dir + "/journal.jsonl";
  std::string bin = binaryPath("uiglean-scripted");
  std::vector<std::string> args{bin, "settle", "100000000000", "100000000000"};
  std::vector<std::string> env{"UIGLEAN_SCENE=" + scenePath, "UIGLEAN_JOURNAL=" + journalPath};
  for (char** e = environ; *e; ++e) {
    if (std::string(*e).rfind("UIGLEAN_", 0) != 0) env.emplace_back(*e);
  }
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, bin.c_str(), &actions, nullptr, argv.data(), envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  // Wait until it is well into the run loop, then kill it.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::filesystem::exists(journalPath) ? std::filesystem::file_size(journalPath) < 200000 : true) {
    if (std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  std::string text = readFile(journalPath);
  ASSERT_GE(text.size(), 200000u);
  ASSERT_EQ(text.back(), '\n');
  std::istringstream lines(text);
  std::size_t count = 0, runs = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    json j = json::parse(line, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << "line " << count << ": " << line;
    if (j["call"] == "CFRunLoopRunInMode") ++runs;
  }
  EXPECT_GT(runs, 100u);
}

TEST(ScriptedPersist, StaleTemporariesOfDeadRunsAreRemoved) {
  json scene = sceneWith(json::array());
  scene["persist"] = true;
  std::string dir = tempDir();
  std::string path = writeScene(dir, scene);
  pid_t dead = fork();
  if (dead == 0) _exit(0);
  waitpid(dead, nullptr, 0);
  const std::string stale = path + ".tmp." + std::to_string(dead);
  const std::string alive = path + ".tmp." + std::to_string(getpid());
  const std::string other = path + ".tmp.notapid";
  const std::string otherScene = dir + "/other.json.tmp." + std::to_string(dead);
  for (const auto& p : {stale, alive, other, otherScene}) std::ofstream(p) << "{";
  RunResult r = runOn(path, {"tree"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(std::filesystem::exists(stale));
  EXPECT_TRUE(std::filesystem::exists(alive));
  EXPECT_TRUE(std::filesystem::exists(other));
  EXPECT_TRUE(std::filesystem::exists(otherScene));
  EXPECT_EQ(r.sceneAfter["apps"][0]["pid"], 101);
}

TEST(ScriptedPersist, IntegersKeepEveryDigit) {
  json scene = sceneWith({{{"AXRole", "AXStaticText"}, {"AXValue", 9007199254740993}},
                          {{"AXRole", "AXStaticText"}, {"AXValue", json::parse("18446744073709551615")}},
                          {{"AXRole", "AXTextField"},
                           {"AXValue", "abc"},
                           {"AXNumberOfCharacters", 3},
                           {"AXSelectedTextRange", {{"range", {INT64_MAX, INT64_MAX}}}}}});
  scene["persist"] = true;
  std::string path = writeScene(tempDir(), scene);
  RunResult r = runOn(path, {"tree"});
  ASSERT_EQ(r.status, 0) << r.err;
  json tree = r.outJson();
  EXPECT_EQ(tree["windows"][0]["children"][0]["value"], "9007199254740993");
  const json& kids = r.sceneAfter["apps"][0]["element"]["AXWindows"][0]["AXChildren"];
  EXPECT_EQ(kids[0]["AXValue"].dump(), "9007199254740993");
  EXPECT_EQ(kids[1]["AXValue"].dump(), "18446744073709551615");
  EXPECT_EQ(kids[2]["AXSelectedTextRange"].dump(), R"({"range":[9223372036854775807,9223372036854775807]})");
  // The journal holds them as they are too.
  r = runScene(scene, {"tree"});
  auto copies = r.calls("AXUIElementCopyAttributeValue", {{"attr", "AXValue"}});
  std::erase_if(copies, [](const json& c) { return !c.contains("value") || c["value"].is_null(); });
  ASSERT_GE(copies.size(), 2u);
  EXPECT_EQ(copies[0]["value"].dump(), "9007199254740993");
  EXPECT_EQ(copies[1]["value"].dump(), "18446744073709551615");
}

// "go" takes the label out of the window; "reset" still names it, and gives the window a sheet.
json removingScene() {
  json scene = sceneWith(
      {{{"id", "go"}, {"AXRole", "AXButton"}, {"actions", {"AXPress"}},
        {"on", {{"AXPress",
                 {{{"setAttr", {{"element", "win"}, {"attr", "AXChildren"},
                                {"value", {{{"element", "go"}}, {{"element", "reset"}}}}}}}}}}}},
       {{"id", "reset"}, {"AXRole", "AXButton"}, {"actions", {"AXPress"}},
        {"on", {{"AXPress",
                 {{{"setAttr", {{"element", "label"}, {"attr", "AXValue"}, {"value", "reset"}}}},
                  {{"setAttr", {{"element", "win"}, {"attr", "AXSheets"}, {"value", {{{"AXRole", "AXSheet"}}}}}}}}}}}},
       {{"id", "label"}, {"AXRole", "AXStaticText"}, {"AXValue", "idle"},
        {"AXParent", {{"element", "win"}}}, {"AXWindow", {{"element", "label"}}}}});
  scene["persist"] = true;
  return scene;
}

TEST(ScriptedPersist, WhatEffectsStillNameIsWrittenBack) {
  std::string path = writeScene(tempDir(), removingScene());
  ASSERT_EQ(runOn(path, {"press", "w0.0"}).out, R"({"ok":true})");
  RunResult r = runOn(path, {"press", "w0.1"});
  ASSERT_EQ(r.out, R"({"ok":true})") << r.err;
  // The label lives on outside the tree, changed.
  const json& detached = r.sceneAfter["detached"];
  ASSERT_EQ(detached.size(), 1u) << r.sceneAfter.dump();
  EXPECT_EQ(detached[0]["id"], "label");
  EXPECT_EQ(detached[0]["AXValue"], "reset");
  EXPECT_EQ(detached[0]["AXWindow"], json({{"element", "label"}}));
  // The sheet is held by the window and by the effect that made it: it has an id now, is defined
  // at one of the two places and named at the other.
  const json& win = r.sceneAfter["apps"][0]["element"]["AXWindows"][0];
  ASSERT_EQ(win["AXSheets"].size(), 1u);
  json places = {win["AXSheets"][0], win["AXChildren"][1]["on"]["AXPress"][1]["setAttr"]["value"][0]};
  if (places[0].contains("element")) std::swap(places[0], places[1]);
  EXPECT_EQ(places[0]["AXRole"], "AXSheet");
  ASSERT_TRUE(places[0]["id"].is_string()) << places.dump();
  EXPECT_EQ(places[1], json({{"element", places[0]["id"]}}));
  // Every later run takes the scene, and the effects still act.
  r = runOn(path, {"press", "w0.1"});
  ASSERT_EQ(r.out, R"({"ok":true})") << r.err;
  r = runOn(path, {"tree"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.sceneAfter["detached"].size(), 1u);
  EXPECT_EQ(r.sceneAfter["apps"][0]["element"]["AXWindows"][0]["AXSheets"].size(), 1u);
}

TEST(ScriptedPersist, FrontmostEffectsNameApplicationsTheSceneHas) {
  json scene = sceneWith({{{"AXRole", "AXButton"}, {"actions", {"AXPress"}},
                           {"on", {{"AXPress", {{{"frontmost", 555}}}}}}}});
  RunResult r = runScene(scene, {"tree"});
  EXPECT_EQ(r.status, 5);
  EXPECT_NE(r.err.find("/apps/0/element/AXWindows/0/AXChildren/0/on/AXPress/0/frontmost: no app has the pid 555"),
            std::string::npos)
      << r.err;

  // One that can be launched is accepted; while it does not run there is no frontmost app, and
  // that is what is written back.
  scene["installed"] = {{{"bundleId", "com.example.later"},
                         {"url", "/Apps/Later.app"},
                         {"launches", {{"pid", 555}, {"name", "Later"}, {"bundleId", "com.example.later"},
                                       {"element", {{"AXRole", "AXApplication"}}}}}}};
  scene["persist"] = true;
  std::string path = writeScene(tempDir(), scene);
  EXPECT_EQ(runOn(path, {"press", "w0.0"}).out, R"({"ok":true})");
  r = runOn(path, {"tree"});
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_TRUE(r.sceneAfter["frontmost"].is_null());
  // Launched, the application is written once, in the running list.
  r = runOn(path, {"activate", "com.example.later"});
  EXPECT_EQ(r.out, R"({"ok":true})") << r.err;
  ASSERT_EQ(r.sceneAfter["apps"].size(), 2u);
  EXPECT_EQ(r.sceneAfter["frontmost"], 555);
  EXPECT_FALSE(r.sceneAfter["installed"][0]["launches"].contains("element"));
  r = runOn(path, {"windows"});
  EXPECT_EQ(r.out, R"({"app":"Later","windows":[]})") << r.err;
}

TEST(ScriptedFailures, CyclesAndControlCharactersOnTheWayOut) {
  // Elements that name each other (and themselves) on every failure path keep its status.
  json scene = removingScene();
  scene.erase("persist");
  EXPECT_EQ(runScene(scene, {"menus", "View"}).status, 5);
  EXPECT_EQ(runScene(scene, {"press"}).status, 5);
  EXPECT_EQ(runScene(scene, {"nonsense"}).status, 5);
  json noFront = scene;
  noFront["frontmost"] = nullptr;
  EXPECT_EQ(runScene(noFront, {"tree"}).status, 3);
  scene["apps"][0]["element"]["on"] = {{"AXPress", {{{"frontmost", 8}}}}};
  RunResult r = runScene(scene, {"tree"});
  EXPECT_EQ(r.status, 5);
  // A scene's complaint is one line, whatever its keys hold.
  r = runSceneText("{\"a\\nuiglean: forged\": 1}", {"tree"});
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_NE(r.err.find("/a\\nuiglean: forged: unknown scene key"), std::string::npos) << r.err;
}

}  // namespace
