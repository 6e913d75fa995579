// The scripted platform's scene reader on any text: it either rejects the text with a SceneError
// or reads a scene that writes back to a scene file that reads again, to the same scene. A scene
// that reads is then walked the way "tree" walks an application, and the snapshot written as
// JSON must read back.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "fuzz_check.h"
#include "uiglean/ax/snapshot.h"
#include "uiglean/front/globals.h"
#include "uiglean/platform/scripted/scripted.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  uiglean::Scene scene;
  try {
    scene = uiglean::parseScene(text, "fuzz.json");
  } catch (const uiglean::SceneError& e) {
    // The message is one line of valid text once the tool has made it printable.
    FUZZ_CHECK(e.what() != nullptr);
    return 0;
  }

  const auto dump = [](const uiglean::Scene& s) {
    return uiglean::sceneToJson(s, 0).dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
  };
  const std::string written = dump(scene);
  uiglean::Scene again;
  try {
    again = uiglean::parseScene(written, "fuzz.json");
  } catch (const uiglean::SceneError& e) {
    std::fprintf(stderr, "the written scene does not read: %s\n%s\n", e.what(), written.c_str());
    FUZZ_CHECK(false);
  }
  const std::string rewritten = dump(again);
  if (rewritten != written) {
    std::fprintf(stderr, "written:\n%s\nread and written again:\n%s\n", written.c_str(),
                 rewritten.c_str());
    FUZZ_CHECK(false);
  }

  std::vector<uiglean::SElementPtr> apps;
  for (const auto& app : scene.apps) apps.push_back(app.element);
  uiglean::useScene(std::move(scene));
  uiglean::startGlobals({"tree"});
  for (const auto& app : apps) {
    if (!app) continue;
    uiglean::AXPayload payload;
    payload.windows = uiglean::snapshotWindows(uiglean::Element{app});
    uiglean::JsonWriter w;
    uiglean::writeJson(w, payload);
    FUZZ_CHECK(!nlohmann::json::parse(w.out, nullptr, false).is_discarded());
  }
  apps.clear();
  uiglean::useScene(uiglean::Scene{});
  return 0;
}
