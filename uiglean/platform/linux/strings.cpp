#include "uiglean/platform/linux/strings.h"

#include <cctype>
#include <string>

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

std::string withoutObjectMarks(const std::string& text) {
  static const std::string mark = "\xEF\xBF\xBC";  // U+FFFC
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (text.compare(i, mark.size(), mark) == 0) {
      i += mark.size();
    } else {
      out += text[i++];
    }
  }
  return out;
}

namespace {

// Blanks a title may be padded with.
constexpr const char* BLANKS[] = {" ", "\t", "\n", "\r", "\f", "\v",
                                  "\xC2\xA0", "\xE2\x80\xAF", "\xE3\x80\x80"};

// The length of the blank that starts (or, with `before`, ends) at byte `at`, else 0.
std::size_t blankLength(const std::string& text, std::size_t at, bool before) {
  for (const char* b : BLANKS) {
    std::size_t len = std::char_traits<char>::length(b);
    if (before ? (at >= len && text.compare(at - len, len, b) == 0)
               : text.compare(at, len, b) == 0) {
      return len;
    }
  }
  return 0;
}

}  // namespace

std::string trimBlanks(const std::string& text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t n = blankLength(text, begin, false);
    if (n == 0) break;
    begin += n;
  }
  std::size_t end = text.size();
  while (end > begin) {
    std::size_t n = blankLength(text, end, true);
    if (n == 0) break;
    end -= n;
  }
  return text.substr(begin, end - begin);
}

}  // namespace uiglean::lx
