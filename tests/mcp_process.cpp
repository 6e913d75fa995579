#include "tests/mcp_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

namespace testing_harness {

using nlohmann::json;

McpProcess::McpProcess(const std::string& binary, const std::vector<std::string>& env) {
  int toChild[2], fromChild[2];
  EXPECT_EQ(pipe(toChild), 0);
  EXPECT_EQ(pipe(fromChild), 0);
  pid = fork();
  if (pid == 0) {
    dup2(toChild[0], 0);
    dup2(fromChild[1], 1);
    close(toChild[1]);
    close(fromChild[0]);
    for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
    execl(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(toChild[0]);
  close(fromChild[1]);
  in = toChild[1];
  out = fromChild[0];
}

McpProcess::~McpProcess() {
  closeInput();
  if (pid > 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  if (out >= 0) close(out);
}

void McpProcess::closeInput() {
  if (in >= 0) close(in);
  in = -1;
}

void McpProcess::writeRaw(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(in, text.data() + done, text.size() - done);
    ASSERT_GT(n, 0);
    done += static_cast<std::size_t>(n);
  }
}

void McpProcess::send(const json& m) { writeRaw(m.dump() + "\n"); }

std::string McpProcess::line(double seconds) {
  auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    auto nl = pending.find('\n');
    if (nl != std::string::npos) {
      std::string l = pending.substr(0, nl);
      pending.erase(0, nl + 1);
      return l;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0) return "";
    pollfd p{out, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return "";
    char buf[65536];
    ssize_t n = read(out, buf, sizeof buf);
    if (n <= 0) return "";
    pending.append(buf, static_cast<std::size_t>(n));
  }
}

json McpProcess::message(double seconds) {
  std::string l = line(seconds);
  EXPECT_FALSE(l.empty()) << "no message";
  if (l.empty()) return json();
  json m = json::parse(l, nullptr, false);
  EXPECT_FALSE(m.is_discarded()) << l.substr(0, 300);
  return m.is_discarded() ? json() : m;
}

json McpProcess::response(const json& id, std::vector<json>* notes, double seconds) {
  auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    double left = std::chrono::duration<double>(until - std::chrono::steady_clock::now()).count();
    if (left <= 0) return json();
    json m = message(left);
    if (m.is_null()) return m;
    if (m.contains("id") && m["id"] == id) return m;
    if (notes != nullptr) notes->push_back(m);
  }
}

int McpProcess::exitStatus(double seconds) {
  auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < until) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      pid = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    usleep(20000);
  }
  return -1;
}

json mcpRequest(const json& id, const std::string& method, json params) {
  return {{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", std::move(params)}};
}

json mcpToolCall(const json& id, const std::string& tool, json args, json meta) {
  json params = {{"name", tool}, {"arguments", std::move(args)}};
  if (!meta.is_null()) params["_meta"] = std::move(meta);
  return mcpRequest(id, "tools/call", std::move(params));
}

}  // namespace testing_harness
