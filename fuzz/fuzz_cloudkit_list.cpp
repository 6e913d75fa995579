// brindlehq-cloudkit's listing: any account, key and record name, any time stamp. The listing
// must be JSON that reads back to the repaired text, with slashes written "\/", and each time
// stamp the UTC date of its milliseconds (checked against a calendar computed here).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "json.hpp"
#include "text.hpp"

namespace {

// Days since 1970-01-01 to year, month and day of the proleptic Gregorian calendar.
void civil(std::int64_t days, std::int64_t& y, unsigned& m, unsigned& d) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
}

std::string expectedDate(std::int64_t ms) {
  std::int64_t seconds = ms / 1000;
  if (ms % 1000 < 0) --seconds;
  std::int64_t days = seconds / 86400, rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  std::int64_t y = 0;
  unsigned m = 0, d = 0;
  civil(days, y, m, d);
  if (y < 0 || y > 9999) return "";
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ", static_cast<long long>(y), m, d,
                static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                static_cast<long long>(rest % 60));
  return text;
}

std::int64_t stamp(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: return in.ConsumeIntegral<std::int64_t>();
    case 1: return in.ConsumeIntegralInRange<std::int64_t>(-62167219200000 - 5000, -62167219200000 + 5000);
    case 2: return in.ConsumeIntegralInRange<std::int64_t>(253402300799000 - 5000, 253402300799000 + 5000);
    default: return in.ConsumeIntegralInRange<std::int64_t>(-62167219200000, 253402300799999);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  std::vector<cloudkit::ListEntry> entries;
  while (in.remaining_bytes() > 0 && entries.size() < 8) {
    cloudkit::ListEntry e;
    e.account = in.ConsumeRandomLengthString(24);
    e.key = in.ConsumeRandomLengthString(24);
    e.recordName = in.ConsumeRandomLengthString(24);
    if (in.ConsumeBool()) e.updatedAtMs = stamp(in);
    e.hasAsset = in.ConsumeBool();
    entries.push_back(std::move(e));
  }
  const std::string out = cloudkit::listJson(entries);
  const auto back = nlohmann::json::parse(out, nullptr, false);
  if (back.is_discarded()) {
    std::fprintf(stderr, "does not parse:\n%s\n", out.c_str());
    FUZZ_CHECK(false);
  }
  FUZZ_CHECK(back.is_array() && back.size() == entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto& e = entries[i];
    const auto& j = back[i];
    FUZZ_CHECK(j.size() == 5);
    FUZZ_CHECK(j["account"] == cloudkit::validUtf8(e.account));
    FUZZ_CHECK(j["key"] == cloudkit::validUtf8(e.key));
    FUZZ_CHECK(j["recordName"] == cloudkit::validUtf8(e.recordName));
    FUZZ_CHECK(j["hasAsset"] == e.hasAsset);
    const std::string date = e.updatedAtMs ? expectedDate(*e.updatedAtMs) : "";
    if (j["updatedAt"] != date) {
      std::fprintf(stderr, "%lld ms: \"%s\", expected \"%s\"\n", static_cast<long long>(*e.updatedAtMs),
                   j["updatedAt"].get<std::string>().c_str(), date.c_str());
      FUZZ_CHECK(false);
    }
  }
  for (std::size_t i = out.find('/'); i != std::string::npos; i = out.find('/', i + 1)) {
    FUZZ_CHECK(i > 0 && out[i - 1] == '\\');
  }
  return 0;
}
