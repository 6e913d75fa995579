#include "uiglean/actions/settle.h"

#include <algorithm>
#include <cmath>

#include "uiglean/ax/readers.h"
#include "uiglean/front/commands.h"
#include "uiglean/front/globals.h"
#include "uiglean/front/output.h"
#include "uiglean/front/text.h"

namespace uiglean {

void writeJson(JsonWriter& w, const SettlePayload& p) {
  w.beginObject();
  field(w, "settled", p.settled);
  field(w, "elapsedMs", p.elapsedMs);
  field(w, "events", p.events);
  field(w, "sheetAppeared", p.sheetAppeared);
  field(w, "changed", p.changed);
  w.endObject();
}

SettleParams settleParams(const std::vector<std::string>& arguments) {
  SettleParams p;
  if (arguments.size() > 1) {
    if (auto v = parseInt64(arguments[1])) p.quietMs = *v;
  }
  if (arguments.size() > 2) {
    if (auto v = parseInt64(arguments[2])) p.limitMs = *v;
  }
  return p;
}

namespace {

constexpr double SETTLE_SLICE_MS = 50;

void settleCallback(const Observer&, const Element&, const std::string& notification, void*) {
  lastEventAt = currentTime();
  if (seenEvents.size() < 20 &&
      std::find(seenEvents.begin(), seenEvents.end(), notification) == seenEvents.end()) {
    seenEvents.push_back(notification);
  }
  if (notification == "AXSheetCreated") sawSheet = true;
}


}  // namespace

void cmdSettle() {
  FrontApp front = requireFrontmostApp();
  SettleParams params = settleParams(args);
  ObserverCreateResult created = axObserverCreate(front.app.pid, settleCallback);
  if (created.status != axerr::success || !created.observer) emit(SettlePayload{});
  for (const auto& name : SETTLE_NOTIFICATIONS) {
    axObserverAddNotification(created.observer, front.element, name, nullptr);
  }
  addObserverToRunLoop(created.observer);

  double start = currentTime();
  lastEventAt = start;
  const auto quiet = static_cast<double>(params.quietMs);
  const auto limit = static_cast<double>(params.limitMs);
  bool settled = false;
  for (;;) {
    double e = (currentTime() - start) * 1000.0;
    if (!(e < limit)) break;
    // The wait goes in slices and can end only at a slice's end; when nothing arrives it goes on
    // until the time limit or the quiet period is reached, so those slices are waited in one go.
    double q = (currentTime() - lastEventAt) * 1000.0;
    double slices = std::max(1.0, std::ceil(std::min(limit - e, quiet - q) / SETTLE_SLICE_MS));
    double wait = slices * SETTLE_SLICE_MS / 1000.0;
    // A run that can be called off looks at the flag between shorter waits.
    if (runCancelled != nullptr) wait = std::min(wait, CANCEL_POLL_SECONDS);
    runLoopRunInMode(wait, true);
    if (runIsCancelled()) break;
    q = (currentTime() - lastEventAt) * 1000.0;
    if (!(q < quiet)) {
      settled = true;
      break;
    }
  }
  SettlePayload payload;
  payload.settled = settled;
  payload.elapsedMs = integerValue((currentTime() - start) * 1000.0);
  payload.events = seenEvents;
  payload.sheetAppeared = sawSheet;
  payload.changed = !seenEvents.empty();
  emit(payload);
}

}  // namespace uiglean
