// The two ways every run ends: emit (a result record on standard output, status 0) and fail
// (one "uiglean: " line on standard error, a non-zero status).
//
// A run made through runCaptured (front/commands.h) ends the same two ways without ending the
// process: emit and fail throw its RunOutcome instead, which runCaptured catches.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "uiglean/front/json.h"

namespace uiglean {

struct OkPayload {
  bool ok = true;
  std::optional<std::string> error;
};
void writeJson(JsonWriter& w, const OkPayload& p);

// Encodes a record; throws EncodeError when it cannot be encoded.
template <class R>
std::string encode(const R& record) {
  JsonWriter w;
  writeJson(w, record);
  return std::move(w.out);
}

// How one run ended: status 0 with the encoded record in `json`, or a failure status with its
// message (without the "uiglean: " prefix).
struct RunOutcome {
  std::int32_t status = 0;
  std::string json;
  std::string message;
};

// While a capture is active (runCaptured), emit and fail throw a RunOutcome instead of writing
// and exiting. RunOutcome is deliberately no std::exception, so that no handler in a subcommand
// takes it for an error of its own.
void setCapture(bool on);
bool capturing();

[[noreturn]] void fail(const std::string& message, std::int32_t code);

// Writes all of `bytes` to the file descriptor (retrying short and interrupted writes; a write
// error drops the rest).
void writeAll(int fd, const std::string& bytes);
// Writes the encoded bytes and exits 0, or fails with "encode failed" when encoding throws.
[[noreturn]] void emitEncoded(const std::function<std::string()>& encoder);

template <class R>
[[noreturn]] void emit(const R& record) {
  emitEncoded([&] { return encode(record); });
}

inline OkPayload okResult() { return OkPayload{true, std::nullopt}; }
inline OkPayload errorResult(std::string message) { return OkPayload{false, std::move(message)}; }

}  // namespace uiglean
