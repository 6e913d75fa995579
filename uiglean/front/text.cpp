#include "uiglean/front/text.h"

#include <charconv>
#include <cmath>
#include <string>

namespace uiglean {

std::optional<std::int64_t> parseInt64(std::string_view s) {
  if (s.empty()) return std::nullopt;
  bool negative = false;
  std::size_t i = 0;
  if (s[0] == '+' || s[0] == '-') {
    negative = s[0] == '-';
    i = 1;
  }
  if (i == s.size()) return std::nullopt;
  // Accumulate as a negative number so that INT64_MIN parses.
  std::int64_t value = 0;
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (c < '0' || c > '9') return std::nullopt;
    int digit = c - '0';
    if (value < (INT64_MIN + digit) / 10) return std::nullopt;
    value = value * 10 - digit;
  }
  if (!negative) {
    if (value == INT64_MIN) return std::nullopt;
    value = -value;
  }
  return value;
}

std::optional<double> parseDouble(std::string_view s) {
  // One sign at most: from_chars takes a minus but no plus, so a plus is taken off first.
  std::string_view t = s;
  const bool plus = !t.empty() && t.front() == '+';
  if (plus) t.remove_prefix(1);
  if (t.empty() || t.front() == '+' || (plus && t.front() == '-') ||
      (t.front() == '-' && t.size() > 1 && t[1] == '+')) {
    return std::nullopt;
  }
  double value = 0;
  auto res = std::from_chars(t.data(), t.data() + t.size(), value);
  if (res.ec != std::errc() || res.ptr != t.data() + t.size()) return std::nullopt;
  return value;
}

}  // namespace uiglean
