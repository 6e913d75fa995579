#include "text.hpp"

#include "digest.hpp"

#include <algorithm>
#include <array>
#include <cstdio>

namespace cloudkit {
namespace {

struct ScalarRange {
    char32_t first;
    char32_t last;
};

constexpr ScalarRange ALPHANUMERIC_RANGES[] = {
#include "alnum_table.inc"
};

constexpr char32_t REPLACEMENT = 0xFFFD;
constexpr std::size_t STEM_MAX = 160;
constexpr std::size_t STEM_PREFIX = 80;
constexpr std::size_t MIN_BARE_SECRET = 4;

// The text in double quotes, built by appending (GCC 12 at -O3 takes "\"" + text + "\"" for an
// overlapping copy).
std::string quoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    out += text;
    out += '"';
    return out;
}

} // namespace

std::vector<char32_t> decodeUtf8(std::string_view text) {
    std::vector<char32_t> out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        char32_t scalar = 0;
        char32_t minimum = 0;
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, scalar = lead & 0x1Fu, minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, scalar = lead & 0x0Fu, minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, scalar = lead & 0x07u, minimum = 0x10000;
        }
        bool good = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; good && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            good = (next & 0xC0u) == 0x80u;
            scalar = (scalar << 6) | (next & 0x3Fu);
        }
        good = good && scalar >= minimum && scalar <= 0x10FFFF && (scalar < 0xD800 || scalar > 0xDFFF);
        if (good) {
            out.push_back(scalar);
            i += length;
        } else {
            out.push_back(REPLACEMENT);
            ++i;
        }
    }
    return out;
}

