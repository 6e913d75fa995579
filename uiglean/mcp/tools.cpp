#include "uiglean/mcp/tools.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "uiglean/mcp/treeview.h"

namespace uiglean::mcp {

namespace {

// The command line's limits on a snapshot; a client may ask for less, never more.
constexpr std::int64_t TREE_MAX_NODES = 4000;
constexpr std::int64_t TREE_MAX_DEPTH = 14;
// What a snapshot holds when the client names no limit: about 25,000 tokens of JSON at most.
constexpr std::int64_t TREE_DEFAULT_NODES = 400;

const char* kRefText =
    "A ref (such as \"w0.3.1\") is the path of an element in the last `tree` snapshot: window 0, "
    "its child 3, that one's child 1. Refs go stale when the interface changes; take a new "
    "snapshot then.";

json stringProp(const std::string& description) {
  return {{"type", "string"}, {"description", description}};
}

json objectSchema(json properties, json required = json::array()) {
  json s = {{"type", "object"}, {"properties", std::move(properties)}};
  if (!required.empty()) s["required"] = std::move(required);
  return s;
}

json okSchema() {
  return objectSchema({{"ok", {{"type", "boolean"}}}, {"error", {{"type", "string"}}}},
                      json::array({"ok"}));
}

json refArgs(const std::string& what) {
  return objectSchema({{"ref", stringProp("The element's ref from the last snapshot. " + what)}},
                      json::array({"ref"}));
}

struct Tool {
  std::string name;
  std::string title;
  std::string description;
  json input;
  json output;
  bool readOnly = false;
};

std::vector<Tool> makeTools() {
  std::vector<Tool> t;
  t.push_back(
      {"tree", "Snapshot of the frontmost application",
       std::string("Takes a snapshot of the frontmost application's windows: every element with "
                   "its role, title, value, state, actions and frame, and its ref. Use it first, "
                   "and again after anything changed. ") +
           kRefText +
           " Keep it small: `format: \"text\"` gives one line per element, `interactive: true` "
           "keeps only elements that can be acted on (and the ancestors that place them), `root` "
           "a subtree, `maxDepth` and `maxNodes` fewer levels and nodes. A cut snapshot says so "
           "in `truncated`.",
       objectSchema(
           {{"root", stringProp("Only this element (a ref) and what lies below it.")},
            {"maxNodes",
             {{"type", "integer"}, {"minimum", 1}, {"maximum", TREE_MAX_NODES},
              {"description", "Nodes kept at most, in document order (default 400, at most 4000)."}}},
            {"maxDepth",
             {{"type", "integer"}, {"minimum", 0}, {"maximum", TREE_MAX_DEPTH},
              {"description", "Levels kept below the top node (default and at most 14)."}}},
            {"interactive",
             {{"type", "boolean"},
              {"description", "Only elements with actions or editable values, with their ancestors."}}},
            {"format",
             {{"type", "string"}, {"enum", json::array({"json", "text"})},
              {"description", "\"json\" (default): the record; \"text\": one line per element: "
                              "indentation, role, title and value, ref, flags, [actions]."}}}}),
       objectSchema({{"app", {{"type", "string"}}},
                     {"bundleId", {{"type", "string"}}},
                     {"pid", {{"type", "integer"}}},
                     {"frontWindow", {{"type", "integer"}}},
                     {"secureInput", {{"type", "boolean"}}},
                     {"windows", {{"type", "array"}, {"items", {{"type", "object"}}}}},
                     {"text", {{"type", "string"}}},
                     {"truncated", {{"type", "object"}}}},
                    json::array({"app", "pid"})),
       true});
  const char* actions[][3] = {
      {"press", "Press an element",
       "Presses the element (a button, checkbox, menu item, link...): its default action. Then "
       "call `settle` and take a new `tree`."},
      {"focus", "Focus an element", "Moves the keyboard focus to the element."},
      {"reveal", "Scroll an element into view", "Scrolls the element's container so that it shows."},
      {"altui", "Alternate interface of an element",
       "Opens the element's alternate interface (its context menu or pop-up)."},
  };
  for (const auto& a : actions) {
    t.push_back({a[0], a[1], std::string(a[2]) + " " + kRefText + " Answers {\"ok\":false,\"error\":...} "
                                                 "when the ref no longer resolves or the application refuses.",
                 refArgs(""), okSchema()});
  }
  t.push_back({"setvalue", "Set an element's value",
               std::string("Replaces the value of a text field or other editable element with `value` "
                           "(typed into it where the application offers no writable value). ") +
                   kRefText,
               objectSchema({{"ref", stringProp("The element's ref from the last snapshot.")},
                             {"value", stringProp("The new value.")}},
                            json::array({"ref", "value"})),
               okSchema()});
  t.push_back(
      {"settle", "Wait until the interface is quiet",
       "Waits until the frontmost application's interface has sent no change for `quietMs` "
       "(default 300), or `limitMs` passed (default 3000). Call it after an action and before the "
       "next snapshot; it tells which changes it saw (a sheet or dialog appearing, values, "
       "layout). Long waits report progress and can be cancelled.",
       objectSchema({{"quietMs", {{"type", "integer"}, {"minimum", 0},
                                  {"description", "Quiet period in milliseconds (default 300)."}}},
                     {"limitMs", {{"type", "integer"}, {"minimum", 0},
                                  {"description", "Longest wait in milliseconds (default 3000)."}}}}),
       objectSchema({{"settled", {{"type", "boolean"}}},
                     {"elapsedMs", {{"type", "integer"}}},
                     {"events", {{"type", "array"}, {"items", {{"type", "string"}}}}},
                     {"sheetAppeared", {{"type", "boolean"}}},
                     {"changed", {{"type", "boolean"}}}},
                    json::array({"settled", "elapsedMs", "events", "sheetAppeared", "changed"})),
       true});
  t.push_back({"menus", "List the menu bar or one menu",
               "Without `menu`: the frontmost application's menu bar titles. With `menu` (a "
               "top-level title, any letter case): that menu's items with their paths, shortcuts, "
               "marks, enabled state and submenus. Use it to find what `menuclick` can choose.",
               objectSchema({{"menu", stringProp("A top-level menu title, such as \"File\".")}}),
               objectSchema({{"menus", {{"type", "array"}}},
                             {"menu", {{"type", "string"}}},
                             {"items", {{"type", "array"}}}}),
               true});
  t.push_back({"menuclick", "Choose a menu item",
               "Chooses a menu item by its path of titles, such as [\"File\", \"New Window\"] or "
               "[\"View\", \"Zoom\", \"Zoom In\"] (any letter case). Answers "
               "{\"ok\":false,\"error\":...} for a title that is not there or a disabled item.",
               objectSchema({{"path",
                              {{"type", "array"}, {"items", {{"type", "string"}}}, {"minItems", 2},
                               {"description", "The menu title, the item title, then submenu item titles."}}}},
                            json::array({"path"})),
               okSchema()});
  t.push_back({"activate", "Bring an application to the front",
               "Brings a running application to the front, or launches it, by name or desktop-file "
               "or bundle identifier (\"gedit\", \"org.gnome.gedit\"). Later tools act on the "
               "frontmost application.",
               objectSchema({{"app", stringProp("Application name or identifier.")}}, json::array({"app"})),
               okSchema()});
  t.push_back({"windows", "List the frontmost application's windows",
               "Lists the frontmost application's windows with their index, title, frame and "
               "whether they are main or modal. Use the index or title with `focuswindow`.",
               objectSchema(json::object()),
               objectSchema({{"app", {{"type", "string"}}},
                             {"windows", {{"type", "array"}, {"items", {{"type", "object"}}}}}},
                            json::array({"app", "windows"})),
               true});
  t.push_back({"focuswindow", "Raise a window",
               "Raises one of the frontmost application's windows: `window` is its index from "
               "`windows` or a part of its title (any letter case).",
               objectSchema({{"window", {{"type", {"string", "integer"}},
                                         {"description", "Window index or title substring."}}}},
                            json::array({"window"})),
               okSchema()});
  t.push_back({"world", "Describe the desktop",
               "Describes the whole desktop: the displays, the frontmost application, and every "
               "application window on screen with its frame. Use it to find which application to "
               "`activate`.",
               objectSchema(json::object()),
               objectSchema({{"displays", {{"type", "array"}}}, {"windows", {{"type", "array"}}}}),
               true});
  t.push_back({"ocr", "Read the text in an image file",
               "Recognises the text lines in an image file (PNG, JPEG...) on this machine, with "
               "each line's box in pixels and its confidence.",
               objectSchema({{"path", stringProp("The image file's path.")},
                             {"minTextHeight",
                              {{"type", "number"},
                               {"description", "Smallest text height as a fraction of the image height."}}}},
                            json::array({"path"})),
               objectSchema({{"w", {{"type", "integer"}}},
                             {"h", {{"type", "integer"}}},
                             {"lines", {{"type", "array"}, {"items", {{"type", "object"}}}}}},
                            json::array({"w", "h", "lines"})),
               true});
  const char* pointText =
      "Give `ref` (the element's centre) or `x` and `y` (screen coordinates, as frames give "
      "them). ";
  json pointArgs = {
      {"ref", stringProp("The element's ref from the last snapshot.")},
      {"x", {{"type", "number"}, {"description", "Screen x, when no ref is given."}}},
      {"y", {{"type", "number"}, {"description", "Screen y, when no ref is given."}}}};
  json pointerOut = objectSchema({{"ok", {{"type", "boolean"}}},
                                  {"error", {{"type", "string"}}},
                                  {"at", {{"type", "array"}, {"items", {{"type", "number"}}}}}},
                                 json::array({"ok"}));
  t.push_back(
      {"key", "Press keys",
       "Presses key chords in order, as a user would, into whatever has the keyboard focus: "
       "\"ctrl+s\", \"Return\", \"alt+F4\", \"cmd+shift+z\", \"Tab\", \"Escape\", \"F5\", \"down\". A "
       "shortcut that `menus` lists can be passed as it is. Use it for shortcuts and keys that "
       "no element's action reaches; prefer `press` and `setvalue` where they work. Answers "
       "{\"ok\":false,\"error\":...} where this session cannot send keys (secure input on, a "
       "Wayland session without X).",
       objectSchema({{"keys",
                      {{"type", "array"}, {"items", {{"type", "string"}}}, {"minItems", 1},
                       {"maxItems", 100},
                       {"description", "Chords such as \"ctrl+s\" or \"Return\", pressed in order."}}}},
                    json::array({"keys"})),
       objectSchema({{"ok", {{"type", "boolean"}}},
                     {"error", {{"type", "string"}}},
                     {"keys", {{"type", "array"}, {"items", {{"type", "string"}}}}}},
                    json::array({"ok"}))});
  t.push_back({"type", "Type text",
               "Types text key by key into whatever has the keyboard focus (a line break is "
               "Return, a tab Tab). Focus the field first (`focus` or `click`); to replace a "
               "field's whole value, `setvalue` is surer.",
               objectSchema({{"text", stringProp("The text to type.")}}, json::array({"text"})),
               okSchema()});
  t.push_back({"click", "Click with the mouse",
               std::string("Moves the pointer and clicks: left (default), right (a context menu), "
                           "middle or double. ") +
                   pointText +
                   "Use it where `press` does not work (canvas, custom widgets). " + kRefText,
               objectSchema([&] {
                 json p = pointArgs;
                 p["button"] = {{"type", "string"},
                                {"enum", json::array({"left", "right", "middle", "double"})},
                                {"description", "Which click (default left)."}};
                 return p;
               }()),
               pointerOut});
  t.push_back({"scroll", "Turn the mouse wheel",
               std::string("Turns the mouse wheel over a point: `lines` down (negative: up), "
                           "`columns` right (negative: left), at most 200 each. ") +
                   pointText + "`reveal` scrolls a known element into view more surely.",
               objectSchema([&] {
                 json p = pointArgs;
                 p["lines"] = {{"type", "integer"}, {"minimum", -200}, {"maximum", 200},
                               {"description", "Lines down; negative scrolls up."}};
                 p["columns"] = {{"type", "integer"}, {"minimum", -200}, {"maximum", 200},
                                 {"description", "Columns right; negative scrolls left."}};
                 return p;
               }()),
               pointerOut});
  t.push_back(
      {"screenshot", "Picture of the front window",
       "A PNG picture of the frontmost application's front window, or of a whole display "
       "(`display`: an id from `world`). With `ocr: true` the text lines recognised in it come "
       "too, with boxes in the picture's pixels. Use it to see what the accessibility tree "
       "does not describe (images, canvases, charts).",
       objectSchema({{"display", {{"type", "integer"}, {"minimum", 0},
                                  {"description", "A display id from `world`: that whole display."}}},
                     {"ocr", {{"type", "boolean"},
                              {"description", "Also recognise the text lines in the picture."}}}}),
       objectSchema({{"ok", {{"type", "boolean"}}},
                     {"error", {{"type", "string"}}},
                     {"w", {{"type", "integer"}}},
                     {"h", {{"type", "integer"}}},
                     {"window", {{"type", "integer"}}},
                     {"display", {{"type", "integer"}}},
                     {"lines", {{"type", "array"}, {"items", {{"type", "object"}}}}},
                     {"ocrError", {{"type", "string"}}}},
                    json::array({"ok"})),
       true});
  return t;
}

const std::vector<Tool>& tools() {
  static const std::vector<Tool> t = makeTools();
  return t;
}

// An argument error, reported the way the call's version asks.
struct BadArgument {
  std::string message;
};

const json* argument(const json& args, const char* key) {
  auto it = args.find(key);
  return it == args.end() || it->is_null() ? nullptr : &*it;
}

// A text argument as a command line could carry it: without NUL characters.
std::string checkedText(std::string s, const char* key) {
  if (s.find('\0') != std::string::npos) {
    throw BadArgument{std::string("\"") + key + "\" must not contain a NUL character"};
  }
  return s;
}

std::optional<std::string> stringArg(const json& args, const char* key, bool required) {
  const json* v = argument(args, key);
  if (v == nullptr) {
    if (required) throw BadArgument{std::string("missing argument \"") + key + "\""};
    return std::nullopt;
  }
  if (!v->is_string()) throw BadArgument{std::string("\"") + key + "\" must be a string"};
  return checkedText(v->get<std::string>(), key);
}

// An integer argument of at least `min`; above `max` it is `max`. Whole numbers written as
// reals (3.0) count.
std::optional<std::int64_t> intArg(const json& args, const char* key, std::int64_t min,
                                   std::int64_t max) {
  const json* v = argument(args, key);
  if (v == nullptr) return std::nullopt;
  std::int64_t i = 0;
  if (v->is_number_unsigned()) {
    std::uint64_t u = v->get<std::uint64_t>();
    i = u > static_cast<std::uint64_t>(max) ? max : static_cast<std::int64_t>(u);
  } else if (v->is_number_integer()) {
    i = v->get<std::int64_t>();
  } else if (v->is_number_float() && std::floor(v->get<double>()) == v->get<double>() &&
             std::fabs(v->get<double>()) < 9e18) {
    i = static_cast<std::int64_t>(v->get<double>());
  } else {
    throw BadArgument{std::string("\"") + key + "\" must be an integer"};
  }
  if (i < min) throw BadArgument{std::string("\"") + key + "\" must be at least " + std::to_string(min)};
  return std::min(i, max);
}

bool boolArg(const json& args, const char* key) {
  const json* v = argument(args, key);
  if (v == nullptr) return false;
  if (!v->is_boolean()) throw BadArgument{std::string("\"") + key + "\" must be true or false"};
  return v->get<bool>();
}

json textContent(std::string text) {
  return json::array({{{"type", "text"}, {"text", std::move(text)}}});
}

json errorResult(const std::string& message) {
  return {{"content", textContent(message)}, {"isError", true}};
}

// The place of a click or scroll as its command-line word: the ref, or "X,Y".
std::string pointWord(const json& a) {
  auto ref = stringArg(a, "ref", false);
  const json* x = argument(a, "x");
  const json* y = argument(a, "y");
  if (ref && (x != nullptr || y != nullptr)) throw BadArgument{"give \"ref\" or \"x\" and \"y\", not both"};
  if (ref) return *ref;
  if (x == nullptr || y == nullptr) throw BadArgument{"give \"ref\", or \"x\" and \"y\""};
  std::string word;
  for (const json* v : {x, y}) {
    if (!v->is_number() || !std::isfinite(v->get<double>()) || std::fabs(v->get<double>()) > 1e6) {
      throw BadArgument{"\"x\" and \"y\" must be numbers of at most a million"};
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", v->get<double>());
    if (!word.empty()) word += ',';
    word += buf;
  }
  return word;
}

// The words of the subcommand a call stands for.
std::vector<std::string> commandLine(const ToolCall& call, TreeView& view, bool& textFormat) {
  const json& a = call.arguments;
  const std::string& n = call.name;
  std::vector<std::string> words{n};
  if (n == "tree") {
    view.root = stringArg(a, "root", false);
    view.maxNodes = intArg(a, "maxNodes", 1, TREE_MAX_NODES).value_or(TREE_DEFAULT_NODES);
    view.maxDepth = intArg(a, "maxDepth", 0, TREE_MAX_DEPTH).value_or(TREE_MAX_DEPTH);
    view.interactive = boolArg(a, "interactive");
    auto format = stringArg(a, "format", false).value_or("json");
    if (format != "json" && format != "text") throw BadArgument{"\"format\" is \"json\" or \"text\""};
    textFormat = format == "text";
  } else if (n == "press" || n == "focus" || n == "reveal" || n == "altui") {
    words.push_back(*stringArg(a, "ref", true));
  } else if (n == "setvalue") {
    words.push_back(*stringArg(a, "ref", true));
    words.push_back(*stringArg(a, "value", true));
  } else if (n == "settle") {
    auto quiet = intArg(a, "quietMs", 0, INT64_MAX);
    auto limit = intArg(a, "limitMs", 0, INT64_MAX);
    words.push_back(quiet ? std::to_string(*quiet) : "");
    words.push_back(limit ? std::to_string(*limit) : "");
  } else if (n == "menus") {
    if (auto menu = stringArg(a, "menu", false)) words.push_back(*menu);
  } else if (n == "menuclick") {
    const json* path = argument(a, "path");
    if (path == nullptr) throw BadArgument{"missing argument \"path\""};
    if (!path->is_array() || path->size() < 2) {
      throw BadArgument{"\"path\" must be a list of at least two titles"};
    }
    for (const auto& title : *path) {
      if (!title.is_string()) throw BadArgument{"\"path\" must hold only strings"};
      words.push_back(checkedText(title.get<std::string>(), "path"));
    }
  } else if (n == "activate") {
    words.push_back(*stringArg(a, "app", true));
  } else if (n == "focuswindow") {
    const json* w = argument(a, "window");
    if (w != nullptr && (w->is_number_integer() || w->is_number_unsigned())) {
      words.push_back(w->dump());
    } else {
      words.push_back(*stringArg(a, "window", true));
    }
  } else if (n == "ocr") {
    words.push_back(*stringArg(a, "path", true));
    if (const json* h = argument(a, "minTextHeight")) {
      if (!h->is_number()) throw BadArgument{"\"minTextHeight\" must be a number"};
      words.push_back(h->dump());
    }
  } else if (n == "key") {
    const json* keys = argument(a, "keys");
    if (keys == nullptr) throw BadArgument{"missing argument \"keys\""};
    if (!keys->is_array() || keys->empty() || keys->size() > 100) {
      throw BadArgument{"\"keys\" must be a list of 1 to 100 chords"};
    }
    for (const auto& k : *keys) {
      if (!k.is_string()) throw BadArgument{"\"keys\" must hold only strings"};
      words.push_back(checkedText(k.get<std::string>(), "keys"));
    }
  } else if (n == "type") {
    words.push_back(*stringArg(a, "text", true));
  } else if (n == "click" || n == "scroll") {
    words.push_back(pointWord(a));
    if (n == "click") {
      if (auto button = stringArg(a, "button", false)) words.push_back(*button);
    } else {
      auto lines = intArg(a, "lines", -200, 200);
      auto columns = intArg(a, "columns", -200, 200);
      if (!lines && !columns) throw BadArgument{"give \"lines\" or \"columns\""};
      words.push_back(std::to_string(lines.value_or(0)));
      words.push_back(std::to_string(columns.value_or(0)));
    }
  } else if (n == "screenshot") {
    words.push_back("-");
    if (auto display = intArg(a, "display", 0, UINT32_MAX)) {
      words.push_back("display");
      words.push_back(std::to_string(*display));
    }
    if (boolArg(a, "ocr")) words.push_back("ocr");
  }
  return words;
}

// Screenshot answers: the picture as image content, the rest of the record as text and as
// structured content.
json screenshotResult(json payload, const std::string& text) {
  if (payload.value("ok", true) == false) {
    return {{"content", textContent(text)}, {"structuredContent", std::move(payload)},
            {"isError", true}};
  }
  std::string png;
  if (auto it = payload.find("png"); it != payload.end() && it->is_string()) {
    png = it->get<std::string>();
    payload.erase(it);
  }
  json content = json::array();
  if (!png.empty()) content.push_back({{"type", "image"}, {"data", png}, {"mimeType", "image/png"}});
  // The record's text in its own key order: the picture is its last field.
  std::string rest = serialize(payload);
  std::size_t at = text.rfind(",\"png\":\"");
  if (at != std::string::npos && text.size() >= at + 10 && text.compare(text.size() - 2, 2, "\"}") == 0 &&
      std::all_of(text.begin() + static_cast<std::ptrdiff_t>(at + 8), text.end() - 2, [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '+' || c == '/' ||
               c == '=' || c == '\\';
      })) {
    rest = text.substr(0, at) + "}";
  }
  content.push_back({{"type", "text"}, {"text", std::move(rest)}});
  return {{"content", std::move(content)}, {"structuredContent", std::move(payload)},
          {"isError", false}};
}

// `walkStopped`: the walk itself reached its node limit, so more than `omitted` was left out.
json treeResult(json payload, const TreeView& view, bool textFormat, bool walkStopped) {
  ViewResult v = applyView(payload, view);
  if (!v.rootFound) {
    return errorResult("ref \"" + *view.root +
                       "\" is not in the snapshot — the UI changed or the ref is wrong; take a "
                       "tree without root");
  }
  json structured = std::move(v.payload);
  std::string cutNote;
  if (v.omitted > 0) {
    std::string by = v.cutByNodes && v.cutByDepth ? "maxNodes and maxDepth"
                     : v.cutByNodes               ? "maxNodes"
                                                  : "maxDepth";
    std::string hint =
        "narrow it: root=<ref of the part you need>, interactive=true, format=\"text\"; or raise "
        "maxNodes (at most 4000) and maxDepth (at most 14)";
    structured["truncated"] = {{"keptNodes", v.kept}, {"omittedNodes", v.omitted}, {"by", by},
                               {"hint", hint}};
    std::string count = std::to_string(v.omitted);
    if (walkStopped) {
      // The walk stopped one node past the limit: the rest was never read.
      structured["truncated"]["omittedNodesAtLeast"] = true;
      count = "at least " + count;
    }
    cutNote = "... cut by " + by + ": " + count + " more elements not shown; " + hint + "\n";
  }
  std::string text;
  if (textFormat) {
    text = textForm(structured) + cutNote;
    json brief = json::object();
    for (auto it = structured.begin(); it != structured.end(); ++it) {
      if (it.key() != "windows") brief[it.key()] = it.value();
    }
    brief["text"] = text;
    structured = std::move(brief);
  } else {
    text = serialize(structured);
  }
  return {{"content", textContent(std::move(text))}, {"structuredContent", std::move(structured)},
          {"isError", false}};
}

}  // namespace

const json& toolList() {
  static const json list = [] {
    json out = json::array();
    for (const auto& t : tools()) {
      json entry = {{"name", t.name},
                    {"title", t.title},
                    {"description", t.description},
                    {"inputSchema", t.input},
                    {"outputSchema", t.output}};
      entry["annotations"] = {{"readOnlyHint", t.readOnly}, {"openWorldHint", false}};
      out.push_back(std::move(entry));
    }
    return out;
  }();
  return list;
}

bool knownTool(const std::string& name) {
  const auto& t = tools();
  return std::any_of(t.begin(), t.end(), [&](const Tool& tool) { return tool.name == name; });
}

ToolAnswer callTool(const ToolCall& call, const Runner& run) {
  TreeView view;
  bool textFormat = false;
  std::vector<std::string> words;
  try {
    words = commandLine(call, view, textFormat);
  } catch (const BadArgument& bad) {
    std::string message = call.name + ": " + bad.message;
    if (call.version == VERSION_2025_06) {
      return {{{"code", rpc::invalidParams}, {"message", message}}, true};
    }
    return {errorResult(message), false};
  }
  // A snapshot of the whole window list need not walk past the nodes it keeps: one more tells
  // that it was cut. A subtree's place is not known before the walk, which then goes in full.
  WalkLimits limits;
  if (call.name == "tree" && !view.root) limits.maxNodes = view.maxNodes + 1;
  RunOutcome outcome = run(words, limits);
  if (outcome.status != 0) return {errorResult(outcome.message), false};
  json payload = json::parse(outcome.json, nullptr, false);
  if (payload.is_discarded() || !payload.is_object()) {
    return {errorResult("internal error: the result could not be read"), false};
  }
  if (call.name == "tree") {
    bool walkStopped = limits.maxNodes && snapshotNodes(payload) >= *limits.maxNodes;
    return {treeResult(std::move(payload), view, textFormat, walkStopped), false};
  }
  if (call.name == "screenshot") return {screenshotResult(std::move(payload), outcome.json), false};
  bool failed = payload.contains("ok") && payload["ok"] == false;
  return {{{"content", textContent(outcome.json)},
           {"structuredContent", std::move(payload)},
           {"isError", failed}},
          false};
}

}  // namespace uiglean::mcp
