// Comparing text while ignoring letter case, the way every subcommand matches what a caller
// typed against titles, names and bundle identifiers.
//
// Both sides are UTF-8. Letter case is removed with Unicode full case folding (so "Straße" equals
// "STRASSE" and "ς" equals "Σ"); nothing is trimmed, no locale is consulted and no other
// normalisation happens. Bytes that are not valid UTF-8 only ever match the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace uiglean {

// Whole-string equality ignoring case. Two empty strings are equal.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// True when `needle` occurs in `haystack` ignoring case. A match starts and ends on character
// boundaries of `haystack` (so "s" is not found inside "ß", whose folding is "ss"). An empty
// needle is contained in nothing.
bool containsIgnoringCase(std::string_view haystack, std::string_view needle);

// Appends the UTF-8 bytes of one scalar value.
void appendUtf8(std::string& out, std::uint32_t scalar);

// The full lower-case mapping of `s` ("İ" becomes "i̇", "Ä" becomes "ä"); invalid bytes are kept.
std::string lowercaseFull(std::string_view s);

}  // namespace uiglean
