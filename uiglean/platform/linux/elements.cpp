#include "uiglean/platform/linux/elements.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <deque>
#include <unordered_map>

#include "uiglean/platform/linux/keptanswers.h"
#include "uiglean/platform/linux/keybinding.h"
#include "uiglean/platform/linux/menubuttons.h"
#include "uiglean/platform/linux/workspace.h"

namespace uiglean::lx {

namespace {

std::uint64_t currentEpoch = 1;

std::unordered_map<std::string, Node>& nodes() {
  static std::unordered_map<std::string, Node> n;
  return n;
}

std::string keyOf(const ObjectRef& ref) { return ref.first + '\n' + ref.second; }

bool readAttributes(sd_bus_message* m, std::map<std::string, std::string>& out) {
  if (sd_bus_message_enter_container(m, 'a', "{ss}") <= 0) return false;
  const char* k = nullptr;
  const char* v = nullptr;
  while (sd_bus_message_read(m, "{ss}", &k, &v) > 0) {
    if (k != nullptr && v != nullptr) out[k] = v;
  }
  sd_bus_message_exit_container(m);
  return true;
}

bool variantAttributes(sd_bus_message* m, std::map<std::string, std::string>& out) {
  if (sd_bus_message_enter_container(m, 'v', "a{ss}") > 0) {
    bool ok = readAttributes(m, out);
    sd_bus_message_exit_container(m);
    return ok;
  }
  skipValue(m);
  return false;
}

// Calls `each(name)` for every entry of a property dictionary; `each` must read or skip the
// variant.
template <class F>
bool forEachProperty(sd_bus_message* m, F each) {
  if (sd_bus_message_enter_container(m, 'a', "{sv}") <= 0) return false;
  while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
    const char* name = nullptr;
    if (sd_bus_message_read(m, "s", &name) <= 0 || name == nullptr) return false;
    each(std::string(name));
    sd_bus_message_exit_container(m);
  }
  sd_bus_message_exit_container(m);
  return true;
}

Appender appendString(const char* s) {
  return [s](sd_bus_message* m) { return sd_bus_message_append(m, "s", s); };
}

void askBaseFallback(Batch& batch, const ObjectRef& ref, Node& n);

// Records how one of the base questions ended.
void noteBase(Node& n, CallEnd end) {
  if (end == CallEnd::ok) {
    n.baseAnswered = true;
  } else if (end == CallEnd::gone) {
    n.baseEnd = CallEnd::gone;
  } else if (n.baseEnd == CallEnd::ok) {
    n.baseEnd = end;  // the first failure, kept unless something is answered
  }
}

// What the base questions add up to, once all are answered.
void settleBase(Node& n) {
  if (n.baseEnd == CallEnd::gone) return;
  if (n.baseAnswered) n.baseEnd = CallEnd::ok;
}

void askBase(Batch& batch, const ObjectRef& ref, Node& n) {
  n.baseLoaded = true;
  n.baseEnd = CallEnd::ok;
  Node* np = &n;
  const std::string& bus = ref.first;
  const std::string& path = ref.second;
  if (!answersGetAll(bus)) {
    askBaseFallback(batch, ref, n);
  } else {
  batch.call(bus, path, IFACE_PROPERTIES, "GetAll", appendString(IFACE_ACCESSIBLE),
             [np, bus, path](const Reply& r) {
               if (r.end != CallEnd::ok) {
                 // Some toolkits answer only Get: ask for the few properties one by one.
                 if (r.end != CallEnd::unsupported) noteBase(*np, r.end);
                 return;
               }
               np->baseAnswered = true;
               forEachProperty(r.message, [&](const std::string& name) {
                 if (name == "Name") {
                   variantString(r.message, np->name);
                 } else if (name == "Description") {
                   variantString(r.message, np->description);
                 } else if (name == "ChildCount") {
                   variantInt(r.message, np->childCount);
                 } else if (name == "AccessibleId") {
                   variantString(r.message, np->accessibleId);
                 } else if (name == "HelpText") {
                   variantString(r.message, np->helpText);
                 } else if (name == "Parent") {
                   variantObjectRef(r.message, np->parent.first, np->parent.second);
                 } else if (name == "Attributes") {
                   if (variantAttributes(r.message, np->attributes)) np->attributesLoaded = true;
                 } else {
                   skipValue(r.message);
                 }
               });
             });
  }
  // Role and states kept from an earlier run (keptanswers.h) are not asked again.
  if (n.baseFromKept) return;
  batch.call(bus, path, IFACE_ACCESSIBLE, "GetRole", nullptr, [np](const Reply& r) {
    noteBase(*np, r.end);
    if (r.end != CallEnd::ok) return;
    std::uint32_t role = 0;
    if (sd_bus_message_read(r.message, "u", &role) > 0) {
      np->role = role;
      np->roleKnown = true;
    }
  });
  batch.call(bus, path, IFACE_ACCESSIBLE, "GetState", nullptr, [np](const Reply& r) {
    noteBase(*np, r.end);
    if (r.end != CallEnd::ok) return;
    const void* data = nullptr;
    std::size_t size = 0;
    if (sd_bus_message_read_array(r.message, 'u', &data, &size) >= 0 && data != nullptr) {
      const auto* words = static_cast<const std::uint32_t*>(data);
      std::size_t count = size / sizeof(std::uint32_t);
      std::uint64_t states = 0;
      if (count > 0) states |= words[0];
      if (count > 1) states |= static_cast<std::uint64_t>(words[1]) << 32;
      np->states = states;
      np->statesKnown = true;
    }
  });
}

// The properties that GetAll did not give (toolkits without GetAll), one Get each.
void askBaseFallback(Batch& batch, const ObjectRef& ref, Node& n) {
  Node* np = &n;
  auto get = [&](const char* prop, std::function<void(sd_bus_message*)> read) {
    getProperty(batch, ref.first, ref.second, IFACE_ACCESSIBLE, prop,
                [np, read = std::move(read)](sd_bus_message* m) {
                  np->baseAnswered = true;
                  read(m);
                });
  };
  get("Name", [np](sd_bus_message* m) { variantString(m, np->name); });
  get("Description", [np](sd_bus_message* m) { variantString(m, np->description); });
  get("ChildCount", [np](sd_bus_message* m) { variantInt(m, np->childCount); });
  get("Parent", [np](sd_bus_message* m) {
    variantObjectRef(m, np->parent.first, np->parent.second);
  });
  get("AccessibleId", [np](sd_bus_message* m) { variantString(m, np->accessibleId); });
}

// Gecko (Firefox ESR 115) crashes on `Action.GetActions` of some items of an open menu; its menu
// objects are asked how many actions they have, then each one's name and key binding.
bool asksActionsOneByOne(const ObjectRef& ref, const Node& n) {
  if (!(n.role == role::menu || isMenuItemRole(n.role) || n.role == role::menuBar)) return false;
  const AccessibleApp* app = appForBus(ref.first);
  return app != nullptr && app->toolkit == "Gecko";
}

// Containers with more children than this are asked for the first ones by index.
constexpr std::int32_t LARGE_CHILD_COUNT = 1000;

bool qualifies(Part part, const ObjectRef& ref, const Node& n) {
  if (part == Part::base) return true;
  if (n.baseEnd != CallEnd::ok) return false;
  switch (part) {
    case Part::base:
      return true;
    case Part::extents:
      // GTK 4 never says showing: what is visible there has extents.
      return hasState(n.states, state::showing) ||
             (hasState(n.states, state::visible) && extentsRelativeToWindow(ref.first));
    case Part::actions:
      return mayHaveActions(n.role) || isWebToolkit(ref.first);
    case Part::children:
      return n.childCount != 0;
    case Part::text:
      return hasTextValue(n.role);
    case Part::value:
      return isValueRole(n.role);
    case Part::attributes:
      return true;
  }
  return false;
}

bool& loadedFlag(Node& n, Part part) {
  switch (part) {
    case Part::base:
      return n.baseLoaded;
    case Part::extents:
      return n.extentsLoaded;
    case Part::actions:
      return n.actionsLoaded;
    case Part::children:
      return n.childrenLoaded;
    case Part::text:
      return n.textLoaded;
    case Part::value:
      return n.valueLoaded;
    case Part::attributes:
      return n.attributesLoaded;
  }
  return n.baseLoaded;
}

void ask(Batch& batch, Part part, const ObjectRef& ref, Node& n) {
  Node* np = &n;
  const std::string& bus = ref.first;
  const std::string& path = ref.second;
  switch (part) {
    case Part::base:
      askBase(batch, ref, n);
      break;
    case Part::extents:
      batch.call(bus, path, IFACE_COMPONENT, "GetExtents",
                 [](sd_bus_message* m) { return sd_bus_message_append(m, "u", 0U); },
                 [np](const Reply& r) {
                   if (r.end != CallEnd::ok) return;
                   std::int32_t x = 0, y = 0, w = 0, h = 0;
                   if (sd_bus_message_read(r.message, "(iiii)", &x, &y, &w, &h) <= 0) return;
                   // Toolkits say "unknown" with the most negative integer or a negative size.
                   if (x == INT32_MIN || y == INT32_MIN || w < 0 || h < 0) return;
                   np->hasExtents = true;
                   np->x = x;
                   np->y = y;
                   np->width = w;
                   np->height = h;
                 });
      break;
    case Part::actions:
      if (asksActionsOneByOne(ref, n)) {
        // Counted here; names and key bindings are asked one by one afterwards.
        np->actionsEnd = CallEnd::failed;
        getProperty(batch, bus, path, IFACE_ACTION, "NActions", [np](sd_bus_message* m) {
          std::int32_t count = 0;
          variantInt(m, count);
          np->actionsEnd = CallEnd::ok;
          np->actions.assign(static_cast<std::size_t>(std::clamp(count, 0, 16)), {});
        });
        break;
      }
      batch.call(bus, path, IFACE_ACTION, "GetActions", nullptr, [np](const Reply& r) {
        np->actionsEnd = r.end;
        if (r.end != CallEnd::ok) return;
        if (sd_bus_message_enter_container(r.message, 'a', "(sss)") <= 0) return;
        const char* name = nullptr;
        const char* description = nullptr;
        const char* binding = nullptr;
        while (sd_bus_message_read(r.message, "(sss)", &name, &description, &binding) > 0) {
          np->actions.emplace_back(name != nullptr ? name : "", binding != nullptr ? binding : "");
        }
        sd_bus_message_exit_container(r.message);
      });
      break;
    case Part::children:
      if (n.childCount > LARGE_CHILD_COUNT) {
        // Asked for every child, some containers build them all first (a LibreOffice Calc sheet
        // claims every cell as its child: gigabytes and minutes): the first ones, as many as
        // anyone reads, are asked by index instead.
        np->childrenEnd = CallEnd::failed;
        auto want = static_cast<std::size_t>(std::min<std::int32_t>(
            n.childCount, static_cast<std::int32_t>(PREFETCH_LIMIT)));
        np->children.assign(want, {});
        for (std::size_t i = 0; i < want; ++i) {
          auto index = static_cast<std::int32_t>(i);
          batch.call(bus, path, IFACE_ACCESSIBLE, "GetChildAtIndex",
                     [index](sd_bus_message* m) { return sd_bus_message_append(m, "i", index); },
                     [np, i](const Reply& r) {
                       if (r.end != CallEnd::ok) {
                         if (np->childrenEnd != CallEnd::ok) np->childrenEnd = r.end;
                         return;
                       }
                       np->childrenEnd = CallEnd::ok;
                       if (i < np->children.size()) {
                         readObjectRef(r.message, np->children[i].first, np->children[i].second);
                       }
                     });
        }
        break;
      }
      batch.call(bus, path, IFACE_ACCESSIBLE, "GetChildren", nullptr, [np](const Reply& r) {
        np->childrenEnd = r.end;
        if (r.end != CallEnd::ok) return;
        readObjectRefs(r.message, np->children);
        // A child that is not there yet (Chromium before its page is built) is the null object.
        std::erase_if(np->children, [](const ObjectRef& c) {
          return c.second == NULL_PATH || c.first.empty();
        });
      });
      break;
    case Part::text:
      getProperty(batch, bus, path, IFACE_TEXT, "CaretOffset",
                  [np](sd_bus_message* m) { variantInt(m, np->caret); });
      getProperty(batch, bus, path, IFACE_TEXT, "CharacterCount",
                  [np](sd_bus_message* m) { variantInt(m, np->characterCount); });
      batch.call(bus, path, IFACE_TEXT, "GetText",
                 [](sd_bus_message* m) { return sd_bus_message_append(m, "ii", 0, -1); },
                 [np](const Reply& r) {
                   np->textEnd = r.end;
                   if (r.end == CallEnd::ok) readString(r.message, np->text);
                 });
      batch.call(bus, path, IFACE_TEXT, "GetNSelections", nullptr, [np](const Reply& r) {
        std::int32_t count = 0;
        if (r.end == CallEnd::ok && sd_bus_message_read(r.message, "i", &count) > 0) {
          np->hasSelection = count > 0;
        }
      });
      batch.call(bus, path, IFACE_TEXT, "GetSelection",
                 [](sd_bus_message* m) { return sd_bus_message_append(m, "i", 0); },
                 [np](const Reply& r) {
                   std::int32_t start = 0, end = 0;
                   if (r.end == CallEnd::ok &&
                       sd_bus_message_read(r.message, "ii", &start, &end) > 0) {
                     np->selStart = start;
                     np->selEnd = end;
                   }
                 });
      break;
    case Part::value: {
      // One property at a time: some toolkits (Chromium) abort on GetAll of this interface.
      np->valueEnd = CallEnd::failed;  // until the current value is read
      struct Prop {
        const char* name;
        double Node::*field;
      };
      static const Prop props[] = {{"CurrentValue", &Node::current},
                                   {"MinimumValue", &Node::minimum},
                                   {"MaximumValue", &Node::maximum},
                                   {"MinimumIncrement", &Node::increment}};
      for (const auto& prop : props) {
        const char* name = prop.name;
        double Node::*field = prop.field;
        bool essential = field == &Node::current;
        batch.call(bus, path, IFACE_PROPERTIES, "Get",
                   [name](sd_bus_message* m) {
                     return sd_bus_message_append(m, "ss", IFACE_VALUE, name);
                   },
                   [np, field, essential](const Reply& r) {
                     if (r.end != CallEnd::ok) {
                       if (essential) np->valueEnd = r.end;
                       return;
                     }
                     // Not a number, or not a finite one, is no value: nothing to show or to
                     // step from.
                     double v = 0;
                     if (!variantNumber(r.message, v) || !std::isfinite(v)) return;
                     np->*field = v;
                     if (essential) np->valueEnd = CallEnd::ok;
                     if (field == &Node::minimum) np->hasMinimum = true;
                     if (field == &Node::maximum) np->hasMaximum = true;
                   });
      }
      break;
    }
    case Part::attributes:
      batch.call(bus, path, IFACE_ACCESSIBLE, "GetAttributes", nullptr, [np](const Reply& r) {
        if (r.end == CallEnd::ok) readAttributes(r.message, np->attributes);
      });
      break;
  }
}

// An object whose role and states were kept from an earlier run (keptanswers.h) is asked, in the
// same burst as its base, what a walk asks next: its children (when it had some, and not too
// many) and its extents (its states tell whether it has any). One round trip a group of siblings
// instead of three.
void askAhead(Batch& batch, const ObjectRef& ref, Node& n) {
  if (!n.baseFromKept) return;
  if (!n.childrenLoaded && n.childCountHint > 0 && n.childCountHint <= LARGE_CHILD_COUNT) {
    n.childrenLoaded = true;
    n.childrenAhead = true;
    ask(batch, Part::children, ref, n);
  }
  if (!n.extentsLoaded && qualifies(Part::extents, ref, n)) {
    n.extentsLoaded = true;
    ask(batch, Part::extents, ref, n);
  }
}

// Children asked ahead of a count that has grown past the large containers' are asked again by
// index.
void settleAhead(Node& n) {
  if (!n.childrenAhead) return;
  if (n.baseEnd == CallEnd::ok && n.childCount > LARGE_CHILD_COUNT) {
    n.children.clear();
    n.childrenLoaded = false;
    n.childrenEnd = CallEnd::failed;
    n.childrenAhead = false;
  }
}

// The children that came ahead for a group's members are asked their base (and their own
// children and extents ahead) in one burst for all of them, when their role and states were kept
// too: one round trip for a whole level of siblings' groups instead of one a group. Not below
// menus, whose items a walk reads only while they are open, nor beyond this many objects.
constexpr std::size_t LEVEL_AHEAD_LIMIT = 600;

void askLevelAhead(const std::vector<ObjectRef>& members) {
  std::vector<ObjectRef> next;
  for (const auto& ref : members) {
    Node& n = nodeOf(ref);
    if (!n.childrenAhead || n.childrenEnd != CallEnd::ok || n.role == role::menu ||
        n.role == role::popupMenu) {
      continue;
    }
    std::size_t take = std::min(n.children.size(), PREFETCH_LIMIT);
    next.insert(next.end(), n.children.begin(), n.children.begin() + static_cast<long>(take));
    if (next.size() >= LEVEL_AHEAD_LIMIT) break;
  }
  if (next.empty()) return;
  if (next.size() > LEVEL_AHEAD_LIMIT) next.resize(LEVEL_AHEAD_LIMIT);
  Batch batch;
  std::vector<Node*> asked;
  for (const auto& ref : next) {
    Node& n = nodeOf(ref);
    if (n.baseLoaded || !n.baseFromKept) continue;
    ask(batch, Part::base, ref, n);
    askAhead(batch, ref, n);
    asked.push_back(&n);
  }
  batch.run();
  for (Node* n : asked) {
    settleBase(*n);
    settleAhead(*n);
    std::erase_if(n->children, [](const ObjectRef& c) {
      return c.second.empty() || c.second == NULL_PATH || c.first.empty();
    });
  }
}

}  // namespace

