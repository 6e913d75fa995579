#include "uiglean/ax/readers.h"

#include "uiglean/front/text.h"

#include <charconv>
#include <cmath>

#include "uiglean/front/globals.h"

namespace uiglean {

std::optional<FrontApp> frontmostApp() {
  auto app = frontmostApplication();
  if (!app) return std::nullopt;
  return FrontApp{*app, axCreateApplication(app->pid)};
}

void enableFullAccessibility(const Element& app) {
  axSetAttributeValue(app, "AXManualAccessibility", Number{1, true, true});
  axSetAttributeValue(app, "AXEnhancedUserInterface", Number{1, true, true});
}

namespace {

template <class T>
std::optional<T> typedAttr(const Element& element, const std::string& name) {
  CopyResult r = axCopyAttributeValue(element, name);
  if (r.status != axerr::success) return std::nullopt;
  if (auto* v = std::get_if<T>(&r.value)) return std::move(*v);
  return std::nullopt;
}

}  // namespace

std::optional<ElementList> attrElements(const Element& element, const std::string& name) {
  return typedAttr<ElementList>(element, name);
}
std::optional<Element> attrElement(const Element& element, const std::string& name) {
  auto e = typedAttr<Element>(element, name);
  if (e && !*e) return std::nullopt;
  return e;
}
std::optional<Point> attrPoint(const Element& element, const std::string& name) {
  return typedAttr<Point>(element, name);
}
std::optional<Size> attrSize(const Element& element, const std::string& name) {
  return typedAttr<Size>(element, name);
}
std::optional<std::string> attrString(const Element& element, const std::string& name) {
  return typedAttr<std::string>(element, name);
}
std::optional<Number> attrNumber(const Element& element, const std::string& name) {
  return typedAttr<Number>(element, name);
}

std::optional<bool> boolAttr(const Element& element, const std::string& name) {
  auto n = attrNumber(element, name);
  if (!n) return std::nullopt;
  return n->value != 0;
}

Frame frameOf(const Element& element) {
  auto pos = attrPoint(element, "AXPosition");
  if (!pos) return ZERO_FRAME;
  auto size = attrSize(element, "AXSize");
  if (!size) return ZERO_FRAME;
  return Frame{pos->x, pos->y, size->width, size->height};
}

std::int64_t integerValue(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 9223372036854775807.0) return INT64_MAX;
  if (v <= -9223372036854775808.0) return INT64_MIN;
  return static_cast<std::int64_t>(v);
}

std::string numberText(const Number& n) {
  if (n.integer) return std::to_string(*n.integer);
  double v = n.value;
  if (std::isfinite(v) && v == std::trunc(v) && std::fabs(v) < 1e18) {
    return std::to_string(static_cast<long long>(v));
  }
  return shortestDecimal(v);
}

std::optional<std::string> valueString(const Element& element) {
  CopyResult r = axCopyAttributeValue(element, "AXValue");
  if (r.status != axerr::success) return std::nullopt;
  if (auto* s = std::get_if<std::string>(&r.value)) {
    if (s->empty()) return std::nullopt;
    return std::move(*s);
  }
  if (auto* n = std::get_if<Number>(&r.value)) return numberText(*n);
  return std::nullopt;
}

std::optional<std::vector<std::string>> actionsOf(const Element& element) {
  ActionNamesResult r = axCopyActionNames(element);
  if (r.status != axerr::success || !r.names) return std::nullopt;
  std::vector<std::string> kept;
  for (const auto& name : *r.names) {
    if (INTERESTING_ACTIONS.count(name) != 0) kept.push_back(name.substr(2));
  }
  if (kept.empty()) return std::nullopt;
  return kept;
}

ElementList children(const Element& element) {
  auto list = attrElements(element, "AXChildren");
  if (!list) return {};
  if (MAX_CHILDREN >= 0 && list->size() > static_cast<std::size_t>(MAX_CHILDREN)) {
    list->resize(static_cast<std::size_t>(MAX_CHILDREN));
  }
  return std::move(*list);
}

bool isBlank(const std::string& s) {
  // Whitespace and newlines: ASCII white space plus the Unicode spaces and line separators that
  // commonly appear in titles (NBSP, the U+2000 block, U+2028/2029, U+3000, U+FEFF is not one).
  std::size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == ' ' || (c >= 0x09 && c <= 0x0d)) {
      ++i;
      continue;
    }
    // Decode one UTF-8 scalar for the non-ASCII spaces.
    auto cp = [&](std::size_t len) -> std::uint32_t {
      if (i + len > s.size()) return 0;
      std::uint32_t v = c & (0xff >> (len + 1));
      for (std::size_t k = 1; k < len; ++k) v = (v << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3f);
      return v;
    };
    std::size_t len = c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc0 ? 2 : 1;
    std::uint32_t u = len > 1 ? cp(len) : 0;
    bool space = u == 0x85 || u == 0xa0 || u == 0x1680 || (u >= 0x2000 && u <= 0x200a) ||
                 u == 0x2028 || u == 0x2029 || u == 0x202f || u == 0x205f || u == 0x3000;
    if (!space) return false;
    i += len;
  }
  return true;
}

std::optional<std::string> nonEmpty(const std::optional<std::string>& s) {
  if (!s || isBlank(*s)) return std::nullopt;
  return s;
}

const PlistValue* plistLookup(const PlistValue& dict, const std::string& key) {
  const auto* d = std::get_if<PlistDict>(&dict.v);
  if (d == nullptr) return nullptr;
  for (const auto& [k, v] : *d) {
    if (k == key) return &v;
  }
  return nullptr;
}

}  // namespace uiglean
