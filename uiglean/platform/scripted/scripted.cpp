// The scripted platform: answers every platform call from the scene and journals it.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <array>
#include <iterator>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <thread>
#include <fstream>
#include <iostream>

#include "uiglean/ax/platform.h"
#include "uiglean/front/json.h"
#include "uiglean/front/output.h"
#include "uiglean/platform/scripted/scripted.h"

namespace uiglean {

struct ObserverImpl {
  std::int32_t pid = 0;
  ObserverCallback callback = nullptr;
  Element appElement;
  std::vector<std::string> names;  // notifications added
  std::vector<void*> contexts;
  bool inRunLoop = false;
};

struct ImageImpl {
  std::string path;
};

struct BitmapImpl {
  std::string path;
  std::int64_t w = 0, h = 0;
};

namespace {

struct Pending {
  double atMs = 0;
  enum class Kind { Frontmost, Launch } kind = Kind::Frontmost;
  std::int32_t pid = 0;
  std::size_t installedIndex = 0;
};

struct State {
  Scene scene;
  bool loaded = false;
  double nowMs = 0;
  int journal = -1;  // the journal file, or -1
  std::vector<Pending> pending;
  std::vector<std::shared_ptr<ObserverImpl>> observers;
  std::map<std::int32_t, SElementPtr> strayApps;  // elements for pids that no app has
  // UIGLEAN_SCENE_PACE: run-loop waits also take their time on the wall clock (for a server's
  // tests, whose clients measure and cancel in real time).
  bool paced = false;
};

State& state() {
  static State s;
  return s;
}

Scene& scene() { return state().scene; }

// Appends one line for a call as it returns: a run that is killed or aborts keeps every line
// written so far, each whole.
void journal(json entry) {
  State& s = state();
  if (s.journal < 0) return;
  std::string line = entry.dump(-1, ' ', false, json::error_handler_t::replace);
  line.push_back('\n');
  writeAll(s.journal, line);
}

SElement& el(const Element& e) {
  if (!e.impl) {
    std::cerr << "uiglean-scripted: a null element was passed to the platform\n";
    std::abort();
  }
  return *e.impl;
}

Element handle(const SElementPtr& p) { return Element{p}; }

// Applies due activations and launches.
void settlePending() {
  State& s = state();
  bool changed = true;
  while (changed) {
    changed = false;
    for (std::size_t i = 0; i < s.pending.size(); ++i) {
      if (s.pending[i].atMs > s.nowMs) continue;
      Pending p = s.pending[i];
      s.pending.erase(s.pending.begin() + static_cast<std::ptrdiff_t>(i));
      if (p.kind == Pending::Kind::Frontmost) {
        s.scene.frontmost = p.pid;
      } else {
        SInstalled& inst = s.scene.installed[p.installedIndex];
        if (inst.launches) {
          s.scene.apps.push_back(*inst.launches);
          s.scene.frontmost = inst.launches->pid;
        }
      }
      changed = true;
      break;
    }
  }
}

void advanceTo(double ms) {
  State& s = state();
  if (ms > s.nowMs) s.nowMs = ms;
  settlePending();
}

SApp* appByPid(std::int32_t pid) {
  for (auto& a : scene().apps) {
    if (a.pid == pid) return &a;
  }
  return nullptr;
}

RunningApp running(const SApp& a) {
  return RunningApp{a.pid, a.name, a.bundleId, a.policy, a.hidden};
}

// Platform value -> scene value, for stored writes.
SValue fromPlatform(const Value& v) {
  SValue s;
  if (auto* str = std::get_if<std::string>(&v)) {
    s.kind = SValue::Kind::String;
    s.text = *str;
  } else if (auto* n = std::get_if<Number>(&v)) {
    if (n->isBool) {
      s.kind = SValue::Kind::Bool;
      s.num = n->value != 0 ? 1 : 0;
    } else {
      s.kind = SValue::Kind::Number;
      // An integer stays one when it is exact; anything else is kept as the real it is.
      constexpr double kTwo63 = 9223372036854775808.0;
      if (n->integer) {
        s.isInteger = true;
        s.integer = *n->integer;
      } else if (n->isInteger && n->value >= -kTwo63 && n->value < kTwo63 &&
                 n->value == std::trunc(n->value)) {
        s.isInteger = true;
        s.integer = static_cast<std::int64_t>(n->value);
      } else {
        s.num = n->value;
      }
    }
  } else if (auto* p = std::get_if<Point>(&v)) {
    s.kind = SValue::Kind::Point;
    s.a = p->x;
    s.b = p->y;
  } else if (auto* sz = std::get_if<Size>(&v)) {
    s.kind = SValue::Kind::Size;
    s.a = sz->width;
    s.b = sz->height;
  } else if (auto* r = std::get_if<Range>(&v)) {
    s.kind = SValue::Kind::Range;
    s.location = r->location;
    s.length = r->length;
  } else if (auto* e = std::get_if<Element>(&v)) {
    if (e->impl) {
      s.kind = SValue::Kind::Element;
      s.element = e->impl;
      s.inlineDef = {false};
    }
  } else if (auto* list = std::get_if<ElementList>(&v)) {
    s.kind = SValue::Kind::Elements;
    for (const auto& item : *list) {
      if (item.impl) {
        s.elements.push_back(item.impl);
        s.inlineDef.push_back(false);
      }
    }
  } else if (auto* o = std::get_if<OtherValue>(&v)) {
    s.kind = SValue::Kind::Other;
    s.raw = json{{"other", o->description}};
  }
  return s;
}

Value toPlatform(const SValue& s) {
  switch (s.kind) {
    case SValue::Kind::Null: return NoValue{};
    case SValue::Kind::String: return s.text;
    case SValue::Kind::Number:
      if (s.isUnsigned) return Number{static_cast<double>(s.uinteger), false, true, std::nullopt};
      if (s.isInteger) return Number{static_cast<double>(s.integer), false, true, s.integer};
      return Number{s.num, false, false, std::nullopt};
    case SValue::Kind::Bool: return Number{s.num, true, true, std::nullopt};
    case SValue::Kind::Point: return Point{s.a, s.b};
    case SValue::Kind::Size: return Size{s.a, s.b};
    case SValue::Kind::Range: return Range{s.location, s.length};
    case SValue::Kind::Element: return handle(s.element);
    case SValue::Kind::Elements: {
      ElementList list;
      list.reserve(s.elements.size());
      for (const auto& e : s.elements) list.push_back(handle(e));
      return list;
    }
    case SValue::Kind::Other: {
      std::string d = s.raw.is_object() && s.raw.contains("other") ? s.raw["other"].dump() : "list";
      return OtherValue{d};
    }
  }
  return NoValue{};
}

json platformToJournal(const Value& v) { return valueToJournal(fromPlatform(v)); }

void setAttribute(SElement& e, const std::string& attr, SValue value) {
  if (SValue* existing = e.find(attr)) {
    *existing = std::move(value);
  } else {
    e.attrs.emplace_back(attr, std::move(value));
  }
}

// Splits UTF-8 text into scalars (invalid bytes count as one scalar each).
std::vector<std::string> scalars(const std::string& s) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t len = c < 0x80 ? 1 : c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc0 ? 2 : 1;
    if (i + len > s.size()) len = 1;
    out.push_back(s.substr(i, len));
    i += len;
  }
  return out;
}

