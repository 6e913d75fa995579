// The world the scripted platform reports: a scene read from a JSON file, changed by the run
// (attribute writes, effects, activations, launches) and written back when it persists.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "uiglean/ax/platform.h"

namespace uiglean {

using json = nlohmann::json;

struct SceneError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

using SElement = ElementImpl;
using SElementPtr = std::shared_ptr<SElement>;

// An attribute value as the scene holds it.
struct SValue {
  enum class Kind { Null, String, Number, Bool, Point, Size, Range, Element, Elements, Other };
  Kind kind = Kind::Null;
  std::string text;          // String
  double num = 0;            // Number (a real), Bool (0/1)
  // Number: a JSON integer is held exactly, in `integer`, or in `uinteger` when it is beyond the
  // signed range.
  bool isInteger = false;
  bool isUnsigned = false;
  std::int64_t integer = 0;
  std::uint64_t uinteger = 0;
  double a = 0, b = 0;       // Point, Size
  std::int64_t location = 0, length = 0;  // Range
  SElementPtr element;       // Element
  std::vector<SElementPtr> elements;  // Elements
  // Element(s) defined at this place in the scene (rather than referred to by id).
  std::vector<bool> inlineDef;
  json raw;                  // Other: what the scene wrote
};

struct Effect {
  enum class Kind { SetAttr, RemoveAttr, Notify, Frontmost };
  Kind kind = Kind::SetAttr;
  std::string elementId;
  std::string attr;
  SValue value;
  std::string name;
  double afterMs = 0;
  std::optional<std::int32_t> pid;  // Frontmost: none means no frontmost application
  std::string where;                // the place in the scene that defines it, for errors
};

}  // namespace uiglean

// The scripted platform's element: one accessibility element of the scene.
struct uiglean::ElementImpl {
  std::string id;    // may be empty
  std::string name;  // journal name: the id, or the path by which the scene reaches it
  std::vector<std::pair<std::string, SValue>> attrs;  // in scene order
  std::map<std::string, std::int32_t> errors;
  std::optional<std::vector<std::string>> actions;
  std::optional<std::int32_t> actionNamesError;
  std::map<std::string, std::int32_t> perform;
  std::vector<std::string> settable;
  std::map<std::string, std::int32_t> set;
  std::optional<std::int64_t> windowNumber;
  std::vector<std::pair<std::string, std::vector<Effect>>> on;
  bool resolved = false;  // id references below it replaced by their elements

  SValue* find(const std::string& attr);
};

namespace uiglean {

struct SApp {
  std::int32_t pid = 0;
  std::optional<std::string> name;
  std::optional<std::string> bundleId;
  std::int64_t policy = 0;
  bool hidden = false;
  bool activates = true;
  double activateDelayMs = 0;
  SElementPtr element;
};

struct SInstalled {
  std::optional<std::string> bundleId;
  std::string url;
  std::optional<SApp> launches;
  double launchDelayMs = 0;
};

struct SDisplay {
  std::uint32_t id = 0;
  Rect bounds;
};

struct SImage {
  std::int64_t w = 0, h = 0;
  bool noBitmap = false;
  std::optional<std::string> error;
  std::vector<TextObservation> observations;
};

struct SNotification {
  std::string name;
  double atMs = 0;
  std::optional<double> everyMs;
  std::optional<double> untilMs;
  bool unsupported = false;
  double nextMs = 0;  // next arrival: atMs + arrivals * everyMs
  double arrivals = 0;  // arrivals gone, of a repeating notification
  bool done = false;
};

// Notification times, in milliseconds: a start at or after 0 and before kMaxSceneMs, a period of
// at least kMinPeriodMs. Every arrival then differs from the one before it, and a run loop reaches
// the next arrival in one step.
inline constexpr double kMaxSceneMs = 1e15;
inline constexpr double kMinPeriodMs = 1;

struct SceneData {
  std::string path;
  json original;  // top-level keys, as read
  bool trusted = true;
  bool secureInput = false;
  std::int32_t selfPid = 9999;
  std::optional<std::int32_t> frontmost;
  std::vector<SApp> apps;
  std::vector<SInstalled> installed;
  // Elements that no application shows but that effects or references still name.
  std::vector<SElementPtr> detached;
  std::vector<std::string> files;
  std::vector<SDisplay> displays;
  std::optional<std::uint32_t> mainDisplay;
  PlistValue windowList;
  bool screenCaptureAccess = false;
  std::map<std::string, SImage> images;
  std::vector<SNotification> notifications;
  std::int32_t observerError = 0;
  bool persist = false;

  std::unordered_map<std::string, SElementPtr> byId;
};

struct Scene : SceneData {
  Scene() = default;
  Scene(Scene&& other) noexcept;
  Scene& operator=(Scene&& other) noexcept;
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;
  // Elements can refer to each other in cycles (AXParent, an element naming itself); the scene
  // cuts the references between its elements when it goes, so that they go with it.
  ~Scene();

 private:
  void cut();
  void forget();
};

// Reads and checks a scene; throws SceneError naming the file and the JSON location.
Scene loadScene(const std::string& path);
Scene parseScene(const std::string& text, const std::string& path);

// The scene as the run left it, in the scene file's form. Time goes on from `nowMs`: arrivals
// still to come are written relative to it, so that the next run's clock (which starts at 0)
// continues where this one stopped.
json sceneToJson(const Scene& scene, double nowMs = 0);

// The journal form of a value: elements by their names.
json valueToJournal(const SValue& v);

}  // namespace uiglean
