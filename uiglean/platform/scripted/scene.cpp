#include "uiglean/platform/scripted/scene.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <simdjson.h>
#include <set>
#include <sstream>

namespace uiglean {

SValue* ElementImpl::find(const std::string& attr) {
  for (auto& [k, v] : attrs) {
    if (k == attr) return &v;
  }
  return nullptr;
}

namespace {

// A place in the scene document, turned into a JSON pointer only when an error names it.
struct Loc {
  const Loc* parent = nullptr;
  std::string_view key;
  std::size_t index = 0;
  bool isIndex = false;

  std::string str() const {
    std::vector<const Loc*> chain;
    for (const Loc* l = this; l != nullptr && l->parent != nullptr; l = l->parent) chain.push_back(l);
    std::string out;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      out += '/';
      if ((*it)->isIndex) {
        out += std::to_string((*it)->index);
        continue;
      }
      for (char c : (*it)->key) {
        if (c == '~') {
          out += "~0";
        } else if (c == '/') {
          out += "~1";
        } else {
          out += c;
        }
      }
    }
    return out;
  }
};

const Loc kRoot{};

Loc at(const Loc& where, std::string_view key) { return Loc{&where, key, 0, false}; }
Loc at(const Loc& where, std::size_t i) { return Loc{&where, {}, i, true}; }

// A read-only view of one value of the scene document, with the few queries the reader makes.
// The document is parsed with simdjson (fast on large scenes); a document that does not parse is
// parsed again with nlohmann::json, whose errors say where the text goes wrong.
struct Doc {
  simdjson::dom::element e;

  using Type = simdjson::dom::element_type;
  Type type() const { return e.type(); }
  bool is_null() const { return type() == Type::NULL_VALUE; }
  bool is_boolean() const { return type() == Type::BOOL; }
  bool is_string() const { return type() == Type::STRING; }
  bool is_number_integer() const { return type() == Type::INT64 || type() == Type::UINT64; }
  bool is_number_unsigned() const { return type() == Type::UINT64; }
  bool is_number_float() const { return type() == Type::DOUBLE; }
  bool is_number() const { return is_number_integer() || is_number_float(); }
  bool is_object() const { return type() == Type::OBJECT; }
  bool is_array() const { return type() == Type::ARRAY; }
  bool is_structured() const { return is_object() || is_array(); }

  template <class T>
  T get() const;

  std::size_t size() const {
    if (is_array()) return simdjson::dom::array(e).size();
    if (is_object()) return simdjson::dom::object(e).size();
    return 0;
  }
  Doc operator[](std::size_t i) const { return Doc{simdjson::dom::array(e).at(i).value_unsafe()}; }
  Doc operator[](std::string_view key) const {
    return Doc{simdjson::dom::object(e).at_key(key).value_unsafe()};
  }
  bool contains(std::string_view key) const {
    return is_object() && simdjson::dom::object(e).at_key(key).error() == simdjson::SUCCESS;
  }

  // Iterates the entries of an array (operator*) or the members of an object (key, value).
  struct Iter {
    bool object = false;
    simdjson::dom::array::iterator a;
    simdjson::dom::object::iterator o;
    Iter& operator++() {
      if (object) {
        ++o;
      } else {
        ++a;
      }
      return *this;
    }
    bool operator!=(const Iter& other) const { return object ? o != other.o : a != other.a; }
    Doc operator*() const { return Doc{*a}; }
    std::string_view key() const { return o.key(); }
    Doc value() const { return Doc{o.value()}; }
  };
  Iter begin() const { return iterAt(true); }
  Iter end() const { return iterAt(false); }

 private:
  Iter iterAt(bool first) const {
    Iter it;
    it.object = is_object();
    if (it.object) {
      simdjson::dom::object o(e);
      it.o = first ? o.begin() : o.end();
    } else {
      simdjson::dom::array a(e);
      it.a = first ? a.begin() : a.end();
    }
    return it;
  }
};

template <>
bool Doc::get<bool>() const {
  return e.get_bool().value_unsafe();
}
template <>
std::string Doc::get<std::string>() const {
  return std::string(e.get_string().value_unsafe());
}
template <>
std::int64_t Doc::get<std::int64_t>() const {
  if (type() == Type::UINT64) return static_cast<std::int64_t>(e.get_uint64().value_unsafe());
  return e.get_int64().value_unsafe();
}
template <>
std::uint64_t Doc::get<std::uint64_t>() const {
  if (type() == Type::INT64) return static_cast<std::uint64_t>(e.get_int64().value_unsafe());
  return e.get_uint64().value_unsafe();
}
template <>
double Doc::get<double>() const {
  if (type() == Type::INT64) return static_cast<double>(e.get_int64().value_unsafe());
  if (type() == Type::UINT64) return static_cast<double>(e.get_uint64().value_unsafe());
  return e.get_double().value_unsafe();
}

json toJson(const Doc& d) {
  switch (d.type()) {
    case Doc::Type::NULL_VALUE: return nullptr;
    case Doc::Type::BOOL: return d.get<bool>();
    case Doc::Type::STRING: return d.get<std::string>();
    case Doc::Type::INT64: return d.get<std::int64_t>();
    case Doc::Type::UINT64: return d.get<std::uint64_t>();
    case Doc::Type::DOUBLE: return d.get<double>();
    case Doc::Type::ARRAY: {
      json a = json::array();
      for (const Doc& x : d) a.push_back(toJson(x));
      return a;
    }
    case Doc::Type::OBJECT: {
      json o = json::object();
      for (auto it = d.begin(); it != d.end(); ++it) o[std::string(it.key())] = toJson(it.value());
      return o;
    }
  }
  return nullptr;
}

std::string describeJsonError(const std::string& text, const json::exception& error) {
  const auto* parseError = dynamic_cast<const json::parse_error*>(&error);
  if (parseError == nullptr) return std::string("invalid JSON: ") + error.what();
  // byte is the offset where parsing stopped; give line and column as well.
  std::size_t line = 1, col = 1;
  for (std::size_t i = 0; i + 1 < parseError->byte && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      col = 1;
    } else {
      ++col;
    }
  }
  return "invalid JSON at line " + std::to_string(line) + ", column " + std::to_string(col) +
         " (byte " + std::to_string(parseError->byte) + ")";
}

