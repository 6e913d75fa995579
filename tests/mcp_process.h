// A uiglean-mcp process as a client sees it: spoken to over its standard input and output, one
// message a line.
#pragma once

#include <sys/types.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace testing_harness {

struct McpProcess {
  pid_t pid = -1;
  int in = -1;   // its standard input
  int out = -1;  // its standard output
  std::string pending;

  // Starts `binary` with `env` (NAME=value) added to this process's environment.
  McpProcess(const std::string& binary, const std::vector<std::string>& env);
  ~McpProcess();
  McpProcess(const McpProcess&) = delete;
  McpProcess& operator=(const McpProcess&) = delete;

  void writeRaw(const std::string& text);
  void send(const nlohmann::json& m);
  // The next line the server writes, within `seconds`; empty at end of output or on time-out.
  std::string line(double seconds = 10);
  nlohmann::json message(double seconds = 10);
  // The response with that id, skipping notifications (kept in `notes`); null on time-out.
  nlohmann::json response(const nlohmann::json& id, std::vector<nlohmann::json>* notes = nullptr,
                          double seconds = 10);
  // The exit status once it ended (128 + signal when killed), or -1 after `seconds`.
  int exitStatus(double seconds = 10);
  void closeInput();
};

nlohmann::json mcpRequest(const nlohmann::json& id, const std::string& method,
                          nlohmann::json params = nlohmann::json::object());
nlohmann::json mcpToolCall(const nlohmann::json& id, const std::string& tool,
                           nlohmann::json args = nlohmann::json::object(),
                           nlohmann::json meta = nullptr);

}  // namespace testing_harness
