// Ink, outlines and lines on pages drawn here: "glyphs" are small blocks and bars, so that what
// is tested is the geometry, not a font.
#include "uiglean/platform/linux/ocr_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace uiglean {
namespace {

void fill(GreyImage& image, int x, int y, int w, int h, std::uint8_t level) {
  for (int yy = std::max(0, y); yy < std::min(image.height, y + h); ++yy) {
    for (int xx = std::max(0, x); xx < std::min(image.width, x + w); ++xx) {
      image.at(xx, yy) = level;
    }
  }
}

void frame(GreyImage& image, int x, int y, int w, int h, std::uint8_t level) {
  fill(image, x, y, w, 1, level);
  fill(image, x, y + h - 1, w, 1, level);
  fill(image, x, y, 1, h, level);
  fill(image, x + w - 1, y, 1, h, level);
}

void ring(GreyImage& image, int cx, int cy, double radius, std::uint8_t level) {
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const double d = std::hypot(x - cx, y - cy);
      if (std::abs(d - radius) <= 0.7) image.at(x, y) = level;
    }
  }
}

// A word of `letters` glyphs: each a 2-pixel frame 6 wide and 10 high (like an o or a 0), 2
// pixels apart. Returns the right end.
int word(GreyImage& image, int x, int y, int letters, std::uint8_t level, int height = 10) {
  for (int i = 0; i < letters; ++i) {
    const int left = x + i * 8;
    fill(image, left, y, 6, 2, level);
    fill(image, left, y + height - 2, 6, 2, level);
    fill(image, left, y, 2, height, level);
    fill(image, left + 4, y, 2, height, level);
  }
  return x + letters * 8 - 2;
}

int inkAt(const GreyImage& ink, int x, int y) { return ink.at(x, y); }

int inkIn(const GreyImage& ink, int x, int y, int w, int h) {
  int most = 0;
  for (int yy = y; yy < y + h; ++yy) {
    for (int xx = x; xx < x + w; ++xx) most = std::max(most, static_cast<int>(ink.at(xx, yy)));
  }
  return most;
}

TEST(OcrInk, TextIsInkOnPaperWhateverItsColours) {
  // The same word dark on light, light on dark, white on a mid-grey selection, and dim grey on
  // light: each stroke is full ink, the paper and the selection are not.
  GreyImage page(200, 160, 240);
  word(page, 20, 20, 4, 30);
  fill(page, 0, 50, 200, 40, 35);
  word(page, 20, 65, 4, 220);
  fill(page, 16, 110, 40, 18, 120);
  word(page, 20, 114, 4, 255);
  word(page, 100, 20, 4, 180);  // 60 levels below the paper

  const GreyImage ink = inkFromGrey(page);
  for (int y : {20, 65, 114}) {
    EXPECT_EQ(inkAt(ink, 20, y + 5), 255) << "stroke at row " << y;
    EXPECT_EQ(inkAt(ink, 22, y + 5), 0) << "inside the glyph at row " << y;
  }
  EXPECT_EQ(inkAt(ink, 100, 25), 255) << "dim text is scaled to full ink";
  EXPECT_EQ(inkAt(ink, 150, 70), 0) << "the dark panel";
  EXPECT_EQ(inkIn(ink, 10, 135, 100, 10), 0) << "below the selection";
  EXPECT_EQ(inkAt(ink, 17, 112), 0) << "the selection itself";
}

TEST(OcrInk, LargeGlyphsStaySolidAndAreNotTakenForOutlines) {
  // An L and an I 40 high with 8-pixel strokes: flat inside, yet text.
  GreyImage page(160, 80, 255);
  fill(page, 20, 20, 8, 40, 0);
  fill(page, 20, 52, 30, 8, 0);
  fill(page, 80, 20, 8, 40, 0);
  const GreyImage ink = inkFromGrey(page);
  EXPECT_EQ(inkAt(ink, 24, 40), 255) << "inside the L's stem";
  EXPECT_EQ(inkAt(ink, 40, 55), 255) << "inside the L's foot";
  EXPECT_EQ(inkAt(ink, 84, 40), 255) << "inside the I";
}

TEST(OcrInk, OutlinesBarsAndMarksBecomePaper) {
  GreyImage page(320, 200, 250);
  // A button: a frame with a word inside.
  frame(page, 20, 20, 100, 34, 150);
  word(page, 50, 32, 3, 20);
  // A square check box, empty, and one filled with a check mark cut out of it.
  frame(page, 150, 30, 14, 14, 120);
  fill(page, 180, 30, 14, 14, 60);
  for (int i = 0; i < 8; ++i) fill(page, 183 + i, 40 - i, 2, 2, 250);
  // A progress bar and a separator.
  fill(page, 20, 80, 200, 6, 60);
  fill(page, 20, 100, 280, 1, 140);
  // A ring as large as the check box: a letter O for all the page can tell.
  ring(page, 250, 37, 7, 20);

  const GreyImage ink = inkFromGrey(page);
  EXPECT_EQ(inkIn(ink, 18, 18, 104, 3), 0) << "top of the button";
  EXPECT_EQ(inkIn(ink, 18, 20, 3, 34), 0) << "left side of the button";
  EXPECT_EQ(inkAt(ink, 50, 36), 255) << "the word inside";
  EXPECT_EQ(inkIn(ink, 148, 28, 18, 18), 0) << "empty check box";
  EXPECT_EQ(inkIn(ink, 178, 28, 18, 18), 0) << "checked check box";
  EXPECT_EQ(inkIn(ink, 18, 78, 204, 10), 0) << "progress bar";
  EXPECT_EQ(inkIn(ink, 18, 99, 284, 3), 0) << "separator";
  EXPECT_GT(inkIn(ink, 242, 29, 17, 17), 128) << "the ring stays";
}