void forgetAnswers() { ++currentEpoch; }

void forgetNodes() {
  ++currentEpoch;
  nodes().clear();
}

std::uint64_t answersEpoch() { return currentEpoch; }

Node& nodeOf(const ObjectRef& ref) {
  Node& n = nodes()[keyOf(ref)];
  if (n.epoch != currentEpoch) {
    n = Node{};
    n.epoch = currentEpoch;
    seedFromKept(ref, n);
  }
  return n;
}

Node& fetch(const ElementImpl& e, Part part) {
  ObjectRef self{e.bus, e.path};
  // In a server, the application's kept answers are brought up to date (its events applied)
  // before this epoch takes any of them.
  keptUsable(e.bus);
  {
    // Asked already (alone or with its siblings): nothing to send. Actions kept from an earlier
    // run still need this epoch's base answers beside them.
    Node& own = nodeOf(self);
    if (loadedFlag(own, part) && (own.baseLoaded || !own.actionsFromKept)) return own;
  }
  std::vector<ObjectRef> members;
  if (e.group) {
    // Callers read at most the first PREFETCH_LIMIT children of an object: later siblings are
    // asked only when touched.
    const auto& all = e.group->members;
    auto pos = std::find(all.begin(), all.end(), self);
    bool early = pos != all.end() && pos - all.begin() < static_cast<long>(PREFETCH_LIMIT);
    if (early) {
      members.assign(all.begin(), all.begin() + static_cast<long>(std::min(all.size(), PREFETCH_LIMIT)));
    } else {
      members.push_back(self);
    }
  } else {
    members.push_back(self);
  }
  if (part != Part::base) {
    // The questions worth asking depend on the role and states.
    Node& own = nodeOf(self);
    if (!own.baseLoaded) fetch(e, Part::base);
  }
  keptFetchStarted();
  Batch batch;
  std::vector<std::pair<ObjectRef, Node*>> fallback;
  for (const auto& ref : members) {
    Node& n = nodeOf(ref);
    bool& loaded = loadedFlag(n, part);
    if (loaded) continue;
    loaded = true;
    if (part != Part::base && !n.baseLoaded) continue;  // a sibling not yet asked anything
    if (!qualifies(part, ref, n)) continue;
    ask(batch, part, ref, n);
    if (part == Part::base) {
      askAhead(batch, ref, n);
      fallback.emplace_back(ref, &n);
    }
  }
  batch.run();
  if (part == Part::base) {
    for (auto& [ref, n] : fallback) {
      settleBase(*n);
      settleAhead(*n);
    }
  }
  if (part == Part::children || part == Part::base) {
    // Children asked by index that did not come, and null objects, are no children.
    for (const auto& ref : members) {
      std::erase_if(nodeOf(ref).children, [](const ObjectRef& c) {
        return c.second.empty() || c.second == NULL_PATH || c.first.empty();
      });
    }
  }
  if (part == Part::base) askLevelAhead(members);
  if (part == Part::text) {
    // GTK 4 gives its entries' text only up to an end offset it is told, not up to "the end"
    // (-1), which it answers with nothing: a text that came back empty though it has characters
    // is asked for again up to its count.
    Batch again;
    for (const auto& ref : members) {
      Node& n = nodeOf(ref);
      if (n.textEnd != CallEnd::ok || !n.text.empty() || n.characterCount <= 0) continue;
      Node* np = &n;
      std::int32_t count = n.characterCount;
      again.call(ref.first, ref.second, IFACE_TEXT, "GetText",
                 [count](sd_bus_message* m) { return sd_bus_message_append(m, "ii", 0, count); },
                 [np](const Reply& r) {
                   if (r.end == CallEnd::ok) readString(r.message, np->text);
                 });
    }
    again.run();
  }
  if (part == Part::actions) {
    // Some toolkits (Chromium, Gecko) list their actions without names; each name is then asked
    // for.
    Batch names;
    for (const auto& ref : members) {
      Node& n = nodeOf(ref);
      // Qt lists its actions without key bindings: a menu item's shortcut is asked for.
      bool noBindings = !n.actions.empty() && isMenuItemRole(n.role) && !answersGetAll(ref.first) &&
                        std::all_of(n.actions.begin(), n.actions.end(),
                                    [](const auto& a) { return a.second.empty(); });
      if (noBindings) {
        Node* np = &n;
        names.call(ref.first, ref.second, IFACE_ACTION, "GetKeyBinding",
                   [](sd_bus_message* m) { return sd_bus_message_append(m, "i", 0); },
                   [np](const Reply& r) {
                     if (r.end == CallEnd::ok && !np->actions.empty()) {
                       readString(r.message, np->actions[0].second);
                     }
                   });
      }
      if (asksActionsOneByOne(ref, n)) {
        for (std::size_t i = 0; i < n.actions.size(); ++i) {
          Node* np = &n;
          auto index = static_cast<std::int32_t>(i);
          names.call(ref.first, ref.second, IFACE_ACTION, "GetKeyBinding",
                     [index](sd_bus_message* m) { return sd_bus_message_append(m, "i", index); },
                     [np, i](const Reply& r) {
                       if (r.end == CallEnd::ok && i < np->actions.size()) {
                         readString(r.message, np->actions[i].second);
                       }
                     });
        }
      }
      for (std::size_t i = 0; i < n.actions.size(); ++i) {
        // Chromium lists empty names, Gecko ";;": a name without a letter is asked for.
        const std::string& listed = n.actions[i].first;
        bool named = std::any_of(listed.begin(), listed.end(), [](char c) {
          return std::isalpha(static_cast<unsigned char>(c)) != 0;
        }) && listed.find_first_of("<>;") == std::string::npos;
        if (named) continue;
        n.actions[i].first.clear();
        Node* np = &n;
        auto index = static_cast<std::int32_t>(i);
        names.call(ref.first, ref.second, IFACE_ACTION, "GetName",
                   [index](sd_bus_message* m) { return sd_bus_message_append(m, "i", index); },
                   [np, i](const Reply& r) {
                     if (r.end == CallEnd::ok && i < np->actions.size()) {
                       readString(r.message, np->actions[i].first);
                     }
                   });
      }
    }
    names.run();
  }
  if (part == Part::base) {
    // Objects whose GetAll went unanswered as unsupported: their properties one by one.
    Batch again;
    for (auto& [ref, n] : fallback) {
      if (n->baseEnd == CallEnd::ok && n->childCount < 0 && n->name.empty() &&
          answersGetAll(ref.first)) {
        askBaseFallback(again, ref, *n);
      }
    }
    again.run();
  }
  keptFetchEnded(part, members);
  return nodeOf(self);
}

