#include "files.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
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

FileRead readOpenFile(int fd, const std::string& path, std::size_t limit) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return {std::nullopt, describe("cannot read file", path, errno)};
    // The size of a regular file is where the buffer starts, with one byte
    // more so that its end is seen without growing; the buffer grows for
    // whatever comes after (or when there is no size, as for a pipe).
    std::size_t capacity = std::size_t{1} << 16;
    if (S_ISREG(info.st_mode)) {
        const off_t offset = ::lseek(fd, 0, SEEK_CUR);
        const std::size_t expected = info.st_size > offset && offset >= 0 ? static_cast<std::size_t>(info.st_size - offset) : 0;
        capacity = std::min(expected, limit) + 1;
    }
    Bytes bytes = allocateBytes(capacity);
    std::size_t filled = 0;
    bool complete = true;
    for (;;) {
        if (limit != SIZE_MAX && filled > limit) {
            complete = false;
            break;
        }
        if (filled == capacity) {
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
    return {std::move(bytes), {}, complete};
}

std::optional<std::string> copyFileData(int from, const std::string& fromName, int to, const std::string& toName,
                                        [[maybe_unused]] bool startWriteback, Sha256* hash) {
    // Regular files are copied inside the kernel, without passing through
    // this process; anything else, a copy that is also hashed, or a kernel
    // copy that fails, goes through a buffer, which also tells a read
    // failure from a write one.
    struct stat info {};
    // (Elsewhere than on Linux, everything goes through the buffer.)
    [[maybe_unused]] bool kernelCopy = hash == nullptr && ::fstat(from, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0;
    std::unique_ptr<char[]> buffer;
#ifdef __linux__
    off_t position = ::lseek(to, 0, SEEK_CUR);
#endif
    for (;;) {
        ssize_t got = 0;
#ifdef __linux__
        if (kernelCopy) {
            got = ::copy_file_range(from, nullptr, to, nullptr, IO_CHUNK, 0);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                kernelCopy = false;
                continue;
            }
        } else
#endif
        {
            if (!buffer) buffer.reset(new char[IO_CHUNK]);
            got = ::read(from, buffer.get(), IO_CHUNK);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return describe("cannot read file", fromName, errno);
            if (hash != nullptr) hash->update(buffer.get(), static_cast<std::size_t>(got));
            if (got > 0 && !writeAll(to, buffer.get(), static_cast<std::size_t>(got)))
                return describe("cannot write file", toName, errno == 0 ? EIO : errno);
        }
        if (got == 0) break;
#ifdef __linux__
        if (startWriteback && position >= 0) ::sync_file_range(to, position, got, SYNC_FILE_RANGE_WRITE);
        position += got;
#endif
    }
    return std::nullopt;
}

namespace {

constexpr int MAX_LINK_HOPS = 40;
// A hidden file whose writer holds no lock and whose process is gone is
// left over; one without a process id in its name (from older versions,
// which took no lock) only once it is this old.
constexpr std::time_t UNLOCKED_TEMP_AGE_S = 60;
constexpr std::time_t UNNUMBERED_TEMP_AGE_S = 3600;
constexpr std::size_t TEMP_RANDOM_LENGTH = 6;

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The path with the symbolic links of its last part followed: the file
// that writing to path changes. A path that does not exist (also the
// target of a dangling link) is returned as it is.
std::optional<std::string> followLinks(const std::string& path, std::string& resolved) {
    std::string current = path;
    for (int hop = 0; hop <= MAX_LINK_HOPS; ++hop) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0) {
            if (errno != ENOENT) return describe("cannot write file", path, errno);
            resolved = current;
            return std::nullopt;
        }
        if (!S_ISLNK(info.st_mode)) {
            resolved = current;
            return std::nullopt;
        }
        std::string target(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255) + 1, '\0');
        ssize_t length = 0;
        while ((length = ::readlink(current.c_str(), target.data(), target.size())) >= 0 &&
               static_cast<std::size_t>(length) == target.size())
            target.resize(target.size() * 2);
        if (length < 0) return describe("cannot write file", path, errno);
        if (length == 0) return describe("cannot write file", path, ENOENT);
        target.resize(static_cast<std::size_t>(length));
        current = target[0] == '/' ? target : folderOf(current) + "/" + target;
    }
    return describe("cannot write file", path, ELOOP);
}

// Where replaceFile writes: a hidden new file beside the target, renamed
// over it at the end, or the target itself when it is a device or FIFO.
struct Output {
    std::string path;       // as given, for messages
    std::string target;     // path with its links followed
    std::string temporary;  // empty when writing to the target directly
    int fd = -1;
    mode_t mode = 0;
    bool committed = false;
    Output() = default;
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    ~Output() {
        if (fd >= 0) ::close(fd);
        if (!temporary.empty() && !committed) ::unlink(temporary.c_str());
    }
    bool direct() const { return temporary.empty(); }
};

mode_t currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

