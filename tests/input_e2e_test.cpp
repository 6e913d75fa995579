// key, type, click, scroll and screenshot on the scripted platform: the events they post, in
// order, and what they answer when the session cannot take them.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tests/harness.h"

namespace {

using namespace testing_harness;
using nlohmann::json;

json scene(bool secureInput = false) {
  json button = {{"AXRole", "AXButton"}, {"AXTitle", "OK"},
                 {"AXPosition", {{"point", {100, 40}}}}, {"AXSize", {{"size", {80, 30}}}}};
  json hidden = {{"AXRole", "AXButton"}, {"AXTitle", "Hidden"}};
  json window = {{"id", "win"},
                 {"AXRole", "AXWindow"},
                 {"windowNumber", 42},
                 {"AXChildren", json::array({button, hidden})}};
  return {{"frontmost", 101},
          {"secureInput", secureInput},
          {"displays", {{{"id", 1}, {"bounds", {0, 0, 1440, 900}}}}},
          {"mainDisplay", 1},
          {"images",
           {{"window:42",
             {{"w", 640},
              {"h", 480},
              {"observations",
               {{{"box", {0, 0.5, 0.5, 0.25}}, {"candidates", {{{"text", "Say Hello"}, {"conf", 1}}}}}}}}},
            {"display:1", {{"w", 1440}, {"h", 900}}}}},
          {"apps",
           {{{"pid", 101},
             {"name", "Notes"},
             {"element",
              {{"id", "app"},
               {"AXRole", "AXApplication"},
               {"AXFocusedWindow", "win"},
               {"AXWindows", json::array({window})}}}}}}};
}

std::vector<json> events(const RunResult& r) { return r.calls("CGEventPost"); }

// The size in a PNG's header, after checking the signature and the header chunk's name.
std::pair<std::uint32_t, std::uint32_t> pngSize(const std::string& png) {
  EXPECT_GE(png.size(), 33U);
  if (png.size() < 33) return {0, 0};
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  EXPECT_EQ(png.substr(12, 4), "IHDR");
  auto big = [&](std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v = v << 8 | static_cast<unsigned char>(png[at + i]);
    return v;
  };
  return {big(16), big(20)};
}

TEST(KeyE2e, PostsEveryChordInOrderAfterReadingAllOfThem) {
  RunResult r = runScene(scene(), {"key", "ctrl+shift+s", "Return", "\u2318Q", "<Alt>F4"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, R"({"ok":true,"keys":["ctrl+shift+s","enter","cmd+q","alt+f4"]})");
  auto posted = events(r);
  ASSERT_EQ(posted.size(), 4U);
  EXPECT_EQ(posted[0]["character"], 's');
  EXPECT_EQ(posted[0]["modifiers"], 3);  // shift and control
  EXPECT_EQ(posted[1]["key"], "enter");
  EXPECT_EQ(posted[2]["modifiers"], 8);
  EXPECT_EQ(posted[3]["key"], "f4");
  EXPECT_EQ(posted[3]["modifiers"], 4);

  // One bad chord anywhere: nothing is posted.
  r = runScene(scene(), {"key", "ctrl+s", "ctrl+nosuch"});
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.err, "uiglean: key \"ctrl+nosuch\": unknown key \"nosuch\"\n");
  EXPECT_TRUE(events(r).empty());
  r = runScene(scene(), {"key"});
  EXPECT_EQ(r.status, 5);
  std::vector<std::string> many(102, "a");
  many[0] = "key";
  EXPECT_EQ(runScene(scene(), many).status, 5);
}

TEST(KeyE2e, SecureInputRefusesKeysAndTypingButNotThePointer) {
  RunResult r = runScene(scene(true), {"key", "ctrl+s", "Return"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, R"({"ok":false,"error":"secure input is on","keys":["ctrl+s","enter"]})");
  r = runScene(scene(true), {"type", "secret"});
  EXPECT_EQ(r.out, R"({"ok":false,"error":"secure input is on"})");
  r = runScene(scene(true), {"click", "10,20"});
  EXPECT_EQ(r.out, R"({"ok":true,"at":[10,20]})");
}

TEST(TypeE2e, TextGoesAsOneEventAndBadTextNotAtAll) {
  RunResult r = runScene(scene(), {"type", "Grüße\nzwei"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, R"({"ok":true})");
  auto posted = events(r);
  ASSERT_EQ(posted.size(), 1U);
  EXPECT_EQ(posted[0]["text"], "Grüße\nzwei");
  for (const std::string& bad : {std::string(""), std::string("a\x07"), std::string("\xff")}) {
    r = runScene(scene(), {"type", bad});
    EXPECT_EQ(r.status, 5) << bad;
    EXPECT_TRUE(events(r).empty());
  }
}

TEST(ClickE2e, AtARefsCentreOrAPointWithEachButton) {
  RunResult r = runScene(scene(), {"click", "w0.0"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, R"({"ok":true,"at":[140,55]})");
  auto posted = events(r);
  ASSERT_EQ(posted.size(), 1U);
  EXPECT_EQ(posted[0]["button"], "left");
  EXPECT_EQ(posted[0]["clicks"], 1);
  r = runScene(scene(), {"click", "12.5, 7", "double"});
  EXPECT_EQ(r.out, R"({"ok":true,"at":[12.5,7]})");
  EXPECT_EQ(events(r).at(0)["clicks"], 2);
  r = runScene(scene(), {"click", "w0.0", "right"});
  EXPECT_EQ(events(r).at(0)["button"], "right");

  // An element without a frame, a ref that no longer resolves: ok false, nothing posted.
  r = runScene(scene(), {"click", "w0.1"});
  EXPECT_EQ(r.out, R"({"ok":false,"error":"ref \"w0.1\" has no frame on screen; give X,Y instead"})");
  EXPECT_TRUE(events(r).empty());
  r = runScene(scene(), {"click", "w0.7"});
  EXPECT_EQ(r.outJson()["ok"], false);
  EXPECT_TRUE(events(r).empty());
  // Words that are neither: usage failures before any application is asked.
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"click"}, {"click", "somewhere"}, {"click", "1,2", "triple"},
        {"click", "nan,1"}}) {
    r = runScene(scene(), bad);
    EXPECT_EQ(r.status, 5) << bad.back();
    EXPECT_EQ(r.count("AXUIElementCreateApplication"), 0U);
  }
}

