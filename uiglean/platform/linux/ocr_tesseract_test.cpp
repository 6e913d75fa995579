// The Tesseract recognizer on real images, rendered with ImageMagick's convert at test time, and
// the "ocr" logic running over it.
#include "uiglean/platform/linux/ocr_tesseract.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <variant>

#include "uiglean/ax/platform.h"
#include "uiglean/front/output.h"
#include "uiglean/ocr/ocr.h"

extern char** environ;

namespace uiglean {
namespace {

namespace fs = std::filesystem;

struct Ran {
  int status = -1;
  std::string out, err;
};

std::string slurp(const char* name) {
  std::ifstream in(name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs a program (found on PATH when the name has no slash) and captures what it wrote.
Ran runCaptured(const std::vector<std::string>& command) {
  Ran ran;
  char outName[] = "/tmp/uiglean-ocr-out-XXXXXX";
  char errName[] = "/tmp/uiglean-ocr-err-XXXXXX";
  int outFd = ::mkstemp(outName);
  int errFd = ::mkstemp(errName);
  if (outFd < 0 || errFd < 0) return ran;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outFd, 1);
  posix_spawn_file_actions_adddup2(&actions, errFd, 2);
  std::vector<std::string> strings = command;
  std::vector<char*> argv;
  for (auto& s : strings) argv.push_back(s.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(outFd);
  ::close(errFd);
  int status = 0;
  if (rc == 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
    ran.status = WEXITSTATUS(status);
  }
  ran.out = slurp(outName);
  ran.err = slurp(errName);
  ::unlink(outName);
  ::unlink(errName);
  return ran;
}

// Runs a helper program; its standard output, or nothing when it fails.
std::optional<std::string> run(const std::vector<std::string>& command) {
  Ran ran = runCaptured(command);
  if (ran.status != 0) return std::nullopt;
  return ran.out;
}

struct TextItem {
  int pointSize;
  int x, baseline;
  std::string text;
};

struct Canvas {
  int width = 0, height = 0;
  std::string background = "white", ink = "black";
};

std::vector<std::string> renderCommand(const Canvas& canvas, const std::vector<TextItem>& items) {
  std::vector<std::string> command{
      "convert",
      "-size",
      std::to_string(canvas.width) + "x" + std::to_string(canvas.height),
      "xc:" + canvas.background,
      "-font",
      "DejaVu-Sans",
      "-fill",
      canvas.ink};
  for (const auto& item : items) {
    std::string offset = "+";
    offset += std::to_string(item.x);
    offset += "+";
    offset += std::to_string(item.baseline);
    command.insert(command.end(),
                   {"-pointsize", std::to_string(item.pointSize), "-annotate", offset, item.text});
  }
  return command;
}

class OcrTesseract : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/uiglean-ocr-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  static std::string path(const std::string& name) { return dir_ + "/" + name; }

  // Renders the items onto the canvas into `name` (its suffix picks the format).
  static std::string render(const std::string& name, const Canvas& canvas,
                            const std::vector<TextItem>& items,
                            const std::vector<std::string>& extra = {}) {
    std::vector<std::string> command = renderCommand(canvas, items);
    command.insert(command.end(), extra.begin(), extra.end());
    command.push_back(path(name));
    EXPECT_TRUE(run(command)) << "convert could not render " << name;
    return path(name);
  }

  // The ink box [x, y, width, height] of one item drawn alone on the canvas.
  static std::array<double, 4> inkBox(const Canvas& canvas, const TextItem& item) {
    std::vector<std::string> command = renderCommand(canvas, {item});
    command.insert(command.end(), {"-format", "%@", "info:"});
    std::optional<std::string> geometry = run(command);
    EXPECT_TRUE(geometry);
    double w = 0, h = 0, x = 0, y = 0;
    EXPECT_EQ(std::sscanf(geometry.value_or("").c_str(), "%lfx%lf+%lf+%lf", &w, &h, &x, &y), 4);
    return {x, y, w, h};
  }

  static OcrPayload ocrOk(const std::vector<std::string>& commandLine) {
    auto outcome = runOcr(commandLine);
    if (auto* failure = std::get_if<OcrFailure>(&outcome)) {
      ADD_FAILURE() << "ocr failed: " << failure->message;
      return {};
    }
    return std::get<OcrPayload>(outcome);
  }

  static OcrFailure ocrFails(const std::vector<std::string>& commandLine) {
    auto outcome = runOcr(commandLine);
    if (auto* failure = std::get_if<OcrFailure>(&outcome)) return *failure;
    ADD_FAILURE() << "ocr succeeded: " << encode(std::get<OcrPayload>(outcome));
    return {};
  }

  static void expectLines(const OcrPayload& payload, const Canvas& canvas,
                          const std::vector<TextItem>& items) {
    ASSERT_EQ(payload.lines.size(), items.size()) << encode(payload);
    for (std::size_t i = 0; i < items.size(); ++i) {
      const OcrLine& line = payload.lines[i];
      EXPECT_EQ(line.text, items[i].text);
      EXPECT_GT(line.conf, 0.5);
      EXPECT_LE(line.conf, 1.0);
      std::array<double, 4> ink = inkBox(canvas, items[i]);
      for (int k = 0; k < 4; ++k) {
        EXPECT_NEAR(line.box[k], ink[k], 3) << "line " << i << " \"" << line.text << "\" box " << k;
        EXPECT_EQ(line.box[k], std::round(line.box[k]));
      }
    }
  }

  static inline std::string dir_;
};

const Canvas kPage{1200, 400};
const std::vector<TextItem> kThreeLines{{32, 40, 80, "Open Recent Files"},
                                        {32, 40, 200, "Save As Template"},
                                        {24, 600, 340, "Quit Application 42"}};

TEST_F(OcrTesseract, ReadsLinesInOrderWithTheirBoxes) {
  std::string png = render("three.png", kPage, kThreeLines);
  OcrPayload payload = ocrOk({"ocr", png});
  EXPECT_EQ(payload.w, 1200);
  EXPECT_EQ(payload.h, 400);
  expectLines(payload, kPage, kThreeLines);

  // The same page as light text on a dark background.
  Canvas dark{1200, 400, "#1e1e1e", "#d4d4d4"};
  std::string darkPng = render("dark.png", dark, kThreeLines);
  expectLines(ocrOk({"ocr", darkPng}), dark, kThreeLines);
}

TEST_F(OcrTesseract, TextSideBySideOnOneBaselineIsTwoLines) {
  // A sidebar entry and the body text beside it; words within each stay together.
  Canvas canvas{1400, 200};
  std::vector<TextItem> items{{16, 24, 100, "Sent Items"},
                              {16, 360, 100, "Monday redo 1287 ready pending jumps"}};
  std::string png = render("columns.png", canvas, items);
  expectLines(ocrOk({"ocr", png}), canvas, items);
}

TEST_F(OcrTesseract, LineAtTheTopLeftCornerStartsAtZero) {
  // Trimmed to its ink, the text touches the top and left edges.
  Canvas canvas{600, 120};
  std::string png = render("corner.png", canvas, {{36, 10, 60, "Toolbar"}}, {"-trim", "+repage"});
  OcrPayload payload = ocrOk({"ocr", png});
  ASSERT_EQ(payload.lines.size(), 1u) << encode(payload);
  EXPECT_EQ(payload.lines[0].text, "Toolbar");
  EXPECT_LE(payload.lines[0].box[0], 1);
  EXPECT_LE(payload.lines[0].box[1], 1);
  EXPECT_NEAR(payload.lines[0].box[2], static_cast<double>(payload.w), 2);
  EXPECT_NEAR(payload.lines[0].box[3], static_cast<double>(payload.h), 2);
}

TEST_F(OcrTesseract, ImageWithoutTextHasNoLines) {
  std::string png = render("blank.png", Canvas{640, 360, "#f0f0f0"}, {});
  OcrPayload payload = ocrOk({"ocr", png});
  EXPECT_EQ(payload.w, 640);
  EXPECT_EQ(payload.h, 360);
  EXPECT_TRUE(payload.lines.empty()) << encode(payload);
  EXPECT_EQ(encode(payload), R"({"w":640,"h":360,"lines":[]})");
}

TEST_F(OcrTesseract, LargerMinimumTextHeightDropsTheSmallLine) {
  Canvas canvas{1000, 500};
  std::vector<TextItem> items{{48, 40, 120, "Large Heading"}, {14, 40, 300, "small print here"}};
  std::string png = render("sizes.png", canvas, items);

  OcrPayload all = ocrOk({"ocr", png});
  expectLines(all, canvas, items);
  // An unparsable height is the default, which keeps both.
  EXPECT_EQ(ocrOk({"ocr", png, "abc"}).lines.size(), 2u);

  // 0.05 of 500 pixels is 25: the small line (about 13 high) goes, the large one (about 45) stays.
  OcrPayload big = ocrOk({"ocr", png, "0.05"});
  ASSERT_EQ(big.lines.size(), 1u) << encode(big);
  EXPECT_EQ(big.lines[0].text, "Large Heading");
  EXPECT_TRUE(ocrOk({"ocr", png, "0.5"}).lines.empty());
}

TEST_F(OcrTesseract, UnreadableFilesFailWithStatus5) {
  const std::string missing = path("no such file.png");
  OcrFailure failure = ocrFails({"ocr", missing});
  EXPECT_EQ(failure.status, 5);
  EXPECT_EQ(failure.message, "could not read image at " + missing);

  const std::string text = path("notes.png");
  std::ofstream(text) << "this is not an image\n";
  failure = ocrFails({"ocr", text});
  EXPECT_EQ(failure.status, 5);
  EXPECT_EQ(failure.message, "could not read image at " + text);

  // A PNG cut off after its header, an empty file and a folder.
  std::string whole = render("whole.png", kPage, kThreeLines);
  std::ifstream in(whole, std::ios::binary);
  std::string bytes(200, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  const std::string cut = path("cut.png");
  std::ofstream(cut, std::ios::binary) << bytes;
  const std::string empty = path("empty.png");
  std::ofstream(empty).flush();
  // A header that claims 10^10 pixels is refused before anything is allocated for them.
  const std::string huge = path("huge.pgm");
  std::ofstream(huge, std::ios::binary) << "P5\n100000 100000\n255\n" << std::string(64, '\0');
  for (const std::string& bad : {cut, empty, dir_, std::string(), huge}) {
    failure = ocrFails({"ocr", bad});
    EXPECT_EQ(failure.status, 5) << bad;
    EXPECT_EQ(failure.message, "could not read image at " + bad);
  }
}

TEST_F(OcrTesseract, ReadsTheCommonFormats) {
  Canvas canvas{500, 120};
  std::vector<TextItem> items{{28, 20, 70, "Format Check"}};
  for (const std::string name : {"f.jpg", "f.tif", "f.bmp", "f.gif", "f.webp", "f.pnm"}) {
    std::string file = render(name, canvas, items, {"-alpha", "off", "-depth", "8"});
    OcrPayload payload = ocrOk({"ocr", file});
    EXPECT_EQ(payload.w, 500) << name;
    EXPECT_EQ(payload.h, 120) << name;
    ASSERT_EQ(payload.lines.size(), 1u) << name << ": " << encode(payload);
    EXPECT_EQ(payload.lines[0].text, "Format Check") << name;
  }
  // Palette, 16-bit grey and transparent PNGs (a transparent background reads as white).
  const std::vector<std::vector<std::string>> variants{
      {"-type", "Palette", "PNG8:"}, {"-colorspace", "Gray", "-depth", "16", "PNG48:"}};
  int n = 0;
  for (const auto& variant : variants) {
    std::vector<std::string> extra(variant.begin(), variant.end() - 1);
    std::string name = variant.back() + path("v" + std::to_string(n++) + ".png");
    std::vector<std::string> command = renderCommand(canvas, items);
    command.insert(command.end(), extra.begin(), extra.end());
    command.push_back(name);
    ASSERT_TRUE(run(command)) << name;
    OcrPayload payload = ocrOk({"ocr", name.substr(name.find(':') + 1)});
    ASSERT_EQ(payload.lines.size(), 1u) << name << ": " << encode(payload);
    EXPECT_EQ(payload.lines[0].text, "Format Check") << name;
  }
  std::string clear = render("clear.png", Canvas{500, 120, "none"}, items);
  OcrPayload payload = ocrOk({"ocr", clear});
  ASSERT_EQ(payload.lines.size(), 1u) << encode(payload);
  EXPECT_EQ(payload.lines[0].text, "Format Check");
}

TEST_F(OcrTesseract, MissingModelIsARecognitionFailure) {
  std::string png = render("model.png", kPage, kThreeLines);
  const char* old = std::getenv("TESSDATA_PREFIX");
  std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;

  const std::string emptyModels = path("no-models");
  fs::create_directories(emptyModels);
  ::setenv("TESSDATA_PREFIX", emptyModels.c_str(), 1);
  EXPECT_EQ(tessdataDir(), emptyModels);
  OcrFailure failure = ocrFails({"ocr", png});
  EXPECT_EQ(failure.status, 4);
  EXPECT_EQ(failure.message.rfind("vision failed: ", 0), 0u) << failure.message;
  // Tesseract's own words name the model it could not open.
  EXPECT_NE(failure.message.find("eng"), std::string::npos) << failure.message;
  EXPECT_EQ(failure.message.find('\n'), std::string::npos);

  ::unsetenv("TESSDATA_PREFIX");
  EXPECT_TRUE(fs::exists(fs::path(tessdataDir()) / "eng.traineddata")) << tessdataDir();
  // With the model found again, the same process recognises normally.
  EXPECT_EQ(ocrOk({"ocr", png}).lines.size(), 3u);
  if (saved) ::setenv("TESSDATA_PREFIX", saved->c_str(), 1);
}

// The subcommand as a process: Tesseract's own chatter (resolution guesses, dictionary
// warnings at exit) must never reach standard error, which carries at most the failure line.
TEST_F(OcrTesseract, ProcessWritesOnlyItsResultOrOneFailureLine) {
  std::string png = render("process.png", kPage, kThreeLines);
  Ran ok = runCaptured({OCR_DRIVER, png});
  EXPECT_EQ(ok.status, 0);
  EXPECT_EQ(ok.err, "");
  EXPECT_EQ(ok.out, encode(ocrOk({"ocr", png})));

  const std::string cut = path("process-cut.png");
  std::ofstream(cut, std::ios::binary) << slurp(png.c_str()).substr(0, 300);
  Ran bad = runCaptured({OCR_DRIVER, cut});
  EXPECT_EQ(bad.status, 5);
  EXPECT_EQ(bad.out, "");
  EXPECT_EQ(bad.err, "uiglean: could not read image at " + cut + "\n");

  Ran none = runCaptured({OCR_DRIVER});
  EXPECT_EQ(none.status, 5);
  EXPECT_EQ(none.err, "uiglean: ocr needs an image path\n");
}

// An interface page: a row of outlined buttons, a numbered list at 13 px, lines that share a
// prefix, and a label with its value far away. Each is one line, in reading order.
TEST_F(OcrTesseract, InterfaceTextIsReadLineByLineInsideOutlines) {
  std::vector<std::string> command{"convert", "-size", "700x330", "xc:white", "-font",
                                   "DejaVu-Sans", "-fill", "#f0f0f0", "-stroke", "#8a8a8a"};
  const std::vector<std::pair<int, std::string>> buttons{{20, "Don't Save"}, {140, "Cancel"},
                                                         {240, "Save"}};
  for (const auto& [x, label] : buttons) {
    const int w = label.size() > 6 ? 110 : label.size() > 4 ? 90 : 70;
    command.insert(command.end(), {"-draw", "roundrectangle " + std::to_string(x) + ",20 " +
                                               std::to_string(x + w) + ",48 6,6"});
  }
  command.insert(command.end(), {"-stroke", "none", "-fill", "black", "-pointsize", "13"});
  for (const auto& [x, label] : buttons) {
    command.insert(command.end(), {"-annotate", "+" + std::to_string(x + 14) + "+39", label});
  }
  const std::vector<std::string> rows{
      "1. Attachment download finished", "2. Meeting notes shared",
      "9. Invoice approved by Carol", "Line 4: The quick brown fox jumps over the dog",
      "Line 5: The quick brown fox jumps over the dog"};
  for (std::size_t i = 0; i < rows.size(); ++i) {
    command.insert(command.end(),
                   {"-annotate", "+20+" + std::to_string(90 + 26 * i), rows[i]});
  }
  command.insert(command.end(), {"-annotate", "+20+250", "Storage:", "-annotate", "+420+250",
                                 "Team (12 seats)"});
  command.push_back(path("interface.png"));
  ASSERT_TRUE(run(command));

  OcrPayload payload = ocrOk({"ocr", path("interface.png")});
  std::vector<std::string> texts;
  for (const auto& line : payload.lines) texts.push_back(line.text);
  std::vector<std::string> expected{"Don't Save", "Cancel", "Save"};
  expected.insert(expected.end(), rows.begin(), rows.end());
  expected.insert(expected.end(), {"Storage:", "Team (12 seats)"});
  EXPECT_EQ(texts, expected);
}

TEST(OcrTesseractLines, OutlinesAreDroppedAndWideGapsCutTheLine) {
  // "( Retry )| ( Ignore )": the sides of two rounded buttons, read as glyphs. They stand taller
  // than the labels or apart from them; the labels are then far apart.
  std::vector<TextPiece> words{{82, 178, 88, 220, "(", 70},   {112, 183, 168, 205, "Retry", 96},
                               {194, 176, 202, 215, ")|", 78}, {234, 176, 240, 215, "(", 75},
                               {254, 183, 321, 210, "Ignore", 95}, {346, 176, 354, 215, ")", 78}};
  std::vector<TextPiece> pieces = splitLine(words, 40);
  ASSERT_EQ(pieces.size(), 2U);
  EXPECT_EQ(pieces[0].text, "Retry");
  EXPECT_EQ(pieces[0].left, 112);
  EXPECT_EQ(pieces[0].right, 168);
  EXPECT_EQ(pieces[1].text, "Ignore");

  // Parentheses and bars that belong to the text stay: they touch their words, or are a space
  // away and as high as the text.
  std::vector<TextPiece> text{{10, 10, 60, 30, "Team", 90}, {66, 9, 108, 31, "(12", 90},
                              {114, 10, 160, 30, "seats)", 90}, {166, 9, 170, 31, "|", 80},
                              {176, 10, 200, 30, "Page", 90}, {206, 10, 214, 30, "1", 90}};
  pieces = splitLine(text, 22);
  ASSERT_EQ(pieces.size(), 1U);
  EXPECT_EQ(pieces[0].text, "Team (12 seats) | Page 1");
  EXPECT_FLOAT_EQ(pieces[0].confidence, (90 * 5 + 80) / 6.0f);

  // Words a line height apart or more are different lines (menu titles side by side); a normal
  // word space is not.
  std::vector<TextPiece> menu{{0, 0, 30, 20, "File", 90}, {52, 0, 84, 20, "Edit", 90},
                              {88, 0, 120, 20, "View", 90}};
  pieces = splitLine(menu, 20);
  ASSERT_EQ(pieces.size(), 2U);
  EXPECT_EQ(pieces[0].text, "File");
  EXPECT_EQ(pieces[1].text, "Edit View");
}

TEST(OcrTesseractLines, CheckBoxMarksBeforeLabelsAreDropped) {
  // "© radiobutton   checkbutton": a radio button read as a copyright sign, then two labels.
  std::vector<TextPiece> words{{302, 868, 333, 899, "\u00a9", 60},
                               {343, 869, 490, 892, "radiobutton", 95},
                               {600, 869, 720, 892, "checkbutton", 95}};
  std::vector<std::vector<TextPiece>> glyphs{
      {{302, 868, 333, 899, "\u00a9", 60}},
      {{343, 877, 352, 892, "r", 95}, {355, 869, 366, 892, "d", 95}},
      {{600, 877, 610, 892, "c", 95}, {612, 869, 622, 892, "h", 95}}};
  dropIndicators(words, glyphs);
  ASSERT_EQ(words.size(), 2U);
  EXPECT_EQ(words[0].text, "radiobutton");

  // Text that only looks like it stays: a copyright sign as high as the digits after it, and a
  // mark-like word glued to the text.
  std::vector<TextPiece> notice{{10, 10, 24, 24, "\u00a9", 90}, {30, 10, 70, 24, "2024", 90}};
  std::vector<std::vector<TextPiece>> noticeGlyphs{{{10, 10, 24, 24, "\u00a9", 90}},
                                                   {{30, 10, 40, 24, "2", 90}}};
  dropIndicators(notice, noticeGlyphs);
  EXPECT_EQ(notice.size(), 2U);
  std::vector<TextPiece> near{{10, 0, 40, 30, "O", 90}, {42, 8, 90, 26, "pen", 90}};
  std::vector<std::vector<TextPiece>> nearGlyphs{{{10, 0, 40, 30, "O", 90}},
                                                 {{42, 8, 50, 26, "p", 90}}};
  dropIndicators(near, nearGlyphs);
  EXPECT_EQ(near.size(), 2U);
  // A short word that opens a sentence is text, however its glyphs were measured.
  std::vector<TextPiece> sentence{{10, 0, 40, 30, "Do", 90}, {50, 8, 90, 26, "you", 90}};
  std::vector<std::vector<TextPiece>> sentenceGlyphs{
      {{10, 0, 25, 30, "D", 90}, {26, 8, 40, 30, "o", 90}}, {{50, 8, 60, 20, "y", 90}}};
  dropIndicators(sentence, sentenceGlyphs);
  EXPECT_EQ(sentence.size(), 2U);
}

TEST(OcrTesseractLines, PiecesOfOneLineAreJoinedAndLinesGoInReadingOrder) {
  // The layout analysis cut every line after a prefix they share and listed the prefixes first.
  std::vector<TextPiece> pieces{{20, 100, 70, 120, "Line 4:", 90},
                                {20, 130, 70, 150, "Line 5:", 90},
                                {78, 101, 400, 121, "The quick brown fox", 80},
                                {78, 131, 400, 151, "jumps over the dog", 70},
                                // A value in a column of its own, far to the right.
                                {700, 100, 760, 120, "42 MB", 95},
                                // A heading above everything, found last.
                                {20, 40, 200, 70, "Downloads", 99}};
  std::vector<TextPiece> lines = arrangeLines(pieces);
  ASSERT_EQ(lines.size(), 4U);
  EXPECT_EQ(lines[0].text, "Downloads");
  EXPECT_EQ(lines[1].text, "Line 4: The quick brown fox");
  EXPECT_EQ(lines[1].left, 20);
  EXPECT_EQ(lines[1].right, 400);
  EXPECT_EQ(lines[1].top, 100);
  EXPECT_EQ(lines[1].bottom, 121);
  EXPECT_NEAR(lines[1].confidence, (90.0 * 7 + 80.0 * 19) / 26, 0.01);
  EXPECT_EQ(lines[2].text, "42 MB");
  EXPECT_EQ(lines[3].text, "Line 5: jumps over the dog");

  // Text of very different heights on one baseline (a heading and a caption) is not one line.
  std::vector<TextPiece> mixed{{0, 0, 100, 40, "Title", 90}, {104, 24, 180, 40, "caption", 90}};
  EXPECT_EQ(arrangeLines(mixed).size(), 2U);
}

TEST(OcrTesseractLines, JoinedPiecesWithoutTextKeepTheirMeanConfidence) {
  // Weighted by text length, two empty pieces weigh nothing; their line is still their mean.
  std::vector<TextPiece> empty{{0, 0, 40, 20, "", 80}, {44, 0, 80, 20, "", 60}};
  std::vector<TextPiece> lines = arrangeLines(empty);
  ASSERT_EQ(lines.size(), 1U);
  EXPECT_EQ(lines[0].text, " ");
  EXPECT_FLOAT_EQ(lines[0].confidence, 70);
}

TEST(OcrTesseractLines, AnLAmongDigitsIsTheDigitOne) {
  std::vector<TextPiece> words;
  for (const char* text : {"page", "l", "l.", "l0", "2.l", "l0:3l", "all", "l2a", "I", "ll"}) {
    words.push_back(TextPiece{0, 0, 10, 10, text, 90});
  }
  readNumbers(words);
  std::vector<std::string> read;
  for (const auto& w : words) read.push_back(w.text);
  EXPECT_EQ(read, (std::vector<std::string>{"page", "1", "1.", "10", "2.1", "10:31", "all", "l2a",
                                            "I", "ll"}));
}

TEST(OcrTesseractLines, ShortUnsureLinesAreNoise) {
  EXPECT_TRUE(likelyNoise(TextPiece{0, 0, 10, 10, "eee", 0}));
  EXPECT_TRUE(likelyNoise(TextPiece{0, 0, 10, 10, "\u201c\u2122", 39}));  // two characters
  EXPECT_FALSE(likelyNoise(TextPiece{0, 0, 10, 10, "50", 72}));
  EXPECT_FALSE(likelyNoise(TextPiece{0, 0, 10, 10, "Save", 12}));  // long enough to be text
  EXPECT_FALSE(likelyNoise(TextPiece{0, 0, 10, 10, "OK", 40}));
}

TEST(OcrTesseractSettings, MapsLanguagesAndRefusesOthers) {
  EXPECT_EQ(tesseractLanguage({"en-US"}), "eng");
  EXPECT_EQ(tesseractLanguage({}), "eng");
  EXPECT_EQ(tesseractLanguage({"en-GB", "en"}), "eng");
  EXPECT_EQ(tesseractLanguage({"fr-FR"}), std::nullopt);
  EXPECT_EQ(tesseractLanguage({"en-US", "de-DE"}), std::nullopt);
}

TEST_F(OcrTesseract, RefusesLanguagesItHasNoModelFor) {
  Bitmap bitmap = imageBitmap(loadImage(render("lang.png", kPage, kThreeLines)));
  ASSERT_TRUE(bitmap);
  TextRecognitionRequest request = ocrRequest(DEFAULT_MIN_TEXT_HEIGHT);
  request.recognitionLanguages = {"fr-FR"};
  TextRecognitionResult refused = performTextRecognition(bitmap, request);
  ASSERT_TRUE(refused.error);
  EXPECT_NE(refused.error->find("fr-FR"), std::string::npos) << *refused.error;
  EXPECT_TRUE(refused.observations.empty());
  EXPECT_EQ(performTextRecognition(bitmap, ocrRequest(DEFAULT_MIN_TEXT_HEIGHT)).observations.size(),
            3u);
}

}  // namespace
}  // namespace uiglean
