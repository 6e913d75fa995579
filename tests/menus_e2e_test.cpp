// "menus" and "menuclick" end to end on scripted scenes.
#include <gtest/gtest.h>

#include "tests/harness.h"

namespace {

using testing_harness::json;
using testing_harness::numbered;
using testing_harness::RunResult;
using testing_harness::runScene;

// A menu item element with a title; `extra` adds or overrides keys.
json item(const std::string& title, json extra = json::object()) {
  json e = {{"AXRole", "AXMenuItem"}, {"AXTitle", title}, {"actions", {"AXPress"}}};
  e.update(extra);
  return e;
}

// A menu element holding `entries`.
json menu(const std::string& id, json entries) {
  return {{"id", id}, {"AXRole", "AXMenu"}, {"AXChildren", std::move(entries)}};
}

// A menu bar item whose first child is the menu `entries`.
json barItem(const std::string& id, const std::string& title, json entries) {
  return {{"id", id},
          {"AXRole", "AXMenuBarItem"},
          {"AXTitle", title},
          {"actions", {"AXPress", "AXCancel"}},
          {"AXChildren", json::array({menu(id + "-menu", std::move(entries))})}};
}

// A scene whose frontmost application (pid 101) has the given menu bar items.
json sceneWithBar(json items) {
  return {
      {"frontmost", 101},
      {"apps",
       {{{"pid", 101},
         {"name", "Editor"},
         {"element",
          {{"AXRole", "AXApplication"},
           {"AXMenuBar", {{"element", {{"id", "bar"}, {"AXChildren", std::move(items)}}}}}}}}}}};
}

json items(int n, const std::string& prefix) {
  json list = json::array();
  for (int i = 1; i <= n; ++i) list.push_back(item(prefix + std::to_string(i)));
  return list;
}

json standardBar() {
  return sceneWithBar({
      barItem("apple", "Editor", {item("About Editor"), item("Quit Editor")}),
      barItem("file", "File",
              {item("New Window", {{"AXMenuItemCmdChar", "N"}}),
               item("Open…"),
               {{"AXRole", "AXMenuItem"}, {"AXTitle", ""}},
               item("Close")}),
      barItem("edit", "Edit", {item("Undo"), item("Redo")}),
  });
}

std::size_t cancels(const RunResult& r) {
  return r.count("AXUIElementPerformAction", {{"action", "AXCancel"}});
}

// ---------------------------------------------------------------------------------------------
// Bar listing.

TEST(MenusBar, ListsTitledItemsAfterTheFirstWithGapsInTheIndices) {
  json big = json::array();
  for (int i = 0; i < 120; ++i) big.push_back(item(numbered("x", i)));
  json scene = sceneWithBar({
      barItem("apple", "Editor", json::array({item("About")})),
      barItem("blank", " \t ", json::array({item("Hidden")})),
      barItem("file", "File", {item("New"), {{"AXRole", "AXMenuItem"}}, item("Close")}),
      {{"id", "untitled"}, {"AXChildren", json::array({menu("u-menu", json::array({item("A")}))})}},
      {{"id", "window"}, {"AXTitle", "Window"}},
      barItem("big", "Big", big),
      {{"id", "numeric"}, {"AXTitle", 7}, {"AXChildren", json::array()}},
      barItem("help", " Help ", json::array()),
  });
  RunResult r = runScene(scene, {"menus"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(
      r.out,
      R"({"menus":[{"index":2,"title":"File","count":3},{"index":4,"title":"Window","count":0},)"
      R"({"index":5,"title":"Big","count":96},{"index":7,"title":" Help ","count":0}]})");
  // The timeout comes before the first read and nothing is pressed.
  long timeout = r.indexOf("AXUIElementSetMessagingTimeout", {{"seconds", 2.0}});
  ASSERT_GE(timeout, 0);
  EXPECT_LT(timeout, r.indexOf("AXUIElementCopyAttributeValue"));
  EXPECT_EQ(r.count("AXUIElementPerformAction"), 0u);
  // The first bar item is never even read.
  EXPECT_EQ(r.count("AXUIElementCopyAttributeValue", {{"element", "apple"}}), 0u);
}

TEST(MenusBar, BlankOrExtraWordsAndBarsWithoutMenus) {
  RunResult plain = runScene(standardBar(), {"menus"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(
      plain.out,
      R"({"menus":[{"index":1,"title":"File","count":4},{"index":2,"title":"Edit","count":2}]})");
  for (std::string word : {"", "   ", " \n\t"}) {
    RunResult r = runScene(standardBar(), {"menus", word});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, plain.out) << "word [" << word << "]";
  }
  RunResult single = runScene(
      sceneWithBar(json::array({barItem("apple", "Editor", json::array({item("About")}))})),
      {"menus"});
  EXPECT_EQ(single.out, R"({"menus":[]})");

  json noBar = standardBar();
  noBar["apps"][0]["element"].erase("AXMenuBar");
  RunResult none = runScene(noBar, {"menus"});
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.out, R"({"menus":[]})");

  json badBar = standardBar();
  badBar["apps"][0]["element"]["AXMenuBar"] = "not an element";
  EXPECT_EQ(runScene(badBar, {"menus"}).out, R"({"menus":[]})");
}

TEST(MenusBar, NeedsAFrontmostApplication) {
  json scene = standardBar();
  scene["frontmost"] = nullptr;
  RunResult r = runScene(scene, {"menus"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "uiglean: no frontmost app\n");
}

// ---------------------------------------------------------------------------------------------
// One menu's items.

TEST(MenusItems, ListsItemsWithPathShortcutMarkAndDisabledFlag) {
  json scene = sceneWithBar({
      barItem("apple", "Editor", json::array({item("About")})),
      barItem(
          "edit", "Edit",
          {item("Undo", {{"AXMenuItemCmdChar", "Z"}, {"AXMenuItemCmdModifiers", 0}}),
           item("Redo",
                {{"AXMenuItemCmdChar", "Z"}, {"AXMenuItemCmdModifiers", 1}, {"AXEnabled", false}}),
           {{"AXRole", "AXMenuItem"}, {"AXTitle", "  "}},  // a separator
           {{"AXRole", "AXMenuItem"}},                     // untitled
           {{"AXRole", "AXStaticText"}, {"AXTitle", "Not an item"}},
           {{"AXTitle", "No role"}},
           item(" Spaced ", {{"AXEnabled", true}, {"AXMenuItemMarkChar", "✓"}}),
           item("Blank mark", {{"AXMenuItemMarkChar", " "}, {"errors", {{"AXEnabled", -25204}}}}),
           item("Odd/Path \"q\"", {{"AXMenuItemMarkChar", 1}, {"AXEnabled", "no"}})}),
  });
  RunResult r = runScene(scene, {"menus", "eDiT", "ignored"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            R"({"menu":"eDiT","items":[)"
            R"({"path":["eDiT","Undo"],"title":"Undo","shortcut":"cmd+z"},)"
            R"({"path":["eDiT","Redo"],"title":"Redo","shortcut":"cmd+shift+z","enabled":false},)"
            R"({"path":["eDiT"," Spaced "],"title":" Spaced ","mark":"✓"},)"
            R"({"path":["eDiT","Blank mark"],"title":"Blank mark"},)"
            R"({"path":["eDiT","Odd\/Path \"q\""],"title":"Odd\/Path \"q\""}]})");
  // The menu was populated, so nothing was pressed and nothing waited.
  EXPECT_EQ(r.count("AXUIElementPerformAction"), 0u);
  EXPECT_EQ(r.count("usleep"), 0u);
}

TEST(MenusItems, ShortcutTextForEveryModifierCombination) {
  const char* expected[16] = {
      "cmd+s",      "cmd+shift+s",      "cmd+alt+s",      "cmd+alt+shift+s",
      "cmd+ctrl+s", "cmd+ctrl+shift+s", "cmd+ctrl+alt+s", "cmd+ctrl+alt+shift+s",
      "s",          "shift+s",          "alt+s",          "alt+shift+s",
      "ctrl+s",     "ctrl+shift+s",     "ctrl+alt+s",     "ctrl+alt+shift+s"};
  json entries = json::array();
  for (int m = 0; m < 16; ++m) {
    entries.push_back(
        item(numbered("m", m), {{"AXMenuItemCmdChar", "S"}, {"AXMenuItemCmdModifiers", m}}));
  }
  // Bits above the four known ones are ignored.
  entries.push_back(
      item("high", {{"AXMenuItemCmdChar", "S"}, {"AXMenuItemCmdModifiers", 16 + 8 + 1}}));
  entries.push_back(item("real", {{"AXMenuItemCmdChar", "S"}, {"AXMenuItemCmdModifiers", 1.0}}));
  RunResult r = runScene(
      sceneWithBar({barItem("a", "A", json::array({item("x")})), barItem("k", "Keys", entries)}),
      {"menus", "Keys"});
  ASSERT_EQ(r.status, 0) << r.err;
  json out = r.outJson();
  ASSERT_EQ(out["items"].size(), 18u);
  for (int m = 0; m < 16; ++m)
    EXPECT_EQ(out["items"][m]["shortcut"], expected[m]) << "modifiers " << m;
  EXPECT_EQ(out["items"][16]["shortcut"], "shift+s");
  EXPECT_EQ(out["items"][17]["shortcut"], "cmd+shift+s");
}

TEST(MenusItems, ShortcutKeyTextFromCharacterOrVirtualKey) {
  struct Case {
    json attrs;
    json shortcut;  // null: no "shortcut" key
  };
  const std::vector<Case> cases = {
      {{{"AXMenuItemCmdChar", "N"}}, "cmd+n"},
      {{{"AXMenuItemCmdChar", "N"}, {"AXMenuItemCmdModifiers", 9}}, "shift+n"},
      {{{"AXMenuItemCmdModifiers", 2}}, nullptr},
      {{{"AXMenuItemCmdChar", " "}, {"AXMenuItemCmdVirtualKey", 36}}, "cmd+enter"},
      {{{"AXMenuItemCmdChar", ""}, {"AXMenuItemCmdVirtualKey", 0}}, "cmd+vk0"},
      {{{"AXMenuItemCmdModifiers", 8}, {"AXMenuItemCmdVirtualKey", 122}}, "f1"},
      {{{"AXMenuItemCmdModifiers", 15}, {"AXMenuItemCmdVirtualKey", 117}}, "ctrl+alt+shift+delete"},
      {{{"AXMenuItemCmdVirtualKey", 51}}, "cmd+backspace"},
      {{{"AXMenuItemCmdVirtualKey", 200}}, "cmd+vk200"},
      {{{"AXMenuItemCmdVirtualKey", "36"}}, nullptr},  // not a number
      {{{"AXMenuItemCmdChar", "Q"}, {"AXMenuItemCmdVirtualKey", 36}}, "cmd+q"},
      {{{"AXMenuItemCmdChar", "Ä"}}, "cmd+ä"},
      {{{"AXMenuItemCmdChar", "Σ"}, {"AXMenuItemCmdModifiers", 4}}, "cmd+ctrl+σ"},
      {{{"AXMenuItemCmdChar", " + "}}, "cmd+ + "},
      {{{"AXMenuItemCmdChar", 5}, {"AXMenuItemCmdVirtualKey", 49}}, "cmd+space"},
  };
  json entries = json::array();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    entries.push_back(item(numbered("i", i), cases[i].attrs));
  }
  RunResult r = runScene(
      sceneWithBar({barItem("a", "A", json::array({item("x")})), barItem("k", "Keys", entries)}),
      {"menus", "keys"});
  ASSERT_EQ(r.status, 0) << r.err;
  json out = r.outJson();
  ASSERT_EQ(out["items"].size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    if (cases[i].shortcut.is_null()) {
      EXPECT_FALSE(out["items"][i].contains("shortcut")) << i;
    } else {
      EXPECT_EQ(out["items"][i].value("shortcut", ""), cases[i].shortcut) << i;
    }
  }
}