SValue parseValue(Scene& scene, const Doc& j, const Loc& where, const std::string& name);

[[noreturn]] void bad(const Loc& where, const std::string& what) {
  std::string place = where.str();
  throw SceneError((place.empty() ? std::string("/") : place) + ": " + what);
}

bool getBool(const Doc& j, const Loc& where) {
  if (!j.is_boolean()) bad(where, "expected true or false");
  return j.get<bool>();
}

std::int64_t getInt(const Doc& j, const Loc& where) {
  if (j.is_number_integer() || j.is_number_unsigned()) {
    if (j.is_number_unsigned() && j.get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX)) {
      bad(where, "integer out of range");
    }
    return j.get<std::int64_t>();
  }
  bad(where, "expected an integer");
}

std::int32_t getInt32(const Doc& j, const Loc& where) {
  std::int64_t v = getInt(j, where);
  if (v < INT32_MIN || v > INT32_MAX) bad(where, "integer out of 32-bit range");
  return static_cast<std::int32_t>(v);
}

std::uint32_t getUint32(const Doc& j, const Loc& where) {
  std::int64_t v = getInt(j, where);
  if (v < 0 || v > UINT32_MAX) bad(where, "expected an unsigned 32-bit integer");
  return static_cast<std::uint32_t>(v);
}

double getNumber(const Doc& j, const Loc& where) {
  if (!j.is_number()) bad(where, "expected a number");
  return j.get<double>();
}

// A time from now or from the start of the run, in milliseconds.
double getTime(const Doc& j, const Loc& where) {
  double ms = getNumber(j, where);
  if (!(ms >= 0 && ms < kMaxSceneMs)) bad(where, "expected a time of 0 to 1e15 ms");
  return ms;
}

std::string getString(const Doc& j, const Loc& where) {
  if (!j.is_string()) bad(where, "expected a string");
  return j.get<std::string>();
}

Doc getObject(const Doc& j, const Loc& where) {
  if (!j.is_object()) bad(where, "expected an object");
  return j;
}

Doc getArray(const Doc& j, const Loc& where) {
  if (!j.is_array()) bad(where, "expected a list");
  return j;
}

std::vector<std::string> getStrings(const Doc& j, const Loc& where) {
  std::vector<std::string> out;
  getArray(j, where);
  for (std::size_t i = 0; i < j.size(); ++i) out.push_back(getString(j[i], at(where, i)));
  return out;
}

std::map<std::string, std::int32_t> getCodes(const Doc& j, const Loc& where) {
  std::map<std::string, std::int32_t> out;
  getObject(j, where);
  for (auto it = j.begin(); it != j.end(); ++it) out[std::string(it.key())] = getInt32(it.value(), at(where, it.key()));
  return out;
}

std::array<double, 2> getPair(const Doc& j, const Loc& where) {
  if (!j.is_array() || j.size() != 2) bad(where, "expected a list of two numbers");
  return {getNumber(j[0], at(where, 0)), getNumber(j[1], at(where, 1))};
}

Rect getRect(const Doc& j, const Loc& where) {
  if (!j.is_array() || j.size() != 4) bad(where, "expected [x, y, width, height]");
  return {getNumber(j[0], at(where, 0)), getNumber(j[1], at(where, 1)),
          getNumber(j[2], at(where, 2)), getNumber(j[3], at(where, 3))};
}

bool isValueWrapper(const Doc& j) {
  if (!j.is_object() || j.size() != 1) return false;
  const std::string k(j.begin().key());
  return k == "point" || k == "size" || k == "range" || k == "other" || k == "element";
}

SElementPtr parseElement(Scene& scene, const Doc& j, const Loc& where,
                         const std::string& path);

// An element list entry: an Element object or {"element": ...}. Returns the element and whether
// it is defined here.
std::pair<SElementPtr, bool> parseElementRef(Scene& scene, const Doc& ref, const Loc& where,
                                             const std::string& path) {
  if (ref.is_string()) {
    SElementPtr placeholder = std::make_shared<SElement>();
    placeholder->id = ref.get<std::string>();
    return {placeholder, false};  // resolved once the whole scene is read
  }
  if (ref.is_object()) return {parseElement(scene, ref, where, path), true};
  bad(where, "expected an element id or an element");
}