Element makeElement(const std::string& bus, const std::string& path, View view, Context context,
                    std::shared_ptr<Group> group) {
  auto impl = std::make_shared<ElementImpl>();
  impl->bus = bus;
  impl->path = path;
  impl->view = view;
  impl->context = context;
  impl->group = std::move(group);
  return Element{impl};
}

Element applicationElement(const std::string& bus) {
  return makeElement(bus, ROOT_PATH, View::object, Context::other);
}

std::int32_t readStatus(CallEnd end) {
  switch (end) {
    case CallEnd::ok:
      return axerr::success;
    case CallEnd::timeout:
      return axerr::cannotComplete;
    case CallEnd::gone:
      return axerr::invalidElement;
    case CallEnd::unsupported:
      return axerr::attributeUnsupported;
    case CallEnd::failed:
      return axerr::failure;
  }
  return axerr::failure;
}

std::int32_t actionStatus(CallEnd end) {
  if (end == CallEnd::unsupported) return axerr::actionUnsupported;
  return readStatus(end);
}

Context contextOf(const ElementImpl& e) {
  if (e.context != Context::unknown) return e.context;
  Node& n = fetch(e, Part::base);
  if (n.parent.first.empty()) return Context::other;
  ElementImpl parent{n.parent.first, n.parent.second, View::object, Context::other, nullptr};
  Node& p = fetch(parent, Part::base);
  if (p.baseEnd != CallEnd::ok) return Context::other;
  if (p.role == role::menuBar) return Context::menuBar;
  if (p.role == role::menu || p.role == role::popupMenu) return Context::menu;
  return Context::other;
}

