// Answers kept between the runs of a long-lived process (the MCP server): what objects said that
// the applications announce when it changes, kept until an event says it did.
//
// A run of `uiglean` asks every object afresh. In a server, the second and later runs take an
// object's role, states and (for controls other than menus) actions from what earlier runs
// learnt, and drop them when the application announces a change (object:state-changed,
// object:property-change, object:selection-changed, object:active-descendant-changed), when it
// leaves the bus, when events may have been lost, and whenever the server itself acts on any
// application. Everything else (name, description, child count,
// parent, id and attributes in one Properties.GetAll, the children, extents, text, values, menu
// items' actions) is asked every time: GTK 3 does not announce what it says of objects it has
// not built yet, nor names made of other objects' text (README.md, "Answers kept between runs").
//
// Ordering: before a run uses an application's kept answers, one call to the application goes
// over the accessibility bus and every signal that arrived before its reply is applied first. The
// bus keeps one connection's messages in order, so whatever the application announced before it
// answered that call has been taken into account.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace uiglean::lx {

struct Node;
enum class Part;

using KeptRef = std::pair<std::string, std::string>;  // bus name, object path

// What GetRole and GetState said of one object.
struct KeptBase {
  std::uint32_t role = 0;
  std::uint64_t states = 0;
  // How many children it had: not an answer (the count is asked again), only whether its
  // children are worth asking for in the same burst as its base.
  std::int32_t childCountHint = -1;
};

using KeptActions = std::vector<std::pair<std::string, std::string>>;  // name, key binding

struct Kept {
  KeptBase base;
  // Dropped together with the role and states. A control's action names are its class's; its
  // key bindings are read only as menu items' shortcuts, and menu items' actions are not kept.
  std::optional<KeptActions> actions;
  // False when the object has no Action interface (a label): an object's interfaces are its
  // class's, fixed for its life.
  bool actionInterface = true;
};

// The store: answers per object, at most `maxEntries` objects and about `maxBytes` of them. When
// either bound is passed, the objects used least recently go first; an object whose answers alone
// would take more than a sixteenth of `maxBytes` is not kept.
class KeptAnswers {
 public:
  KeptAnswers(std::size_t maxEntries, std::size_t maxBytes);

  // The object's answers, or nullptr. Counts as a use.
  const Kept* find(const KeptRef& ref);
  void keepBase(const KeptRef& ref, KeptBase base);
  // Kept only beside the object's role and states.
  void keepActions(const KeptRef& ref, KeptActions actions, bool actionInterface = true);

  void forget(const KeptRef& ref);
  void forgetApp(const std::string& bus);
  void clear();

  std::size_t size() const { return index_.size(); }
  std::size_t bytes() const { return bytes_; }

 private:
  struct Slot {
    std::string key;
    std::string bus;
    Kept kept;
    std::size_t bytes = 0;
  };
  using Slots = std::list<Slot>;  // the most recently used first

  Slot& slotFor(const KeptRef& ref);
  void afterKeeping(Slot& s);
  void account(Slot& s);
  void erase(Slots::iterator it);
  void evict();

  std::size_t maxEntries_, maxBytes_;
  std::size_t bytes_ = 0;
  Slots slots_;
  std::unordered_map<std::string, Slots::iterator> index_;
};

// --- The server's use of the store ------------------------------------------------------------

// Switches keeping on for the rest of the process (the server, once, before its first run).
void keepAnswersAcrossRuns();
// At the start of each run: registers for the events the store relies on when that is not done
// yet on the current accessibility bus, and takes back what a pause or a failure left.
void keptNewRun();
// Whether the current epoch may take `bus`'s kept answers; makes the ordering call to the
// application first when the epoch has not made it yet. False when keeping is off, the
// registration failed, the toolkit is not trusted or the application floods events.
bool keptUsable(const std::string& bus);
// Fills a node just started in the current epoch from the kept answers (its role and states, and
// its actions), when `keptUsable` said yes for its application in this epoch. The node's base
// burst then asks only Properties.GetAll.
void seedFromKept(const KeptRef& ref, Node& n);
// A fetch is under way: events applied until the outermost one ends are remembered, so that
// answers that an event overtook are not kept.
void keptFetchStarted();
// The fetch of `part` for `members` ended: their answers are kept (those that an event touched
// while the fetch was under way are not).
void keptFetchEnded(Part part, const std::vector<KeptRef>& members);
// Everything kept is dropped: the server acted on an application (an action, a write,
// synthesized input, a window raised).
void forgetKeptAnswers();
// Whether the store registered `type` (or a type it is part of) with the registry: observers
// neither register nor take back such types, which would take the store's registration with them.
bool keptEventsCover(const std::string& type);

}  // namespace uiglean::lx
