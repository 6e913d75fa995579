#include "uiglean/ocr/ocr.h"

#include <cmath>
#include <limits>

#include "uiglean/front/text.h"

namespace uiglean {

void writeJson(JsonWriter& w, const OcrLine& line) {
  w.beginObject();
  field(w, "text", line.text);
  w.key("box");
  w.beginArray();
  for (double v : line.box) w.number(v);
  w.endArray();
  field(w, "conf", line.conf);
  w.endObject();
}

void writeJson(JsonWriter& w, const OcrPayload& payload) {
  w.beginObject();
  field(w, "w", payload.w);
  field(w, "h", payload.h);
  w.key("lines");
  w.beginArray();
  for (const auto& line : payload.lines) writeJson(w, line);
  w.endArray();
  w.endObject();
}

float minimumTextHeightArg(const std::optional<std::string>& text) {
  if (!text) return DEFAULT_MIN_TEXT_HEIGHT;
  std::optional<double> value = parseDouble(*text);
  if (!value) return DEFAULT_MIN_TEXT_HEIGHT;
  // Narrowing a finite double outside the float range is undefined; spell out the infinity.
  constexpr double limit = std::numeric_limits<float>::max();
  if (std::isfinite(*value) && std::fabs(*value) > limit) {
    return *value > 0 ? std::numeric_limits<float>::infinity()
                      : -std::numeric_limits<float>::infinity();
  }
  return static_cast<float>(*value);
}

TextRecognitionRequest ocrRequest(float minimumTextHeight) {
  TextRecognitionRequest request;
  request.recognitionLevel = 0;
  request.usesLanguageCorrection = false;
  request.minimumTextHeight = minimumTextHeight;
  request.recognitionLanguages = {"en-US"};
  return request;
}

std::array<double, 4> pixelBox(const Rect& normalised, double width, double height) {
  const double maxY = normalised.y + normalised.height;
  return {std::round(normalised.x * width), std::round((1 - maxY) * height),
          std::round(normalised.width * width), std::round(normalised.height * height)};
}

std::vector<OcrLine> ocrLines(const std::vector<TextObservation>& observations, double width,
                              double height) {
  std::vector<OcrLine> lines;
  for (const auto& observation : observations) {
    if (observation.candidates.empty()) continue;
    const RecognizedText& top = observation.candidates.front();
    lines.push_back(OcrLine{top.text, pixelBox(observation.boundingBox, width, height),
                            static_cast<double>(top.confidence)});
    if (lines.size() == MAX_OCR_LINES) break;
  }
  return lines;
}

std::variant<OcrPayload, OcrFailure> runOcr(const std::vector<std::string>& commandLine) {
  if (commandLine.size() < 2) return OcrFailure{"ocr needs an image path", 5};
  const std::string& path = commandLine[1];
  const float minimumTextHeight = minimumTextHeightArg(
      commandLine.size() > 2 ? std::optional<std::string>(commandLine[2]) : std::nullopt);

  Image image = loadImage(path);
  Bitmap bitmap = image ? imageBitmap(image) : Bitmap{};
  if (!bitmap) return OcrFailure{"could not read image at " + path, 5};

  TextRecognitionResult result = performTextRecognition(bitmap, ocrRequest(minimumTextHeight));
  if (result.error) return OcrFailure{"vision failed: " + *result.error, 4};

  OcrPayload payload;
  payload.w = bitmapWidth(bitmap);
  payload.h = bitmapHeight(bitmap);
  payload.lines =
      ocrLines(result.observations, static_cast<double>(payload.w), static_cast<double>(payload.h));
  return payload;
}

}  // namespace uiglean
