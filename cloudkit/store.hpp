// The backup store: an asynchronous service in the manner of a cloud
// database. Every request runs on the store's own thread and reports once
// through its completion handler, with a value or an error.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "digest.hpp"

namespace cloudkit {

// Error codes, numbered as the cloud service numbers them.
inline constexpr int INTERNAL_ERROR = 1;
inline constexpr int NETWORK_FAILURE = 4;
inline constexpr int NOT_AUTHENTICATED = 9;
inline constexpr int UNKNOWN_ITEM = 11;
inline constexpr int SERVER_RECORD_CHANGED = 14;
inline constexpr int LIMIT_EXCEEDED = 27;

struct StoreError {
    int code = INTERNAL_ERROR;
    std::string description;
};

enum class AccountStatus { couldNotDetermine = 0, available = 1, restricted = 2, noAccount = 3, temporarilyUnavailable = 4 };

// A blob held once in memory and shared, never copied, between the command
// and the store thread.
struct Bytes {
    std::shared_ptr<char[]> data;
    std::size_t size = 0;
};
Bytes allocateBytes(std::size_t size);

// An open file descriptor, closed with the last reference to it.
struct OpenFile {
    int fd = -1;
    OpenFile() = default;
    explicit OpenFile(int descriptor) : fd(descriptor) {}
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ~OpenFile();
};

inline constexpr const char* RECORD_TYPE = "BrindleBackup";
inline constexpr const char* SUBSCRIPTION_ID = "brindlehq-backup-v1";

// Whom a record belongs to. Record names are not one-to-one (account "c"
// with key "a__b" and account "b__c" with key "a" name the same record),
// so a record also keeps the account and key it was put with, and only
// they reach it again.
struct Owner {
    std::string bytes;    // the account, a NUL and the key, exactly as given
    std::string account;  // the account and key as the listing keeps them
    std::string key;      // (valid UTF-8), for records that predate bytes
};
Owner ownerOf(std::string_view account, std::string_view key);

// One record of type "BrindleBackup".
struct BackupRecord {
    std::string name;
    std::optional<Bytes> blob;
    // The blob as an open file instead of bytes in memory: on a save, the
    // file to store (read from its current offset to its end); from a fetch
    // of the embedded store, the store's own file of a large blob.
    std::shared_ptr<OpenFile> blobFile;
    std::string blobFilePath;  // the name of blobFile for messages
    std::optional<std::string> asset;  // path of the file the store keeps
    std::optional<std::int64_t> updatedAtMs;  // milliseconds since 1970, UTC
    std::optional<std::string> account;
    std::optional<std::string> key;
    // On a save, whom the record is for: the save fails when the name is
    // held by a record of someone else.
    std::optional<Owner> owner;
    // From a fetch: the length and SHA-256 stored with the blob when it was
    // put (records put by older versions have none). A save works them
    // out from the bytes it stores.
    std::optional<BlobDigest> digest;
};

struct ListEntry {
    std::string recordName;
    std::string account;
    std::string key;
    std::optional<std::int64_t> updatedAtMs;
    bool hasAsset = false;
};

struct Subscription {
    std::string id;
    bool shouldSendContentAvailable = false;
};

enum class StoreKind { sqlite, postgres, cloudkit };

struct Backend;  // the open connection, owned by the store thread
struct CloudContainer;  // the CloudKit container and database (macOS)

struct Store {
    StoreKind kind = StoreKind::sqlite;
    std::string identifier;  // the container argument
    std::thread worker;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void(Backend&)>> jobs;
    bool closing = false;
    // The CloudKit store runs its requests on a queue of its own and has
    // no use for the thread above.
    std::shared_ptr<CloudContainer> cloud;
};

template <class T>
using Completion = std::function<void(std::optional<T>, std::optional<StoreError>)>;

// Starts the store for a container identifier: a postgresql:// or
// postgres:// URI names a PostgreSQL database, anything else an embedded
// database; on macOS every identifier names a CloudKit container. Nothing
// is opened until the first request.
std::unique_ptr<Store> openStore(const std::string& identifier);
// Finishes the queued requests and stops the thread.
void closeStore(Store& store);

void fetchAccountStatus(Store& store, Completion<AccountStatus> done);
void saveSubscription(Store& store, Subscription subscription, Completion<bool> done);
// Reports UNKNOWN_ITEM when there is no record of that name that belongs
// to the owner.
void fetchRecord(Store& store, std::string name, Owner owner, Completion<BackupRecord> done);
// Saves the whole record, replacing any record of the same name of the
// same owner; reports SERVER_RECORD_CHANGED when the name is held by a
// record of another.
void saveRecord(Store& store, BackupRecord record, Completion<bool> done);
// Reports UNKNOWN_ITEM when there was no record of that name that belongs
// to the owner.
void deleteRecord(Store& store, std::string name, Owner owner, Completion<bool> done);
void queryAllRecords(Store& store, Completion<std::vector<ListEntry>> done);

// The error text for a blob that does not match the digest stored with it.
std::string damagedBlobMessage(const std::string& name);

// Where the embedded stores live: $XDG_DATA_HOME/brindlehq-cloudkit, with
// XDG_DATA_HOME defaulting to ~/.local/share.
std::string dataFolder();

} // namespace cloudkit