void appendUtf8(std::string& out, char32_t scalar) {
    if (scalar < 0x80) {
        out += static_cast<char>(scalar);
    } else if (scalar < 0x800) {
        out += static_cast<char>(0xC0 | (scalar >> 6));
        out += static_cast<char>(0x80 | (scalar & 0x3F));
    } else if (scalar < 0x10000) {
        out += static_cast<char>(0xE0 | (scalar >> 12));
        out += static_cast<char>(0x80 | ((scalar >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (scalar & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (scalar >> 18));
        out += static_cast<char>(0x80 | ((scalar >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((scalar >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (scalar & 0x3F));
    }
}

std::string validUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t scalar : decodeUtf8(text)) appendUtf8(out, scalar);
    return out;
}

bool isAlphanumeric(char32_t scalar) {
    const auto* end = std::end(ALPHANUMERIC_RANGES);
    const auto* it = std::upper_bound(std::begin(ALPHANUMERIC_RANGES), end, scalar,
                                      [](char32_t s, const ScalarRange& r) { return s < r.first; });
    return it != std::begin(ALPHANUMERIC_RANGES) && scalar <= (it - 1)->last;
}

std::string safe(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t scalar : decodeUtf8(text)) appendUtf8(out, scalar == U'_' || isAlphanumeric(scalar) ? scalar : U'_');
    return out;
}

std::string recordName(std::string_view key, std::string_view accountId) {
    return "cb_backup_" + safe(key) + "__" + safe(accountId);
}

std::string sha256Hex(std::string_view data) { return digestOf(data.data(), data.size()).sha256; }

std::string printable(std::string_view text) {
    static constexpr char HEX[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead == '\\') {
            out += "\\\\";
            ++i;
            continue;
        }
        if (lead == '\n' || lead == '\r' || lead == '\t') {
            out += lead == '\n' ? "\\n" : lead == '\r' ? "\\r" : "\\t";
            ++i;
            continue;
        }
        // Decode one scalar to tell a well-formed sequence from a stray byte.
        std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                                                              : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
        std::vector<char32_t> scalars;
        if (length != 0 && i + length <= text.size()) scalars = decodeUtf8(text.substr(i, length));
        if (scalars.size() != 1) {
            out += "\\x";
            out += HEX[lead >> 4];
            out += HEX[lead & 15];
            ++i;
            continue;
        }
        const char32_t scalar = scalars[0];
        if (scalar < 0x20 || (scalar >= 0x7F && scalar <= 0x9F) || scalar == 0x2028 || scalar == 0x2029) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(scalar));
            out += escape;
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
    return out;
}

namespace {

std::string percentDecoded(std::string_view text) {
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && digit(text[i + 1]) >= 0 && digit(text[i + 2]) >= 0) {
            out += static_cast<char>(digit(text[i + 1]) * 16 + digit(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool startsWithNoCase(std::string_view text, std::size_t at, std::string_view word) {
    if (at + word.size() > text.size()) return false;
    for (std::size_t k = 0; k < word.size(); ++k) {
        char c = text[at + k];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != word[k]) return false;
    }
    return true;
}

void addSecret(std::vector<std::string>& secrets, std::string_view raw) {
    for (std::string secret : {std::string(raw), percentDecoded(raw)}) {
        if (!secret.empty() && std::find(secrets.begin(), secrets.end(), secret) == secrets.end())
            secrets.push_back(std::move(secret));
    }
}

} // namespace

std::vector<std::string> uriSecrets(std::string_view uri) {
    std::vector<std::string> secrets;
    std::size_t start = 0;
    if (uri.rfind("postgresql://", 0) == 0) start = 13;
    else if (uri.rfind("postgres://", 0) == 0) start = 11;
    else return secrets;
    // The user info ends at the first "@" before any "/", as libpq reads it.
    const std::size_t stop = uri.find_first_of("@/", start);
    if (stop != std::string_view::npos && uri[stop] == '@') {
        const std::string_view userInfo = uri.substr(start, stop - start);
        if (const std::size_t colon = userInfo.find(':'); colon != std::string_view::npos)
            addSecret(secrets, userInfo.substr(colon + 1));
    }
    const std::size_t query = uri.find('?', stop == std::string_view::npos ? start : stop);
    if (query == std::string_view::npos) return secrets;
    std::string_view rest = uri.substr(query + 1);
    while (true) {
        const std::size_t amp = rest.find('&');
        const std::string_view param = rest.substr(0, amp);
        const std::size_t equals = param.find('=');
        if (equals != std::string_view::npos && percentDecoded(param.substr(0, equals)) == "password")
            addSecret(secrets, param.substr(equals + 1));
        if (amp == std::string_view::npos) break;
        rest = rest.substr(amp + 1);
    }
    return secrets;
}

std::string maskPasswords(std::string_view text, const std::vector<std::string>& secrets) {
    static constexpr std::string_view MASK = "***";
    std::string out(text);
    // The password of every URI's user info.
    for (std::size_t scheme = out.find("://"); scheme != std::string::npos; scheme = out.find("://", scheme + 3)) {
        const std::size_t begin = scheme + 3;
        const std::size_t end = out.find_first_of("@/\"' \t\n", begin);
        if (end == std::string::npos || out[end] != '@') continue;
        const std::size_t colon = out.find(':', begin);
        if (colon < end) out.replace(colon + 1, end - colon - 1, MASK);
    }
    // The value of every password parameter, in URIs and connection strings.
    for (std::size_t at = 0; at < out.size(); ++at) {
        if (!startsWithNoCase(out, at, "password=")) continue;
        const std::size_t begin = at + 9;
        const std::size_t end = std::min(out.find_first_of("&#\"' \t\n", begin), out.size());
        out.replace(begin, end - begin, MASK);
        at = begin + MASK.size() - 1;
    }
    // A secret quoted on its own (libpq quotes a token it cannot decode),
    // and anywhere else unless it is so short that it would match common
    // text. Longer secrets first, so that one that contains another is
    // masked whole.
    std::vector<std::string> ordered = secrets;
    std::sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
    for (const std::string& secret : ordered) {
        if (secret.empty() || secret == MASK) continue;
        const std::string target = secret.size() >= MIN_BARE_SECRET ? secret : quoted(secret);
        const std::string replacement = secret.size() >= MIN_BARE_SECRET ? std::string(MASK) : quoted(MASK);
        for (std::size_t at = out.find(target); at != std::string::npos; at = out.find(target, at + replacement.size()))
            out.replace(at, target.size(), replacement);
    }
    return out;
}

std::string containerStem(std::string_view identifier) {
    std::string stem;
    for (char c : identifier) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
            byte == '_' || byte == '-') {
            stem += c;
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", byte);
            stem += escape;
        }
    }
    // The escaping is reversible, so short stems never collide; "~" is always
    // escaped there, so a hashed stem cannot equal a short one either.
    if (stem.empty()) return "%";
    if (stem.size() > STEM_MAX) {
        // Cut before an escape rather than through it, for readability.
        std::size_t cut = STEM_PREFIX;
        if (stem[cut - 1] == '%') cut -= 1;
        else if (stem[cut - 2] == '%') cut -= 2;
        stem = stem.substr(0, cut) + "~" + sha256Hex(identifier);
    }
    return stem;
}

} // namespace cloudkit
