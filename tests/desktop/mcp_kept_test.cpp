// One long-lived uiglean-mcp keeps answers between its calls: every `tree` after a change shows
// the change, whoever made it (the server's own actions, another uiglean process, the application
// on its own timer), and equals what a fresh `uiglean tree` process reads at the same moment.
#include <chrono>
#include <thread>

#include "tests/desktop/desktop_harness.h"
#include "tests/mcp_process.h"

namespace desktop_tests {
namespace {

const auto* const desktop = ::testing::AddGlobalTestEnvironment(new Desktop);

using testing_harness::McpProcess;

// A test with one uiglean-mcp beside the application under test (`Base` starts and ends it).
template <class Base>
class WithServer : public Base {
 protected:
  void startServer() {
    server = std::make_unique<McpProcess>(testing_harness::binaryPath("uiglean-mcp"),
                                          std::vector<std::string>{});
    server->send(testing_harness::mcpRequest(
        0, "initialize", {{"protocolVersion", "2025-11-25"}, {"capabilities", json::object()},
                          {"clientInfo", {{"name", "kept"}, {"version", "1"}}}}));
    ASSERT_EQ(server->response(0)["result"]["protocolVersion"], "2025-11-25");
  }
  void TearDown() override {
    // The application first: it holds a copy of the server's input pipe.
    Base::TearDown();
    if (server == nullptr) return;
    server->closeInput();
    EXPECT_EQ(server->exitStatus(20), 0);
    server.reset();
  }

