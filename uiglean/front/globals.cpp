#include "uiglean/front/globals.h"

#include <cmath>
#include <limits>

#include "uiglean/ax/platform.h"

namespace uiglean {

std::int64_t MAX_DEPTH = 14;
std::int64_t MAX_CHILDREN = 96;
std::int64_t MAX_WINDOWS = 6;
std::int64_t MAX_NODES = 4000;
std::int64_t nodeCount = 0;
std::unordered_set<std::string> INTERESTING_ACTIONS;
double lastEventAt = 0;
std::vector<std::string> seenEvents;
bool sawSheet = false;
std::vector<std::string> SETTLE_NOTIFICATIONS;
std::vector<std::string> args;
std::string subcommand;
double walkEndsAt = std::numeric_limits<double>::infinity();
const std::atomic<bool>* runCancelled = nullptr;

bool runIsCancelled() { return runCancelled != nullptr && runCancelled->load(); }

void startGlobals(std::vector<std::string> arguments) {
  MAX_DEPTH = 14;
  MAX_CHILDREN = 96;
  MAX_WINDOWS = 6;
  MAX_NODES = 4000;
  nodeCount = 0;
  INTERESTING_ACTIONS = {"AXPress",     "AXShowMenu",  "AXPick",
                         "AXConfirm",   "AXCancel",    "AXIncrement",
                         "AXDecrement", "AXScrollToVisible", "AXShowAlternateUI"};
  lastEventAt = currentTime();
  seenEvents.clear();
  sawSheet = false;
  SETTLE_NOTIFICATIONS = {"AXValueChanged",       "AXLayoutChanged",
                          "AXTitleChanged",       "AXRowCountChanged",
                          "AXSelectedTextChanged", "AXFocusedUIElementChanged",
                          "AXWindowCreated",      "AXSheetCreated",
                          "AXMenuOpened",         "AXUIElementDestroyed"};
  args = std::move(arguments);
  subcommand = args.empty() ? std::string("tree") : args[0];
  walkEndsAt = std::numeric_limits<double>::infinity();
}

void startRunClock(double walkSeconds) {
  if (!(walkSeconds > 0) || !std::isfinite(walkSeconds)) {
    walkEndsAt = std::numeric_limits<double>::infinity();
    axSetRunDeadline(0);
    return;
  }
  walkEndsAt = currentTime() + walkSeconds;
  axSetRunDeadline(walkSeconds + RUN_FINISH_SECONDS);
}

bool walkTimeIsUp() { return currentTime() >= walkEndsAt; }

}  // namespace uiglean
