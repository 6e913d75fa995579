// Helpers for tests that run the built brindlehq-cloudkit binary.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace cktest {

struct TempFolder {
    std::string path;
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
};

struct RunResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// Runs the tool with the arguments after the program name, with
// XDG_DATA_HOME set to dataHome (and HOME too when home is not empty).
RunResult runTool(const std::vector<std::string>& args, const std::string& dataHome, const std::string& home = "");
// Starts the tool without waiting; its output goes to /dev/null.
pid_t startTool(const std::vector<std::string>& args, const std::string& dataHome);
int waitTool(pid_t pid);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
bool fileExists(const std::string& path);
std::vector<std::string> folderEntries(const std::string& path);

// The embedded store of a container: its database file and the folder of
// its blob files.
std::string databasePath(const std::string& dataHome, const std::string& container);
std::string blobFolder(const std::string& dataHome, const std::string& container);
// What the record of that name holds, read straight from the store: the
// bytes in its row, or those of the blob file it names; "<no row>",
// "<no blob>" or "<missing file NAME>" otherwise.
std::string storedBlob(const std::string& dataHome, const std::string& container, const std::string& name);
// The blob file the record names, or "" when it names none.
std::string storedBlobFile(const std::string& dataHome, const std::string& container, const std::string& name);
// Runs one statement on the embedded store; the first value of the first
// row, or "" when none.
std::string sqliteQuery(const std::string& path, const std::string& sql);

// The URL of the test server, from the file the fixture wrote; fails the
// test when there is none.
std::string postgresBaseUrl();
// A fresh database on the test server, dropped again on destruction.
struct TempDatabase {
    std::string url;
    std::string name;
    TempDatabase();
    ~TempDatabase();
    TempDatabase(const TempDatabase&) = delete;
    TempDatabase& operator=(const TempDatabase&) = delete;
};
// Runs one statement on a database; returns the first value of the first
// row, or "" when none. Fails the test on an error.
std::string pgQuery(const std::string& url, const std::string& sql, const std::vector<std::string>& params = {});

} // namespace cktest
