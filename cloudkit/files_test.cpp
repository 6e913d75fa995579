#include "files.hpp"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace cloudkit;

namespace {

struct TempFolder {
    std::string path;
    TempFolder() {
        char pattern[] = "/tmp/cloudkit-files-XXXXXX";
        path = ::mkdtemp(pattern);
    }
    ~TempFolder() { std::system(("rm -rf '" + path + "'").c_str()); }
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

int entryCount(const std::string& folder) {
    int count = 0;
    DIR* dir = ::opendir(folder.c_str());
    while (dirent* entry = ::readdir(dir)) count += entry->d_name[0] != '.' || std::string(entry->d_name).size() > 2;
    ::closedir(dir);
    return count - 0;
}

} // namespace

TEST(ReplaceFile, ReplacesContentAndKeepsPermissions) {
    TempFolder temp;
    const std::string path = temp.path + "/out.bin";
    ASSERT_FALSE(replaceFile(path, "first", 5));
    ::chmod(path.c_str(), 0640);
    const std::string binary("\0\x01\xff", 3);
    ASSERT_FALSE(replaceFile(path, binary.data(), binary.size()));
    EXPECT_EQ(slurp(path), binary);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    ASSERT_FALSE(replaceFile(path, "", 0));
    EXPECT_EQ(slurp(path), "");
    EXPECT_EQ(entryCount(temp.path), 1);  // no temporary file is left behind
}

TEST(ReplaceFile, FailureLeavesTheOldFile) {
    TempFolder temp;
    // A directory cannot be replaced by a file: the rename fails, and
    // neither the directory nor a temporary file is left changed.
    const std::string folder = temp.path + "/taken";
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    ASSERT_FALSE(replaceFile(folder + "/keep", "old", 3));
    auto error = replaceFile(folder, "new", 3);
    ASSERT_TRUE(error);
    EXPECT_NE(error->find(folder), std::string::npos);
    EXPECT_EQ(slurp(folder + "/keep"), "old");
    EXPECT_EQ(entryCount(temp.path), 1);
    EXPECT_TRUE(replaceFile(temp.path + "/missing/out", "x", 1));
}

TEST(ReadWholeFile, ReadsBytesOrReportsThePath) {
    TempFolder temp;
    const std::string path = temp.path + "/in";
    const std::string content = std::string(100000, 'z') + std::string("\0end", 4);
    std::ofstream(path, std::ios::binary) << content;
    FileRead read = readWholeFile(path);
    ASSERT_TRUE(read.bytes);
    EXPECT_EQ(std::string(read.bytes->data.get(), read.bytes->size), content);
    FileRead missing = readWholeFile(temp.path + "/none");
    EXPECT_FALSE(missing.bytes);
    EXPECT_NE(missing.error.find("/none"), std::string::npos);
    EXPECT_FALSE(readWholeFile(temp.path).bytes);  // a folder
}

TEST(MakeFolders, CreatesParentsAndRefusesFiles) {
    TempFolder temp;
    EXPECT_FALSE(makeFolders(temp.path + "/a/b/c"));
    EXPECT_FALSE(makeFolders(temp.path + "/a/b/c"));
    std::ofstream(temp.path + "/file") << "x";
    EXPECT_TRUE(makeFolders(temp.path + "/file"));
    EXPECT_TRUE(makeFolders(temp.path + "/file/sub"));
}

TEST(CopyFileData, CopiesFilesAndPipesFromTheirOffset) {
    TempFolder temp;
    std::string content(9u << 20, 'q');  // more than one copy chunk
    for (std::size_t i = 0; i < content.size(); i += 4093) content[i] = static_cast<char>(i / 4093);
    std::ofstream(temp.path + "/in", std::ios::binary) << content;
    FileOpen in = openForReading(temp.path + "/in");
    ASSERT_TRUE(in.file) << in.error;
    ASSERT_EQ(::lseek(in.file->fd, 5, SEEK_SET), 5);
    const int out = ::open((temp.path + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(out, 0);
    ASSERT_EQ(::write(out, "head", 4), 4);
    EXPECT_FALSE(copyFileData(in.file->fd, "in", out, "out", true));
    ::close(out);
    EXPECT_EQ(slurp(temp.path + "/out"), "head" + content.substr(5));
    // A pipe has no size and goes through the buffer.
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    ASSERT_EQ(::write(pipeFds[1], "piped\0bytes", 11), 11);
    ::close(pipeFds[1]);
    EXPECT_FALSE(replaceFileFrom(temp.path + "/fromPipe", pipeFds[0], "pipe"));
    ::close(pipeFds[0]);
    EXPECT_EQ(slurp(temp.path + "/fromPipe"), std::string("piped\0bytes", 11));
}

TEST(CopyFileData, ErrorsNameTheFailingSide) {
    TempFolder temp;
    FileOpen folder = openForReading(temp.path);
    ASSERT_TRUE(folder.file);
    const int out = ::open((temp.path + "/out").c_str(), O_WRONLY | O_CREAT, 0600);
    auto readError = copyFileData(folder.file->fd, "the-source", out, "the-target", false);
    ::close(out);
    ASSERT_TRUE(readError);
    EXPECT_EQ(readError->rfind("cannot read file \"the-source\"", 0), 0u) << *readError;
    std::ofstream(temp.path + "/in") << "data";
    FileOpen in = openForReading(temp.path + "/in");
    const int readOnly = ::open((temp.path + "/out").c_str(), O_RDONLY);
    auto writeError = copyFileData(in.file->fd, "the-source", readOnly, "the-target", false);
    ::close(readOnly);
    ASSERT_TRUE(writeError);
    EXPECT_EQ(writeError->rfind("cannot write file \"the-target\"", 0), 0u) << *writeError;
    // A failed replacement from a file leaves the old output and no temporary file.
    std::ofstream(temp.path + "/kept") << "old";
    FileOpen again = openForReading(temp.path);
    EXPECT_TRUE(replaceFileFrom(temp.path + "/kept", again.file->fd, "folder"));
    EXPECT_EQ(slurp(temp.path + "/kept"), "old");
    EXPECT_EQ(entryCount(temp.path), 3);
    EXPECT_FALSE(openForReading(temp.path + "/none").file);
}

TEST(ReadOpenFile, ReadsToTheEndWhateverTheSizeSaid) {
    // /proc files say they are empty.
    FileRead status = readWholeFile("/proc/self/status");
    ASSERT_TRUE(status.bytes) << status.error;
    EXPECT_EQ(std::string(status.bytes->data.get(), std::min<std::size_t>(status.bytes->size, 5)), "Name:");
    // A file that grows after it was opened and its size taken.
    TempFolder temp;
    const std::string path = temp.path + "/growing";
    std::ofstream(path, std::ios::binary) << "start";
    FileOpen opened = openForReading(path);
    ASSERT_TRUE(opened.file);
    std::ofstream(path, std::ios::binary | std::ios::app) << std::string(300000, 'g');
    FileRead grown = readOpenFile(opened.file->fd, path);
    ASSERT_TRUE(grown.bytes);
    EXPECT_EQ(grown.bytes->size, 300005u);
}

TEST(ReadOpenFile, StopsPastTheLimitAndLeavesTheRest) {
    TempFolder temp;
    const std::string path = temp.path + "/in";
    std::ofstream(path, std::ios::binary) << "0123456789";
    FileOpen whole = openForReading(path);
    FileRead fits = readOpenFile(whole.file->fd, path, 10);
    EXPECT_TRUE(fits.complete);
    EXPECT_EQ(std::string(fits.bytes->data.get(), fits.bytes->size), "0123456789");
    FileOpen part = openForReading(path);
    FileRead head = readOpenFile(part.file->fd, path, 3);
    EXPECT_FALSE(head.complete);
    const std::string start(head.bytes->data.get(), head.bytes->size);
    FileRead rest = readOpenFile(part.file->fd, path);
    EXPECT_EQ(start + std::string(rest.bytes->data.get(), rest.bytes->size), "0123456789");
    EXPECT_GT(start.size(), 3u);
}

TEST(OutputTemporaries, OnlyTheToolsOwnNames) {
    EXPECT_TRUE(isOutputTemporaryName(".brindlehq-cloudkit-123-aZ09xy"));
    EXPECT_TRUE(isOutputTemporaryName(".brindlehq-cloudkit-aZ09xy"));
    for (const char* name : {".brindlehq-cloudkit-", ".brindlehq-cloudkit-123-aZ09x", ".brindlehq-cloudkit-123-aZ09xyz",
                             ".brindlehq-cloudkit--aZ09xy", ".brindlehq-cloudkit-12a-aZ09xy", ".brindlehq-cloudkit-1-aZ.9xy",
                             ".brindlehq-cloudkit-12345678901-aZ09xy", "brindlehq-cloudkit-1-aZ09xy", "out"})
        EXPECT_FALSE(isOutputTemporaryName(name)) << name;
}

TEST(Digest, PiecesGiveTheDigestOfTheWhole) {
    const std::string data(100000, 'd');
    Sha256 pieces;
    for (std::size_t at = 0; at < data.size(); at += 777) pieces.update(data.data() + at, std::min<std::size_t>(777, data.size() - at));
    const BlobDigest whole = digestOf(data.data(), data.size());
    EXPECT_EQ(pieces.finishHex(), whole.sha256);
    EXPECT_EQ(whole.length, 100000u);
    EXPECT_TRUE(isSha256Hex(whole.sha256));
    EXPECT_FALSE(isSha256Hex(std::string(63, 'a')));
    EXPECT_FALSE(isSha256Hex(std::string(64, 'A')));
}
