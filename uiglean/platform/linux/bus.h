// The bus connection: the session bus, the accessibility bus it leads to, and batches of
// asynchronous method calls on the accessibility bus.
//
// Every read the layer makes goes through a Batch: calls are queued, sent together, and their
// replies handled as they arrive, so that asking a hundred objects for their role costs one round
// trip instead of a hundred. Each call waits at most the messaging timeout of the application it
// goes to, and never past the run's deadline. A call that times out costs that call only: the
// application is treated as hung for the rest of the run (later calls to it fail at once instead
// of each waiting out the timeout again) only when a cheap question to it times out as well.
#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace uiglean::lx {

// Connects to the session bus and to the accessibility bus it names (org.a11y.Bus GetAddress)
// once per run; false when either cannot be reached. Turns org.a11y.Status IsEnabled on when it
// is off (applications that join the bus only then need a moment: see enabledJustNow).
bool connectBuses();
// The accessibility bus, or nullptr when connectBuses failed or was not called.
sd_bus* a11yBus();
// Counts the connections made to the accessibility bus: a new one (the old one closed) has a new
// number, so that what was set up on the old one is known to be gone.
std::uint64_t busGeneration();
// The session bus connectBuses opened (nullptr when there is none); its calls wait at most 2 s.
sd_bus* sessionBus();
// True when this run switched accessibility on itself.
bool enabledJustNow();
// Between two runs of one process: forgets messaging timeouts, hung marks and the applications'
// own connections that closed or were never made, and the buses themselves when the
// accessibility bus closed (the next run connects again). Working connections are kept.
void forgetRunState();

// Messaging timeouts, per application bus name, in microseconds.
inline constexpr std::uint64_t DEFAULT_TIMEOUT_USEC = 6'000'000;
void setTimeout(const std::string& busName, std::uint64_t usec);
std::uint64_t timeoutFor(const std::string& busName);
bool isHung(const std::string& busName);
// How long the question that tells a slow call from a hung application may wait at most.
inline constexpr std::uint64_t PROBE_TIMEOUT_USEC = 1'000'000;

// The run's deadline, `usecFromNow` from now (0: none). A call is never waited for past it, and
// a call made after it fails at once as a timeout (without marking anything hung).
void setRunDeadline(std::uint64_t usecFromNow);
bool pastRunDeadline();

// How a call ended, as the accessibility statuses the platform layer reports.
enum class CallEnd {
  ok,           // a method return
  timeout,      // no answer within the timeout, or the application is known to be hung
  gone,         // the object or its application no longer exists
  unsupported,  // the object has no such interface or method
  failed,       // any other error
};

struct Reply {
  CallEnd end = CallEnd::failed;
  sd_bus_message* message = nullptr;  // valid only inside the handler, only when end is ok
};

using Appender = std::function<int(sd_bus_message*)>;
using Handler = std::function<void(const Reply&)>;

// A set of calls sent together. run() returns when every call has been answered or timed out.
class Batch {
 public:
  // `hangMarks`: whether a timeout marks the application as hung (lookups that use a shorter
  // timeout than the application's own pass false).
  // `direct`: calls to an application go over its own peer-to-peer connection when it offers
  // one (no bus daemon in between); false keeps them on the accessibility bus, in order with
  // what the bus delivers to the application.
  explicit Batch(bool hangMarks = true, bool direct = true)
      : hangMarks_(hangMarks), direct_(direct) {}
  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;

  void call(const std::string& dest, const std::string& path, const char* interface,
            const char* member, const Appender& append, Handler handler,
            std::uint64_t timeoutUsec = 0);
  void run();
  std::size_t size() const { return pending_.size(); }

 private:
  struct Pending;
  static int onReply(sd_bus_message* m, void* userdata, sd_bus_error* error);
  // Whether the application answers GetRole of its root object within the probe's timeout.
  static bool answersProbe(const std::string& dest, bool direct);
  std::vector<Pending*> pending_;
  std::set<std::string> unanswered_;  // applications that let a call of this batch time out
  std::vector<sd_bus*> connections_;
  bool hangMarks_;
  bool direct_;
  std::size_t outstanding_ = 0;
};

// One call, waited for. The handler runs before this returns.
void callNow(const std::string& dest, const std::string& path, const char* interface,
             const char* member, const Appender& append, const Handler& handler,
             std::uint64_t timeoutUsec = 0);

// The connection calls to `dest` use: the application's peer-to-peer bus when it offers one that
// passes the checks of peer.h (asked once per run), else the accessibility bus.
sd_bus* connectionFor(const std::string& dest);

// Handles whatever messages have arrived (signals for observers) without blocking; true when
// anything was handled.
bool dispatchPending();
// Waits at most `usec` for a message to arrive.
void waitForMessage(std::uint64_t usec);

// Helpers for reading replies. Each returns false when the message does not hold that shape.
bool readString(sd_bus_message* m, std::string& out);
bool readObjectRef(sd_bus_message* m, std::string& bus, std::string& path);
bool readObjectRefs(sd_bus_message* m, std::vector<std::pair<std::string, std::string>>& out);
// Skips one complete value of whatever type comes next.
bool skipValue(sd_bus_message* m);

// Reads the variant that comes next when it holds that type; otherwise skips it and says false.
bool variantString(sd_bus_message* m, std::string& out);
bool variantInt(sd_bus_message* m, std::int32_t& out);
bool variantDouble(sd_bus_message* m, double& out);
// A number of any of the protocol's numeric types (toolkits differ), as a double.
bool variantNumber(sd_bus_message* m, double& out);
bool variantObjectRef(sd_bus_message* m, std::string& bus, std::string& path);

// Queues Properties.Get of one property; `read` gets the reply positioned at its variant, and
// only when the call succeeded.
void getProperty(Batch& batch, const std::string& dest, const std::string& path,
                 const char* interface, const char* property,
                 std::function<void(sd_bus_message*)> read, std::uint64_t timeoutUsec = 0);

// The accessibility bus's own daemon, and the well-known names and paths of the protocol.
inline constexpr const char* DBUS_NAME = "org.freedesktop.DBus";
inline constexpr const char* DBUS_PATH = "/org/freedesktop/DBus";
inline constexpr const char* REGISTRY_NAME = "org.a11y.atspi.Registry";
inline constexpr const char* ROOT_PATH = "/org/a11y/atspi/accessible/root";
inline constexpr const char* REGISTRY_PATH = "/org/a11y/atspi/registry";
inline constexpr const char* NULL_PATH = "/org/a11y/atspi/null";
inline constexpr const char* IFACE_ACCESSIBLE = "org.a11y.atspi.Accessible";
inline constexpr const char* IFACE_COMPONENT = "org.a11y.atspi.Component";
inline constexpr const char* IFACE_ACTION = "org.a11y.atspi.Action";
inline constexpr const char* IFACE_TEXT = "org.a11y.atspi.Text";
inline constexpr const char* IFACE_EDITABLE = "org.a11y.atspi.EditableText";
inline constexpr const char* IFACE_VALUE = "org.a11y.atspi.Value";
inline constexpr const char* IFACE_SELECTION = "org.a11y.atspi.Selection";
inline constexpr const char* IFACE_APPLICATION = "org.a11y.atspi.Application";
inline constexpr const char* IFACE_REGISTRY = "org.a11y.atspi.Registry";
inline constexpr const char* IFACE_PROPERTIES = "org.freedesktop.DBus.Properties";

}  // namespace uiglean::lx
