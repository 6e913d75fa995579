// "screenshot": a PNG of the frontmost application's front window or of a display.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "uiglean/input/keys.h"

namespace uiglean {

// Standard base64 with padding.
std::string base64(const std::string& bytes);

// The command line after "screenshot FILE": "window" (the default), "display" with an optional
// display id, and "ocr" to recognise the picture's text lines too, in any order.
struct ScreenshotRequest {
  bool display = false;
  std::optional<std::uint32_t> displayId;
  bool ocr = false;
};
std::variant<ScreenshotRequest, ParseError> parseScreenshotWords(
    const std::vector<std::string>& words);

}  // namespace uiglean
