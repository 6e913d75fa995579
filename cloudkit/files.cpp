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
        if (written == 0) errno = EIO;
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
    FileOpen opened = openForReading(path);
    if (!opened.file) return {std::nullopt, opened.error};
    return readOpenFile(opened.file->fd, path);
}

FileOpen openForReading(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {nullptr, describe("cannot read file", path, errno)};
    return {std::make_shared<OpenFile>(fd), {}};
}

FileRead readOpenFile(int fd, const std::string& path) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return {std::nullopt, describe("cannot read file", path, errno)};
    // Regular files are read into a buffer of their size; anything else
    // (a pipe, a device) grows the buffer as it goes.
    const bool regular = S_ISREG(info.st_mode);
    std::size_t capacity = std::size_t{1} << 16;
    if (regular) {
        const off_t offset = ::lseek(fd, 0, SEEK_CUR);
        capacity = info.st_size > offset && offset >= 0 ? static_cast<std::size_t>(info.st_size - offset) : 0;
    }
    Bytes bytes = allocateBytes(capacity);
    std::size_t filled = 0;
    for (;;) {
        if (filled == capacity) {
            if (regular) break;  // the size it had when opened
            Bytes larger = allocateBytes(capacity * 2);
            std::memcpy(larger.data.get(), bytes.data.get(), filled);
            bytes = std::move(larger);
            capacity *= 2;
        }
        const ssize_t got = ::read(fd, bytes.data.get() + filled, std::min(capacity - filled, IO_CHUNK));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return {std::nullopt, describe("cannot read file", path, errno)};
        if (got == 0) break;
        filled += static_cast<std::size_t>(got);
    }
    bytes.size = filled;
    return {std::move(bytes), {}};
}

std::optional<std::string> copyFileData(int from, const std::string& fromName, int to, const std::string& toName,
                                        bool startWriteback) {
    // Regular files are copied inside the kernel, without passing through
    // this process; anything else, or a kernel copy that fails, goes
    // through a buffer, which also tells a read failure from a write one.
    struct stat info {};
    bool kernelCopy = ::fstat(from, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0;
    std::unique_ptr<char[]> buffer;
    off_t position = ::lseek(to, 0, SEEK_CUR);
    for (;;) {
        ssize_t got = 0;
        if (kernelCopy) {
            got = ::copy_file_range(from, nullptr, to, nullptr, IO_CHUNK, 0);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                kernelCopy = false;
                continue;
            }
        } else {
            if (!buffer) buffer.reset(new char[IO_CHUNK]);
            got = ::read(from, buffer.get(), IO_CHUNK);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return describe("cannot read file", fromName, errno);
            if (got > 0 && !writeAll(to, buffer.get(), static_cast<std::size_t>(got)))
                return describe("cannot write file", toName, errno == 0 ? EIO : errno);
        }
        if (got == 0) break;
        if (startWriteback && position >= 0) ::sync_file_range(to, position, got, SYNC_FILE_RANGE_WRITE);
        position += got;
    }
    return std::nullopt;
}

namespace {

// Writes a new file beside path with fill and renames it over path; fill
// returns the error text of a failed write.
template <class Fill>
std::optional<std::string> replaceWith(const std::string& path, Fill fill) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    std::string temporary = folder + "/.brindlehq-cloudkit-XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return describe("cannot write file", path, errno);
    // Keep the permissions of the file being replaced, else the usual ones.
    struct stat old {};
    const mode_t mode = ::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode) ? (old.st_mode & 07777)
                                                                                : (0666 & ~currentUmask());
    std::optional<std::string> failed = fill(fd);
    if (!failed && ::fchmod(fd, mode) != 0) failed = describe("cannot write file", path, errno);
    if (::close(fd) != 0 && !failed) failed = describe("cannot write file", path, errno);
    if (!failed && ::rename(temporary.c_str(), path.c_str()) != 0) failed = describe("cannot write file", path, errno);
    if (failed) ::unlink(temporary.c_str());
    return failed;
}

} // namespace

std::optional<std::string> replaceFile(const std::string& path, const char* data, std::size_t size) {
    return replaceWith(path, [&](int fd) -> std::optional<std::string> {
        if (!writeAll(fd, data, size)) return describe("cannot write file", path, errno == 0 ? EIO : errno);
        return std::nullopt;
    });
}

std::optional<std::string> replaceFileFrom(const std::string& path, int from, const std::string& fromName) {
    return replaceWith(path, [&](int fd) { return copyFileData(from, fromName, fd, path, false); });
}

} // namespace cloudkit
