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

TEST(Strings, ObjectMarksAndPadding) {
  EXPECT_EQ(withoutObjectMarks("See \xEF\xBF\xBC for more\xEF\xBF\xBC."), "See  for more.");
  EXPECT_EQ(withoutObjectMarks("\xEF\xBF\xBC"), "");
  // A character that merely shares a lead byte stays.
  EXPECT_EQ(withoutObjectMarks("\xEF\xBF\xBD"), "\xEF\xBF\xBD");
  EXPECT_EQ(trimBlanks("About      "), "About");
  EXPECT_EQ(trimBlanks(" \t\xC2\xA0Save As\xE2\x80\xAF\n"), "Save As");
  EXPECT_EQ(trimBlanks("   "), "");
  EXPECT_EQ(trimBlanks(""), "");
  // Blanks inside stay, and a multi-byte character ending in the byte of a blank is not one.
  EXPECT_EQ(trimBlanks("a  b"), "a  b");
  EXPECT_EQ(trimBlanks("\xE5\x90\x8D"), "\xE5\x90\x8D");
}

TEST(Strings, AsciiCase) {
  EXPECT_EQ(asciiLower("ShowMenu"), "showmenu");
  EXPECT_TRUE(equalsIgnoringAsciiCase("Widget Factory", "widget FACTORY"));
  EXPECT_FALSE(equalsIgnoringAsciiCase("Widget", "Widgets"));
}

}  // namespace
}  // namespace uiglean::lx
