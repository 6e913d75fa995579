// The Linux text recognizer: Leptonica decodes the image, Tesseract's LSTM engine reads it.
// It implements the image and text-recognition operations of uiglean/ax/platform.h; these are
// the recognizer's own helpers, exposed for its tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct Pix;

namespace uiglean {

struct Image;

// An image over a picture already in memory (a screen capture); the image owns `pix` from then
// on. A null handle for a null or empty picture.
Image adoptPicture(Pix* pix);

// Largest image (in pixels) that is decoded; bigger ones are reported as unreadable rather than
// tying up gigabytes of memory.
inline constexpr std::int64_t MAX_OCR_IMAGE_PIXELS = 16384LL * 16384LL;

// The folder that holds the Tesseract models: TESSDATA_PREFIX when it is set and not empty,
// otherwise the first of Debian's folders that has eng.traineddata (the first of them when none
// has it, so that the failure names a real place).
std::string tessdataDir();

// The Tesseract language for the requested languages ("en-US" and the other English tags give
// "eng"; no language at all means English too), or nothing when one is not supported.
std::optional<std::string> tesseractLanguage(const std::vector<std::string>& languages);

// A piece of recognized text: its box in page pixels (right and bottom exclusive), its text and
// the recognizer's confidence (0..100).
struct TextPiece {
  int left = 0, top = 0, right = 0, bottom = 0;
  std::string text;
  float confidence = 0;
};

// Words further apart than this many line heights are not one line: interface text puts a label
// and its value, menu titles, or buttons side by side, each a line of its own, while the words of
// a line are a fraction of its height apart.
inline constexpr double OCR_LINE_GAP = 1.0;

// Drops the check boxes and radio buttons that the recognizer read as a word of their own (©, @,
// C), ...) before their labels: one or two glyphs, not all letters or digits, about square,
// starting a piece of the line,
// taller by a fifth or more than the label's letters and a quarter of their height apart from
// it. `glyphs` holds each word's glyphs. (A mark glued to its label's first letter is left: the
// recognizer gives every glyph of such a word the word's height, so the mark does not stand out.)
void dropIndicators(std::vector<TextPiece>& words,
                    const std::vector<std::vector<TextPiece>>& glyphs);

// At most this many of the lines found on a page are read, from the top: each takes one call
// of the recognizer, and a page of thousands of specks (noise, a dotted pattern) would otherwise
// take minutes. Four times as many lines as uiglean reports.
inline constexpr std::size_t OCR_MAX_READ_LINES = 1200;

// Below this confidence (0..100), a line of at most three characters is taken for an icon, a
// tick mark or a widget's arrow read as letters ("Y", "eee", "w") and not reported; short text
// that is text ("OK", "50", "1") is read far more surely.
inline constexpr float OCR_NOISE_CONFIDENCE = 40;

// Whether a recognized line is noise by the rule above.
bool likelyNoise(const TextPiece& line);

// Reads an l among digits as the digit one ("l0" 10, "2.l" 2.1, a lone "l" or "l." 1): read
// without a dictionary, a 1 of many interface fonts comes back as an l, while a word of an l
// and digits, or an l alone, is no word.
void readNumbers(std::vector<TextPiece>& words);

// The words of one recognized line as the pieces it is made of: words that are outlines (a bar
// or bracket half as high again as the line's text, or set well apart from it: the side of a
// button or a field) are dropped, and the words are cut into pieces wherever two are more than
// `gap` times the height of the tallest remaining word apart (`lineHeight` when none remains).
// A piece's confidence is its words' mean.
std::vector<TextPiece> splitLine(std::vector<TextPiece> words, int lineHeight,
                                 double gap = OCR_LINE_GAP);

// The recognizer's pieces as lines in reading order: pieces on one baseline that are less than
// OCR_LINE_GAP line heights apart are joined (a line found in two pieces, "Line 4:" and its
// text), then the lines go in rows from top to bottom, each row from left to right.
std::vector<TextPiece> arrangeLines(std::vector<TextPiece> pieces);

}  // namespace uiglean
