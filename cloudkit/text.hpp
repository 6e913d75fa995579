// Text helpers: UTF-8 decoding, record naming and container file names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cloudkit {

// Decodes UTF-8 into Unicode scalars; every byte that does not start a
// well-formed sequence becomes U+FFFD, so any byte string decodes.
std::vector<char32_t> decodeUtf8(std::string_view text);
void appendUtf8(std::string& out, char32_t scalar);
// The same text with malformed sequences replaced by U+FFFD.
std::string validUtf8(std::string_view text);

// True for the scalars of the Unicode letter, mark and number categories.
bool isAlphanumeric(char32_t scalar);
// Every alphanumeric scalar and "_" kept, every other scalar becomes "_".
std::string safe(std::string_view text);
std::string recordName(std::string_view key, std::string_view accountId);

std::string sha256Hex(std::string_view data);
// A file name stem for a container identifier: only [A-Za-z0-9_-] and
// %XX escapes, never "." or "..", at most 160 bytes, and distinct
// identifiers give distinct stems (long ones end in "~" and a SHA-256).
std::string containerStem(std::string_view identifier);

} // namespace cloudkit
