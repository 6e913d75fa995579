#include "uiglean/front/casefold.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace uiglean {

namespace {

struct CaseMapping {
  std::uint32_t from;
  std::array<std::uint32_t, 3> to;  // unused trailing entries are 0
};

#include "uiglean/front/casefold_table.inc"

// A byte that is not part of valid UTF-8 decodes to a value above the Unicode range, unique per
// byte value, so it never folds and only matches itself.
constexpr std::uint32_t INVALID_BASE = 0x110000;

// Decodes one scalar starting at s[i] and advances i past it.
std::uint32_t decodeOne(std::string_view s, std::size_t& i) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = byte(i);
  if (c < 0x80) {
    ++i;
    return c;
  }
  std::size_t len = 0;
  unsigned char lo = 0x80, hi = 0xbf;
  std::uint32_t cp = 0;
  if (c >= 0xc2 && c <= 0xdf) {
    len = 2;
    cp = c & 0x1fu;
  } else if (c >= 0xe0 && c <= 0xef) {
    len = 3;
    cp = c & 0x0fu;
    if (c == 0xe0) lo = 0xa0;
    if (c == 0xed) hi = 0x9f;
  } else if (c >= 0xf0 && c <= 0xf4) {
    len = 4;
    cp = c & 0x07u;
    if (c == 0xf0) lo = 0x90;
    if (c == 0xf4) hi = 0x8f;
  }
  if (len == 0 || i + len > s.size()) {
    ++i;
    return INVALID_BASE + c;
  }
  for (std::size_t k = 1; k < len; ++k) {
    unsigned char b = byte(i + k);
    if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xbf)) {
      ++i;
      return INVALID_BASE + c;
    }
    cp = (cp << 6) | (b & 0x3fu);
  }
  i += len;
  return cp;
}

template <std::size_t N>
const CaseMapping* lookup(const CaseMapping (&table)[N], std::uint32_t cp) {
  const CaseMapping* end = table + N;
  const CaseMapping* it = std::lower_bound(
      table, end, cp, [](const CaseMapping& m, std::uint32_t v) { return m.from < v; });
  return it != end && it->from == cp ? it : nullptr;
}

// Appends the case folding of cp.
void appendFolded(std::vector<std::uint32_t>& out, std::uint32_t cp) {
  const CaseMapping* m = lookup(FOLD_TABLE, cp);
  if (!m) {
    out.push_back(cp);
    return;
  }
  for (std::uint32_t t : m->to) {
    if (t != 0) out.push_back(t);
  }
}

std::vector<std::uint32_t> folded(std::string_view s) {
  std::vector<std::uint32_t> out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) appendFolded(out, decodeOne(s, i));
  return out;
}

}  // namespace

void appendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xc0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3f)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xe0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3f)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3f)));
  } else {
    out.push_back(static_cast<char>(0xf0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3f)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3f)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3f)));
  }
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a == b) return true;
  return folded(a) == folded(b);
}

bool containsIgnoringCase(std::string_view haystack, std::string_view needle) {
  if (needle.empty()) return false;
  std::vector<std::uint32_t> want = folded(needle);
  // Fold the haystack character by character, remembering where each character's folding starts
  // so that a match can be required to cover whole characters.
  std::vector<std::uint32_t> have;
  std::vector<bool>
      boundary;  // boundary[k]: position k of `have` starts a character (or is the end)
  have.reserve(haystack.size());
  boundary.reserve(haystack.size() + 1);
  for (std::size_t i = 0; i < haystack.size();) {
    std::uint32_t cp = decodeOne(haystack, i);
    boundary.push_back(true);
    appendFolded(have, cp);
    boundary.resize(have.size(), false);
  }
  boundary.push_back(true);
  if (want.size() > have.size()) return false;
  for (std::size_t start = 0; start + want.size() <= have.size(); ++start) {
    if (!boundary[start] || !boundary[start + want.size()]) continue;
    if (std::equal(want.begin(), want.end(), have.begin() + static_cast<std::ptrdiff_t>(start))) {
      return true;
    }
  }
  return false;
}

std::string lowercaseFull(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    std::size_t begin = i;
    std::uint32_t cp = decodeOne(s, i);
    if (cp >= INVALID_BASE) {
      out.append(s.substr(begin, i - begin));
      continue;
    }
    const CaseMapping* m = lookup(LOWER_TABLE, cp);
    if (!m) {
      out.append(s.substr(begin, i - begin));
      continue;
    }
    for (std::uint32_t t : m->to) {
      if (t != 0) appendUtf8(out, t);
    }
  }
  return out;
}

}  // namespace uiglean
