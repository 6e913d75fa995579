#include "uiglean/mcp/server.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

#include "uiglean/front/globals.h"
#include "uiglean/front/output.h"

namespace uiglean::mcp {

namespace {

// Seconds between two progress notifications of a call that asked for them.
constexpr auto PROGRESS_EVERY = std::chrono::milliseconds(500);

struct Shared {
  std::mutex m;
  std::condition_variable wake;
  Session session;
  std::deque<ToolCall> queue;
  bool inputEnded = false;
  std::optional<json> running;  // the id of the call being run
  std::atomic<bool> cancel{false};
  int out = 1;                  // the protocol's file descriptor
  std::mutex outLock;
};

Shared& shared() {
  static Shared s;
  return s;
}

void send(const json& message) {
  Shared& s = shared();
  std::lock_guard<std::mutex> lock(s.outLock);
  writeAll(s.out, serialize(message) + "\n");
}

void takeLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.find_first_not_of(" \t") == std::string_view::npos) return;
  Shared& s = shared();
  std::lock_guard<std::mutex> lock(s.m);
  Handled h = handleLine(s.session, line);
  for (const auto& reply : h.replies) send(reply);
  if (h.cancelled) {
    if (s.running && *s.running == *h.cancelled) {
      s.cancel = true;
    } else {
      std::erase_if(s.queue, [&](const ToolCall& c) { return c.id == *h.cancelled; });
    }
  }
  if (h.call) {
    s.queue.push_back(std::move(*h.call));
    s.wake.notify_all();
  }
}

// Reads standard input into lines; a line longer than MAX_MESSAGE_BYTES is answered with an
// error once its end arrives, without being kept.
void readInput() {
  std::string line;
  bool tooLong = false;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(0, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    std::string_view chunk(buf, static_cast<std::size_t>(n));
    while (!chunk.empty()) {
      std::size_t nl = chunk.find('\n');
      std::string_view piece = chunk.substr(0, nl);
      if (!tooLong) {
        if (line.size() + piece.size() > MAX_MESSAGE_BYTES) {
          tooLong = true;
          line.clear();
          line.shrink_to_fit();
        } else {
          line.append(piece);
        }
      }
      if (nl == std::string_view::npos) break;
      if (tooLong) {
        send(errorResponse(nullptr, rpc::invalidRequest, "message too large"));
      } else {
        takeLine(line);
      }
      line.clear();
      tooLong = false;
      chunk.remove_prefix(nl + 1);
    }
  }
  if (!line.empty() && !tooLong) takeLine(line);
  Shared& s = shared();
  std::lock_guard<std::mutex> lock(s.m);
  s.inputEnded = true;
  s.cancel = true;  // nobody is left to read an answer
  s.queue.clear();
  s.wake.notify_all();
}

// Ends the process on SIGTERM or SIGINT, never in the middle of a message.
void awaitSignals(sigset_t set) {
  int sig = 0;
  while (sigwait(&set, &sig) != 0) {
  }
  std::lock_guard<std::mutex> lock(shared().outLock);
  std::_Exit(0);
}

void runOne(const ToolCall& call, const Runner& run) {
  Shared& s = shared();
  std::mutex doneLock;
  std::condition_variable doneWake;
  bool done = false;
  std::thread progress;
  if (call.progressToken) {
    progress = std::thread([&] {
      auto start = std::chrono::steady_clock::now();
      std::unique_lock<std::mutex> lock(doneLock);
      while (!doneWake.wait_for(lock, PROGRESS_EVERY, [&] { return done; })) {
        if (s.cancel) continue;
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
        send(progressNotification(*call.progressToken, static_cast<double>(ms),
                                  call.name + " running for " + std::to_string(ms) + " ms"));
      }
    });
  }
  ToolAnswer answer;
  try {
    answer = callTool(call, run);
  } catch (const std::exception&) {
    answer = {{{"code", rpc::internalError}, {"message", "internal error"}}, true};
  }
  if (progress.joinable()) {
    {
      std::lock_guard<std::mutex> lock(doneLock);
      done = true;
    }
    doneWake.notify_all();
    progress.join();
  }
  std::lock_guard<std::mutex> lock(s.m);
  // A cancelled call is not answered.
  if (!s.cancel) send(toolCallResponse(call, std::move(answer.result), answer.protocolError));
  s.running.reset();
  s.cancel = false;
}

}  // namespace

int serveStdio(const Runner& run) {
  Shared& s = shared();
  // Standard output carries the protocol only: it keeps a descriptor of its own, and whatever
  // anything else prints to descriptor 1 lands on standard error.
  s.out = ::fcntl(1, F_DUPFD_CLOEXEC, 3);
  if (s.out < 0 || ::dup2(2, 1) < 0) return 1;
  ::signal(SIGPIPE, SIG_IGN);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread(awaitSignals, set).detach();
  runCancelled = &s.cancel;

  std::thread reader(readInput);
  for (;;) {
    ToolCall call;
    {
      std::unique_lock<std::mutex> lock(s.m);
      s.wake.wait(lock, [&] { return s.inputEnded || !s.queue.empty(); });
      if (s.queue.empty()) break;
      call = std::move(s.queue.front());
      s.queue.pop_front();
      s.running = call.id;
      s.cancel = false;
    }
    runOne(call, run);
  }
  reader.join();
  runCancelled = nullptr;
  return 0;
}

}  // namespace uiglean::mcp
