// Crash safety and concurrent use of the built binary.
#include "cli.hpp"
#include "text.hpp"

#include <csignal>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <sqlite3.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace cktest;

namespace {

constexpr int KILL_ROUNDS = 50;
constexpr int WORKERS = 8;
constexpr int WORKER_ROUNDS = 6;

std::string pattern(char fill, std::size_t size) {
    std::string bytes(size, fill);
    for (std::size_t i = 0; i < size; i += 4096) bytes[i] = static_cast<char>(i / 4096);
    return bytes;
}

struct Sqlite {
    sqlite3* db = nullptr;
    explicit Sqlite(const std::string& path) { sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr); }
    ~Sqlite() { sqlite3_close(db); }
    std::string one(const std::string& sql) {
        sqlite3_stmt* statement = nullptr;
        std::string value = "<no row>";
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) return "<error " + std::string(sqlite3_errmsg(db)) + ">";
        if (sqlite3_step(statement) == SQLITE_ROW) {
            const void* blob = sqlite3_column_blob(statement, 0);
            value.assign(static_cast<const char*>(blob), static_cast<std::size_t>(sqlite3_column_bytes(statement, 0)));
        }
        sqlite3_finalize(statement);
        return value;
    }
};

// Runs workers that each put and get a shared key and a key of their own,
// all at once, and checks that every run succeeded and read whole blobs.
void concurrentPutsAndGets(const std::string& container) {
    TempFolder data;
    TempFolder work;
    std::vector<std::string> blobs;
    for (int w = 0; w < WORKERS; ++w) {
        blobs.push_back(pattern(static_cast<char>('A' + w), 300000 + static_cast<std::size_t>(w) * 1000));
        writeFile(work.path + "/in" + std::to_string(w), blobs.back());
    }
    std::vector<pid_t> pids;
    for (int w = 0; w < WORKERS; ++w) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            const std::string in = work.path + "/in" + std::to_string(w);
            const std::string out = work.path + "/out" + std::to_string(w);
            int failures = 0;
            for (int round = 0; round < WORKER_ROUNDS; ++round) {
                for (const std::string& key : {std::string("shared"), "own" + std::to_string(w)}) {
                    failures += runTool({"put", "acct", key, in, container}, data.path).status != 0;
                    failures += runTool({"get", "acct", key, out, container}, data.path).status != 0;
                    const std::string got = readFile(out);
                    const bool whole = key == "shared" ? std::find(blobs.begin(), blobs.end(), got) != blobs.end()
                                                       : got == blobs[static_cast<std::size_t>(w)];
                    failures += !whole;
                }
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
        pids.push_back(pid);
    }
    for (pid_t pid : pids) EXPECT_EQ(waitTool(pid), 0) << "a worker saw a failed run or a torn blob";
    RunResult list = runTool({"list", container}, data.path);
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '{'), WORKERS + 1) << list.out;
    if (container.find("://") != std::string::npos) return;
    // Every replaced blob file is gone; one file per record is left.
    std::vector<std::string> named;
    for (int w = 0; w < WORKERS; ++w) named.push_back(storedBlobFile(data.path, container, "cb_backup_own" + std::to_string(w) + "__acct"));
    named.push_back(storedBlobFile(data.path, container, "cb_backup_shared__acct"));
    std::sort(named.begin(), named.end());
    EXPECT_EQ(folderEntries(blobFolder(data.path, container)), named);
}

} // namespace

