// The embedded store: one SQLite database per container in the data folder.
#include "backend.hpp"
#include "files.hpp"
#include "text.hpp"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cloudkit {
namespace {

constexpr int BUSY_TIMEOUT_MS = 60000;
constexpr int BLOB_CHUNK = 16 << 20;

// Blobs of this size and more live in a file of their own in the blob
// folder beside the database, and the row names the file; smaller ones stay
// in the row. Below it a blob takes at most two of the database's 64 KiB
// pages, and writing it twice (to the log, then into the database) is
// cheaper than creating, syncing and naming a file; above it the double
// write and the page chains cost more than a plain file copy.
constexpr std::size_t INLINE_BLOB_LIMIT = std::size_t{128} << 10;
// A put writes its blob under a ".tmp-" name while holding an flock on it,
// taken right after creating it. Such a file is abandoned when nobody holds
// its lock any more and it is older than this, which also covers the moment
// between its creation and the lock.
constexpr std::time_t ABANDONED_TEMP_AGE_S = 300;
// How often get reads the row again when the file it named was replaced
// (and removed) by a put in between.
constexpr int FETCH_ATTEMPTS = 1000;
constexpr const char* BLOB_SUFFIX = ".blob";
constexpr const char* TEMP_PREFIX = ".tmp-";
constexpr std::size_t BLOB_ID_LENGTH = 32;

constexpr const char* SCHEMA =
    "CREATE TABLE IF NOT EXISTS backup_record ("
    " name TEXT PRIMARY KEY NOT NULL,"
    " account TEXT,"
    " key TEXT,"
    " updated_at INTEGER,"
    " asset TEXT,"
    " blob BLOB,"
    " blob_file TEXT,"
    " blob_length INTEGER,"
    " blob_sha256 TEXT,"
    " owner BLOB);"
    "CREATE TABLE IF NOT EXISTS subscription ("
    " id TEXT PRIMARY KEY NOT NULL,"
    " content_available INTEGER NOT NULL);";

// Columns that databases of earlier versions lack, added when first opened.
constexpr std::pair<const char*, const char*> ADDED_COLUMNS[] = {
    {"blob_file", "TEXT"}, {"blob_length", "INTEGER"}, {"blob_sha256", "TEXT"}, {"owner", "BLOB"}};

// A put replaces a row whole (delete, then insert), so an update comes only
// from a tool that knows nothing of the digest or the owner bytes: one that
// sets the blob leaves a digest that is not the new blob's, and one that
// sets the account or key an owner that is not the new one. Both are
// forgotten then, and the record counts as one put without them.
constexpr const char* TRIGGERS =
    "CREATE TRIGGER IF NOT EXISTS backup_record_blob_replaced AFTER UPDATE OF blob, blob_file ON backup_record"
    " WHEN NEW.blob_sha256 IS OLD.blob_sha256 AND NEW.blob_length IS OLD.blob_length"
    " AND (NEW.blob_sha256 IS NOT NULL OR NEW.blob_length IS NOT NULL)"
    " BEGIN UPDATE backup_record SET blob_sha256 = NULL, blob_length = NULL WHERE rowid = NEW.rowid; END;"
    "CREATE TRIGGER IF NOT EXISTS backup_record_owner_replaced AFTER UPDATE OF account, key ON backup_record"
    " WHEN NEW.owner IS OLD.owner AND NEW.owner IS NOT NULL"
    " BEGIN UPDATE backup_record SET owner = NULL WHERE rowid = NEW.rowid; END;";
constexpr int TRIGGER_COUNT = 2;

// Whether the row belongs to the owner bound at ?2 (bytes), ?3 (account)
// and ?4 (key): the owner bytes decide; rows put before there were any are
// matched by the account and key they do have. Never NULL.
#define OWNED_BY_PARAMETERS \
    "(CASE WHEN owner IS NOT NULL THEN owner = ?2" \
    " ELSE (account IS NULL OR account = ?3) AND (key IS NULL OR key = ?4) END)"

struct Statement {
    sqlite3_stmt* handle = nullptr;
    Statement() = default;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement() { sqlite3_finalize(handle); }
};

StoreError liteError(sqlite3* db, const std::string& context) {
    const int code = sqlite3_errcode(db);
    return StoreError{code == SQLITE_TOOBIG ? LIMIT_EXCEEDED : INTERNAL_ERROR, context + ": " + sqlite3_errmsg(db)};
}

bool exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

bool prepare(sqlite3* db, Statement& statement, const char* sql) {
    return sqlite3_prepare_v2(db, sql, -1, &statement.handle, nullptr) == SQLITE_OK;
}

void bindText(Statement& statement, int index, const std::string& text) {
    sqlite3_bind_text64(statement.handle, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

void bindOptionalText(Statement& statement, int index, const std::optional<std::string>& text) {
    if (text) bindText(statement, index, *text);
    else sqlite3_bind_null(statement.handle, index);
}

std::string columnText(Statement& statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement.handle, column));
    return text == nullptr ? std::string() : std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement.handle, column)));
}

