// What every store shares: records' owners and digests, blobs in memory and open files.
#include "store.hpp"

#include "backend.hpp"
#include "text.hpp"

#include <unistd.h>

namespace cloudkit {

OpenFile::~OpenFile() {
    if (fd >= 0) ::close(fd);
}

Bytes allocateBytes(std::size_t size) {
    return Bytes{std::shared_ptr<char[]>(new char[size == 0 ? 1 : size]), size};
}

Owner ownerOf(std::string_view account, std::string_view key) {
    Owner owner;
    owner.bytes.append(account).append(1, '\0').append(key);
    owner.account = validUtf8(account);
    owner.key = validUtf8(key);
    return owner;
}

Outcome<std::optional<BlobDigest>> storedDigest(const std::string& name, std::optional<std::int64_t> length,
                                                const std::optional<std::string>& sha256) {
    if (!length && !sha256) return {std::optional<BlobDigest>(), std::nullopt};
    if (!length || !sha256 || *length < 0 || !isSha256Hex(*sha256))
        return failure<std::optional<BlobDigest>>(INTERNAL_ERROR, "the record " + name + " has a damaged checksum");
    return {BlobDigest{static_cast<std::uint64_t>(*length), *sha256}, std::nullopt};
}

std::string damagedBlobMessage(const std::string& name) {
    return "the blob of " + name + " is damaged: it does not match the length and SHA-256 stored with it";
}

} // namespace cloudkit
