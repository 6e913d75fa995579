#include "uiglean/platform/linux/keptanswers.h"

#include <algorithm>
#include <chrono>
#include <set>

#include "uiglean/platform/linux/bus.h"
#include "uiglean/platform/linux/elements.h"
#include "uiglean/platform/linux/roles.h"
#include "uiglean/platform/linux/strings.h"
#include "uiglean/platform/linux/workspace.h"

namespace uiglean::lx {

namespace {

std::string keyOf(const KeptRef& ref) { return ref.first + '\n' + ref.second; }

// What a slot costs besides its key and actions: the list and map nodes, the optionals.
constexpr std::size_t SLOT_OVERHEAD = 256;

}  // namespace

KeptAnswers::KeptAnswers(std::size_t maxEntries, std::size_t maxBytes)
    : maxEntries_(std::max<std::size_t>(maxEntries, 1)), maxBytes_(maxBytes) {}

const Kept* KeptAnswers::find(const KeptRef& ref) {
  auto it = index_.find(keyOf(ref));
  if (it == index_.end()) return nullptr;
  slots_.splice(slots_.begin(), slots_, it->second);
  return &it->second->kept;
}

KeptAnswers::Slot& KeptAnswers::slotFor(const KeptRef& ref) {
  std::string key = keyOf(ref);
  auto it = index_.find(key);
  if (it != index_.end()) {
    slots_.splice(slots_.begin(), slots_, it->second);
    return *it->second;
  }
  slots_.push_front(Slot{key, ref.first, Kept{}, 0});
  index_.emplace(std::move(key), slots_.begin());
  return slots_.front();
}

void KeptAnswers::account(Slot& s) {
  std::size_t size = SLOT_OVERHEAD + 2 * s.key.size();
  if (s.kept.actions) {
    for (const auto& [name, binding] : *s.kept.actions) size += name.size() + binding.size() + 64;
  }
  bytes_ = bytes_ - s.bytes + size;
  s.bytes = size;
}

void KeptAnswers::erase(Slots::iterator it) {
  bytes_ -= it->bytes;
  index_.erase(it->key);
  slots_.erase(it);
}

void KeptAnswers::evict() {
  while (!slots_.empty() && (index_.size() > maxEntries_ || bytes_ > maxBytes_)) {
    erase(std::prev(slots_.end()));
  }
}

void KeptAnswers::afterKeeping(Slot& s) {
  account(s);
  if (s.bytes > maxBytes_ / 16) {
    erase(index_.find(s.key)->second);
    return;
  }
  evict();
}

void KeptAnswers::keepBase(const KeptRef& ref, KeptBase base) {
  Slot& s = slotFor(ref);
  s.kept.base = base;
  afterKeeping(s);
}

void KeptAnswers::keepActions(const KeptRef& ref, KeptActions actions, bool actionInterface) {
  auto it = index_.find(keyOf(ref));
  if (it == index_.end()) return;
  Slot& s = slotFor(ref);
  s.kept.actions = std::move(actions);
  s.kept.actionInterface = actionInterface;
  afterKeeping(s);
}

void KeptAnswers::forget(const KeptRef& ref) {
  auto it = index_.find(keyOf(ref));
  if (it != index_.end()) erase(it->second);
}

void KeptAnswers::forgetApp(const std::string& bus) {
  for (auto it = slots_.begin(); it != slots_.end();) {
    auto next = std::next(it);
    if (it->bus == bus) erase(it);
    it = next;
  }
}

void KeptAnswers::clear() {
  slots_.clear();
  index_.clear();
  bytes_ = 0;
}

// --- The server's use of the store ------------------------------------------------------------

namespace {

// The event types the store relies on, registered with the registry as long as it keeps answers.
// Children, text, value and bounds events are not among them: what they announce is never kept.
constexpr const char* KEPT_TYPES[] = {"object:property-change", "object:state-changed",
                                      "object:selection-changed",
                                      "object:active-descendant-changed"};

// States an object takes from its ancestors in GTK 3 (a part of a window made insensitive, a
// part hidden): a change announced for one object only, while its descendants change too.
bool inherited(std::string_view state) {
  return state == "sensitive" || state == "enabled" || state == "showing" || state == "visible";
}

// The bounds of the store: a few snapshots of the largest applications.
constexpr std::size_t MAX_ENTRIES = 60'000;
constexpr std::size_t MAX_BYTES = 48u << 20;

// More events than this between two looks (the ordering call, the start of a run) is a flood:
// everything is dropped, since the bus may have dropped events too when its queue for us filled,
// and keeping pauses. The first pause lasts a minute, each one after it twice as long, at most an
// hour.
constexpr std::uint64_t FLOOD_EVENTS = 20'000;
constexpr std::chrono::seconds FIRST_PAUSE{60};
constexpr std::chrono::seconds LONGEST_PAUSE{3600};

// Events applied while a fetch is under way, remembered up to this many; beyond it nothing that
// fetch learnt is kept.
constexpr std::size_t MAX_TOUCHED = 4096;

using Clock = std::chrono::steady_clock;

struct State {
  bool enabled = false;
  KeptAnswers store{MAX_ENTRIES, MAX_BYTES};
  // The registration: on which connection of the accessibility bus, with the signal matches.
  bool registered = false;
  bool triedThisRun = false;
  std::uint64_t generation = 0;
  std::vector<sd_bus_slot*> slots;
  // Applications whose ordering call this epoch made: epoch per bus name.
  std::unordered_map<std::string, std::uint64_t> usableIn;
  // Applications found unusable in an epoch (not trusted, not answering): not looked at again in
  // it.
  std::unordered_map<std::string, std::uint64_t> unusableIn;
  std::uint64_t eventsSinceLook = 0;
  bool paused = false;
  Clock::time_point pausedUntil{};
  std::chrono::seconds nextPause = FIRST_PAUSE;
  // Fetches under way, and the objects events touched meanwhile.
  int fetching = 0;
  std::set<std::string> touched;
  std::set<std::string> appTouched;  // applications whose states all went meanwhile
  bool touchedOverflow = false;
};

State& kept() {
  // Never destroyed: nothing that runs at exit finds it gone.
  static auto* s = new State;
  return *s;
}

void touch(State& s, const KeptRef& ref) {
  if (s.fetching == 0) return;
  if (s.touched.size() >= MAX_TOUCHED) {
    s.touchedOverflow = true;
    return;
  }
  s.touched.insert(keyOf(ref));
}

// Applies one object event: what it says may have changed is dropped.
int onObjectEvent(sd_bus_message* m, void*, sd_bus_error*) {
  State& s = kept();
  ++s.eventsSinceLook;
  const char* sender = sd_bus_message_get_sender(m);
  const char* path = sd_bus_message_get_path(m);
  const char* member = sd_bus_message_get_member(m);
  if (sender == nullptr || path == nullptr || member == nullptr) return 0;
  KeptRef ref{sender, path};
  std::string_view what = member;
  const char* detail = nullptr;
  if (sd_bus_message_read(m, "s", &detail) <= 0 || detail == nullptr) detail = "";
  if (what == "StateChanged") {
    std::string_view state = detail;
    if (state == "defunct") {
      s.store.forget(ref);
    } else if (inherited(state)) {
      // Which objects below it changed is not said: the application's states all go.
      s.store.forgetApp(ref.first);
      if (s.fetching > 0 && s.appTouched.size() < MAX_TOUCHED) s.appTouched.insert(ref.first);
    } else {
      s.store.forget(ref);
    }
    touch(s, ref);
  } else if (what == "PropertyChange") {
    // A role among them: the role, states and actions go together.
    s.store.forget(ref);
    touch(s, ref);
  } else if (what == "SelectionChanged" || what == "ActiveDescendantChanged") {
    // GTK 3's notebooks and list boxes announce that their selection moved, not which pages or
    // rows it left and reached: the application's states all go.
    s.store.forgetApp(ref.first);
    if (s.fetching > 0 && s.appTouched.size() < MAX_TOUCHED) s.appTouched.insert(ref.first);
    touch(s, ref);
  }
  return 0;
}

// An application that leaves the bus takes its answers with it; a new registry knows nothing of
// our registration.
int onOwnerChanged(sd_bus_message* m, void*, sd_bus_error*) {
  State& s = kept();
  const char* name = nullptr;
  const char* before = nullptr;
  const char* after = nullptr;
  if (sd_bus_message_read(m, "sss", &name, &before, &after) <= 0 || name == nullptr ||
      after == nullptr) {
    return 0;
  }
  std::string_view n = name;
  if (n == REGISTRY_NAME) {
    s.store.clear();
    s.registered = false;  // registered again at the next run
    s.usableIn.clear();
  } else if (!n.empty() && n[0] == ':' && *after == '\0') {
    s.store.forgetApp(std::string(n));
    s.usableIn.erase(std::string(n));
  }
  return 0;
}

void dropSlots(State& s) {
  for (sd_bus_slot* slot : s.slots) sd_bus_slot_unref(slot);
  s.slots.clear();
}

void deregister(State& s) {
  if (s.registered && a11yBus() != nullptr && s.generation == busGeneration()) {
    Batch batch(false, false);
    for (const char* type : KEPT_TYPES) {
      batch.call(REGISTRY_NAME, REGISTRY_PATH, IFACE_REGISTRY, "DeregisterEvent",
                 [type](sd_bus_message* m) { return sd_bus_message_append(m, "s", type); },
                 [](const Reply&) {}, PROBE_TIMEOUT_USEC);
    }
    batch.run();
  }
  dropSlots(s);
  s.registered = false;
  s.store.clear();
  s.usableIn.clear();
}

// Registers for the kept types on the current accessibility bus when that is not done yet; at
// most one try a run.
bool ensureRegistered(State& s) {
  sd_bus* bus = a11yBus();
  if (bus == nullptr) return false;
  if (s.registered && s.generation == busGeneration()) return true;
  if (s.triedThisRun) return false;
  s.triedThisRun = true;
  // A new connection (the old one closed) or a new registry: nothing earlier can be told apart.
  dropSlots(s);
  s.store.clear();
  s.usableIn.clear();
  s.registered = false;
  sd_bus_slot* slot = nullptr;
  if (sd_bus_match_signal(bus, &slot, nullptr, nullptr, "org.a11y.atspi.Event.Object", nullptr,
                          onObjectEvent, nullptr) < 0) {
    return false;
  }
  s.slots.push_back(slot);
  slot = nullptr;
  if (sd_bus_match_signal(bus, &slot, DBUS_NAME, DBUS_PATH, DBUS_NAME, "NameOwnerChanged",
                          onOwnerChanged, nullptr) < 0) {
    dropSlots(s);
    return false;
  }
  s.slots.push_back(slot);
  bool all = true;
  Batch batch(false, false);
  for (const char* type : KEPT_TYPES) {
    batch.call(REGISTRY_NAME, REGISTRY_PATH, IFACE_REGISTRY, "RegisterEvent",
               [type](sd_bus_message* m) { return sd_bus_message_append(m, "s", type); },
               [&all](const Reply& r) { all = all && r.end == CallEnd::ok; }, PROBE_TIMEOUT_USEC);
  }
  batch.run();
  if (!all) {
    dropSlots(s);
    return false;
  }
  s.registered = true;
  s.generation = busGeneration();
  s.eventsSinceLook = 0;
  return true;
}

// A flood since the last look: everything goes, and keeping pauses.
bool flooded(State& s) {
  if (s.eventsSinceLook <= FLOOD_EVENTS) {
    s.eventsSinceLook = 0;
    return false;
  }
  s.eventsSinceLook = 0;
  s.store.clear();
  s.usableIn.clear();
  s.paused = true;
  s.pausedUntil = Clock::now() + s.nextPause;
  s.nextPause = std::min(s.nextPause * 2, LONGEST_PAUSE);
  return true;
}

// Toolkits whose events are trusted to announce every change of what is kept (README.md).
bool keptToolkit(const std::string& bus) {
  const AccessibleApp* app = appForBus(bus);
  if (app == nullptr || asciiLower(app->toolkit) != "gtk") return false;
  const std::string& v = app->toolkitVersion;
  return v.size() >= 2 && v[0] == '3' && v[1] == '.';
}

}  // namespace

void keepAnswersAcrossRuns() { kept().enabled = true; }

void keptNewRun() {
  State& s = kept();
  if (!s.enabled) return;
  s.triedThisRun = false;
  s.usableIn.clear();
  s.unusableIn.clear();
  s.fetching = 0;
  s.touched.clear();
  s.appTouched.clear();
  s.touchedOverflow = false;
  if (s.registered) flooded(s);
  if (s.paused) {
    // Applications stop announcing what nobody keeps: the registration goes for the pause.
    if (s.registered) deregister(s);
    if (Clock::now() < s.pausedUntil) return;
    s.paused = false;
  }
}

bool keptUsable(const std::string& bus) {
  State& s = kept();
  if (!s.enabled || s.paused || bus.empty() || bus[0] != ':') return false;
  std::uint64_t epoch = answersEpoch();
  auto it = s.usableIn.find(bus);
  if (it != s.usableIn.end() && it->second == epoch) return true;
  auto no = s.unusableIn.find(bus);
  if (no != s.unusableIn.end() && no->second == epoch) return false;
  if (s.unusableIn.size() > 1024) s.unusableIn.clear();
  s.unusableIn[bus] = epoch;
  if (!ensureRegistered(s) || !keptToolkit(bus)) return false;
  // The ordering call: over the accessibility bus, behind whatever the application sent there
  // before it; the signals that came first are applied while its reply is awaited.
  bool answered = false;
  Batch order(false, false);
  order.call(bus, ROOT_PATH, IFACE_ACCESSIBLE, "GetRole", nullptr,
             [&answered](const Reply& r) { answered = r.end == CallEnd::ok; },
             std::min(timeoutFor(bus), PROBE_TIMEOUT_USEC));
  order.run();
  if (flooded(s) || !s.registered || !answered) return false;
  s.unusableIn.erase(bus);
  s.usableIn[bus] = epoch;
  return true;
}

void seedFromKept(const KeptRef& ref, Node& n) {
  State& s = kept();
  if (!s.enabled || s.usableIn.empty()) return;
  auto it = s.usableIn.find(ref.first);
  if (it == s.usableIn.end() || it->second != answersEpoch()) return;
  const Kept* k = s.store.find(ref);
  if (k == nullptr) return;
  n.roleKnown = true;
  n.role = k->base.role;
  n.states = k->base.states;
  n.statesKnown = true;
  n.childCountHint = k->base.childCountHint;
  n.baseFromKept = true;
  if (k->actions) {
    n.actionsLoaded = true;
    n.actionsEnd = k->actionInterface ? CallEnd::ok : CallEnd::unsupported;
    n.actions = *k->actions;
    n.actionsFromKept = true;
  }
}

void keptFetchStarted() {
  State& s = kept();
  if (s.enabled) ++s.fetching;
}

void keptFetchEnded(Part part, const std::vector<KeptRef>& members) {
  State& s = kept();
  if (!s.enabled || s.fetching == 0) return;
  if ((part == Part::base || part == Part::actions) && !s.touchedOverflow && s.registered) {
    std::uint64_t epoch = answersEpoch();
    for (const auto& ref : members) {
      auto it = s.usableIn.find(ref.first);
      if (it == s.usableIn.end() || it->second != epoch) continue;
      if (s.touched.count(keyOf(ref)) != 0 || s.appTouched.count(ref.first) != 0) continue;
      Node& n = nodeOf(ref);
      if (part == Part::base && n.baseLoaded && !n.baseFromKept && n.baseEnd == CallEnd::ok &&
          n.roleKnown && n.statesKnown) {
        s.store.keepBase(ref, KeptBase{n.role, n.states, n.childCount});
      }
      // A menu item's key binding is its accelerator, which can change unannounced.
      if (part == Part::actions && n.actionsLoaded && !n.actionsFromKept &&
          (n.actionsEnd == CallEnd::ok || n.actionsEnd == CallEnd::unsupported) &&
          n.baseEnd == CallEnd::ok && !isMenuItemRole(n.role) && n.role != role::menu &&
          n.role != role::menuBar && n.role != role::popupMenu) {
        s.store.keepActions(ref, n.actions, n.actionsEnd == CallEnd::ok);
      }
    }
  }
  if (--s.fetching == 0) {
    s.touched.clear();
    s.appTouched.clear();
    s.touchedOverflow = false;
  }
}

void forgetKeptAnswers() {
  State& s = kept();
  if (!s.enabled) return;
  s.store.clear();
}

bool keptEventsCover(const std::string& type) {
  State& s = kept();
  if (!s.enabled || !s.registered) return false;
  for (std::string_view kept : KEPT_TYPES) {
    if (type == kept || (type.size() > kept.size() && type.compare(0, kept.size(), kept) == 0 &&
                         type[kept.size()] == ':')) {
      return true;
    }
  }
  return false;
}

}  // namespace uiglean::lx