TEST(OcrInkLines, WordsFormLinesAndWideGapsSplitThem) {
  GreyImage page(400, 120, 255);
  // Row 1: two words a space apart, then a value far away.
  int right = word(page, 10, 10, 4, 0);
  right = word(page, right + 5, 10, 3, 0);
  const int valueLeft = right + 40;
  word(page, valueLeft, 10, 2, 0);
  // An accent over the second word and a full stop after it.
  fill(page, 50, 6, 2, 2, 0);
  fill(page, right + 2, 18, 2, 2, 0);
  // Row 2: one word, right under row 1.
  word(page, 10, 30, 5, 0);
  // Row 3: a radio button (a ring taller than the text) before its label.
  ring(page, 17, 70, 7, 0);
  word(page, 30, 66, 6, 0);

  const GreyImage ink = inkFromGrey(page);
  const InkLines found = findInkLines(ink, 1.0);
  ASSERT_EQ(found.lines.size(), 4u);
  std::vector<InkLine> lines = found.lines;
  std::sort(lines.begin(), lines.end(), [](const InkLine& a, const InkLine& b) {
    return a.top / 15 != b.top / 15 ? a.top < b.top : a.left < b.left;
  });
  EXPECT_EQ(lines[0].left, 10);
  EXPECT_EQ(lines[0].right, right + 4) << "the full stop is part of the line";
  EXPECT_EQ(lines[0].top, 6) << "so is the accent";
  EXPECT_EQ(lines[0].glyphHeight, 10);
  EXPECT_EQ(lines[1].left, valueLeft);
  EXPECT_EQ(lines[2].top, 30);
  EXPECT_EQ(lines[3].left, 30) << "the radio button is not part of its label";
  EXPECT_EQ(lines[3].top, 66);

  // Each line drawn alone holds its own strokes only, scaled and with its margin.
  std::size_t second = 0;
  for (std::size_t i = 0; i < found.lines.size(); ++i) {
    if (found.lines[i].top == 30) second = i;
  }
  int x0 = 0, y0 = 0;
  const GreyImage drawn = drawInkLine(ink, found, second, 2, 10, x0, y0);
  const InkLine& line = found.lines[second];
  EXPECT_LE(x0, line.left);
  EXPECT_LE(y0, line.top);
  EXPECT_EQ(drawn.width % 2, 0);
  // The glyph's left stroke at (10, 35) of the page is dark in the drawing.
  EXPECT_LT(drawn.at(10 + (10 - x0) * 2 + 1, 10 + (35 - y0) * 2), 64);
  // Nothing of row 1 above it (its strokes end at row 19) is drawn.
  int darkest = 255;
  for (int y = 10; y < 10 + std::max(0, 20 - y0) * 2; ++y) {
    for (int x = 0; x < drawn.width; ++x) darkest = std::min(darkest, static_cast<int>(drawn.at(x, y)));
  }
  EXPECT_EQ(darkest, 255);
}

TEST(OcrInkLines, TallLettersBeforeSmallOnesAreNoMark) {
  // "Cl" and then x-high letters a letter gap apart, as in "Close": taller than the rest and
  // about square together, like a check box, but too close to what follows to be one.
  GreyImage page(200, 40, 255);
  fill(page, 20, 10, 2, 11, 0);
  fill(page, 20, 10, 7, 2, 0);
  fill(page, 20, 19, 7, 2, 0);
  fill(page, 29, 10, 2, 11, 0);
  word(page, 34, 14, 3, 0, 7);
  const InkLines found = findInkLines(inkFromGrey(page), 1.0);
  ASSERT_EQ(found.lines.size(), 1u);
  EXPECT_EQ(found.lines[0].left, 20);
}

TEST(OcrInkLines, SmallMarksAloneAndEmptyPagesGiveNoLines) {
  GreyImage page(100, 60, 255);
  fill(page, 40, 30, 2, 2, 0);
  EXPECT_TRUE(findInkLines(inkFromGrey(page), 1.0).lines.empty());
  EXPECT_TRUE(findInkLines(inkFromGrey(GreyImage(50, 50, 0)), 1.0).lines.empty());
  EXPECT_TRUE(findInkLines(inkFromGrey(GreyImage()), 1.0).lines.empty());
}

}  // namespace
}  // namespace uiglean
