#include "uiglean/front/text.h"

#include <gtest/gtest.h>

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
