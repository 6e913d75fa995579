// The tool table, argument checking, result shapes and the snapshot's narrowing.
#include "uiglean/mcp/tools.h"

#include <gtest/gtest.h>

#include <set>

#include "uiglean/front/commands.h"
#include "uiglean/front/globals.h"
#include "uiglean/mcp/treeview.h"
#include "uiglean/platform/scripted/scripted.h"

namespace uiglean::mcp {
namespace {

ToolCall call(const std::string& name, json arguments, const char* version = VERSION_2025_11) {
  ToolCall c;
  c.id = 1;
  c.name = name;
  c.arguments = std::move(arguments);
  c.version = version;
  return c;
}

// Records the words it is given and answers `outcome`.
struct FakeRun {
  std::vector<std::vector<std::string>> seen;
  std::vector<WalkLimits> limits;
  RunOutcome outcome{0, R"({"ok":true})", ""};
  Runner runner() {
    return [this](std::vector<std::string> w, const WalkLimits& l) {
      seen.push_back(std::move(w));
      limits.push_back(l);
      return outcome;
    };
  }
};

TEST(ToolTable, NineteenToolsWithObjectSchemasAndDescriptions) {
  const json& list = toolList();
  std::set<std::string> names;
  for (const auto& t : list) {
    names.insert(t["name"].get<std::string>());
    EXPECT_EQ(t["inputSchema"]["type"], "object") << t["name"];
    EXPECT_EQ(t["outputSchema"]["type"], "object") << t["name"];
    EXPECT_GT(t["description"].get<std::string>().size(), 40u) << t["name"];
    for (const auto& r : t["inputSchema"].value("required", json::array())) {
      EXPECT_TRUE(t["inputSchema"]["properties"].contains(r)) << t["name"] << " " << r;
    }
  }
  EXPECT_EQ(names, (std::set<std::string>{"tree", "press", "focus", "reveal", "altui", "setvalue",
                                          "settle", "menus", "menuclick", "activate", "windows",
                                          "focuswindow", "world", "ocr", "key", "type", "click",
                                          "scroll", "screenshot"}));
  EXPECT_TRUE(knownTool("menuclick"));
  EXPECT_FALSE(knownTool("Tree"));
}

TEST(ToolCalls, ArgumentsBecomeTheSubcommandsWords) {
  struct Case {
    const char* name;
    json args;
    std::vector<std::string> words;
  };
  const std::vector<Case> cases = {
      {"press", {{"ref", "w0.2"}}, {"press", "w0.2"}},
      {"setvalue", {{"ref", "w0"}, {"value", "a b; rm -rf /"}}, {"setvalue", "w0", "a b; rm -rf /"}},
      {"settle", json::object(), {"settle", "", ""}},
      {"settle", {{"quietMs", 100}, {"limitMs", 2000.0}}, {"settle", "100", "2000"}},
      {"menus", json::object(), {"menus"}},
      {"menus", {{"menu", "File"}}, {"menus", "File"}},
      {"menuclick", {{"path", {"File", "Open", "Recent"}}}, {"menuclick", "File", "Open", "Recent"}},
      {"focuswindow", {{"window", 2}}, {"focuswindow", "2"}},
      {"focuswindow", {{"window", "Untitled"}}, {"focuswindow", "Untitled"}},
      {"activate", {{"app", "gedit"}}, {"activate", "gedit"}},
      {"ocr", {{"path", "/tmp/a.png"}, {"minTextHeight", 0.5}}, {"ocr", "/tmp/a.png", "0.5"}},
      {"world", {{"unused", 1}}, {"world"}},
      {"key", {{"keys", {"ctrl+s", "Return"}}}, {"key", "ctrl+s", "Return"}},
      {"type", {{"text", "a; $(rm -rf /)"}}, {"type", "a; $(rm -rf /)"}},
      {"click", {{"ref", "w0.1"}, {"button", "double"}}, {"click", "w0.1", "double"}},
      {"click", {{"x", 10.25}, {"y", -3}}, {"click", "10.250,-3.000"}},
      {"scroll", {{"ref", "w0"}, {"lines", -3}}, {"scroll", "w0", "-3", "0"}},
      {"scroll", {{"x", 1}, {"y", 2}, {"columns", 4}}, {"scroll", "1.000,2.000", "0", "4"}},
      {"screenshot", json::object(), {"screenshot", "-"}},
      {"screenshot", {{"display", 3}, {"ocr", true}}, {"screenshot", "-", "display", "3", "ocr"}},
  };
  for (const auto& c : cases) {
    FakeRun run;
    ToolAnswer a = callTool(call(c.name, c.args), run.runner());
    ASSERT_EQ(run.seen.size(), 1u) << c.name;
    EXPECT_EQ(run.seen[0], c.words) << c.name;
    EXPECT_FALSE(a.protocolError);
    EXPECT_EQ(a.result["isError"], false);
    EXPECT_EQ(a.result["structuredContent"], json::parse(R"({"ok":true})"));
    EXPECT_EQ(a.result["content"][0]["text"], R"({"ok":true})");
  }
}

TEST(ToolCalls, ATreeWalksOneNodePastItsLimitUnlessItWantsASubtree) {
  FakeRun run;
  callTool(call("tree", json::object()), run.runner());
  callTool(call("tree", {{"maxNodes", 99999}}), run.runner());
  callTool(call("tree", {{"root", "w0.1"}, {"maxNodes", 5}}), run.runner());
  callTool(call("windows", json::object()), run.runner());
  ASSERT_EQ(run.limits.size(), 4u);
  EXPECT_EQ(run.limits[0].maxNodes, 401);
  EXPECT_EQ(run.limits[1].maxNodes, 4001);
  EXPECT_FALSE(run.limits[2].maxNodes.has_value());
  EXPECT_FALSE(run.limits[3].maxNodes.has_value());
}

TEST(ToolCalls, BadArgumentsAreNeverRunAndAreReportedAsTheVersionAsks) {
  const std::vector<std::pair<const char*, json>> bad = {
      {"press", json::object()},
      {"press", {{"ref", 3}}},
      {"press", {{"ref", std::string("w0\0.1", 5)}}},
      {"setvalue", {{"ref", "w0"}}},
      {"settle", {{"quietMs", -1}}},
      {"settle", {{"quietMs", "100"}}},
      {"settle", {{"limitMs", 1.5}}},
      {"menuclick", {{"path", {"File"}}}},
      {"menuclick", {{"path", {"File", 2}}}},
      {"menuclick", {{"path", "File"}}},
      {"tree", {{"format", "yaml"}}},
      {"tree", {{"maxNodes", 0}}},
      {"tree", {{"interactive", "yes"}}},
      {"focuswindow", {{"window", 1.5}}},
      {"ocr", {{"path", "/a"}, {"minTextHeight", "x"}}},
      {"key", json::object()},
      {"key", {{"keys", json::array()}}},
      {"key", {{"keys", "ctrl+s"}}},
      {"key", {{"keys", {"ctrl+s", 3}}}},
      {"type", {{"text", 5}}},
      {"click", json::object()},
      {"click", {{"x", 3}}},
      {"click", {{"ref", "w0"}, {"x", 1}, {"y", 2}}},
      {"click", {{"x", 1e7}, {"y", 2}}},
      {"click", {{"x", "1"}, {"y", 2}}},
      {"scroll", {{"ref", "w0"}}},
      {"scroll", {{"ref", "w0"}, {"lines", -201}}},
      {"screenshot", {{"display", -1}}},
      {"screenshot", {{"ocr", "yes"}}},
  };
  for (const auto& [name, args] : bad) {
    FakeRun run;
    ToolAnswer later = callTool(call(name, args), run.runner());
    EXPECT_FALSE(later.protocolError) << name << args;
    EXPECT_EQ(later.result["isError"], true) << name << args;
    EXPECT_NE(later.result["content"][0]["text"].get<std::string>().find(name), std::string::npos);
    ToolAnswer early = callTool(call(name, args, VERSION_2025_06), run.runner());
    EXPECT_TRUE(early.protocolError) << name << args;
    EXPECT_EQ(early.result["code"], rpc::invalidParams);
    EXPECT_TRUE(run.seen.empty()) << name << args;
  }
}

TEST(ToolCalls, FailuresAndRefusalsAreErrorResults) {
  FakeRun run;
  run.outcome = RunOutcome{3, "", "no frontmost app"};
  ToolAnswer failed = callTool(call("windows", json::object()), run.runner());
  EXPECT_EQ(failed.result["isError"], true);
  EXPECT_EQ(failed.result["content"][0]["text"], "no frontmost app");
  EXPECT_FALSE(failed.result.contains("structuredContent"));

  run.outcome = RunOutcome{0, R"j({"ok":false,"error":"AXPress failed (-25200)"})j", ""};
  ToolAnswer refused = callTool(call("press", {{"ref", "w0"}}), run.runner());
  EXPECT_EQ(refused.result["isError"], true);
  EXPECT_EQ(refused.result["structuredContent"]["error"], "AXPress failed (-25200)");
}

TEST(ToolCalls, AScreenshotIsImageContentAndItsRecordWithoutThePicture) {
  FakeRun run;
  run.outcome = RunOutcome{0, R"({"ok":true,"w":2,"h":1,"window":9,"png":"iVBO\/w0K"})", ""};
  ToolAnswer a = callTool(call("screenshot", json::object()), run.runner());
  ASSERT_EQ(a.result["content"].size(), 2u);
  EXPECT_EQ(a.result["content"][0],
            json({{"type", "image"}, {"data", "iVBO/w0K"}, {"mimeType", "image/png"}}));
  EXPECT_EQ(a.result["content"][1]["text"], R"({"ok":true,"w":2,"h":1,"window":9})");
  EXPECT_EQ(a.result["structuredContent"], json::parse(R"({"ok":true,"w":2,"h":1,"window":9})"));
  EXPECT_EQ(a.result["isError"], false);

  run.outcome = RunOutcome{0, R"({"ok":false,"error":"the window is not on the screen"})", ""};
  ToolAnswer refused = callTool(call("screenshot", json::object()), run.runner());
  EXPECT_EQ(refused.result["isError"], true);
  EXPECT_EQ(refused.result["content"].size(), 1u);
  EXPECT_EQ(refused.result["content"][0]["type"], "text");
}

json node(const std::string& ref, const std::string& role, json kids = json::array(),
          json extra = json::object()) {
  json n = {{"ref", ref}, {"role", role}, {"frame", {0, 0, 1, 1}}, {"children", std::move(kids)}};
  n.update(extra);
  return n;
}

// w0: a group holding a label and a button; a text field; a group holding a group holding a
// checkbox. w1: an empty window.
json sample() {
  // Lists spelled json::array: a single-element brace list is a copy of its element to clang.
  const json press = json::array({"Press"});
  json w0 = node("w0", "AXWindow",
                 json::array({node("w0.0", "AXGroup",
                                   json::array({node("w0.0.0", "AXStaticText", json::array(),
                                                     {{"value", "Hi \"you\"\n"}}),
                                                node("w0.0.1", "AXButton", json::array(),
                                                     {{"title", "Go"},
                                                      {"acts", press},
                                                      {"focused", true}})})),
                              node("w0.1", "AXTextField", json::array(), {{"value", "x"}}),
                              node("w0.2", "AXGroup",
                                   json::array({node("w0.2.0", "AXGroup",
                                                     json::array({node("w0.2.0.0", "AXCheckBox",
                                                                       json::array(),
                                                                       {{"title", "On"},
                                                                        {"acts", press},
                                                                        {"enabled", false}})}))}))}),
                 {{"title", "Main"}});
  return {{"app", "Demo"}, {"pid", 7}, {"frontWindow", 0}, {"secureInput", false},
          {"windows", json::array({w0, node("w1", "AXWindow")})}};
}

std::vector<std::string> refsOf(const json& payload) {
  std::vector<std::string> out;
  std::function<void(const json&)> walk = [&](const json& n) {
    out.push_back(n["ref"]);
    for (const auto& c : n["children"]) walk(c);
  };
  for (const auto& w : payload["windows"]) walk(w);
  return out;
}

TEST(TreeView, RootDepthNodesAndInteractiveNarrowTheSnapshot) {
  TreeView all{std::nullopt, 4000, 14, false};
  ViewResult full = applyView(sample(), all);
  EXPECT_EQ(full.payload, sample());
  EXPECT_EQ(full.omitted, 0);

  TreeView sub{"w0.2", 4000, 14, false};
  EXPECT_EQ(refsOf(applyView(sample(), sub).payload),
            (std::vector<std::string>{"w0.2", "w0.2.0", "w0.2.0.0"}));
  TreeView missing{"w0.2.1", 4000, 14, false};
  EXPECT_FALSE(applyView(sample(), missing).rootFound);
  TreeView prefixOnly{"w0.", 4000, 14, false};
  EXPECT_FALSE(applyView(sample(), prefixOnly).rootFound);

  TreeView shallow{std::nullopt, 4000, 1, false};
  ViewResult s = applyView(sample(), shallow);
  EXPECT_EQ(refsOf(s.payload), (std::vector<std::string>{"w0", "w0.0", "w0.1", "w0.2", "w1"}));
  EXPECT_EQ(s.omitted, 4);
  EXPECT_TRUE(s.cutByDepth);
  EXPECT_FALSE(s.cutByNodes);

  TreeView few{std::nullopt, 3, 14, false};
  ViewResult f = applyView(sample(), few);
  EXPECT_EQ(refsOf(f.payload), (std::vector<std::string>{"w0", "w0.0", "w0.0.0"}));
  EXPECT_EQ(f.kept + f.omitted, 9);
  EXPECT_TRUE(f.cutByNodes);

  TreeView active{std::nullopt, 4000, 14, true};
  EXPECT_EQ(refsOf(applyView(sample(), active).payload),
            (std::vector<std::string>{"w0", "w0.0", "w0.0.1", "w0.1", "w0.2", "w0.2.0", "w0.2.0.0", "w1"}));
}

TEST(TreeView, TextFormIsOneLinePerElement) {
  EXPECT_EQ(textForm(sample()),
            "app \"Demo\" pid 7 frontWindow 0\n"
            "Window \"Main\" w0\n"
            "  Group w0.0\n"
            "    StaticText = \"Hi \\\"you\\\"\\n\" w0.0.0\n"
            "    Button \"Go\" w0.0.1 focused [Press]\n"
            "  TextField = \"x\" w0.1\n"
            "  Group w0.2\n"
            "    Group w0.2.0\n"
            "      CheckBox \"On\" w0.2.0.0 disabled [Press]\n"
            "Window w1\n");
}

const char* kScene = R"({"frontmost": 5, "apps": [{"pid": 5, "name": "Demo",
  "element": {"AXRole": "AXApplication", "AXWindows": [{"AXRole": "AXWindow", "AXTitle": "Main",
    "AXChildren": [{"AXRole": "AXButton", "AXTitle": "A", "actions": ["AXPress"]},
                   {"AXRole": "AXStaticText", "AXValue": "b"},
                   {"AXRole": "AXButton", "AXTitle": "C", "actions": ["AXPress"]}]}]}}]})";

