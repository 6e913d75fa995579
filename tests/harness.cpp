#include "tests/harness.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

extern char** environ;

namespace testing_harness {

namespace fs = std::filesystem;

namespace {

bool matches(const json& entry, const json& where) {
  for (auto it = where.begin(); it != where.end(); ++it) {
    if (!entry.contains(it.key()) || entry[it.key()] != it.value()) return false;
  }
  return true;
}

struct TempRoot {
  std::string path;
  TempRoot() {
    std::string pattern = (fs::temp_directory_path() / "uiglean-test-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) std::abort();
    path = buf.data();
  }
  ~TempRoot() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

TempRoot& root() {
  static TempRoot r;
  return r;
}

}  // namespace

std::vector<json> RunResult::calls(const std::string& call, const json& where) const {
  std::vector<json> found;
  for (const auto& e : journal) {
    if (e.value("call", "") == call && matches(e, where)) found.push_back(e);
  }
  return found;
}

std::size_t RunResult::count(const std::string& call, const json& where) const {
  return calls(call, where).size();
}

long RunResult::indexOf(const std::string& call, const json& where) const {
  for (std::size_t i = 0; i < journal.size(); ++i) {
    if (journal[i].value("call", "") == call && matches(journal[i], where)) {
      return static_cast<long>(i);
    }
  }
  return -1;
}

json RunResult::outJson() const {
  json j = json::parse(out, nullptr, false);
  EXPECT_FALSE(j.is_discarded()) << "stdout is not JSON: " << out;
  return j;
}

std::string binaryPath(const std::string& name) { return std::string(TEST_BIN_DIR) + "/" + name; }

std::string dataPath(const std::string& name) {
  return std::string(TEST_SOURCE_DIR) + "/tests/data/" + name;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string tempDir() {
  static int counter = 0;
  std::string p = root().path + "/d" + std::to_string(++counter);
  fs::create_directories(p);
  return p;
}

RunResult runProgram(const std::string& path, const std::vector<std::string>& args,
                     const std::vector<std::string>& env) {
  std::string dir = tempDir();
  std::string outPath = dir + "/stdout", errPath = dir + "/stderr";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);

  std::vector<std::string> argStrings{path};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) {
    std::string s = *e;
    if (s.rfind("UIGLEAN_", 0) == 0) continue;
    envStrings.push_back(s);
  }
  envStrings.insert(envStrings.end(), env.begin(), env.end());
  std::vector<char*> envp;
  for (auto& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);

  RunResult r;
  pid_t pid = 0;
  int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    ADD_FAILURE() << "could not start " << path;
    return r;
  }
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  r.out = readFile(outPath);
  r.err = readFile(errPath);
  return r;
}

RunResult runSceneText(const std::string& sceneText, const std::vector<std::string>& args) {
  std::string dir = tempDir();
  std::string scenePath = dir + "/scene.json", journalPath = dir + "/journal.jsonl";
  {
    std::ofstream f(scenePath, std::ios::binary);
    f << sceneText;
  }
  RunResult r = runProgram(binaryPath("uiglean-scripted"), args,
                           {"UIGLEAN_SCENE=" + scenePath, "UIGLEAN_JOURNAL=" + journalPath});
  std::istringstream lines(readFile(journalPath));
  for (std::string line; std::getline(lines, line);) {
    json j = json::parse(line, nullptr, false);
    if (j.is_discarded()) {
      ADD_FAILURE() << "journal line is not JSON: " << line;
      continue;
    }
    r.journal.push_back(std::move(j));
  }
  r.sceneAfter = json::parse(readFile(scenePath), nullptr, false);
  return r;
}

RunResult runScene(const json& scene, const std::vector<std::string>& args) {
  return runSceneText(scene.dump(), args);
}

}  // namespace testing_harness
