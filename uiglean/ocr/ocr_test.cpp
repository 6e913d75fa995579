#include "uiglean/ocr/ocr.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "uiglean/front/output.h"

namespace uiglean {
namespace {

using Box = std::array<double, 4>;

TEST(OcrBox, RoundsHalvesAwayFromZeroAndMeasuresYFromTheTop) {
  // 64 and 0.5-steps are exact in binary, so the halves really are halves.
  EXPECT_EQ(pixelBox({10.5 / 64, 0, 20.5 / 64, 1}, 64, 64), (Box{11, 0, 21, 64}));
  EXPECT_EQ(pixelBox({0.1049, 0, 0.2049, 0.5}, 100, 100), (Box{10, 50, 20, 50}));
  // Edges just outside the image round the same way on the negative side.
  EXPECT_EQ(pixelBox({-2.5 / 64, 0, 1, 1}, 64, 64), (Box{-3, 0, 64, 64}));
  // A line touching the top-left corner: its top edge is maxY = 1, so y = 0.
  EXPECT_EQ(pixelBox({0, 0.9, 0.25, 0.1}, 200, 100), (Box{0, 0, 50, 10}));
  // A line at the bottom of a 1920x1080 image.
  EXPECT_EQ(pixelBox({0.5, 0, 0.25, 0.05}, 1920, 1080), (Box{960, 1026, 480, 54}));
}

TEST(OcrMinimumTextHeight, ParsesInSinglePrecisionAndFallsBack) {
  EXPECT_EQ(minimumTextHeightArg(std::nullopt), 0.008f);
  EXPECT_EQ(minimumTextHeightArg("abc"), 0.008f);
  EXPECT_EQ(minimumTextHeightArg(""), 0.008f);
  EXPECT_EQ(minimumTextHeightArg(" 0.05"), 0.008f);
  EXPECT_EQ(minimumTextHeightArg("0.05"), 0.05f);
  EXPECT_EQ(minimumTextHeightArg("-1"), -1.0f);
  EXPECT_EQ(minimumTextHeightArg("1e300"), std::numeric_limits<float>::infinity());
  EXPECT_EQ(minimumTextHeightArg("-1e300"), -std::numeric_limits<float>::infinity());
  EXPECT_TRUE(std::isnan(minimumTextHeightArg("nan")));

  TextRecognitionRequest request = ocrRequest(0.05f);
  EXPECT_EQ(request.recognitionLevel, 0);
  EXPECT_FALSE(request.usesLanguageCorrection);
  EXPECT_EQ(request.minimumTextHeight, 0.05f);
  EXPECT_EQ(request.recognitionLanguages, std::vector<std::string>{"en-US"});
}

TextObservation observation(const std::string& text, float conf) {
  return TextObservation{{0, 0, 0.5, 0.5}, {{text, conf}, {"runner-up", 0.1f}}};
}

TEST(OcrLines, SkipsObservationsWithoutCandidateAndStopsAt300) {
  std::vector<TextObservation> observations;
  observations.push_back(TextObservation{{0, 0, 1, 1}, {}});
  for (int i = 0; i < 301; ++i) observations.push_back(observation(std::to_string(i), 0.5f));
  // Empty observations between counted ones do not use up the limit.
  observations.insert(observations.begin() + 100, TextObservation{{0, 0, 1, 1}, {}});

  std::vector<OcrLine> lines = ocrLines(observations, 10, 10);
  ASSERT_EQ(lines.size(), MAX_OCR_LINES);
  EXPECT_EQ(lines.front().text, "0");
  EXPECT_EQ(lines.back().text, "299");
  EXPECT_EQ(lines[5].box, (Box{0, 5, 5, 5}));
}

TEST(OcrLines, TakesTheTopCandidateAndWidensItsConfidence) {
  std::vector<OcrLine> lines = ocrLines({observation("  Save\tAll ", 0.3f)}, 10, 10);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text, "  Save\tAll ");
  EXPECT_EQ(lines[0].conf, static_cast<double>(0.3f));
  EXPECT_NE(lines[0].conf, 0.3);
}

TEST(OcrJson, WritesFieldsInOrder) {
  OcrPayload payload{640, 480, {OcrLine{"a/b \"c\"", {1, 2, 3, 4}, 0.5}}};
  EXPECT_EQ(encode(payload),
            R"({"w":640,"h":480,"lines":[{"text":"a\/b \"c\"","box":[1,2,3,4],"conf":0.5}]})");
  EXPECT_EQ(encode(OcrPayload{1, 2, {}}), R"({"w":1,"h":2,"lines":[]})");
  OcrPayload broken{1, 1, {OcrLine{"x", {std::nan(""), 0, 0, 0}, 1}}};
  EXPECT_THROW(encode(broken), EncodeError);
}

TEST(OcrRun, NeedsAnImagePath) {
  auto outcome = runOcr({"ocr"});
  auto* failure = std::get_if<OcrFailure>(&outcome);
  ASSERT_NE(failure, nullptr);
  EXPECT_EQ(failure->message, "ocr needs an image path");
  EXPECT_EQ(failure->status, 5);
}

}  // namespace
}  // namespace uiglean
