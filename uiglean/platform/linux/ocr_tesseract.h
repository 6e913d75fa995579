// The Linux text recognizer: Leptonica decodes the image, Tesseract's LSTM engine reads it.
// It implements the image and text-recognition operations of uiglean/ax/platform.h; these are
// the recognizer's own helpers, exposed for its tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace uiglean {

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

}  // namespace uiglean
