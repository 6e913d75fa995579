// "ocr": the text lines of an image file, with their boxes in image pixels and their confidence.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "uiglean/ax/platform.h"
#include "uiglean/front/json.h"

namespace uiglean {

// Lines kept per image; later observations are not looked at.
inline constexpr std::size_t MAX_OCR_LINES = 300;
// Minimum text height, as a fraction of the image height, when none is given.
inline constexpr float DEFAULT_MIN_TEXT_HEIGHT = 0.008f;

struct OcrLine {
  std::string text;
  // x, y, width, height in whole image pixels, origin at the top left, y growing downwards.
  std::array<double, 4> box{0, 0, 0, 0};
  double conf = 0;
};

struct OcrPayload {
  std::int64_t w = 0;
  std::int64_t h = 0;
  std::vector<OcrLine> lines;
};

void writeJson(JsonWriter& w, const OcrLine& line);
void writeJson(JsonWriter& w, const OcrPayload& payload);

// A run that cannot do its job: the message for fail and its exit status.
struct OcrFailure {
  std::string message;
  std::int32_t status = 5;
};

// The minimum text height from the argument after the image path: that number in single
// precision when it parses as a double, else DEFAULT_MIN_TEXT_HEIGHT. Magnitudes beyond the
// single-precision range become infinities of the same sign.
float minimumTextHeightArg(const std::optional<std::string>& text);

// The settings the recognizer is asked for.
TextRecognitionRequest ocrRequest(float minimumTextHeight);

// A normalised box (fractions of the image, origin at the bottom left) as whole pixels of a
// `width` x `height` image with the origin at the top left; halves round away from zero.
std::array<double, 4> pixelBox(const Rect& normalised, double width, double height);

// The lines of the observations, in order: an observation without a candidate is skipped and
// does not count; at most MAX_OCR_LINES are taken.
std::vector<OcrLine> ocrLines(const std::vector<TextObservation>& observations, double width,
                              double height);

// The whole subcommand on a command line that starts with the word "ocr": the payload to print,
// or the failure to report.
std::variant<OcrPayload, OcrFailure> runOcr(const std::vector<std::string>& commandLine);

}  // namespace uiglean
