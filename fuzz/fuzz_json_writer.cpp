// The JSON writer with its UTF-8 repair: a document of fuzzed strings, numbers and nestings must
// parse back (nlohmann-json rejects malformed UTF-8) to exactly what was written, with every
// string repaired and every number read back as the same double.
#include <fuzzer/FuzzedDataProvider.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "fuzz_check.h"
#include "uiglean/front/json.h"

namespace {

using nlohmann::json;
using uiglean::JsonWriter;

std::string repaired(const std::string& s) {
  std::string r = uiglean::sanitizeUtf8(s);
  FUZZ_CHECK(fuzzcheck::isValidUtf8(r));
  // Valid text is left alone, and repairing twice changes nothing.
  if (fuzzcheck::isValidUtf8(s)) FUZZ_CHECK(r == s);
  FUZZ_CHECK(uiglean::sanitizeUtf8(r) == r);
  // Every byte turns into at most one replacement character.
  FUZZ_CHECK(r.size() <= 3 * s.size());
  return r;
}

// Writes one value with `w` and returns what it should read back as.
json writeValue(FuzzedDataProvider& in, JsonWriter& w, int depth) {
  const int kind = in.ConsumeIntegralInRange(0, depth < 8 ? 6 : 4);
  switch (kind) {
    case 0: {
      std::string s = in.ConsumeRandomLengthString(64);
      w.string(s);
      return repaired(s);
    }
    case 1: {
      const double d = in.ConsumeFloatingPoint<double>();
      const auto bits = in.ConsumeIntegral<std::uint64_t>();
      const double v = in.ConsumeBool() ? d : std::bit_cast<double>(bits);
      if (!std::isfinite(v)) {
        bool threw = false;
        try {
          (void)uiglean::jsonNumber(v);
        } catch (const uiglean::EncodeError&) {
          threw = true;
        }
        FUZZ_CHECK(threw);
        w.integer(0);
        return 0;
      }
      w.number(v);
      const std::string text = uiglean::jsonNumber(v);
      FUZZ_CHECK(std::strtod(text.c_str(), nullptr) == v);
      return v;
    }
    case 2: {
      const auto i = in.ConsumeIntegral<std::int64_t>();
      w.integer(i);
      return i;
    }
    case 3: {
      const bool b = in.ConsumeBool();
      w.boolean(b);
      return b;
    }
    case 4: {
      w.beginArray();
      w.endArray();
      return json::array();
    }
    case 5: {
      json a = json::array();
      w.beginArray();
      const int n = in.ConsumeIntegralInRange(0, 6);
      for (int k = 0; k < n; ++k) a.push_back(writeValue(in, w, depth + 1));
      w.endArray();
      return a;
    }
    default: {
      json o = json::object();
      w.beginObject();
      const int n = in.ConsumeIntegralInRange(0, 6);
      for (int k = 0; k < n; ++k) {
        std::string key = in.ConsumeRandomLengthString(16);
        w.key(key);
        // A repeated key reads back with its last value.
        json value = writeValue(in, w, depth + 1);
        o[repaired(key)] = std::move(value);
      }
      w.endObject();
      return o;
    }
  }
}

bool sameValue(const json& a, const json& b) {
  if (a.is_number() && b.is_number()) {
    if (a.is_number_float() || b.is_number_float()) return a.get<double>() == b.get<double>();
    return a == b;
  }
  if (a.type() != b.type() || a.size() != b.size()) return false;
  if (a.is_array()) {
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (!sameValue(a[i], b[i])) return false;
    }
    return true;
  }
  if (a.is_object()) {
    for (auto it = a.begin(); it != a.end(); ++it) {
      if (!b.contains(it.key()) || !sameValue(it.value(), b[it.key()])) return false;
    }
    return true;
  }
  return a == b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  JsonWriter w;
  json expected = writeValue(in, w, 0);

  json back = json::parse(w.out, nullptr, false);
  if (back.is_discarded()) {
    std::fprintf(stderr, "does not parse: %s\n", w.out.c_str());
    FUZZ_CHECK(false);
  }
  FUZZ_CHECK(sameValue(back, expected));
  // One line, with every slash escaped.
  FUZZ_CHECK(w.out.find('\n') == std::string::npos);
  for (std::size_t i = w.out.find('/'); i != std::string::npos; i = w.out.find('/', i + 1)) {
    FUZZ_CHECK(i > 0 && w.out[i - 1] == '\\');
  }

  // The control-character escaping keeps text on one line and drops nothing else.
  const std::string rest = repaired(in.ConsumeRemainingBytesAsString());
  const std::string line = uiglean::escapeControls(rest);
  FUZZ_CHECK(fuzzcheck::isValidUtf8(line));
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    FUZZ_CHECK(c >= 0x20 && c != 0x7f);
    if (c == 0xc2 && i + 1 < line.size()) {
      const auto next = static_cast<unsigned char>(line[i + 1]);
      FUZZ_CHECK(next < 0x80 || next > 0x9f);
    }
  }
  return 0;
}
