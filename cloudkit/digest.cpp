// What is common to both SHA-256 backends (digest_openssl.cpp, digest_commoncrypto.cpp; CMake
// links the one the platform has).
#include "digest.hpp"

namespace cloudkit {

std::string lowerHex(const unsigned char* bytes, std::size_t size) {
    static constexpr char HEX[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        hex += HEX[bytes[i] >> 4];
        hex += HEX[bytes[i] & 15];
    }
    return hex;
}

BlobDigest digestOf(const char* data, std::size_t size) {
    Sha256 sha;
    sha.update(data, size);
    return {size, sha.finishHex()};
}

bool isSha256Hex(std::string_view text) {
    if (text.size() != 64) return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

} // namespace cloudkit
