// Local file access for the commands and the embedded store.
#pragma once

#include "store.hpp"

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
};
FileRead readWholeFile(const std::string& path);
// The rest of an open file, from its current offset; path names it in the
// error text.
FileRead readOpenFile(int fd, const std::string& path);

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
std::optional<std::string> copyFileData(int from, const std::string& fromName, int to, const std::string& toName,
                                        bool startWriteback);

// Replaces the file at path with the bytes: they are written to a new file
// in the same folder, which is then renamed over path, so path holds either
// the old file or the complete new one. The error text on failure.
std::optional<std::string> replaceFile(const std::string& path, const char* data, std::size_t size);
// The same, with the bytes copied from the current offset of an open file
// to its end.
std::optional<std::string> replaceFileFrom(const std::string& path, int from, const std::string& fromName);

} // namespace cloudkit
