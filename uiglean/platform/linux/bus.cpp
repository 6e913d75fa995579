#include "uiglean/platform/linux/bus.h"

#include "uiglean/platform/linux/keptanswers.h"
#include "uiglean/platform/linux/peer.h"

#include <poll.h>
#include <time.h>

#include <algorithm>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <set>

namespace uiglean::lx {

namespace {

struct Buses {
  bool tried = false;
  sd_bus* session = nullptr;
  sd_bus* a11y = nullptr;
  bool enabledNow = false;
};

std::uint64_t generation = 0;

Buses& buses() {
  static Buses b;
  return b;
}

std::map<std::string, std::uint64_t>& timeouts() {
  static std::map<std::string, std::uint64_t> t;
  return t;
}

std::set<std::string>& hung() {
  static std::set<std::string> h;
  return h;
}

constexpr std::uint64_t SESSION_TIMEOUT_USEC = 2'000'000;

// The accessibility bus address: AT_SPI_BUS_ADDRESS when the environment names one (the
// convention of accessibility clients), otherwise what org.a11y.Bus on the session bus says.
std::string a11yAddress(sd_bus* session) {
  if (const char* env = std::getenv("AT_SPI_BUS_ADDRESS"); env != nullptr && *env != '\0') {
    return env;
  }
  if (session == nullptr) return {};
  sd_bus_error error{};  // SD_BUS_ERROR_NULL, without its C compound literal
  sd_bus_message* reply = nullptr;
  std::string address;
  if (sd_bus_call_method(session, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress",
                         &error, &reply, "") >= 0) {
    const char* s = nullptr;
    if (sd_bus_message_read(reply, "s", &s) >= 0 && s != nullptr) address = s;
  }
  sd_bus_message_unref(reply);
  sd_bus_error_free(&error);
  // Any client may own the name when the session has no accessibility bus: what it hands out
  // must be a socket to connect to, never a program to run (unixexec:) or a network address.
  if (!parsePeerAddress(address)) return {};
  return address;
}

// Switches org.a11y.Status IsEnabled on when it is off; true when this call switched it.
bool enableAccessibility(sd_bus* session) {
  if (session == nullptr) return false;
  sd_bus_error error{};  // SD_BUS_ERROR_NULL, without its C compound literal
  int enabled = 0;
  int r = sd_bus_get_property_trivial(session, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Status",
                                      "IsEnabled", &error, 'b', &enabled);
  sd_bus_error_free(&error);
  if (r < 0 || enabled) return false;
  r = sd_bus_set_property(session, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Status",
                          "IsEnabled", &error, "b", 1);
  sd_bus_error_free(&error);
  return r >= 0;
}

// The methods that only read. Any other call to an application may change it (an action, a
// write, a focus grab): what was kept of every application is dropped before it is sent.
bool onlyReads(const std::string& dest, const char* member) {
  if (dest == DBUS_NAME || dest == REGISTRY_NAME) return true;
  static const std::set<std::string, std::less<>> reads = {
      "Get", "GetAll", "GetRole", "GetState", "GetChildren", "GetChildAtIndex", "GetAttributes",
      "GetActions", "GetName", "GetKeyBinding", "GetExtents", "GetText", "GetNSelections",
      "GetSelection", "GetMatches", "GetApplicationBusAddress"};
  return member != nullptr && reads.count(std::string_view(member)) != 0;
}

CallEnd endOf(sd_bus_message* m) {
  if (m == nullptr) return CallEnd::failed;
  if (!sd_bus_message_is_method_error(m, nullptr)) return CallEnd::ok;
  const sd_bus_error* e = sd_bus_message_get_error(m);
  const char* name = e != nullptr && e->name != nullptr ? e->name : "";
  auto is = [&](const char* suffix) {
    std::string full = std::string("org.freedesktop.DBus.Error.") + suffix;
    return std::strcmp(name, full.c_str()) == 0;
  };
  if (is("NoReply") || is("Timeout") || is("TimedOut")) return CallEnd::timeout;
  if (is("ServiceUnknown") || is("NameHasNoOwner") || is("UnknownObject") || is("Disconnected")) {
    return CallEnd::gone;
  }
  if (is("UnknownMethod") || is("UnknownInterface") || is("UnknownProperty") ||
      is("NotSupported")) {
    return CallEnd::unsupported;
  }
  return CallEnd::failed;
}

}  // namespace

bool connectBuses() {
  Buses& b = buses();
  if (b.tried) return b.a11y != nullptr;
  b.tried = true;
  // No session bus, no accessibility: the accessibility bus is found through it.
  if (sd_bus_open_user(&b.session) < 0) {
    b.session = nullptr;
    return false;
  }
  // The few questions to the session bus wait a bounded time, not the library's 25 s.
  sd_bus_set_method_call_timeout(b.session, SESSION_TIMEOUT_USEC);
  std::string address = a11yAddress(b.session);
  if (address.empty()) return false;
  sd_bus* bus = nullptr;
  if (sd_bus_new(&bus) < 0) return false;
  if (sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0 ||
      sd_bus_start(bus) < 0) {
    sd_bus_unref(bus);
    return false;
  }
  b.a11y = bus;
  ++generation;
  b.enabledNow = enableAccessibility(b.session);
  return true;
}

sd_bus* a11yBus() { return buses().a11y; }
std::uint64_t busGeneration() { return generation; }
sd_bus* sessionBus() { return buses().session; }
bool enabledJustNow() { return buses().enabledNow; }

void setTimeout(const std::string& busName, std::uint64_t usec) { timeouts()[busName] = usec; }

std::uint64_t timeoutFor(const std::string& busName) {
  auto it = timeouts().find(busName);
  return it == timeouts().end() ? DEFAULT_TIMEOUT_USEC : it->second;
}

bool isHung(const std::string& busName) { return hung().count(busName) != 0; }

namespace {

struct Peer {
  bool tried = false;
  sd_bus* bus = nullptr;
};

// Connections live until the process exits; the map is never destroyed, so that nothing that
// runs at exit finds them gone.
std::map<std::string, Peer>& peers() {
  static auto* p = new std::map<std::string, Peer>;
  return *p;
}

// The end of the run: no call waits past it (0: none).
std::uint64_t runDeadline = 0;

// Lookups on the bus daemon and the first question to an application wait at most this long.
constexpr std::uint64_t LOOKUP_USEC = 500'000;

// `usec` from now, but not past the run's deadline.
std::uint64_t deadlineIn(std::uint64_t usec) {
  std::uint64_t at = monotonicUsec() + usec;
  return runDeadline != 0 ? std::min(at, runDeadline) : at;
}

// Connects to an application's own bus; nullptr when it offers none, the address is not one we
// accept, or it cannot be reached and authenticated within the application's messaging timeout
// (see peer.h). The accessibility bus serves it then.
sd_bus* connectPeer(const std::string& dest) {
  if (a11yBus() == nullptr || isHung(dest)) return nullptr;
  // The whole of it (the address, connecting, authenticating) within the application's messaging
  // timeout, and never longer than a lookup: an application too busy to let us in that soon is
  // still reached over the accessibility bus.
  std::uint64_t deadline = deadlineIn(std::min(timeoutFor(dest), LOOKUP_USEC));
  std::string address;
  std::uint32_t pid = 0;
  {
    Batch ask(false, false);
    std::uint64_t usec = std::min(timeoutFor(dest), LOOKUP_USEC);
    ask.call(dest, ROOT_PATH, IFACE_APPLICATION, "GetApplicationBusAddress", nullptr,
             [&](const Reply& r) {
               if (r.end == CallEnd::ok) readString(r.message, address);
             },
             usec);
    ask.call(DBUS_NAME, DBUS_PATH, DBUS_NAME, "GetConnectionUnixProcessID",
             [&](sd_bus_message* m) { return sd_bus_message_append(m, "s", dest.c_str()); },
             [&](const Reply& r) {
               if (r.end == CallEnd::ok) sd_bus_message_read(r.message, "u", &pid);
             },
             usec);
    ask.run();
  }
  if (address.empty() || pid == 0 || pid > INT32_MAX) return nullptr;
  return connectPeerBus(address, static_cast<std::int32_t>(pid), deadline);
}

}  // namespace

void setRunDeadline(std::uint64_t usecFromNow) {
  runDeadline = usecFromNow == 0 ? 0 : monotonicUsec() + usecFromNow;
}

bool pastRunDeadline() { return runDeadline != 0 && monotonicUsec() >= runDeadline; }

void forgetRunState() {
  timeouts().clear();
  hung().clear();
  runDeadline = 0;
  auto& all = peers();
  for (auto it = all.begin(); it != all.end();) {
    if (it->second.bus != nullptr && sd_bus_is_open(it->second.bus) > 0) {
      ++it;
      continue;
    }
    if (it->second.bus != nullptr) sd_bus_unref(it->second.bus);
    it = all.erase(it);
  }
  Buses& b = buses();
  if (b.tried && (b.a11y == nullptr || sd_bus_is_open(b.a11y) <= 0)) {
    for (auto& [name, peer] : all) sd_bus_unref(peer.bus);
    all.clear();
    if (b.a11y != nullptr) sd_bus_unref(b.a11y);
    if (b.session != nullptr) sd_bus_unref(b.session);
    b = Buses{};
  }
}

sd_bus* connectionFor(const std::string& dest) {
  sd_bus* bus = a11yBus();
  if (bus == nullptr || dest.empty() || dest[0] != ':') return bus;  // well-known names
  Peer& p = peers()[dest];
  if (!p.tried) {
    p.tried = true;
    p.bus = connectPeer(dest);
  }
  if (p.bus != nullptr && sd_bus_is_open(p.bus) <= 0) {
    // The application closed its own bus: the accessibility bus still reaches it if it lives.
    sd_bus_unref(p.bus);
    p.bus = nullptr;
  }
  return p.bus != nullptr ? p.bus : bus;
}

struct Batch::Pending {
  Batch* owner = nullptr;
  std::string dest;
  Handler handler;
  sd_bus_slot* slot = nullptr;
  bool done = false;
  bool cut = false;  // its timeout was shortened to the run's deadline
};

int Batch::onReply(sd_bus_message* m, void* userdata, sd_bus_error*) {
  auto* p = static_cast<Pending*>(userdata);
  if (p->done) return 0;
  p->done = true;
  --p->owner->outstanding_;
  Reply reply{endOf(m), m};
  if (reply.end == CallEnd::timeout && p->owner->hangMarks_ && !p->cut) {
    p->owner->unanswered_.insert(p->dest);
  }
  if (reply.end != CallEnd::ok) reply.message = nullptr;
  p->handler(reply);
  return 0;
}

void Batch::call(const std::string& dest, const std::string& path, const char* interface,
                 const char* member, const Appender& append, Handler handler,
                 std::uint64_t timeoutUsec) {
  sd_bus* bus = a11yBus();
  if (dest.empty() || bus == nullptr) {
    handler(Reply{CallEnd::gone, nullptr});
    return;
  }
  if (isHung(dest) || pastRunDeadline()) {
    handler(Reply{CallEnd::timeout, nullptr});
    return;
  }
  if (!onlyReads(dest, member)) forgetKeptAnswers();
  if (direct_) bus = connectionFor(dest);
  sd_bus_message* m = nullptr;
  if (sd_bus_message_new_method_call(bus, &m, dest.c_str(), path.c_str(), interface, member) < 0) {
    handler(Reply{CallEnd::failed, nullptr});
    return;
  }
  if (append && append(m) < 0) {
    sd_bus_message_unref(m);
    handler(Reply{CallEnd::failed, nullptr});
    return;
  }
  auto* p = new Pending{this, dest, std::move(handler), nullptr, false, false};
  std::uint64_t usec = timeoutUsec != 0 ? timeoutUsec : timeoutFor(dest);
  if (runDeadline != 0) {
    std::uint64_t now = monotonicUsec();
    std::uint64_t left = runDeadline > now ? runDeadline - now : 0;
    if (left < usec) {
      usec = left;
      p->cut = true;
    }
  }
  int r = sd_bus_call_async(bus, &p->slot, m, &Batch::onReply, p, usec);
  sd_bus_message_unref(m);
  if (r < 0) {
    p->done = true;
    p->handler(Reply{CallEnd::failed, nullptr});
    delete p;
    return;
  }
  pending_.push_back(p);
  ++outstanding_;
  if (std::find(connections_.begin(), connections_.end(), bus) == connections_.end()) {
    connections_.push_back(bus);
  }
}

void Batch::run() {
  std::vector<sd_bus*> live = connections_;
  while (outstanding_ > 0 && !live.empty()) {
    bool progressed = false;
    for (auto it = live.begin(); it != live.end();) {
      int r = sd_bus_process(*it, nullptr);
      if (r < 0) {
        it = live.erase(it);  // closed: its calls were answered with errors on the way
        continue;
      }
      progressed = progressed || r > 0;
      ++it;
    }
    // A timed-out call is answered inside sd_bus_process, which may still return 0: look at
    // what is left before waiting for more.
    if (progressed || outstanding_ == 0 || live.empty()) continue;
    std::vector<pollfd> fds;
    std::uint64_t until = UINT64_MAX;
    for (sd_bus* b : live) {
      int fd = sd_bus_get_fd(b);
      int events = sd_bus_get_events(b);
      if (fd < 0 || events < 0) continue;
      fds.push_back(pollfd{fd, static_cast<short>(events), 0});
      std::uint64_t t = 0;
      if (sd_bus_get_timeout(b, &t) > 0) until = std::min(until, t);
    }
    int timeoutMs = -1;
    if (until != UINT64_MAX) {
      timespec now{};
      clock_gettime(CLOCK_MONOTONIC, &now);
      std::uint64_t nowUsec = static_cast<std::uint64_t>(now.tv_sec) * 1'000'000ULL +
                              static_cast<std::uint64_t>(now.tv_nsec) / 1000ULL;
      timeoutMs = until <= nowUsec ? 0 : static_cast<int>(std::min<std::uint64_t>(
                                              (until - nowUsec + 999) / 1000, 60'000));
    }
    if (fds.empty()) break;
    if (::poll(fds.data(), fds.size(), timeoutMs) < 0 && errno != EINTR) break;
  }
  // A broken connection leaves calls unanswered: they fail.
  for (Pending* p : pending_) {
    if (!p->done) {
      p->done = true;
      --outstanding_;
      p->handler(Reply{CallEnd::failed, nullptr});
    }
    sd_bus_slot_unref(p->slot);
    delete p;
  }
  pending_.clear();
  connections_.clear();
  // One call that went unanswered costs that call: the application counts as hung only when a
  // cheap question to its root object goes unanswered as well.
  std::set<std::string> unanswered;
  unanswered.swap(unanswered_);
  for (const std::string& dest : unanswered) {
    if (!isHung(dest) && !answersProbe(dest, direct_)) hung().insert(dest);
  }
}

bool Batch::answersProbe(const std::string& dest, bool direct) {
  if (pastRunDeadline()) return true;
  Batch probe(false, direct);
  bool answered = true;
  bool cut = false;
  std::uint64_t usec = std::min(timeoutFor(dest), PROBE_TIMEOUT_USEC);
  probe.call(dest, ROOT_PATH, IFACE_ACCESSIBLE, "GetRole", nullptr,
             [&](const Reply& r) { answered = r.end != CallEnd::timeout; }, usec);
  if (!probe.pending_.empty()) cut = probe.pending_.front()->cut;
  probe.run();
  // A probe that the run's deadline cut short proves nothing.
  return answered || cut;
}

void callNow(const std::string& dest, const std::string& path, const char* interface,
             const char* member, const Appender& append, const Handler& handler,
             std::uint64_t timeoutUsec) {
  Batch batch;
  batch.call(dest, path, interface, member, append, handler, timeoutUsec);
  batch.run();
}

bool dispatchPending() {
  sd_bus* bus = a11yBus();
  if (bus == nullptr) return false;
  bool any = false;
  while (sd_bus_process(bus, nullptr) > 0) any = true;
  return any;
}

void waitForMessage(std::uint64_t usec) {
  sd_bus* bus = a11yBus();
  if (bus == nullptr) return;
  sd_bus_wait(bus, usec);
}

bool readString(sd_bus_message* m, std::string& out) {
  const char* s = nullptr;
  if (sd_bus_message_read(m, "s", &s) < 0 || s == nullptr) return false;
  out = s;
  return true;
}

bool readObjectRef(sd_bus_message* m, std::string& bus, std::string& path) {
  const char* b = nullptr;
  const char* p = nullptr;
  if (sd_bus_message_read(m, "(so)", &b, &p) <= 0 || b == nullptr || p == nullptr) return false;
  bus = b;
  path = p;
  return true;
}

bool readObjectRefs(sd_bus_message* m, std::vector<std::pair<std::string, std::string>>& out) {
  if (sd_bus_message_enter_container(m, 'a', "(so)") <= 0) return false;
  const char* b = nullptr;
  const char* p = nullptr;
  int r;
  while ((r = sd_bus_message_read(m, "(so)", &b, &p)) > 0) out.emplace_back(b, p);
  sd_bus_message_exit_container(m);
  return r >= 0;
}

bool skipValue(sd_bus_message* m) { return sd_bus_message_skip(m, nullptr) >= 0; }

namespace {

// Enters the variant when it holds `contents` and reads it with `read`; otherwise skips it.
template <class Read>
bool readVariant(sd_bus_message* m, const char* contents, Read read) {
  if (sd_bus_message_enter_container(m, 'v', contents) > 0) {
    bool ok = read();
    sd_bus_message_exit_container(m);
    return ok;
  }
  skipValue(m);
  return false;
}

}  // namespace

bool variantString(sd_bus_message* m, std::string& out) {
  return readVariant(m, "s", [&] { return readString(m, out); });
}

bool variantInt(sd_bus_message* m, std::int32_t& out) {
  return readVariant(m, "i", [&] { return sd_bus_message_read(m, "i", &out) > 0; });
}

bool variantDouble(sd_bus_message* m, double& out) {
  return readVariant(m, "d", [&] { return sd_bus_message_read(m, "d", &out) > 0; });
}

namespace {

// Reads one basic value of type T (whose D-Bus type code is `code`) as a double.
template <class T>
bool readNumberAs(sd_bus_message* m, char code, double& out) {
  T v{};
  if (sd_bus_message_read_basic(m, code, &v) <= 0) return false;
  out = static_cast<double>(v);
  return true;
}

}  // namespace

bool variantNumber(sd_bus_message* m, double& out) {
  char type = 0;
  const char* contents = nullptr;
  if (sd_bus_message_peek_type(m, &type, &contents) <= 0 || type != 'v' || contents == nullptr ||
      std::strlen(contents) != 1) {
    skipValue(m);
    return false;
  }
  return readVariant(m, contents, [&] {
    switch (contents[0]) {
      case 'd': return readNumberAs<double>(m, 'd', out);
      case 'y': return readNumberAs<std::uint8_t>(m, 'y', out);
      case 'n': return readNumberAs<std::int16_t>(m, 'n', out);
      case 'q': return readNumberAs<std::uint16_t>(m, 'q', out);
      case 'i': return readNumberAs<std::int32_t>(m, 'i', out);
      case 'u': return readNumberAs<std::uint32_t>(m, 'u', out);
      case 'x': return readNumberAs<std::int64_t>(m, 'x', out);
      case 't': return readNumberAs<std::uint64_t>(m, 't', out);
      default: return false;
    }
  });
}

bool variantObjectRef(sd_bus_message* m, std::string& bus, std::string& path) {
  return readVariant(m, "(so)", [&] { return readObjectRef(m, bus, path); });
}

void getProperty(Batch& batch, const std::string& dest, const std::string& path,
                 const char* interface, const char* property,
                 std::function<void(sd_bus_message*)> read, std::uint64_t timeoutUsec) {
  batch.call(dest, path, IFACE_PROPERTIES, "Get",
             [interface, property](sd_bus_message* m) {
               return sd_bus_message_append(m, "ss", interface, property);
             },
             [read = std::move(read)](const Reply& r) {
               if (r.end == CallEnd::ok) read(r.message);
             },
             timeoutUsec);
}

}  // namespace uiglean::lx