TEST(ScrollE2e, LinesAndColumnsWithTheirSigns) {
  RunResult r = runScene(scene(), {"scroll", "w0.0", "-3", "2"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto posted = events(r);
  ASSERT_EQ(posted.size(), 1U);
  EXPECT_EQ(posted[0]["lines"], -3);
  EXPECT_EQ(posted[0]["columns"], 2);
  EXPECT_EQ(posted[0]["x"], 140);
  EXPECT_EQ(runScene(scene(), {"scroll", "5,5", "0"}).status, 5);
  EXPECT_EQ(runScene(scene(), {"scroll", "5,5", "201"}).status, 5);
  EXPECT_EQ(runScene(scene(), {"scroll", "5,5"}).status, 5);
}

TEST(ScreenshotE2e, FrontWindowToAFileWithItsText) {
  std::string path = tempDir() + "/shot.png";
  RunResult r = runScene(scene(), {"screenshot", path, "ocr"});
  ASSERT_EQ(r.status, 0) << r.err;
  json out = r.outJson();
  EXPECT_EQ(out["w"], 640);
  EXPECT_EQ(out["h"], 480);
  EXPECT_EQ(out["window"], 42);
  EXPECT_EQ(out["path"], path);
  ASSERT_EQ(out["lines"].size(), 1U);
  EXPECT_EQ(out["lines"][0]["text"], "Say Hello");
  EXPECT_EQ(out["lines"][0]["box"], json::array({0, 120, 320, 120}));
  auto [w, h] = pngSize(readFile(path));
  EXPECT_EQ(w, 640U);
  EXPECT_EQ(h, 480U);
}

TEST(ScreenshotE2e, DisplayIntoTheRecordAndWhatCannotBeCaptured) {
  RunResult r = runScene(scene(), {"screenshot", "-", "display"});
  ASSERT_EQ(r.status, 0) << r.err;
  json out = r.outJson();
  EXPECT_EQ(out["display"], 1);
  EXPECT_FALSE(out.contains("path"));
  EXPECT_FALSE(out.contains("lines"));
  // The record's base64 decodes to a PNG of the display's size.
  std::string b64 = out["png"].get<std::string>(), png;
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::uint32_t acc = 0;
  int bits = 0;
  for (char c : b64) {
    if (c == '=') break;
    acc = acc << 6 | static_cast<std::uint32_t>(alphabet.find(c));
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      png += static_cast<char>((acc >> bits) & 0xff);
    }
  }
  auto [w, h] = pngSize(png);
  EXPECT_EQ(w, 1440U);
  EXPECT_EQ(h, 900U);

  r = runScene(scene(), {"screenshot", "-", "display", "9"});
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.err, "uiglean: no display 9\n");
  json noPicture = scene();
  noPicture["images"].erase("window:42");
  r = runScene(noPicture, {"screenshot", tempDir() + "/none.png"});
  EXPECT_EQ(r.out, R"({"ok":false,"error":"window:42 cannot be captured"})");
  r = runScene(scene(), {"screenshot", "/nonexistent-dir/shot.png"});
  EXPECT_EQ(r.status, 5);
  EXPECT_NE(r.err.find("cannot write /nonexistent-dir/shot.png"), std::string::npos) << r.err;
  EXPECT_EQ(runScene(scene(), {"screenshot"}).status, 5);
  // What looks like an option is refused, and no file of that name is made.
  for (const char* option : {"--help", "-o"}) {
    r = runScene(scene(), {"screenshot", option});
    EXPECT_EQ(r.status, 5) << option;
    EXPECT_EQ(r.err, std::string("uiglean: screenshot: \"") + option +
                         "\" is not a file to write (a file named so is ./" + option + ")\n");
    EXPECT_NE(::access(option, F_OK), 0) << option;
  }
  std::string dashed = tempDir() + "/-o";
  r = runScene(scene(), {"screenshot", dashed});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(::access(dashed.c_str(), F_OK), 0);
}

}  // namespace