std::optional<std::string> columnOptionalText(Statement& statement, int column) {
    if (sqlite3_column_type(statement.handle, column) != SQLITE_TEXT) return std::nullopt;
    return columnText(statement, column);
}

void bindOwner(Statement& statement, const Owner& owner) {
    sqlite3_bind_blob64(statement.handle, 2, owner.bytes.data(), owner.bytes.size(), SQLITE_TRANSIENT);
    bindText(statement, 3, owner.account);
    bindText(statement, 4, owner.key);
}

std::optional<std::int64_t> columnOptionalInteger(Statement& statement, int column) {
    if (sqlite3_column_type(statement.handle, column) != SQLITE_INTEGER) return std::nullopt;
    return sqlite3_column_int64(statement.handle, column);
}

// Runs body inside one transaction, committing when it succeeds and rolling
// back otherwise.
template <class T, class Body>
Outcome<T> inTransaction(sqlite3* db, const char* begin, Body body) {
    if (!exec(db, begin)) return {std::nullopt, liteError(db, "cannot start a transaction")};
    Outcome<T> outcome = body();
    if (outcome.error) {
        exec(db, "ROLLBACK");
        return outcome;
    }
    if (!exec(db, "COMMIT")) {
        StoreError error = liteError(db, "cannot commit");
        exec(db, "ROLLBACK");
        return {std::nullopt, error};
    }
    return outcome;
}

std::string fileError(const std::string& what, const std::string& path, int error) {
    return what + " \"" + path + "\": " + std::strerror(error);
}

