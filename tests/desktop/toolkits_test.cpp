// uiglean on Debian applications of other toolkits than our test applications': LibreOffice Writer
// (VCL with its GTK 3 plug-in) and a VTE terminal. Each runs on the private desktop with a fresh
// profile of its own, in a process group of its own that the test ends.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <future>
#include <utility>
#include <fstream>
#include <thread>

#include "tests/desktop/desktop_harness.h"

namespace desktop_tests {
namespace {

const auto* const desktop = ::testing::AddGlobalTestEnvironment(new Desktop);

// Chooses `item` of `menu`, which must open a second window titled `title`.
void expectMenuOpensWindow(const std::string& menu, const std::string& item,
                           const std::string& title) {
  EXPECT_EQ(uiglean({"menuclick", menu, item}).out, "{\"ok\":true}");
  json windows = windowsWhenThereAre(2);
  ASSERT_EQ(windows["windows"].size(), 2U) << windows.dump();
  EXPECT_EQ(windows["windows"][1]["title"], title);
}

// LibreOffice Writer on a new document, without the tip it shows on a first start.
class Writer : public DebianApp {
 protected:
  void SetUp() override {
    if (!installed("/usr/bin/soffice")) GTEST_SKIP() << "libreoffice-writer is not installed";
    launchWriter();
  }
};

TEST_F(Writer, ShortcutsAreTheAcceleratorsNeverTheMnemonics) {
  RunResult r = uiglean({"menus", "View"});
  ASSERT_EQ(r.status, 0) << r.err;
  json menu = r.outJson();
  bool sawStyles = false;
  for (const auto& item : menu["items"]) {
    if (!item.contains("shortcut")) continue;
    std::string s = item["shortcut"];
    // A shortcut has a modifier or is a named key (f11, delete); a lone letter is a mnemonic.
    EXPECT_TRUE(s.find('+') != std::string::npos || s.size() > 1) << item.dump();
    if (item["title"] == "Styles") {
      sawStyles = true;
      EXPECT_EQ(s, "f11");
    }
  }
  EXPECT_TRUE(sawStyles) << "the menu shown is not the one read: " << r.out.substr(0, 400);
}

TEST_F(Writer, ClosedMenusAreReadThroughTheMenuBarNotInTheWindowsTree) {
  json tree = treeOf();
  std::size_t nodes = 0, items = 0;
  std::function<void(const json&)> walk = [&](const json& n) {
    ++nodes;
    if (n["role"] == "AXMenuItem") ++items;
    for (const auto& c : n["children"]) walk(c);
  };
  for (const auto& w : tree["windows"]) walk(w);
  // Nine in ten of Writer's objects are the items of its closed menus.
  EXPECT_EQ(items, 0U);
  EXPECT_LT(nodes, 1000U);
  const json* bar = findIn(tree, [](const json& n) { return n["role"] == "AXMenuBar"; });
  ASSERT_NE(bar, nullptr);
  EXPECT_GT((*bar)["children"].size(), 5U);
  json view = uiglean({"menus", "View"}).outJson();
  EXPECT_GT(view["items"].size(), 20U);
}

TEST_F(Writer, TextIsWrittenIntoTheDocumentBody) {
  json tree = treeOf();
  std::string body = writerBodyRef(tree);
  ASSERT_FALSE(body.empty()) << tree.dump().substr(0, 500);
  for (const char* text : {"Hello from uiglean", "Second version"}) {
    RunResult r = uiglean({"setvalue", body, text});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.outJson(), json::parse(R"({"ok":true})")) << text;
    json after = treeOf();
    const json* node = findIn(after, [&](const json& n) { return n["ref"] == body; });
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->value("value", ""), text);
  }
}

// A VTE terminal running a plain shell.
class Terminal : public DebianApp {
 protected:
  void SetUp() override {
    if (!installed("/usr/bin/sakura")) GTEST_SKIP() << "sakura is not installed";
    launch({"/usr/bin/env", "SHELL=/bin/sh", "PS1=ready$ ", "/usr/bin/sakura", "-e", "/bin/sh"},
           "sakura", "ready$");
  }
};

