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

// Replaces the file at path with the bytes: they are written to a new file
// in the same folder, which is then renamed over path, so path holds either
// the old file or the complete new one. The error text on failure.
std::optional<std::string> replaceFile(const std::string& path, const char* data, std::size_t size);

} // namespace cloudkit
