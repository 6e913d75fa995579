#include "files.hpp"

#include <cstdlib>
#include <dirent.h>
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
