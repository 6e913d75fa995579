#include "uiglean/input/screenshot.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "uiglean/ax/readers.h"
#include "uiglean/front/commands.h"
#include "uiglean/front/globals.h"
#include "uiglean/front/output.h"
#include "uiglean/front/text.h"
#include "uiglean/ocr/ocr.h"

namespace uiglean {

std::string base64(const std::string& bytes) {
  static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  auto at = [&](std::size_t k) { return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[k])); };
  for (; i + 2 < bytes.size(); i += 3) {
    std::uint32_t v = at(i) << 16 | at(i + 1) << 8 | at(i + 2);
    out += alphabet[v >> 18];
    out += alphabet[(v >> 12) & 63];
    out += alphabet[(v >> 6) & 63];
    out += alphabet[v & 63];
  }
  if (i + 1 == bytes.size()) {
    std::uint32_t v = at(i) << 16;
    out += alphabet[v >> 18];
    out += alphabet[(v >> 12) & 63];
    out += "==";
  } else if (i + 2 == bytes.size()) {
    std::uint32_t v = at(i) << 16 | at(i + 1) << 8;
    out += alphabet[v >> 18];
    out += alphabet[(v >> 12) & 63];
    out += alphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

std::variant<ScreenshotRequest, ParseError> parseScreenshotWords(
    const std::vector<std::string>& words) {
  ScreenshotRequest r;
  bool window = false;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (w == "window") {
      window = true;
    } else if (w == "display") {
      r.display = true;
      if (i + 1 < words.size()) {
        if (auto id = parseInt64(words[i + 1])) {
          if (*id < 0 || *id > 0xffffffffLL) return ParseError{"no display " + words[i + 1]};
          r.displayId = static_cast<std::uint32_t>(*id);
          ++i;
        }
      }
    } else if (w == "ocr") {
      r.ocr = true;
    } else {
      return ParseError{"unknown word \"" + w + "\" (window, display [ID] or ocr)"};
    }
  }
  if (window && r.display) return ParseError{"a window or a display, not both"};
  return r;
}

namespace {

struct ScreenshotPayload {
  std::optional<std::string> path;
  std::optional<std::string> png;  // base64, when no file was asked for
  std::int64_t w = 0, h = 0;
  std::optional<std::uint32_t> window;
  std::optional<std::uint32_t> display;
  std::optional<std::vector<OcrLine>> lines;
  std::optional<std::string> ocrError;
};

void writeJson(JsonWriter& w, const ScreenshotPayload& p) {
  w.beginObject();
  field(w, "ok", true);
  field(w, "path", p.path);
  field(w, "w", p.w);
  field(w, "h", p.h);
  field(w, "window", p.window);
  field(w, "display", p.display);
  if (p.lines) {
    w.key("lines");
    w.beginArray();
    for (const auto& line : *p.lines) writeJson(w, line);
    w.endArray();
  }
  field(w, "ocrError", p.ocrError);
  field(w, "png", p.png);
  w.endObject();
}

// The frontmost application's front window: the focused one, else the main one, else the first.
std::optional<Element> frontWindow(const Element& app) {
  if (auto w = attrElement(app, "AXFocusedWindow")) return w;
  if (auto w = attrElement(app, "AXMainWindow")) return w;
  if (auto list = attrElements(app, "AXWindows"); list && !list->empty()) return list->front();
  return std::nullopt;
}

void writeFile(const std::string& path, const std::string& bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) fail("cannot write " + sanitizeUtf8(path) + ": " + std::strerror(errno), 5);
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int error = errno;
      ::close(fd);
      fail("cannot write " + sanitizeUtf8(path) + ": " + std::strerror(error), 5);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) fail("cannot write " + sanitizeUtf8(path) + ": " + std::strerror(errno), 5);
}

}  // namespace

void cmdScreenshot() {
  if (args.size() < 2 || args[1].empty()) {
    fail("screenshot needs a file to write (or - for the PNG in the record)", 5);
  }
  // "--help" or "-o" is a mistaken option, not a file to create in the working folder.
  if (args[1].size() > 1 && args[1][0] == '-') {
    fail("screenshot: \"" + sanitizeUtf8(args[1]) + "\" is not a file to write (a file named so is ./" +
             sanitizeUtf8(args[1]) + ")",
         5);
  }
  auto parsed = parseScreenshotWords(std::vector<std::string>(args.begin() + 2, args.end()));
  if (auto* e = std::get_if<ParseError>(&parsed)) fail("screenshot: " + e->message, 5);
  const auto& request = std::get<ScreenshotRequest>(parsed);

  ScreenshotPayload payload;
  ScreenCapture capture;
  if (request.display) {
    std::uint32_t id = request.displayId.value_or(mainDisplayId());
    std::vector<std::uint32_t> displays = activeDisplayList(32);
    // With no display at all, the platform tells why (a session without a screen to read).
    if (!displays.empty() && std::find(displays.begin(), displays.end(), id) == displays.end()) {
      fail("no display " + std::to_string(id), 5);
    }
    payload.display = id;
    capture = captureDisplay(id);
  } else {
    FrontApp front = requireFrontmostApp();
    axSetMessagingTimeout(front.element, 2.0f);
    auto window = frontWindow(front.element);
    if (!window) emit(errorResult("the frontmost application shows no window"));
    WindowNumberResult number = axGetWindowNumber(*window);
    if (number.status != axerr::success) {
      emit(errorResult("the front window has no window-server number (" +
                       std::to_string(number.status) + ")"));
    }
    payload.window = number.windowNumber;
    capture = captureWindow(number.windowNumber);
  }
  if (capture.error) emit(errorResult(*capture.error));
  if (capture.png.empty()) emit(errorResult("the capture gave no picture"));
  payload.w = capture.width;
  payload.h = capture.height;

  if (request.ocr) {
    Bitmap bitmap = capture.image ? imageBitmap(capture.image) : Bitmap{};
    if (!bitmap) {
      payload.ocrError = "the picture could not be handed to the text recognizer";
    } else {
      TextRecognitionResult result =
          performTextRecognition(bitmap, ocrRequest(DEFAULT_MIN_TEXT_HEIGHT));
      if (result.error) {
        payload.ocrError = *result.error;
      } else {
        payload.lines = ocrLines(result.observations, static_cast<double>(bitmapWidth(bitmap)),
                                 static_cast<double>(bitmapHeight(bitmap)));
      }
    }
  }
  if (args[1] == "-") {
    payload.png = base64(capture.png);
  } else {
    writeFile(args[1], capture.png);
    payload.path = args[1];
  }
  emit(payload);
}

}  // namespace uiglean