MacRole macRoleOf(const ElementImpl& e) {
  switch (e.view) {
    case View::menuOf:
    case View::appMenu:
    case View::buttonMenu:
    case View::popoverPage:
      return {"AXMenu", ""};
    case View::appItem:
    case View::buttonEntry:
      return {"AXMenuBarItem", ""};
    case View::buttonBar:
      return {"AXMenuBar", ""};
    case View::plainApp:
      return {"AXApplication", ""};
    case View::plainWindow:
      return {"AXWindow", "AXStandardWindow"};
    case View::object:
      break;
  }
  // The buttons and check boxes of a GTK 3 popover serve as its menu items.
  if (e.popoverItem) return {"AXMenuItem", ""};
  Node& n = fetch(e, Part::base);
  bool contextual = n.role == role::menu || isMenuItemRole(n.role) || n.role == role::separator;
  return macRole(n.role, n.states, contextual ? contextOf(e) : Context::other);
}

bool menuOpen(const ElementImpl& entry) {
  if (entry.view == View::buttonEntry || entry.view == View::buttonMenu) {
    return menuButtonOpen(entry);
  }
  Node& n = fetch(entry, Part::base);
  if (hasState(n.states, state::selected) || hasState(n.states, state::armed) ||
      hasState(n.states, state::expanded)) {
    return true;
  }
  // An entry that says whether it is expanded is believed (Gecko leaves the items of a closed menu
  // in state showing).
  if (hasState(n.states, state::expandable)) return false;
  Node& c = fetch(entry, Part::children);
  if (c.children.empty()) return false;
  // States kept from an earlier run (keptanswers.h) tell without asking: a closed menu's items
  // are not asked anything else.
  bool kept = std::all_of(c.children.begin(), c.children.end(),
                          [](const ObjectRef& ref) { return nodeOf(ref).baseFromKept; });
  if (!kept) {
    auto group = std::make_shared<Group>(Group{c.children});
    ElementImpl first{c.children[0].first, c.children[0].second, View::object, Context::menu,
                      group};
    fetch(first, Part::base);
  }
  for (const auto& ref : c.children) {
    if (hasState(nodeOf(ref).states, state::showing)) return true;
  }
  return false;
}

