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
#include <thread>
#include <vector>

namespace cloudkit {

// Error codes, numbered as the cloud service numbers them.
inline constexpr int INTERNAL_ERROR = 1;
inline constexpr int NETWORK_FAILURE = 4;
inline constexpr int NOT_AUTHENTICATED = 9;
inline constexpr int UNKNOWN_ITEM = 11;
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

enum class StoreKind { sqlite, postgres };

struct Backend;  // the open connection, owned by the store thread

struct Store {
    StoreKind kind = StoreKind::sqlite;
    std::string identifier;  // the container argument
    std::thread worker;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void(Backend&)>> jobs;
    bool closing = false;
};

template <class T>
using Completion = std::function<void(std::optional<T>, std::optional<StoreError>)>;

// Starts the store for a container identifier: a postgresql:// or
// postgres:// URI names a PostgreSQL database, anything else an embedded
// database. Nothing is opened until the first request.
std::unique_ptr<Store> openStore(const std::string& identifier);
// Finishes the queued requests and stops the thread.
void closeStore(Store& store);

void fetchAccountStatus(Store& store, Completion<AccountStatus> done);
void saveSubscription(Store& store, Subscription subscription, Completion<bool> done);
// Reports UNKNOWN_ITEM when there is no record of that name.
void fetchRecord(Store& store, std::string name, Completion<BackupRecord> done);
// Saves the whole record, replacing any record of the same name.
void saveRecord(Store& store, BackupRecord record, Completion<bool> done);
// Reports UNKNOWN_ITEM when there was no record of that name.
void deleteRecord(Store& store, std::string name, Completion<bool> done);
void queryAllRecords(Store& store, Completion<std::vector<ListEntry>> done);

// Where the embedded stores live: $XDG_DATA_HOME/brindlehq-cloudkit, with
// XDG_DATA_HOME defaulting to ~/.local/share.
std::string dataFolder();

} // namespace cloudkit
