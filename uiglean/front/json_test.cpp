#include "uiglean/front/json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "uiglean/front/output.h"

namespace uiglean {
namespace {

TEST(JsonWriter, CompactInFieldOrderWithOptionalFieldsLeftOut) {
  EXPECT_EQ(encode(OkPayload{true, std::nullopt}), R"({"ok":true})");
  EXPECT_EQ(encode(OkPayload{false, "AXPress failed (-25206)"}),
            R"j({"ok":false,"error":"AXPress failed (-25206)"})j");
  JsonWriter w;
  w.beginObject();
  field(w, "z", std::int64_t{1});
  field(w, "a", std::vector<std::string>{});
  w.key("nested");
  w.beginArray();
  w.beginObject();
  w.endObject();
  w.beginArray();
  w.endArray();
  w.endArray();
  w.endObject();
  EXPECT_EQ(w.out, R"({"z":1,"a":[],"nested":[{},[]]})");
}

TEST(JsonWriter, EscapesSlashesQuotesAndControlsButNotUnicode) {
  std::string out;
  appendJsonString(out, "a/b \"q\" \\ \n\t\r\b\f \x01\x1f caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x98\x80");
  EXPECT_EQ(out,
            "\"a\\/b \\\"q\\\" \\\\ \\n\\t\\r\\b\\f \\u0001\\u001f caf\xC3\xA9 \xE2\x80\x94 "
            "\xF0\x9F\x98\x80\"");
}

TEST(JsonWriter, InvalidUtf8BecomesReplacementCharacters) {
  const std::string fffd = "\xEF\xBF\xBD";
  // A lone continuation byte, a truncated sequence, an overlong form, a surrogate, a byte that
  // never starts a sequence, and a truncated sequence at the very end.
  EXPECT_EQ(sanitizeUtf8("a\x80z"), "a" + fffd + "z");
  EXPECT_EQ(sanitizeUtf8("a\xE2\x80z"), "a" + fffd + "z");
  EXPECT_EQ(sanitizeUtf8("\xC0\xAF"), fffd + fffd);
  EXPECT_EQ(sanitizeUtf8("\xED\xA0\x80"), fffd + fffd + fffd);
  EXPECT_EQ(sanitizeUtf8("\xFF"), fffd);
  EXPECT_EQ(sanitizeUtf8("ok\xF0\x9F\x98"), "ok" + fffd);
  EXPECT_EQ(sanitizeUtf8("\xF4\x90\x80\x80"), fffd + fffd + fffd + fffd);  // beyond U+10FFFF
  const std::string valid = "w0 \xC3\xA9\xE2\x80\x94\xF0\x9F\x98\x80";
  EXPECT_EQ(sanitizeUtf8(valid), valid);
  std::string out;
  appendJsonString(out, "w\xFF\x30");
  EXPECT_EQ(out, "\"w" + fffd + "0\"");
}

TEST(FailureLine, ControlCharactersAreWrittenOut) {
  EXPECT_EQ(escapeControls("View\nuiglean: forged"), "View\\nuiglean: forged");
  EXPECT_EQ(escapeControls(std::string("a\rb\tc\x1b[31m\x7f\0d", 13)),
            "a\\u000db\\u0009c\\u001b[31m\\u007f\\u0000d");
  // C1 controls (U+0085 is a line break to some terminals) but not the letters next to them.
  EXPECT_EQ(escapeControls("x\xC2\x85y \xC2\xA0 \xC3\xA9 \xE2\x80\x94"),
            "x\\u0085y \xC2\xA0 \xC3\xA9 \xE2\x80\x94");
  EXPECT_EQ(escapeControls("a \\n stays"), "a \\n stays");
}

TEST(JsonWriter, NumbersReadBackAndNonFiniteThrows) {
  EXPECT_EQ(jsonNumber(1440), "1440");
  EXPECT_EQ(jsonNumber(0.1), "0.1");
  EXPECT_EQ(jsonNumber(-0.0), "0");
  EXPECT_EQ(jsonNumber(-12.5), "-12.5");
  EXPECT_EQ(std::stod(jsonNumber(1.0 / 3)), 1.0 / 3);
  EXPECT_EQ(std::stod(jsonNumber(static_cast<double>(0.3f))), static_cast<double>(0.3f));
  EXPECT_THROW(jsonNumber(std::numeric_limits<double>::quiet_NaN()), EncodeError);
  EXPECT_THROW(jsonNumber(std::numeric_limits<double>::infinity()), EncodeError);
  EXPECT_THROW(jsonNumber(-std::numeric_limits<double>::infinity()), EncodeError);
}

}  // namespace
}  // namespace uiglean
