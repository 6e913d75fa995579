// Turning a ref from a snapshot back into the live element now at that position.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "uiglean/ax/platform.h"

namespace uiglean {

// The window index and child indexes of a ref, or nothing when the text is malformed. Empty
// components are dropped, so "w0..3", ".w0.3" and "w0.3." all mean w0.3.
std::optional<std::vector<std::int64_t>> parseRef(const std::string& ref);

// The element the ref names in the application now, or nothing.
std::optional<Element> resolveRef(const Element& app, const std::string& ref);

}  // namespace uiglean