TEST(MenusItems, SubmenuOfSeventyUnderTheFirstEntryAndTheSixtyRecordRule) {
  json sub = menu("sub-menu", items(70, "s"));
  json later = menu("later-menu", json::array({item("Deep", {{"id", "deep"}})}));
  json scene = sceneWithBar({
      barItem("apple", "App", json::array({item("About")})),
      barItem("format", "Format",
              {item("Sub", {{"AXChildren", json::array({sub})}}), item("Plain"),
               item("Later", {{"AXChildren", json::array({later})}}),
               item("EmptySub", {{"AXChildren", json::array({menu("empty", json::array())})}})}),
  });
  RunResult r = runScene(scene, {"menus", "format"});
  ASSERT_EQ(r.status, 0) << r.err;
  json out = r.outJson();
  ASSERT_EQ(out["items"].size(), 74u);
  EXPECT_EQ(out["items"][0],
            json({{"path", {"format", "Sub"}}, {"title", "Sub"}, {"submenu", true}}));
  for (int i = 1; i <= 70; ++i) {
    std::string t = numbered("s", i);
    EXPECT_EQ(out["items"][i], json({{"path", {"format", "Sub", t}}, {"title", t}}));
  }
  EXPECT_EQ(out["items"][71], json({{"path", {"format", "Plain"}}, {"title", "Plain"}}));
  // Past 60 records a submenu is still flagged but no longer entered.
  EXPECT_EQ(out["items"][72],
            json({{"path", {"format", "Later"}}, {"title", "Later"}, {"submenu", true}}));
  // An item whose first child has no children has no submenu.
  EXPECT_EQ(out["items"][73], json({{"path", {"format", "EmptySub"}}, {"title", "EmptySub"}}));
  // The submenu is looked at for the flag, but none of its entries is read.
  EXPECT_EQ(r.count("AXUIElementCopyAttributeValue", {{"element", "deep"}}), 0u);
}

