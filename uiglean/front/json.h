// A small writer for compact JSON: keys in the order they are written, "/" escaped as "\/",
// text beyond ASCII written as UTF-8, invalid UTF-8 replaced by U+FFFD. A non-finite number
// throws EncodeError.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace uiglean {

struct EncodeError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Returns `s` with every invalid UTF-8 sequence replaced by U+FFFD (one per maximal invalid
// subpart, as the Unicode standard recommends).
std::string sanitizeUtf8(std::string_view s);

// Returns `s` (valid UTF-8) with its control characters written out, so that it stays on one line:
// a line feed as backslash and "n", every other control character (C0, DEL and C1) as \u00XX.
std::string escapeControls(std::string_view s);

struct JsonWriter {
  std::string out;

  void beginObject();
  void endObject();
  void beginArray();
  void endArray();
  void key(std::string_view k);
  void string(std::string_view s);
  void number(double d);
  void integer(std::int64_t i);
  void boolean(bool b);

 private:
  std::vector<bool> first_;
  bool afterKey_ = false;
  void separate();
};

// Appends `s` as a JSON string literal (with quotes) to `out`.
void appendJsonString(std::string& out, std::string_view s);
// Shortest text that reads back as the same double; throws EncodeError when not finite.
std::string jsonNumber(double d);

// Field helpers; the optional ones write nothing when empty.
inline void field(JsonWriter& w, std::string_view k, std::string_view v) { w.key(k); w.string(v); }
inline void field(JsonWriter& w, std::string_view k, const char* v) { w.key(k); w.string(v); }
inline void field(JsonWriter& w, std::string_view k, const std::string& v) { w.key(k); w.string(v); }
inline void field(JsonWriter& w, std::string_view k, bool v) { w.key(k); w.boolean(v); }
inline void field(JsonWriter& w, std::string_view k, std::int64_t v) { w.key(k); w.integer(v); }
inline void field(JsonWriter& w, std::string_view k, std::int32_t v) { w.key(k); w.integer(v); }
inline void field(JsonWriter& w, std::string_view k, std::uint32_t v) { w.key(k); w.integer(v); }
inline void field(JsonWriter& w, std::string_view k, double v) { w.key(k); w.number(v); }
template <class T>
void field(JsonWriter& w, std::string_view k, const std::optional<T>& v) {
  if (v) field(w, k, *v);
}
void field(JsonWriter& w, std::string_view k, const std::vector<std::string>& v);
void field(JsonWriter& w, std::string_view k, const std::vector<double>& v);

}  // namespace uiglean
