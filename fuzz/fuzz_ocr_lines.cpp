// The Tesseract recognizer's line post-processing on fuzzed words and pieces. Boxes are page
// pixels as the recognizer reports them (left <= right, top <= bottom, within a page of at most
// MAX_OCR_IMAGE_PIXELS read at up to twice its size, plus the margin). Checked: splitLine keeps
// every word that is neither blank nor a border glyph, in order, and invents nothing;
// arrangeLines returns no more pieces than it was given and keeps all of their text and area;
// confidences stay means of what they were made of.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "uiglean/platform/linux/ocr_tesseract.h"

namespace {

using uiglean::TextPiece;

constexpr int kMaxCoordinate = (1 << 28) + 1000;

int coordinate(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0: return in.ConsumeIntegralInRange(-1000, kMaxCoordinate);
    case 1: return in.ConsumeIntegralInRange(0, 4000);
    default: return in.ConsumeIntegralInRange(0, 300);
  }
}

int extent(FuzzedDataProvider& in, int from) {
  const int room = kMaxCoordinate - from;
  const int size = in.ConsumeIntegralInRange(0, 5) == 0 ? in.ConsumeIntegralInRange(0, kMaxCoordinate)
                                                       : in.ConsumeIntegralInRange(0, 60);
  return from + std::min(size, room);
}

std::string word(FuzzedDataProvider& in) {
  static const char* const glyphs[] = {"|", "(", ")", "[", "]", "l", "f", "_", "\u201c", " ", "ab",
                                       "Line", "4:", "OK", ""};
  if (in.ConsumeBool()) return in.ConsumeRandomLengthString(8);
  std::string s;
  const int n = in.ConsumeIntegralInRange(1, 3);
  for (int i = 0; i < n; ++i) s += in.PickValueInArray(glyphs);
  return s;
}

std::vector<TextPiece> pieces(FuzzedDataProvider& in, std::size_t most) {
  std::vector<TextPiece> out;
  while (in.remaining_bytes() > 0 && out.size() < most) {
    TextPiece p;
    p.left = coordinate(in);
    p.top = coordinate(in);
    p.right = extent(in, p.left);
    p.bottom = extent(in, p.top);
    p.text = word(in);
    p.confidence = in.ConsumeFloatingPointInRange<float>(0, 100);
    out.push_back(std::move(p));
  }
  return out;
}

bool blank(const std::string& s) { return s.find_first_not_of(' ') == std::string::npos; }

// One or two of the glyphs that the sides of buttons and fields are read as.
bool outline(const std::string& text) {
  static const std::string glyphs[] = {"|", "(", ")", "[", "]", "{", "}",
                                       "'", "\"", "\u2018", "\u2019", "\u201c", "\u201d", "_"};
  std::size_t at = 0, count = 0;
  while (at < text.size()) {
    const std::string* match = nullptr;
    for (const auto& g : glyphs) {
      if (text.compare(at, g.size(), g) == 0) match = &g;
    }
    if (match == nullptr) return false;
    at += match->size();
    ++count;
  }
  return count >= 1 && count <= 2;
}

std::string withoutSpaces(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c != ' ') out.push_back(c);
  }
  return out;
}

bool isSubsequence(const std::string& small, const std::string& big) {
  std::size_t i = 0;
  for (char c : big) {
    if (i < small.size() && small[i] == c) ++i;
  }
  return i == small.size();
}

void checkConfidence(const std::vector<TextPiece>& in, const TextPiece& p) {
  float lo = 100, hi = 0;
  for (const auto& w : in) {
    lo = std::min(lo, w.confidence);
    hi = std::max(hi, w.confidence);
  }
  FUZZ_CHECK(std::isfinite(p.confidence));
  if (!(p.confidence >= lo - 1e-3f * (1 + lo) && p.confidence <= hi + 1e-3f * (1 + hi))) {
    std::fprintf(stderr, "confidence %g of \"%s\" outside [%g, %g] of %zu pieces\n",
                 static_cast<double>(p.confidence), p.text.c_str(), static_cast<double>(lo),
                 static_cast<double>(hi), in.size());
    FUZZ_CHECK(false);
  }
}

void checkWithin(const std::vector<TextPiece>& in, const TextPiece& p) {
  int left = INT32_MAX, top = INT32_MAX, right = INT32_MIN, bottom = INT32_MIN;
  for (const auto& w : in) {
    left = std::min(left, w.left);
    top = std::min(top, w.top);
    right = std::max(right, w.right);
    bottom = std::max(bottom, w.bottom);
  }
  FUZZ_CHECK(p.left >= left && p.top >= top && p.right <= right && p.bottom <= bottom);
  FUZZ_CHECK(p.left <= p.right && p.top <= p.bottom);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const bool lines = in.ConsumeBool();
  const int lineHeight = in.ConsumeIntegralInRange(0, 5) == 0 ? in.ConsumeIntegralInRange(-10, kMaxCoordinate)
                                                              : in.ConsumeIntegralInRange(0, 60);
  const std::vector<TextPiece> given = pieces(in, 40);

  if (!lines) {
    const std::vector<TextPiece> out = uiglean::splitLine(given, lineHeight);
    FUZZ_CHECK(out.size() <= given.size());
    std::string all, kept, out_text;
    for (const auto& w : given) {
      all += withoutSpaces(w.text);
      if (!blank(w.text) && !outline(w.text)) kept += withoutSpaces(w.text);
    }
    for (const auto& p : out) {
      FUZZ_CHECK(!blank(p.text));
      out_text += withoutSpaces(p.text);
      checkConfidence(given, p);
      checkWithin(given, p);
    }
    FUZZ_CHECK(isSubsequence(out_text, all));
    FUZZ_CHECK(isSubsequence(kept, out_text));
    return 0;
  }

  const std::vector<TextPiece> out = uiglean::arrangeLines(given);
  FUZZ_CHECK(out.size() <= given.size());
  FUZZ_CHECK(out.empty() == given.empty());
  // Joining adds one space between the two texts and drops nothing.
  std::string before, after;
  for (const auto& p : given) before += p.text;
  before.append(given.size() - out.size(), ' ');
  for (const auto& p : out) {
    after += p.text;
    checkConfidence(given, p);
    checkWithin(given, p);
  }
  std::sort(before.begin(), before.end());
  std::sort(after.begin(), after.end());
  FUZZ_CHECK(before == after);
  // Everything the pieces covered is covered by the lines.
  for (const auto& p : given) {
    bool inside = false;
    for (const auto& l : out) {
      inside = inside || (l.left <= p.left && l.top <= p.top && l.right >= p.right && l.bottom >= p.bottom);
    }
    FUZZ_CHECK(inside);
  }
  // The language tags: English in any of its regional forms, or none, reads with "eng".
  std::vector<std::string> tags;
  bool english = true;
  for (const auto& p : given) {
    if (tags.size() == 3) break;
    tags.push_back(p.text);
    english = english && (p.text == "en" || p.text.rfind("en-", 0) == 0);
  }
  const auto language = uiglean::tesseractLanguage(tags);
  FUZZ_CHECK(language.has_value() == english);
  if (language) FUZZ_CHECK(*language == "eng");
  return 0;
}
