// The private desktop the desktop tests share, and what they use to drive it: uiglean runs,
// snapshot searches, and test applications started and ended by their pid.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/harness.h"

namespace desktop_tests {

using testing_harness::json;
using testing_harness::RunResult;

// The private desktop: the one CTest's fixture started (DESKTOP_STATE_DIR), else one of its own
// for the whole binary. Its variables go into the process's environment, so that everything the
// test starts runs on it. Register it with ::testing::AddGlobalTestEnvironment.
class Desktop : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;
  static const std::string& stateDir();

 private:
  bool own_ = false;
};

RunResult uiglean(const std::vector<std::string>& args);
json treeOf();

// Depth-first search of a snapshot node, or of every window of a snapshot.
const json* findNode(const json& node, const std::function<bool(const json&)>& match);
const json* findIn(const json& tree, const std::function<bool(const json&)>& match);
std::function<bool(const json&)> titled(const std::string& role, const std::string& title);
std::string refOf(const json& tree, const std::function<bool(const json&)>& match);
std::size_t countNodes(const json& node);
// The menu items of a snapshot that are on screen (a menu item has a frame only while its menu
// is open).
std::size_t openMenuItems(const json& tree);

// The `windows` record once it lists `count` windows (asked again for up to 3 s), else the last.
json windowsWhenThereAre(std::size_t count);
// Writes the settings a LibreOffice user profile folder ("…/user") needs to start without the
// first-start tip and wizard.
void writeQuietOfficeProfile(const std::string& userFolder);

// Starts a program with its output on /dev/null; its pid (0 when it could not start). With
// `ownGroup`, it leads a process group of its own.
pid_t spawnQuiet(const std::vector<std::string>& argv, bool ownGroup = false);
// Ends a process started by the test (SIGTERM, then SIGKILL) and reaps it.
void endProcess(pid_t pid);

// One test application per test, ended (by its pid) afterwards.
class DesktopApp : public ::testing::Test {
 protected:
  // Starts bin/`binary` with --log and `extra`, and waits until its window shows `readyText` in
  // a snapshot and is active.
  void start(const std::string& binary, const std::vector<std::string>& extra,
             const std::string& readyText);
  void TearDown() override;
  std::string log() const;
  // Waits until the application's log holds `line` (actions may take effect a moment after
  // they were accepted).
  bool logShows(const std::string& line) const;

  pid_t pid = 0;
  std::string logPath;
};

// The ref of a Writer document's body: the editable paragraph that fills the page's width.
std::string writerBodyRef(const json& tree);

// Whether an executable file is at `path` (a Debian application a test needs).
bool installed(const std::string& path);

// A Debian application in a process group of its own (LibreOffice's launcher starts the office
// as its child), ended with its group.
class DebianApp : public ::testing::Test {
 protected:
  // Starts `argv` and waits until a snapshot has a window of `app` showing `readyText`.
  void launch(const std::vector<std::string>& argv, const std::string& app,
              const std::string& readyText);
  // LibreOffice Writer on a new document, with a fresh profile that shows no first-start tip.
  void launchWriter();
  void TearDown() override;

  pid_t pid = 0;
};

}  // namespace desktop_tests