ObjectRef topLevelOf(const ObjectRef& ref) {
  ObjectRef at = ref;
  // Parents as the objects name them, a bounded number of steps (a cycle ends there too).
  for (int step = 0; step < 64; ++step) {
    if (at.second == ROOT_PATH) return ref;
    ElementImpl e{at.first, at.second, View::object, Context::other, nullptr};
    Node& n = fetch(e, Part::base);
    if (n.baseEnd != CallEnd::ok || n.parent.second.empty() || n.parent.second == NULL_PATH) {
      return at;
    }
    if (n.parent.second == ROOT_PATH) return at;
    at = n.parent;
  }
  return at;
}

void walkFrame(const Element& window, int maxDepth,
               const std::function<Visit(const ElementImpl&, Node&)>& visit) {
  std::deque<std::pair<ElementImpl, int>> queue{{*window.impl, 0}};
  int visited = 0;
  while (!queue.empty() && visited < 600 && !pastRunDeadline()) {
    auto [e, depth] = queue.front();
    queue.pop_front();
    ++visited;
    Node& n = fetch(e, Part::base);
    if (n.baseEnd != CallEnd::ok) continue;
    Visit next = visit(e, n);
    if (next == Visit::stop) return;
    if (next == Visit::skip || depth >= maxDepth || n.childCount == 0) continue;
    if (n.role == role::menu || n.role == role::popupMenu || isTextRole(n.role) ||
        n.role == role::table || n.role == role::treeTable || n.role == role::tree ||
        n.role == role::list || n.role == role::listBox || n.role == role::documentWeb ||
        n.role == role::documentFrame) {
      continue;
    }
    std::vector<ObjectRef> kids = fetch(e, Part::children).children;
    if (kids.size() > PREFETCH_LIMIT) kids.resize(PREFETCH_LIMIT);
    auto group = std::make_shared<Group>(Group{kids});
    for (const auto& ref : kids) {
      queue.emplace_back(ElementImpl{ref.first, ref.second, View::object, Context::other, group},
                         depth + 1);
    }
  }
}

