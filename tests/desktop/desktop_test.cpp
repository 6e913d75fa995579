// uiglean on a real Linux desktop: a private X display, session bus and accessibility bus started
// by scripts/desktop.sh, our GTK 3, Qt 5 and web test applications, and the built uiglean binary
// driving them the way a caller does (tree, pick a ref, act, settle, read again).
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "tests/desktop/desktop_harness.h"

namespace desktop_tests {
namespace {

const auto* const desktop = ::testing::AddGlobalTestEnvironment(new Desktop);

class GtkApp : public DesktopApp {
 protected:
  void SetUp() override { start({}); }
  void start(const std::vector<std::string>& extra) {
    DesktopApp::start("uiglean-gtk-app", extra, "Say Hello");
  }
};

class QtApp : public DesktopApp {
 protected:
  void SetUp() override { start("uiglean-qt-app", {}, "uiglean qt test"); }
};

TEST_F(GtkApp, TreeShowsTheWindowInMacTerms) {
  json tree = treeOf();
  EXPECT_EQ(tree["app"], "uiglean-gtk-app");
  EXPECT_EQ(tree["bundleId"], "org.uiglean.TestApp");
  EXPECT_EQ(tree["pid"], pid);
  EXPECT_EQ(tree["secureInput"], false);
  ASSERT_GE(tree["windows"].size(), 1U);
  const json& w = tree["windows"][0];
  EXPECT_EQ(w["ref"], "w0");
  EXPECT_EQ(w["role"], "AXWindow");
  EXPECT_EQ(w["subrole"], "AXStandardWindow");
  EXPECT_EQ(w["title"], "uiglean test");
  EXPECT_GT(w["frame"][2].get<double>(), 100);

  const json* hello = findIn(tree, titled("AXButton", "Say Hello"));
  ASSERT_NE(hello, nullptr);
  EXPECT_EQ((*hello)["acts"], json::array({"Press"}));
  EXPECT_GT((*hello)["frame"][2].get<double>(), 0);

  const json* status = findIn(tree, [](const json& n) {
    return n["role"] == "AXStaticText" && n.value("value", "") == "Status: idle";
  });
  ASSERT_NE(status, nullptr);
  EXPECT_FALSE(status->contains("title"));  // a label's text is its value

  const json* name = findIn(tree, titled("AXTextField", "Name"));
  ASSERT_NE(name, nullptr);
  EXPECT_EQ((*name)["desc"], "Your name");
  EXPECT_FALSE(name->contains("subrole"));
  const json* password = findIn(tree, titled("AXTextField", "Password"));
  ASSERT_NE(password, nullptr);
  EXPECT_EQ((*password)["subrole"], "AXSecureTextField");

  const json* check = findIn(tree, titled("AXCheckBox", "Enable feature"));
  ASSERT_NE(check, nullptr);
  EXPECT_EQ((*check)["value"], "0");
  const json* bold = findIn(tree, titled("AXCheckBox", "Bold"));
  ASSERT_NE(bold, nullptr);
  EXPECT_EQ((*bold)["subrole"], "AXToggle");
  const json* volume = findIn(tree, titled("AXSlider", "Volume"));
  ASSERT_NE(volume, nullptr);
  EXPECT_EQ((*volume)["value"], "30");
  EXPECT_NE(findIn(tree, titled("AXTextArea", "Notes")), nullptr);

  // The menu bar in the shape macOS gives it: the application's own item first.
  const json* bar = findIn(tree, [](const json& n) { return n["role"] == "AXMenuBar"; });
  ASSERT_NE(bar, nullptr);
  ASSERT_GE((*bar)["children"].size(), 4U);
  EXPECT_EQ((*bar)["children"][0]["title"], "uiglean-gtk-app");
  EXPECT_EQ((*bar)["children"][1]["title"], "File");
  EXPECT_EQ((*bar)["children"][1]["children"][0]["role"], "AXMenu");
}

TEST_F(GtkApp, PressChangesTheLabelAndSettleStartedBeforeSeesIt) {
  json tree = treeOf();
  std::string hello = refOf(tree, titled("AXButton", "Say Hello"));
  ASSERT_FALSE(hello.empty());
  auto settle = std::async(std::launch::async, [] { return uiglean({"settle", "400", "4000"}); });
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  RunResult press = uiglean({"press", hello});
  EXPECT_EQ(press.out, "{\"ok\":true}");
  RunResult settled = settle.get();
  ASSERT_EQ(settled.status, 0) << settled.err;
  json s = settled.outJson();
  EXPECT_EQ(s["settled"], true);
  EXPECT_EQ(s["changed"], true);
  EXPECT_NE(std::find(s["events"].begin(), s["events"].end(), "AXValueChanged"), s["events"].end())
      << settled.out;

  json after = treeOf();
  EXPECT_NE(findIn(after, [](const json& n) { return n.value("value", "") == "Hello pressed 1"; }),
            nullptr);
  EXPECT_TRUE(logShows("button Say Hello")) << log();
}

TEST_F(GtkApp, SettleOnAnIdleApplicationSeesNothing) {
  uiglean({"settle", "300", "3000"});  // whatever the start-up still had in flight
  RunResult r = uiglean({"settle", "300", "3000"});
  ASSERT_EQ(r.status, 0) << r.err;
  json s = r.outJson();
  EXPECT_EQ(s["settled"], true);
  EXPECT_EQ(s["changed"], false);
  EXPECT_EQ(s["events"], json::array());
  EXPECT_GE(s["elapsedMs"].get<int>(), 300);
  EXPECT_LT(s["elapsedMs"].get<int>(), 2000);
}

TEST_F(GtkApp, SetValueWritesEntriesAndTextViews) {
  json tree = treeOf();
  std::string entry = refOf(tree, titled("AXTextField", "Name"));
  std::string notes = refOf(tree, titled("AXTextArea", "Notes"));
  ASSERT_FALSE(entry.empty());
  ASSERT_FALSE(notes.empty());
  EXPECT_EQ(uiglean({"setvalue", entry, "Grüße 名前"}).out, "{\"ok\":true}");
  EXPECT_EQ(uiglean({"setvalue", notes, "two\nlines"}).out, "{\"ok\":true}");
  json after = treeOf();
  const json* e = findIn(after, titled("AXTextField", "Name"));
  ASSERT_NE(e, nullptr);
  EXPECT_EQ((*e)["value"], "Grüße 名前");
  const json* n = findIn(after, titled("AXTextArea", "Notes"));
  ASSERT_NE(n, nullptr);
  EXPECT_EQ((*n)["value"], "two\nlines");
  EXPECT_EQ((*n).value("focused", false), true);  // setvalue focuses first
  EXPECT_TRUE(logShows("entry Name=Grüße 名前")) << log();

  // An empty text clears the field.
  EXPECT_EQ(uiglean({"setvalue", entry, ""}).out, "{\"ok\":true}");
  json last = treeOf();
  const json* cleared = findIn(last, titled("AXTextField", "Name"));
  ASSERT_NE(cleared, nullptr);
  EXPECT_FALSE(cleared->contains("value"));
}

TEST_F(GtkApp, FocusAndSecureInput) {
  json tree = treeOf();
  std::string password = refOf(tree, titled("AXTextField", "Password"));
  std::string entry = refOf(tree, titled("AXTextField", "Name"));
  ASSERT_FALSE(password.empty());
  EXPECT_EQ(uiglean({"focus", password}).out, "{\"ok\":true}");
  json after = treeOf();
  EXPECT_EQ(after["secureInput"], true);
  const json* p = findIn(after, titled("AXTextField", "Password"));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->value("focused", false), true);