// Writing AXSelectedText replaces the selected range of a string AXValue.
void replaceSelection(SElement& e, const std::string& text) {
  SValue* value = e.find("AXValue");
  SValue* range = e.find("AXSelectedTextRange");
  if (!value || value->kind != SValue::Kind::String || !range || range->kind != SValue::Kind::Range) {
    return;
  }
  std::vector<std::string> chars = scalars(value->text);
  auto count = static_cast<std::int64_t>(chars.size());
  std::int64_t loc = std::clamp<std::int64_t>(range->location, 0, count);
  std::int64_t len = std::clamp<std::int64_t>(range->length, 0, count - loc);
  std::string out;
  for (std::int64_t i = 0; i < loc; ++i) out += chars[static_cast<std::size_t>(i)];
  out += text;
  for (std::int64_t i = loc + len; i < count; ++i) out += chars[static_cast<std::size_t>(i)];
  value->text = out;
  auto inserted = static_cast<std::int64_t>(scalars(text).size());
  range->location = loc + inserted;
  range->length = 0;
  if (SValue* n = e.find("AXNumberOfCharacters")) {
    *n = SValue{};
    n->kind = SValue::Kind::Number;
    n->isInteger = true;
    n->integer = static_cast<std::int64_t>(scalars(out).size());
  }
}

void scheduleNotification(const std::string& name, double atMs) {
  SNotification n;
  n.name = name;
  n.atMs = atMs;
  n.nextMs = atMs;
  scene().notifications.push_back(n);
}

