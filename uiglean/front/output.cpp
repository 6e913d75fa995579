#include "uiglean/front/output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace uiglean {

namespace {
bool captureOn = false;
}  // namespace

void setCapture(bool on) { captureOn = on; }
bool capturing() { return captureOn; }

void writeJson(JsonWriter& w, const OkPayload& p) {
  w.beginObject();
  field(w, "ok", p.ok);
  field(w, "error", p.error);
  w.endObject();
}

void writeAll(int fd, const std::string& bytes) {
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

void fail(const std::string& message, std::int32_t code) {
  if (captureOn) throw RunOutcome{code, std::string(), escapeControls(sanitizeUtf8(message))};
  std::fflush(stdout);
  writeAll(2, "uiglean: " + escapeControls(sanitizeUtf8(message)) + "\n");
  std::exit(code);
}

void emitEncoded(const std::function<std::string()>& encoder) {
  std::string bytes;
  try {
    bytes = encoder();
  } catch (const EncodeError&) {
    fail("encode failed", 4);
  }
  if (captureOn) throw RunOutcome{0, std::move(bytes), std::string()};
  writeAll(1, bytes);
  std::exit(0);
}

}  // namespace uiglean
