// SHA-256 through OpenSSL's EVP interface (Linux and the other Unix systems).
#include "digest.hpp"

#include <new>
#include <openssl/evp.h>
#include <stdexcept>

namespace cloudkit {

struct Sha256::Context {
    EVP_MD_CTX* md = nullptr;
    ~Context() { EVP_MD_CTX_free(md); }
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {
    context_->md = EVP_MD_CTX_new();
    if (context_->md == nullptr) throw std::bad_alloc();
    if (EVP_DigestInit_ex(context_->md, EVP_sha256(), nullptr) != 1) throw std::runtime_error("SHA-256 is not available");
}

Sha256::~Sha256() = default;

void Sha256::update(const void* data, std::size_t size) {
    if (size > 0 && EVP_DigestUpdate(context_->md, data, size) != 1) throw std::runtime_error("cannot compute SHA-256");
}

std::string Sha256::finishHex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(context_->md, digest, &size) != 1) throw std::runtime_error("cannot compute SHA-256");
    return lowerHex(digest, size);
}

} // namespace cloudkit
