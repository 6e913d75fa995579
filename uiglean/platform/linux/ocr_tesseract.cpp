// Images and text recognition on Linux: Leptonica decodes the file, its text lines are found on
// an ink page (ocr_layout.h), and Tesseract's LSTM engine reads each line alone. One line is one
// observation.
#include "uiglean/platform/linux/ocr_tesseract.h"

#include <allheaders.h>
#include <omp.h>
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "uiglean/ax/platform.h"
#include "uiglean/platform/linux/ocr_layout.h"

namespace uiglean {

namespace {

struct PixDeleter {
  void operator()(Pix* pix) const { pixDestroy(&pix); }
};
using PixPtr = std::unique_ptr<Pix, PixDeleter>;

}  // namespace

// A decoded file, as Leptonica read it.
struct ImageImpl {
  PixPtr pix;
};

// The page handed to the recognizer: 8-bit grey or 32-bit colour, no colour map, no alpha.
struct BitmapImpl {
  PixPtr pix;
};

namespace {

// Leptonica reports every file it cannot decode on standard error; an unreadable image is an
// ordinary outcome here, reported by the caller in its own words.
void quietLeptonica() {
  static const bool done = [] {
    setMsgSeverity(L_SEVERITY_NONE);
    leptSetStderrHandler([](const char*) {});
    return true;
  }();
  (void)done;
}

// Redirects file descriptor 2 into a temporary file for as long as it lives. Tesseract writes its
// warnings and errors there (tprintf, std::cerr); a run must keep standard error for its own
// single failure line, and a failure wants Tesseract's words.
struct StderrCapture {
  std::FILE* file = nullptr;
  int saved = -1;

  StderrCapture() {
    std::fflush(stderr);
    file = std::tmpfile();
    if (file == nullptr) return;
    saved = ::dup(2);
    if (saved < 0 || ::dup2(::fileno(file), 2) < 0) {
      if (saved >= 0) ::close(saved);
      saved = -1;
      std::fclose(file);
      file = nullptr;
    }
  }
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  // Restores standard error and returns the first 2000 bytes written meanwhile, with every run of
  // white space (line breaks included) made one space, trimmed.
  std::string finish() {
    if (file == nullptr) return {};
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    saved = -1;
    std::string raw(2000, '\0');
    std::rewind(file);
    raw.resize(std::fread(raw.data(), 1, raw.size(), file));
    std::fclose(file);
    file = nullptr;

    std::string text;
    bool pendingSpace = false;
    for (char c : raw) {
      if (c == '\n' || c == '\r' || c == '\t' || c == ' ') {
        pendingSpace = !text.empty();
        continue;
      }
      if (pendingSpace) text.push_back(' ');
      pendingSpace = false;
      text.push_back(c);
    }
    return text;
  }

