// Acting on one element named by a ref.
#pragma once

#include <optional>
#include <string>

#include "uiglean/ax/platform.h"

namespace uiglean {

// Writes `text` into the element: the whole current text is selected and replaced, falling back
// to a plain AXValue write. Nothing on success, else the error text.
std::optional<std::string> setElementValue(const Element& element, const std::string& text);

}  // namespace uiglean
