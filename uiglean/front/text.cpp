#include "uiglean/front/text.h"

#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#if __has_include(<xlocale.h>)
#include <xlocale.h>  // newlocale, uselocale and strtod_l, where they are declared apart
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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

namespace {

// The "C" locale, whatever the process's locale says about decimal points.
locale_t cLocale() {
  static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return c;
}

}  // namespace

std::optional<double> parseDouble(std::string_view s) {
  // One sign at most: from_chars takes a minus but no plus, so a plus is taken off first.
  std::string_view t = s;
  const bool plus = !t.empty() && t.front() == '+';
  if (plus) t.remove_prefix(1);
  if (t.empty() || t.front() == '+' || (plus && t.front() == '-') ||
      (t.front() == '-' && t.size() > 1 && t[1] == '+')) {
    return std::nullopt;
  }
  // Decimal and exponent forms, inf and nan; not blanks, not hexadecimal.
  std::string_view body = t.front() == '-' ? t.substr(1) : t;
  if (body.empty() || std::isspace(static_cast<unsigned char>(body.front())) != 0 ||
      body.front() == '-' || (body.size() > 1 && body[0] == '0' && (body[1] | 0x20) == 'x')) {
    return std::nullopt;
  }
  for (char c : body) {
    if (c == '\0' || std::isspace(static_cast<unsigned char>(c)) != 0) return std::nullopt;
  }
  const std::string text(t);
  char* end = nullptr;
  errno = 0;
  double value = strtod_l(text.c_str(), &end, cLocale());
  if (end != text.c_str() + text.size()) return std::nullopt;
  // Out of range (too large, or so small that nothing is left): refused.
  if (errno == ERANGE && (std::isinf(value) || value == 0)) return std::nullopt;
  return value;
}

std::string shortestDecimal(double d) {
  if (std::isnan(d)) return std::signbit(d) ? "-nan" : "nan";
  if (std::isinf(d)) return d < 0 ? "-inf" : "inf";
  // Whole numbers (frames, counts) the quick way: their digits, unless the exponent form is
  // shorter (1e+07).
  if (d == std::trunc(d) && std::fabs(d) < 1e15) {
    std::string whole = std::to_string(static_cast<long long>(std::fabs(d)));
    const std::size_t significant = whole.find_last_not_of('0') + 1;
    if (whole.size() <= significant + (significant > 1 ? 1 : 0) + 4) {
      return std::signbit(d) ? "-" + whole : whole;
    }
  }
  // The fewest significant digits that read back exactly, in the exponent form.
  char sci[40];
  const locale_t previous = uselocale(cLocale());
  for (int precision = 0; precision <= 17; ++precision) {
    std::snprintf(sci, sizeof sci, "%.*e", precision, d);
    if (std::strtod(sci, nullptr) == d) break;
  }
  uselocale(previous);
  // Split it into sign, digits and exponent.
  std::string text(sci);
  std::string sign;
  if (text.front() == '-') {
    sign = "-";
    text.erase(0, 1);
  }
  const std::size_t e = text.find('e');
  std::string digits = text.substr(0, e);
  digits.erase(std::remove(digits.begin(), digits.end(), '.'), digits.end());
  const int exponent = std::stoi(text.substr(e + 1));
  // Exponent form as printf writes it: at least two exponent digits.
  std::string exponential = sign + digits.substr(0, 1);
  if (digits.size() > 1) exponential += "." + digits.substr(1);
  char exp[16];
  std::snprintf(exp, sizeof exp, "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
  exponential += exp;
  // Fixed form of the same digits.
  std::string fixed;
  const int n = static_cast<int>(digits.size());
  if (exponent < 0) {
    fixed = "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
  } else if (exponent + 1 >= n) {
    // A whole number: its exact digits, as many as the shortest digits padded with zeros.
    char whole[400];
    const locale_t before = uselocale(cLocale());
    std::snprintf(whole, sizeof whole, "%.0f", std::fabs(d));
    uselocale(before);
    fixed = whole;
  } else {
    fixed = digits.substr(0, static_cast<std::size_t>(exponent + 1)) + "." +
            digits.substr(static_cast<std::size_t>(exponent + 1));
  }
  fixed = sign + fixed;
  return fixed.size() <= exponential.size() ? fixed : exponential;
}

}  // namespace uiglean