void runEffects(SElement& e, const std::string& trigger) {
  for (const auto& [name, effects] : e.on) {
    if (name != trigger) continue;
    for (const Effect& eff : effects) {
      switch (eff.kind) {
        case Effect::Kind::SetAttr: {
          auto& target = *scene().byId.at(eff.elementId);
          setAttribute(target, eff.attr, eff.value);
          break;
        }
        case Effect::Kind::RemoveAttr: {
          auto& target = *scene().byId.at(eff.elementId);
          std::erase_if(target.attrs, [&](const auto& kv) { return kv.first == eff.attr; });
          break;
        }
        case Effect::Kind::Notify:
          scheduleNotification(eff.name, state().nowMs + eff.afterMs);
          break;
        case Effect::Kind::Frontmost:
          scene().frontmost = eff.pid;
          break;
      }
    }
  }
}

// Removes the temporary files that runs killed while writing the scene back left beside it
// ("{scene}.tmp.{pid}" of a process that no longer runs).
void removeStaleTemporaries(const std::string& scenePath) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path scene(scenePath);
  fs::path dir = scene.parent_path().empty() ? fs::path(".") : scene.parent_path();
  const std::string prefix = scene.filename().string() + ".tmp.";
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    std::string digits = name.substr(prefix.size());
    if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
    auto pid = static_cast<pid_t>(std::stol(digits));
    if (pid <= 0 || pid == ::getpid()) continue;
    if (::kill(pid, 0) == 0 || errno != ESRCH) continue;  // it runs (or may): not ours to remove
    std::error_code ignored;
    fs::remove(it->path(), ignored);
  }
}

void writeBack() {
  State& s = state();
  if (!s.loaded || !s.scene.persist) return;
  removeStaleTemporaries(s.scene.path);
  std::string tmp = s.scene.path + ".tmp." + std::to_string(::getpid());
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out << sceneToJson(s.scene, s.nowMs).dump(2, ' ', false, json::error_handler_t::replace) << "\n";
    if (!out) {
      std::cerr << "uiglean-scripted: could not write the scene back to " << s.scene.path << "\n";
      std::filesystem::remove(tmp);
      return;
    }
  }
  std::error_code ec;
  std::filesystem::rename(tmp, s.scene.path, ec);
  if (ec) {
    std::cerr << "uiglean-scripted: could not write the scene back to " << s.scene.path << "\n";
    std::filesystem::remove(tmp, ec);
  }
}

}  // namespace

void useScene(Scene scene) {
  State& s = state();
  s.scene = std::move(scene);
  s.loaded = true;
  s.nowMs = 0;
  s.pending.clear();
  s.observers.clear();
  s.strayApps.clear();
}

double scriptedNowMs() { return state().nowMs; }

// The scene goes on (its clock, pending changes and what earlier runs did to it); only the
// observers were the ended run's.
void platformNewRun() { state().observers.clear(); }

// The scene answers from memory: nothing to keep.
void platformKeepAnswersBetweenRuns() {}

