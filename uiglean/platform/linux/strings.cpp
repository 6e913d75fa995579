#include "uiglean/platform/linux/strings.h"

#include <cctype>

namespace uiglean::lx {

std::string asciiLower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool equalsIgnoringAsciiCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && asciiLower(a) == asciiLower(b);
}

std::size_t utf8Length(unsigned char lead) {
  return lead < 0xc0 ? 1 : lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : 2;
}

std::size_t byteOffset(const std::string& text, std::int64_t chars) {
  std::size_t i = 0;
  for (std::int64_t seen = 0; i < text.size() && seen < chars; ++seen) {
    i += utf8Length(static_cast<unsigned char>(text[i]));
  }
  return i < text.size() ? i : text.size();
}

std::int64_t charLength(const std::string& text) {
  std::int64_t n = 0;
  for (char c : text) {
    if ((static_cast<unsigned char>(c) & 0xc0) != 0x80) ++n;
  }
  return n;
}

std::vector<std::uint32_t> scalars(const std::string& s) {
  std::vector<std::uint32_t> out;
  std::size_t i = 0;
  while (i < s.size()) {
    auto c = static_cast<unsigned char>(s[i]);
    std::size_t len = c < 0x80 ? 1 : utf8Length(c);
    if (i + len > s.size()) len = 1;
    std::uint32_t v = len == 1 ? c : (c & (0xffU >> (len + 1)));
    for (std::size_t j = 1; j < len; ++j) v = (v << 6) | (static_cast<unsigned char>(s[i + j]) & 0x3fU);
    out.push_back(len == 1 && c >= 0x80 ? 0xfffd : v);
    i += len;
  }
  return out;
}

}  // namespace uiglean::lx
