// The SHA-256 backend this platform links, against the published test vectors and against
// OpenSSL's one-shot digest on random data given in random pieces.
#include "digest.hpp"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace cloudkit {
namespace {

std::string inPieces(const std::string& data, std::size_t piece) {
    Sha256 sha;
    for (std::size_t at = 0; at < data.size(); at += piece)
        sha.update(data.data() + at, std::min(piece, data.size() - at));
    return sha.finishHex();
}

std::string openSslHex(const std::string& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EXPECT_EQ(EVP_Digest(data.data(), data.size(), digest, &size, EVP_sha256(), nullptr), 1);
    return lowerHex(digest, size);
}

TEST(Digest, PublishedVectorsWholeAndInPieces) {
    struct Vector {
        std::string message;
        const char* sha256;
    };
    const std::vector<Vector> vectors = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqr"
         "lmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Vector& v : vectors) {
        SCOPED_TRACE(v.message.substr(0, 20));
        EXPECT_EQ(digestOf(v.message.data(), v.message.size()), (BlobDigest{v.message.size(), v.sha256}));
        for (std::size_t piece : std::vector<std::size_t>{1, 3, 55, 64, 65, 4096})
            EXPECT_EQ(inPieces(v.message, piece), v.sha256) << "pieces of " << piece;
    }
}

TEST(Digest, AgreesWithOpenSslOnRandomDataInRandomPieces) {
    std::mt19937_64 random(20260101);
    // Lengths around the 64-byte block and the 56-byte padding limit, then arbitrary ones.
    std::vector<std::size_t> lengths = {1, 55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129};
    for (int i = 0; i < 40; ++i) lengths.push_back(random() % 300000);
    for (std::size_t length : lengths) {
        std::string data(length, '\0');
        for (char& c : data) c = static_cast<char>(random() & 0xff);
        Sha256 sha;
        std::size_t at = 0;
        while (at < data.size()) {
            const std::size_t piece = std::min<std::size_t>(random() % 9000, data.size() - at);
            sha.update(data.data() + at, piece);  // pieces of 0 bytes included
            at += piece;
        }
        EXPECT_EQ(sha.finishHex(), openSslHex(data)) << "length " << length;
    }
}

TEST(Digest, LowerHexWritesTwoDigitsAByte) {
    const unsigned char bytes[] = {0x00, 0x0f, 0xa0, 0xff, 0x5c};
    EXPECT_EQ(lowerHex(bytes, sizeof bytes), "000fa0ff5c");
    EXPECT_EQ(lowerHex(bytes, 0), "");
}

} // namespace
} // namespace cloudkit