  json call(const std::string& tool, json args = json::object()) {
    server->send(testing_harness::mcpToolCall(++id, tool, std::move(args)));
    json r = server->response(id, nullptr, 30);
    EXPECT_TRUE(r.contains("result")) << r.dump().substr(0, 300);
    return r.contains("result") ? r["result"] : json::object();
  }
  json serverTree() {
    json r = call("tree", {{"maxNodes", 4000}});
    EXPECT_FALSE(r.value("isError", false)) << r.dump().substr(0, 300);
    return r.contains("structuredContent") ? r["structuredContent"] : json::object();
  }
  // A tree through the server that is what a fresh process reads. Applications lay a window out
  // again a moment after a change, so frames may differ for a while; what the server kept and
  // should not have does not go away by waiting.
  json checkedTree() {
    json kept, fresh;
    for (int attempt = 0; attempt < 10; ++attempt) {
      kept = serverTree();
      fresh = treeOf();
      if (kept == fresh) return kept;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    ADD_FAILURE() << "the server's tree differs from a fresh process's:\n"
                  << kept.dump() << "\n" << fresh.dump();
    return kept;
  }
  static std::string valueOf(const json& tree, const std::string& role, const std::string& title) {
    const json* n = findIn(tree, titled(role, title));
    return n == nullptr ? "<none>" : n->value("value", "");
  }
  static const json* label(const json& tree, const std::string& text) {
    return findIn(tree, [&](const json& n) {
      return n["role"] == "AXStaticText" && n.value("value", "") == text;
    });
  }

  std::unique_ptr<McpProcess> server;
  int id = 0;
};

class KeptAcrossCalls : public WithServer<DesktopApp> {
 protected:
  void SetUp() override { startServer(); }
};

TEST_F(KeptAcrossCalls, TheServersOwnActionsShowInTheNextTree) {
  start("uiglean-gtk-app", {}, "Say Hello");
  json tree = checkedTree();
  ASSERT_NE(label(tree, "Status: idle"), nullptr);
  serverTree();  // answers kept from two calls now

  // A label renamed.
  std::string hello = refOf(tree, titled("AXButton", "Say Hello"));
  ASSERT_EQ(call("press", {{"ref", hello}})["structuredContent"]["ok"], true);
  ASSERT_TRUE(logShows("status Hello pressed 1"));
  tree = checkedTree();
  EXPECT_NE(label(tree, "Hello pressed 1"), nullptr);
  EXPECT_EQ(label(tree, "Status: idle"), nullptr);

  // A state: the check box toggled.
  std::string check = refOf(tree, titled("AXCheckBox", "Enable feature"));
  ASSERT_EQ(call("press", {{"ref", check}})["structuredContent"]["ok"], true);
  ASSERT_TRUE(logShows("check Enable feature=1"));
  tree = checkedTree();
  EXPECT_EQ(valueOf(tree, "AXCheckBox", "Enable feature"), "1");

  // A text edited.
  std::string name = refOf(tree, titled("AXTextField", "Name"));
  ASSERT_EQ(call("setvalue", {{"ref", name}, {"value", "Ada"}})["structuredContent"]["ok"], true);
  tree = checkedTree();
  EXPECT_EQ(valueOf(tree, "AXTextField", "Name"), "Ada");

  // A child removed: the next button takes its place.
  std::string remove = refOf(tree, titled("AXButton", "Remove Me"));
  ASSERT_EQ(call("press", {{"ref", remove}})["structuredContent"]["ok"], true);
  ASSERT_TRUE(logShows("button Remove Me"));
  tree = checkedTree();
  EXPECT_EQ(findIn(tree, titled("AXButton", "Remove Me")), nullptr);
  EXPECT_EQ(refOf(tree, titled("AXButton", "Open Dialog")), remove);

  // A window added and taken away again.
  ASSERT_EQ(call("press", {{"ref", remove}})["structuredContent"]["ok"], true);
  ASSERT_TRUE(logShows("window Confirm opened"));
  tree = checkedTree();
  EXPECT_NE(findIn(tree, titled("AXButton", "Cancel")), nullptr);
  std::string cancel = refOf(tree, titled("AXButton", "Cancel"));
  ASSERT_EQ(call("press", {{"ref", cancel}})["structuredContent"]["ok"], true);
  ASSERT_TRUE(logShows("window Confirm closed"));
  tree = checkedTree();
  EXPECT_EQ(findIn(tree, titled("AXButton", "Cancel")), nullptr);
}

TEST_F(KeptAcrossCalls, ChangesMadeByAnotherProcessShowInTheNextTree) {
  start("uiglean-gtk-app", {}, "Say Hello");
  json tree = checkedTree();
  serverTree();

  // Everything below is done by separate uiglean processes: the server sees only the events.
  std::string hello = refOf(tree, titled("AXButton", "Say Hello"));
  std::string check = refOf(tree, titled("AXCheckBox", "Enable feature"));
  std::string bold = refOf(tree, titled("AXCheckBox", "Bold"));
  std::string name = refOf(tree, titled("AXTextField", "Name"));
  std::string remove = refOf(tree, titled("AXButton", "Remove Me"));
  ASSERT_EQ(uiglean({"press", hello}).out, "{\"ok\":true}");
  ASSERT_TRUE(logShows("status Hello pressed 1"));
  tree = checkedTree();
  EXPECT_NE(label(tree, "Hello pressed 1"), nullptr);

  ASSERT_EQ(uiglean({"press", check}).out, "{\"ok\":true}");
  ASSERT_EQ(uiglean({"press", bold}).out, "{\"ok\":true}");
  ASSERT_EQ(uiglean({"setvalue", name, "Grace"}).out, "{\"ok\":true}");
  ASSERT_TRUE(logShows("toggle Bold=1"));
  tree = checkedTree();
  EXPECT_EQ(valueOf(tree, "AXCheckBox", "Enable feature"), "1");
  EXPECT_EQ(valueOf(tree, "AXCheckBox", "Bold"), "1");
  EXPECT_EQ(valueOf(tree, "AXTextField", "Name"), "Grace");

  ASSERT_EQ(uiglean({"press", remove}).out, "{\"ok\":true}");
  ASSERT_TRUE(logShows("button Remove Me"));
  tree = checkedTree();
  EXPECT_EQ(findIn(tree, titled("AXButton", "Remove Me")), nullptr);

  // A menu opened and closed: whether it is open is told by its items' states.
  ASSERT_EQ(openMenuItems(tree), 0U);
  std::string file = refOf(tree, titled("AXMenuBarItem", "File"));
  ASSERT_EQ(uiglean({"press", file}).out, "{\"ok\":true}");
  tree = checkedTree();
  EXPECT_GT(openMenuItems(tree), 0U);
  ASSERT_EQ(uiglean({"key", "escape"}).status, 0);
  tree = checkedTree();
  EXPECT_EQ(openMenuItems(tree), 0U);

  // And back, twice in a row between two calls: the last state counts.
  ASSERT_EQ(uiglean({"press", check}).out, "{\"ok\":true}");
  ASSERT_EQ(uiglean({"press", hello}).out, "{\"ok\":true}");
  ASSERT_TRUE(logShows("status Hello pressed 2"));
  tree = checkedTree();
  EXPECT_EQ(valueOf(tree, "AXCheckBox", "Enable feature"), "0");
  EXPECT_NE(label(tree, "Hello pressed 2"), nullptr);
}

TEST_F(KeptAcrossCalls, ChangesTheApplicationMakesOnItsOwnShowInTheNextTree) {
  constexpr int TICKS = 16;
  start("uiglean-gtk-app", {"--ticks", std::to_string(TICKS)}, "Say Hello");
  // A tree after each odd tick, each kept from and dropped in part by the next ticks: the last
  // one keeps the row of check boxes disabled, and only the row announces that it is enabled
  // again.
  int calls = 0;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (int k = 1; k < TICKS && std::chrono::steady_clock::now() < end; k += 2) {
    while (log().find("tick " + std::to_string(k) + "\n") == std::string::npos &&
           std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    serverTree();
    ++calls;
  }
  while (log().find("ticks done") == std::string::npos && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_NE(log().find("ticks done"), std::string::npos);
  EXPECT_EQ(calls, TICKS / 2);

  json tree = checkedTree();
  EXPECT_NE(label(tree, "Tick " + std::to_string(TICKS)), nullptr);
  // Only the last two items are there.
  EXPECT_NE(label(tree, "Item " + std::to_string(TICKS)), nullptr);
  EXPECT_NE(label(tree, "Item " + std::to_string(TICKS - 1)), nullptr);
  EXPECT_EQ(label(tree, "Item " + std::to_string(TICKS - 2)), nullptr);
  // Toggled an even number of times; sensitive on even ticks.
  EXPECT_EQ(valueOf(tree, "AXCheckBox", "Enable feature"), "0");
  const json* open = findIn(tree, titled("AXButton", "Open Dialog"));
  ASSERT_NE(open, nullptr);
  EXPECT_TRUE(open->value("enabled", true));
  // Enabled again through its row, which alone announced it.
  const json* bold = findIn(tree, titled("AXCheckBox", "Bold"));
  ASSERT_NE(bold, nullptr);
  EXPECT_TRUE(bold->value("enabled", true));
  EXPECT_EQ(valueOf(tree, "AXTextField", "Name"), "tick " + std::to_string(TICKS));
}

// LibreOffice answers as a GTK 3 application does, so the server keeps its answers too; Writer is
// where most objects are and most change at once (a dialog, a toolbar state, the document).
class KeptOnWriter : public WithServer<DebianApp> {
 protected:
  void SetUp() override {
    if (!installed("/usr/bin/soffice")) GTEST_SKIP() << "libreoffice-writer is not installed";
    launchWriter();
    if (HasFatalFailure()) return;
    startServer();
  }
};

TEST_F(KeptOnWriter, TheDocumentItsToolbarAndItsDialogsShowInTheNextTree) {
  json tree = checkedTree();
  serverTree();
  std::string body = writerBodyRef(tree);
  ASSERT_FALSE(body.empty()) << tree.dump().substr(0, 500);

  // The document written through the server, then by another process.
  ASSERT_EQ(call("setvalue", {{"ref", body}, {"value", "Kept answers"}})["structuredContent"]["ok"],
            true);
  tree = checkedTree();
  const json* node = findIn(tree, [&](const json& n) { return n["ref"] == body; });
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->value("value", ""), "Kept answers");
  ASSERT_EQ(uiglean({"setvalue", body, "Second version"}).out, "{\"ok\":true}");
  tree = checkedTree();
  node = findIn(tree, [&](const json& n) { return n["ref"] == body; });
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->value("value", ""), "Second version");

  // A toolbar toggle: its state is kept, and dropped when it changes.
  std::string bold = refOf(tree, titled("AXCheckBox", "Bold"));
  ASSERT_FALSE(bold.empty());
  EXPECT_EQ(valueOf(tree, "AXCheckBox", "Bold"), "0");
  ASSERT_EQ(uiglean({"press", bold}).out, "{\"ok\":true}");
  tree = checkedTree();
  EXPECT_EQ(valueOf(tree, "AXCheckBox", "Bold"), "1");

  // A dialog opened by another process and closed through the server.
  ASSERT_EQ(uiglean({"menuclick", "Format", "Character..."}).status, 0);
  json cancel;
  for (int i = 0; i < 50 && cancel.is_null(); ++i) {
    tree = checkedTree();
    if (const json* c = findIn(tree, titled("AXButton", "Cancel")); c != nullptr) cancel = *c;
    else std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_FALSE(cancel.is_null()) << "the Character dialog did not open";
  ASSERT_EQ(call("press", {{"ref", cancel["ref"]}})["structuredContent"]["ok"], true);
  for (int i = 0; i < 50; ++i) {
    tree = checkedTree();
    if (findIn(tree, titled("AXButton", "Cancel")) == nullptr) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(findIn(tree, titled("AXButton", "Cancel")), nullptr);
  EXPECT_EQ(valueOf(tree, "AXCheckBox", "Bold"), "1");
}

}  // namespace
}  // namespace desktop_tests
