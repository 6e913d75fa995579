// key, type, click, scroll and screenshot on a real desktop: what each one's events do to our
// GTK 3 test application, seen in its log and in the next snapshot, and a screenshot that the
// text recognizer reads back.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/desktop/desktop_harness.h"

namespace desktop_tests {
namespace {

const auto* const desktop = ::testing::AddGlobalTestEnvironment(new Desktop);

class GtkInput : public DesktopApp {
 protected:
  void SetUp() override { start("uiglean-gtk-app", {}, "Say Hello"); }
};

std::function<bool(const json&)> named(const std::string& title) {
  return [title](const json& n) { return n.value("title", "") == title; };
}

std::string centreOf(const json& node) {
  const json& f = node["frame"];
  double x = f[0].get<double>() + f[2].get<double>() / 2;
  double y = f[1].get<double>() + f[3].get<double>() / 2;
  return std::to_string(static_cast<int>(x)) + "," + std::to_string(static_cast<int>(y));
}

TEST_F(GtkInput, AShortcutThatMenusListsTriggersItsItem) {
  json file = uiglean({"menus", "File"}).outJson();
  std::string shortcut;
  for (const auto& item : file["items"]) {
    if (item["title"] == "New") shortcut = item.value("shortcut", "");
  }
  ASSERT_EQ(shortcut, "ctrl+n");
  RunResult r = uiglean({"key", shortcut});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, R"({"ok":true,"keys":["ctrl+n"]})");
  EXPECT_TRUE(logShows("menu New")) << log();
  // A function key and a chord with shift, in one run.
  r = uiglean({"key", "F5", "<Control><Shift>n"});
  EXPECT_EQ(r.out, R"({"ok":true,"keys":["f5","ctrl+shift+n"]})");
  EXPECT_TRUE(logShows("menu Refresh")) << log();
  EXPECT_TRUE(logShows("window Second Window opened")) << log();
}

TEST_F(GtkInput, TypedTextArrivesInTheFocusedField) {
  json tree = treeOf();
  std::string name = refOf(tree, titled("AXTextField", "Name"));
  ASSERT_FALSE(name.empty());
  ASSERT_EQ(uiglean({"focus", name}).out, R"({"ok":true})");
  // Characters on the keyboard map and beyond it (bound to spare keys for the typing).
  RunResult r = uiglean({"type", "Ada ß→"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, R"({"ok":true})");
  EXPECT_TRUE(logShows("entry Name=Ada ß→")) << log();
  // Keys edit it: select all and type over it.
  EXPECT_EQ(uiglean({"key", "ctrl+a"}).status, 0);
  EXPECT_EQ(uiglean({"type", "Grace"}).out, R"({"ok":true})");
  EXPECT_TRUE(logShows("entry Name=Grace")) << log();
  json after = treeOf();
  const json* field = findIn(after, titled("AXTextField", "Name"));
  ASSERT_NE(field, nullptr);
  EXPECT_EQ((*field)["value"], "Grace");
}

TEST_F(GtkInput, ClicksAtARefAndAtItsCoordinatesPressTheButton) {
  json tree = treeOf();
  const json* hello = findIn(tree, titled("AXButton", "Say Hello"));
  ASSERT_NE(hello, nullptr);
  RunResult r = uiglean({"click", (*hello)["ref"].get<std::string>()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.outJson()["ok"], true);
  EXPECT_TRUE(logShows("status Hello pressed 1") || logShows("button Say Hello")) << log();
  r = uiglean({"click", centreOf(*hello)});
  EXPECT_EQ(r.outJson()["ok"], true) << r.out;
  EXPECT_TRUE(logShows("Hello pressed 2")) << log();
  EXPECT_NE(findIn(treeOf(), [](const json& n) { return n.value("value", "") == "Hello pressed 2"; }),
            nullptr);
  // Off the screen: refused with the reason, nothing clicked.
  r = uiglean({"click", "-5,-5"});
  EXPECT_EQ(r.outJson()["ok"], false);
  EXPECT_NE(r.outJson()["error"].get<std::string>().find("off the screen"), std::string::npos);
}

TEST_F(GtkInput, TheWheelOverTheSpinButtonChangesItsValue) {
  json tree = treeOf();
  std::string count = refOf(tree, named("Count"));
  ASSERT_FALSE(count.empty());
  RunResult r = uiglean({"scroll", count, "-2"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.outJson()["ok"], true) << r.out;
  EXPECT_TRUE(logShows("spin Count=3")) << log();
  r = uiglean({"scroll", count, "3"});
  EXPECT_TRUE(logShows("spin Count=0")) << log();
}

TEST_F(GtkInput, AScreenshotOfTheWindowDecodesWithItsSizeAndReadsItsLabels) {
  json tree = treeOf();
  const json& frame = tree["windows"][0]["frame"];
  std::string path = testing_harness::tempDir() + "/window.png";
  RunResult r = uiglean({"screenshot", path, "ocr"});
  ASSERT_EQ(r.status, 0) << r.err;
  json shot = r.outJson();
  EXPECT_EQ(shot["ok"], true);
  EXPECT_EQ(shot["w"], static_cast<int>(frame[2].get<double>()));
  EXPECT_EQ(shot["h"], static_cast<int>(frame[3].get<double>()));
  // A button's label (one that no focus ring is drawn around).
  bool sawLabel = false;
  for (const auto& line : shot["lines"]) sawLabel = sawLabel || line["text"] == "Open Dialog";
  EXPECT_TRUE(sawLabel) << r.out;

  // The file is a picture that decodes on its own, with the same size and text.
  json read = uiglean({"ocr", path}).outJson();
  EXPECT_EQ(read["w"], shot["w"]);
  EXPECT_EQ(read["h"], shot["h"]);
  EXPECT_NE(read.dump().find("Open Dialog"), std::string::npos);

  // A whole display.
  json world = uiglean({"world"}).outJson();
  ASSERT_FALSE(world["displays"].empty());
  const json& display = world["displays"][0];
  r = uiglean({"screenshot", "-", "display", std::to_string(display["id"].get<int>())});
  json whole = r.outJson();
  EXPECT_EQ(whole["w"], static_cast<int>(display["frame"][2].get<double>())) << r.out.substr(0, 200);
  EXPECT_GT(whole["png"].get<std::string>().size(), 1000U);
}

}  // namespace
}  // namespace desktop_tests