PlistValue toPlist(const Doc& j) {
  PlistValue v;
  if (j.is_boolean()) {
    v.v = j.get<bool>();
  } else if (j.type() == Doc::Type::INT64) {
    v.v = j.get<std::int64_t>();
  } else if (j.is_number()) {
    // A real, or an integer beyond the window server's signed integers.
    v.v = j.get<double>();
  } else if (j.is_string()) {
    v.v = j.get<std::string>();
  } else if (j.is_object()) {
    PlistDict d;
    for (auto it = j.begin(); it != j.end(); ++it) d.emplace_back(it.key(), toPlist(it.value()));
    v.v = std::move(d);
  } else if (j.is_array()) {
    PlistArray a;
    for (const auto& e : j) a.push_back(toPlist(e));
    v.v = std::move(a);
  }
  return v;
}

Effect parseEffect(Scene& scene, const Doc& j, const Loc& where, const std::string& owner) {
  if (!j.is_object() || j.size() != 1) bad(where, "expected an effect object with one key");
  const std::string kind(j.begin().key());
  const Doc& body = j.begin().value();
  Loc w = at(where, kind);
  Effect e;
  e.where = w.str();
  if (kind == "setAttr" || kind == "removeAttr") {
    getObject(body, w);
    e.kind = kind == "setAttr" ? Effect::Kind::SetAttr : Effect::Kind::RemoveAttr;
    if (!body.contains("element")) bad(w, "missing \"element\"");
    if (!body.contains("attr")) bad(w, "missing \"attr\"");
    e.elementId = getString(body["element"], at(w, "element"));
    e.attr = getString(body["attr"], at(w, "attr"));
    if (e.kind == Effect::Kind::SetAttr) {
      if (!body.contains("value")) bad(w, "missing \"value\"");
      e.value = parseValue(scene, body["value"], at(w, "value"), e.elementId + "/" + e.attr);
    }
    for (auto it = body.begin(); it != body.end(); ++it) {
      if (it.key() != "element" && it.key() != "attr" && it.key() != "value") {
        bad(at(w, it.key()), "unknown key");
      }
    }
  } else if (kind == "notify") {
    getObject(body, w);
    e.kind = Effect::Kind::Notify;
    if (!body.contains("name")) bad(w, "missing \"name\"");
    e.name = getString(body["name"], at(w, "name"));
    if (body.contains("afterMs")) e.afterMs = getTime(body["afterMs"], at(w, "afterMs"));
  } else if (kind == "frontmost") {
    e.kind = Effect::Kind::Frontmost;
    if (!body.is_null()) e.pid = getInt32(body, w);
  } else {
    bad(w, "unknown effect");
  }
  (void)owner;
  return e;
}

SElementPtr parseElement(Scene& scene, const Doc& j, const Loc& where,
                         const std::string& path) {
  getObject(j, where);
  auto e = std::make_shared<SElement>();
  if (j.contains("id")) {
    e->id = getString(j["id"], at(where, "id"));
    if (e->id.empty()) bad(at(where, "id"), "an id must not be empty");
    if (scene.byId.count(e->id) != 0) bad(at(where, "id"), "duplicate id \"" + e->id + "\"");
    scene.byId[e->id] = e;
  }
  e->name = e->id.empty() ? path : e->id;
  for (auto it = j.begin(); it != j.end(); ++it) {
    const std::string k(it.key());
    Loc w = at(where, k);
    const Doc& v = it.value();
    if (k.rfind("AX", 0) == 0) {
      e->attrs.emplace_back(k, parseValue(scene, v, w, v.is_structured() ? e->name + "/" + k : std::string()));
    } else if (k == "id") {
    } else if (k == "errors") {
      e->errors = getCodes(v, w);
    } else if (k == "actions") {
      e->actions = getStrings(v, w);
    } else if (k == "actionNamesError") {
      e->actionNamesError = getInt32(v, w);
    } else if (k == "perform") {
      e->perform = getCodes(v, w);
    } else if (k == "settable") {
      e->settable = getStrings(v, w);
    } else if (k == "set") {
      e->set = getCodes(v, w);
    } else if (k == "windowNumber") {
      e->windowNumber = getInt(v, w);
    } else if (k == "on") {
      getObject(v, w);
      for (auto oit = v.begin(); oit != v.end(); ++oit) {
        Loc ow = at(w, oit.key());
        getArray(oit.value(), ow);
        std::vector<Effect> effects;
        for (std::size_t i = 0; i < oit.value().size(); ++i) {
          effects.push_back(parseEffect(scene, oit.value()[i], at(ow, i), e->name));
        }
        e->on.emplace_back(oit.key(), std::move(effects));
      }
    } else {
      bad(w, "unknown element key (attributes start with \"AX\")");
    }
  }
  return e;
}

SApp parseApp(Scene& scene, const Doc& j, const Loc& where) {
  getObject(j, where);
  SApp app;
  if (!j.contains("pid")) bad(where, "missing \"pid\"");
  app.pid = getInt32(j["pid"], at(where, "pid"));
  for (auto it = j.begin(); it != j.end(); ++it) {
    const std::string k(it.key());
    Loc w = at(where, k);
    if (k == "pid") {
    } else if (k == "name") {
      app.name = getString(it.value(), w);
    } else if (k == "bundleId") {
      app.bundleId = getString(it.value(), w);
    } else if (k == "policy") {
      app.policy = getInt(it.value(), w);
    } else if (k == "hidden") {
      app.hidden = getBool(it.value(), w);
    } else if (k == "activates") {
      app.activates = getBool(it.value(), w);
    } else if (k == "activateDelayMs") {
      app.activateDelayMs = getNumber(it.value(), w);
    } else if (k == "element") {
    } else {
      bad(w, "unknown app key");
    }
  }
  std::string path = "pid:" + std::to_string(app.pid);
  if (j.contains("element")) {
    app.element = parseElement(scene, j["element"], at(where, "element"), path);
  } else {
    app.element = std::make_shared<SElement>();
    app.element->name = path;
  }
  return app;
}

