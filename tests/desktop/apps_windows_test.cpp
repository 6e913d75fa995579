// Applications, windows and the desktop overview on a real desktop: activate (running, launched
// from a .desktop file, unknown), windows and focuswindow, world with two monitors, a minimized
// window and a window on another virtual desktop.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "tests/desktop/desktop_harness.h"

namespace desktop_tests {
namespace {

const auto* const desktop = ::testing::AddGlobalTestEnvironment(new Desktop);

RunResult run(const std::vector<std::string>& argv) {
  return testing_harness::runProgram(argv[0], {argv.begin() + 1, argv.end()}, {});
}

// The window the window manager says is active (xprop's answer), as a decimal XID.
long activeWindowId() {
  RunResult r = run({"/usr/bin/xprop", "-root", "_NET_ACTIVE_WINDOW"});
  auto hash = r.out.find("# ");
  if (hash == std::string::npos) return -1;
  return std::strtol(r.out.c_str() + hash + 2, nullptr, 16);
}

// Writes a .desktop file into the private desktop's XDG_DATA_HOME/applications.
std::string installDesktopFile(const std::string& id, const std::string& body) {
  std::string dir = std::string(::getenv("XDG_DATA_HOME")) + "/applications";
  ::mkdir(dir.c_str(), 0755);
  std::string path = dir + "/" + id + ".desktop";
  std::ofstream(path) << body;
  return path;
}

// The pid of the process whose window is titled `title`, from the desktop overview.
long pidOfWindow(const std::string& title) {
  json world = uiglean({"world"}).outJson();
  for (const auto& w : world["windows"]) {
    if (w["title"] == title) return w["pid"].get<long>();
  }
  return 0;
}

class GtkApp : public DesktopApp {
 protected:
  void SetUp() override { start("uiglean-gtk-app", {}, "Say Hello"); }
};

TEST_F(GtkApp, FocusWindowByIndexAndTitleMakesItActive) {
  ASSERT_EQ(uiglean({"menuclick", "File", "New Window"}).out, "{\"ok\":true}");
  json windows = windowsWhenThereAre(2);
  ASSERT_EQ(windows["windows"].size(), 2U) << windows.dump();
  EXPECT_EQ(windows["windows"][1]["title"], "Second Window");

  json world = uiglean({"world"}).outJson();
  long first = 0, second = 0;
  for (const auto& w : world["windows"]) {
    if (w["title"] == "uiglean test") first = w["windowId"].get<long>();
    if (w["title"] == "Second Window") second = w["windowId"].get<long>();
    EXPECT_EQ(w["pid"], pid);
  }
  ASSERT_NE(first, 0);
  ASSERT_NE(second, 0);

  EXPECT_EQ(uiglean({"focuswindow", "0"}).out, "{\"ok\":true}");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(activeWindowId(), first);
  EXPECT_EQ(uiglean({"windows"}).outJson()["windows"][0].value("main", false), true);

  EXPECT_EQ(uiglean({"focuswindow", "second"}).out, "{\"ok\":true}");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(activeWindowId(), second);

  EXPECT_EQ(uiglean({"focuswindow", "Preferences"}).out,
            "{\"ok\":false,\"error\":\"no window matching \\\"Preferences\\\"\"}");
}

TEST_F(GtkApp, ActivateARunningApplicationByItsIdAndName) {
  // Something else in front first: a second application.
  pid_t other = spawnQuiet({testing_harness::binaryPath("uiglean-gtk-app"), "--title", "Other"});
  ASSERT_GT(other, 0);
  for (int i = 0; i < 50 && uiglean({"tree"}).out.find("\"pid\":" + std::to_string(other)) ==
                                std::string::npos;
       ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  // Both have the same desktop-file ID; the earlier one in the system's list (lower pid) wins.
  EXPECT_EQ(uiglean({"activate", "org.uiglean.TestApp"}).out, "{\"ok\":true}");
  EXPECT_EQ(uiglean({"activate", "UIGLEAN-GTK"}).out, "{\"ok\":true}");  // part of the name
  RunResult unknown = uiglean({"activate", "No Such Application"});
  EXPECT_EQ(unknown.status, 0);
  EXPECT_EQ(unknown.out,
            "{\"ok\":false,\"error\":\"no app matching \\\"No Such Application\\\" is running or "
            "installed\"}");
  endProcess(other);
}

// xterm has no accessibility at all: it is still an application with a window, listed, read as
// far as the window server tells (title and frame, no contents), activated and raised.
TEST_F(GtkApp, AnApplicationWithoutAccessibilityHasItsWindowsAllTheSame) {
  if (!installed("/usr/bin/xterm")) GTEST_SKIP() << "xterm is not installed";
  pid_t xterm = spawnQuiet({"/usr/bin/xterm", "-title", "Plain Window", "-e", "sleep", "600"});
  ASSERT_GT(xterm, 0);
  long xid = 0;
  json world;
  for (int i = 0; i < 50 && xid == 0; ++i) {
    world = uiglean({"world"}).outJson();
    for (const auto& w : world["windows"]) {
      if (w["title"] == "Plain Window") xid = w["windowId"].get<long>();
    }
    if (xid == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_NE(xid, 0) << world.dump();

  // Its own activation comes to the front, and the front application is read.
  RunResult activated = uiglean({"activate", "xterm"});
  EXPECT_EQ(activated.out, "{\"ok\":true}") << activated.err;
  EXPECT_EQ(activeWindowId(), xid);
  json tree = treeOf();
  EXPECT_EQ(tree["app"], "xterm") << tree.dump();
  EXPECT_EQ(tree["pid"], xterm);
  ASSERT_EQ(tree["windows"].size(), 1U) << tree.dump();
  const json& window = tree["windows"][0];
  EXPECT_EQ(window["role"], "AXWindow");
  EXPECT_EQ(window["title"], "Plain Window");
  EXPECT_EQ(window["ref"], "w0");
  EXPECT_GT(window["frame"][2].get<double>(), 50);
  EXPECT_TRUE(window["children"].empty());
  json windows = uiglean({"windows"}).outJson();
  ASSERT_EQ(windows["windows"].size(), 1U) << windows.dump();
  EXPECT_EQ(windows["windows"][0]["title"], "Plain Window");
  EXPECT_EQ(windows["windows"][0].value("main", false), true);
  EXPECT_EQ(uiglean({"menus"}).out, "{\"menus\":[]}");
  // Nothing of it can be watched: never a settle that pretends to have seen quiet.
  EXPECT_EQ(uiglean({"settle", "100", "500"}).outJson().value("settled", true), false);

  // Away and back: focuswindow raises it through the window manager.
  EXPECT_EQ(uiglean({"activate", "uiglean-gtk-app"}).out, "{\"ok\":true}");
  EXPECT_NE(activeWindowId(), xid);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(uiglean({"activate", "xterm"}).out, "{\"ok\":true}");
  EXPECT_EQ(uiglean({"focuswindow", "plain"}).out, "{\"ok\":true}");
  EXPECT_EQ(activeWindowId(), xid);
  endProcess(xterm);
}

TEST(Launch, ActivateLaunchesFromADesktopFileWithoutAShell) {
  std::string app = testing_harness::binaryPath("uiglean-gtk-app");
  std::string marker = testing_harness::tempDir() + "/pwned";
  std::string log = testing_harness::tempDir() + "/launched.log";
  // Quoting, escapes, field codes and shell metacharacters: the title must arrive as one
  // argument, exactly, and nothing else may run.
  installDesktopFile("org.uiglean.TestApp",
                     "[Desktop Entry]\nType=Application\nName=Quoting Test\n"
                     "Exec=\"" + app + "\" --log " + log +
                         " --title \"a; touch " + marker + " \\\\$(id) \\\\`id\\\\` 100%%\" %U %f\n");
  installDesktopFile("org.example.Hidden",
                     "[Desktop Entry]\nType=Application\nName=Hidden Test\nNoDisplay=true\n"
                     "Exec=" + app + "\n");

  // Not running: launched, and it comes to the front under that desktop-file ID.
  RunResult r = uiglean({"activate", "org.uiglean.TestApp"});
  EXPECT_EQ(r.out, "{\"ok\":true}") << r.err;
  std::string title = "a; touch " + marker + " $(id) `id` 100%";
  long launched = 0;
  for (int i = 0; i < 50 && launched == 0; ++i) {
    launched = pidOfWindow(title);
    if (launched == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_GT(launched, 0) << uiglean({"world"}).out;
  EXPECT_NE(::access(marker.c_str(), F_OK), 0) << "a shell ran the Exec line";
  // It runs in a session of its own, not in ours.
  if (launched > 0) {
    EXPECT_NE(::getsid(static_cast<pid_t>(launched)), ::getsid(0));
    ::kill(static_cast<pid_t>(launched), SIGTERM);
  }

  // By its Name= too, ignoring case; a NoDisplay entry is not launchable.
  RunResult hidden = uiglean({"activate", "hidden test"});
  EXPECT_EQ(hidden.out,
            "{\"ok\":false,\"error\":\"no app matching \\\"hidden test\\\" is running or "
            "installed\"}");
}

// An application nobody here wrote, behind ours: activated by its name, then found in the
// overview under its own pid and the application id GTK gives its windows.
TEST_F(GtkApp, ADebianApplicationIsActivatedByNameAndShownInTheOverview) {
  pid_t factory = spawnQuiet({"/usr/bin/gtk3-widget-factory"});
  ASSERT_GT(factory, 0);
  json world;
  const json* found = nullptr;
  for (int i = 0; i < 100 && found == nullptr; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    world = uiglean({"world"}).outJson();
    for (const auto& w : world["windows"]) {
      if (w["pid"] == factory) found = &w;
    }
  }
  ASSERT_NE(found, nullptr) << world.dump();
  EXPECT_EQ((*found)["app"], "gtk3-widget-factory");
  // Its desktop-file ID (its window class), not the application id GTK gives its windows.
  EXPECT_EQ((*found)["bundleId"], "gtk3-widget-factory");
  // Ours back in front, then the factory by its name.
  EXPECT_EQ(uiglean({"activate", "uiglean-gtk-app"}).out, "{\"ok\":true}");
  EXPECT_EQ(uiglean({"tree"}).outJson()["pid"], pid);
  EXPECT_EQ(uiglean({"activate", "gtk3-widget-factory"}).out, "{\"ok\":true}");
  EXPECT_EQ(uiglean({"tree"}).outJson()["pid"], factory);
  world = uiglean({"world"}).outJson();
  EXPECT_EQ(world["frontApp"], "gtk3-widget-factory");
  endProcess(factory);
}

TEST_F(GtkApp, WorldSeesTwoMonitorsAMinimizedWindowAndOneOnAnotherDesktop) {
  ASSERT_EQ(uiglean({"menuclick", "File", "New Window"}).out, "{\"ok\":true}");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  // Two monitors side by side on the one screen.
  RunResult left = run({"/usr/bin/xrandr", "--setmonitor", "left", "640/0x1024/0+0+0", "screen"});
  RunResult right = run({"/usr/bin/xrandr", "--setmonitor", "right", "640/0x1024/0+640+0", "none"});
  ASSERT_EQ(left.status, 0) << left.err;
  ASSERT_EQ(right.status, 0) << right.err;

  json world = uiglean({"world"}).outJson();
  long main = 0, second = 0;
  for (const auto& w : world["windows"]) {
    if (w["title"] == "uiglean test") main = w["windowId"].get<long>();
    if (w["title"] == "Second Window") second = w["windowId"].get<long>();
  }
  ASSERT_NE(main, 0) << world.dump();
  ASSERT_NE(second, 0) << world.dump();
  ASSERT_EQ(world["displays"].size(), 2U) << world.dump();
  EXPECT_EQ(world["displays"][0]["frame"], json::array({0, 0, 640, 1024}));
  EXPECT_EQ(world["displays"][1]["frame"], json::array({640, 0, 640, 1024}));

  run({"/usr/bin/xdotool", "set_num_desktops", "2"});
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  run({"/usr/bin/xdotool", "windowminimize", std::to_string(main)});
  run({"/usr/bin/xdotool", "set_desktop_for_window", std::to_string(second), "1"});
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  world = uiglean({"world"}).outJson();
  run({"/usr/bin/xrandr", "--delmonitor", "left"});
  run({"/usr/bin/xrandr", "--delmonitor", "right"});
  std::string mainState, secondState;
  for (const auto& w : world["windows"]) {
    EXPECT_EQ(w["pid"], pid);
    if (w["title"] == "uiglean test") {
      mainState = w["state"];
      EXPECT_EQ(w.value("minimized", false), true);
    }
    if (w["title"] == "Second Window") secondState = w["state"];
  }
  EXPECT_EQ(mainState, "minimized") << world.dump();
  EXPECT_EQ(secondState, "minimized-or-other-space") << world.dump();
}

// The text recognizer on a screenshot of the application's window: the labels the accessibility
// tree shows are read at the places it gives them.
TEST_F(GtkApp, OcrOfTheWindowFindsItsLabelsWhereTheTreeSaysTheyAre) {
  long window = activeWindowId();
  ASSERT_GT(window, 0);
  std::string shot = testing_harness::tempDir() + "/window.png";
  RunResult grab = run({"/usr/bin/import", "-window", std::to_string(window), shot});
  ASSERT_EQ(grab.status, 0) << grab.err;
  // The client area's origin on the screen (the screenshot leaves the frame out).
  RunResult info = run({"/usr/bin/xwininfo", "-id", std::to_string(window)});
  auto number = [&](const std::string& key) {
    auto at = info.out.find(key);
    return at == std::string::npos ? -1.0 : std::strtod(info.out.c_str() + at + key.size(), nullptr);
  };
  double originX = number("Absolute upper-left X:"), originY = number("Absolute upper-left Y:");
  ASSERT_GE(originX, 0) << info.out;

  RunResult ocr = uiglean({"ocr", shot});
  ASSERT_EQ(ocr.status, 0) << ocr.err;
  json lines = ocr.outJson()["lines"];
  json tree = treeOf();
  auto lower = [](std::string t) {
    for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return t;
  };
  struct Expected {
    const char* role;
    const char* text;
    bool isTitle;
  };
  for (const Expected& e : {Expected{"AXStaticText", "Status: idle", false},
                            Expected{"AXButton", "Say Hello", true},
                            Expected{"AXButton", "Remove Me", true},
                            Expected{"AXButton", "Open Dialog", true}}) {
    const json* node = findIn(tree, [&](const json& n) {
      return n["role"] == e.role && n.value(e.isTitle ? "title" : "value", "") == e.text;
    });
    ASSERT_NE(node, nullptr) << e.text;
    double x = (*node)["frame"][0].get<double>() - originX;
    double y = (*node)["frame"][1].get<double>() - originY;
    double w = (*node)["frame"][2].get<double>(), h = (*node)["frame"][3].get<double>();
    bool found = false;
    for (const auto& line : lines) {
      if (lower(line["text"]).find(lower(e.text)) == std::string::npos) continue;
      const auto& b = line["box"];
      double bx = b[0].get<double>(), by = b[1].get<double>();
      double bw = b[2].get<double>(), bh = b[3].get<double>();
      // The line (which may hold neighbouring labels too) crosses the element's rectangle.
      if (bx < x + w && x < bx + bw && by < y + h && y < by + bh) found = true;
    }
    EXPECT_TRUE(found) << e.text << " at " << x << "," << y << " not in " << lines.dump();
  }
}

}  // namespace
}  // namespace desktop_tests