  EXPECT_EQ(uiglean({"focus", entry}).out, "{\"ok\":true}");
  EXPECT_EQ(treeOf()["secureInput"], false);
}

TEST_F(GtkApp, MenusListItemsWithShortcutsMarksAndDisabledItems) {
  RunResult bar = uiglean({"menus"});
  ASSERT_EQ(bar.status, 0) << bar.err;
  EXPECT_EQ(bar.out,
            "{\"menus\":[{\"index\":1,\"title\":\"File\",\"count\":7},{\"index\":2,\"title\":"
            "\"View\",\"count\":7},{\"index\":3,\"title\":\"Dialog\",\"count\":1}]}");

  json file = uiglean({"menus", "file"}).outJson();
  EXPECT_EQ(file["menu"], "file");
  auto item = [&](const json& menu, const std::string& title) -> json {
    for (const auto& i : menu["items"]) {
      if (i["title"] == title) return i;
    }
    return json();
  };
  EXPECT_EQ(item(file, "New")["shortcut"], "ctrl+n");
  EXPECT_EQ(item(file, "New Window")["shortcut"], "ctrl+shift+n");
  EXPECT_EQ(item(file, "Save As…")["enabled"], false);
  EXPECT_EQ(item(file, "Open Recent")["submenu"], true);
  EXPECT_EQ(item(file, "notes.txt")["path"], json::array({"file", "Open Recent", "notes.txt"}));

  json view = uiglean({"menus", "View"}).outJson();
  EXPECT_EQ(item(view, "Show Status")["mark"], "✓");
  EXPECT_FALSE(item(view, "Large").contains("mark"));
  EXPECT_EQ(item(view, "Help")["shortcut"], "f1");
  EXPECT_EQ(item(view, "Refresh")["shortcut"], "f5");

  RunResult none = uiglean({"menus", "Bookmarks"});
  EXPECT_EQ(none.status, 5);
  EXPECT_EQ(none.err, "uiglean: no menu titled \"Bookmarks\"\n");
}

TEST_F(GtkApp, MenuClickOpensWindowsAndDialogsThatSettleSees) {
  auto settle = std::async(std::launch::async, [] { return uiglean({"settle", "500", "4000"}); });
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  EXPECT_EQ(uiglean({"menuclick", "File", "New Window"}).out, "{\"ok\":true}");
  json s = settle.get().outJson();
  EXPECT_NE(std::find(s["events"].begin(), s["events"].end(), "AXWindowCreated"), s["events"].end())
      << s.dump();
  EXPECT_EQ(s["sheetAppeared"], false);
  json windows = uiglean({"windows"}).outJson();
  ASSERT_EQ(windows["windows"].size(), 2U) << windows.dump();
  EXPECT_EQ(windows["windows"][1]["title"], "Second Window");

  auto sheet = std::async(std::launch::async, [] { return uiglean({"settle", "500", "4000"}); });
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  EXPECT_EQ(uiglean({"menuclick", "dialog", "OPEN DIALOG…"}).out, "{\"ok\":true}");
  json t = sheet.get().outJson();
  EXPECT_EQ(t["sheetAppeared"], true) << t.dump();
  json three = uiglean({"windows"}).outJson();
  ASSERT_EQ(three["windows"].size(), 3U) << three.dump();
  EXPECT_EQ(three["windows"][2]["title"], "Confirm");
  EXPECT_EQ(three["windows"][2]["modal"], true);

  // The menus stay reachable while the dialog is in front; a disabled item is refused.
  EXPECT_EQ(uiglean({"menuclick", "file", "save as…"}).out,
            "{\"ok\":false,\"error\":\"\\\"save as…\\\" is disabled right now\"}");
  EXPECT_EQ(uiglean({"menuclick", "File", "Open Recent", "todo.txt"}).out, "{\"ok\":true}");
  EXPECT_TRUE(logShows("menu todo.txt")) << log();
}

TEST_F(GtkApp, AFailedMenuClickClosesTheMenuItOpened) {
  json tree = treeOf();
  std::string file = refOf(tree, titled("AXMenuBarItem", "File"));
  ASSERT_FALSE(file.empty());
  auto settle = std::async(std::launch::async, [] { return uiglean({"settle", "400", "3000"}); });
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  EXPECT_EQ(uiglean({"press", file}).out, "{\"ok\":true}");
  json s = settle.get().outJson();
  EXPECT_NE(std::find(s["events"].begin(), s["events"].end(), "AXMenuOpened"), s["events"].end())
      << s.dump();
  EXPECT_GT(openMenuItems(treeOf()), 0U);
  EXPECT_EQ(uiglean({"menuclick", "File", "Bogus"}).out,
            "{\"ok\":false,\"error\":\"no item \\\"Bogus\\\" at depth 1\"}");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(openMenuItems(treeOf()), 0U);
}

TEST_F(GtkApp, RefsArePositionsAndGoStale) {
  json tree = treeOf();
  std::string remove = refOf(tree, titled("AXButton", "Remove Me"));
  std::string last = refOf(tree, titled("AXButton", "Open Dialog"));
  ASSERT_FALSE(remove.empty());
  EXPECT_EQ(uiglean({"press", remove}).out, "{\"ok\":true}");
  json after = treeOf();
  EXPECT_EQ(findIn(after, titled("AXButton", "Remove Me")), nullptr);
  // The next button moved into the removed one's place; the last position is gone.
  EXPECT_EQ(refOf(after, titled("AXButton", "Open Dialog")), remove);
  RunResult stale = uiglean({"press", last});
  EXPECT_EQ(stale.status, 0);
  EXPECT_EQ(stale.outJson()["error"],
            "ref \"" + last + "\" no longer resolves — the UI changed; re-read the snapshot");
  // A label has no press action.
  std::string label = refOf(after, [](const json& n) { return n["role"] == "AXStaticText"; });
  EXPECT_EQ(uiglean({"press", label}).out, "{\"ok\":false,\"error\":\"AXPress failed (-25206)\"}");
}

TEST_F(GtkApp, AStoppedApplicationIsAnsweredWithinTheTimeouts) {
  ASSERT_EQ(::kill(pid, SIGSTOP), 0);
  auto t0 = std::chrono::steady_clock::now();
  RunResult r = uiglean({"tree"});
  auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  ::kill(pid, SIGCONT);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.outJson()["windows"], json::array());
  // The lookups' and the snapshot's timeouts with its two pauses, far from a hang.
  EXPECT_LT(seconds, 6.0);
}

