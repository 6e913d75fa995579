// brindlehq-cloudkit's naming and message text: record names and container file stems from any
// bytes, UTF-8 repair, printable messages and password masking.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "text.hpp"

namespace {

bool asciiWordChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void checkStem(const std::string& id, const std::string& stem) {
  FUZZ_CHECK(!stem.empty() && stem.size() <= 160);
  FUZZ_CHECK(stem != "." && stem != "..");
  const std::size_t tilde = stem.find('~');
  for (std::size_t i = 0; i < stem.size(); ++i) {
    const auto c = static_cast<unsigned char>(stem[i]);
    FUZZ_CHECK(asciiWordChar(c) || c == '-' || c == '%' || (c == '~' && i == tilde));
  }
  if (tilde != std::string::npos) {
    // A long identifier: a prefix of its escaped form, "~" and 64 hexadecimal digits.
    FUZZ_CHECK(stem.size() == tilde + 1 + 64);
    return;
  }
  if (id.empty()) {
    FUZZ_CHECK(stem == "%");
    return;
  }
  // A short one unescapes to the identifier.
  std::string back;
  for (std::size_t i = 0; i < stem.size(); ++i) {
    if (stem[i] != '%') {
      back.push_back(stem[i]);
      continue;
    }
    FUZZ_CHECK(i + 2 < stem.size());
    const int hi = hexValue(stem[i + 1]), lo = hexValue(stem[i + 2]);
    FUZZ_CHECK(hi >= 0 && lo >= 0);
    back.push_back(static_cast<char>(hi * 16 + lo));
    i += 2;
  }
  FUZZ_CHECK(back == id);
}

bool isControl(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string key = in.ConsumeRandomLengthString(48);
  const std::string account = in.ConsumeRandomLengthString(48);
  const std::string other = in.ConsumeRandomLengthString(200);
  const std::string text = in.ConsumeRemainingBytesAsString();

  // UTF-8 repair.
  for (const std::string* s : {&key, &account, &text}) {
    const std::string valid = cloudkit::validUtf8(*s);
    FUZZ_CHECK(fuzzcheck::isValidUtf8(valid));
    FUZZ_CHECK(cloudkit::validUtf8(valid) == valid);
    if (fuzzcheck::isValidUtf8(*s)) FUZZ_CHECK(valid == *s);
    FUZZ_CHECK(cloudkit::decodeUtf8(*s).size() <= s->size());
  }

  // Record names: every scalar of the key and account kept when it is a letter, mark, number or
  // "_", else "_"; ASCII the plain way.
  const std::string safeKey = cloudkit::safe(key);
  FUZZ_CHECK(fuzzcheck::isValidUtf8(safeKey));
  FUZZ_CHECK(cloudkit::decodeUtf8(safeKey).size() == cloudkit::decodeUtf8(key).size());
  for (char32_t c : cloudkit::decodeUtf8(safeKey)) FUZZ_CHECK(c == U'_' || cloudkit::isAlphanumeric(c));
  if (fuzzcheck::isValidUtf8(key)) {
    const auto scalars = cloudkit::decodeUtf8(key);
    const auto kept = cloudkit::decodeUtf8(safeKey);
    for (std::size_t i = 0; i < scalars.size(); ++i) {
      if (scalars[i] < 0x80) FUZZ_CHECK(kept[i] == (asciiWordChar(static_cast<unsigned char>(scalars[i])) ? scalars[i] : U'_'));
    }
  }
  FUZZ_CHECK(cloudkit::recordName(key, account) == "cb_backup_" + safeKey + "__" + cloudkit::safe(account));

  // Container stems: safe file names, one per identifier.
  const std::string stemA = cloudkit::containerStem(other);
  const std::string stemB = cloudkit::containerStem(key);
  checkStem(other, stemA);
  checkStem(key, stemB);
  FUZZ_CHECK((stemA == stemB) == (other == key));

  // Messages: one line, no control characters, valid text, plain text untouched.
  const std::string line = cloudkit::printable(text);
  FUZZ_CHECK(fuzzcheck::isValidUtf8(line));
  for (char32_t c : cloudkit::decodeUtf8(line)) FUZZ_CHECK(!isControl(c));
  bool plain = fuzzcheck::isValidUtf8(text) && text.find('\\') == std::string::npos;
  for (char32_t c : cloudkit::decodeUtf8(text)) plain = plain && !isControl(c);
  if (plain) FUZZ_CHECK(line == text);

  // A connection URI's passwords never show in a message that quotes it.
  for (const std::string& uri : {"postgresql://" + text, "postgres://" + key + "@h/db?" + account}) {
    const std::vector<std::string> secrets = cloudkit::uriSecrets(uri);
    const std::string masked = cloudkit::maskPasswords("cannot connect to " + uri + " (\"" + key + "\")", secrets);
    for (const std::string& secret : secrets) {
      if (secret.size() >= 4 && secret.find('*') == std::string::npos) {
        if (masked.find(secret) != std::string::npos) {
          std::fprintf(stderr, "secret \"%s\" shows in: %s\n", secret.c_str(), masked.c_str());
          FUZZ_CHECK(false);
        }
      }
    }
  }
  return 0;
}