std::optional<std::string> openOutput(const std::string& path, Output& out) {
    out.path = path;
    if (auto error = followLinks(path, out.target)) return error;
    struct stat info {};
    const bool exists = ::stat(out.target.c_str(), &info) == 0;
    if (!exists && errno != ENOENT) return describe("cannot write file", path, errno);
    if (exists && S_ISDIR(info.st_mode)) return describe("cannot write file", path, EISDIR);
    if (exists && !S_ISREG(info.st_mode)) {
        // Devices and FIFOs take the bytes as they come; replacing one by a
        // plain file would break whatever uses it. A FIFO that nobody reads
        // is an error rather than a wait without end.
        out.fd = ::open(out.target.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (out.fd < 0) return describe("cannot write file", path, errno);
        const int flags = ::fcntl(out.fd, F_GETFL);
        if (flags < 0 || ::fcntl(out.fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return describe("cannot write file", path, errno);
        return std::nullopt;
    }
    // Keep the permissions of the file being replaced, else the usual ones.
    out.mode = exists ? (info.st_mode & 07777) : (0666 & ~currentUmask());
    const std::string folder = folderOf(out.target);
    removeStaleTemporaries(folder);
    std::string temporary = folder + "/" + OUTPUT_TEMP_PREFIX + std::to_string(::getpid()) + "-XXXXXX";
    out.fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (out.fd < 0) return describe("cannot write file", path, errno);
    out.temporary = temporary;
    // Held until the process ends: a file whose lock is free has no writer.
    ::flock(out.fd, LOCK_EX);
    return std::nullopt;
}

std::optional<std::string> commitOutput(Output& out) {
    std::optional<std::string> failed;
    if (!out.direct() && ::fchmod(out.fd, out.mode) != 0) failed = describe("cannot write file", out.path, errno);
    const int fd = out.fd;
    out.fd = -1;
    if (::close(fd) != 0 && !failed) failed = describe("cannot write file", out.path, errno);
    if (!failed && !out.direct() && ::rename(out.temporary.c_str(), out.target.c_str()) != 0)
        failed = describe("cannot write file", out.path, errno);
    out.committed = !failed;
    return failed;
}

// The length and digest of an open file from its offset to its end, read
// without moving that offset.
std::optional<std::string> digestFrom(int fd, const std::string& name, BlobDigest& digest) {
    off_t position = ::lseek(fd, 0, SEEK_CUR);
    if (position < 0) return describe("cannot read file", name, errno);
    std::unique_ptr<char[]> buffer(new char[IO_CHUNK]);
    Sha256 hash;
    std::uint64_t length = 0;
    for (;;) {
        const ssize_t got = ::pread(fd, buffer.get(), IO_CHUNK, position);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return describe("cannot read file", name, errno);
        if (got == 0) break;
        hash.update(buffer.get(), static_cast<std::size_t>(got));
        length += static_cast<std::uint64_t>(got);
        position += got;
    }
    digest = {length, hash.finishHex()};
    return std::nullopt;
}

} // namespace

bool isOutputTemporaryName(const std::string& name) {
    const std::string prefix = OUTPUT_TEMP_PREFIX;
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return false;
    const std::string rest = name.substr(prefix.size());
    const std::size_t dash = rest.find('-');
    const std::string random = dash == std::string::npos ? rest : rest.substr(dash + 1);
    if (random.size() != TEMP_RANDOM_LENGTH) return false;
    for (char c : random) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return false;
    }
    if (dash == std::string::npos) return true;
    if (dash == 0 || dash > 10) return false;
    for (std::size_t i = 0; i < dash; ++i) {
        if (rest[i] < '0' || rest[i] > '9') return false;
    }
    return true;
}

void removeStaleTemporaries(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    const int folderFd = ::dirfd(dir);
    const std::time_t now = std::time(nullptr);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (!isOutputTemporaryName(name)) continue;
        const int fd = ::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat info {};
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            const std::string rest = name.substr(std::strlen(OUTPUT_TEMP_PREFIX));
            const std::size_t dash = rest.find('-');
            bool stale = false;
            if (dash == std::string::npos) {
                stale = now - info.st_mtime > UNNUMBERED_TEMP_AGE_S;
            } else {
                const long long pid = std::stoll(rest.substr(0, dash));
                const bool gone = pid > 0 && pid <= INT32_MAX && pid != ::getpid() &&
                                  ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
                stale = gone || now - info.st_mtime > UNLOCKED_TEMP_AGE_S;
            }
            // Still the file that was checked, not one made since under its name.
            struct stat again {};
            if (stale && ::fstatat(folderFd, name.c_str(), &again, AT_SYMLINK_NOFOLLOW) == 0 && again.st_dev == info.st_dev &&
                again.st_ino == info.st_ino)
                ::unlinkat(folderFd, name.c_str(), 0);
        }
        ::close(fd);
    }
    ::closedir(dir);
}

std::optional<std::string> replaceFile(const std::string& path, const char* data, std::size_t size) {
    Output out;
    if (auto error = openOutput(path, out)) return error;
    if (!writeAll(out.fd, data, size)) return describe("cannot write file", path, errno == 0 ? EIO : errno);
    return commitOutput(out);
}

std::optional<std::string> replaceFileFrom(const std::string& path, int from, const std::string& fromName,
                                           const BlobDigest* expected, const std::string& mismatch) {
    Output out;
    if (auto error = openOutput(path, out)) return error;
    if (expected != nullptr && out.direct()) {
        // What reaches a device cannot be taken back: check first.
        BlobDigest found;
        if (auto error = digestFrom(from, fromName, found)) return error;
        if (found != *expected) return mismatch;
        expected = nullptr;
    }
    std::optional<Sha256> hash;
    if (expected != nullptr) hash.emplace();
    const off_t start = ::lseek(from, 0, SEEK_CUR);
    if (auto error = copyFileData(from, fromName, out.fd, path, false, hash ? &*hash : nullptr)) return error;
    if (hash) {
        const off_t end = ::lseek(from, 0, SEEK_CUR);
        const BlobDigest found{start >= 0 && end >= start ? static_cast<std::uint64_t>(end - start) : 0, hash->finishHex()};
        if (found != *expected) return mismatch;
    }
    return commitOutput(out);
}

} // namespace cloudkit
