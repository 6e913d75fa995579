// Local file access for the commands and the embedded store.
#pragma once

#include "digest.hpp"
#include "store.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace cloudkit {

// Creates a folder and its missing parents (mode 0700); the error text on
// failure, nothing on success.
std::optional<std::string> makeFolders(const std::string& path);

// The whole file, or the error text.
struct FileRead {
    std::optional<Bytes> bytes;
    std::string error;
    bool complete = true;  // false when reading stopped at the limit
};
FileRead readWholeFile(const std::string& path);
// The rest of an open file, from its current offset to its end, however
// large its size said it was (files of /proc say 0, and a file may grow
// while it is read); path names it in the error text. With a limit,
// reading stops once more than limit bytes were read, and complete is
// false: the bytes read are then the start, and the rest follows from the
// file's offset.
FileRead readOpenFile(int fd, const std::string& path, std::size_t limit = SIZE_MAX);

// A file opened for reading, or the error text.
struct FileOpen {
    std::shared_ptr<OpenFile> file;
    std::string error;
};
FileOpen openForReading(const std::string& path);

// Copies everything from the current offset of from to its end onto the
// current offset of to; the names are for the error text, which says
// which side failed. With startWriteback the kernel is asked to begin
// writing each copied stretch to the disk at once, so that a later fsync
// has little left to wait for.
// With hash, every byte copied is also added to it (and the copy is never
// left to the kernel).
std::optional<std::string> copyFileData(int from, const std::string& fromName, int to, const std::string& toName,
                                        bool startWriteback, Sha256* hash = nullptr);

// Replaces the file at path with the bytes: they are written to a new file
// in the same folder, which is then renamed over path, so path holds either
// the old file or the complete new one. A symbolic link is followed, and
// the file it leads to is replaced; a device or FIFO is written to
// directly. Hidden files that earlier runs killed while writing left in
// that folder are removed. The error text on failure.
std::optional<std::string> replaceFile(const std::string& path, const char* data, std::size_t size);
// The same, with the bytes copied from the current offset of an open file
// to its end. With expected, they must have that length and digest, or
// nothing is written and mismatch is the error text.
std::optional<std::string> replaceFileFrom(const std::string& path, int from, const std::string& fromName,
                                           const BlobDigest* expected = nullptr, const std::string& mismatch = {});

// The hidden files that replaceFile writes in a folder: the name prefix,
// and whether a name is one of them.
inline constexpr const char* OUTPUT_TEMP_PREFIX = ".brindlehq-cloudkit-";
bool isOutputTemporaryName(const std::string& name);
// Removes from the folder the hidden files of replaceFile whose writer is
// gone: nobody holds their lock, and their process has ended (or they are
// older than a minute). Only files of this user are touched.
void removeStaleTemporaries(const std::string& folder);

} // namespace cloudkit