TEST(MenusItems, SeventyTopItemsAndTheSixtiethRecordBoundary) {
  RunResult seventy = runScene(sceneWithBar({barItem("a", "A", json::array({item("x")})),
                                             barItem("m", "Many", items(70, "t"))}),
                               {"menus", "many"});
  ASSERT_EQ(seventy.status, 0) << seventy.err;
  EXPECT_EQ(seventy.outJson()["items"].size(), 70u);

  // With 59 records before it a submenu is still entered; with 60 it is not.
  for (int before : {58, 59}) {
    json entries = items(before, "t");
    entries.push_back(
        item("Sub", {{"AXChildren", json::array({menu("sm", {item("inner1"), item("inner2")})})}}));
    entries.push_back(
        item("Sub2", {{"AXChildren", json::array({menu("sm2", json::array({item("inner3")}))})}}));
    RunResult r = runScene(
        sceneWithBar({barItem("a", "A", json::array({item("x")})), barItem("m", "M", entries)}),
        {"menus", "M"});
    ASSERT_EQ(r.status, 0) << r.err;
    json out = r.outJson()["items"];
    if (before == 58) {
      // 58 + Sub = 59 records when Sub's submenu is entered; then 61 when Sub2 comes.
      ASSERT_EQ(out.size(), 62u);
      EXPECT_EQ(out[59]["title"], "inner1");
      EXPECT_EQ(out[61]["title"], "Sub2");
    } else {
      ASSERT_EQ(out.size(), 61u);
      EXPECT_EQ(out[59]["title"], "Sub");
      EXPECT_EQ(out[59]["submenu"], true);
      EXPECT_EQ(out[60]["title"], "Sub2");
    }
  }
}

