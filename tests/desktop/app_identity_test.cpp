// Which application is which, on Debian applications started as a user starts them: through their
// .desktop files, by "activate". Every name a user may type for a running application (its visible
// name, its desktop-file ID, the bundle identifier the snapshot reported) brings that application
// to the front and starts nothing: each test counts the application's processes and windows on
// this desktop before and after, and ends the processes it had started.
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <set>
#include <thread>

#include "tests/desktop/desktop_harness.h"

namespace desktop_tests {
namespace {

const auto* const desktop = ::testing::AddGlobalTestEnvironment(new Desktop);

bool installed(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

std::string environOf(pid_t pid) {
  return testing_harness::readFile("/proc/" + std::to_string(pid) + "/environ");
}

// The live processes of this desktop (its DISPLAY in their environment) that run `exe`.
std::vector<pid_t> processesRunning(const std::string& exe) {
  std::vector<pid_t> out;
  std::string display = std::string("DISPLAY=") + ::getenv("DISPLAY") + '\0';
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return out;
  while (dirent* d = ::readdir(proc)) {
    std::string name = d->d_name;
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    char target[4096];
    ssize_t n = ::readlink(("/proc/" + name + "/exe").c_str(), target, sizeof target - 1);
    if (n <= 0 || std::string(target, static_cast<std::size_t>(n)) != exe) continue;
    pid_t pid = static_cast<pid_t>(std::stol(name));
    std::string env = environOf(pid);
    if (env.find(display) == 0 || env.find('\0' + display) != std::string::npos) {
      out.push_back(pid);
    }
  }
  ::closedir(proc);
  std::sort(out.begin(), out.end());
  return out;
}

bool alive(pid_t pid) {
  // A process that exited but was not reaped yet has no executable any more.
  char target[16];
  return ::readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), target, sizeof target) > 0;
}

// Ends processes this test had launched through uiglean (they are not our children: the launch
// leaves them to the system), by their pids.
void endLaunched(const std::vector<pid_t>& pids) {
  for (pid_t p : pids) ::kill(p, SIGTERM);
  for (int i = 0; i < 50; ++i) {
    if (std::none_of(pids.begin(), pids.end(), alive)) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  for (pid_t p : pids) {
    if (alive(p)) ::kill(p, SIGKILL);
  }
}

// The desktop overview's windows of one process.
std::vector<json> worldWindowsOf(pid_t pid) {
  std::vector<json> out;
  json world = uiglean({"world"}).outJson();
  for (const auto& w : world["windows"]) {
    if (w["pid"] == pid) out.push_back(w);
  }
  return out;
}

// Our test application in front, and every process of the watched programs that appeared during
// the test ended afterwards.
class Identity : public DesktopApp {
 protected:
  void SetUp() override { start("uiglean-gtk-app", {}, "Say Hello"); }
  void TearDown() override {
    for (const auto& [exe, before] : watched_) {
      std::vector<pid_t> started;
      for (pid_t p : processesRunning(exe)) {
        if (before.count(p) == 0) started.push_back(p);
      }
      endLaunched(started);
    }
    DesktopApp::TearDown();
  }

  // Starts watching a program: none of it may run on this desktop yet.
  void watch(const std::string& exe) {
    auto running = processesRunning(exe);
    watched_.emplace_back(exe, std::set<pid_t>(running.begin(), running.end()));
    ASSERT_TRUE(running.empty()) << exe << " already runs on this desktop";
  }

  // Activates the application by `query` and waits until it is in front; its pid (0 when it never
  // came).
  pid_t launch(const std::string& query, const std::string& exe) {
    RunResult r = uiglean({"activate", query});
    EXPECT_EQ(r.status, 0) << r.err;
    for (int i = 0; i < 200; ++i) {
      auto pids = processesRunning(exe);
      // While it starts, there may be no frontmost application at all.
      RunResult snapshot = uiglean({"tree"});
      json tree = json::parse(snapshot.out, nullptr, false);
      if (snapshot.status == 0 && tree.is_object() && pids.size() == 1 &&
          tree.value("pid", 0) == pids[0] && !tree["windows"].empty()) {
        return pids[0];
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ADD_FAILURE() << query << " did not come up: activate said " << r.out << r.err << "; "
                  << processesRunning(exe).size()
                  << " processes; in front: " << uiglean({"tree"}).out.substr(0, 120);
    return 0;
  }

  // Brings our application to the front, then the launched one by `query`: it must come to the
  // front and nothing may be started (the same processes, the same windows, the same
  // `unchanged` of its snapshot).
  void activateRunning(const std::string& query, pid_t app, const std::string& exe,
                       const std::function<std::size_t(const json&)>& unchanged = nullptr) {
    SCOPED_TRACE("activate " + query);
    std::vector<pid_t> processes = processesRunning(exe);
    std::size_t windows = worldWindowsOf(app).size();
    std::size_t before = unchanged ? unchanged(treeOf()) : 0;

    ASSERT_EQ(uiglean({"activate", "uiglean-gtk-app"}).out, "{\"ok\":true}");
    ASSERT_EQ(treeOf()["pid"], pid);
    RunResult r = uiglean({"activate", query});
    EXPECT_EQ(r.out, "{\"ok\":true}") << r.err;
    json tree = treeOf();
    EXPECT_EQ(tree["pid"], app);
    // Give a second copy or a new window the time to appear, were one started.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(processesRunning(exe), processes);
    EXPECT_EQ(worldWindowsOf(app).size(), windows);
    if (unchanged) {
      EXPECT_EQ(unchanged(treeOf()), before);
    }
  }

 private:
  std::vector<std::pair<std::string, std::set<pid_t>>> watched_;
};

std::size_t countRole(const json& tree, const std::string& role) {
  std::size_t n = 0;
  std::function<void(const json&)> walk = [&](const json& node) {
    if (node.value("role", "") == role) ++n;
    for (const auto& c : node["children"]) walk(c);
  };
  for (const auto& w : tree["windows"]) walk(w);
  return n;
}

// gedit: a D-Bus activatable GTK application whose later starts open a document in the running
// one. Launched through its .desktop file, then activated by each of its names.
TEST_F(Identity, GtkEditorLaunchedFromItsDesktopFileIsActivatedByEachOfItsNames) {
  const std::string exe = "/usr/bin/gedit";
  if (!installed(exe)) GTEST_SKIP() << "gedit is not installed";
  watch(exe);
  pid_t app = launch("org.gnome.gedit", exe);
  ASSERT_GT(app, 0);
  // The launch recorded the desktop file, as desktop launchers do.
  EXPECT_NE(environOf(app).find("GIO_LAUNCHED_DESKTOP_FILE=/usr/share/applications/"
                                "org.gnome.gedit.desktop"),
            std::string::npos);
  json tree = treeOf();
  std::string bundle = tree.value("bundleId", "");
  EXPECT_EQ(bundle, "org.gnome.gedit");
  for (const auto& w : worldWindowsOf(app)) EXPECT_EQ(w.value("bundleId", ""), bundle);
  auto tabs = [](const json& t) { return countRole(t, "AXRadioButton"); };
  for (const std::string& q : {std::string("gedit"), std::string("org.gnome.gedit"), bundle}) {
    activateRunning(q, app, exe, tabs);
  }
  // Once it has quit, the bundle identifier it was reported with starts it again. Quit means gone
  // from the session bus too: a gedit started while the old one still holds its name hands its
  // work to the old one and exits.
  endLaunched({app});
  for (int i = 0; i < 100; ++i) {
    RunResult owner = testing_harness::runProgram(
        "/usr/bin/dbus-send",
        {"--session", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
         "org.freedesktop.DBus.NameHasOwner", "string:org.gnome.gedit"},
        {});
    if (owner.status == 0 && owner.out.find("boolean false") != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  pid_t again = launch(bundle, exe);
  EXPECT_GT(again, 0);
  EXPECT_NE(again, app);
}

// GTK 4's demo: its visible name ("GTK Demo") is neither its process's name nor its ID.
TEST_F(Identity, GtkDemoIsActivatedByItsVisibleName) {
  const std::string exe = "/usr/bin/gtk4-demo";
  if (!installed(exe)) GTEST_SKIP() << "gtk-4-examples is not installed";
  watch(exe);
  pid_t app = launch("org.gtk.Demo4", exe);
  ASSERT_GT(app, 0);
  json tree = treeOf();
  EXPECT_EQ(tree.value("bundleId", ""), "org.gtk.Demo4");
  EXPECT_NE(tree.value("app", ""), "GTK Demo");  // found through its .desktop file only
  activateRunning("GTK Demo", app, exe);
  activateRunning("gtk demo", app, exe);
}

// KDE's calculator: a Qt application that gives neither an application id nor a window class
// naming its .desktop file, nor an accessible window name.
TEST_F(Identity, QtCalculatorHasItsDesktopFileIdAndItsWindowsTitle) {
  const std::string exe = "/usr/bin/kcalc";
  if (!installed(exe)) GTEST_SKIP() << "kcalc is not installed";
  watch(exe);
  pid_t app = launch("org.kde.kcalc", exe);
  ASSERT_GT(app, 0);
  json tree = treeOf();
  std::string bundle = tree.value("bundleId", "");
  EXPECT_EQ(bundle, "org.kde.kcalc");
  ASSERT_EQ(tree["windows"].size(), 1U);
  EXPECT_EQ(tree["windows"][0]["title"], "KCalc");
  for (const std::string& q : {std::string("KCalc"), std::string("org.kde.kcalc"), bundle}) {
    activateRunning(q, app, exe);
  }
  EXPECT_EQ(uiglean({"focuswindow", "KCalc"}).out, "{\"ok\":true}");
  json windows = uiglean({"windows"}).outJson();
  ASSERT_EQ(windows["windows"].size(), 1U);
  EXPECT_EQ(windows["windows"][0]["title"], "KCalc");
  EXPECT_EQ(windows["windows"][0]["main"], true);
}

// LibreOffice: one office process for all its modules, started through a launcher script; every
// later start opens a document in it. Its About dialog in front is the front window.
TEST_F(Identity, OfficeIsActivatedByEachNameAndItsDialogIsTheFrontWindow) {
  const std::string office = "/usr/lib/libreoffice/program/soffice.bin";
  const std::string splash = "/usr/lib/libreoffice/program/oosplash";
  if (!installed(office)) GTEST_SKIP() << "libreoffice-writer is not installed";
  watch(office);
  watch(splash);
  // The desktop's profile, without what a first start shows.
  std::string user = std::string(::getenv("XDG_CONFIG_HOME")) + "/libreoffice/4/user";
  writeQuietOfficeProfile(user);

  pid_t app = launch("libreoffice-writer", office);
  ASSERT_GT(app, 0);
  // Its document window, once Writer has it.
  for (int i = 0; i < 100; ++i) {
    if (uiglean({"tree"}).out.find("LibreOffice Writer") != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  json tree = treeOf();
  std::string bundle = tree.value("bundleId", "");
  EXPECT_EQ(bundle, "libreoffice-writer");
  auto documents = [](const json& t) { return t["windows"].size(); };
  for (const std::string& q :
       {std::string("LibreOffice Writer"), std::string("libreoffice-writer"), bundle}) {
    activateRunning(q, app, office, documents);
  }

  // A dialog in front.
  ASSERT_EQ(uiglean({"menuclick", "Help", "About LibreOffice"}).out, "{\"ok\":true}");
  json windows;
  for (int i = 0; i < 50; ++i) {
    windows = uiglean({"windows"}).outJson();
    if (windows["windows"].size() == 2) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_EQ(windows["windows"].size(), 2U) << windows.dump();
  std::int64_t about = -1;
  for (const auto& w : windows["windows"]) {
    if (w.value("title", "") == "About LibreOffice") {
      about = w["index"].get<std::int64_t>();
      EXPECT_EQ(w.value("main", false), true) << windows.dump();
    } else {
      EXPECT_FALSE(w.contains("main")) << windows.dump();
    }
  }
  ASSERT_GE(about, 0) << windows.dump();
  EXPECT_EQ(treeOf()["frontWindow"], about);
  // The same window the window manager has active.
  RunResult active =
      testing_harness::runProgram("/usr/bin/xprop", {"-root", "_NET_ACTIVE_WINDOW"}, {});
  long activeId = std::strtol(active.out.c_str() + active.out.find("# ") + 2, nullptr, 16);
  bool seen = false;
  std::vector<json> shown = worldWindowsOf(app);
  for (const auto& w : shown) {
    if (w["title"] == "About LibreOffice") {
      seen = true;
      EXPECT_EQ(w["windowId"], activeId);
      EXPECT_EQ(w["frontmost"], true);
      EXPECT_EQ(w.value("bundleId", ""), bundle);
    }
  }
  EXPECT_TRUE(seen) << json(shown).dump();
  // Activating the office while its dialog is up keeps the dialog in front.
  activateRunning("LibreOffice Writer", app, office);
  EXPECT_EQ(treeOf()["frontWindow"], about);
}

}  // namespace
}  // namespace desktop_tests