SImage parseImage(const Doc& j, const Loc& where) {
  getObject(j, where);
  SImage img;
  for (auto it = j.begin(); it != j.end(); ++it) {
    const std::string k(it.key());
    Loc w = at(where, k);
    if (k == "w") {
      img.w = getInt(it.value(), w);
    } else if (k == "h") {
      img.h = getInt(it.value(), w);
    } else if (k == "noBitmap") {
      img.noBitmap = getBool(it.value(), w);
    } else if (k == "error") {
      img.error = getString(it.value(), w);
    } else if (k == "observations") {
      getArray(it.value(), w);
      for (std::size_t i = 0; i < it.value().size(); ++i) {
        const Doc& o = it.value()[i];
        Loc ow = at(w, i);
        getObject(o, ow);
        TextObservation obs;
        if (o.contains("box")) obs.boundingBox = getRect(o["box"], at(ow, "box"));
        if (o.contains("candidates")) {
          Loc candidatesAt = at(ow, "candidates");
          const Doc& cs = getArray(o["candidates"], candidatesAt);
          for (std::size_t c = 0; c < cs.size(); ++c) {
            Loc cw = at(candidatesAt, c);
            getObject(cs[c], cw);
            RecognizedText t;
            if (cs[c].contains("text")) t.text = getString(cs[c]["text"], at(cw, "text"));
            if (cs[c].contains("conf")) {
              t.confidence = static_cast<float>(getNumber(cs[c]["conf"], at(cw, "conf")));
            }
            obs.candidates.push_back(std::move(t));
          }
        }
        img.observations.push_back(std::move(obs));
      }
    } else {
      bad(w, "unknown image key");
    }
  }
  return img;
}

SNotification parseNotification(const Doc& j, const Loc& where) {
  getObject(j, where);
  SNotification n;
  if (!j.contains("name")) bad(where, "missing \"name\"");
  for (auto it = j.begin(); it != j.end(); ++it) {
    const std::string k(it.key());
    Loc w = at(where, k);
    if (k == "name") {
      n.name = getString(it.value(), w);
    } else if (k == "atMs") {
      n.atMs = getTime(it.value(), w);
    } else if (k == "everyMs") {
      n.everyMs = getNumber(it.value(), w);
      if (!(*n.everyMs >= kMinPeriodMs && *n.everyMs < kMaxSceneMs)) {
        bad(w, "expected a period of 1 to 1e15 ms");
      }
    } else if (k == "untilMs") {
      n.untilMs = getNumber(it.value(), w);
    } else if (k == "unsupported") {
      n.unsupported = getBool(it.value(), w);
    } else {
      bad(w, "unknown notification key");
    }
  }
  n.nextMs = n.atMs;
  n.done = n.untilMs && n.atMs > *n.untilMs;
  return n;
}

// Replaces the placeholders left by {"element": "ID"} with the elements of those ids.
void resolveRefs(Scene& scene, SValue& v, const SElement& owner, const std::string& attr) {
  auto resolve = [&](SElementPtr& e) {
    if (!e || !e->name.empty()) return;  // a real element
    auto it = scene.byId.find(e->id);
    if (it == scene.byId.end()) {
      throw SceneError(owner.name + "/" + attr + ": no element has the id \"" + e->id + "\"");
    }
    e = it->second;
  };
  if (v.kind == SValue::Kind::Element) resolve(v.element);
  if (v.kind == SValue::Kind::Elements) {
    for (auto& e : v.elements) resolve(e);
  }
}

// Resolves the references below `root` and checks what its effects act on: elements that exist,
// and applications (`pids`) that the scene has.
void resolveElementRefs(Scene& scene, const SElementPtr& root, const std::set<std::int32_t>& pids) {
  std::vector<SElement*> stack{root.get()};
  while (!stack.empty()) {
    SElement* e = stack.back();
    stack.pop_back();
    if (e->resolved) continue;
    e->resolved = true;
    auto visit = [&](SValue& v, const std::string& attr) {
      resolveRefs(scene, v, *e, attr);
      if (v.kind == SValue::Kind::Element) stack.push_back(v.element.get());
      for (auto& c : v.elements) stack.push_back(c.get());
    };
    for (auto& [k, v] : e->attrs) visit(v, k);
    for (auto& [name, effects] : e->on) {
      for (auto& eff : effects) {
        if ((eff.kind == Effect::Kind::SetAttr || eff.kind == Effect::Kind::RemoveAttr) &&
            scene.byId.count(eff.elementId) == 0) {
          throw SceneError(e->name + "/on/" + name + ": no element has the id \"" + eff.elementId +
                           "\"");
        }
        if (eff.kind == Effect::Kind::Frontmost && eff.pid && pids.count(*eff.pid) == 0) {
          throw SceneError(eff.where + ": no app has the pid " + std::to_string(*eff.pid));
        }
        visit(eff.value, "on/" + name);
      }
    }
  }
}

}  // namespace