TEST_F(GtkApp, ABigApplicationIsCutAtTheNodeLimit) {
  TearDown();
  start({"--big"});
  json tree = treeOf();
  std::size_t nodes = 0;
  for (const auto& w : tree["windows"]) nodes += countNodes(w);
  EXPECT_EQ(nodes, 4000U);
}

TEST_F(QtApp, QtWidgetsAreShownAndDrivenLikeGtkOnes) {
  json tree = treeOf();
  EXPECT_EQ(tree["app"], "uiglean-qt-app");
  ASSERT_EQ(tree["windows"].size(), 1U);
  EXPECT_EQ(tree["windows"][0]["title"], "uiglean qt test");
  const json* bar = findIn(tree, [](const json& n) { return n["role"] == "AXMenuBar"; });
  ASSERT_NE(bar, nullptr);
  ASSERT_EQ((*bar)["children"].size(), 2U);
  EXPECT_EQ((*bar)["children"][1]["title"], "File");
  EXPECT_EQ((*bar)["children"][1]["acts"][0], "Press");  // Qt's ShowMenu opens it, as a press
  EXPECT_EQ(uiglean({"menus", "file"}).out,
            "{\"menu\":\"file\",\"items\":[{\"path\":[\"file\",\"New\"],\"title\":\"New\","
            "\"shortcut\":\"ctrl+n\"},{\"path\":[\"file\",\"Quit\"],\"title\":\"Quit\","
            "\"shortcut\":\"ctrl+q\"}]}");

  std::string hello = refOf(tree, titled("AXButton", "Say Hello"));
  std::string name = refOf(tree, titled("AXTextField", "Name"));
  std::string check = refOf(tree, titled("AXCheckBox", "Enable feature"));
  ASSERT_FALSE(hello.empty());
  ASSERT_FALSE(name.empty());
  ASSERT_FALSE(check.empty());
  EXPECT_EQ(uiglean({"press", hello}).out, "{\"ok\":true}");
  EXPECT_TRUE(logShows("button Say Hello")) << log();
  EXPECT_EQ(uiglean({"setvalue", name, "Grüße 名前"}).out, "{\"ok\":true}");
  EXPECT_EQ(uiglean({"press", check}).out, "{\"ok\":true}");
  EXPECT_EQ(uiglean({"menuclick", "File", "New"}).out, "{\"ok\":true}");
  EXPECT_TRUE(logShows("menu New")) << log();

  json after = treeOf();
  EXPECT_NE(findIn(after, [](const json& n) { return n.value("value", "") == "Hello pressed 1"; }),
            nullptr);
  const json* entry = findIn(after, titled("AXTextField", "Name"));
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ((*entry)["value"], "Grüße 名前");
  const json* box = findIn(after, titled("AXCheckBox", "Enable feature"));
  ASSERT_NE(box, nullptr);
  EXPECT_EQ((*box)["value"], "1");
  // Qt 5 crashes on some questions (a properties GetAll): it must still be running.
  EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), 0);
}

