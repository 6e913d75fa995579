// Process-wide limits and per-run state. All are set once by startGlobals() at the start of
// every run, before anything else happens.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

namespace uiglean {

extern std::int64_t MAX_DEPTH;
extern std::int64_t MAX_CHILDREN;
extern std::int64_t MAX_WINDOWS;
extern std::int64_t MAX_NODES;
extern std::int64_t nodeCount;
extern std::unordered_set<std::string> INTERESTING_ACTIONS;
extern double lastEventAt;
extern std::vector<std::string> seenEvents;
extern bool sawSheet;
extern std::vector<std::string> SETTLE_NOTIFICATIONS;
extern std::vector<std::string> args;
extern std::string subcommand;

// The run's time limit. Walks over an application's elements (the snapshot, menus) stop
// starting new elements once `walkEndsAt` (currentTime() seconds) has passed and answer with
// what they have; the platform cuts every wait on an application `RUN_FINISH_SECONDS` later,
// which leaves the run time to finish the elements it stood in and to write its answer.
extern double walkEndsAt;
inline constexpr double RUN_FINISH_SECONDS = 2.0;
// Starts the clock: walks end `walkSeconds` from now, platform waits RUN_FINISH_SECONDS after.
// Not finite or not positive: no limit.
void startRunClock(double walkSeconds);
bool walkTimeIsUp();

// Set by a process that makes many runs (the server) to a flag that another thread raises once
// the current run is no longer wanted; long waits (settle) then end at their next slice. Null in
// a one-shot run, and left alone by startGlobals.
extern const std::atomic<bool>* runCancelled;
inline constexpr double CANCEL_POLL_SECONDS = 0.1;
bool runIsCancelled();

// Sets every global to its start value, in declaration order; `arguments` is the command line
// without the program name.
void startGlobals(std::vector<std::string> arguments);

}  // namespace uiglean