namespace {

SValue parseValue(Scene& scene, const Doc& j, const Loc& where, const std::string& name) {
  SValue v;
  if (j.is_null()) return v;
  if (j.is_string()) {
    v.kind = SValue::Kind::String;
    v.text = j.get<std::string>();
    return v;
  }
  if (j.is_boolean()) {
    v.kind = SValue::Kind::Bool;
    v.num = j.get<bool>() ? 1 : 0;
    return v;
  }
  if (j.is_number()) {
    v.kind = SValue::Kind::Number;
    if (j.type() == Doc::Type::INT64) {
      v.isInteger = true;
      v.integer = j.get<std::int64_t>();
    } else if (j.type() == Doc::Type::UINT64) {
      v.isInteger = v.isUnsigned = true;
      v.uinteger = j.get<std::uint64_t>();
    } else {
      v.num = j.get<double>();
    }
    return v;
  }
  if (j.is_object()) {
    if (!isValueWrapper(j)) {
      bad(where, "expected a value: {\"point\"}, {\"size\"}, {\"range\"}, {\"element\"} or {\"other\"}");
    }
    const std::string k(j.begin().key());
    const Doc& body = j.begin().value();
    Loc w = at(where, k);
    if (k == "point" || k == "size") {
      auto p = getPair(body, w);
      v.kind = k == "point" ? SValue::Kind::Point : SValue::Kind::Size;
      v.a = p[0];
      v.b = p[1];
    } else if (k == "range") {
      if (!body.is_array() || body.size() != 2) bad(w, "expected [location, length]");
      v.kind = SValue::Kind::Range;
      v.location = getInt(body[0], at(w, 0));
      v.length = getInt(body[1], at(w, 1));
    } else if (k == "element") {
      v.kind = SValue::Kind::Element;
      auto [e, defined] = parseElementRef(scene, body, w, name);
      v.element = e;
      v.inlineDef = {defined};
    } else {
      v.kind = SValue::Kind::Other;
      v.raw = toJson(j);
    }
    return v;
  }
  // A list: of elements when every entry is an element or an element reference.
  bool elements = true;
  for (const auto& entry : j) {
    if (!entry.is_object() || (isValueWrapper(entry) && entry.begin().key() != "element")) {
      elements = false;
      break;
    }
  }
  if (!elements) {
    v.kind = SValue::Kind::Other;
    v.raw = toJson(j);
    return v;
  }
  v.kind = SValue::Kind::Elements;
  for (std::size_t i = 0; i < j.size(); ++i) {
    const Doc& entry = j[i];
    Loc w = at(where, i);
    std::string path = name + "/" + std::to_string(i);
    if (isValueWrapper(entry)) {
      auto [e, defined] = parseElementRef(scene, entry.begin().value(), at(w, "element"), path);
      v.elements.push_back(e);
      v.inlineDef.push_back(defined);
    } else {
      v.elements.push_back(parseElement(scene, entry, w, path));
      v.inlineDef.push_back(true);
    }
  }
  return v;
}

}  // namespace

