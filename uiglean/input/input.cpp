// "key", "type", "click" and "scroll": synthesized input where no accessibility action reaches.
#include <cmath>
#include <variant>

#include "uiglean/actions/resolve.h"
#include "uiglean/ax/readers.h"
#include "uiglean/front/commands.h"
#include "uiglean/front/globals.h"
#include "uiglean/front/output.h"
#include "uiglean/input/keys.h"

namespace uiglean {

namespace {

struct KeyPayload {
  bool ok = true;
  std::optional<std::string> error;
  std::vector<std::string> keys;  // the chords as read, in the menus' form
};

void writeJson(JsonWriter& w, const KeyPayload& p) {
  w.beginObject();
  field(w, "ok", p.ok);
  field(w, "error", p.error);
  field(w, "keys", p.keys);
  w.endObject();
}

struct PointerPayload {
  bool ok = true;
  std::optional<std::string> error;
  std::optional<Point> at;
};

void writeJson(JsonWriter& w, const PointerPayload& p) {
  w.beginObject();
  field(w, "ok", p.ok);
  field(w, "error", p.error);
  if (p.at) field(w, "at", std::vector<double>{p.at->x, p.at->y});
  w.endObject();
}

// Where a click or scroll goes: "X,Y", or the centre of the element a ref names now. Fails for a
// word that is neither; a ref that does not resolve or has no frame ends the run with ok false.
Point targetPoint(const std::string& word, const std::string& command) {
  if (auto p = parsePoint(word)) return *p;
  if (!parseRef(word)) fail(command + " needs a ref or X,Y, not \"" + word + "\"", 5);
  FrontApp front = requireFrontmostApp();
  axSetMessagingTimeout(front.element, 8.0f);
  auto element = resolveRef(front.element, word);
  if (!element) {
    emit(errorResult("ref \"" + word +
                     "\" no longer resolves \u2014 the UI changed; re-read the snapshot"));
  }
  Frame f = frameOf(*element);
  if (!(f[2] > 0 && f[3] > 0) || !std::isfinite(f[0] + f[1] + f[2] + f[3])) {
    emit(errorResult("ref \"" + word + "\" has no frame on screen; give X,Y instead"));
  }
  return Point{f[0] + f[2] / 2, f[1] + f[3] / 2};
}

}  // namespace

void cmdKey() {
  if (args.size() < 2) fail("key needs a chord, such as ctrl+s or Return", 5);
  if (args.size() - 1 > MAX_CHORDS) {
    fail("key takes at most " + std::to_string(MAX_CHORDS) + " chords", 5);
  }
  std::vector<KeyStroke> strokes;
  KeyPayload payload;
  for (std::size_t i = 1; i < args.size(); ++i) {
    auto parsed = parseChord(args[i]);
    if (auto* e = std::get_if<ParseError>(&parsed)) {
      fail("key \"" + sanitizeUtf8(args[i]) + "\": " + e->message, 5);
    }
    strokes.push_back(std::get<KeyStroke>(parsed));
    payload.keys.push_back(chordText(strokes.back()));
  }
  for (std::size_t i = 0; i < strokes.size(); ++i) {
    if (auto error = postKeyStroke(strokes[i])) {
      payload.ok = false;
      payload.error = i == 0 ? *error
                             : *error + " (after " + std::to_string(i) + " of " +
                                   std::to_string(strokes.size()) + " chords)";
      emit(payload);
    }
  }
  emit(payload);
}

void cmdType() {
  if (args.size() < 2) fail("type needs text", 5);
  if (auto problem = typedTextProblem(args[1])) fail(*problem, 5);
  if (auto error = postText(args[1])) emit(errorResult(*error));
  emit(okResult());
}

void cmdClick() {
  if (args.size() < 2) fail("click needs a ref or X,Y", 5);
  ClickKind kind;
  if (args.size() > 2) {
    auto parsed = parseClickKind(args[2]);
    if (auto* e = std::get_if<ParseError>(&parsed)) fail("click: " + e->message, 5);
    kind = std::get<ClickKind>(parsed);
  }
  Point at = targetPoint(args[1], "click");
  if (auto error = postMouseClick(at, kind.button, kind.clicks)) emit(errorResult(*error));
  emit(PointerPayload{true, std::nullopt, at});
}

void cmdScroll() {
  if (args.size() < 3) fail("scroll needs a ref or X,Y and the lines to scroll", 5);
  std::int32_t lines = 0, columns = 0;
  for (std::size_t i = 2; i < args.size() && i < 4; ++i) {
    auto parsed = parseScrollLines(args[i]);
    if (auto* e = std::get_if<ParseError>(&parsed)) fail("scroll: " + e->message, 5);
    (i == 2 ? lines : columns) = std::get<std::int32_t>(parsed);
  }
  if (lines == 0 && columns == 0) fail("scroll: the lines to scroll are all 0", 5);
  Point at = targetPoint(args[1], "scroll");
  if (auto error = postScrollWheel(at, lines, columns)) emit(errorResult(*error));
  emit(PointerPayload{true, std::nullopt, at});
}

}  // namespace uiglean
