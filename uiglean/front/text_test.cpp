#include "uiglean/front/text.h"

#include <gtest/gtest.h>
#include <vector>
#include <cmath>
#include <limits>
#include <random>
#include <cstring>
#include <charconv>

namespace uiglean {
namespace {

TEST(ParseInt64, SignsDigitsAndRange) {
  EXPECT_EQ(parseInt64("0"), 0);
  EXPECT_EQ(parseInt64("+150"), 150);
  EXPECT_EQ(parseInt64("-1"), -1);
  EXPECT_EQ(parseInt64("007"), 7);
  EXPECT_EQ(parseInt64("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(parseInt64("-9223372036854775808"), INT64_MIN);
  for (const char* bad : {"", "+", "-", " 1", "1 ", "1a", "0x10", "+-1", "1.5", "9223372036854775808",
                          "-9223372036854775809", "99999999999999999999", "\xD9\xA1"}) {
    EXPECT_EQ(parseInt64(bad), std::nullopt) << bad;
  }
}

TEST(ParseDouble, WholeTextOnly) {
  EXPECT_EQ(parseDouble("0.05"), 0.05);
  EXPECT_EQ(parseDouble("+0.5"), 0.5);
  EXPECT_EQ(parseDouble("-2"), -2.0);
  EXPECT_EQ(parseDouble("1e-2"), 0.01);
  EXPECT_EQ(parseDouble(".5"), 0.5);
  // One sign at most, in front.
  for (const char* bad : {"", "abc", "0.05x", " 0.05", "0.05 ", "+", "++1", "-+1", "+-1", "+-inf",
                          "+-0", "1,5"}) {
    EXPECT_EQ(parseDouble(bad), std::nullopt) << bad;
  }
}

}  // namespace
}  // namespace uiglean

namespace uiglean {
namespace {

// The C++ library's own conversions, where it has them, are the reference.
std::string referenceShortest(double d) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, d);
  return std::string(buf, res.ptr);
}

std::optional<double> referenceParse(std::string_view s) {
  std::string_view t = s;
  if (!t.empty() && t.front() == '+') t.remove_prefix(1);
  if (t.empty() || t.front() == '+' || (t.front() == '-' && t.size() > 1 && t[1] == '+')) {
    return std::nullopt;
  }
  double value = 0;
  auto res = std::from_chars(t.data(), t.data() + t.size(), value);
  if (res.ec != std::errc() || res.ptr != t.data() + t.size()) return std::nullopt;
  return value;
}

TEST(ShortestDecimal, WritesWhatToCharsWrites) {
  std::vector<double> values{1, -1, 100, 1e7, 12345678.9, 0.1, 0.0001, 0.00001, 1e21, 1e22,
                             123456789012.0, 1.5e-7, 5e-324, 1.7976931348623157e308, -2.5,
                             0.30000000000000004, 1e16, 9007199254740993.0, 640, 0.5, 33.333,
                             -0.0, 0, 10, 120000, 1200000, 999999999999999.0, 1e14, 3e14};
  std::mt19937_64 random(12345);
  for (int i = 0; i < 20000; ++i) {
    std::uint64_t bits = random();
    double d = 0;
    std::memcpy(&d, &bits, sizeof d);
    if (std::isfinite(d)) values.push_back(d);
    values.push_back(static_cast<double>(static_cast<std::int64_t>(random() % 2000000) - 1000000) /
                     std::pow(10.0, static_cast<double>(random() % 8)));
    values.push_back(static_cast<double>(random() % 1000) * std::pow(10.0, static_cast<double>(random() % 16)));
  }
  for (double d : values) EXPECT_EQ(shortestDecimal(d), referenceShortest(d)) << d;
  EXPECT_EQ(shortestDecimal(std::numeric_limits<double>::infinity()), "inf");
  EXPECT_EQ(shortestDecimal(-std::numeric_limits<double>::infinity()), "-inf");
  EXPECT_EQ(shortestDecimal(std::nan("")), "nan");
}

TEST(ParseDouble, ReadsWhatFromCharsReads) {
  for (const char* text : {"1", "-1", "+1", "++1", "-+1", "1.5", ".5", "5.", "1e3", "1E-3", "1e",
                           "e3", "inf", "-inf", "INF", "infinity", "nan", "NaN", "0x10", "0X1p3",
                           " 1", "1 ", "1\t", "", "-", "+", "1e400", "-1e400", "1e-400", "1e-310",
                           "0e999", "00012", "1,5", "1.2.3", "300", "0.0001", "-0", "1e+2"}) {
    std::optional<double> ours = parseDouble(text), reference = referenceParse(text);
    ASSERT_EQ(ours.has_value(), reference.has_value()) << '"' << text << '"';
    if (!ours) continue;
    if (std::isnan(*reference)) {
      EXPECT_TRUE(std::isnan(*ours)) << '"' << text << '"';
    } else {
      EXPECT_EQ(*ours, *reference) << '"' << text << '"';
    }
  }
}

}  // namespace
}  // namespace uiglean

