// Small text helpers of the layer: ASCII letter case for protocol names, and UTF-8 counted in
// Unicode scalars (the protocol's text offsets are characters, strings are UTF-8).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace uiglean::lx {

std::string asciiLower(std::string s);
bool equalsIgnoringAsciiCase(const std::string& a, const std::string& b);

// The byte length of the UTF-8 sequence that starts with `lead` (1 for a stray byte).
std::size_t utf8Length(unsigned char lead);
// The byte offset of character `chars` (the end of the text when it has fewer).
std::size_t byteOffset(const std::string& text, std::int64_t chars);
std::int64_t charLength(const std::string& text);
// The text without U+FFFC, the object replacement character toolkits put where a child object
// (a link, an image) sits in a paragraph's text.
std::string withoutObjectMarks(const std::string& text);
// The text without leading and trailing blanks (spaces, tabs, line breaks, no-break spaces).
std::string trimBlanks(const std::string& text);
// The scalars of the text; a malformed sequence is U+FFFD.
std::vector<std::uint32_t> scalars(const std::string& text);

}  // namespace uiglean::lx
