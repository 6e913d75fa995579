// "world" over fuzzed window-server answers: displays with any bounds, window lists of any shape
// (entries that are not dictionaries, keys of the wrong type, reals where integers belong, bounds
// that are not finite or overflow once standardized). Every listed window must be a titled,
// finite, large enough window of an ordinary application on the display that shows most of it,
// and the payload must read back as JSON.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "scripted_elements.h"
#include "uiglean/apps/world.h"
#include "uiglean/front/globals.h"
#include "uiglean/platform/scripted/scripted.h"

namespace {

using uiglean::PlistValue;

double real(FuzzedDataProvider& in) {
  static const double special[] = {0, -0.0, 1, -1, 119.5, 120, 1e300, -1e300, 1.7e308, -1.7e308,
                                   std::numeric_limits<double>::infinity(),
                                   -std::numeric_limits<double>::infinity(),
                                   std::numeric_limits<double>::quiet_NaN(), 4e-324};
  switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: return in.PickValueInArray(special);
    case 1: return in.ConsumeFloatingPoint<double>();
    default: return static_cast<double>(in.ConsumeIntegralInRange(-3000, 3000));
  }
}

std::int32_t pid(FuzzedDataProvider& in) {
  static const std::int32_t pids[] = {1, 2, 3, 9999, -1, 0};
  return in.PickValueInArray(pids);
}

// A value of the window list: mostly of the type its key wants.
PlistValue plist(FuzzedDataProvider& in, int wanted, int depth);

PlistValue plistOfKind(FuzzedDataProvider& in, int kind, int depth) {
  switch (kind) {
    case 0: return PlistValue{std::monostate{}};
    case 1: return PlistValue{in.ConsumeBool()};
    case 2: {
      static const std::int64_t ints[] = {0, 1, 2, 3, 9999, -1, INT32_MAX, INT32_MIN,
                                          static_cast<std::int64_t>(INT32_MAX) + 1, INT64_MIN};
      return PlistValue{in.ConsumeBool() ? in.PickValueInArray(ints) : in.ConsumeIntegral<std::int64_t>()};
    }
    case 3: return PlistValue{real(in)};
    case 4: return PlistValue{in.ConsumeRandomLengthString(12)};
    case 5: {
      uiglean::PlistDict bounds;
      static const char* const keys[] = {"X", "Y", "Width", "Height"};
      for (const char* k : keys) {
        if (in.ConsumeIntegralInRange(0, 7) != 0) bounds.emplace_back(k, plist(in, in.ConsumeBool() ? 3 : 2, depth + 1));
      }
      return PlistValue{bounds};
    }
    default: {
      uiglean::PlistArray a;
      if (depth < 2) a.push_back(plist(in, 2, depth + 1));
      return PlistValue{a};
    }
  }
}

PlistValue plist(FuzzedDataProvider& in, int wanted, int depth) {
  const int kind = in.ConsumeIntegralInRange(0, 9) == 0 ? in.ConsumeIntegralInRange(0, 6) : wanted;
  return plistOfKind(in, kind, depth);
}

PlistValue windowEntry(FuzzedDataProvider& in) {
  struct Key {
    const char* name;
    int kind;
  };
  static const Key keys[] = {{"kCGWindowLayer", 2},      {"kCGWindowAlpha", 3},
                             {"kCGWindowName", 4},       {"kCGWindowBounds", 5},
                             {"kCGWindowOwnerPID", 2},   {"kCGWindowNumber", 2},
                             {"kCGWindowIsOnscreen", 1}, {"kCGWindowOwnerName", 4}};
  uiglean::PlistDict entry;
  for (const Key& k : keys) {
    if (in.ConsumeIntegralInRange(0, 7) == 0) continue;
    if (k.kind == 2 && std::string(k.name) == "kCGWindowLayer" && in.ConsumeBool()) {
      entry.emplace_back(k.name, PlistValue{std::int64_t{0}});
    } else if (std::string(k.name) == "kCGWindowOwnerPID" && in.ConsumeBool()) {
      entry.emplace_back(k.name, PlistValue{std::int64_t{pid(in)}});
    } else {
      entry.emplace_back(k.name, plist(in, k.kind, 0));
    }
  }
  return PlistValue{entry};
}

