#include "text.hpp"

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

std::string sha256Hex(std::string_view data) {
    static constexpr std::array<std::uint32_t, 64> K = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
        0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
        0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
        0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
        0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
        0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
        0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
    std::array<std::uint32_t, 8> h = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::string message(data);
    const std::uint64_t bitLength = static_cast<std::uint64_t>(data.size()) * 8;
    message += static_cast<char>(0x80);
    while (message.size() % 64 != 56) message += '\0';
    for (int shift = 56; shift >= 0; shift -= 8) message += static_cast<char>((bitLength >> shift) & 0xFF);
    auto rotr = [](std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
    for (std::size_t block = 0; block < message.size(); block += 64) {
        std::array<std::uint32_t, 64> w{};
        for (std::size_t t = 0; t < 16; ++t) {
            for (std::size_t b = 0; b < 4; ++b)
                w[t] = (w[t] << 8) | static_cast<unsigned char>(message[block + t * 4 + b]);
        }
        for (std::size_t t = 16; t < 64; ++t) {
            const std::uint32_t s0 = rotr(w[t - 15], 7) ^ rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
            const std::uint32_t s1 = rotr(w[t - 2], 17) ^ rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
            w[t] = w[t - 16] + s0 + w[t - 7] + s1;
        }
        auto v = h;
        for (std::size_t t = 0; t < 64; ++t) {
            const std::uint32_t s1 = rotr(v[4], 6) ^ rotr(v[4], 11) ^ rotr(v[4], 25);
            const std::uint32_t choice = (v[4] & v[5]) ^ (~v[4] & v[6]);
            const std::uint32_t t1 = v[7] + s1 + choice + K[t] + w[t];
            const std::uint32_t s0 = rotr(v[0], 2) ^ rotr(v[0], 13) ^ rotr(v[0], 22);
            const std::uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
            v = {t1 + s0 + majority, v[0], v[1], v[2], v[3] + t1, v[4], v[5], v[6]};
        }
        for (std::size_t k = 0; k < 8; ++k) h[k] += v[k];
    }
    std::string hex;
    for (std::uint32_t word : h) {
        char part[9];
        std::snprintf(part, sizeof part, "%08x", word);
        hex += part;
    }
    return hex;
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
