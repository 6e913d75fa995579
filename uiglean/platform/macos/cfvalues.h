// How CoreFoundation values become the layer's values: the rules alone, written over an abstract
// reader so that they build and are tested anywhere. cftypes.cpp supplies the reader over real
// CFTypeRefs; the tests supply one over a small tree of their own.
//
// A reader R over nodes N provides:
//   CfKind kind(N) const
//   std::optional<std::string> string(N) const       -- a CFString as UTF-8
//   bool boolean(N) const                            -- a CFBoolean
//   NumberReading number(N) const                    -- a CFNumber
//   AxValueReading axValue(N) const                  -- an AXValue
//   Element element(N) const                         -- an AXUIElement, retained for the caller
//   std::string describe(N) const                    -- a short description of any value
//   void forEachItem(N, F) const                     -- F(N) for each entry of a CFArray
//   void forEachEntry(N, F) const                    -- F(N key, N value) for a CFDictionary
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "uiglean/ax/platform.h"

namespace uiglean::macos {

enum class CfKind { null, string, number, boolean, axValue, element, array, dictionary, other };

// CFNumberType codes (CFNumber.h); the float types are the ones CFNumberIsFloatType names.
namespace cfnumber {
inline constexpr int sint8 = 1, sint16 = 2, sint32 = 3, sint64 = 4, float32 = 5, float64 = 6,
                     charType = 7, shortType = 8, intType = 9, longType = 10, longLongType = 11,
                     floatType = 12, doubleType = 13, cfIndex = 14, nsInteger = 15, cgFloat = 16;
}

inline bool isFloatNumberType(int type) {
  return type == cfnumber::float32 || type == cfnumber::float64 || type == cfnumber::floatType ||
         type == cfnumber::doubleType || type == cfnumber::cgFloat;
}

// What a CFNumber says about itself: its type code, its value read as a signed 64-bit integer
// (nothing when that read is lossy, as for an unsigned value above 2^63 - 1 or any real) and its
// value read as a double.
struct NumberReading {
  int type = 0;
  std::optional<std::int64_t> asInt64;
  double asDouble = 0;
};

// A CFNumber as the accessibility layer's number: integer types keep their exact value when a
// signed 64-bit integer holds it; an integer too large for one is still an integer, known only
// approximately.
inline Number numberOf(const NumberReading& n) {
  if (isFloatNumberType(n.type)) return Number(n.asDouble);
  if (n.asInt64) return Number(static_cast<double>(*n.asInt64), false, true, *n.asInt64);
  return Number(n.asDouble, false, true);
}

inline Number booleanNumber(bool b) { return Number(b ? 1.0 : 0.0, true, true, b ? 1 : 0); }

// A CFNumber as a property-list value: integers and reals stay apart; an integer that no signed
// 64-bit integer holds becomes the real nearest to it.
inline PlistValue plistNumberOf(const NumberReading& n) {
  if (!isFloatNumberType(n.type) && n.asInt64) return PlistValue{*n.asInt64};
  return PlistValue{n.asDouble};
}

// AXValueType codes (AXValue.h).
namespace axvalue {
inline constexpr int illegal = 0, cgPoint = 1, cgSize = 2, cgRect = 3, cfRange = 4, axError = 5;
}

// What an AXValue holds: its type code and, for the types the layer uses, the numbers read out
// of it with AXValueGetValue (ok is false when that read failed).
struct AxValueReading {
  int type = axvalue::illegal;
  bool ok = false;
  double a = 0, b = 0, c = 0, d = 0;  // point x y, size w h, rect x y w h, range loc len
  std::int64_t location = 0, length = 0;
};

inline Value axValueOf(const AxValueReading& v) {
  if (v.ok) {
    switch (v.type) {
      case axvalue::cgPoint:
        return Point{v.a, v.b};
      case axvalue::cgSize:
        return Size{v.a, v.b};
      case axvalue::cfRange:
        return Range{v.location, v.length};
      default:
        break;
    }
  }
  // Rectangles and errors are values the tool never reads.
  switch (v.type) {
    case axvalue::cgRect:
      return OtherValue{"AXValue rect"};
    case axvalue::axError:
      return OtherValue{"AXValue error"};
    default:
      return OtherValue{"AXValue type " + std::to_string(v.type)};
  }
}

// An attribute's value as the layer's value. A CFArray is a list of elements when every entry is
// an element (an empty array is an empty list); an array of anything else is another kind, as
// are dictionaries, dates, URLs and the rest.
template <class R, class N>
Value valueOf(const R& reader, N node) {
  switch (reader.kind(node)) {
    case CfKind::null:
      return NoValue{};
    case CfKind::string: {
      std::optional<std::string> s = reader.string(node);
      if (s) return std::move(*s);
      return OtherValue{"string without a UTF-8 form"};
    }
    case CfKind::boolean:
      return booleanNumber(reader.boolean(node));
    case CfKind::number:
      return numberOf(reader.number(node));
    case CfKind::axValue:
      return axValueOf(reader.axValue(node));
    case CfKind::element: {
      Element e = reader.element(node);
      if (e) return e;
      return OtherValue{"element"};
    }
    case CfKind::array: {
      ElementList list;
      bool allElements = true;
      reader.forEachItem(node, [&](N item) {
        if (!allElements) return;
        if (reader.kind(item) != CfKind::element) {
          allElements = false;
          return;
        }
        Element e = reader.element(item);
        if (e) list.push_back(std::move(e));
        else allElements = false;
      });
      if (allElements) return list;
      return OtherValue{reader.describe(node)};
    }
    case CfKind::dictionary:
    case CfKind::other:
      break;
  }
  return OtherValue{reader.describe(node)};
}

// Nesting deeper than this is cut off (a window dictionary is two levels deep).
inline constexpr int kMaxPlistDepth = 16;

// A property-list value (the window server's dictionaries) as the layer's value: strings,
// booleans, integers, reals, dictionaries with string keys and arrays. Entries whose key is not a
// string are left out; values of other kinds (dates, data, ...) and anything below the depth
// limit are empty values, which every reader of a key takes as missing.
template <class R, class N>
PlistValue plistOf(const R& reader, N node, int depth = 0) {
  if (depth > kMaxPlistDepth) return PlistValue{};
  switch (reader.kind(node)) {
    case CfKind::string: {
      std::optional<std::string> s = reader.string(node);
      if (s) return PlistValue{std::move(*s)};
      return PlistValue{};
    }
    case CfKind::boolean:
      return PlistValue{reader.boolean(node)};
    case CfKind::number:
      return plistNumberOf(reader.number(node));
    case CfKind::dictionary: {
      PlistDict dict;
      reader.forEachEntry(node, [&](N key, N value) {
        if (reader.kind(key) != CfKind::string) return;
        std::optional<std::string> name = reader.string(key);
        if (!name) return;
        dict.emplace_back(std::move(*name), plistOf(reader, value, depth + 1));
      });
      return PlistValue{std::move(dict)};
    }
    case CfKind::array: {
      PlistArray array;
      reader.forEachItem(node, [&](N item) { array.push_back(plistOf(reader, item, depth + 1)); });
      return PlistValue{std::move(array)};
    }
    default:
      return PlistValue{};
  }
}

// How a layer value is handed to AXUIElementSetAttributeValue.
enum class SetKind { string, boolean, integer, real, point, size, range, element, elements, none };

inline SetKind setKindOf(const Value& v) {
  if (std::holds_alternative<std::string>(v)) return SetKind::string;
  if (auto* n = std::get_if<Number>(&v)) {
    if (n->isBool) return SetKind::boolean;
    if (n->integer) return SetKind::integer;
    // An integer known only as a double is written as the integer it is when a signed 64-bit
    // integer holds it exactly.
    constexpr double kTwo63 = 9223372036854775808.0;
    if (n->isInteger && n->value >= -kTwo63 && n->value < kTwo63 &&
        n->value == std::trunc(n->value))
      return SetKind::integer;
    return SetKind::real;
  }
  if (std::holds_alternative<Point>(v)) return SetKind::point;
  if (std::holds_alternative<Size>(v)) return SetKind::size;
  if (std::holds_alternative<Range>(v)) return SetKind::range;
  if (std::holds_alternative<Element>(v)) return SetKind::element;
  if (std::holds_alternative<ElementList>(v)) return SetKind::elements;
  return SetKind::none;
}

inline std::int64_t integerOf(const Number& n) {
  return n.integer ? *n.integer : static_cast<std::int64_t>(n.value);
}

}  // namespace uiglean::macos
