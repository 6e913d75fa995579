// Case-insensitive matching: equality is an equivalence (reflexive, symmetric, transitive), text
// contains itself and every piece cut from it on character boundaries, and the lower-case mapping
// is idempotent, keeps valid text valid and never changes what text matches.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "uiglean/front/casefold.h"

namespace {

using uiglean::containsIgnoringCase;
using uiglean::equalsIgnoringCase;
using uiglean::lowercaseFull;

bool isBoundary(const std::string& s, std::size_t i) {
  return i == 0 || i == s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string a = in.ConsumeRandomLengthString(64);
  const std::string b = in.ConsumeRandomLengthString(64);
  const std::string c = in.ConsumeRemainingBytesAsString();

  FUZZ_CHECK(equalsIgnoringCase(a, a));
  FUZZ_CHECK(equalsIgnoringCase(a, b) == equalsIgnoringCase(b, a));
  if (equalsIgnoringCase(a, b) && equalsIgnoringCase(b, c)) FUZZ_CHECK(equalsIgnoringCase(a, c));
  if (equalsIgnoringCase(a, b)) FUZZ_CHECK(containsIgnoringCase(a, b) == !b.empty());

  FUZZ_CHECK(containsIgnoringCase(a, a) == !a.empty());
  FUZZ_CHECK(!containsIgnoringCase(a, ""));
  FUZZ_CHECK(!containsIgnoringCase("", a));

  const std::string lower = lowercaseFull(a);
  FUZZ_CHECK(lowercaseFull(lower) == lower);
  if (fuzzcheck::isValidUtf8(a)) {
    FUZZ_CHECK(fuzzcheck::isValidUtf8(lower));
    FUZZ_CHECK(equalsIgnoringCase(a, lower));
    FUZZ_CHECK(containsIgnoringCase(lower, a) == !a.empty());
  } else {
    // Invalid bytes are kept as they are.
    FUZZ_CHECK(!fuzzcheck::isValidUtf8(lower));
  }

  // Valid text holds, ignoring case, every piece of it that starts and ends on character
  // boundaries, whatever text surrounds it.
  if (fuzzcheck::isValidUtf8(a) && fuzzcheck::isValidUtf8(b) && fuzzcheck::isValidUtf8(c) &&
      !c.empty()) {
    const std::size_t from = static_cast<std::size_t>(c.size() * 2 / 5);
    std::size_t start = from, end = c.size() - from / 2;
    while (!isBoundary(c, start)) --start;
    while (!isBoundary(c, end)) ++end;
    if (end > start) {
      const std::string piece = c.substr(start, end - start);
      FUZZ_CHECK(containsIgnoringCase(c, piece));
      FUZZ_CHECK(containsIgnoringCase(a + c + b, piece));
      FUZZ_CHECK(containsIgnoringCase(a + c + b, lowercaseFull(piece)));
    }
    FUZZ_CHECK(equalsIgnoringCase(a + c, lowercaseFull(a) + c));
  }
  return 0;
}
