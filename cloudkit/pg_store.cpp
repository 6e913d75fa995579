// The PostgreSQL store: the same records in a server's database. Values
// travel only as statement parameters or COPY data, blobs in binary form.
#include "backend.hpp"
#include "text.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <libpq-fe.h>
#include <poll.h>

namespace cloudkit {
namespace {

constexpr std::size_t FETCH_CHUNK = std::size_t{8} << 20;
constexpr std::size_t COPY_CHUNK = std::size_t{1} << 20;
constexpr std::size_t BYTEA_MAX = 0x3FFFFFFF;
// Seconds from 1970-01-01 to 2000-01-01, the epoch of binary timestamps.
constexpr std::int64_t PG_EPOCH_OFFSET_MS = 946684800000;

constexpr const char* SCHEMA =
    "CREATE TABLE IF NOT EXISTS brindle_backup_record ("
    " name text PRIMARY KEY,"
    " account text,"
    " key text,"
    " updated_at timestamptz,"
    " asset text,"
    " blob bytea,"
    " blob_length bigint,"
    " blob_sha256 text,"
    " owner bytea);"
    // Tables of earlier versions gain the columns they lack; their rows
    // keep working without them.
    "ALTER TABLE brindle_backup_record ADD COLUMN IF NOT EXISTS blob_length bigint,"
    " ADD COLUMN IF NOT EXISTS blob_sha256 text, ADD COLUMN IF NOT EXISTS owner bytea;"
    // Blobs are stored uncompressed, so that slices of them can be read
    // without decompressing everything before the slice.
    "ALTER TABLE brindle_backup_record ALTER COLUMN blob SET STORAGE EXTERNAL;"
    "CREATE TABLE IF NOT EXISTS brindle_subscription ("
    " id text PRIMARY KEY,"
    " content_available boolean NOT NULL);";

// Every change to a record is announced on the subscription's channel with
// the record's name; names too long for a notification payload are
// announced with an empty payload, which asks the listener to re-read all.
constexpr const char* NOTIFY_TRIGGER =
    "CREATE OR REPLACE FUNCTION brindle_backup_notify() RETURNS trigger LANGUAGE plpgsql AS $$"
    " DECLARE changed text := CASE WHEN TG_OP = 'DELETE' THEN OLD.name ELSE NEW.name END;"
    " BEGIN"
    "  IF octet_length(changed) >= 8000 THEN changed := ''; END IF;"
    "  PERFORM pg_notify('brindlehq-backup-v1', changed);"
    "  RETURN NULL;"
    " END $$;"
    "CREATE OR REPLACE TRIGGER brindle_backup_notify AFTER INSERT OR UPDATE OR DELETE"
    " ON brindle_backup_record FOR EACH ROW EXECUTE FUNCTION brindle_backup_notify();";

// Whether the row belongs to the owner given as $2 (bytes), $3 (account)
// and $4 (key): the owner bytes decide; rows put before there were any are
// matched by the account and key they do have. Never NULL.
#define OWNED_BY_PARAMETERS \
    "(CASE WHEN owner IS NOT NULL THEN owner = $2" \
    " ELSE (account IS NULL OR account = $3) AND (key IS NULL OR key = $4) END)"

// Advisory lock class for schema changes; record writers lock by name.
constexpr const char* SCHEMA_LOCK = "SELECT pg_advisory_xact_lock(1651664228, 0)";

struct Result {
    PGresult* handle = nullptr;
    explicit Result(PGresult* result) : handle(result) {}
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    ~Result() { PQclear(handle); }
};

// One line of text from a possibly multi-line libpq message.
std::string oneLine(const char* message) {
    std::string line;
    for (const char* c = message; c != nullptr && *c != '\0'; ++c) {
        if (*c == '\n' || *c == '\t' || *c == '\r') {
            if (!line.empty() && line.back() != ' ') line += ' ';
        } else {
            line += *c;
        }
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

StoreError pgError(PGconn* conn, const PGresult* result, const std::string& context) {
    const bool lost = PQstatus(conn) != CONNECTION_OK;
    const char* message = result != nullptr ? PQresultErrorMessage(result) : "";
    if (message == nullptr || *message == '\0') message = PQerrorMessage(conn);
    const char* state = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const bool tooBig = state != nullptr && (std::strcmp(state, "54000") == 0 || std::strcmp(state, "54001") == 0);
    return StoreError{lost ? NETWORK_FAILURE : tooBig ? LIMIT_EXCEEDED : INTERNAL_ERROR, context + ": " + oneLine(message)};
}

// Runs one statement with text parameters; resultFormat 1 asks for binary
// results. The parameters listed in binaryParams are sent as they are, in
// binary form (for bytea, whatever bytes they hold).
Result execute(PGconn* conn, const char* sql, const std::vector<std::string>& params, int resultFormat = 0,
               const std::vector<int>& binaryParams = {}) {
    std::vector<const char*> values;
    std::vector<int> lengths, formats(params.size(), 0);
    for (const auto& param : params) {
        values.push_back(param.c_str());
        lengths.push_back(static_cast<int>(param.size()));
    }
    for (int index : binaryParams) formats.at(static_cast<std::size_t>(index)) = 1;
    return Result(PQexecParams(conn, sql, static_cast<int>(params.size()), nullptr, values.data(), lengths.data(),
                               formats.data(), resultFormat));
}

// A statement whose parameters are the name and then the owner ($1 to $4).
Result executeForOwner(PGconn* conn, const char* sql, const std::string& name, const Owner& owner) {
    return execute(conn, sql, {name, owner.bytes, owner.account, owner.key}, 0, {1});
}

bool succeeded(const Result& result) {
    const ExecStatusType status = PQresultStatus(result.handle);
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

std::optional<std::string> optionalValue(const Result& result, int row, int column) {
    if (PQgetisnull(result.handle, row, column)) return std::nullopt;
    return std::string(PQgetvalue(result.handle, row, column), static_cast<std::size_t>(PQgetlength(result.handle, row, column)));
}

std::optional<std::int64_t> optionalInteger(const Result& result, int row, int column) {
    auto text = optionalValue(result, row, column);
    if (!text) return std::nullopt;
    try {
        return std::stoll(*text);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

template <class T, class Body>
Outcome<T> inTransaction(PGconn* conn, const char* begin, Body body) {
    if (Result started(PQexec(conn, begin)); !succeeded(started))
        return {std::nullopt, pgError(conn, started.handle, "cannot start a transaction")};
    Outcome<T> outcome = body();
    if (outcome.error) {
        Result rolledBack(PQexec(conn, "ROLLBACK"));
        return outcome;
    }
    if (Result committed(PQexec(conn, "COMMIT")); !succeeded(committed))
        return {std::nullopt, pgError(conn, committed.handle, "cannot commit")};
    return outcome;
}

// Installs the tables (and with the trigger, the notification) under one
// advisory lock, so that concurrent first runs do not race each other.
Outcome<bool> installSchema(PGconn* conn, bool withTrigger) {
    return inTransaction<bool>(conn, "BEGIN", [&]() -> Outcome<bool> {
        for (const char* sql : {SCHEMA_LOCK, SCHEMA, withTrigger ? NOTIFY_TRIGGER : ""}) {
            if (*sql == '\0') continue;
            Result result(PQexec(conn, sql));
            if (!succeeded(result)) return {std::nullopt, pgError(conn, result.handle, "cannot create the tables")};
        }
        return {true, std::nullopt};
    });
}

void appendInt16(std::string& out, std::int16_t value) {
    const auto bits = static_cast<std::uint16_t>(value);
    out += static_cast<char>(bits >> 8);
    out += static_cast<char>(bits & 0xFF);
}

void appendInt32(std::string& out, std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((bits >> shift) & 0xFF);
}

void appendInt64(std::string& out, std::int64_t value) {
    const auto bits = static_cast<std::uint64_t>(value);
    for (int shift = 56; shift >= 0; shift -= 8) out += static_cast<char>((bits >> shift) & 0xFF);
}

void appendField(std::string& out, const std::optional<std::string>& value) {
    if (!value) return appendInt32(out, -1);
    appendInt32(out, static_cast<std::int32_t>(value->size()));
    out += *value;
}

// Streams the record as one row of binary COPY data, so that libpq never
// holds a second copy of the blob.
Outcome<bool> copyRecord(PGconn* conn, const BackupRecord& record, const Owner& owner) {
    Result started(PQexec(conn, "COPY brindle_backup_record (name, account, key, updated_at, asset, blob, blob_length,"
                                " blob_sha256, owner) FROM STDIN (FORMAT binary)"));
    if (PQresultStatus(started.handle) != PGRES_COPY_IN)
        return {std::nullopt, pgError(conn, started.handle, "cannot save the record")};
    std::string head("PGCOPY\n\377\r\n\0", 11);
    appendInt32(head, 0);
    appendInt32(head, 0);
    appendInt16(head, 9);
    appendField(head, record.name);
    appendField(head, record.account);
    appendField(head, record.key);
    if (record.updatedAtMs) {
        appendInt32(head, 8);
        appendInt64(head, (*record.updatedAtMs - PG_EPOCH_OFFSET_MS) * 1000);
    } else {
        appendInt32(head, -1);
    }
    appendField(head, record.asset);
    appendInt32(head, record.blob ? static_cast<std::int32_t>(record.blob->size) : -1);
    bool good = PQputCopyData(conn, head.data(), static_cast<int>(head.size())) == 1;
    if (record.blob) {
        for (std::size_t done = 0; good && done < record.blob->size;) {
            const std::size_t chunk = std::min(record.blob->size - done, COPY_CHUNK);
            good = PQputCopyData(conn, record.blob->data.get() + done, static_cast<int>(chunk)) == 1;
            done += chunk;
        }
    }
    std::string tail;
    if (record.blob) {
        const BlobDigest digest = digestOf(record.blob->data.get(), record.blob->size);
        appendInt32(tail, 8);
        appendInt64(tail, static_cast<std::int64_t>(digest.length));
        appendField(tail, digest.sha256);
    } else {
        appendInt32(tail, -1);
        appendInt32(tail, -1);
    }
    appendField(tail, owner.bytes);
    appendInt16(tail, -1);
    good = good && PQputCopyData(conn, tail.data(), static_cast<int>(tail.size())) == 1;
    good = PQputCopyEnd(conn, good ? nullptr : "the record could not be sent") == 1 && good;
    std::optional<StoreError> error;
    if (!good) error = pgError(conn, nullptr, "cannot save the record");
    while (PGresult* raw = PQgetResult(conn)) {
        Result result(raw);
        if (!error && !succeeded(result)) error = pgError(conn, result.handle, "cannot save the record");
    }
    if (error) return {std::nullopt, error};
    return {true, std::nullopt};
}

// The connect timeout in effect: the URI's connect_timeout, else ours;
// libpq counts values below 2 as 2, and 0 or less as none.
std::optional<int> connectTimeoutSeconds(PGconn* conn) {
    std::optional<int> seconds;
    PQconninfoOption* options = PQconninfo(conn);
    for (PQconninfoOption* option = options; option != nullptr && option->keyword != nullptr; ++option) {
        if (std::strcmp(option->keyword, "connect_timeout") != 0 || option->val == nullptr) continue;
        char* end = nullptr;
        errno = 0;
        const long value = std::strtol(option->val, &end, 10);
        if (end != option->val && *end == '\0' && errno == 0 && value > 0)
            seconds = static_cast<int>(std::clamp<long>(value, 2, 24L * 3600 * 365));
    }
    PQconninfoFree(options);
    return seconds;
}

// Drives a connection started with PQconnectStart to its end. The timeout
// starts again whenever libpq moves to another server or address; false
// when it ran out, true once the connection is made or has failed.
bool finishConnecting(PGconn* conn) {
    using Clock = std::chrono::steady_clock;
    const std::optional<int> timeout = connectTimeoutSeconds(conn);
    auto deadline = Clock::now() + std::chrono::seconds(timeout.value_or(0));
    int socket = PQsocket(conn);
    std::string host = PQhost(conn) != nullptr ? PQhost(conn) : "";
    PostgresPollingStatusType status = PQstatus(conn) == CONNECTION_BAD ? PGRES_POLLING_FAILED : PGRES_POLLING_WRITING;
    while (status != PGRES_POLLING_OK && status != PGRES_POLLING_FAILED) {
        pollfd watched{PQsocket(conn), static_cast<short>(status == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
        int waitMs = -1;
        if (timeout) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return false;
            waitMs = static_cast<int>(std::min<long long>(left, 1000));
        }
        const int ready = ::poll(&watched, 1, waitMs);
        if (ready < 0 && errno != EINTR) return true;  // PQconnectPoll reports what is wrong
        if (ready == 0) continue;
        status = PQconnectPoll(conn);
        const char* nowHost = PQhost(conn);
        if (PQsocket(conn) != socket || host != (nowHost != nullptr ? nowHost : "")) {
            socket = PQsocket(conn);
            host = nowHost != nullptr ? nowHost : "";
            deadline = Clock::now() + std::chrono::seconds(timeout.value_or(0));
        }
    }
    return true;
}

} // namespace

bool pgOpen(Backend& backend) {
    const char* keywords[] = {"connect_timeout", "fallback_application_name", "dbname", nullptr};
    const char* values[] = {"10", "brindlehq-cloudkit", backend.identifier.c_str(), nullptr};
    PGconn* conn = PQconnectStartParams(keywords, values, 1);
    backend.pg = conn;
    if (conn == nullptr) {
        backend.openError = StoreError{INTERNAL_ERROR, "out of memory"};
        return false;
    }
    // Server notices ("already exists, skipping", or one about a setting of
    // the URI sent while connecting) are not for the host.
    PQsetNoticeProcessor(conn, [](void*, const char*) {}, nullptr);
    const bool timedOut = !finishConnecting(conn);
    if (timedOut) {
        backend.openError = StoreError{NETWORK_FAILURE, "connection to server at \"" + std::string(PQhost(conn) ? PQhost(conn) : "") +
                                                            "\", port " + (PQport(conn) ? PQport(conn) : "") + " failed: timeout expired"};
        return false;
    }
    if (PQstatus(conn) != CONNECTION_OK) {
        // The server answered but turned the credentials down: the account
        // is not usable, which is not the same as an unreachable server.
        backend.authRefused = PQconnectionNeedsPassword(conn) || PQconnectionUsedPassword(conn);
        backend.openError = StoreError{backend.authRefused ? NOT_AUTHENTICATED : NETWORK_FAILURE, oneLine(PQerrorMessage(conn))};
        return false;
    }
    if (PQsetClientEncoding(conn, "UTF8") != 0) {
        backend.openError = pgError(conn, nullptr, "cannot set the client encoding");
        return false;
    }
    // Asset files of this database live beside the embedded stores, in a
    // folder named after the server, port, database and user.
    const std::string folder = dataFolder();
    if (!folder.empty()) {
        const std::string where = std::string(PQhost(conn)) + "\n" + PQport(conn) + "\n" + PQdb(conn) + "\n" + PQuser(conn);
        backend.assetFolder = folder + "/postgres-" + sha256Hex(where).substr(0, 32) + ".assets";
    }
    Result present(PQexec(conn, "SELECT to_regclass('brindle_backup_record') IS NOT NULL"
                                " AND to_regclass('brindle_subscription') IS NOT NULL"
                                " AND (SELECT count(*) FROM pg_attribute WHERE attrelid = to_regclass('brindle_backup_record')"
                                " AND attname IN ('blob_length', 'blob_sha256', 'owner') AND NOT attisdropped) = 3"));
    if (!succeeded(present)) {
        backend.openError = pgError(conn, present.handle, "cannot read the schema");
        return false;
    }
    if (std::strcmp(PQgetvalue(present.handle, 0, 0), "t") != 0) {
        auto installed = installSchema(conn, false);
        if (installed.error) {
            backend.openError = installed.error;
            return false;
        }
    }
    return true;
}

void pgClose(Backend& backend) {
    PQfinish(backend.pg);
    backend.pg = nullptr;
}

Outcome<bool> pgSaveSubscription(Backend& backend, const Subscription& subscription) {
    PGconn* conn = backend.pg;
    auto installed = installSchema(conn, true);
    if (installed.error) return installed;
    Result saved = execute(conn, "INSERT INTO brindle_subscription (id, content_available) VALUES ($1, $2)"
                                 " ON CONFLICT (id) DO UPDATE SET content_available = EXCLUDED.content_available",
                           {subscription.id, subscription.shouldSendContentAvailable ? "true" : "false"});
    if (!succeeded(saved)) return {std::nullopt, pgError(conn, saved.handle, "cannot save the subscription")};
    return {true, std::nullopt};
}

Outcome<BackupRecord> pgFetch(Backend& backend, const std::string& name, const Owner& owner) {
    PGconn* conn = backend.pg;
    return inTransaction<BackupRecord>(conn, "BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY", [&]() -> Outcome<BackupRecord> {
        Result found = executeForOwner(conn,
                               "SELECT octet_length(blob), asset, account, key,"
                               " CASE WHEN isfinite(updated_at) THEN floor(extract(epoch FROM updated_at) * 1000)::bigint END,"
                               " blob_length, blob_sha256"
                               " FROM brindle_backup_record WHERE name = $1 AND " OWNED_BY_PARAMETERS,
                               name, owner);
        if (!succeeded(found)) return {std::nullopt, pgError(conn, found.handle, "cannot read the record")};
        if (PQntuples(found.handle) == 0) return failure<BackupRecord>(UNKNOWN_ITEM, "record not found: " + name);
        BackupRecord record;
        record.name = name;
        record.asset = assetPath(backend, optionalValue(found, 0, 1));
        record.account = optionalValue(found, 0, 2);
        record.key = optionalValue(found, 0, 3);
        record.updatedAtMs = optionalInteger(found, 0, 4);
        auto digest = storedDigest(name, optionalInteger(found, 0, 5), optionalValue(found, 0, 6));
        if (digest.error) return {std::nullopt, digest.error};
        record.digest = *digest.value;
        if (auto size = optionalInteger(found, 0, 0)) {
            // Slices of the blob are copied one by one into the single buffer.
            Bytes bytes = allocateBytes(static_cast<std::size_t>(*size));
            for (std::size_t done = 0; done < bytes.size;) {
                const std::size_t chunk = std::min(bytes.size - done, FETCH_CHUNK);
                Result slice = execute(conn, "SELECT substring(blob FROM $2::integer FOR $3::integer)"
                                             " FROM brindle_backup_record WHERE name = $1",
                                       {name, std::to_string(done + 1), std::to_string(chunk)}, 1);
                if (!succeeded(slice)) return {std::nullopt, pgError(conn, slice.handle, "cannot read the blob")};
                if (PQntuples(slice.handle) != 1 || static_cast<std::size_t>(PQgetlength(slice.handle, 0, 0)) != chunk)
                    return failure<BackupRecord>(INTERNAL_ERROR, "cannot read the blob: it changed while it was read");
                std::memcpy(bytes.data.get() + done, PQgetvalue(slice.handle, 0, 0), chunk);
                done += chunk;
            }
            record.blob = std::move(bytes);
        }
        return {std::move(record), std::nullopt};
    });
}

Outcome<bool> pgSave(Backend& backend, const BackupRecord& record) {
    PGconn* conn = backend.pg;
    if (record.blob && record.blob->size > BYTEA_MAX) return failure<bool>(LIMIT_EXCEEDED, "the blob is too large for the store");
    const BackupRecord& stored = record;
    const Owner owner = record.owner.value_or(ownerOf(record.account.value_or(""), record.key.value_or("")));
    return inTransaction<bool>(conn, "BEGIN", [&]() -> Outcome<bool> {
        // Writers of one name take turns, so that the check, the delete and
        // the insert of a replacement are never interleaved with another's.
        Result locked = execute(conn, "SELECT pg_advisory_xact_lock(1651664229, hashtext($1))", {stored.name});
        if (!succeeded(locked)) return {std::nullopt, pgError(conn, locked.handle, "cannot save the record")};
        Result others = executeForOwner(conn, "SELECT count(*) FROM brindle_backup_record"
                                              " WHERE name = $1 AND NOT " OWNED_BY_PARAMETERS, stored.name, owner);
        if (!succeeded(others)) return {std::nullopt, pgError(conn, others.handle, "cannot save the record")};
        if (std::strcmp(PQgetvalue(others.handle, 0, 0), "0") != 0)
            return failure<bool>(SERVER_RECORD_CHANGED,
                                 "the record name " + stored.name + " is held by a record of another account or key");
        Result removed = execute(conn, "DELETE FROM brindle_backup_record WHERE name = $1", {stored.name});
        if (!succeeded(removed)) return {std::nullopt, pgError(conn, removed.handle, "cannot save the record")};
        return copyRecord(conn, stored, owner);
    });
}

Outcome<bool> pgDelete(Backend& backend, const std::string& name, const Owner& owner) {
    PGconn* conn = backend.pg;
    // Another's record under the name is none of this caller's.
    Result deleted = executeForOwner(conn, "DELETE FROM brindle_backup_record WHERE name = $1 AND " OWNED_BY_PARAMETERS,
                                     name, owner);
    if (!succeeded(deleted)) return {std::nullopt, pgError(conn, deleted.handle, "cannot delete the record")};
    if (std::strcmp(PQcmdTuples(deleted.handle), "0") == 0) return failure<bool>(UNKNOWN_ITEM, "record not found: " + name);
    return {true, std::nullopt};
}

Outcome<std::vector<ListEntry>> pgQueryAll(Backend& backend) {
    PGconn* conn = backend.pg;
    Result rows = execute(conn,
                          "SELECT name, account, key,"
                          " CASE WHEN isfinite(updated_at) THEN floor(extract(epoch FROM updated_at) * 1000)::bigint END,"
                          " coalesce(asset <> '', false)"
                          " FROM brindle_backup_record ORDER BY name",
                          {});
    if (!succeeded(rows)) return {std::nullopt, pgError(conn, rows.handle, "cannot list the records")};
    std::vector<ListEntry> entries;
    for (int row = 0; row < PQntuples(rows.handle); ++row) {
        ListEntry entry;
        entry.recordName = optionalValue(rows, row, 0).value_or("");
        entry.account = optionalValue(rows, row, 1).value_or("");
        entry.key = optionalValue(rows, row, 2).value_or("");
        entry.updatedAtMs = optionalInteger(rows, row, 3);
        entry.hasAsset = optionalValue(rows, row, 4) == std::optional<std::string>("t");
        entries.push_back(std::move(entry));
    }
    return {std::move(entries), std::nullopt};
}

} // namespace cloudkit
