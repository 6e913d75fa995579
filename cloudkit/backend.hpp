// The connections behind a store. Only the store thread touches them.
#pragma once

#include "store.hpp"

struct sqlite3;
struct pg_conn;

namespace cloudkit {

template <class T>
struct Outcome {
    std::optional<T> value;
    std::optional<StoreError> error;
};

template <class T>
Outcome<T> failure(int code, std::string description) {
    return {std::nullopt, StoreError{code, std::move(description)}};
}

struct Backend {
    StoreKind kind = StoreKind::sqlite;
    std::string identifier;
    bool opened = false;
    std::optional<StoreError> openError;
    bool authRefused = false;  // PostgreSQL turned the credentials down
    sqlite3* lite = nullptr;
    pg_conn* pg = nullptr;
    std::string assetFolder;  // where the files of "asset" fields live
    std::string blobFolder;   // embedded store: where large blobs live, one file each
};

// Resolves a stored "asset" value to the path of a file in the asset folder;
// values that would name a file anywhere else resolve to nothing.
std::optional<std::string> assetPath(const Backend& backend, const std::optional<std::string>& stored);

// The digest stored with a record, from its length and SHA-256 columns:
// none when both are empty; an error when only one is there or either is
// malformed, since the blob cannot then be checked.
Outcome<std::optional<BlobDigest>> storedDigest(const std::string& name, std::optional<std::int64_t> length,
                                                const std::optional<std::string>& sha256);

// Opens the connection on first use; false with backend.openError set when
// that failed.
bool liteOpen(Backend& backend);
void liteClose(Backend& backend);
Outcome<bool> liteSaveSubscription(Backend& backend, const Subscription& subscription);
Outcome<BackupRecord> liteFetch(Backend& backend, const std::string& name, const Owner& owner);
Outcome<bool> liteSave(Backend& backend, const BackupRecord& record);
Outcome<bool> liteDelete(Backend& backend, const std::string& name, const Owner& owner);
Outcome<std::vector<ListEntry>> liteQueryAll(Backend& backend);

bool pgOpen(Backend& backend);
void pgClose(Backend& backend);
Outcome<bool> pgSaveSubscription(Backend& backend, const Subscription& subscription);
Outcome<BackupRecord> pgFetch(Backend& backend, const std::string& name, const Owner& owner);
Outcome<bool> pgSave(Backend& backend, const BackupRecord& record);
Outcome<bool> pgDelete(Backend& backend, const std::string& name, const Owner& owner);
Outcome<std::vector<ListEntry>> pgQueryAll(Backend& backend);

} // namespace cloudkit