  ~StderrCapture() { finish(); }
};

// The loaded model, kept for the rest of the process: one run recognises one image, and a test
// binary that changes the model folder between cases gets a fresh engine.
struct Engine {
  std::string key;
  std::unique_ptr<tesseract::TessBaseAPI> api;
};

Engine& engine() {
  static Engine e;
  return e;
}

// Tesseract shares the loaded dictionaries through a cache of its own that is destroyed at exit
// and complains on standard error about entries still held. Registered after the first model
// load, this runs before that cache goes.
void releaseEngineAtExit() {
  static const bool registered = [] { return std::atexit([] { engine().api.reset(); }) == 0; }();
  (void)registered;
}

// The Tesseract engine for a model folder, language and dictionary choice, or the reason it
// could not be started.
tesseract::TessBaseAPI* engineFor(const std::string& dataDir, const std::string& language,
                                  bool dictionaries, std::string& error) {
  Engine& e = engine();
  const std::string key = dataDir + '\n' + language + (dictionaries ? "\n+dict" : "\n-dict");
  if (e.api && e.key == key) return e.api.get();
  e.api.reset();

  // The LSTM engine loads its dictionaries (word, punctuation, number) with the model unless
  // told not to use them; load_system_dawg and its kind only reach the old engine's dictionary.
  std::vector<std::string> names, values;
  if (!dictionaries) {
    names.emplace_back("lstm_use_matrix");
    values.emplace_back("0");
  }
  auto api = std::make_unique<tesseract::TessBaseAPI>();
  StderrCapture capture;
  const int status = api->Init(dataDir.c_str(), language.c_str(), tesseract::OEM_LSTM_ONLY, nullptr,
                               0, &names, &values, false);
  std::string messages = capture.finish();
  if (status != 0) {
    error =
        messages.empty() ? "could not load the " + language + " model from " + dataDir : messages;
    return nullptr;
  }
  // Lines are found before recognition (ocr_layout.h); each is read as one line.
  api->SetPageSegMode(tesseract::PSM_SINGLE_LINE);
  e.key = key;
  e.api = std::move(api);
  releaseEngineAtExit();
  return e.api.get();
}

using LinePiece = TextPiece;

std::string takeText(char* raw) {
  std::unique_ptr<char[]> owned(raw);
  std::string text = owned ? owned.get() : "";
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

// The text line at the iterator, which is left on the line's last word: its words without the
// outlines and check marks read as words, the lone l among digits read as 1. A line with nothing
// dropped keeps Tesseract's own box and confidence.
std::vector<LinePiece> readLine(tesseract::ResultIterator& it) {
  LinePiece line;
  it.BoundingBox(tesseract::RIL_TEXTLINE, &line.left, &line.top, &line.right, &line.bottom);
  line.text = takeText(it.GetUTF8Text(tesseract::RIL_TEXTLINE));
  line.confidence = it.Confidence(tesseract::RIL_TEXTLINE);
  std::vector<TextPiece> words;
  std::vector<std::vector<TextPiece>> glyphsOf;
  do {
    if (it.Empty(tesseract::RIL_WORD)) continue;
    TextPiece word;
    if (!it.BoundingBox(tesseract::RIL_WORD, &word.left, &word.top, &word.right, &word.bottom)) {
      continue;
    }
    // The word's glyphs, to tell a check box before its label.
    std::vector<TextPiece> glyphs;
    tesseract::LTRResultIterator at(it);
    do {
      TextPiece glyph;
      if (!at.BoundingBox(tesseract::RIL_SYMBOL, &glyph.left, &glyph.top, &glyph.right,
                          &glyph.bottom)) {
        continue;
      }
      glyph.text = takeText(at.GetUTF8Text(tesseract::RIL_SYMBOL));
      glyphs.push_back(std::move(glyph));
    } while (!at.IsAtFinalElement(tesseract::RIL_WORD, tesseract::RIL_SYMBOL) &&
             at.Next(tesseract::RIL_SYMBOL));
    glyphsOf.push_back(std::move(glyphs));
    word.text = takeText(it.GetUTF8Text(tesseract::RIL_WORD));
    // Words come with the space that led to them at times.
    word.text.erase(0, word.text.find_first_not_of(' '));
    word.text.erase(word.text.find_last_not_of(' ') + 1);
    word.confidence = it.Confidence(tesseract::RIL_WORD);
    words.push_back(std::move(word));
  } while (!it.IsAtFinalElement(tesseract::RIL_TEXTLINE, tesseract::RIL_WORD) &&
           it.Next(tesseract::RIL_WORD));
  dropIndicators(words, glyphsOf);
  readNumbers(words);
  const std::size_t count = words.size();
  // The line was cut at wide gaps where it was found, from its ink; the recognizer's word boxes
  // are less exact (a digit's box starts well after its ink), so its gaps cut nothing.
  std::vector<TextPiece> pieces = splitLine(std::move(words), line.bottom - line.top,
                                            std::numeric_limits<double>::infinity());
  if (pieces.size() == 1 && count > 0 && pieces.front().text.size() + 1 >= line.text.size()) {
    // Nothing cut: Tesseract's own box and confidence.
    line.text = std::move(pieces.front().text);
    return {std::move(line)};
  }
  return pieces;
}

// Pages larger than this many pixels are halved until they are not before their lines are
// looked for: finding lines holds a few bytes per pixel, and text on such pages is large.
constexpr double MAX_LAYOUT_PIXELS = 40e6;

// Lines whose glyphs are at most this high are read at twice their size: interface text is 11
// to 16 pixels high, where the recognizer confuses i, l and f and drops short numbers. Lines of
// the smallest interface text (glyphs at most TINY_TEXT_HEIGHT high: 11-12 px fonts) are read at
// three times their size. Larger scales lose more on ordinary text than they gain.
constexpr int SMALL_TEXT_HEIGHT = 24;
constexpr int TINY_TEXT_HEIGHT = 10;

// White pixels around a line handed to the recognizer.
constexpr int LINE_MARGIN = 10;

// The largest scale lines are read at: 3 as a rule, less when the lines scaled up would come to
// more than SCALED_LINES_BUDGET times the page (four million pixels at least). Interface pages
// come to one to three times the page; a page covered in small marks (a dotted pattern) to ten
// and more, which would take the recognizer minutes at three times the size.
constexpr double SCALED_LINES_BUDGET = 4;

// The scale a line is read at, at most `largest`.
int lineScale(const InkLine& line, int largest) {
  const int glyphs = line.glyphHeight;
  return std::min(largest, glyphs <= TINY_TEXT_HEIGHT ? 3 : glyphs <= SMALL_TEXT_HEIGHT ? 2 : 1);
}

int largestScale(const InkLines& found, const std::vector<std::size_t>& order, int width,
                 int height) {
  const double budget = std::max(4e6, SCALED_LINES_BUDGET * width * height);
  for (int largest = 3; largest > 1; --largest) {
    double total = 0;
    for (std::size_t i : order) {
      const InkLine& line = found.lines[i];
      const int scale = lineScale(line, largest);
      const int pad = inkLinePadding(line);
      total += static_cast<double>(line.right - line.left + 2 * pad) *
               (line.bottom - line.top + 2 * pad) * scale * scale;
    }
    if (total <= budget) return largest;
  }
  return 1;
}

// The page in grey, halved `reduction` times over (a power of two) when it is very large.
std::optional<GreyImage> greyPage(Pix* source, int& reduction) {
  PixPtr grey(pixGetDepth(source) == 32 ? pixConvertRGBToLuminance(source) : pixClone(source));
  reduction = 1;
  while (grey && static_cast<double>(pixGetWidth(grey.get())) * pixGetHeight(grey.get()) >
                     MAX_LAYOUT_PIXELS) {
    grey.reset(pixScaleAreaMap2(grey.get()));
    reduction *= 2;
  }
  if (!grey || pixGetDepth(grey.get()) != 8) return std::nullopt;
  const int w = pixGetWidth(grey.get()), h = pixGetHeight(grey.get());
  GreyImage page(w, h, 255);
  const l_uint32* data = pixGetData(grey.get());
  const int wpl = pixGetWpl(grey.get());
  for (int y = 0; y < h; ++y) {
    const l_uint32* row = data + static_cast<std::ptrdiff_t>(y) * wpl;
    for (int x = 0; x < w; ++x) page.at(x, y) = static_cast<std::uint8_t>(GET_DATA_BYTE(row, x));
  }
  return page;
}

bool sameRow(const TextPiece& a, const TextPiece& b) {
  const int ha = std::max(1, a.bottom - a.top), hb = std::max(1, b.bottom - b.top);
  const int overlap = std::min(a.bottom, b.bottom) - std::max(a.top, b.top);
  return overlap * 2 >= std::min(ha, hb) && std::max(ha, hb) * 2 <= std::min(ha, hb) * 3 + 2;
}

}  // namespace

namespace {

// The outline of a button or a field, read as a glyph: a bar, a bracket or a parenthesis from its
// straight or rounded sides, at times an f or an l, a quote from a corner.
bool looksLikeOutline(const std::string& text) {
  static const std::string glyphs[] = {"|", "(", ")", "[", "]", "{", "}",
                                       "'", "\"", "\u2018", "\u2019", "\u201c", "\u201d", "_"};
  if (text.empty()) return false;
  std::size_t at = 0, count = 0;
  while (at < text.size()) {
    bool matched = false;
    for (const auto& g : glyphs) {
      if (text.compare(at, g.size(), g) == 0) {
        at += g.size();
        matched = true;
        break;
      }
    }
    if (!matched || ++count > 2) return false;
  }
  return true;
}

}  // namespace

bool likelyNoise(const TextPiece& line) {
  std::size_t characters = 0;
  for (char c : line.text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  return characters <= 3 && line.confidence < OCR_NOISE_CONFIDENCE;
}

void readNumbers(std::vector<TextPiece>& words) {
  for (TextPiece& word : words) {
    std::string& t = word.text;
    const bool digit = std::any_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
    const bool numeric = !t.empty() && std::all_of(t.begin(), t.end(), [](char c) {
      return (c >= '0' && c <= '9') || c == 'l' || c == '.' || c == ',' || c == ':' || c == '%';
    });
    const bool lone = t == "l" || t == "l." || t == "l:" || t == "l,";
    if (numeric && (digit || lone)) std::replace(t.begin(), t.end(), 'l', '1');
  }
}

void dropIndicators(std::vector<TextPiece>& words,
                    const std::vector<std::vector<TextPiece>>& glyphs) {
  if (glyphs.size() != words.size()) return;
  auto height = [](const TextPiece& p) { return p.bottom - p.top; };
  std::vector<bool> drop(words.size(), false);
  for (std::size_t i = 0; i + 1 < words.size(); ++i) {
    const TextPiece& mark = words[i];
    const TextPiece& label = words[i + 1];
    const int w = mark.right - mark.left, h = height(mark);
    const bool square = h > 0 && w * 4 >= h * 3 && w * 3 <= h * 4;
    // A mark starts a piece of the line (the line's first word, or one well apart from the word
    // before it) and is at most two glyphs, about square, a word of its own before its label.
    // Marks are read as symbols (©, @, C), (J); a word of letters and digits ("Do", "OK") is text.
    const bool symbol = std::any_of(mark.text.begin(), mark.text.end(), [](char c) {
      return std::isalnum(static_cast<unsigned char>(c)) == 0;
    });
    if (glyphs[i].size() > 2 || !square || !symbol) continue;
    if (i > 0 && (mark.left - words[i - 1].right) * 2 < h) continue;
    int letters = 0;
    for (const auto& g : glyphs[i + 1]) letters = std::max(letters, height(g));
    if (letters > 0 && h * 5 >= letters * 6 && (label.left - mark.right) * 4 >= h) drop[i] = true;
  }
  std::size_t k = 0;
  std::erase_if(words, [&](const TextPiece&) { return drop[k++]; });
}

std::vector<TextPiece> splitLine(std::vector<TextPiece> words, int lineHeight, double gap) {
  // A word of one or two outline glyphs is a border, not text, when it stands half as high again
  // as every other word of the line, or apart from the words beside it by more than half their
  // height (a button's padding; words are a space apart, a parenthesis touches its word).
  int tallest = 0;
  for (const auto& w : words) {
    if (!looksLikeOutline(w.text)) tallest = std::max(tallest, w.bottom - w.top);
  }
  if (tallest == 0) {
    // Nothing but outlines: the side of a box read alone.
    words.clear();
  } else {
    std::vector<bool> border(words.size(), false);
    for (std::size_t i = 0; i < words.size(); ++i) {
      const TextPiece& w = words[i];
      if (!looksLikeOutline(w.text)) continue;
      const int before = i > 0 ? w.left - words[i - 1].right : INT_MAX;
      const int after = i + 1 < words.size() ? words[i + 1].left - w.right : INT_MAX;
      border[i] = (w.bottom - w.top) * 2 >= tallest * 3 ||
                  static_cast<double>(std::min(before, after)) * 2 >= tallest;
    }
    std::size_t i = 0;
    std::erase_if(words, [&](const TextPiece&) { return border[i++]; });
  }
  std::erase_if(words, [](const TextPiece& w) {
    return w.text.find_first_not_of(' ') == std::string::npos;
  });
  // The height of the line's text, without the outlines that made its box taller.
  int height = 0;
  for (const auto& w : words) height = std::max(height, w.bottom - w.top);
  const double cut = gap * std::max(1, height > 0 ? height : lineHeight);
  std::vector<TextPiece> pieces;
  std::vector<int> wordsIn;
  for (TextPiece& word : words) {
    if (pieces.empty() || word.left - pieces.back().right > cut) {
      pieces.push_back(std::move(word));
      wordsIn.push_back(1);
      continue;
    }
    TextPiece& piece = pieces.back();
    piece.left = std::min(piece.left, word.left);
    piece.top = std::min(piece.top, word.top);
    piece.right = std::max(piece.right, word.right);
    piece.bottom = std::max(piece.bottom, word.bottom);
    piece.text += ' ' + word.text;
    piece.confidence += word.confidence;
    ++wordsIn.back();
  }
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    pieces[i].confidence /= static_cast<float>(wordsIn[i]);
  }
  return pieces;
}

std::vector<TextPiece> arrangeLines(std::vector<TextPiece> pieces) {
  // Left to right, so that a piece can only be joined to one that ends before it starts.
  std::stable_sort(pieces.begin(), pieces.end(),
                   [](const TextPiece& a, const TextPiece& b) { return a.left < b.left; });
  std::vector<TextPiece> lines;
  for (TextPiece& piece : pieces) {
    TextPiece* joined = nullptr;
    for (TextPiece& line : lines) {
      const int height = std::max(line.bottom - line.top, piece.bottom - piece.top);
      const int gap = piece.left - line.right;
      if (sameRow(line, piece) && gap >= -height / 2 && gap <= OCR_LINE_GAP * height &&
          (joined == nullptr || line.right > joined->right)) {
        joined = &line;
      }
    }
    if (joined == nullptr) {
      lines.push_back(std::move(piece));
      continue;
    }
    // The mean weighted by the length of the text; pieces without text count alike.
    const auto own = static_cast<float>(joined->text.size());
    const auto added = static_cast<float>(piece.text.size());
    joined->confidence = own + added > 0 ? (joined->confidence * own + piece.confidence * added) /
                                               (own + added)
                                         : (joined->confidence + piece.confidence) / 2;
    joined->text += ' ' + piece.text;
    joined->left = std::min(joined->left, piece.left);
    joined->top = std::min(joined->top, piece.top);
    joined->right = std::max(joined->right, piece.right);
    joined->bottom = std::max(joined->bottom, piece.bottom);
  }

  // Rows: top to bottom by their middles; a line joins the row whose first line's span holds its
  // middle. Each row left to right.
  std::stable_sort(lines.begin(), lines.end(), [](const TextPiece& a, const TextPiece& b) {
    return a.top + a.bottom < b.top + b.bottom;
  });
  std::vector<TextPiece> ordered;
  ordered.reserve(lines.size());
  std::size_t rowStart = 0;
  for (std::size_t i = 0; i <= lines.size(); ++i) {
    if (i < lines.size() && i > rowStart) {
      const TextPiece& first = lines[rowStart];
      const int middle = (lines[i].top + lines[i].bottom) / 2;
      if (middle >= first.top && middle < first.bottom) continue;
    }
    if (i > rowStart) {
      std::stable_sort(lines.begin() + static_cast<std::ptrdiff_t>(rowStart),
                       lines.begin() + static_cast<std::ptrdiff_t>(i),
                       [](const TextPiece& a, const TextPiece& b) { return a.left < b.left; });
      for (std::size_t k = rowStart; k < i; ++k) ordered.push_back(std::move(lines[k]));
    }
    rowStart = i;
  }
  return ordered;
}

std::string tessdataDir() {
  const char* prefix = std::getenv("TESSDATA_PREFIX");
  if (prefix != nullptr && prefix[0] != '\0') return prefix;
  static const char* const debianDirs[] = {"/usr/share/tesseract-ocr/5/tessdata",
                                           "/usr/share/tesseract-ocr/4.00/tessdata",
                                           "/usr/share/tessdata"};
  for (const char* dir : debianDirs) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(std::filesystem::path(dir) / "eng.traineddata", ec)) {
      return dir;
    }
  }
  return debianDirs[0];
}