void platformStart() {
  const char* scenePath = std::getenv("UIGLEAN_SCENE");
  if (scenePath == nullptr || *scenePath == '\0') {
    std::cerr << "uiglean-scripted: bad scene: UIGLEAN_SCENE is not set\n";
    std::exit(5);
  }
  // One line whatever the file name or the scene hold.
  auto badScene = [&](const char* why) {
    std::string line = std::string(scenePath) + ": " + why;
    std::cerr << "uiglean-scripted: bad scene: " << escapeControls(sanitizeUtf8(line)) << "\n";
    std::exit(5);
  };
  try {
    useScene(loadScene(scenePath));
  } catch (const std::exception& e) {
    badScene(e.what());
  }
  if (const char* journalPath = std::getenv("UIGLEAN_JOURNAL"); journalPath && *journalPath) {
    state().journal = ::open(journalPath, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (state().journal < 0) {
      std::cerr << "uiglean-scripted: cannot open the journal "
                << escapeControls(sanitizeUtf8(journalPath)) << "\n";
      std::exit(5);
    }
  }
  const char* pace = std::getenv("UIGLEAN_SCENE_PACE");
  state().paced = pace != nullptr && *pace != '\0';
  std::atexit(writeBack);
}

// ---------------------------------------------------------------------------------------------
// Accessibility.

bool axIsProcessTrusted() {
  bool t = scene().trusted;
  journal({{"call", "AXIsProcessTrusted"}, {"result", t}});
  return t;
}

Element axCreateApplication(std::int32_t pid) {
  SElementPtr e;
  if (SApp* app = appByPid(pid)) {
    e = app->element;
  } else {
    auto& stray = state().strayApps[pid];
    if (!stray) {
      stray = std::make_shared<SElement>();
      stray->name = "pid:" + std::to_string(pid);
    }
    e = stray;
  }
  journal({{"call", "AXUIElementCreateApplication"}, {"pid", pid}, {"element", e->name}});
  return handle(e);
}

void axSetMessagingTimeout(const Element& element, float seconds) {
  journal({{"call", "AXUIElementSetMessagingTimeout"},
           {"element", el(element).name},
           {"seconds", static_cast<double>(seconds)}});
}

// A scripted call takes no time, so no deadline can cut it; the run's clock moves only with
// sleeps and run-loop waits.
void axSetRunDeadline(double) {}

CopyResult axCopyAttributeValue(const Element& element, const std::string& attribute) {
  SElement& e = el(element);
  CopyResult r;
  // A status of 0 among the errors is a copy that succeeds without a value.
  const SValue* found = nullptr;
  if (auto it = e.errors.find(attribute); it != e.errors.end()) {
    r.status = it->second;
  } else if ((found = e.find(attribute)) != nullptr) {
    r.status = axerr::success;
    r.value = toPlatform(*found);
  } else {
    r.status = axerr::attributeUnsupported;
  }
  if (state().journal >= 0) {
    json j{{"call", "AXUIElementCopyAttributeValue"}, {"element", e.name}, {"attr", attribute},
           {"status", r.status}};
    if (r.status == axerr::success) j["value"] = found ? valueToJournal(*found) : json(nullptr);
    journal(std::move(j));
  }
  return r;
}

ActionNamesResult axCopyActionNames(const Element& element) {
  SElement& e = el(element);
  ActionNamesResult r;
  if (e.actionNamesError) {
    r.status = *e.actionNamesError;
  } else {
    r.status = axerr::success;
    r.names = e.actions.value_or(std::vector<std::string>{});
  }
  if (state().journal >= 0) {
    json j{{"call", "AXUIElementCopyActionNames"}, {"element", e.name}, {"status", r.status}};
    if (r.names) j["value"] = *r.names;
    journal(std::move(j));
  }
  return r;
}

std::int32_t axPerformAction(const Element& element, const std::string& action) {
  SElement& e = el(element);
  std::int32_t status = axerr::actionUnsupported;
  if (auto it = e.perform.find(action); it != e.perform.end()) {
    status = it->second;
  } else if (e.actions && std::find(e.actions->begin(), e.actions->end(), action) != e.actions->end()) {
    status = axerr::success;
  }
  journal({{"call", "AXUIElementPerformAction"}, {"element", e.name}, {"action", action},
           {"status", status}});
  if (status == axerr::success) runEffects(e, action);
  return status;
}

std::int32_t axSetAttributeValue(const Element& element, const std::string& attribute,
                                 const Value& value) {
  SElement& e = el(element);
  std::int32_t status = axerr::attributeUnsupported;
  if (auto it = e.set.find(attribute); it != e.set.end()) {
    status = it->second;
  } else if (std::find(e.settable.begin(), e.settable.end(), attribute) != e.settable.end()) {
    status = axerr::success;
  }
  journal({{"call", "AXUIElementSetAttributeValue"}, {"element", e.name}, {"attr", attribute},
           {"value", platformToJournal(value)}, {"status", status}});
  if (status == axerr::success) {
    SValue stored = fromPlatform(value);
    if (attribute == "AXSelectedText" && stored.kind == SValue::Kind::String) {
      replaceSelection(e, stored.text);
    }
    setAttribute(e, attribute, std::move(stored));
    runEffects(e, attribute);
  }
  return status;
}

std::optional<Value> axCreateRangeValue(std::int64_t location, std::int64_t length) {
  journal({{"call", "AXValueCreate"}, {"type", "range"}, {"value", {location, length}}});
  return Value{Range{location, length}};
}

WindowNumberResult axGetWindowNumber(const Element& window) {
  SElement& e = el(window);
  WindowNumberResult r;
  if (e.windowNumber && *e.windowNumber >= 0 && *e.windowNumber <= UINT32_MAX) {
    r.status = axerr::success;
    r.windowNumber = static_cast<std::uint32_t>(*e.windowNumber);
  } else {
    r.status = axerr::invalidElement;
  }
  json j{{"call", "_AXUIElementGetWindow"}, {"element", e.name}, {"status", r.status}};
  if (r.status == axerr::success) j["value"] = r.windowNumber;
  journal(std::move(j));
  return r;
}

bool isSecureEventInputEnabled() {
  bool on = scene().secureInput;
  journal({{"call", "IsSecureEventInputEnabled"}, {"result", on}});
  return on;
}

// ---------------------------------------------------------------------------------------------
// Observers and the run loop.

ObserverCreateResult axObserverCreate(std::int32_t pid, ObserverCallback callback) {
  ObserverCreateResult r;
  r.status = scene().observerError;
  if (r.status == axerr::success) {
    auto o = std::make_shared<ObserverImpl>();
    o->pid = pid;
    o->callback = callback;
    state().observers.push_back(o);
    r.observer = Observer{o};
  }
  journal({{"call", "AXObserverCreate"}, {"pid", pid}, {"status", r.status}});
  return r;
}

std::int32_t axObserverAddNotification(const Observer& observer, const Element& element,
                                       const std::string& notification, void* context) {
  std::int32_t status = axerr::success;
  for (const auto& n : scene().notifications) {
    if (n.name == notification && n.unsupported) status = axerr::notificationUnsupported;
  }
  if (!observer.impl) status = axerr::invalidObserver;
  if (status == axerr::success) {
    observer.impl->names.push_back(notification);
    observer.impl->contexts.push_back(context);
    observer.impl->appElement = element;
  }
  journal({{"call", "AXObserverAddNotification"}, {"element", el(element).name},
           {"notification", notification}, {"status", status}});
  return status;
}

void addObserverToRunLoop(const Observer& observer) {
  if (observer.impl) observer.impl->inRunLoop = true;
  journal({{"call", "CFRunLoopAddSource"}});
}

namespace {

// The observer that would receive `name` now, if any.
ObserverImpl* receiver(const std::string& name) {
  if (!scene().frontmost) return nullptr;
  for (const auto& o : state().observers) {
    if (!o->inRunLoop || o->pid != *scene().frontmost) continue;
    if (std::find(o->names.begin(), o->names.end(), name) != o->names.end()) return o.get();
  }
  return nullptr;
}

// Arrivals are counted from the start, so that a repeating notification has no drift however
// many pass.
void setArrivals(SNotification& n, double arrivals) {
  n.arrivals = arrivals;
  n.nextMs = n.atMs + arrivals * *n.everyMs;
  if (n.untilMs && n.nextMs > *n.untilMs) n.done = true;
}

void consume(SNotification& n) {
  if (n.everyMs) {
    setArrivals(n, n.arrivals + 1);
  } else {
    n.done = true;
  }
}

// Lets every arrival before `limit` (and at it, when `inclusive`) pass, in one step.
void passUntil(SNotification& n, double limit, bool inclusive) {
  auto due = [&](double t) { return inclusive ? t <= limit : t < limit; };
  if (n.done || !due(n.nextMs)) return;
  if (!n.everyMs) {
    n.done = true;
    return;
  }
  double near = std::floor((limit - n.atMs) / *n.everyMs);
  if (near > n.arrivals) setArrivals(n, near);
  for (int step = 0; step < 4 && !n.done && due(n.nextMs); ++step) consume(n);
  // So far from the start that one period no longer changes the time: no arrival can follow.
  if (due(n.nextMs)) n.done = true;
}

// The length of a run-loop slice in milliseconds, to the microsecond (so that slices of 0.05 s
// add up exactly); none for a negative or unknown time.
double sliceMs(double seconds) {
  if (!(seconds > 0)) return 0;
  constexpr double kLongest = 1e15;  // seconds
  double micros = std::min(seconds, kLongest) * 1e6;
  return std::round(micros) / 1000.0;
}

}  // namespace

std::int32_t runLoopRunInMode(double seconds, bool returnAfterSourceHandled) {
  State& s = state();
  double start = s.nowMs;
  double end = start + sliceMs(seconds);
  std::int32_t reason = 3;  // timed out
  std::string delivered;
  for (;;) {
    auto& list = s.scene.notifications;
    const std::size_t none = list.size();
    // The earliest arrival within the slice that some observer receives; ties go by scene order.
    std::vector<ObserverImpl*> receivers(list.size(), nullptr);
    std::size_t next = none;
    for (std::size_t i = 0; i < list.size(); ++i) {
      const SNotification& n = list[i];
      if (n.done || n.unsupported || n.nextMs > end) continue;
      receivers[i] = receiver(n.name);
      if (receivers[i] == nullptr) continue;
      if (next == none || n.nextMs < list[next].nextMs) next = i;
    }
    // Whatever nobody receives passes unobserved up to that arrival (or the slice's end): an
    // earlier notification in the scene at the same time goes first.
    const double limit = next == none ? end : list[next].nextMs;
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (i == next || list[i].unsupported || receivers[i] != nullptr) continue;
      if (list[i].done || list[i].nextMs > end) continue;
      passUntil(list[i], limit, next == none || i < next);
    }
    if (next == none) break;
    ObserverImpl* o = receivers[next];
    advanceTo(list[next].nextMs);
    std::string name = list[next].name;
    consume(list[next]);
    delivered = name;
    Observer handleObs{nullptr};
    for (const auto& p : s.observers) {
      if (p.get() == o) handleObs.impl = p;
    }
    std::size_t idx = static_cast<std::size_t>(
        std::find(o->names.begin(), o->names.end(), name) - o->names.begin());
    o->callback(handleObs, o->appElement, name, o->contexts[idx]);
    reason = 4;
    if (returnAfterSourceHandled) break;
  }
  if (reason != 4 || !returnAfterSourceHandled) advanceTo(end);
  if (s.paced && s.nowMs > start) {
    std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(s.nowMs - start));
  }
  json j{{"call", "CFRunLoopRunInMode"}, {"seconds", seconds}, {"startMs", start},
         {"endMs", s.nowMs}, {"status", reason}};
  if (!delivered.empty()) j["notification"] = delivered;
  journal(std::move(j));
  return reason;
}

