// What every fuzz target shares: a check that stops the run with the failed condition (assert is
// not used, so that NDEBUG cannot switch the checks off), and an independent UTF-8 validator.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#define FUZZ_CHECK(cond)                                                                 \
  do {                                                                                   \
    if (!(cond)) {                                                                       \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);      \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

namespace fuzzcheck {

// Well-formed UTF-8 as the Unicode standard's table 3-7 has it: no overlong forms, no surrogates,
// nothing above U+10FFFF.
inline bool isValidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
      ++i;
      continue;
    }
    std::size_t n = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      n = 1;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      n = 2;
      if (b0 == 0xE0) lo = 0xA0;
      if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      n = 3;
      if (b0 == 0xF0) lo = 0x90;
      if (b0 == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
    if (i + n >= s.size()) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      const auto b = static_cast<unsigned char>(s[i + k]);
      const unsigned char l = k == 1 ? lo : 0x80, h = k == 1 ? hi : 0xBF;
      if (b < l || b > h) return false;
    }
    i += n + 1;
  }
  return true;
}

// A decimal integer as the command line takes it: an optional sign, one or more ASCII digits,
// within the signed 64-bit range. Written independently of the parser under test.
inline std::optional<std::int64_t> decimal(std::string_view s) {
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  if (i == s.size()) return std::nullopt;
  std::string digits;  // without leading zeros
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return std::nullopt;
    if (!digits.empty() || s[i] != '0') digits.push_back(s[i]);
  }
  const std::string limit = negative ? "9223372036854775808" : "9223372036854775807";
  if (digits.size() > limit.size() || (digits.size() == limit.size() && digits > limit)) {
    return std::nullopt;
  }
  if (digits.empty()) return 0;
  if (negative && digits == limit) return INT64_MIN;
  const std::int64_t magnitude = std::stoll(digits);
  return negative ? -magnitude : magnitude;
}

}  // namespace fuzzcheck