TEST(TreeTool, CutSnapshotsSayHowToNarrowThemInBothForms) {
  useScene(parseScene(kScene, "test"));
  Runner run = [](std::vector<std::string> w, const WalkLimits& l) {
    return runCaptured(std::move(w), [&] {
      if (l.maxNodes) MAX_NODES = *l.maxNodes;
    });
  };
  ToolAnswer a = callTool(call("tree", {{"maxNodes", 2}}), run);
  const json& sc = a.result["structuredContent"];
  EXPECT_EQ(sc["app"], "Demo");
  // The walk went one node past the limit, no further.
  EXPECT_EQ(sc["truncated"]["omittedNodes"], 1);
  EXPECT_EQ(sc["truncated"]["omittedNodesAtLeast"], true);
  EXPECT_EQ(sc["truncated"]["by"], "maxNodes");
  EXPECT_EQ(json::parse(a.result["content"][0]["text"].get<std::string>()), sc);

  ToolAnswer t = callTool(call("tree", {{"format", "text"}, {"interactive", true}}), run);
  std::string text = t.result["content"][0]["text"];
  EXPECT_EQ(text, "app \"Demo\" pid 5 frontWindow 0\nWindow \"Main\" w0\n  Button \"A\" w0.0 [Press]\n"
                  "  Button \"C\" w0.2 [Press]\n");
  EXPECT_EQ(t.result["structuredContent"]["text"], text);
  EXPECT_FALSE(t.result["structuredContent"].contains("windows"));

  ToolAnswer cut = callTool(call("tree", {{"format", "text"}, {"maxDepth", 0}}), run);
  EXPECT_NE(cut.result["content"][0]["text"].get<std::string>().find("3 more elements not shown"),
            std::string::npos);
  ToolAnswer gone = callTool(call("tree", {{"root", "w0.7"}}), run);
  EXPECT_EQ(gone.result["isError"], true);
  // A subtree is found in a whole walk, and its count is exact.
  ToolAnswer sub = callTool(call("tree", {{"root", "w0"}, {"maxNodes", 2}}), run);
  EXPECT_EQ(sub.result["structuredContent"]["truncated"]["omittedNodes"], 2);
  EXPECT_FALSE(sub.result["structuredContent"]["truncated"].contains("omittedNodesAtLeast"));
}

}  // namespace
}  // namespace uiglean::mcp
