// Waiting until the frontmost application's interface stops changing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "uiglean/front/json.h"

namespace uiglean {

struct SettlePayload {
  bool settled = false;
  std::int64_t elapsedMs = 0;
  std::vector<std::string> events;
  bool sheetAppeared = false;
  bool changed = false;
};
void writeJson(JsonWriter& w, const SettlePayload& p);

// The quiet period and the time limit from the arguments after "settle"; each falls back to its
// default on its own.
struct SettleParams {
  std::int64_t quietMs = 300;
  std::int64_t limitMs = 3000;
};
SettleParams settleParams(const std::vector<std::string>& arguments);

}  // namespace uiglean