TEST(SqliteReliability, KilledPutsLeaveTheOldOrTheNewBlob) {
    TempFolder data;
    TempFolder work;
    const std::string container = "kill.test";
    const std::string oldBlob = pattern('o', 3u << 20);
    const std::string newBlob = pattern('n', 5u << 20);
    writeFile(work.path + "/old", oldBlob);
    writeFile(work.path + "/new", newBlob);
    ASSERT_EQ(runTool({"put", "u", "k", work.path + "/old", container}, data.path).status, 0);
    const std::string database = databasePath(data.path, container);
    std::mt19937 random(20260102);
    int killedMidway = 0;
    for (int round = 0; round < KILL_ROUNDS; ++round) {
        const pid_t pid = startTool({"put", "u", "k", work.path + (round % 2 ? "/old" : "/new"), container}, data.path);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 60000));
        ::kill(pid, SIGKILL);
        killedMidway += waitTool(pid) == 128 + SIGKILL;
        Sqlite db(database);
        ASSERT_EQ(db.one("PRAGMA integrity_check"), "ok") << "round " << round;
        ASSERT_EQ(db.one("SELECT count(*) FROM backup_record"), "1");
        // The record names a whole file: never a missing or a cut one.
        const std::string blob = storedBlob(data.path, container, "cb_backup_k__u");
        ASSERT_TRUE(blob == oldBlob || blob == newBlob) << "round " << round << ": " << blob.size() << " bytes"
                                                        << (blob.size() < 100 ? " " + blob : "");
    }
    // The tool still works on the database afterwards.
    ASSERT_EQ(runTool({"put", "u", "k", work.path + "/new", container}, data.path).status, 0);
    RunResult get = runTool({"get", "u", "k", work.path + "/out", container}, data.path);
    EXPECT_EQ(get.status, 0);
    EXPECT_EQ(readFile(work.path + "/out"), newBlob);
    // What the killed puts left behind: files under their final name that
    // no row names went with that put; unfinished ones go once they are old.
    const std::string folder = blobFolder(data.path, container);
    std::size_t unfinished = 0;
    for (const std::string& name : folderEntries(folder)) {
        if (name.rfind(".tmp-", 0) != 0) continue;
        ++unfinished;
        ASSERT_EQ(std::system(("touch -d '-1 hour' '" + folder + "/" + name + "'").c_str()), 0);
    }
    ASSERT_EQ(runTool({"put", "u", "k", work.path + "/old", container}, data.path).status, 0);
    EXPECT_EQ(folderEntries(folder), std::vector<std::string>{storedBlobFile(data.path, container, "cb_backup_k__u")});
    EXPECT_EQ(storedBlob(data.path, container, "cb_backup_k__u"), oldBlob);
    // Most kills should land inside a put; report how many did.
    std::printf("%d of %d puts were killed before they finished; %zu left an unfinished file\n", killedMidway,
                KILL_ROUNDS, unfinished);
    EXPECT_GT(killedMidway, 0);
}

TEST(SqliteReliability, KilledGetsLeaveNothingBehindForLong) {
    TempFolder data;
    TempFolder work;
    TempFolder outFolder;
    const std::string container = "killed.gets";
    const std::string blob = pattern('g', 48u << 20);
    writeFile(work.path + "/in", blob);
    ASSERT_EQ(runTool({"put", "u", "k", work.path + "/in", container}, data.path).status, 0);
    const std::string out = outFolder.path + "/out";
    writeFile(out, "earlier backup");
    std::mt19937 random(20260103);
    int killedMidway = 0;
    for (int round = 0; round < 10; ++round) {
        const pid_t pid = startTool({"get", "u", "k", out, container}, data.path);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 80000));
        ::kill(pid, SIGKILL);
        killedMidway += waitTool(pid) == 128 + SIGKILL;
        const std::string now = readFile(out);
        ASSERT_TRUE(now == "earlier backup" || now == blob) << "round " << round << ": " << now.size() << " bytes";
    }
    // The next get removes what the killed ones left, and leaves only its output.
    RunResult get = runTool({"get", "u", "k", out, container}, data.path);
    EXPECT_EQ(get.status, 0) << get.err;
    EXPECT_EQ(folderEntries(outFolder.path), std::vector<std::string>{"out"});
    EXPECT_EQ(readFile(out), blob);
    std::printf("%d of 10 gets were killed before they finished\n", killedMidway);
    EXPECT_GT(killedMidway, 0);
}

TEST(SqliteReliability, EightProcessesAtOnceAllSucceed) { concurrentPutsAndGets("concurrent.test"); }

TEST(PostgresReliability, EightProcessesAtOnceAllSucceed) {
    TempDatabase database;
    ASSERT_FALSE(database.url.empty());
    concurrentPutsAndGets(database.url);
}
