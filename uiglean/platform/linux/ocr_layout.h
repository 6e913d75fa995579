// Finding the text of an interface screenshot before it is recognized: the page is turned into
// ink on paper whatever its colours (dark and light themes, selected items, coloured buttons),
// the outlines of buttons, fields and check boxes are taken off, and the ink is grouped into
// text lines, each of which the recognizer then reads on its own.
//
// Plain functions over grey pixel buffers, without the recognizer, so that they can be tested
// on drawn pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace uiglean {

// An 8-bit image, one byte a pixel, rows one after another.
struct GreyImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;

  GreyImage() = default;
  GreyImage(int w, int h, std::uint8_t fill)
      : width(w), height(h), pixels(static_cast<std::size_t>(w) * h, fill) {}
  std::uint8_t& at(int x, int y) { return pixels[static_cast<std::size_t>(y) * width + x]; }
  std::uint8_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// Pixels whose 5x5 neighbourhood spans at most this many grey levels are background: the
// surface text is drawn on (a window, a panel, a selected row, a button).
inline constexpr int OCR_FLAT_RANGE = 20;

// Text glyphs taller than this (in page pixels) are not looked for: larger ink is a picture, a
// panel or a frame.
inline constexpr int OCR_MAX_TEXT_HEIGHT = 96;

// The page as ink (0 paper .. 255 ink), the same size as `grey`:
//  - every pixel is compared with the background around it (the nearest flat pixel), so that
//    dark text on light, light text on dark and white text on a coloured selection all become
//    ink on paper;
//  - each connected stroke is scaled to full contrast, so that dim and disabled text reads as
//    well as the rest;
//  - solid bars and boxes become paper, and what lies on a solid box (white text on a selected
//    item that hugs it) is measured against the box's own colour;
//  - long thin rules, the outlines of buttons and fields, and square check boxes become paper.
GreyImage inkFromGrey(const GreyImage& grey);

// One line of text found on an ink page: its box (right and bottom exclusive) and the height of
// its tallest glyph.
struct InkLine {
  int left = 0, top = 0, right = 0, bottom = 0;
  int glyphHeight = 0;
};

// The text lines of an ink page, with what is needed to draw each one alone.
struct InkLines {
  std::vector<InkLine> lines;
  std::vector<int> labels;  // per pixel: its connected stroke (0: none)
  std::vector<int> lineOf;  // per stroke: the line it belongs to (-1: none)
};

// Groups the strokes of an ink page into text lines: strokes that share a row and are less than
// `gap` glyph heights apart are one line; dots, accents and punctuation join the line beside
// them; a row broken by a wider gap (a label and a far value, menu titles, a button row) is
// several lines.
InkLines findInkLines(const GreyImage& ink, double gap);

// The paper left around a line when it is drawn alone (page pixels, each side).
int inkLinePadding(const InkLine& line);

// Line `index` alone, as dark text on white: the ink of its own strokes (and a pixel around
// them), the rest of the page left out, scaled up `scale` times and with `margin` white pixels
// around. `originX` and `originY` receive the page position of the drawn area's top left corner
// (before scaling, without the margin).
GreyImage drawInkLine(const GreyImage& ink, const InkLines& found, std::size_t index, int scale,
                      int margin, int& originX, int& originY);

}  // namespace uiglean