// ---------------------------------------------------------------------------------------------
// Workspace.

std::optional<RunningApp> frontmostApplication() {
  settlePending();
  std::optional<RunningApp> r;
  if (scene().frontmost) {
    if (SApp* a = appByPid(*scene().frontmost)) r = running(*a);
  }
  json j{{"call", "frontmostApplication"}, {"atMs", state().nowMs}};
  j["pid"] = r ? json(r->pid) : json(nullptr);
  journal(std::move(j));
  return r;
}

std::vector<RunningApp> runningApplications() {
  settlePending();
  std::vector<RunningApp> out;
  for (const auto& a : scene().apps) out.push_back(running(a));
  journal({{"call", "runningApplications"}, {"count", out.size()}});
  return out;
}

bool activateApplication(const RunningApp& app, std::uint32_t options) {
  SApp* a = appByPid(app.pid);
  bool ok = a != nullptr && a->activates;
  if (ok) {
    state().pending.push_back(
        {state().nowMs + a->activateDelayMs, Pending::Kind::Frontmost, a->pid, 0});
    settlePending();
  }
  journal({{"call", "activateWithOptions"}, {"pid", app.pid}, {"options", options}, {"result", ok}});
  return ok;
}

std::optional<std::string> urlForApplicationWithBundleIdentifier(const std::string& bundleId) {
  std::optional<std::string> url;
  for (const auto& inst : scene().installed) {
    if (inst.bundleId && *inst.bundleId == bundleId) {
      url = inst.url;
      break;
    }
  }
  json j{{"call", "URLForApplicationWithBundleIdentifier"}, {"bundleId", bundleId}};
  j["url"] = url ? json(*url) : json(nullptr);
  journal(std::move(j));
  return url;
}

