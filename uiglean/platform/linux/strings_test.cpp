#include "uiglean/platform/linux/strings.h"

#include <gtest/gtest.h>

namespace uiglean::lx {
namespace {

TEST(Strings, OffsetsCountScalarsNotBytes) {
  const std::string text = "aé名😀b";  // 1, 2, 3, 4 and 1 bytes
  EXPECT_EQ(charLength(text), 5);
  EXPECT_EQ(byteOffset(text, 0), 0U);
  EXPECT_EQ(byteOffset(text, 2), 3U);
  EXPECT_EQ(byteOffset(text, 4), 10U);
  EXPECT_EQ(byteOffset(text, 99), text.size());
  EXPECT_EQ(scalars(text), (std::vector<std::uint32_t>{'a', 0xe9, 0x540d, 0x1f600, 'b'}));
  // A stray continuation byte or a cut-off sequence is one replacement character.
  EXPECT_EQ(scalars(std::string("x\x80y", 3)), (std::vector<std::uint32_t>{'x', 0xfffd, 'y'}));
  EXPECT_EQ(scalars(std::string("\xe5\x90", 2)), (std::vector<std::uint32_t>{0xfffd, 0xfffd}));
}

TEST(Strings, AsciiCase) {
  EXPECT_EQ(asciiLower("ShowMenu"), "showmenu");
  EXPECT_TRUE(equalsIgnoringAsciiCase("Widget Factory", "widget FACTORY"));
  EXPECT_FALSE(equalsIgnoringAsciiCase("Widget", "Widgets"));
}

}  // namespace
}  // namespace uiglean::lx
