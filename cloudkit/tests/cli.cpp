#include "cli.hpp"

#include "text.hpp"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace cktest {
namespace {

std::vector<std::string> environmentWith(const std::string& dataHome, const std::string& home) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (text.rfind("XDG_DATA_HOME=", 0) == 0 || (!home.empty() && text.rfind("HOME=", 0) == 0)) continue;
        env.push_back(text);
    }
    if (!dataHome.empty()) env.push_back("XDG_DATA_HOME=" + dataHome);
    if (!home.empty()) env.push_back("HOME=" + home);
    return env;
}

pid_t spawn(const std::vector<std::string>& args, const std::string& dataHome, const std::string& home, int outFd, int errFd) {
    std::vector<std::string> argv = {CLOUDKIT_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = dataHome == "-" ? environmentWith("", home) : environmentWith(dataHome, home);
    std::vector<char*> argvPtrs, envPtrs;
    for (auto& a : argv) argvPtrs.push_back(a.data());
    argvPtrs.push_back(nullptr);
    for (auto& e : env) envPtrs.push_back(e.data());
    envPtrs.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(outFd, 1);
        ::dup2(errFd, 2);
        ::execve(argvPtrs[0], argvPtrs.data(), envPtrs.data());
        ::_exit(127);
    }
    return pid;
}

} // namespace

TempFolder::TempFolder() {
    char pattern[] = "/tmp/cloudkit-test-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    path = made != nullptr ? made : "";
}

TempFolder::~TempFolder() {
    if (!path.empty()) std::system(("chmod -R u+rwx '" + path + "' 2>/dev/null; rm -rf '" + path + "'").c_str());
}

int waitTool(pid_t pid) {
    int raw = 0;
    while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

RunResult runTool(const std::vector<std::string>& args, const std::string& dataHome, const std::string& home) {
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    RunResult result;
    result.status = waitTool(spawn(args, dataHome, home, ::fileno(out), ::fileno(err)));
    for (auto [file, text] : {std::pair{out, &result.out}, std::pair{err, &result.err}}) {
        std::rewind(file);
        char buffer[4096];
        std::size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text->append(buffer, got);
        std::fclose(file);
    }
    return result;
}

pid_t startTool(const std::vector<std::string>& args, const std::string& dataHome) {
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t pid = spawn(args, dataHome, "", null, null);
    ::close(null);
    return pid;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

bool fileExists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

std::vector<std::string> folderEntries(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(path.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string databasePath(const std::string& dataHome, const std::string& container) {
    return dataHome + "/brindlehq-cloudkit/" + cloudkit::containerStem(container) + ".sqlite3";
}

std::string blobFolder(const std::string& dataHome, const std::string& container) {
    return dataHome + "/brindlehq-cloudkit/" + cloudkit::containerStem(container) + ".blobs";
}

std::string sqliteQuery(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    std::string value;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "cannot open " << path;
    } else {
        sqlite3_busy_timeout(db, 60000);
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db);
        } else {
            const int step = sqlite3_step(statement);
            if (step == SQLITE_ROW && sqlite3_column_type(statement, 0) != SQLITE_NULL) {
                const void* bytes = sqlite3_column_blob(statement, 0);
                value.assign(static_cast<const char*>(bytes), static_cast<std::size_t>(sqlite3_column_bytes(statement, 0)));
            } else if (step != SQLITE_ROW && step != SQLITE_DONE) {
                ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db);
            }
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return value;
}

std::string storedBlobFile(const std::string& dataHome, const std::string& container, const std::string& name) {
    return sqliteQuery(databasePath(dataHome, container), "SELECT blob_file FROM backup_record WHERE name = '" + name + "'");
}

std::string storedBlob(const std::string& dataHome, const std::string& container, const std::string& name) {
    const std::string database = databasePath(dataHome, container);
    const std::string where = " FROM backup_record WHERE name = '" + name + "'";
    if (sqliteQuery(database, "SELECT count(*)" + where) != "1") return "<no row>";
    if (sqliteQuery(database, "SELECT typeof(blob) = 'blob'" + where) == "1") return sqliteQuery(database, "SELECT blob" + where);
    const std::string file = sqliteQuery(database, "SELECT blob_file" + where);
    if (file.empty()) return "<no blob>";
    const std::string path = blobFolder(dataHome, container) + "/" + file;
    if (!fileExists(path)) return "<missing file " + file + ">";
    return readFile(path);
}

std::string postgresBaseUrl() {
    const char* file = std::getenv("CLOUDKIT_PG_URL_FILE");
    std::string url;
    if (file != nullptr) {
        url = readFile(file);
        while (!url.empty() && (url.back() == '\n' || url.back() == ' ')) url.pop_back();
    }
    if (url.empty()) ADD_FAILURE() << "no PostgreSQL test server: CLOUDKIT_PG_URL_FILE names no URL (run scripts/pg-server.sh start)";
    return url;
}

std::string pgQuery(const std::string& url, const std::string& sql, const std::vector<std::string>& params) {
    PGconn* conn = PQconnectdb(url.c_str());
    std::string value;
    if (PQstatus(conn) != CONNECTION_OK) {
        ADD_FAILURE() << "cannot connect to " << url << ": " << PQerrorMessage(conn);
    } else {
        PQsetNoticeProcessor(conn, [](void*, const char*) {}, nullptr);
        std::vector<const char*> values;
        for (const auto& p : params) values.push_back(p.c_str());
        PGresult* result = PQexecParams(conn, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(),
                                        nullptr, nullptr, 0);
        const ExecStatusType status = PQresultStatus(result);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) ADD_FAILURE() << sql << ": " << PQerrorMessage(conn);
        else if (PQntuples(result) > 0 && PQnfields(result) > 0) value = PQgetvalue(result, 0, 0);
        PQclear(result);
    }
    PQfinish(conn);
    return value;
}

TempDatabase::TempDatabase() {
    static std::atomic<int> counter{0};
    const std::string base = postgresBaseUrl();
    if (base.empty()) return;
    name = "ck_" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
    pgQuery(base, "DROP DATABASE IF EXISTS " + name);
    pgQuery(base, "CREATE DATABASE " + name);
    url = base.substr(0, base.rfind('/') + 1) + name;
}

TempDatabase::~TempDatabase() {
    if (!name.empty()) pgQuery(postgresBaseUrl(), "DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
}

} // namespace cktest