bool fileExistsAtPath(const std::string& path) {
  bool exists = std::find(scene().files.begin(), scene().files.end(), path) != scene().files.end();
  for (const auto& inst : scene().installed) exists = exists || inst.url == path;
  journal({{"call", "fileExistsAtPath"}, {"path", path}, {"result", exists}});
  return exists;
}

void openApplicationAtURL(const std::string& path, bool activates) {
  journal({{"call", "openApplicationAtURL"}, {"url", path}, {"activates", activates}});
  for (std::size_t i = 0; i < scene().installed.size(); ++i) {
    const SInstalled& inst = scene().installed[i];
    if (inst.url != path || !inst.launches) continue;
    if (appByPid(inst.launches->pid) != nullptr) return;  // already running
    state().pending.push_back({state().nowMs + inst.launchDelayMs, Pending::Kind::Launch, 0, i});
    settlePending();
    return;
  }
}

// ---------------------------------------------------------------------------------------------
// The C library.

std::int32_t processId() {
  journal({{"call", "getpid"}, {"result", scene().selfPid}});
  return scene().selfPid;
}

void sleepMicros(std::uint32_t micros) {
  journal({{"call", "usleep"}, {"micros", micros}, {"atMs", state().nowMs}});
  advanceTo(state().nowMs + micros / 1000.0);
}

double currentTime() { return state().nowMs / 1000.0; }

// ---------------------------------------------------------------------------------------------
// Window server.

std::vector<std::uint32_t> activeDisplayList(std::uint32_t capacity) {
  std::vector<std::uint32_t> ids;
  for (const auto& d : scene().displays) {
    if (ids.size() >= capacity) break;
    ids.push_back(d.id);
  }
  journal({{"call", "CGGetActiveDisplayList"}, {"capacity", capacity}, {"result", ids}});
  return ids;
}