Scene parseScene(const std::string& text, const std::string& path) {
  Scene scene;
  scene.path = path;
  simdjson::dom::parser parser;
  simdjson::dom::element root;
  if (auto error = parser.parse(text).get(root); error != simdjson::SUCCESS) {
    // Let the slower parser find where the text goes wrong, for a message with a location.
    try {
      json checked = json::parse(text);
      (void)checked;
    } catch (const json::exception& e) {
      throw SceneError(describeJsonError(text, e));
    }
    throw SceneError(std::string("invalid JSON: ") + simdjson::error_message(error));
  }
  Doc j{root};
  if (!j.is_object()) bad(kRoot, "a scene is a JSON object");
  // Keep the top-level keys that writing back does not rebuild from the model.
  scene.original = json::object();
  for (auto it = j.begin(); it != j.end(); ++it) {
    if (it.key() != "apps" && it.key() != "installed" && it.key() != "detached") {
      scene.original[std::string(it.key())] = toJson(it.value());
    }
  }
  std::set<std::int32_t> pids;
  for (auto it = j.begin(); it != j.end(); ++it) {
    const std::string k(it.key());
    const Doc v = it.value();
    Loc w = at(kRoot, k);
    if (k == "trusted") {
      scene.trusted = getBool(v, w);
    } else if (k == "secureInput") {
      scene.secureInput = getBool(v, w);
    } else if (k == "selfPid") {
      scene.selfPid = getInt32(v, w);
    } else if (k == "frontmost") {
      if (!v.is_null()) scene.frontmost = getInt32(v, w);
    } else if (k == "apps") {
      getArray(v, w);
      for (std::size_t i = 0; i < v.size(); ++i) {
        SApp app = parseApp(scene, v[i], at(w, i));
        if (!pids.insert(app.pid).second) bad(at(at(w, i), "pid"), "duplicate pid");
        scene.apps.push_back(std::move(app));
      }
    } else if (k == "installed") {
      getArray(v, w);
      for (std::size_t i = 0; i < v.size(); ++i) {
        Loc iw = at(w, i);
        const Doc o = getObject(v[i], iw);
        SInstalled inst;
        if (!o.contains("url")) bad(iw, "missing \"url\"");
        for (auto oit = o.begin(); oit != o.end(); ++oit) {
          Loc ow = at(iw, oit.key());
          if (oit.key() == "url") {
            inst.url = getString(oit.value(), ow);
          } else if (oit.key() == "bundleId") {
            inst.bundleId = getString(oit.value(), ow);
          } else if (oit.key() == "launches") {
            inst.launches = parseApp(scene, oit.value(), ow);
          } else if (oit.key() == "launchDelayMs") {
            inst.launchDelayMs = getNumber(oit.value(), ow);
          } else {
            bad(ow, "unknown key");
          }
        }
        scene.installed.push_back(std::move(inst));
      }
    } else if (k == "detached") {
      getArray(v, w);
      for (std::size_t i = 0; i < v.size(); ++i) {
        scene.detached.push_back(parseElement(scene, v[i], at(w, i), "detached/" + std::to_string(i)));
      }
    } else if (k == "files") {
      scene.files = getStrings(v, w);
    } else if (k == "displays") {
      getArray(v, w);
      for (std::size_t i = 0; i < v.size(); ++i) {
        Loc dw = at(w, i);
        const Doc o = getObject(v[i], dw);
        if (!o.contains("id") || !o.contains("bounds")) bad(dw, "a display has \"id\" and \"bounds\"");
        scene.displays.push_back({getUint32(o["id"], at(dw, "id")), getRect(o["bounds"], at(dw, "bounds"))});
      }
    } else if (k == "mainDisplay") {
      scene.mainDisplay = getUint32(v, w);
    } else if (k == "windowList") {
      scene.windowList = toPlist(v);
    } else if (k == "screenCaptureAccess") {
      scene.screenCaptureAccess = getBool(v, w);
    } else if (k == "images") {
      getObject(v, w);
      for (auto iit = v.begin(); iit != v.end(); ++iit) {
        scene.images[std::string(iit.key())] = parseImage(iit.value(), at(w, iit.key()));
      }
    } else if (k == "notifications") {
      getArray(v, w);
      for (std::size_t i = 0; i < v.size(); ++i) {
        scene.notifications.push_back(parseNotification(v[i], at(w, i)));
      }
    } else if (k == "observerError") {
      scene.observerError = getInt32(v, w);
    } else if (k == "persist") {
      scene.persist = getBool(v, w);
    } else {
      bad(w, "unknown scene key");
    }
  }
  if (!j.contains("windowList")) scene.windowList.v = PlistArray{};
  if (scene.frontmost && pids.count(*scene.frontmost) == 0) {
    bad(at(kRoot, "frontmost"), "no app has the pid " + std::to_string(*scene.frontmost));
  }
  // An effect may bring forward an application that is running or one that can be launched.
  for (const auto& inst : scene.installed) {
    if (inst.launches) pids.insert(inst.launches->pid);
  }
  for (auto& app : scene.apps) resolveElementRefs(scene, app.element, pids);
  for (auto& inst : scene.installed) {
    if (inst.launches) resolveElementRefs(scene, inst.launches->element, pids);
  }
  for (auto& e : scene.detached) resolveElementRefs(scene, e, pids);
  // Elements reachable only through the id table (defined inside effects) are resolved too.
  for (auto& [id, e] : scene.byId) resolveElementRefs(scene, e, pids);
  return scene;
}

Scene loadScene(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw SceneError("cannot read the file");
  std::stringstream ss;
  ss << in.rdbuf();
  if (in.bad()) throw SceneError("cannot read the file");
  return parseScene(ss.str(), path);
}

// ---------------------------------------------------------------------------------------------
// Writing the scene back.

namespace {

json numberToJson(const SValue& v) {
  if (v.isUnsigned) return v.uinteger;
  if (v.isInteger) return v.integer;
  return v.num;
}

// The scene form of a value that holds no element.
json scalarToJson(const SValue& v) {
  switch (v.kind) {
    case SValue::Kind::Null: return nullptr;
    case SValue::Kind::String: return v.text;
    case SValue::Kind::Bool: return v.num != 0;
    case SValue::Kind::Number: return numberToJson(v);
    case SValue::Kind::Point: return json{{"point", {v.a, v.b}}};
    case SValue::Kind::Size: return json{{"size", {v.a, v.b}}};
    case SValue::Kind::Range: return json{{"range", {v.location, v.length}}};
    default: return nullptr;
  }
}

// Calls f(element, definedHere) on each element that the value holds.
template <class F>
void forEachElement(const SValue& v, F&& f) {
  if (v.kind == SValue::Kind::Element && v.element) {
    f(v.element, !v.inlineDef.empty() && v.inlineDef[0]);
  }
  if (v.kind == SValue::Kind::Elements) {
    for (std::size_t i = 0; i < v.elements.size(); ++i) {
      if (v.elements[i]) f(v.elements[i], i < v.inlineDef.size() && v.inlineDef[i]);
    }
  }
}

// Each element that something written still names is written out in full exactly once: at the
// attribute that defines it, else at the first attribute that holds it, else at an effect that
// holds it, else (when effects only name it) in "detached". An element without an id that several
// places hold is given one.
struct Writer {
  const Scene& scene;
  std::set<const SElement*> seen;
  std::vector<SElementPtr> order;                 // seen elements, in the order first reached
  std::map<const SElement*, int> holders;         // places that hold each element
  std::set<const SElement*> placed;               // elements that an attribute defines in line
  std::set<const SElement*> inAttributes;         // elements that some attribute holds
  std::set<const SElement*> emitted;              // elements already written out in full
  bool inEffect = false;                          // writing the value of an effect
  std::map<const SElement*, std::string> givenIds;
  std::vector<SElementPtr> detached;