std::optional<std::string> tesseractLanguage(const std::vector<std::string>& languages) {
  std::string joined;
  for (const auto& tag : languages) {
    if (tag != "en" && tag.rfind("en-", 0) != 0) return std::nullopt;
    // English once, however many English tags were asked for.
    joined = "eng";
  }
  return joined.empty() ? std::string("eng") : joined;
}

Image loadImage(const std::string& path) {
  quietLeptonica();
  l_int32 width = 0, height = 0;
  StderrCapture headerCapture;
  const bool headerRead =
      pixReadHeader(path.c_str(), nullptr, &width, &height, nullptr, nullptr, nullptr) == 0;
  headerCapture.finish();
  // The header tells the size without decoding; formats whose header Leptonica cannot read
  // alone are still decoded below.
  if (headerRead && static_cast<std::int64_t>(width) * height > MAX_OCR_IMAGE_PIXELS) {
    return {};
  }
  // libpng and libtiff report damaged files on standard error themselves.
  StderrCapture capture;
  PixPtr pix(pixRead(path.c_str()));
  capture.finish();
  if (!pix || pixGetWidth(pix.get()) <= 0 || pixGetHeight(pix.get()) <= 0 ||
      static_cast<std::int64_t>(pixGetWidth(pix.get())) * pixGetHeight(pix.get()) >
          MAX_OCR_IMAGE_PIXELS) {
    return {};
  }
  auto impl = std::make_shared<ImageImpl>();
  impl->pix = std::move(pix);
  return Image{std::move(impl)};
}

