// SHA-256 over data that arrives in pieces, and the length and digest that
// a stored blob is checked against.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace cloudkit {

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void update(const void* data, std::size_t size);
    // The digest of everything given so far, as 64 lowercase hex digits;
    // the object is not used afterwards.
    std::string finishHex();

private:
    struct Context;
    std::unique_ptr<Context> context_;
};

// What a blob is: its length and SHA-256 in lowercase hex.
struct BlobDigest {
    std::uint64_t length = 0;
    std::string sha256;
    bool operator==(const BlobDigest&) const = default;
};

BlobDigest digestOf(const char* data, std::size_t size);
// The bytes as lowercase hex, two digits each.
std::string lowerHex(const unsigned char* bytes, std::size_t size);
// True for 64 lowercase hex digits, the form a digest is stored in.
bool isSha256Hex(std::string_view text);

} // namespace cloudkit
