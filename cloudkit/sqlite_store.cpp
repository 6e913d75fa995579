// The embedded store: one SQLite database per container in the data folder.
#include "backend.hpp"
#include "files.hpp"
#include "text.hpp"

#include <sqlite3.h>

namespace cloudkit {
namespace {

constexpr int BUSY_TIMEOUT_MS = 60000;
constexpr int BLOB_CHUNK = 16 << 20;

constexpr const char* SCHEMA =
    "CREATE TABLE IF NOT EXISTS backup_record ("
    " name TEXT PRIMARY KEY NOT NULL,"
    " account TEXT,"
    " key TEXT,"
    " updated_at INTEGER,"
    " asset TEXT,"
    " blob BLOB);"
    "CREATE TABLE IF NOT EXISTS subscription ("
    " id TEXT PRIMARY KEY NOT NULL,"
    " content_available INTEGER NOT NULL);";

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

Outcome<BackupRecord> liteFetch(Backend& backend, const std::string& name) {
    sqlite3* db = backend.lite;
    return inTransaction<BackupRecord>(db, "BEGIN", [&]() -> Outcome<BackupRecord> {
        Statement statement;
        if (!prepare(db, statement, "SELECT rowid, typeof(blob) = 'blob', length(blob), asset, updated_at, account, key"
                                    " FROM backup_record WHERE name = ?1"))
            return {std::nullopt, liteError(db, "cannot read the record")};
        bindText(statement, 1, name);
        const int step = sqlite3_step(statement.handle);
        if (step == SQLITE_DONE) return failure<BackupRecord>(UNKNOWN_ITEM, "record not found: " + name);
        if (step != SQLITE_ROW) return {std::nullopt, liteError(db, "cannot read the record")};
        BackupRecord record;
        record.name = name;
        record.asset = assetPath(backend, columnOptionalText(statement, 3));
        record.updatedAtMs = columnOptionalInteger(statement, 4);
        record.account = columnOptionalText(statement, 5);
        record.key = columnOptionalText(statement, 6);
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
        }
        return {std::move(record), std::nullopt};
    });
}

Outcome<bool> liteSave(Backend& backend, const BackupRecord& record) {
    sqlite3* db = backend.lite;
    return inTransaction<bool>(db, "BEGIN IMMEDIATE", [&]() -> Outcome<bool> {
        Statement statement;
        if (!prepare(db, statement,
                     "INSERT INTO backup_record (name, account, key, updated_at, asset, blob)"
                     " VALUES (?1, ?2, ?3, ?4, ?5, ?6)"
                     " ON CONFLICT (name) DO UPDATE SET account = excluded.account, key = excluded.key,"
                     " updated_at = excluded.updated_at, asset = excluded.asset, blob = excluded.blob"))
            return {std::nullopt, liteError(db, "cannot save the record")};
        bindText(statement, 1, record.name);
        bindOptionalText(statement, 2, record.account);
        bindOptionalText(statement, 3, record.key);
        if (record.updatedAtMs) sqlite3_bind_int64(statement.handle, 4, *record.updatedAtMs);
        bindOptionalText(statement, 5, record.asset);
        // The bytes are bound in place, not copied; they outlive the statement.
        if (record.blob && sqlite3_bind_blob64(statement.handle, 6, record.blob->data.get(), record.blob->size, SQLITE_STATIC) != SQLITE_OK)
            return {std::nullopt, liteError(db, "cannot save the record")};
        if (sqlite3_step(statement.handle) != SQLITE_DONE) return {std::nullopt, liteError(db, "cannot save the record")};
        return {true, std::nullopt};
    });
}

Outcome<bool> liteDelete(Backend& backend, const std::string& name) {
    sqlite3* db = backend.lite;
    Statement statement;
    if (!prepare(db, statement, "DELETE FROM backup_record WHERE name = ?1"))
        return {std::nullopt, liteError(db, "cannot delete the record")};
    bindText(statement, 1, name);
    if (sqlite3_step(statement.handle) != SQLITE_DONE) return {std::nullopt, liteError(db, "cannot delete the record")};
    if (sqlite3_changes(db) == 0) return failure<bool>(UNKNOWN_ITEM, "record not found: " + name);
    return {true, std::nullopt};
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