double overlap(const uiglean::Rect& a, const uiglean::Rect& b) {
  const auto p = uiglean::standardized(a), q = uiglean::standardized(b);
  const double w = std::min(p.x + p.width, q.x + q.width) - std::max(p.x, q.x);
  const double h = std::min(p.y + p.height, q.y + q.height) - std::max(p.y, q.y);
  return w > 0 && h > 0 ? w * h : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  uiglean::Scene scene;
  const int displays = in.ConsumeIntegralInRange(0, 18);
  for (int i = 0; i < displays; ++i) {
    scene.displays.push_back(uiglean::SDisplay{in.ConsumeIntegralInRange<std::uint32_t>(0, 20),
                                               uiglean::Rect{real(in), real(in), real(in), real(in)}});
  }
  if (in.ConsumeBool()) scene.mainDisplay = in.ConsumeIntegralInRange<std::uint32_t>(0, 20);
  std::set<std::int32_t> pids;
  const int apps = in.ConsumeIntegralInRange(0, 4);
  for (int i = 0; i < apps; ++i) {
    uiglean::SApp app;
    app.pid = pid(in);
    if (!pids.insert(app.pid).second) continue;
    if (in.ConsumeBool()) app.name = in.ConsumeRandomLengthString(8);
    if (in.ConsumeBool()) app.bundleId = in.ConsumeRandomLengthString(8);
    app.policy = in.ConsumeIntegralInRange(0, 2) == 0 ? 1 : 0;
    app.hidden = in.ConsumeBool();
    app.element = fuzzscene::element("app" + std::to_string(app.pid));
    std::vector<uiglean::SElementPtr> windows;
    const int count = in.ConsumeIntegralInRange(0, 3);
    for (int k = 0; k < count; ++k) {
      auto w = fuzzscene::element(app.element->name + ".w" + std::to_string(k));
      if (in.ConsumeBool()) w->windowNumber = in.ConsumeIntegralInRange<std::int64_t>(-1, 6);
      if (in.ConsumeBool()) fuzzscene::set(w, "AXMinimized", fuzzscene::boolean(in.ConsumeBool()));
      windows.push_back(w);
    }
    fuzzscene::set(app.element, "AXWindows", fuzzscene::elements(windows));
    scene.apps.push_back(std::move(app));
  }
  if (in.ConsumeBool()) scene.frontmost = pid(in);
  scene.screenCaptureAccess = in.ConsumeBool();
  std::size_t entries = 0;
  if (in.ConsumeIntegralInRange(0, 15) == 0) {
    scene.windowList = plistOfKind(in, in.ConsumeIntegralInRange(0, 5), 0);
  } else {
    uiglean::PlistArray list;
    while (in.remaining_bytes() > 0 && list.size() < 12) {
      list.push_back(in.ConsumeIntegralInRange(0, 15) == 0 ? plist(in, 4, 0) : windowEntry(in));
    }
    entries = list.size();
    scene.windowList = PlistValue{list};
  }
  std::vector<uiglean::DisplayEntry> displayEntries;
  for (const auto& d : scene.displays) displayEntries.push_back({d.id, d.bounds});
  const std::int32_t selfPid = scene.selfPid;
  std::vector<uiglean::SApp> appsCopy = scene.apps;
  uiglean::useScene(std::move(scene));
  uiglean::startGlobals({"world"});

  const uiglean::WorldPayload p = uiglean::surveyWorld(0);
  FUZZ_CHECK(p.displays.size() <= uiglean::MAX_DISPLAYS);
  for (const auto& d : p.displays) {
    for (double v : d.frame) FUZZ_CHECK(std::isfinite(v));
    FUZZ_CHECK(d.frame[2] >= 0 && d.frame[3] >= 0);
  }
  FUZZ_CHECK(p.windows.size() <= entries);
  static const std::set<std::string> states{"visible", "app-hidden", "minimized",
                                            "minimized-or-other-space"};
  for (const auto& w : p.windows) {
    for (double v : w.frame) FUZZ_CHECK(std::isfinite(v));
    FUZZ_CHECK(w.frame[2] >= uiglean::MIN_WORLD_WINDOW_SIDE);
    FUZZ_CHECK(w.frame[3] >= uiglean::MIN_WORLD_WINDOW_SIDE);
    FUZZ_CHECK(!w.title.empty());
    FUZZ_CHECK(states.count(w.state) == 1);
    FUZZ_CHECK(w.pid != selfPid);
    bool ordinary = false;
    for (const auto& a : appsCopy) {
      if (a.pid != w.pid) continue;
      ordinary = a.policy == 0;
      // The application's own name, as it gives it, when it has one.
      if (a.name) FUZZ_CHECK(w.app == *a.name);
      FUZZ_CHECK(w.bundleId == a.bundleId);
    }
    FUZZ_CHECK(ordinary);
    // The display that shows the largest part of the window (the first of equals), among the
    // displays listed.
    const uiglean::Rect rect{w.frame[0], w.frame[1], w.frame[2], w.frame[3]};
    double best = 0;
    std::optional<std::uint32_t> expected;
    for (const auto& d : p.displays) {
      const double area = overlap(uiglean::Rect{d.frame[0], d.frame[1], d.frame[2], d.frame[3]}, rect);
      if (area > best) {
        best = area;
        expected = d.id;
      }
    }
    FUZZ_CHECK(w.display == expected);
  }

  // displayFor on its own, over every display given.
  if (!displayEntries.empty()) {
    const uiglean::Rect probe = displayEntries.back().bounds;
    const auto chosen = uiglean::displayFor(displayEntries, probe);
    double best = 0;
    for (const auto& d : displayEntries) best = std::max(best, overlap(d.bounds, probe));
    FUZZ_CHECK(chosen.has_value() == (best > 0));
  }

  uiglean::JsonWriter writer;
  uiglean::writeJson(writer, p);
  const auto back = nlohmann::json::parse(writer.out, nullptr, false);
  FUZZ_CHECK(!back.is_discarded());
  FUZZ_CHECK(back["windows"].size() == p.windows.size());
  FUZZ_CHECK(back["displays"].size() == p.displays.size());
  for (std::size_t i = 0; i < p.windows.size(); ++i) {
    for (std::size_t k = 0; k < 4; ++k) {
      FUZZ_CHECK(back["windows"][i]["frame"][k].get<double>() == p.windows[i].frame[k]);
    }
  }
  uiglean::useScene(uiglean::Scene{});
  return 0;
}