  void reach(const SElementPtr& root) {
    std::vector<SElementPtr> stack{root};
    while (!stack.empty()) {
      SElementPtr e = std::move(stack.back());
      stack.pop_back();
      if (!seen.insert(e.get()).second) continue;
      order.push_back(e);
      auto holdInAttribute = [&](const SElementPtr& c, bool definedHere) {
        ++holders[c.get()];
        inAttributes.insert(c.get());
        if (definedHere) placed.insert(c.get());
        stack.push_back(c);
      };
      auto holdInEffect = [&](const SElementPtr& c, bool) {
        ++holders[c.get()];
        stack.push_back(c);
      };
      for (const auto& [k, v] : e->attrs) forEachElement(v, holdInAttribute);
      for (const auto& [name, effects] : e->on) {
        for (const auto& eff : effects) forEachElement(eff.value, holdInEffect);
      }
    }
  }

  // A place of its own: an application's element or a detached one.
  void root(const SElementPtr& e) {
    ++holders[e.get()];
    placed.insert(e.get());
    inAttributes.insert(e.get());
    reach(e);
  }

  void detach(const SElementPtr& e) {
    if (seen.count(e.get())) return;
    detached.push_back(e);
    root(e);
  }

  // Elements that the effects of reached elements act on, and what those reach in turn.
  void reachEffectTargets() {
    for (std::size_t i = 0; i < order.size(); ++i) {
      for (const auto& [name, effects] : order[i]->on) {
        for (const auto& eff : effects) {
          if (eff.kind != Effect::Kind::SetAttr && eff.kind != Effect::Kind::RemoveAttr) continue;
          if (auto it = scene.byId.find(eff.elementId); it != scene.byId.end()) detach(it->second);
        }
      }
    }
  }

  void giveIds() {
    std::set<std::string> taken;
    for (const auto& e : order) {
      if (!e->id.empty() || holders[e.get()] < 2) continue;
      std::string base = e->name.empty() ? std::string("element") : e->name;
      std::string id = base;
      for (int n = 2; scene.byId.count(id) != 0 || taken.count(id) != 0; ++n) {
        id = base + "~" + std::to_string(n);
      }
      taken.insert(id);
      givenIds[e.get()] = id;
    }
  }

  std::string idOf(const SElement* e) const {
    if (!e->id.empty()) return e->id;
    auto it = givenIds.find(e);
    return it == givenIds.end() ? std::string() : it->second;
  }

  json ref(const SElementPtr& e, bool definedHere) {
    std::string id = idOf(e.get());
    bool full = !emitted.count(e.get()) && (definedHere || !placed.count(e.get()) || id.empty());
    if (inEffect && inAttributes.count(e.get()) && !id.empty()) full = false;
    if (!full) return json{{"element", id}};
    return json{{"element", element(e)}};
  }

  json value(const SValue& v) {
    switch (v.kind) {
      case SValue::Kind::Null:
      case SValue::Kind::String:
      case SValue::Kind::Bool:
      case SValue::Kind::Number:
      case SValue::Kind::Point:
      case SValue::Kind::Size:
      case SValue::Kind::Range: return scalarToJson(v);
      case SValue::Kind::Element:
        if (!v.element) return nullptr;
        return ref(v.element, !v.inlineDef.empty() && v.inlineDef[0]);
      case SValue::Kind::Elements: {
        json list = json::array();
        for (std::size_t i = 0; i < v.elements.size(); ++i) {
          if (!v.elements[i]) continue;
          json r = ref(v.elements[i], i < v.inlineDef.size() && v.inlineDef[i]);
          list.push_back(r["element"].is_object() ? r["element"] : r);
        }
        return list;
      }
      case SValue::Kind::Other: return v.raw;
    }
    return nullptr;
  }

  json effect(const Effect& e) {
    switch (e.kind) {
      case Effect::Kind::SetAttr: {
        inEffect = true;
        json v = value(e.value);
        inEffect = false;
        return json{{"setAttr", {{"element", e.elementId}, {"attr", e.attr}, {"value", v}}}};
      }
      case Effect::Kind::RemoveAttr:
        return json{{"removeAttr", {{"element", e.elementId}, {"attr", e.attr}}}};
      case Effect::Kind::Notify:
        return json{{"notify", {{"name", e.name}, {"afterMs", e.afterMs}}}};
      case Effect::Kind::Frontmost:
        return json{{"frontmost", e.pid ? json(*e.pid) : json(nullptr)}};
    }
    return nullptr;
  }

  json element(const SElementPtr& e) {
    emitted.insert(e.get());
    const bool wasInEffect = inEffect;
    inEffect = false;
    json o = json::object();
    if (std::string id = idOf(e.get()); !id.empty()) o["id"] = id;
    for (const auto& [k, v] : e->attrs) o[k] = value(v);
    if (!e->errors.empty()) o["errors"] = e->errors;
    if (e->actions) o["actions"] = *e->actions;
    if (e->actionNamesError) o["actionNamesError"] = *e->actionNamesError;
    if (!e->perform.empty()) o["perform"] = e->perform;
    if (!e->settable.empty()) o["settable"] = e->settable;
    if (!e->set.empty()) o["set"] = e->set;
    if (e->windowNumber) o["windowNumber"] = *e->windowNumber;
    if (!e->on.empty()) {
      json on = json::object();
      for (const auto& [name, effects] : e->on) {
        json list = json::array();
        for (const auto& eff : effects) list.push_back(effect(eff));
        on[name] = list;
      }
      o["on"] = on;
    }
    inEffect = wasInEffect;
    return o;
  }