// Qt lists hidden widgets and the items of closed menus beside what is shown, telling them apart
// only by their states: a window's tree shows what the screen shows, and the menus stay readable
// through the menu bar.
TEST_F(QtApp, HiddenWidgetsAndClosedMenusAreLeftOutOfTheTree) {
  json tree = treeOf();
  EXPECT_EQ(findIn(tree, titled("AXButton", "Reset All")), nullptr);
  EXPECT_EQ(findIn(tree, titled("AXGroup", "Advanced")), nullptr);
  EXPECT_EQ(findIn(tree, titled("AXMenuItem", "Quit")), nullptr);
  const json* file = findIn(tree, titled("AXMenuBarItem", "File"));
  ASSERT_NE(file, nullptr);
  ASSERT_EQ((*file)["children"].size(), 1U);
  EXPECT_EQ((*file)["children"][0]["role"], "AXMenu");
  EXPECT_TRUE((*file)["children"][0]["children"].empty());
  EXPECT_NE(uiglean({"menus", "File"}).out.find("\"Quit\""), std::string::npos);

  // Shown, it is there and pressed; the refs before it have not moved.
  std::string more = refOf(tree, titled("AXButton", "Show Advanced"));
  ASSERT_EQ(uiglean({"press", more}).out, "{\"ok\":true}");
  ASSERT_TRUE(logShows("button Show Advanced"));
  json shown;
  for (int i = 0; i < 20; ++i) {
    shown = treeOf();
    if (findIn(shown, titled("AXButton", "Reset All")) != nullptr) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::string reset = refOf(shown, titled("AXButton", "Reset All"));
  ASSERT_FALSE(reset.empty()) << shown.dump();
  EXPECT_EQ(refOf(shown, titled("AXButton", "Show Advanced")), more);
  EXPECT_EQ(uiglean({"press", reset}).out, "{\"ok\":true}");
  EXPECT_TRUE(logShows("button Reset All")) << log();

  // With the File menu open, its items are in the tree.
  std::string fileRef = refOf(shown, titled("AXMenuBarItem", "File"));
  ASSERT_EQ(uiglean({"press", fileRef}).out, "{\"ok\":true}");
  json open;
  for (int i = 0; i < 20; ++i) {
    open = treeOf();
    if (findIn(open, titled("AXMenuItem", "Quit")) != nullptr) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_NE(findIn(open, titled("AXMenuItem", "Quit")), nullptr);
  uiglean({"key", "escape"});
}

// An application nobody here wrote, from Debian (gtk-3-examples): every ref of its snapshot
// resolves. "altui" resolves the ref and then asks for an action no Linux toolkit has, so it
// changes nothing: the answer is either that action's failure (the ref resolved) or the
// no-longer-resolves result.
TEST(RealApplication, EveryRefOfTheWidgetFactoryResolves) {
  const char* bin = "/usr/bin/gtk3-widget-factory";
  if (::access(bin, X_OK) != 0) GTEST_SKIP() << "gtk-3-examples is not installed";
  pid_t pid = spawnQuiet({bin});
  ASSERT_GT(pid, 0);
  json tree;
  for (int i = 0; i < 100; ++i) {
    RunResult r = uiglean({"tree"});
    if (r.status == 0 && r.out.find("\"pid\":" + std::to_string(pid)) != std::string::npos &&
        r.out.find("\"windows\":[]") == std::string::npos) {
      tree = r.outJson();
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_FALSE(tree.is_null()) << "the widget factory did not come up";
  EXPECT_EQ(tree["bundleId"], "gtk3-widget-factory");  // its .desktop file, not its GTK id

  std::vector<std::string> refs;
  std::function<void(const json&)> collect = [&](const json& n) {
    EXPECT_NE(n["role"], "unknown") << n.dump();
    refs.push_back(n["ref"]);
    for (const auto& c : n["children"]) collect(c);
  };
  for (const auto& w : tree["windows"]) collect(w);
  EXPECT_GT(refs.size(), 100U);
  std::size_t resolved = 0;
  for (const auto& ref : refs) {
    RunResult r = uiglean({"altui", ref});
    ASSERT_EQ(r.status, 0) << r.err;
    if (r.out == "{\"ok\":false,\"error\":\"AXShowAlternateUI failed (-25206)\"}") {
      ++resolved;
    } else {
      ADD_FAILURE() << ref << ": " << r.out;
    }
  }
  EXPECT_EQ(resolved, refs.size());
  endProcess(pid);
}

// A local page in Debian's Chromium, in a network namespace of its own, with a fresh profile.
class WebPage : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string script = std::string(TEST_SOURCE_DIR) + "/tests/apps/web/run-chromium.sh";
    std::string page = std::string(TEST_SOURCE_DIR) + "/tests/apps/web/page.html";
    pid = spawnQuiet({"/bin/bash", script, page}, true);  // the browser and its helpers
    ASSERT_GT(pid, 0);
    // Ready when its window is listed; "windows" does not switch the page's accessibility on,
    // so the first snapshot below is the first the browser is asked for.
    for (int i = 0; i < 200; ++i) {
      RunResult r = uiglean({"windows"});
      if (r.status == 0 && r.out.find("uiglean web test") != std::string::npos) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    FAIL() << "Chromium did not come up";
  }

  void TearDown() override {
    if (pid <= 0) return;
    ::kill(-pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(-pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }

  pid_t pid = 0;
};

const json* webArea(const json& tree) {
  return findIn(tree, [](const json& n) { return n["role"] == "AXWebArea"; });
}

TEST_F(WebPage, ThePageIsInTheFirstTreeAndCanBeDriven) {
  json tree = treeOf();
  EXPECT_EQ(tree["app"], "Chromium");
  const json* page = webArea(tree);
  ASSERT_NE(page, nullptr) << "no page in the first snapshot";
  EXPECT_EQ((*page)["title"], "uiglean web test");
  EXPECT_NE(findNode(*page, titled("AXHeading", "Test Page")), nullptr);
  const json* link = findNode(*page, titled("AXLink", "More info"));
  ASSERT_NE(link, nullptr);
  EXPECT_EQ((*link)["acts"][0], "Press");
  const json* input = findNode(*page, titled("AXTextField", "Name"));
  ASSERT_NE(input, nullptr);
  EXPECT_EQ((*input)["desc"], "Your name");
  const json* box = findNode(*page, titled("AXCheckBox", "Subscribe"));
  ASSERT_NE(box, nullptr);
  EXPECT_EQ((*box)["value"], "0");
  std::string button = refOf(tree, titled("AXButton", "Change Title"));
  ASSERT_FALSE(button.empty());
  // A paragraph is text a caller can read, as a browser on macOS shows it (the paragraph
  // itself, which holds Chromium's text node).
  EXPECT_NE(findNode(*page, [](const json& n) {
              return n["role"] == "AXStaticText" && n.value("value", "") == "The end of the page." &&
                     !n["children"].empty();
            }),
            nullptr)
      << page->dump();

  // The browser has no working accessible text writes: the text is typed, and the page's
  // input listener sees it, characters outside the keyboard map included.
  EXPECT_EQ(uiglean({"setvalue", (*input)["ref"], "Grüße 名前"}).out, "{\"ok\":true}");
  EXPECT_EQ(uiglean({"press", button}).out, "{\"ok\":true}");
  EXPECT_EQ(uiglean({"press", (*box)["ref"]}).out, "{\"ok\":true}");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  json after = treeOf();
  const json* again = webArea(after);
  ASSERT_NE(again, nullptr);
  EXPECT_NE(findNode(*again, [](const json& n) {
              return n.value("value", "") == "echo: Grüße 名前";
            }),
            nullptr)
      << after.dump();
  EXPECT_NE(findNode(*again, [](const json& n) { return n.value("value", "") == "Clicked 1"; }),
            nullptr);
  EXPECT_EQ(after["windows"][0]["title"], "uiglean web clicked - Chromium");
  // Chromium aborts on some questions (a GetAll of its value interface): it must still run.
  EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), 0);
  const json* checked = findNode(*again, titled("AXCheckBox", "Subscribe"));
  ASSERT_NE(checked, nullptr);
  EXPECT_EQ((*checked)["value"], "1");
}

TEST(Desktop, WithoutAnAccessibilityBusTheToolIsNotTrusted) {
  std::string session = ::getenv("DBUS_SESSION_BUS_ADDRESS");
  ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
  RunResult r = uiglean({"tree"});
  RunResult unknown = uiglean({"bogus"});
  ::setenv("DBUS_SESSION_BUS_ADDRESS", session.c_str(), 1);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "uiglean: not trusted for accessibility\n");
  EXPECT_EQ(unknown.status, 2);
}

}  // namespace
}  // namespace desktop_tests
