// Images and text recognition on Linux: Leptonica decodes the file, Tesseract's LSTM engine
// recognises it. One text line of Tesseract's layout (split where it spans a column gap) is one
// observation.
#include "uiglean/platform/linux/ocr_tesseract.h"

#include <allheaders.h>
#include <omp.h>
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "uiglean/ax/platform.h"

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

// White pixels added around the page before recognition.
constexpr int OCR_MARGIN = 12;

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
  api->SetPageSegMode(tesseract::PSM_AUTO);
  e.key = key;
  e.api = std::move(api);
  releaseEngineAtExit();
  return e.api.get();
}

// A text line, or the part of one between two column gaps: box in page pixels, text, and
// Tesseract's confidence (0..100).
struct LinePiece {
  int left = 0, top = 0, right = 0, bottom = 0;
  std::string text;
  float confidence = 0;
};

// Words further apart than this many line heights belong to different columns.
constexpr int COLUMN_GAP = 3;

std::string takeText(char* raw) {
  std::unique_ptr<char[]> owned(raw);
  std::string text = owned ? owned.get() : "";
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

// The text line at the iterator, which is left on the line's last word. Tesseract at times joins
// text that shares a baseline across a wide empty stretch (a sidebar entry and the body text
// beside it) into one line; such a line comes back as one piece per column. A line without such
// a gap is returned whole, with Tesseract's own text and confidence.
std::vector<LinePiece> readLine(tesseract::ResultIterator& it) {
  LinePiece line;
  it.BoundingBox(tesseract::RIL_TEXTLINE, &line.left, &line.top, &line.right, &line.bottom);
  line.text = takeText(it.GetUTF8Text(tesseract::RIL_TEXTLINE));
  line.confidence = it.Confidence(tesseract::RIL_TEXTLINE);
  const int gap = COLUMN_GAP * std::max(1, line.bottom - line.top);

  std::vector<LinePiece> pieces;
  float confidenceSum = 0;
  int words = 0;
  auto close = [&] {
    if (words > 0) pieces.back().confidence = confidenceSum / static_cast<float>(words);
    confidenceSum = 0;
    words = 0;
  };
  do {
    if (it.Empty(tesseract::RIL_WORD)) continue;
    LinePiece word;
    if (!it.BoundingBox(tesseract::RIL_WORD, &word.left, &word.top, &word.right, &word.bottom)) {
      continue;
    }
    word.text = takeText(it.GetUTF8Text(tesseract::RIL_WORD));
    if (pieces.empty() || word.left - pieces.back().right > gap) {
      close();
      pieces.push_back(word);
    } else {
      LinePiece& piece = pieces.back();
      piece.left = std::min(piece.left, word.left);
      piece.top = std::min(piece.top, word.top);
      piece.right = std::max(piece.right, word.right);
      piece.bottom = std::max(piece.bottom, word.bottom);
      piece.text += ' ' + word.text;
    }
    confidenceSum += it.Confidence(tesseract::RIL_WORD);
    ++words;
  } while (!it.IsAtFinalElement(tesseract::RIL_TEXTLINE, tesseract::RIL_WORD) &&
           it.Next(tesseract::RIL_WORD));
  close();

  if (pieces.size() <= 1) return {std::move(line)};
  return pieces;
}

// Mean grey level (0 black .. 255 white) of an 8- or 32-bit page, from a sample of its pixels.
double meanGrey(Pix* page) {
  PixPtr grey(pixGetDepth(page) == 32 ? pixConvertRGBToLuminance(page) : pixClone(page));
  if (!grey) return 255;
  l_float32 mean = 255;
  if (pixGetAverageMasked(grey.get(), nullptr, 0, 0, 4, L_MEAN_ABSVAL, &mean) != 0) return 255;
  return static_cast<double>(mean);
}

}  // namespace

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
  // Light text on a dark background reads far better (and faster) as dark on light. Inverting
  // leaves every position where it was.
  PixPtr inverted(meanGrey(source) < 128 ? pixInvert(nullptr, source) : pixClone(source));
  // Tesseract loses text that touches the edge of the page; a white margin keeps it, and the
  // boxes are shifted back below.
  PixPtr page(inverted
                  ? pixAddBorderGeneral(inverted.get(), OCR_MARGIN, OCR_MARGIN, OCR_MARGIN,
                                        OCR_MARGIN, pixGetDepth(source) == 32 ? 0xffffff00 : 255)
                  : nullptr);
  if (!page) {
    result.error = "out of memory preparing the image";
    return result;
  }

  // Tesseract splits its network evaluation over four OpenMP threads; measured on two cores that
  // is three to five times slower than one thread (the threads mostly wait on each other), so its
  // parallel regions run on the calling thread alone.
  omp_set_max_active_levels(0);
  StderrCapture capture;
  api->SetImage(page.get());
  const int status = api->Recognize(nullptr);
  std::string messages = capture.finish();
  if (status != 0) {
    api->Clear();
    result.error = messages.empty() ? "text recognition failed" : messages;
    return result;
  }

  const double minimumHeight = static_cast<double>(request.minimumTextHeight) * height;
  std::unique_ptr<tesseract::ResultIterator> it(api->GetIterator());
  if (it) {
    do {
      if (it->Empty(tesseract::RIL_TEXTLINE)) continue;
      for (LinePiece& piece : readLine(*it)) {
        const int left = std::clamp(piece.left - OCR_MARGIN, 0, static_cast<int>(width));
        const int right = std::clamp(piece.right - OCR_MARGIN, left, static_cast<int>(width));
        const int top = std::clamp(piece.top - OCR_MARGIN, 0, static_cast<int>(height));
        const int bottom = std::clamp(piece.bottom - OCR_MARGIN, top, static_cast<int>(height));
        if (static_cast<double>(bottom - top) < minimumHeight) continue;
        if (piece.text.find_first_not_of(' ') == std::string::npos) continue;

        TextObservation observation;
        observation.boundingBox = Rect{left / width, (height - bottom) / height,
                                       (right - left) / width, (bottom - top) / height};
        observation.candidates.push_back(RecognizedText{
            std::move(piece.text), std::clamp(piece.confidence / 100.0f, 0.0f, 1.0f)});
        result.observations.push_back(std::move(observation));
      }
    } while (it->Next(tesseract::RIL_TEXTLINE));
  }
  it.reset();
  api->Clear();
  return result;
}

}  // namespace uiglean