  json app(const SApp& a) {
    json o = json::object();
    o["pid"] = a.pid;
    if (a.name) o["name"] = *a.name;
    if (a.bundleId) o["bundleId"] = *a.bundleId;
    if (a.policy != 0) o["policy"] = a.policy;
    if (a.hidden) o["hidden"] = true;
    if (!a.activates) o["activates"] = false;
    if (a.activateDelayMs != 0) o["activateDelayMs"] = a.activateDelayMs;
    // A launched application shares its element with the installed entry that launched it; the
    // running one defines it, and the entry (never launched again) is written without one.
    if (!emitted.count(a.element.get())) o["element"] = element(a.element);
    return o;
  }
};

bool hasApp(const Scene& scene, std::int32_t pid) {
  return std::any_of(scene.apps.begin(), scene.apps.end(),
                     [&](const SApp& a) { return a.pid == pid; });
}

}  // namespace

json sceneToJson(const Scene& scene, double nowMs) {
  json out = scene.original;
  Writer w{scene, {}, {}, {}, {}, {}, {}, false, {}, {}};
  for (const auto& a : scene.apps) w.root(a.element);
  for (const auto& inst : scene.installed) {
    if (inst.launches) w.root(inst.launches->element);
  }
  for (const auto& e : scene.detached) w.detach(e);
  w.reachEffectTargets();
  w.giveIds();

  json apps = json::array();
  for (const auto& a : scene.apps) apps.push_back(w.app(a));
  out["apps"] = apps;
  if (!scene.installed.empty() || out.contains("installed")) {
    json installed = json::array();
    for (const auto& inst : scene.installed) {
      json o = json::object();
      if (inst.bundleId) o["bundleId"] = *inst.bundleId;
      o["url"] = inst.url;
      if (inst.launches) o["launches"] = w.app(*inst.launches);
      if (inst.launchDelayMs != 0) o["launchDelayMs"] = inst.launchDelayMs;
      installed.push_back(o);
    }
    out["installed"] = installed;
  }
  json detached = json::array();
  for (const auto& e : w.detached) {
    if (!w.emitted.count(e.get())) detached.push_back(w.element(e));
  }
  // Whatever was only ever named by a reference (its place of definition never written) as well.
  for (std::size_t i = 0; i < w.order.size(); ++i) {
    if (!w.emitted.count(w.order[i].get())) detached.push_back(w.element(w.order[i]));
  }
  if (!detached.empty()) out["detached"] = detached;
  if (!scene.notifications.empty() || out.contains("notifications")) {
    json list = json::array();
    for (const auto& n : scene.notifications) {
      if (n.done) continue;
      double at = std::clamp(n.nextMs - nowMs, 0.0, std::nextafter(kMaxSceneMs, 0.0));
      json o{{"name", n.name}, {"atMs", at}};
      if (n.everyMs) o["everyMs"] = *n.everyMs;
      if (n.untilMs) o["untilMs"] = *n.untilMs - nowMs;
      if (n.unsupported) o["unsupported"] = true;
      list.push_back(o);
    }
    out["notifications"] = list;
  }
  // A frontmost pid that no running application has is no frontmost application.
  if (scene.frontmost && hasApp(scene, *scene.frontmost)) {
    out["frontmost"] = *scene.frontmost;
  } else {
    out["frontmost"] = nullptr;
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// The scene's lifetime.

Scene::Scene(Scene&& other) noexcept : SceneData(std::move(other)) { other.forget(); }

Scene& Scene::operator=(Scene&& other) noexcept {
  if (this != &other) {
    cut();
    SceneData::operator=(std::move(other));
    other.forget();
  }
  return *this;
}

Scene::~Scene() { cut(); }

void Scene::forget() {
  apps.clear();
  installed.clear();
  detached.clear();
  byId.clear();
}

void Scene::cut() {
  std::vector<SElementPtr> stack;
  for (const auto& a : apps) stack.push_back(a.element);
  for (const auto& inst : installed) {
    if (inst.launches) stack.push_back(inst.launches->element);
  }
  for (const auto& e : detached) stack.push_back(e);
  for (const auto& [id, e] : byId) stack.push_back(e);
  std::set<SElement*> seen;
  std::vector<SElementPtr> all;
  while (!stack.empty()) {
    SElementPtr e = std::move(stack.back());
    stack.pop_back();
    if (!e || !seen.insert(e.get()).second) continue;
    all.push_back(e);
    auto hold = [&](const SElementPtr& c, bool) { stack.push_back(c); };
    for (const auto& [k, v] : e->attrs) forEachElement(v, hold);
    for (const auto& [name, effects] : e->on) {
      for (const auto& eff : effects) forEachElement(eff.value, hold);
    }
  }
  for (const auto& e : all) {
    e->attrs.clear();
    e->on.clear();
  }
}

json valueToJournal(const SValue& v) {
  switch (v.kind) {
    case SValue::Kind::Null:
    case SValue::Kind::String:
    case SValue::Kind::Bool:
    case SValue::Kind::Number:
    case SValue::Kind::Point:
    case SValue::Kind::Size:
    case SValue::Kind::Range: return scalarToJson(v);
    case SValue::Kind::Element: return json{{"element", v.element->name}};
    case SValue::Kind::Elements: {
      json list = json::array();
      for (const auto& e : v.elements) list.push_back(e->name);
      return json{{"elements", list}};
    }
    case SValue::Kind::Other: return json{{"other", v.raw}};
  }
  return nullptr;
}

}  // namespace uiglean
