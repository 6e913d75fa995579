// Typed readers over the platform layer. Every platform failure becomes an absent value; no read
// ever ends a run.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "uiglean/ax/platform.h"

namespace uiglean {

// [x, y, width, height] in screen points.
using Frame = std::array<double, 4>;
inline constexpr Frame ZERO_FRAME{0, 0, 0, 0};

struct FrontApp {
  RunningApp app;
  Element element;
};

std::optional<FrontApp> frontmostApp();
void enableFullAccessibility(const Element& app);

// One attribute copy, typed by the caller.
std::optional<ElementList> attrElements(const Element& element, const std::string& name);
std::optional<Element> attrElement(const Element& element, const std::string& name);
std::optional<Point> attrPoint(const Element& element, const std::string& name);
std::optional<Size> attrSize(const Element& element, const std::string& name);
std::optional<std::string> attrString(const Element& element, const std::string& name);
std::optional<Number> attrNumber(const Element& element, const std::string& name);

std::optional<bool> boolAttr(const Element& element, const std::string& name);
Frame frameOf(const Element& element);
std::optional<std::string> valueString(const Element& element);
std::optional<std::vector<std::string>> actionsOf(const Element& element);
ElementList children(const Element& element);

// True when `s` is empty after trimming whitespace and newlines at both ends.
bool isBlank(const std::string& s);
std::optional<std::string> nonEmpty(const std::optional<std::string>& s);

// A real truncated toward zero, saturated at the signed 64-bit range; 0 for NaN.
std::int64_t integerValue(double v);

// The decimal text of a number: exact integers and integral values without a decimal point,
// others in the shortest form that reads back as the same double.
std::string numberText(const Number& n);

}  // namespace uiglean