TEST(MenusItems, ThirdLevelSubmenuIsFlaggedButNotListed) {
  json level3 = menu(
      "l3",
      json::array({item(
          "L3a", {{"AXChildren",
                   json::array({menu("l4", json::array({item("L4", {{"id", "l4item"}})}))})}})}));
  json level2 = menu("l2", json::array({item("L2", {{"AXChildren", json::array({level3})}})}));
  json scene = sceneWithBar(
      {barItem("a", "A", json::array({item("x")})),
       barItem("v", "View", json::array({item("L1", {{"AXChildren", json::array({level2})}})}))});
  RunResult r = runScene(scene, {"menus", "View"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, R"({"menu":"View","items":[{"path":["View","L1"],"title":"L1","submenu":true},)"
                   R"({"path":["View","L1","L2"],"title":"L2","submenu":true},)"
                   R"({"path":["View","L1","L2","L3a"],"title":"L3a","submenu":true}]})");
  EXPECT_EQ(r.count("AXUIElementCopyAttributeValue", {{"element", "l4item"}}), 0u);
}

TEST(MenusItems, FirstBarChildIsReachableByTitleAndTitlesMatchWholly) {
  RunResult r = runScene(standardBar(), {"menus", "EDITOR"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(
      r.out,
      R"({"menu":"EDITOR","items":[{"path":["EDITOR","About Editor"],"title":"About Editor"},)"
      R"({"path":["EDITOR","Quit Editor"],"title":"Quit Editor"}]})");

  for (std::string word : {"1", "Edi", "Edit ", " Edit", "Editors"}) {
    RunResult miss = runScene(standardBar(), {"menus", word});
    EXPECT_EQ(miss.status, 5) << word;
    EXPECT_EQ(miss.out, "");
    EXPECT_EQ(miss.err, "uiglean: no menu titled \"" + word + "\"\n");
  }
}

TEST(MenusItems, AFailureIsOneLineWhateverTheTitleHolds) {
  RunResult r = runScene(standardBar(), {"menus", "View\nuiglean: forged\r\x1b[2K"});
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.err, "uiglean: no menu titled \"View\\nuiglean: forged\\u000d\\u001b[2K\"\n");
  r = runScene(standardBar(), {"menus", "\xC2\x85\xFF"});
  EXPECT_EQ(r.err, "uiglean: no menu titled \"\\u0085\xEF\xBF\xBD\"\n");
}

TEST(MenusItems, NonAsciiTitlesMatchIgnoringCase) {
  json scene = sceneWithBar({barItem("a", "A", json::array({item("x")})),
                             barItem("bearb", "Ärger", json::array({item("Straße")})),
                             barItem("pravka", "Правка", json::array({item("Вставить")}))});
  RunResult de = runScene(scene, {"menus", "äRGER"});
  ASSERT_EQ(de.status, 0) << de.err;
  EXPECT_EQ(de.out, R"({"menu":"äRGER","items":[{"path":["äRGER","Straße"],"title":"Straße"}]})");
  RunResult ru = runScene(scene, {"menus", "ПРАВКА"});
  ASSERT_EQ(ru.status, 0) << ru.err;
  EXPECT_EQ(ru.outJson()["items"][0]["title"], "Вставить");
  // Containment is not enough for a menu title.
  EXPECT_EQ(runScene(scene, {"menus", "ПРАВ"}).status, 5);
}

TEST(MenusItems, FirstOfTwoEqualTitlesWins) {
  json scene = sceneWithBar({barItem("a", "A", json::array({item("x")})),
                             barItem("one", "Tools", json::array({item("First")})),
                             barItem("two", "TOOLS", json::array({item("Second")}))});
  RunResult r = runScene(scene, {"menus", "tools"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.outJson()["items"][0]["title"], "First");
}

// A menu that had to be pressed open to be read is closed again once read: left open, it would
// hold the application's input.
TEST(MenusItems, EmptyMenuIsPressedOpenOnceAndClosedAfterTheReading) {
  json bar = barItem("hist", "History", json::array());
  bar["on"] = {{"AXPress",
                {{{"setAttr",
                   {{"element", "hist-menu"},
                    {"attr", "AXChildren"},
                    {"value", {item("Back"), item("Forward")}}}}}}}};
  RunResult r = runScene(sceneWithBar({barItem("a", "A", json::array({item("x")})), bar}),
                         {"menus", "history"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, R"({"menu":"history","items":[{"path":["history","Back"],"title":"Back"},)"
                   R"({"path":["history","Forward"],"title":"Forward"}]})");
  EXPECT_EQ(r.count("AXUIElementPerformAction", {{"element", "hist"}, {"action", "AXPress"}}), 1u);
  EXPECT_EQ(r.count("AXUIElementPerformAction", {{"element", "hist"}, {"action", "AXCancel"}}), 1u);
  EXPECT_EQ(cancels(r), 1u);
  ASSERT_EQ(r.count("usleep"), 1u);
  EXPECT_EQ(r.calls("usleep")[0]["micros"], 200000);
  EXPECT_LT(r.indexOf("AXUIElementPerformAction"), r.indexOf("usleep"));
}

TEST(MenusItems, MenuThatStaysEmptyIsCancelledAndGivesNoItems) {
  RunResult r = runScene(sceneWithBar({barItem("a", "A", json::array({item("x")})),
                                       barItem("e", "Empty", json::array())}),
                         {"menus", "Empty"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, R"({"menu":"Empty","items":[]})");
  EXPECT_EQ(r.count("AXUIElementPerformAction", {{"element", "e"}, {"action", "AXPress"}}), 1u);
  EXPECT_EQ(r.count("AXUIElementPerformAction", {{"element", "e"}, {"action", "AXCancel"}}), 1u);

  // A bar item without any child is not pressed at all.
  RunResult bare = runScene(sceneWithBar({barItem("a", "A", json::array({item("x")})),
                                          {{"id", "w"}, {"AXTitle", "Window"}}}),
                            {"menus", "window"});
  ASSERT_EQ(bare.status, 0) << bare.err;
  EXPECT_EQ(bare.out, R"({"menu":"window","items":[]})");
  EXPECT_EQ(bare.count("AXUIElementPerformAction"), 0u);
}

// ---------------------------------------------------------------------------------------------
// menuclick.

json clickScene() {
  json sub = menu("recent-menu", {item("Notes.txt", {{"id", "notes"}}),
                                  item("Off", {{"id", "off"}, {"AXEnabled", false}})});
  json scene = sceneWithBar({
      barItem("apple", "Editor", json::array({item("About Editor", {{"id", "about"}})})),
      barItem("file", "File",
              {item("New Window", {{"id", "newwin"}}),
               item("Open Recent",
                    {{"id", "recent"}, {"AXEnabled", false}, {"AXChildren", json::array({sub})}}),
               item("Save", {{"id", "save"}, {"AXEnabled", false}}),
               item("Broken", {{"id", "broken"}, {"perform", {{"AXPress", -25204}}}}),
               item("", {{"id", "untitled"}}),
               {{"id", "sep"}, {"AXRole", "AXMenuItem"}},
               item("Plain", {{"id", "plain"}})}),
  });
  return scene;
}

TEST(MenuClick, ArgumentChecksComeFirst) {
  json scene = clickScene();
  scene["frontmost"] = nullptr;
  for (std::vector<std::string> a :
       {std::vector<std::string>{"menuclick"}, std::vector<std::string>{"menuclick", "File"}}) {
    RunResult r = runScene(scene, a);
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "uiglean: menuclick needs at least a menu and an item title\n");
  }
  RunResult r = runScene(scene, {"menuclick", "File", "New Window"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "uiglean: no frontmost app\n");
}

TEST(MenuClick, PressesTheItemIgnoringCase) {
  RunResult r = runScene(clickScene(), {"menuclick", "file", "new window"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, R"({"ok":true})");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.count("AXUIElementPerformAction", {{"element", "newwin"}, {"action", "AXPress"}}),
            1u);
  EXPECT_EQ(r.count("AXUIElementPerformAction"), 1u);
  long timeout = r.indexOf("AXUIElementSetMessagingTimeout", {{"seconds", 8.0}});
  ASSERT_GE(timeout, 0);
  EXPECT_LT(timeout, r.indexOf("AXUIElementCopyAttributeValue"));
}

TEST(MenuClick, FirstBarChildCanBeChosen) {
  RunResult r = runScene(clickScene(), {"menuclick", "EDITOR", "about editor"});
  EXPECT_EQ(r.out, R"({"ok":true})");
  EXPECT_EQ(r.count("AXUIElementPerformAction", {{"element", "about"}}), 1u);
}

TEST(MenuClick, SubmenuPathPressesTheWayWaitsAndIgnoresDisabledOnTheWay) {
  RunResult r = runScene(clickScene(), {"menuclick", "File", "Open Recent", "notes.TXT"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, R"({"ok":true})");
  long pressRecent =
      r.indexOf("AXUIElementPerformAction", {{"element", "recent"}, {"action", "AXPress"}});
  long sleep = r.indexOf("usleep", {{"micros", 200000}});
  long pressNotes =
      r.indexOf("AXUIElementPerformAction", {{"element", "notes"}, {"action", "AXPress"}});
  ASSERT_GE(pressRecent, 0);
  EXPECT_LT(pressRecent, sleep);
  EXPECT_LT(sleep, pressNotes);
  EXPECT_EQ(r.count("usleep"), 1u);
  EXPECT_EQ(cancels(r), 0u);
}

TEST(MenuClick, EverySoftFailureCancelsOnceThroughTheBarItem) {
  struct Case {
    std::vector<std::string> args;
    std::string error;
    std::size_t cancels;
  };
  const std::vector<Case> cases = {
      {{"Fil", "New Window"}, R"(no menu titled "Fil")", 0},
      {{"File ", "New Window"}, R"(no menu titled "File ")", 0},
      {{"File", "New"}, R"(no item "New" at depth 1)", 1},
      {{"File", "New Window "}, R"(no item "New Window " at depth 1)", 1},
      {{"File", "Open Recent", "Missing"}, R"(no item "Missing" at depth 2)", 1},
      {{"File", "Plain", "Anything"}, "could not resolve the menu path", 1},
      {{"File", "SAVE"}, R"("SAVE" is disabled right now)", 1},
      {{"File", "Open Recent", "off"}, R"("off" is disabled right now)", 1},
      {{"File", "Broken"}, "AXPress failed (-25204)", 1},
  };
  for (const auto& c : cases) {
    std::vector<std::string> a = {"menuclick"};
    a.insert(a.end(), c.args.begin(), c.args.end());
    RunResult r = runScene(clickScene(), a);
    EXPECT_EQ(r.status, 0) << c.error;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind(R"({"ok":false,"error":")", 0), 0u) << r.out;
    EXPECT_EQ(r.outJson(), json({{"ok", false}, {"error", c.error}}));
    EXPECT_EQ(cancels(r), c.cancels) << c.error;
    if (c.cancels) {
      EXPECT_EQ(r.count("AXUIElementPerformAction", {{"element", "file"}, {"action", "AXCancel"}}),
                1u);
    }
  }
}

TEST(MenuClick, DisabledFinalItemIsNotPressed) {
  RunResult r = runScene(clickScene(), {"menuclick", "File", "save"});
  EXPECT_EQ(r.out, R"({"ok":false,"error":"\"save\" is disabled right now"})");
  EXPECT_EQ(r.count("AXUIElementPerformAction", {{"element", "save"}}), 0u);
}

TEST(MenuClick, EmptyLastWordMatchesTheUntitledEntry) {
  RunResult r = runScene(clickScene(), {"menuclick", "File", ""});
  EXPECT_EQ(r.out, R"({"ok":true})");
  EXPECT_EQ(r.count("AXUIElementPerformAction", {{"element", "untitled"}, {"action", "AXPress"}}),
            1u);
}

TEST(MenuClick, EmptyMenuIsCancelledTwice) {
  // The menu stays empty after the press: openedMenu cancels, then the missing item cancels again.
  json scene = sceneWithBar(
      {barItem("a", "A", json::array({item("x")})), barItem("e", "Empty", json::array())});
  RunResult r = runScene(scene, {"menuclick", "Empty", "Anything"});
  EXPECT_EQ(r.out, R"({"ok":false,"error":"no item \"Anything\" at depth 1"})");
  EXPECT_EQ(r.count("AXUIElementPerformAction", {{"element", "e"}, {"action", "AXCancel"}}), 2u);
  EXPECT_EQ(r.count("usleep", {{"micros", 200000}}), 1u);

  // The press takes the menu away altogether: the path cannot be resolved, again two cancels.
  json gone = barItem("g", "Gone", json::array());
  gone["on"] = {{"AXPress", {{{"removeAttr", {{"element", "g"}, {"attr", "AXChildren"}}}}}}};
  RunResult r2 = runScene(sceneWithBar({barItem("a", "A", json::array({item("x")})), gone}),
                          {"menuclick", "gone", "x"});
  EXPECT_EQ(r2.out, R"({"ok":false,"error":"could not resolve the menu path"})");
  EXPECT_EQ(r2.count("AXUIElementPerformAction", {{"element", "g"}, {"action", "AXCancel"}}), 2u);

  // A bar item without children: nothing is pressed, one cancel.
  RunResult r3 = runScene(sceneWithBar({barItem("a", "A", json::array({item("x")})),
                                        {{"id", "w"}, {"AXTitle", "Window"}}}),
                          {"menuclick", "Window", "x"});
  EXPECT_EQ(r3.out, R"({"ok":false,"error":"could not resolve the menu path"})");
  EXPECT_EQ(r3.count("AXUIElementPerformAction", {{"element", "w"}, {"action", "AXPress"}}), 0u);
  EXPECT_EQ(r3.count("AXUIElementPerformAction", {{"element", "w"}, {"action", "AXCancel"}}), 1u);
}

TEST(MenuClick, EntriesPastTheNinetySixthChildAreNotFound) {
  json entries = items(100, "e");
  RunResult found = runScene(
      sceneWithBar({barItem("a", "A", json::array({item("x")})), barItem("m", "M", entries)}),
      {"menuclick", "M", "e96"});
  EXPECT_EQ(found.out, R"({"ok":true})");
  RunResult missed = runScene(
      sceneWithBar({barItem("a", "A", json::array({item("x")})), barItem("m", "M", entries)}),
      {"menuclick", "M", "e97"});
  EXPECT_EQ(missed.out, R"({"ok":false,"error":"no item \"e97\" at depth 1"})");
}

}  // namespace

namespace {

// The example scene of the README gives the outputs that the README shows.
TEST(MenusExample, ReadmeScene) {
  std::string scene = testing_harness::readFile(testing_harness::dataPath("menus_example.json"));
  ASSERT_FALSE(scene.empty());
  RunResult bar = testing_harness::runSceneText(scene, {"menus"});
  EXPECT_EQ(
      bar.out,
      R"({"menus":[{"index":1,"title":"File","count":4},{"index":2,"title":"Format","count":4}]})");
  RunResult format = testing_harness::runSceneText(scene, {"menus", "format"});
  EXPECT_EQ(
      format.out,
      R"({"menu":"format","items":[{"path":["format","Wrap to Window"],"title":"Wrap to Window","mark":"✓"},)"
      R"({"path":["format","Show Fonts"],"title":"Show Fonts","shortcut":"cmd+t"},)"
      R"({"path":["format","Full Screen"],"title":"Full Screen","shortcut":"ctrl+f"},)"
      R"({"path":["format","Help Viewer"],"title":"Help Viewer","shortcut":"f1"}]})");
  EXPECT_EQ(
      testing_harness::runSceneText(scene, {"menuclick", "File", "Open Recent", "notes.txt"}).out,
      R"({"ok":true})");
}

}  // namespace
