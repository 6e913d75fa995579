// SHA-256 through CommonCrypto, which every Mac has in libSystem (Apple platforms).
#include "digest.hpp"

#include <CommonCrypto/CommonDigest.h>
#include <algorithm>
#include <cstdint>
#include <limits>
#include <stdexcept>

namespace cloudkit {

struct Sha256::Context {
    CC_SHA256_CTX sha{};
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {
    if (CC_SHA256_Init(&context_->sha) != 1) throw std::runtime_error("SHA-256 is not available");
}

Sha256::~Sha256() = default;

void Sha256::update(const void* data, std::size_t size) {
    // CC_SHA256_Update takes at most 2^32 - 1 bytes a call.
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const std::size_t piece = std::min<std::size_t>(size, std::numeric_limits<CC_LONG>::max());
        if (CC_SHA256_Update(&context_->sha, bytes, static_cast<CC_LONG>(piece)) != 1)
            throw std::runtime_error("cannot compute SHA-256");
        bytes += piece;
        size -= piece;
    }
}

std::string Sha256::finishHex() {
    unsigned char digest[CC_SHA256_DIGEST_LENGTH];
    if (CC_SHA256_Final(digest, &context_->sha) != 1) throw std::runtime_error("cannot compute SHA-256");
    return lowerHex(digest, sizeof digest);
}

} // namespace cloudkit
