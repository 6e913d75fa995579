#include "files.hpp"

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
