// "ocr" end to end on scripted scenes: what is printed, how it fails, and what the recognizer is
// asked for.
#include <gtest/gtest.h>

#include "tests/harness.h"

namespace {

using namespace testing_harness;

json observation(const json& box, const std::string& text, double conf) {
  return {{"box", box},
          {"candidates", {{{"text", text}, {"conf", conf}}, {{"text", "x"}, {"conf", 0.1}}}}};
}

json sceneWith(const json& images) { return {{"images", images}}; }

TEST(OcrE2e, PrintsLinesWithPixelBoxesInRecognizerOrder) {
  // 1024 x 512 and binary fractions, so that 10.5 really is a half.
  json scene = sceneWith(
      {{"/shots/window one.png",
        {{"w", 1024},
         {"h", 512},
         {"observations",
          {observation({0.5, 0.25, 0.25, 0.125}, "Body text", 0.5),
           {{"box", {0, 0, 1, 1}}, {"candidates", json::array()}},
           observation({0, 0.875, 0.25, 0.125}, "Top left", 1.0),
           observation({10.5 / 1024, 0, 20.5 / 1024, 10.5 / 512}, "Halves", 0.25),
           observation({10.49 / 1024, 0, 20.49 / 1024, 10.49 / 512}, "Just below", 0.3)}}}}});
  RunResult r = runScene(scene, {"ocr", "/shots/window one.png"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  // Rows: the body line (y from the top: (1 - 0.375) * 512), the top-left line at 0,0, halves
  // away from zero (y = 512 - 10.5 = 501.5 -> 502), and values just below a half rounded down.
  // The observation without a candidate is skipped; confidences are single precision widened.
  EXPECT_EQ(r.out, R"({"w":1024,"h":512,"lines":[)"
                   R"({"text":"Body text","box":[512,320,256,64],"conf":0.5},)"
                   R"({"text":"Top left","box":[0,0,256,64],"conf":1},)"
                   R"({"text":"Halves","box":[11,502,21,11],"conf":0.25},)"
                   R"({"text":"Just below","box":[10,502,20,10],"conf":0.30000001192092896}]})");

  // The recognizer is asked for the accurate level, no language correction, English only and
  // the default minimum text height in single precision, after loading the path unchanged.
  ASSERT_EQ(r.count("VNRecognizeTextRequest"), 1u);
  json request = r.calls("VNRecognizeTextRequest")[0];
  EXPECT_EQ(request["level"], 0);
  EXPECT_EQ(request["usesLanguageCorrection"], false);
  EXPECT_EQ(request["languages"], json::array({"en-US"}));
  EXPECT_EQ(request["minimumTextHeight"].get<double>(), static_cast<double>(0.008f));
  EXPECT_LT(r.indexOf("NSImage", {{"path", "/shots/window one.png"}}),
            r.indexOf("VNRecognizeTextRequest"));
}

TEST(OcrE2e, MinimumTextHeightArgument) {
  json scene = sceneWith({{"a.png", {{"w", 10}, {"h", 10}}}});
  auto asked = [&](std::vector<std::string> args) {
    RunResult r = runScene(scene, args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, R"({"w":10,"h":10,"lines":[]})");
    auto calls = r.calls("VNRecognizeTextRequest");
    return calls.empty() ? -1.0 : calls[0]["minimumTextHeight"].get<double>();
  };
  EXPECT_EQ(asked({"ocr", "a.png", "0.05"}), static_cast<double>(0.05f));
  EXPECT_EQ(asked({"ocr", "a.png", "abc"}), static_cast<double>(0.008f));
  EXPECT_EQ(asked({"ocr", "a.png", ""}), static_cast<double>(0.008f));
  // Further arguments are ignored.
  EXPECT_EQ(asked({"ocr", "a.png", "0.25", "0.5", "junk"}), 0.25);
}

TEST(OcrE2e, KeepsTheFirst300LinesThatHaveACandidate) {
  json observations = json::array();
  observations.push_back({{"box", {0, 0, 1, 1}}, {"candidates", json::array()}});
  for (int i = 0; i < 301; ++i) {
    observations.push_back(observation({0, 0, 0.5, 0.5}, numbered("line ", i), 0.9));
    if (i == 150) observations.push_back({{"box", {0, 0, 1, 1}}, {"candidates", json::array()}});
  }
  RunResult r =
      runScene(sceneWith({{"many.png", {{"w", 100}, {"h", 100}, {"observations", observations}}}}),
               {"ocr", "many.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  json out = r.outJson();
  ASSERT_EQ(out["lines"].size(), 300u);
  EXPECT_EQ(out["lines"][0]["text"], "line 0");
  EXPECT_EQ(out["lines"][299]["text"], "line 299");
  EXPECT_EQ(out["lines"][299]["box"], json::array({0, 50, 50, 50}));
}

TEST(OcrE2e, TextIsPrintedUnchangedAndEscaped) {
  json scene = sceneWith(
      {{"t.png",
        {{"w", 200},
         {"h", 100},
         {"observations",
          json::array({observation({0, 0, 1, 1}, "  a/b \"q\" \\ caf\u00e9 \u2014 \t", 0.75)})}}}});
  RunResult r = runScene(scene, {"ocr", "t.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(
      r.out,
      "{\"w\":200,\"h\":100,\"lines\":[{\"text\":\"  a\\/b \\\"q\\\" \\\\ caf\u00e9 \u2014 \\t\","
      "\"box\":[0,0,200,100],\"conf\":0.75}]}");
}

TEST(OcrE2e, Failures) {
  json scene =
      sceneWith({{"nobitmap.png", {{"w", 5}, {"h", 5}, {"noBitmap", true}}},
                 {"broken.png", {{"w", 5}, {"h", 5}, {"error", "The request failed (code 9)."}}},
                 {" spaced.png ", {{"w", 3}, {"h", 4}}}});
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;
    bool recognised;
  };
  const std::vector<Case> cases{
      {{"ocr"}, 5, "uiglean: ocr needs an image path\n", false},
      {{"ocr", "/no/such.png"}, 5, "uiglean: could not read image at /no/such.png\n", false},
      {{"ocr", ""}, 5, "uiglean: could not read image at \n", false},
      // The path is used as typed: not trimmed.
      {{"ocr", "spaced.png"}, 5, "uiglean: could not read image at spaced.png\n", false},
      {{"ocr", "nobitmap.png"}, 5, "uiglean: could not read image at nobitmap.png\n", false},
      {{"ocr", "broken.png"}, 4, "uiglean: vision failed: The request failed (code 9).\n", true},
  };
  for (const auto& c : cases) {
    RunResult r = runScene(scene, c.args);
    std::string what = c.args.size() > 1 ? c.args[1] : "(no path)";
    EXPECT_EQ(r.status, c.status) << what;
    EXPECT_EQ(r.err, c.err) << what;
    EXPECT_EQ(r.out, "") << what;
    EXPECT_EQ(r.count("VNRecognizeTextRequest"), c.recognised ? 1u : 0u) << what;
  }
  RunResult spaced = runScene(scene, {"ocr", " spaced.png "});
  EXPECT_EQ(spaced.status, 0) << spaced.err;
  EXPECT_EQ(spaced.out, R"({"w":3,"h":4,"lines":[]})");

  // A box that cannot be written as a number ends the run without partial output.
  json huge =
      sceneWith({{"huge.png",
                  {{"w", 1000000},
                   {"h", 10},
                   {"observations", json::array({observation({1e308, 0, 1, 1}, "x", 1)})}}}});
  RunResult r = runScene(huge, {"ocr", "huge.png"});
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.err, "uiglean: encode failed\n");
  EXPECT_EQ(r.out, "");
}

TEST(OcrE2e, NeedsNoFrontmostAppButNeedsTrust) {
  json scene = sceneWith({{"a.png", {{"w", 1}, {"h", 1}}}});
  RunResult r = runScene(scene, {"ocr", "a.png"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.count("frontmostApplication"), 0u);

  scene["trusted"] = false;
  r = runScene(scene, {"ocr", "a.png"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "uiglean: not trusted for accessibility\n");
  EXPECT_EQ(r.count("NSImage"), 0u);
}

}  // namespace
