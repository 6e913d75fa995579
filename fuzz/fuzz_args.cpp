// The pure part of the subcommands' argument parsing: whole-number and real arguments, settle's
// quiet period and limit, ocr's minimum text height and focuswindow's choice of a window. Each is
// checked against the rules written out here, independently of the parsers.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "scripted_elements.h"
#include "uiglean/actions/settle.h"
#include "uiglean/apps/windows.h"
#include "uiglean/front/casefold.h"
#include "uiglean/front/globals.h"
#include "uiglean/front/text.h"
#include "uiglean/ocr/ocr.h"

namespace {

struct RealText {
  bool unspecified = false;  // out of the double range: either answer is taken
  std::optional<double> value;
};

// A real: an optional sign, then a decimal number, "inf", "infinity" or "nan" (with its optional
// parenthesised tail), and nothing else; no blanks, no second sign, no hexadecimal form.
RealText expectedReal(const std::string& s) {
  std::string_view body = s;
  if (!body.empty() && (body[0] == '+' || body[0] == '-')) body.remove_prefix(1);
  if (body.empty()) return {};
  const char c = body[0];
  const bool startsNumber = (c >= '0' && c <= '9') || c == '.' || c == 'i' || c == 'I' ||
                            c == 'n' || c == 'N';
  if (!startsNumber) return {};
  if (body.size() > 1 && body[0] == '0' && (body[1] == 'x' || body[1] == 'X')) return {};
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size()) return {};
  if (errno == ERANGE) return {true, std::nullopt};
  return {false, v};
}

bool sameReal(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return a == b && std::signbit(a) == std::signbit(b);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first byte picks the subcommand; the rest is its words and then window titles, one a
  // line, the words ending at the first empty line.
  if (size == 0) return 0;
  std::vector<std::string> words{(data[0] & 1) != 0 ? "settle" : "ocr"};
  std::vector<std::string> titles;
  bool inTitles = false;
  std::string cur;
  for (std::size_t i = 1; i <= size; ++i) {
    if (i < size && data[i] != '\n') {
      cur.push_back(static_cast<char>(data[i]));
      continue;
    }
    if (!inTitles && cur.empty() && i < size) {
      inTitles = true;
      continue;
    }
    auto& into = inTitles ? titles : words;
    if (into.size() < 6) into.push_back(cur);
    cur.clear();
  }
  uiglean::startGlobals(words);

  for (const auto& word : words) {
    FUZZ_CHECK(uiglean::parseInt64(word) == fuzzcheck::decimal(word));
    const auto real = uiglean::parseDouble(word);
    const RealText expected = expectedReal(word);
    if (!expected.unspecified) {
      FUZZ_CHECK(real.has_value() == expected.value.has_value());
      if (real) FUZZ_CHECK(sameReal(*real, *expected.value));
    }
  }

  // settle [quietMs] [limitMs]: each falls back to its default on its own.
  const uiglean::SettleParams settle = uiglean::settleParams(words);
  const auto quiet = words.size() > 1 ? fuzzcheck::decimal(words[1]) : std::nullopt;
  const auto limit = words.size() > 2 ? fuzzcheck::decimal(words[2]) : std::nullopt;
  FUZZ_CHECK(settle.quietMs == quiet.value_or(300));
  FUZZ_CHECK(settle.limitMs == limit.value_or(3000));

  // ocr PATH [minimumTextHeight]
  const std::optional<std::string> heightText =
      words.size() > 2 ? std::optional<std::string>(words[2]) : std::nullopt;
  const float height = uiglean::minimumTextHeightArg(heightText);
  const auto heightValue = heightText ? uiglean::parseDouble(*heightText) : std::nullopt;
  if (!heightValue) {
    FUZZ_CHECK(height == uiglean::DEFAULT_MIN_TEXT_HEIGHT);
  } else if (std::isnan(*heightValue)) {
    FUZZ_CHECK(std::isnan(height));
  } else if (std::fabs(*heightValue) > std::numeric_limits<float>::max()) {
    FUZZ_CHECK(std::isinf(height) && std::signbit(height) == std::signbit(*heightValue));
  } else {
    FUZZ_CHECK(height == static_cast<float>(*heightValue));
  }

  // focuswindow ARG: the window at that index when ARG is a whole number in range, else the first
  // whose title contains ARG ignoring case.
  if (words.size() > 1) {
    uiglean::ElementList windows;
    for (std::size_t i = 0; i < titles.size(); ++i) {
      auto window = fuzzscene::element("w" + std::to_string(i));
      // An empty title stands for a window without one.
      if (!titles[i].empty()) fuzzscene::set(window, "AXTitle", fuzzscene::text(titles[i]));
      windows.push_back(uiglean::Element{window});
    }
    const std::string& arg = words[1];
    const auto chosen = uiglean::chooseWindow(windows, arg);
    std::optional<std::size_t> expected;
    const auto index = fuzzcheck::decimal(arg);
    if (index && *index >= 0 && static_cast<std::uint64_t>(*index) < windows.size()) {
      expected = static_cast<std::size_t>(*index);
    } else {
      for (std::size_t i = 0; i < titles.size() && !expected; ++i) {
        if (!titles[i].empty() && uiglean::containsIgnoringCase(titles[i], arg)) expected = i;
      }
    }
    FUZZ_CHECK(chosen.has_value() == expected.has_value());
    if (chosen) FUZZ_CHECK(chosen->impl == windows[*expected].impl);
  }
  return 0;
}