std::uint32_t mainDisplayId() {
  std::uint32_t id = 0;
  if (scene().mainDisplay) {
    id = *scene().mainDisplay;
  } else if (!scene().displays.empty()) {
    id = scene().displays.front().id;
  }
  journal({{"call", "CGMainDisplayID"}, {"result", id}});
  return id;
}

Rect displayBounds(std::uint32_t displayId) {
  Rect r;
  for (const auto& d : scene().displays) {
    if (d.id == displayId) {
      r = d.bounds;
      break;
    }
  }
  journal({{"call", "CGDisplayBounds"}, {"display", displayId}});
  return r;
}

PlistValue windowListCopyWindowInfo(std::uint32_t options, std::uint32_t relativeToWindow) {
  journal({{"call", "CGWindowListCopyWindowInfo"}, {"options", options},
           {"relativeToWindow", relativeToWindow}});
  return scene().windowList;
}

bool preflightScreenCaptureAccess() {
  bool granted = scene().screenCaptureAccess;
  journal({{"call", "CGPreflightScreenCaptureAccess"}, {"result", granted}});
  return granted;
}

// ---------------------------------------------------------------------------------------------
// Images and text recognition.

Image loadImage(const std::string& path) {
  bool found = scene().images.count(path) != 0;
  journal({{"call", "NSImage"}, {"path", path}, {"result", found}});
  if (!found) return Image{};
  auto img = std::make_shared<ImageImpl>();
  img->path = path;
  return Image{img};
}

Bitmap imageBitmap(const Image& image) {
  if (!image.impl) return Bitmap{};
  const SImage& img = scene().images.at(image.impl->path);
  journal({{"call", "CGImageForProposedRect"}, {"path", image.impl->path}, {"result", !img.noBitmap}});
  if (img.noBitmap) return Bitmap{};
  auto b = std::make_shared<BitmapImpl>();
  b->path = image.impl->path;
  b->w = img.w;
  b->h = img.h;
  return Bitmap{b};
}

std::int64_t bitmapWidth(const Bitmap& bitmap) { return bitmap.impl ? bitmap.impl->w : 0; }
std::int64_t bitmapHeight(const Bitmap& bitmap) { return bitmap.impl ? bitmap.impl->h : 0; }

TextRecognitionResult performTextRecognition(const Bitmap& bitmap,
                                             const TextRecognitionRequest& request) {
  TextRecognitionResult r;
  std::string path = bitmap.impl ? bitmap.impl->path : std::string();
  journal({{"call", "VNRecognizeTextRequest"},
           {"path", path},
           {"level", request.recognitionLevel},
           {"usesLanguageCorrection", request.usesLanguageCorrection},
           {"minimumTextHeight", static_cast<double>(request.minimumTextHeight)},
           {"languages", request.recognitionLanguages}});
  auto it = scene().images.find(path);
  if (it == scene().images.end()) {
    r.error = "no image";
    return r;
  }
  if (it->second.error) {
    r.error = *it->second.error;
    return r;
  }
  r.observations = it->second.observations;
  return r;
}

// ---------------------------------------------------------------------------------------------
// Synthesized input and screen capture: every event is journaled; secure input (the scene's
// "secureInput") refuses key strokes and typing as macOS does. A capture shows the scene's image
// named "window:N" or "display:N": its size, and its text for the recognizer.

namespace {

const char* namedKeyText(NamedKey key) {
  static const char* names[] = {"enter", "tab", "space", "backspace", "escape", "delete", "home",
                                "end", "pageup", "pagedown", "left", "right", "up", "down"};
  auto k = static_cast<std::size_t>(key);
  return k < std::size(names) ? names[k] : "function";
}

std::optional<std::string> refusedKeys() {
  if (scene().secureInput) return std::string("secure input is on");
  return std::nullopt;
}

std::uint32_t crc32(const std::string& bytes, std::size_t from) {
  static const auto table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xedb88320U ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  std::uint32_t c = 0xffffffffU;
  for (std::size_t i = from; i < bytes.size(); ++i) {
    c = table[(c ^ static_cast<unsigned char>(bytes[i])) & 0xff] ^ (c >> 8);
  }
  return c ^ 0xffffffffU;
}

void putBig32(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xff);
}

void chunk(std::string& png, const char* type, const std::string& data) {
  putBig32(png, static_cast<std::uint32_t>(data.size()));
  std::size_t start = png.size();
  png += type;
  png += data;
  putBig32(png, crc32(png, start));
}