ElementList windowsOf(const std::string& bus) {
  ElementImpl app{bus, ROOT_PATH, View::object, Context::other, nullptr};
  Node& root = fetch(app, Part::children);
  std::vector<ObjectRef> tops = root.children;
  auto group = std::make_shared<Group>(Group{tops});
  ElementList windows;
  if (tops.empty()) return windows;
  ElementImpl first{tops[0].first, tops[0].second, View::object, Context::other, group};
  fetch(first, Part::base);
  for (const auto& ref : tops) {
    Node& n = nodeOf(ref);
    if (n.baseEnd != CallEnd::ok) continue;
    bool shown = hasState(n.states, state::showing) || hasState(n.states, state::visible) ||
                 hasState(n.states, state::iconified);
    if (!shown) continue;
    windows.push_back(makeElement(ref.first, ref.second, View::object, Context::other, group));
  }
  return windows;
}

}  // namespace uiglean::lx

namespace uiglean::lx {

std::optional<bool> focusedPasswordSeen() {
  bool anyFocused = false;
  for (const auto& [key, n] : nodes()) {
    if (n.epoch != currentEpoch || !n.baseLoaded || n.baseEnd != CallEnd::ok) continue;
    if (!hasState(n.states, state::focused) || n.role == role::application) continue;
    if (n.role == role::passwordText) return true;
    anyFocused = true;
  }
  if (anyFocused) return false;
  return std::nullopt;
}

}  // namespace uiglean::lx