TEST_F(Terminal, TextIsTypedOnceAndReportedAsWritten) {
  json tree = treeOf();
  std::string term = refOf(tree, [](const json& n) { return n["role"] == "AXTextArea"; });
  ASSERT_FALSE(term.empty()) << tree.dump().substr(0, 500);
  RunResult r = uiglean({"setvalue", term, "echo typed-by-uiglean"});
  ASSERT_EQ(r.status, 0) << r.err;
  // Every key arrived; the screen cannot be compared with the text, and saying false would
  // have the caller type it a second time.
  EXPECT_EQ(r.outJson(), json::parse(R"({"ok":true})"));
  std::string screen;
  for (int i = 0; i < 20; ++i) {
    json now = treeOf();
    const json* node = findIn(now, [&](const json& n) { return n["ref"] == term; });
    ASSERT_NE(node, nullptr);
    screen = node->value("value", "");
    if (screen.find("typed-by-uiglean") != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::size_t first = screen.find("echo typed-by-uiglean");
  ASSERT_NE(first, std::string::npos) << screen;
  EXPECT_EQ(screen.find("typed-by-uiglean", first + 10), std::string::npos) << screen;
}

// Our test page in Firefox ESR, in a network namespace of its own, with a fresh profile.
class Firefox : public DebianApp {
 protected:
  void SetUp() override {
    if (!installed("/usr/bin/firefox-esr")) GTEST_SKIP() << "firefox-esr is not installed";
    std::string dir = std::string(TEST_SOURCE_DIR) + "/tests/apps/web/";
    launch({"/bin/bash", dir + "run-firefox.sh", dir + "page.html"}, "Firefox",
           "uiglean web test");
  }
};

TEST_F(Firefox, ThePageCanBeReadPressedAndTypedInto) {
  json tree = treeOf();
  const json* page = findIn(tree, [](const json& n) { return n["role"] == "AXWebArea"; });
  ASSERT_NE(page, nullptr) << tree.dump().substr(0, 400);
  // Gecko lists its actions without names: they are asked for one by one.
  const json* link = findNode(*page, titled("AXLink", "More info"));
  ASSERT_NE(link, nullptr);
  EXPECT_EQ((*link)["acts"], json::array({"Press"}));
  const json* box = findNode(*page, titled("AXCheckBox", "Subscribe"));
  ASSERT_NE(box, nullptr);
  EXPECT_EQ((*box)["acts"], json::array({"Press"}));
  // What the page says is text to read.
  EXPECT_NE(findNode(*page, [](const json& n) {
              return n["role"] == "AXStaticText" && n.value("value", "") == "The end of the page.";
            }),
            nullptr);
  std::string input = refOf(tree, titled("AXTextField", "Name"));
  std::string button = refOf(tree, titled("AXButton", "Change Title"));
  ASSERT_FALSE(input.empty());
  ASSERT_FALSE(button.empty());

  // The page's input listener sees the text (it echoes it into a paragraph), and a press runs
  // the button's click handler.
  EXPECT_EQ(uiglean({"setvalue", input, "Grüße 名前"}).out, "{\"ok\":true}");
  EXPECT_EQ(uiglean({"press", button}).out, "{\"ok\":true}");
  EXPECT_EQ(uiglean({"press", (*box)["ref"]}).out, "{\"ok\":true}");
  json after;
  for (int i = 0; i < 20; ++i) {
    after = treeOf();
    if (after["windows"][0].value("title", "").find("clicked") != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(after["windows"][0]["title"], "uiglean web clicked \u2014 Mozilla Firefox");
  EXPECT_NE(findIn(after, [](const json& n) {
              return n["role"] == "AXStaticText" && n.value("value", "") == "echo: Grüße 名前";
            }),
            nullptr);
  const json* checked = findIn(after, titled("AXCheckBox", "Subscribe"));
  ASSERT_NE(checked, nullptr);
  EXPECT_EQ((*checked)["value"], "1");
}

// Firefox's menu bar is hidden until Alt is pressed, and Gecko builds a menu's items the first time
// it opens (and crashes when asked GetActions of some of them).
TEST_F(Firefox, TheHiddenMenuBarsMenusAreListedAndChosen) {
  json bar = uiglean({"menus"}).outJson();
  std::vector<std::string> titles;
  for (const auto& m : bar["menus"]) titles.push_back(m["title"]);
  EXPECT_EQ(titles, (std::vector<std::string>{"File", "Edit", "View", "History", "Bookmarks",
                                              "Tools", "Help"}));
  json file = uiglean({"menus", "File"}).outJson();
  const json* quit = nullptr;
  for (const auto& item : file["items"]) {
    if (item["title"] == "Quit") quit = &item;
  }
  ASSERT_NE(quit, nullptr) << file.dump();
  EXPECT_EQ((*quit)["shortcut"], "ctrl+q");
  // Reading it left the menu closed, and the browser running.
  json tree = treeOf();
  EXPECT_EQ(findIn(tree, titled("AXMenuItem", "Quit")), nullptr);
  ASSERT_EQ(::waitpid(pid, nullptr, WNOHANG), 0);

  expectMenuOpensWindow("Help", "About Firefox", "About Mozilla Firefox");
  EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), 0);
}

// A GTK 4 application: Debian's gtk4-demo.
class Gtk4 : public DebianApp {
 protected:
  void SetUp() override {
    if (!installed("/usr/bin/gtk4-demo")) GTEST_SKIP() << "gtk-4-examples is not installed";
    launch({"/usr/bin/gtk4-demo"}, "gtk4-demo", "Primary menu");
  }
};

TEST_F(Gtk4, FramesAreOnTheScreenWhereTheWindowIs) {
  // Away from the origin, so that a position left relative to the window shows.
  testing_harness::runProgram("/usr/bin/xdotool", {"getactivewindow", "windowmove", "210", "150"},
                              {});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  json tree = treeOf();
  ASSERT_EQ(tree["windows"].size(), 1U);
  const json& w = tree["windows"][0];
  // The window where the X server has it (GTK 4 gives positions relative to the window).
  json windows = uiglean({"windows"}).outJson();
  ASSERT_EQ(windows["windows"].size(), 1U);
  const json& x11 = windows["windows"][0]["frame"];
  double wx = w["frame"][0], wy = w["frame"][1], ww = w["frame"][2], wh = w["frame"][3];
  EXPECT_GE(wx, x11[0].get<double>());
  EXPECT_GE(wy, x11[1].get<double>());
  EXPECT_LE(wx + ww, x11[0].get<double>() + x11[2].get<double>());
  EXPECT_LE(wy + wh, x11[1].get<double>() + x11[3].get<double>());
  EXPECT_GE(wx, 210);
  EXPECT_GE(wy, 150);
  // Elements below it have frames (GTK 4 never says "showing"), inside the window.
  const json* menu = findIn(tree, titled("AXButton", "Primary menu"));
  ASSERT_NE(menu, nullptr);
  const json& f = (*menu)["frame"];
  EXPECT_GT(f[2].get<double>(), 0);
  EXPECT_GE(f[0].get<double>(), wx);
  EXPECT_GE(f[1].get<double>(), wy);
  EXPECT_LE(f[0].get<double>() + f[2].get<double>(), wx + ww);
  EXPECT_LE(f[1].get<double>() + f[3].get<double>(), wy + wh);
}

// GTK 4 applications have no menu bar: the header bar's menu buttons serve as its entries.
TEST_F(Gtk4, ThePrimaryMenuIsListedAndChosenAsAMenuOfTheMenuBar) {
  json bar = uiglean({"menus"}).outJson();
  ASSERT_EQ(bar["menus"].size(), 1U) << bar.dump();
  EXPECT_EQ(bar["menus"][0]["title"], "Primary menu");
  EXPECT_EQ(bar["menus"][0]["count"], 3);

  json menu = uiglean({"menus", "Primary menu"}).outJson();
  ASSERT_EQ(menu["items"].size(), 3U) << menu.dump();
  EXPECT_EQ(menu["items"][0]["title"], "Inspector");
  EXPECT_FALSE(menu["items"][0].contains("shortcut"));
  // The accelerator is a label of its own beside the title.
  EXPECT_EQ(menu["items"][2]["title"], "About GTK Demo");
  EXPECT_EQ(menu["items"][2]["shortcut"], "f1");
  EXPECT_EQ(menu["items"][1]["shortcut"], "ctrl+?");
  // Reading the menu left it closed.
  json tree = treeOf();
  EXPECT_EQ(findIn(tree, [](const json& n) { return n["role"] == "AXMenuItem"; }), nullptr);

  RunResult missing = uiglean({"menuclick", "Primary menu", "No Such Item"});
  EXPECT_EQ(missing.outJson()["error"], "no item \"No Such Item\" at depth 1");
  expectMenuOpensWindow("Primary menu", "About GTK Demo", "About GTK Demo");
}

// GTK 4 clicks a button a quarter of a second after it is asked to; its entries give their text
// only when asked up to a given end.
TEST_F(Gtk4, APressHasTakenEffectWhenItAnswersAndTextIsWrittenOverText) {
  json tree = treeOf();
  std::string search = refOf(tree, titled("AXButton", "Search"));
  std::string entry = refOf(tree, [](const json& n) { return n["role"] == "AXTextField"; });
  ASSERT_FALSE(search.empty());
  ASSERT_FALSE(entry.empty());
  const json* hidden = findIn(tree, [&](const json& n) { return n["ref"] == entry; });
  EXPECT_EQ((*hidden)["frame"][3], 0) << hidden->dump();

  EXPECT_EQ(uiglean({"press", search}).out, "{\"ok\":true}");
  json after = treeOf();
  const json* shown = findIn(after, [&](const json& n) { return n["ref"] == entry; });
  ASSERT_NE(shown, nullptr);
  EXPECT_GT((*shown)["frame"][3].get<double>(), 0) << shown->dump();

  EXPECT_EQ(uiglean({"setvalue", entry, "button"}).out, "{\"ok\":true}");
  RunResult over = uiglean({"setvalue", entry, "label"});
  EXPECT_EQ(over.out, "{\"ok\":true}") << over.err;
  json last = treeOf();
  const json* field = findIn(last, [&](const json& n) { return n["ref"] == entry; });
  ASSERT_NE(field, nullptr);
  EXPECT_EQ((*field)["value"], "label");
}

// The pointer's position, from xdotool ("x:12 y:34 screen:0 window:…").
std::pair<int, int> pointerAt() {
  RunResult r = testing_harness::runProgram("/usr/bin/xdotool", {"getmouselocation"}, {});
  int x = -1, y = -1;
  std::sscanf(r.out.c_str(), "x:%d y:%d", &x, &y);
  return {x, y};
}

// Whether gtk4-demo's search bar is shown: its entry has a size and lies below the header bar
// (a hidden bar keeps its entry's size once shown, slid up behind the header).
bool searchBarShown() {
  json tree = treeOf();
  for (const auto& window : tree["windows"]) {
    if (window.value("title", "") != "GTK Demo") continue;
    const json* entry = findNode(window, [](const json& n) { return n["role"] == "AXTextField"; });
    const json* button = findNode(window, titled("AXButton", "Search"));
    if (entry == nullptr || button == nullptr) return false;
    const json& e = (*entry)["frame"];
    const json& b = (*button)["frame"];
    return e[3].get<double>() > 0 && e[1].get<double>() >= b[1].get<double>() + b[3].get<double>();
  }
  return false;
}

// GTK 4 answers the press action by clicking a quarter of a second later, unannounced; a press
// where a click lands on the button is a click, which the application handles at once, so a
// settle started before it sees its effect. Where a click would not land on it (a modal window
// takes the clicks), the action still presses it.
TEST_F(Gtk4, APressIsAClickWhereOneLandsAndTheActionWhereNot) {
  json tree = treeOf();
  std::string search = refOf(tree, titled("AXButton", "Search"));
  ASSERT_FALSE(search.empty());
  ASSERT_FALSE(searchBarShown());
  testing_harness::runProgram("/usr/bin/xdotool", {"mousemove", "3", "4"}, {});

  auto settle = std::async(std::launch::async, [] { return uiglean({"settle", "400", "4000"}); });
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  EXPECT_EQ(uiglean({"press", search}).out, "{\"ok\":true}");
  RunResult settled = settle.get();
  ASSERT_EQ(settled.status, 0) << settled.err;
  EXPECT_EQ(settled.outJson()["changed"], true) << settled.out;
  EXPECT_TRUE(searchBarShown());
  // The pointer is back where the user left it.
  EXPECT_EQ(pointerAt(), std::make_pair(3, 4));

  ASSERT_EQ(uiglean({"menuclick", "Primary menu", "About GTK Demo"}).out, "{\"ok\":true}");
  ASSERT_EQ(windowsWhenThereAre(2)["windows"].size(), 2U);
  EXPECT_EQ(uiglean({"press", search}).out, "{\"ok\":true}");
  // The bar slides away (GTK's revealer takes a quarter of a second).
  bool shown = true;
  for (int i = 0; i < 20 && shown; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    shown = searchBarShown();
  }
  EXPECT_FALSE(shown);
}

// GTK 4's own menu bar (gtk4-print-editor): its entries have no action and their popovers exist
// only while open; a click opens and closes them.
class Gtk4MenuBar : public DebianApp {
 protected:
  void SetUp() override {
    if (!installed("/usr/bin/gtk4-print-editor")) GTEST_SKIP() << "gtk-4-examples is not installed";
    launch({"/usr/bin/gtk4-print-editor"}, "gtk4-print-editor", "GTK Print Editor");
  }
};

TEST_F(Gtk4MenuBar, EntriesAreOpenedByAClickToBeListedAndChosen) {
  testing_harness::runProgram("/usr/bin/xdotool", {"mousemove", "3", "4"}, {});

  json bar = uiglean({"menus"}).outJson();
  ASSERT_EQ(bar["menus"].size(), 2U) << bar.dump();
  EXPECT_EQ(bar["menus"][0]["title"], "File");
  EXPECT_EQ(bar["menus"][0]["count"], 8);
  EXPECT_EQ(bar["menus"][1]["count"], 1);
  json menu = uiglean({"menus", "File"}).outJson();
  ASSERT_EQ(menu["items"].size(), 8U) << menu.dump();
  EXPECT_EQ(menu["items"][0]["title"], "New");
  EXPECT_EQ(menu["items"][0]["shortcut"], "ctrl+n");
  EXPECT_EQ(menu["items"][7]["shortcut"], "ctrl+q");
  // Each menu was closed again, and the pointer is where it was.
  EXPECT_EQ(openMenuItems(treeOf()), 0U);
  EXPECT_EQ(pointerAt(), std::make_pair(3, 4));

  expectMenuOpensWindow("Help", "About Print Editor", "About GTK Print Editor");
}

// GNOME's text editor (GTK 4): its View menu holds a submenu, which GTK 4 keeps as another page of
// the popover's stack, in the tree beside the main page.
class TextEditor : public DebianApp {
 protected:
  void SetUp() override {
    if (!installed("/usr/bin/gnome-text-editor")) GTEST_SKIP() << "gnome-text-editor is not installed";
    launch({"/usr/bin/gnome-text-editor", "--standalone"}, "gnome-text-editor", "Text Editor");
  }
};

TEST_F(TextEditor, APopoverSubmenuIsListedUnderItsItemAndChosenThroughIt) {
  auto titlesAt = [](const json& menu, const std::vector<std::string>& path) {
    std::vector<std::string> out;
    for (const auto& item : menu["items"]) {
      std::vector<std::string> at = item["path"];
      at.pop_back();
      if (at == path) out.push_back(item["title"]);
    }
    return out;
  };
  json menu = uiglean({"menus", "View"}).outJson();
  std::vector<std::string> top = titlesAt(menu, {"View"});
  // The submenu's items and its title (the way back) are not items of the menu itself.
  EXPECT_EQ(std::count(top.begin(), top.end(), "Spaces Per Tab"), 1) << menu.dump();
  EXPECT_EQ(std::count(top.begin(), top.end(), "4"), 0) << menu.dump();
  EXPECT_EQ(titlesAt(menu, {"View", "Spaces Per Tab"}),
            (std::vector<std::string>{"2", "4", "6", "8"}))
      << menu.dump();

  EXPECT_EQ(uiglean({"menuclick", "View", "Spaces Per Tab", "4"}).out, "{\"ok\":true}");
  json after = uiglean({"menus", "View"}).outJson();
  for (const auto& item : after["items"]) {
    if (item["path"] == json({"View", "Spaces Per Tab", "4"})) {
      EXPECT_EQ(item.value("mark", ""), "\u2713");
    }
    if (item["path"] == json({"View", "Spaces Per Tab", "8"})) {
      EXPECT_FALSE(item.contains("mark"));
    }
  }
  EXPECT_EQ(openMenuItems(treeOf()), 0U);
}

// gedit: GTK 3 with a header bar and no menu bar; its menu is a popover behind its "Menu" button.
class Gedit : public DebianApp {
 protected:
  void SetUp() override {
    if (!installed("/usr/bin/gedit")) GTEST_SKIP() << "gedit is not installed";
    launch({"/usr/bin/gedit", "--standalone"}, "gedit", "Untitled Document 1");
  }
};

TEST_F(Gedit, TheHeaderBarMenuIsListedAndChosenAsAMenuOfTheMenuBar) {
  json bar = uiglean({"menus"}).outJson();
  ASSERT_EQ(bar["menus"].size(), 1U) << bar.dump();
  EXPECT_EQ(bar["menus"][0]["title"], "Menu");
  EXPECT_GE(bar["menus"][0]["count"].get<int>(), 10);

  json menu = uiglean({"menus", "Menu"}).outJson();
  std::map<std::string, json> items;
  for (const auto& item : menu["items"]) items[item["title"]] = item;
  ASSERT_TRUE(items.count("Preferences") && items.count("About gedit")) << menu.dump();
  // A new document has nothing to reload; the check item for full screen is not checked.
  EXPECT_EQ(items["Reload"].value("enabled", true), false);
  EXPECT_FALSE(items["Fullscreen"].contains("mark"));
  // The popover was read where it is, without being opened.
  json tree = treeOf();
  const json* button = findIn(tree, titled("AXCheckBox", "Menu"));
  ASSERT_NE(button, nullptr);
  EXPECT_EQ((*button)["value"], "0");

  expectMenuOpensWindow("Menu", "About gedit", "About gedit");
}

// A KDE application: the calculator, Qt 5 with the KDE frameworks.
class Kcalc : public DebianApp {
 protected:
  void SetUp() override {
    if (!installed("/usr/bin/kcalc")) GTEST_SKIP() << "kcalc is not installed";
    launch({"/usr/bin/kcalc"}, "kcalc", "AXMenuBar");
  }
};

TEST_F(Kcalc, TheCheckedModeCarriesItsMark) {
  RunResult r = uiglean({"menus", "Settings"});
  ASSERT_EQ(r.status, 0) << r.err;
  json menu = r.outJson();
  int marked = 0;
  for (const auto& item : menu["items"]) {
    std::string title = item["title"];
    if (title.find("Mode") == std::string::npos) continue;
    if (item.value("mark", "") == "\u2713") ++marked;
  }
  // The modes are radio items: exactly one is chosen.
  EXPECT_EQ(marked, 1) << r.out;
}

TEST_F(Kcalc, AWindowWithoutAnAccessibleNameIsCalledAsItsX11Window) {
  json tree = treeOf();
  ASSERT_EQ(tree["windows"].size(), 1U);
  EXPECT_EQ(tree["windows"][0]["title"], "KCalc");
  EXPECT_EQ(uiglean({"focuswindow", "KCalc"}).out, "{\"ok\":true}");
}

}  // namespace
}  // namespace desktop_tests
