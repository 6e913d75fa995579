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

// Text made safe to print on one line: control characters (C0, DEL, C1,
// and the Unicode line and paragraph separators) become \n, \r, \t or
// \u00XX escapes, a backslash becomes \\, and a byte that is not part of
// well-formed UTF-8 becomes \xNN.
std::string printable(std::string_view text);

// The secrets that a postgresql:// or postgres:// URI carries: the password
// of its user info and the value of every password parameter, each as
// written and percent-decoded. Nothing for any other text.
std::vector<std::string> uriSecrets(std::string_view uri);
// The text with passwords replaced by "***": those of URIs and of
// "password=" parameters it contains, and every occurrence of the secrets.
std::string maskPasswords(std::string_view text, const std::vector<std::string>& secrets);
// A file name stem for a container identifier: only [A-Za-z0-9_-] and
// %XX escapes, never "." or "..", at most 160 bytes, and distinct
// identifiers give distinct stems (long ones end in "~" and a SHA-256).
std::string containerStem(std::string_view identifier);

} // namespace cloudkit