Image adoptPicture(Pix* pix) {
  PixPtr owned(pix);
  if (!owned || pixGetWidth(pix) <= 0 || pixGetHeight(pix) <= 0) return {};
  auto impl = std::make_shared<ImageImpl>();
  impl->pix = std::move(owned);
  return Image{std::move(impl)};
}

Bitmap imageBitmap(const Image& image) {
  if (!image || !image.impl->pix) return {};
  quietLeptonica();
  Pix* source = image.impl->pix.get();
  PixPtr page(pixGetColormap(source) != nullptr
                  ? pixRemoveColormap(source, REMOVE_CMAP_BASED_ON_SRC)
                  : pixClone(source));
  if (!page) return {};
  switch (pixGetDepth(page.get())) {
    case 8:
      break;
    case 32:
      // Transparent parts are shown over white, as a viewer would.
      if (pixGetSpp(page.get()) == 4) page.reset(pixAlphaBlendUniform(page.get(), 0xffffff00));
      break;
    case 16:
      page.reset(pixConvert16To8(page.get(), L_MS_BYTE));
      break;
    default:
      page.reset(pixConvertTo8(page.get(), 0));
      break;
  }
  if (!page || (pixGetDepth(page.get()) != 8 && pixGetDepth(page.get()) != 32)) return {};
  auto impl = std::make_shared<BitmapImpl>();
  impl->pix = std::move(page);
  return Bitmap{std::move(impl)};
}

