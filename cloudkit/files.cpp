#include "files.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cloudkit {
namespace {

constexpr std::size_t IO_CHUNK = std::size_t{8} << 20;

std::string describe(const std::string& what, const std::string& path, int error) {
    return what + " \"" + path + "\": " + std::strerror(error);
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, std::min(size, IO_CHUNK));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

mode_t currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

} // namespace

std::optional<std::string> makeFolders(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (!prefix.empty() && ::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
            return describe("cannot create folder", prefix, errno);
        if (slash == std::string::npos) break;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return describe("cannot create folder", path, errno);
    if (!S_ISDIR(info.st_mode)) return describe("cannot create folder", path, ENOTDIR);
    return std::nullopt;
}

FileRead readWholeFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {std::nullopt, describe("cannot read file", path, errno)};
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return {std::nullopt, describe("cannot read file", path, error)};
    }
    // Regular files are read into a buffer of their size; anything else
    // (a pipe, a device) grows the buffer as it goes.
    std::size_t capacity = S_ISREG(info.st_mode) ? static_cast<std::size_t>(info.st_size) : std::size_t{1} << 16;
    Bytes bytes = allocateBytes(capacity);
    std::size_t filled = 0;
    for (;;) {
        if (filled == capacity) {
            if (S_ISREG(info.st_mode)) break;  // the size it had when opened
            Bytes larger = allocateBytes(capacity * 2);
            std::memcpy(larger.data.get(), bytes.data.get(), filled);
            bytes = std::move(larger);
            capacity *= 2;
        }
        const ssize_t got = ::read(fd, bytes.data.get() + filled, std::min(capacity - filled, IO_CHUNK));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            return {std::nullopt, describe("cannot read file", path, error)};
        }
        if (got == 0) break;
        filled += static_cast<std::size_t>(got);
    }
    ::close(fd);
    bytes.size = filled;
    return {std::move(bytes), {}};
}

std::optional<std::string> replaceFile(const std::string& path, const char* data, std::size_t size) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    std::string temporary = folder + "/.brindlehq-cloudkit-XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return describe("cannot write file", path, errno);
    // Keep the permissions of the file being replaced, else the usual ones.
    struct stat old {};
    const mode_t mode = ::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode) ? (old.st_mode & 07777)
                                                                                : (0666 & ~currentUmask());
    bool good = writeAll(fd, data, size) && ::fchmod(fd, mode) == 0;
    int error = errno;
    if (::close(fd) != 0 && good) good = false, error = errno;
    if (good && ::rename(temporary.c_str(), path.c_str()) != 0) good = false, error = errno;
    if (!good) {
        ::unlink(temporary.c_str());
        return describe("cannot write file", path, error);
    }
    return std::nullopt;
}

} // namespace cloudkit
