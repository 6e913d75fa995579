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
