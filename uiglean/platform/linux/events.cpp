// Events: observers and the run loop (the notification table in README.md).
//
// Applications emit events only for listeners registered with the registry, so an observer
// registers the event types its notifications need, listens for the application's signals, and
// the run loop turns each signal into the macOS notifications it stands for.
#include <algorithm>
#include <chrono>
#include <deque>
#include <map>
#include <set>
#include <thread>

#include "uiglean/ax/platform.h"
#include "uiglean/platform/linux/elements.h"
#include "uiglean/platform/linux/keptanswers.h"
#include "uiglean/platform/linux/workspace.h"

namespace uiglean {

using namespace lx;

struct ObserverImpl {
  std::int32_t pid = 0;
  std::string bus;
  ObserverCallback callback = nullptr;
  std::map<std::string, void*> subscribed;  // notification -> context
  std::set<std::string> registered;         // event types registered with the registry
  std::set<std::pair<std::string, std::string>> matched;  // interface, member
  std::vector<sd_bus_slot*> slots;
  struct RawEvent {
    std::string interface, member, detail, path;
    std::int32_t detail1 = 0;
  };
  std::deque<RawEvent> raw;
  std::deque<std::pair<std::string, std::string>> ready;  // notification, source path
  bool inRunLoop = false;
  // Leaves the run loop, drops its signal matches and takes back its event registrations (a
  // process that makes many runs drops each run's observers; a one-shot run's exit does all of
  // that by itself).
  ~ObserverImpl();
};

namespace {

struct EventSource {
  const char* registration;  // the registry's event type
  const char* interface;     // the signal that carries it
  const char* member;
};

struct NotificationEvents {
  const char* notification;
  std::vector<EventSource> sources;
};

const std::vector<NotificationEvents>& eventTable() {
  static const std::vector<NotificationEvents> table = {
      {"AXValueChanged",
       {{"object:text-changed", "org.a11y.atspi.Event.Object", "TextChanged"},
        {"object:property-change:accessible-value", "org.a11y.atspi.Event.Object",
         "PropertyChange"},
        {"object:state-changed:checked", "org.a11y.atspi.Event.Object", "StateChanged"},
        {"object:state-changed:pressed", "org.a11y.atspi.Event.Object", "StateChanged"},
        {"object:state-changed:indeterminate", "org.a11y.atspi.Event.Object", "StateChanged"}}},
      {"AXLayoutChanged",
       {{"object:bounds-changed", "org.a11y.atspi.Event.Object", "BoundsChanged"},
        {"object:children-changed:add", "org.a11y.atspi.Event.Object", "ChildrenChanged"}}},
      {"AXTitleChanged",
       {{"object:property-change:accessible-name", "org.a11y.atspi.Event.Object",
         "PropertyChange"}}},
      {"AXRowCountChanged",
       {{"object:row-inserted", "org.a11y.atspi.Event.Object", "RowInserted"},
        {"object:row-deleted", "org.a11y.atspi.Event.Object", "RowDeleted"},
        {"object:children-changed", "org.a11y.atspi.Event.Object", "ChildrenChanged"}}},
      {"AXSelectedTextChanged",
       {{"object:text-caret-moved", "org.a11y.atspi.Event.Object", "TextCaretMoved"},
        {"object:text-selection-changed", "org.a11y.atspi.Event.Object",
         "TextSelectionChanged"}}},
      {"AXFocusedUIElementChanged",
       {{"object:state-changed:focused", "org.a11y.atspi.Event.Object", "StateChanged"},
        {"focus:", "org.a11y.atspi.Event.Focus", "Focus"}}},
      {"AXWindowCreated", {{"window:create", "org.a11y.atspi.Event.Window", "Create"}}},
      {"AXSheetCreated", {{"window:create", "org.a11y.atspi.Event.Window", "Create"}}},
      {"AXMenuOpened",
       {{"object:state-changed:showing", "org.a11y.atspi.Event.Object", "StateChanged"},
        {"window:create", "org.a11y.atspi.Event.Window", "Create"}}},
      {"AXUIElementDestroyed",
       {{"object:children-changed:remove", "org.a11y.atspi.Event.Object", "ChildrenChanged"},
        {"object:state-changed:defunct", "org.a11y.atspi.Event.Object", "StateChanged"}}},
  };
  return table;
}

std::vector<ObserverImpl*>& runLoopObservers() {
  static std::vector<ObserverImpl*> list;
  return list;
}

}  // namespace

// The registry answers at once; a registry that does not is not waited for long.
constexpr std::uint64_t DEREGISTER_TIMEOUT_USEC = 500'000;

ObserverImpl::~ObserverImpl() {
  auto& list = runLoopObservers();
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
  for (sd_bus_slot* slot : slots) sd_bus_slot_unref(slot);
  if (registered.empty() || a11yBus() == nullptr) return;
  Batch batch(false, false);
  for (const auto& type : registered) {
    // The answers kept between runs rely on that type too: taking it back would take theirs.
    if (keptEventsCover(type)) continue;
    batch.call(REGISTRY_NAME, REGISTRY_PATH, IFACE_REGISTRY, "DeregisterEvent",
               [&type](sd_bus_message* m) { return sd_bus_message_append(m, "s", type.c_str()); },
               [](const Reply&) {}, DEREGISTER_TIMEOUT_USEC);
  }
  batch.run();
}

namespace {

int onSignal(sd_bus_message* m, void* userdata, sd_bus_error*) {
  auto* o = static_cast<ObserverImpl*>(userdata);
  ObserverImpl::RawEvent ev;
  const char* iface = sd_bus_message_get_interface(m);
  const char* member = sd_bus_message_get_member(m);
  const char* path = sd_bus_message_get_path(m);
  ev.interface = iface != nullptr ? iface : "";
  ev.member = member != nullptr ? member : "";
  ev.path = path != nullptr ? path : "";
  const char* detail = nullptr;
  std::int32_t d1 = 0;
  if (sd_bus_message_read(m, "si", &detail, &d1) > 0) {
    ev.detail = detail != nullptr ? detail : "";
    ev.detail1 = d1;
  }
  o->raw.push_back(std::move(ev));
  return 0;
}

// Roles of event sources, kept for the run (an object's role does not change).
std::uint32_t roleOf(const std::string& bus, const std::string& path, std::uint64_t* states) {
  ElementImpl e{bus, path, View::object, Context::other, nullptr};
  Node& n = fetch(e, Part::base);
  if (states != nullptr) *states = n.states;
  return n.baseEnd == CallEnd::ok ? n.role : 0;
}

bool isTableLike(std::uint32_t r) {
  return r == role::table || r == role::treeTable || r == role::tree || r == role::list ||
         r == role::listBox;
}

// The notifications one raw event stands for.
std::vector<std::string> translate(const ObserverImpl& o, const ObserverImpl::RawEvent& ev) {
  std::vector<std::string> out;
  const std::string& m = ev.member;
  if (ev.interface == "org.a11y.atspi.Event.Object") {
    if (m == "TextChanged") {
      out.emplace_back("AXValueChanged");
    } else if (m == "PropertyChange") {
      if (ev.detail == "accessible-value") out.emplace_back("AXValueChanged");
      if (ev.detail == "accessible-name") out.emplace_back("AXTitleChanged");
    } else if (m == "StateChanged") {
      if ((ev.detail == "checked" || ev.detail == "pressed" || ev.detail == "indeterminate")) {
        out.emplace_back("AXValueChanged");
      } else if (ev.detail == "focused" && ev.detail1 != 0) {
        out.emplace_back("AXFocusedUIElementChanged");
      } else if (ev.detail == "defunct" && ev.detail1 != 0) {
        out.emplace_back("AXUIElementDestroyed");
      } else if (ev.detail == "showing" && ev.detail1 != 0 &&
                 o.subscribed.count("AXMenuOpened") != 0) {
        std::uint32_t r = roleOf(o.bus, ev.path, nullptr);
        if (r == role::popupMenu || (r == role::menu && ev.path != ROOT_PATH)) {
          out.emplace_back("AXMenuOpened");
        }
      }
    } else if (m == "BoundsChanged") {
      out.emplace_back("AXLayoutChanged");
    } else if (m == "ChildrenChanged") {
      bool add = ev.detail.rfind("add", 0) == 0;
      out.emplace_back(add ? "AXLayoutChanged" : "AXUIElementDestroyed");
      if (o.subscribed.count("AXRowCountChanged") != 0 &&
          isTableLike(roleOf(o.bus, ev.path, nullptr))) {
        out.emplace_back("AXRowCountChanged");
      }
    } else if (m == "RowInserted" || m == "RowDeleted") {
      out.emplace_back("AXRowCountChanged");
    } else if (m == "TextCaretMoved" || m == "TextSelectionChanged") {
      out.emplace_back("AXSelectedTextChanged");
    }
  } else if (ev.interface == "org.a11y.atspi.Event.Window" && m == "Create") {
    // The event's source is the new window: a modal dialog is a sheet, a window that only
    // holds a menu is a menu opening.
    std::uint64_t states = 0;
    std::uint32_t r = roleOf(o.bus, ev.path, &states);
    if (r == role::menu || r == role::popupMenu) {
      out.emplace_back("AXMenuOpened");
    } else if ((r == role::dialog || r == role::alert || r == role::fileChooser) &&
               hasState(states, state::modal)) {
      out.emplace_back("AXSheetCreated");
    } else {
      out.emplace_back("AXWindowCreated");
    }
  } else if (ev.interface == "org.a11y.atspi.Event.Focus") {
    out.emplace_back("AXFocusedUIElementChanged");
  }
  return out;
}

// Moves raw events into the observers' ready queues; true when any notification is ready.
bool translatePending() {
  bool any = false;
  for (ObserverImpl* o : runLoopObservers()) {
    while (!o->raw.empty()) {
      ObserverImpl::RawEvent ev = std::move(o->raw.front());
      o->raw.pop_front();
      for (const auto& name : translate(*o, ev)) {
        if (o->subscribed.count(name) != 0) o->ready.emplace_back(name, ev.path);
      }
    }
    any = any || !o->ready.empty();
  }
  return any;
}

// Delivers one ready notification (or all of them); the number delivered.
int deliver(bool onlyOne) {
  int delivered = 0;
  for (ObserverImpl* o : runLoopObservers()) {
    while (!o->ready.empty()) {
      auto [name, path] = o->ready.front();
      o->ready.pop_front();
      Element source = makeElement(o->bus, path, View::object, Context::unknown);
      Observer handle{std::shared_ptr<ObserverImpl>(std::shared_ptr<ObserverImpl>{}, o)};
      o->callback(handle, source, name, o->subscribed[name]);
      ++delivered;
      if (onlyOne) return delivered;
    }
  }
  return delivered;
}

}  // namespace

ObserverCreateResult axObserverCreate(std::int32_t pid, ObserverCallback callback) {
  ObserverCreateResult result;
  if (callback == nullptr) {
    result.status = axerr::illegalArgument;
    return result;
  }
  if (a11yBus() == nullptr) return result;
  std::string bus = busForPid(pid);
  if (bus.empty()) {
    result.status = axerr::cannotComplete;
    return result;
  }
  auto impl = std::make_shared<ObserverImpl>();
  impl->pid = pid;
  impl->bus = bus;
  impl->callback = callback;
  result.status = axerr::success;
  result.observer = Observer{impl};
  return result;
}

std::int32_t axObserverAddNotification(const Observer& observer, const Element& element,
                                       const std::string& notification, void* context) {
  if (!observer || !element) return axerr::illegalArgument;
  ObserverImpl& o = *observer.impl;
  const auto& table = eventTable();
  auto it = std::find_if(table.begin(), table.end(), [&](const NotificationEvents& n) {
    return notification == n.notification;
  });
  if (it == table.end()) return axerr::notificationUnsupported;
  o.subscribed[notification] = context;
  sd_bus* bus = a11yBus();
  Batch batch;
  for (const auto& src : it->sources) {
    std::pair<std::string, std::string> key{src.interface, src.member};
    if (o.matched.insert(key).second) {
      sd_bus_slot* slot = nullptr;
      if (sd_bus_match_signal(bus, &slot, o.bus.c_str(), nullptr, src.interface, src.member,
                              onSignal, &o) >= 0) {
        o.slots.push_back(slot);
      }
    }
    // A type the kept answers registered is announced already.
    if (keptEventsCover(src.registration)) continue;
    if (o.registered.insert(src.registration).second) {
      std::string type = src.registration;
      batch.call(REGISTRY_NAME, REGISTRY_PATH, IFACE_REGISTRY, "RegisterEvent",
                 [type](sd_bus_message* m) { return sd_bus_message_append(m, "s", type.c_str()); },
                 [](const Reply&) {});
    }
  }
  batch.run();
  return axerr::success;
}

void addObserverToRunLoop(const Observer& observer) {
  if (!observer) return;
  ObserverImpl* o = observer.impl.get();
  auto& list = runLoopObservers();
  if (std::find(list.begin(), list.end(), o) != list.end()) return;
  list.push_back(o);
  // The application hears of new listeners through the registry's signal, which reaches it
  // before anything we send after the registration: one answered call means it is listening.
  Batch sync(true, false);  // over the bus, behind the registry's signal
  sync.call(o->bus, ROOT_PATH, IFACE_ACCESSIBLE, "GetRole", nullptr, [](const Reply&) {});
  sync.run();
}

std::int32_t runLoopRunInMode(double seconds, bool returnAfterSourceHandled) {
  using clock = std::chrono::steady_clock;
  auto deadline = clock::now() + std::chrono::duration_cast<clock::duration>(
                                     std::chrono::duration<double>(std::max(0.0, seconds)));
  forgetAnswers();
  if (runLoopObservers().empty()) {
    // Nothing to wait for: the slice passes.
    std::this_thread::sleep_until(deadline);
    return 1;
  }
  bool handled = false;
  for (;;) {
    dispatchPending();
    if (translatePending()) {
      int n = deliver(returnAfterSourceHandled);
      if (n > 0) handled = true;
      if (returnAfterSourceHandled && handled) return 4;
    }
    auto now = clock::now();
    if (now >= deadline) return handled ? 4 : 3;
    auto usec = std::chrono::duration_cast<std::chrono::microseconds>(deadline - now).count();
    waitForMessage(static_cast<std::uint64_t>(std::max<long long>(usec, 1)));
  }
}

}  // namespace uiglean