// A white picture of that size as a PNG: one bit of grey per pixel, stored without compression.
std::string whitePng(std::uint32_t width, std::uint32_t height) {
  std::string png("\x89PNG\r\n\x1a\n", 8);
  std::string header;
  putBig32(header, width);
  putBig32(header, height);
  header += std::string("\x01\x00\x00\x00\x00", 5);  // 1 bit, grey, deflate, no filter, no interlace
  chunk(png, "IHDR", header);
  std::string row(1 + (width + 7) / 8, '\xff');
  row[0] = '\0';  // filter: none
  std::string raw;
  raw.reserve(row.size() * height);
  for (std::uint32_t y = 0; y < height; ++y) raw += row;
  std::string z("\x78\x01", 2);
  std::uint32_t a = 1, b = 0;
  for (char ch : raw) {
    a = (a + static_cast<unsigned char>(ch)) % 65521;
    b = (b + a) % 65521;
  }
  for (std::size_t at = 0; at < raw.size() || at == 0; at += 65535) {
    std::size_t n = std::min<std::size_t>(65535, raw.size() - at);
    bool last = at + n >= raw.size();
    z += static_cast<char>(last ? 1 : 0);
    z += static_cast<char>(n & 0xff);
    z += static_cast<char>(n >> 8);
    z += static_cast<char>(~n & 0xff);
    z += static_cast<char>((~n >> 8) & 0xff);
    z.append(raw, at, n);
    if (last) break;
  }
  putBig32(z, (b << 16) | a);
  chunk(png, "IDAT", z);
  chunk(png, "IEND", "");
  return png;
}

ScreenCapture capture(const std::string& name, const char* call, std::uint32_t id) {
  ScreenCapture c;
  auto it = scene().images.find(name);
  bool found = it != scene().images.end() && !it->second.noBitmap;
  journal({{"call", call}, {"id", id}, {"result", found}});
  if (!found) {
    c.error = name + " cannot be captured";
    return c;
  }
  const SImage& img = it->second;
  if (img.w <= 0 || img.h <= 0 || img.w > 65535 || img.h > 65535 || img.w * img.h > 64LL << 20) {
    c.error = name + " is too large to capture";
    return c;
  }
  c.width = img.w;
  c.height = img.h;
  c.png = whitePng(static_cast<std::uint32_t>(img.w), static_cast<std::uint32_t>(img.h));
  auto handle = std::make_shared<ImageImpl>();
  handle->path = name;
  c.image = Image{handle};
  return c;
}

}  // namespace

std::optional<std::string> postKeyStroke(const KeyStroke& stroke) {
  auto refused = refusedKeys();
  json j{{"call", "CGEventPost"}, {"event", "key"}, {"modifiers", stroke.modifiers}};
  if (stroke.named) {
    j["key"] = namedKeyText(*stroke.named);
    auto k = static_cast<int>(*stroke.named);
    if (k >= static_cast<int>(NamedKey::f1)) j["key"] = "f" + std::to_string(k - static_cast<int>(NamedKey::f1) + 1);
  } else {
    j["character"] = stroke.character;
  }
  if (refused) j["refused"] = *refused;
  journal(std::move(j));
  return refused;
}

std::optional<std::string> postText(const std::string& text) {
  auto refused = refusedKeys();
  json j{{"call", "CGEventPost"}, {"event", "text"}, {"text", text}};
  if (refused) j["refused"] = *refused;
  journal(std::move(j));
  return refused;
}

std::optional<std::string> postMouseClick(Point where, MouseButton button, std::int32_t clicks) {
  static const char* buttons[] = {"left", "right", "middle"};
  journal({{"call", "CGEventPost"}, {"event", "click"}, {"x", where.x}, {"y", where.y},
           {"button", buttons[static_cast<int>(button)]}, {"clicks", clicks}});
  return std::nullopt;
}

std::optional<std::string> postScrollWheel(Point where, std::int32_t lines, std::int32_t columns) {
  journal({{"call", "CGEventPost"}, {"event", "scroll"}, {"x", where.x}, {"y", where.y},
           {"lines", lines}, {"columns", columns}});
  return std::nullopt;
}

ScreenCapture captureWindow(std::uint32_t windowNumber) {
  return capture("window:" + std::to_string(windowNumber), "CGWindowListCreateImage", windowNumber);
}

ScreenCapture captureDisplay(std::uint32_t displayId) {
  return capture("display:" + std::to_string(displayId), "CGDisplayCreateImage", displayId);
}

}  // namespace uiglean