// 128 random bits in hex: the name of a new blob file.
std::string randomId() {
    unsigned char bits[BLOB_ID_LENGTH / 2] = {};
    std::size_t filled = 0;
    while (filled < sizeof bits) {
        const ssize_t got = ::getrandom(bits + filled, sizeof bits - filled, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        filled += static_cast<std::size_t>(got);
    }
    if (filled < sizeof bits) {
        // No kernel randomness: the time and the process still make the name unique.
        timespec now {};
        ::clock_gettime(CLOCK_REALTIME, &now);
        const auto mixed = static_cast<std::uint64_t>(now.tv_nsec) ^ (static_cast<std::uint64_t>(now.tv_sec) << 30) ^
                           (static_cast<std::uint64_t>(::getpid()) << 48);
        for (std::size_t i = 0; i < sizeof bits; ++i) bits[i] = static_cast<unsigned char>(mixed >> ((i % 8) * 8));
    }
    static constexpr char HEX[] = "0123456789abcdef";
    std::string id;
    for (unsigned char bit : bits) {
        id += HEX[bit >> 4];
        id += HEX[bit & 15];
    }
    return id;
}

// Only names this store makes are read or removed; a stored value of any
// other form (a damaged or foreign database) names no file.
bool isBlobFileName(const std::string& name) {
    if (name.size() != BLOB_ID_LENGTH + std::strlen(BLOB_SUFFIX) || name.compare(BLOB_ID_LENGTH, std::string::npos, BLOB_SUFFIX) != 0)
        return false;
    for (std::size_t i = 0; i < BLOB_ID_LENGTH; ++i) {
        const char c = name[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

bool syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool good = ::fsync(fd) == 0;
    ::close(fd);
    return good;
}

// The row of a name as a put or delete sees it: whether there is one, whose
// it is, and the blob file it points at.
struct CurrentRow {
    bool exists = false;
    bool owned = false;
    std::optional<std::string> blobFile;
};

Outcome<CurrentRow> currentRow(sqlite3* db, const std::string& name, const Owner& owner) {
    Statement statement;
    if (!prepare(db, statement, "SELECT blob_file, " OWNED_BY_PARAMETERS " FROM backup_record WHERE name = ?1"))
        return {std::nullopt, liteError(db, "cannot read the record")};
    bindText(statement, 1, name);
    bindOwner(statement, owner);
    const int step = sqlite3_step(statement.handle);
    if (step == SQLITE_DONE) return {CurrentRow{}, std::nullopt};
    if (step != SQLITE_ROW) return {std::nullopt, liteError(db, "cannot read the record")};
    return {CurrentRow{true, sqlite3_column_int(statement.handle, 1) == 1, columnOptionalText(statement, 0)}, std::nullopt};
}

StoreError heldByAnother(const std::string& name) {
    return StoreError{SERVER_RECORD_CHANGED, "the record name " + name + " is held by a record of another account or key"};
}

// Removes the files of the blob folder that nothing will read again. It
// runs inside a write transaction, so it sees the committed rows while no
// other process can commit:
// - a put renames its file to its final name and commits while holding
//   that same write lock, so a final-named file that no row names belongs
//   to no put in progress: it is left by a put that ended before its commit,
//   or it is the old file of a put or delete that ended before removing it;
// - a ".tmp-" file is being written for as long as its writer holds its
//   lock, so it is removed only when the lock is free and the file is old.
void sweepBlobFolder(sqlite3* db, const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    std::vector<std::string> finished, unfinished;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (isBlobFileName(name)) finished.push_back(name);
        else if (name.rfind(TEMP_PREFIX, 0) == 0) unfinished.push_back(name);
    }
    ::closedir(dir);
    if (!finished.empty()) {
        Statement statement;
        if (!prepare(db, statement, "SELECT blob_file FROM backup_record WHERE blob_file IS NOT NULL")) return;
        std::set<std::string> named;
        int step = SQLITE_ROW;
        while ((step = sqlite3_step(statement.handle)) == SQLITE_ROW) named.insert(columnText(statement, 0));
        if (step != SQLITE_DONE) return;  // not knowing every name, remove nothing
        for (const std::string& name : finished) {
            if (named.count(name) == 0) ::unlink((folder + "/" + name).c_str());
        }
    }
    const std::time_t now = std::time(nullptr);
    for (const std::string& name : unfinished) {
        const std::string path = folder + "/" + name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat info {};
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && now - info.st_mtime > ABANDONED_TEMP_AGE_S &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlink(path.c_str());
        ::close(fd);
    }
}

// A blob written to its own file, not yet under its final name.
struct BlobFileWrite {
    std::string name;       // the final name, in the blob folder
    std::string temporary;  // the path it was written to
    std::shared_ptr<OpenFile> file;  // holds the writer's lock until the put ends
    BlobDigest digest;
};

// Copies the source into a new file under a temporary name in the folder
// and syncs it. The database syncs its log at every commit of a put (see
// withSyncedCommits), so the bytes a committed row names are on the disk
// first: after a power loss the row names either the old or the new file
// whole. There is no setting under which the database skips syncing, so
// neither does this.
//
// head, when given, holds the first bytes of the blob, already read from
// the source; the rest follows from the source's offset. The digest of
// everything written is left in out.digest.
std::optional<std::string> writeBlobFile(const std::string& folder, const BackupRecord& record, const Bytes* head,
                                         BlobFileWrite& out) {
    if (auto error = makeFolders(folder)) return error;
    const std::string id = randomId();
    out.name = id + BLOB_SUFFIX;
    out.temporary = folder + "/" + TEMP_PREFIX + id;
    const int fd = ::open(out.temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return fileError("cannot write file", out.temporary, errno);
    out.file = std::make_shared<OpenFile>(fd);
    std::optional<std::string> error;
    if (::flock(fd, LOCK_EX) != 0) error = fileError("cannot lock file", out.temporary, errno);
    Sha256 hash;
    if (!error && head != nullptr) {
        hash.update(head->data.get(), head->size);
        for (std::size_t done = 0; !error && done < head->size;) {
            const ssize_t written = ::write(fd, head->data.get() + done, head->size - done);
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) error = fileError("cannot write file", out.temporary, written == 0 ? EIO : errno);
            else done += static_cast<std::size_t>(written);
        }
    }
    if (!error) error = copyFileData(record.blobFile->fd, record.blobFilePath, fd, out.temporary, true, &hash);
    if (!error) {
        // Everything was written in order from the start of the new file.
        const off_t length = ::lseek(fd, 0, SEEK_CUR);
        if (length < 0) error = fileError("cannot write file", out.temporary, errno);
        else out.digest = BlobDigest{static_cast<std::uint64_t>(length), hash.finishHex()};
    }
    if (!error && ::fdatasync(fd) != 0) error = fileError("cannot write file", out.temporary, errno);
    if (error) ::unlink(out.temporary.c_str());
    return error;
}

// Runs body with each commit synced to the disk before it returns. A put
// or delete removes the file that the row named before right after its
// commit; were the commit only in the page cache, a power loss could bring
// back a row naming a file that is gone.
template <class T, class Body>
Outcome<T> withSyncedCommits(sqlite3* db, Body body) {
    if (!exec(db, "PRAGMA synchronous = FULL")) return {std::nullopt, liteError(db, "cannot set up the transaction")};
    Outcome<T> outcome = body();
    exec(db, "PRAGMA synchronous = NORMAL");
    return outcome;
}

void removeBlobFile(const Backend& backend, const std::optional<std::string>& name) {
    if (name && isBlobFileName(*name)) ::unlink((backend.blobFolder + "/" + *name).c_str());
}

bool hasColumn(sqlite3* db, const char* column) {
    Statement statement;
    if (!prepare(db, statement, "SELECT count(*) FROM pragma_table_info('backup_record') WHERE name = ?1")) return false;
    sqlite3_bind_text(statement.handle, 1, column, -1, SQLITE_STATIC);
    return sqlite3_step(statement.handle) == SQLITE_ROW && sqlite3_column_int(statement.handle, 0) == 1;
}

// Whether the database has every column and trigger of this version.
bool schemaCurrent(sqlite3* db) {
    for (const auto& [column, type] : ADDED_COLUMNS) {
        if (!hasColumn(db, column)) return false;
    }
    Statement statement;
    if (!prepare(db, statement, "SELECT count(*) FROM sqlite_master WHERE type = 'trigger' AND name IN"
                                " ('backup_record_blob_replaced', 'backup_record_owner_replaced')"))
        return false;
    return sqlite3_step(statement.handle) == SQLITE_ROW && sqlite3_column_int(statement.handle, 0) == TRIGGER_COUNT;
}

bool schemaPresent(sqlite3* db) {
    Statement statement;
    if (!prepare(db, statement, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN ('backup_record', 'subscription')"))
        return false;
    return sqlite3_step(statement.handle) == SQLITE_ROW && sqlite3_column_int(statement.handle, 0) == 2;
}

} // namespace

bool liteOpen(Backend& backend) {
    const std::string folder = dataFolder();
    if (folder.empty()) {
        backend.openError = StoreError{INTERNAL_ERROR, "no data folder: neither XDG_DATA_HOME nor HOME is set"};
        return false;
    }
    if (auto error = makeFolders(folder)) {
        backend.openError = StoreError{INTERNAL_ERROR, *error};
        return false;
    }
    const std::string stem = containerStem(backend.identifier);
    const std::string path = folder + "/" + stem + ".sqlite3";
    backend.assetFolder = folder + "/" + stem + ".assets";
    backend.blobFolder = folder + "/" + stem + ".blobs";
    sqlite3* db = nullptr;
    const int opened = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    backend.lite = db;
    if (opened != SQLITE_OK) {
        backend.openError = StoreError{INTERNAL_ERROR, "cannot open " + path + ": " + (db != nullptr ? sqlite3_errmsg(db) : "out of memory")};
        return false;
    }
    sqlite3_busy_timeout(db, BUSY_TIMEOUT_MS);
    // Large pages suit large blobs; the size only takes effect on a new file.
    bool good = exec(db, "PRAGMA page_size = 65536") && exec(db, "PRAGMA journal_mode = WAL") &&
                exec(db, "PRAGMA synchronous = NORMAL");
    if (good && !schemaPresent(db)) {
        good = inTransaction<bool>(db, "BEGIN IMMEDIATE", [&]() -> Outcome<bool> {
                   if (!exec(db, SCHEMA)) return {std::nullopt, liteError(db, "cannot create tables")};
                   return {true, std::nullopt};
               }).value.has_value();
    }
    // Databases of earlier versions gain the columns (and triggers) they
    // lack; their rows keep working without them.
    if (good && !schemaCurrent(db)) {
        good = inTransaction<bool>(db, "BEGIN IMMEDIATE", [&]() -> Outcome<bool> {
                   for (const auto& [column, type] : ADDED_COLUMNS) {
                       const std::string sql = std::string("ALTER TABLE backup_record ADD COLUMN ") + column + " " + type;
                       if (!hasColumn(db, column) && !exec(db, sql.c_str()))
                           return {std::nullopt, liteError(db, std::string("cannot add the column ") + column)};
                   }
                   if (!exec(db, TRIGGERS)) return {std::nullopt, liteError(db, "cannot create the triggers")};
                   return {true, std::nullopt};
               }).value.has_value();
    }
    if (!good) {
        backend.openError = liteError(db, "cannot open " + path);
        return false;
    }
    return true;
}

void liteClose(Backend& backend) {
    sqlite3_close_v2(backend.lite);
    backend.lite = nullptr;
}

Outcome<bool> liteSaveSubscription(Backend& backend, const Subscription& subscription) {
    sqlite3* db = backend.lite;
    Statement statement;
    if (!prepare(db, statement, "INSERT INTO subscription (id, content_available) VALUES (?1, ?2)"
                                " ON CONFLICT (id) DO UPDATE SET content_available = excluded.content_available"))
        return {std::nullopt, liteError(db, "cannot save the subscription")};
    bindText(statement, 1, subscription.id);
    sqlite3_bind_int(statement.handle, 2, subscription.shouldSendContentAvailable ? 1 : 0);
    if (sqlite3_step(statement.handle) != SQLITE_DONE) return {std::nullopt, liteError(db, "cannot save the subscription")};
    return {true, std::nullopt};
}

Outcome<BackupRecord> liteFetch(Backend& backend, const std::string& name, const Owner& owner) {
    sqlite3* db = backend.lite;
    // The blob file is opened inside the read, but a put may commit and
    // remove it before the open: then the row is read again. A row that
    // names the same missing file twice really has lost it.
    std::string missing;
    for (int attempt = 0; attempt < FETCH_ATTEMPTS; ++attempt) {
        bool replaced = false;
        Outcome<BackupRecord> outcome = inTransaction<BackupRecord>(db, "BEGIN", [&]() -> Outcome<BackupRecord> {
            Statement statement;
            if (!prepare(db, statement, "SELECT rowid, typeof(blob) = 'blob', length(blob), asset, updated_at, account, key,"
                                        " blob_file, blob_length, blob_sha256 FROM backup_record"
                                        " WHERE name = ?1 AND " OWNED_BY_PARAMETERS))
                return {std::nullopt, liteError(db, "cannot read the record")};
            bindText(statement, 1, name);
            bindOwner(statement, owner);
            const int step = sqlite3_step(statement.handle);
            if (step == SQLITE_DONE) return failure<BackupRecord>(UNKNOWN_ITEM, "record not found: " + name);
            if (step != SQLITE_ROW) return {std::nullopt, liteError(db, "cannot read the record")};
            BackupRecord record;
            record.name = name;
            record.asset = assetPath(backend, columnOptionalText(statement, 3));
            record.updatedAtMs = columnOptionalInteger(statement, 4);
            record.account = columnOptionalText(statement, 5);
            record.key = columnOptionalText(statement, 6);
            const std::optional<std::string> blobFile = columnOptionalText(statement, 7);
            auto digest = storedDigest(name, columnOptionalInteger(statement, 8), columnOptionalText(statement, 9));
            if (digest.error) return {std::nullopt, digest.error};
            record.digest = *digest.value;
            // Bytes in the row come first: only they can be newer than a
            // file the row also names.
            if (sqlite3_column_int(statement.handle, 1) == 1) {
                // Read the bytes straight into the one buffer that the command writes out.
                const sqlite3_int64 rowid = sqlite3_column_int64(statement.handle, 0);
                const auto size = static_cast<std::size_t>(sqlite3_column_int64(statement.handle, 2));
                Bytes bytes = allocateBytes(size);
                sqlite3_blob* blob = nullptr;
                if (sqlite3_blob_open(db, "main", "backup_record", "blob", rowid, 0, &blob) != SQLITE_OK) {
                    sqlite3_blob_close(blob);
                    return {std::nullopt, liteError(db, "cannot read the blob")};
                }
                std::size_t done = 0;
                int status = SQLITE_OK;
                const auto available = static_cast<std::size_t>(sqlite3_blob_bytes(blob));
                while (status == SQLITE_OK && done < size && done < available) {
                    const int chunk = static_cast<int>(std::min<std::size_t>(available - done, BLOB_CHUNK));
                    status = sqlite3_blob_read(blob, bytes.data.get() + done, chunk, static_cast<int>(done));
                    done += static_cast<std::size_t>(chunk);
                }
                sqlite3_blob_close(blob);
                if (status != SQLITE_OK || available != size) return {std::nullopt, liteError(db, "cannot read the blob")};
                record.blob = std::move(bytes);
            } else if (blobFile) {
                if (!isBlobFileName(*blobFile))
                    return failure<BackupRecord>(INTERNAL_ERROR, "the record " + name + " names no valid blob file");
                const std::string path = backend.blobFolder + "/" + *blobFile;
                const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
                if (fd < 0 && errno == ENOENT && missing != *blobFile) {
                    missing = *blobFile;
                    replaced = true;
                    return {BackupRecord{}, std::nullopt};
                }
                if (fd < 0 && errno == ENOENT)
                    return failure<BackupRecord>(INTERNAL_ERROR, "the blob file of " + name + " is missing: " + path);
                if (fd < 0) return failure<BackupRecord>(INTERNAL_ERROR, fileError("cannot read file", path, errno));
                record.blobFile = std::make_shared<OpenFile>(fd);
                record.blobFilePath = path;
            }
            return {std::move(record), std::nullopt};
        });
        if (!replaced || outcome.error) return outcome;
    }
    return failure<BackupRecord>(INTERNAL_ERROR, "the record " + name + " kept changing while it was read");
}

Outcome<bool> liteSave(Backend& backend, const BackupRecord& record) {
    sqlite3* db = backend.lite;
    const Owner owner = record.owner.value_or(ownerOf(record.account.value_or(""), record.key.value_or("")));
    bool inRow = record.blob.has_value();
    Bytes inlineBytes = record.blob.value_or(Bytes{});
    BlobFileWrite written;
    const bool separate = !inRow && record.blobFile;
    if (separate) {
        // A source that turns out smaller than the limit goes into the row,
        // anything longer into a file of its own. A regular file that says
        // it is that long goes there straight away; any other source is read
        // up to the limit first, as its size may say too little (a file of
        // /proc, one that grows while read) or nothing (a pipe).
        struct stat info {};
        const int fd = record.blobFile->fd;
        const off_t offset = ::lseek(fd, 0, SEEK_CUR);
        const bool knownLarge = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && offset >= 0 &&
                                info.st_size - offset >= static_cast<off_t>(INLINE_BLOB_LIMIT);
        std::optional<Bytes> head;
        if (!knownLarge) {
            FileRead read = readOpenFile(fd, record.blobFilePath, INLINE_BLOB_LIMIT - 1);
            if (!read.bytes) return failure<bool>(INTERNAL_ERROR, read.error);
            if (read.complete) {
                inlineBytes = std::move(*read.bytes);
                inRow = true;
            } else {
                head = std::move(read.bytes);
            }
        }
        if (!inRow) {
            if (auto error = writeBlobFile(backend.blobFolder, record, head ? &*head : nullptr, written))
                return failure<bool>(INTERNAL_ERROR, *error);
        }
    }
    const bool toFile = separate && !inRow;
    const BlobDigest digest = toFile ? written.digest : digestOf(inlineBytes.data.get(), inlineBytes.size);
    std::optional<std::string> previous;  // the file the row named before
    bool renamed = false;
    Outcome<bool> outcome = withSyncedCommits<bool>(db, [&] {
        return inTransaction<bool>(db, "BEGIN IMMEDIATE", [&]() -> Outcome<bool> {
            Outcome<CurrentRow> current = currentRow(db, record.name, owner);
            if (current.error) return {std::nullopt, current.error};
            if (current.value->exists && !current.value->owned) return {std::nullopt, heldByAnother(record.name)};
            previous = current.value->blobFile;
            sweepBlobFolder(db, backend.blobFolder);
            if (toFile) {
                // Under its final name only now, inside the write lock (see sweepBlobFolder).
                const std::string path = backend.blobFolder + "/" + written.name;
                if (::rename(written.temporary.c_str(), path.c_str()) != 0)
                    return failure<bool>(INTERNAL_ERROR, fileError("cannot write file", path, errno));
                renamed = true;
                if (!syncFolder(backend.blobFolder))
                    return failure<bool>(INTERNAL_ERROR, fileError("cannot write file", path, errno));
            }
            // The old row goes and a new one comes, rather than an update,
            // which is what tools that know no digest do (see TRIGGERS).
            Statement removal;
            if (!prepare(db, removal, "DELETE FROM backup_record WHERE name = ?1"))
                return {std::nullopt, liteError(db, "cannot save the record")};
            bindText(removal, 1, record.name);
            if (sqlite3_step(removal.handle) != SQLITE_DONE) return {std::nullopt, liteError(db, "cannot save the record")};
            Statement statement;
            if (!prepare(db, statement,
                         "INSERT INTO backup_record (name, account, key, updated_at, asset, blob, blob_file,"
                         " blob_length, blob_sha256, owner) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)"))
                return {std::nullopt, liteError(db, "cannot save the record")};
            bindText(statement, 1, record.name);
            bindOptionalText(statement, 2, record.account);
            bindOptionalText(statement, 3, record.key);
            if (record.updatedAtMs) sqlite3_bind_int64(statement.handle, 4, *record.updatedAtMs);
            bindOptionalText(statement, 5, record.asset);
            // The bytes are bound in place, not copied; they outlive the statement.
            if (inRow && sqlite3_bind_blob64(statement.handle, 6, inlineBytes.data.get(), inlineBytes.size, SQLITE_STATIC) != SQLITE_OK)
                return {std::nullopt, liteError(db, "cannot save the record")};
            if (toFile) bindText(statement, 7, written.name);
            if (inRow || toFile) {
                sqlite3_bind_int64(statement.handle, 8, static_cast<sqlite3_int64>(digest.length));
                bindText(statement, 9, digest.sha256);
            }
            sqlite3_bind_blob64(statement.handle, 10, owner.bytes.data(), owner.bytes.size(), SQLITE_STATIC);
            if (sqlite3_step(statement.handle) != SQLITE_DONE) return {std::nullopt, liteError(db, "cannot save the record")};
            return {true, std::nullopt};
        });
    });
    if (!outcome.error) {
        if (!toFile || previous != written.name) removeBlobFile(backend, previous);
    } else if (toFile && !renamed) {
        ::unlink(written.temporary.c_str());
    }
    // A renamed file whose transaction failed is left to the sweep: after a
    // failed commit it cannot be told here for certain that no row names it.
    return outcome;
}

Outcome<bool> liteDelete(Backend& backend, const std::string& name, const Owner& owner) {
    sqlite3* db = backend.lite;
    std::optional<std::string> previous;
    Outcome<bool> outcome = withSyncedCommits<bool>(db, [&] {
        return inTransaction<bool>(db, "BEGIN IMMEDIATE", [&]() -> Outcome<bool> {
            Outcome<CurrentRow> current = currentRow(db, name, owner);
            if (current.error) return {std::nullopt, current.error};
            // Another's record under the name is none of this caller's.
            if (!current.value->exists || !current.value->owned) return failure<bool>(UNKNOWN_ITEM, "record not found: " + name);
            previous = current.value->blobFile;
            Statement statement;
            if (!prepare(db, statement, "DELETE FROM backup_record WHERE name = ?1"))
                return {std::nullopt, liteError(db, "cannot delete the record")};
            bindText(statement, 1, name);
            if (sqlite3_step(statement.handle) != SQLITE_DONE) return {std::nullopt, liteError(db, "cannot delete the record")};
            if (sqlite3_changes(db) == 0) return failure<bool>(UNKNOWN_ITEM, "record not found: " + name);
            return {true, std::nullopt};
        });
    });
    if (!outcome.error) removeBlobFile(backend, previous);
    return outcome;
}

Outcome<std::vector<ListEntry>> liteQueryAll(Backend& backend) {
    sqlite3* db = backend.lite;
    Statement statement;
    if (!prepare(db, statement, "SELECT name, account, key, updated_at, typeof(asset) = 'text' AND length(asset) > 0"
                                " FROM backup_record ORDER BY name"))
        return {std::nullopt, liteError(db, "cannot list the records")};
    std::vector<ListEntry> entries;
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(statement.handle)) == SQLITE_ROW) {
        ListEntry entry;
        entry.recordName = columnText(statement, 0);
        entry.account = columnOptionalText(statement, 1).value_or("");
        entry.key = columnOptionalText(statement, 2).value_or("");
        entry.updatedAtMs = columnOptionalInteger(statement, 3);
        entry.hasAsset = sqlite3_column_int(statement.handle, 4) == 1;
        entries.push_back(std::move(entry));
    }
    if (step != SQLITE_DONE) return {std::nullopt, liteError(db, "cannot list the records")};
    return {std::move(entries), std::nullopt};
}

} // namespace cloudkit