std::int64_t bitmapWidth(const Bitmap& bitmap) {
  return bitmap ? pixGetWidth(bitmap.impl->pix.get()) : 0;
}

std::int64_t bitmapHeight(const Bitmap& bitmap) {
  return bitmap ? pixGetHeight(bitmap.impl->pix.get()) : 0;
}

TextRecognitionResult performTextRecognition(const Bitmap& bitmap,
                                             const TextRecognitionRequest& request) {
  TextRecognitionResult result;
  if (!bitmap || !bitmap.impl->pix) {
    result.error = "no bitmap to recognise";
    return result;
  }
  std::optional<std::string> language = tesseractLanguage(request.recognitionLanguages);
  if (!language) {
    std::string asked;
    for (const auto& tag : request.recognitionLanguages) asked += (asked.empty() ? "" : ", ") + tag;
    result.error = "unsupported recognition language (" + asked + ")";
    return result;
  }
  // Both recognition levels use the LSTM engine: the installed models carry nothing else.
  std::string error;
  tesseract::TessBaseAPI* api =
      engineFor(tessdataDir(), *language, request.usesLanguageCorrection, error);
  if (api == nullptr) {
    result.error = error;
    return result;
  }

  Pix* source = bitmap.impl->pix.get();
  const double width = pixGetWidth(source), height = pixGetHeight(source);
  int reduction = 1;
  std::optional<GreyImage> grey = greyPage(source, reduction);
  if (!grey) {
    result.error = "out of memory preparing the image";
    return result;
  }
  const GreyImage ink = inkFromGrey(*grey);
  grey.reset();
  const InkLines found = findInkLines(ink, OCR_LINE_GAP);

  // Tesseract splits its network evaluation over four OpenMP threads; measured on two cores that
  // is three to five times slower than one thread (the threads mostly wait on each other), so its
  // parallel regions run on the calling thread alone.
  omp_set_max_active_levels(0);
  // Top to bottom, and no more than OCR_MAX_READ_LINES of them.
  std::vector<std::size_t> order(found.lines.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const InkLine& x = found.lines[a];
    const InkLine& y = found.lines[b];
    return x.top != y.top ? x.top < y.top : x.left < y.left;
  });
  if (order.size() > OCR_MAX_READ_LINES) order.resize(OCR_MAX_READ_LINES);
  const int largest = largestScale(found, order, ink.width, ink.height);
  std::vector<TextPiece> pieces;
  for (std::size_t i : order) {
    const int scale = lineScale(found.lines[i], largest);
    int originX = 0, originY = 0;
    const GreyImage line = drawInkLine(ink, found, i, scale, LINE_MARGIN, originX, originY);
    StderrCapture capture;
    api->SetImage(line.pixels.data(), line.width, line.height, 1, line.width);
    const int status = api->Recognize(nullptr);
    std::string messages = capture.finish();
    if (status != 0) {
      api->Clear();
      result.error = messages.empty() ? "text recognition failed" : messages;
      return result;
    }
    // From the line's pixels to the page's.
    auto toPage = [&](int v, int origin, bool end) {
      const double at = (static_cast<double>(v - LINE_MARGIN) / scale + origin) * reduction;
      return static_cast<int>(end ? std::ceil(at) : std::floor(at));
    };
    std::unique_ptr<tesseract::ResultIterator> it(api->GetIterator());
    if (it) {
      do {
        if (it->Empty(tesseract::RIL_TEXTLINE)) continue;
        for (LinePiece& piece : readLine(*it)) {
          if (piece.text.find_first_not_of(' ') == std::string::npos) continue;
          piece.left = toPage(piece.left, originX, false);
          piece.right = toPage(piece.right, originX, true);
          piece.top = toPage(piece.top, originY, false);
          piece.bottom = toPage(piece.bottom, originY, true);
          pieces.push_back(std::move(piece));
        }
      } while (it->Next(tesseract::RIL_TEXTLINE));
    }
    it.reset();
    api->Clear();
  }

  const double minimumHeight = static_cast<double>(request.minimumTextHeight) * height;
  for (TextPiece& piece : arrangeLines(std::move(pieces))) {
    if (likelyNoise(piece)) continue;
    const double left = std::clamp(static_cast<double>(piece.left), 0.0, width);
    const double right = std::max(left, std::clamp(static_cast<double>(piece.right), 0.0, width));
    const double top = std::clamp(static_cast<double>(piece.top), 0.0, height);
    const double bottom = std::max(top, std::clamp(static_cast<double>(piece.bottom), 0.0, height));
    if (bottom - top < minimumHeight) continue;

    TextObservation observation;
    observation.boundingBox = Rect{left / width, (height - bottom) / height,
                                   (right - left) / width, (bottom - top) / height};
    observation.candidates.push_back(RecognizedText{
        std::move(piece.text), std::clamp(piece.confidence / 100.0f, 0.0f, 1.0f)});
    result.observations.push_back(std::move(observation));
  }
  return result;
}

}  // namespace uiglean
