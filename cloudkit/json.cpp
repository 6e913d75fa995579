#include "json.hpp"

#include "text.hpp"

#include <cstdio>
#include <ctime>

namespace cloudkit {

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (char32_t scalar : decodeUtf8(text)) {
        switch (scalar) {
        case U'"': out += "\\\""; break;
        case U'\\': out += "\\\\"; break;
        case U'/': out += "\\/"; break;
        case U'\n': out += "\\n"; break;
        case U'\r': out += "\\r"; break;
        case U'\t': out += "\\t"; break;
        case U'\b': out += "\\b"; break;
        case U'\f': out += "\\f"; break;
        default:
            if (scalar < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(scalar));
                out += escape;
            } else {
                appendUtf8(out, scalar);
            }
        }
    }
    return out + "\"";
}

std::string isoDate(std::int64_t millisecondsSince1970) {
    std::int64_t seconds = millisecondsSince1970 / 1000;
    if (millisecondsSince1970 % 1000 < 0) --seconds;  // round towards the past
    // Years 0000 to 9999 only, which also keeps time_t arithmetic in range.
    constexpr std::int64_t FIRST = -62167219200;  // 0000-01-01T00:00:00Z
    constexpr std::int64_t LAST = 253402300799;   // 9999-12-31T23:59:59Z
    if (seconds < FIRST || seconds > LAST) return {};
    const auto moment = static_cast<std::time_t>(seconds);
    std::tm utc{};
    if (gmtime_r(&moment, &utc) == nullptr) return {};
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                  utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text;
}

std::string listJson(const std::vector<ListEntry>& entries) {
    if (entries.empty()) return "[]";
    std::string out = "[\n";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ListEntry& entry = entries[i];
        out += "  {\n";
        out += "    \"account\" : " + jsonString(entry.account) + ",\n";
        out += std::string("    \"hasAsset\" : ") + (entry.hasAsset ? "true" : "false") + ",\n";
        out += "    \"key\" : " + jsonString(entry.key) + ",\n";
        out += "    \"recordName\" : " + jsonString(entry.recordName) + ",\n";
        out += "    \"updatedAt\" : " + jsonString(entry.updatedAtMs ? isoDate(*entry.updatedAtMs) : "") + "\n";
        out += i + 1 < entries.size() ? "  },\n" : "  }\n";
    }
    return out + "]";
}

} // namespace cloudkit
