#include "uiglean/front/json.h"

#include "uiglean/front/text.h"

#include <charconv>
#include <cmath>

namespace uiglean {

std::string sanitizeUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  static const char kReplacement[] = "\xEF\xBF\xBD";
  std::size_t i = 0;
  const std::size_t n = s.size();
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  while (i < n) {
    unsigned char c = byte(i);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      ++i;
      continue;
    }
    std::size_t len = 0;
    unsigned char lo = 0x80, hi = 0xbf;  // allowed range of the second byte
    if (c >= 0xc2 && c <= 0xdf) {
      len = 2;
    } else if (c >= 0xe0 && c <= 0xef) {
      len = 3;
      if (c == 0xe0) lo = 0xa0;
      if (c == 0xed) hi = 0x9f;  // no surrogates
    } else if (c >= 0xf0 && c <= 0xf4) {
      len = 4;
      if (c == 0xf0) lo = 0x90;
      if (c == 0xf4) hi = 0x8f;
    } else {
      out += kReplacement;
      ++i;
      continue;
    }
    // Take the longest valid prefix; an incomplete one is one replacement character.
    std::size_t k = 1;
    while (k < len && i + k < n) {
      unsigned char b = byte(i + k);
      unsigned char l = k == 1 ? lo : 0x80, h = k == 1 ? hi : 0xbf;
      if (b < l || b > h) break;
      ++k;
    }
    if (k == len) {
      out.append(s.substr(i, len));
    } else {
      out += kReplacement;
    }
    i += k;
  }
  return out;
}

std::string escapeControls(std::string_view s) {
  static const char hex[] = "0123456789abcdef";
  std::string out;
  out.reserve(s.size());
  auto escaped = [&](unsigned code) {
    out += "\\u00";
    out.push_back(hex[code >> 4]);
    out.push_back(hex[code & 0xf]);
  };
  for (std::size_t i = 0; i < s.size(); ++i) {
    auto c = static_cast<unsigned char>(s[i]);
    if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c == 0x7f) {
      escaped(c);
    } else if (c == 0xc2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(s[i + 1]) <= 0x9f) {
      escaped(static_cast<unsigned char>(s[i + 1]));  // U+0080 to U+009F
      ++i;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

namespace {

bool isValidUtf8(std::string_view s) {
  for (unsigned char c : s) {
    if (c >= 0x80) return sanitizeUtf8(s) == s;
  }
  return true;
}

}  // namespace

void appendJsonString(std::string& out, std::string_view raw) {
  std::string fixed;
  std::string_view s = raw;
  if (!isValidUtf8(raw)) {
    fixed = sanitizeUtf8(raw);
    s = fixed;
  }
  out.push_back('"');
  std::size_t run = 0;  // start of the bytes not yet copied
  for (std::size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x20 && c != '"' && c != '\\' && c != '/') continue;
    out.append(s.substr(run, i - run));
    run = i + 1;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '/': out += "\\/"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: {
        static const char hex[] = "0123456789abcdef";
        out += "\\u00";
        out.push_back(hex[c >> 4]);
        out.push_back(hex[c & 0xf]);
      }
    }
  }
  out.append(s.substr(run));
  out.push_back('"');
}

std::string jsonNumber(double d) {
  if (!std::isfinite(d)) throw EncodeError("non-finite number");
  if (d == 0) return "0";  // also -0
  return shortestDecimal(d);
}

void JsonWriter::separate() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!first_.empty()) {
    if (!first_.back()) out.push_back(',');
    first_.back() = false;
  }
}

void JsonWriter::beginObject() {
  separate();
  out.push_back('{');
  first_.push_back(true);
}
void JsonWriter::endObject() {
  out.push_back('}');
  first_.pop_back();
}
void JsonWriter::beginArray() {
  separate();
  out.push_back('[');
  first_.push_back(true);
}
void JsonWriter::endArray() {
  out.push_back(']');
  first_.pop_back();
}
void JsonWriter::key(std::string_view k) {
  separate();
  bool plain = true;
  for (unsigned char c : k) plain = plain && c >= 0x20 && c < 0x80 && c != '"' && c != '\\' && c != '/';
  if (plain) {
    out.push_back('"');
    out.append(k);
    out += "\":";
  } else {
    appendJsonString(out, k);
    out.push_back(':');
  }
  afterKey_ = true;
}
void JsonWriter::string(std::string_view s) {
  separate();
  appendJsonString(out, s);
}
void JsonWriter::number(double d) {
  separate();
  out += jsonNumber(d);
}
void JsonWriter::integer(std::int64_t i) {
  separate();
  out += std::to_string(i);
}
void JsonWriter::boolean(bool b) {
  separate();
  out += b ? "true" : "false";
}

void field(JsonWriter& w, std::string_view k, const std::vector<std::string>& v) {
  w.key(k);
  w.beginArray();
  for (const auto& s : v) w.string(s);
  w.endArray();
}

void field(JsonWriter& w, std::string_view k, const std::vector<double>& v) {
  w.key(k);
  w.beginArray();
  for (double d : v) w.number(d);
  w.endArray();
}

}  // namespace uiglean
