// Runs the built uiglean-scripted binary on a scene and captures what it did: standard output,
// standard error, exit status, the journal of platform calls and (for persisting scenes) the scene
// as the run left it.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace testing_harness {

using nlohmann::json;

struct RunResult {
  std::string out;
  std::string err;
  int status = -1;
  std::vector<json> journal;
  json sceneAfter;  // the scene file after the run

  // Journal entries whose "call" is `call` (and whose other keys match `where`, if given).
  std::vector<json> calls(const std::string& call, const json& where = json::object()) const;
  std::size_t count(const std::string& call, const json& where = json::object()) const;
  // Index in the journal of the first entry matching, or -1.
  long indexOf(const std::string& call, const json& where = json::object()) const;
  // stdout parsed as JSON (fails the test when it is not).
  json outJson() const;
};

// `prefix` followed by the decimal `n` ("w" and 3 make "w3"), built by appending: GCC 12 at -O3
// takes a literal + std::to_string() concatenation for an overlapping copy (-Wrestrict).
template <typename Number>
std::string numbered(const std::string& prefix, Number n) {
  std::string text = prefix;
  text += std::to_string(n);
  return text;
}

// Path of a built binary in the build tree's bin/ folder.
std::string binaryPath(const std::string& name);

// Runs uiglean-scripted with `args` on `scene`. The scene is written to a fresh temporary file;
// the journal is always recorded.
RunResult runScene(const json& scene, const std::vector<std::string>& args);
// Same for a scene given as raw text (for malformed scenes).
RunResult runSceneText(const std::string& sceneText, const std::vector<std::string>& args);
// Runs any program with arguments and extra environment (NAME=value), capturing its output.
RunResult runProgram(const std::string& path, const std::vector<std::string>& args,
                     const std::vector<std::string>& env);

// Reads a file into a string; empty when it does not exist.
std::string readFile(const std::string& path);
// A fresh temporary directory, removed at exit.
std::string tempDir();
// The tests/data folder of the source tree.
std::string dataPath(const std::string& name);

}  // namespace testing_harness
