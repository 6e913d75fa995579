#include "uiglean/platform/linux/peer.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace uiglean::lx {

namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A value of an address, with its %XX escapes undone; nothing for a bad escape or a NUL.
std::optional<std::string> unescape(const std::string& value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    if (c == '%') {
      if (i + 2 >= value.size()) return std::nullopt;
      int hi = hexDigit(value[i + 1]);
      int lo = hexDigit(value[i + 2]);
      if (hi < 0 || lo < 0) return std::nullopt;
      c = static_cast<char>(hi * 16 + lo);
      i += 2;
    }
    if (c == '\0') return std::nullopt;
    out += c;
  }
  return out;
}

// The longest name a socket address holds: sun_path less its terminating NUL (a path) or its
// leading NUL (an abstract name).
constexpr std::size_t MAX_SOCKET_NAME = sizeof(sockaddr_un{}.sun_path) - 1;

bool waitFor(int fd, short events, std::uint64_t deadlineUsec) {
  for (;;) {
    std::uint64_t now = monotonicUsec();
    if (now >= deadlineUsec) return false;
    pollfd p{fd, events, 0};
    int ms = static_cast<int>((deadlineUsec - now + 999) / 1000);
    int r = ::poll(&p, 1, ms);
    if (r > 0) return true;
    if (r < 0 && errno != EINTR) return false;
  }
}

// A connected Unix stream socket to `address`, or -1; the connection must be made before the
// deadline.
int connectSocket(const PeerAddress& address, std::uint64_t deadlineUsec) {
  sockaddr_un sa{};
  sa.sun_family = AF_UNIX;
  socklen_t length = 0;
  if (address.abstract) {
    std::memcpy(sa.sun_path + 1, address.name.data(), address.name.size());
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + address.name.size());
  } else {
    std::memcpy(sa.sun_path, address.name.data(), address.name.size());
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address.name.size() + 1);
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&sa), length) == 0) return fd;
  if (errno == EINPROGRESS && waitFor(fd, POLLOUT, deadlineUsec)) {
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0) return fd;
  }
  ::close(fd);
  return -1;
}

// Whether the process at the other end of `fd` is `pid`, running as our user. The kernel took
// these credentials when the listener made its socket, so a socket that some other process
// listens on fails even if the application names it.
bool ownedBy(int fd, std::int32_t pid) {
  ucred cred{};
  socklen_t size = sizeof cred;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0 || size != sizeof cred) {
    return false;
  }
  return pid > 0 && cred.pid == pid && cred.uid == ::getuid();
}

}  // namespace

std::uint64_t monotonicUsec() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000ULL +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000ULL;
}

std::optional<PeerAddress> parsePeerAddress(const std::string& address) {
  constexpr const char* prefix = "unix:";
  if (address.rfind(prefix, 0) != 0) return std::nullopt;
  if (address.find(';') != std::string::npos) return std::nullopt;  // one address only
  std::string rest = address.substr(std::strlen(prefix));
  std::optional<PeerAddress> found;
  bool guid = false;
  std::size_t start = 0;
  while (start <= rest.size()) {
    std::size_t comma = rest.find(',', start);
    std::string pair = rest.substr(start, comma == std::string::npos ? std::string::npos
                                                                     : comma - start);
    std::size_t eq = pair.find('=');
    if (eq == std::string::npos) return std::nullopt;
    std::string key = pair.substr(0, eq);
    auto value = unescape(pair.substr(eq + 1));
    if (!value) return std::nullopt;
    if (key == "path" || key == "abstract") {
      if (found || value->empty() || value->size() > MAX_SOCKET_NAME) return std::nullopt;
      found = PeerAddress{key == "abstract", *value};
    } else if (key == "guid") {
      if (guid) return std::nullopt;
      guid = true;
    } else {
      return std::nullopt;
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return found;
}

sd_bus* connectPeerBus(const std::string& address, std::int32_t pid, std::uint64_t deadlineUsec) {
  auto parsed = parsePeerAddress(address);
  if (!parsed) return nullptr;
  int fd = connectSocket(*parsed, deadlineUsec);
  if (fd < 0) return nullptr;
  if (!ownedBy(fd, pid)) {
    ::close(fd);
    return nullptr;
  }
  sd_bus* bus = nullptr;
  if (sd_bus_new(&bus) < 0) {
    ::close(fd);
    return nullptr;
  }
  // From here the bus owns the descriptor.
  if (sd_bus_set_fd(bus, fd, fd) < 0) {
    ::close(fd);
    sd_bus_unref(bus);
    return nullptr;
  }
  if (sd_bus_start(bus) < 0) {
    sd_bus_unref(bus);
    return nullptr;
  }
  // Authentication runs inside sd_bus_process; its own timeout is far longer than any messaging
  // timeout, so the wait is bounded here.
  for (;;) {
    int ready = sd_bus_is_ready(bus);
    if (ready > 0) return bus;
    std::uint64_t now = monotonicUsec();
    if (ready < 0 || now >= deadlineUsec) break;
    int r = sd_bus_process(bus, nullptr);
    if (r < 0) break;
    if (r > 0) continue;
    int w = sd_bus_wait(bus, deadlineUsec - now);
    if (w < 0 && w != -EINTR) break;
  }
  sd_bus_close(bus);
  sd_bus_unref(bus);
  return nullptr;
}

}  // namespace uiglean::lx
