#include "tests/desktop/desktop_harness.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace desktop_tests {

namespace {

std::string& state() {
  static std::string dir;
  return dir;
}

std::string script() { return std::string(TEST_SOURCE_DIR) + "/scripts/desktop.sh"; }

}  // namespace

const std::string& Desktop::stateDir() { return state(); }

void Desktop::SetUp() {
  const char* given = ::getenv("DESKTOP_STATE_DIR");
  if (given != nullptr && *given != '\0') {
    state() = given;
  } else {
    state() = testing_harness::tempDir() + "/desktop";
    RunResult r = testing_harness::runProgram("/bin/bash", {script(), "start", state()}, {});
    ASSERT_EQ(r.status, 0) << r.err;
    own_ = true;
  }
  ::unsetenv("AT_SPI_BUS_ADDRESS");
  std::istringstream lines(testing_harness::readFile(state() + "/env"));
  ASSERT_FALSE(lines.str().empty()) << "no desktop at " << state();
  for (std::string line; std::getline(lines, line);) {
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string name = line.substr(0, eq);
    // Found through the session bus, as on a user's desktop.
    if (name == "AT_SPI_BUS_ADDRESS") continue;
    ::setenv(name.c_str(), line.substr(eq + 1).c_str(), 1);
  }
}

void Desktop::TearDown() {
  if (own_) testing_harness::runProgram("/bin/bash", {script(), "stop", state()}, {});
}

RunResult uiglean(const std::vector<std::string>& args) {
  return testing_harness::runProgram(testing_harness::binaryPath("uiglean"), args, {});
}

std::size_t openMenuItems(const json& tree) {
  std::size_t n = 0;
  std::function<void(const json&)> walk = [&](const json& node) {
    if (node["role"] == "AXMenuItem" && node["frame"] != json::array({0, 0, 0, 0})) ++n;
    for (const auto& c : node["children"]) walk(c);
  };
  for (const auto& w : tree["windows"]) walk(w);
  return n;
}

json treeOf() {
  RunResult r = uiglean({"tree"});
  EXPECT_EQ(r.status, 0) << r.err;
  return r.outJson();
}

const json* findNode(const json& node, const std::function<bool(const json&)>& match) {
  if (match(node)) return &node;
  if (node.contains("children")) {
    for (const auto& c : node["children"]) {
      if (const json* hit = findNode(c, match)) return hit;
    }
  }
  return nullptr;
}

const json* findIn(const json& tree, const std::function<bool(const json&)>& match) {
  for (const auto& w : tree["windows"]) {
    if (const json* hit = findNode(w, match)) return hit;
  }
  return nullptr;
}

std::function<bool(const json&)> titled(const std::string& role, const std::string& title) {
  return [=](const json& n) {
    return n.value("role", "") == role && n.value("title", "") == title;
  };
}

std::string refOf(const json& tree, const std::function<bool(const json&)>& match) {
  const json* n = findIn(tree, match);
  return n != nullptr ? n->value("ref", "") : "";
}

std::size_t countNodes(const json& node) {
  std::size_t n = 1;
  for (const auto& c : node["children"]) n += countNodes(c);
  return n;
}

json windowsWhenThereAre(std::size_t count) {
  json windows;
  for (int i = 0; i < 30; ++i) {
    windows = uiglean({"windows"}).outJson();
    if (windows.contains("windows") && windows["windows"].size() == count) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return windows;
}

void writeQuietOfficeProfile(const std::string& userFolder) {
  testing_harness::runProgram("/bin/mkdir", {"-p", userFolder}, {});
  std::ofstream(userFolder + "/registrymodifications.xcu")
      << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
         "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
         "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
         "<item oor:path=\"/org.openoffice.Office.Common/Misc\"><prop "
         "oor:name=\"ShowTipOfTheDay\" oor:op=\"fuse\"><value>false</value></prop></item>\n"
         "<item oor:path=\"/org.openoffice.Setup/Office\"><prop oor:name=\"ooSetupInstCompleted\" "
         "oor:op=\"fuse\"><value>true</value></prop></item>\n"
         "</oor:items>\n";
}

pid_t spawnQuiet(const std::vector<std::string>& argvIn, bool ownGroup) {
  std::vector<std::string> argStrings = argvIn;
  std::vector<char*> argv;
  for (auto& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  if (ownGroup) posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  return rc == 0 ? pid : 0;
}

void endProcess(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGCONT);
  ::kill(pid, SIGTERM);
  int status = 0;
  for (int i = 0; i < 50 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (::waitpid(pid, &status, WNOHANG) == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
}

void DesktopApp::start(const std::string& binary, const std::vector<std::string>& extra,
                       const std::string& readyText) {
  logPath = testing_harness::tempDir() + "/app.log";
  std::vector<std::string> argv{testing_harness::binaryPath(binary), "--log", logPath};
  argv.insert(argv.end(), extra.begin(), extra.end());
  pid = spawnQuiet(argv);
  ASSERT_GT(pid, 0) << "could not start " << binary;
  // Ready when its window is in a snapshot and active (the window manager has given it the
  // focus, so that focus changes inside it show).
  RunResult r;
  for (int i = 0; i < 100; ++i) {
    r = uiglean({"tree"});
    if (r.status == 0 && r.out.find("\"pid\":" + std::to_string(pid)) != std::string::npos &&
        r.out.find(readyText) != std::string::npos &&
        uiglean({"windows"}).out.find("\"main\":true") != std::string::npos) {
      // The window manager may still be placing the window it has just activated: wait until
      // its place holds, so that frames read next are where the window stays.
      std::string before = uiglean({"windows"}).out;
      for (int j = 0; j < 30; ++j) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::string now = uiglean({"windows"}).out;
        if (now == before) return;
        before = now;
      }
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  FAIL() << binary << " did not come up; the last tree: status " << r.status << ", " << r.err
         << r.out.substr(0, 300);
}

void DesktopApp::TearDown() {
  endProcess(pid);
  pid = 0;
}

std::string DesktopApp::log() const { return testing_harness::readFile(logPath); }

bool DesktopApp::logShows(const std::string& line) const {
  for (int i = 0; i < 40; ++i) {
    if (log().find(line) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

std::string writerBodyRef(const json& tree) {
  return refOf(tree, [](const json& n) {
    return n["role"] == "AXTextArea" && n["frame"][2].get<double>() > 300 &&
           n.value("title", "").empty();
  });
}

bool installed(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

void DebianApp::launch(const std::vector<std::string>& argv, const std::string& app,
                       const std::string& readyText) {
  pid = spawnQuiet(argv, true);
  ASSERT_GT(pid, 0);
  RunResult r;
  for (int i = 0; i < 150; ++i) {
    r = uiglean({"tree"});
    if (r.status == 0 && r.out.find("\"app\":\"" + app + "\"") != std::string::npos &&
        r.out.find(readyText) != std::string::npos) {
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  FAIL() << app << " did not come up; the last tree: " << r.err << r.out.substr(0, 300);
}

void DebianApp::launchWriter() {
  std::string profile = testing_harness::tempDir() + "/lo";
  writeQuietOfficeProfile(profile + "/user");
  launch({"/usr/bin/soffice", "--writer", "--norestore", "--nologo",
          "-env:UserInstallation=file://" + profile},
         "soffice", "LibreOffice Writer");
}

void DebianApp::TearDown() {
  if (pid <= 0) return;
  ::kill(-pid, SIGTERM);
  for (int i = 0; i < 50 && ::waitpid(pid, nullptr, WNOHANG) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ::kill(-pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  pid = 0;
}

}  // namespace desktop_tests
