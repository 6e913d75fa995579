// The listing's JSON: pretty-printed with sorted keys, two-space indents,
// " : " between key and value and "\/" for every slash.
#pragma once

#include "store.hpp"

#include <string>
#include <vector>

namespace cloudkit {

// A JSON string literal; malformed UTF-8 becomes U+FFFD.
std::string jsonString(std::string_view text);
// 2026-01-02T03:04:05Z in UTC, or the empty text for a time that has no
// four-digit year.
std::string isoDate(std::int64_t millisecondsSince1970);
std::string listJson(const std::vector<ListEntry>& entries);

} // namespace cloudkit
