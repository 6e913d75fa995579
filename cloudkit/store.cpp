#include "store.hpp"

#include "backend.hpp"
#include "files.hpp"
#include "text.hpp"

#include <cstdlib>
#include <new>
#include <pwd.h>
#include <unistd.h>

namespace cloudkit {
namespace {

bool isPostgresUri(const std::string& identifier) {
    return identifier.rfind("postgresql://", 0) == 0 || identifier.rfind("postgres://", 0) == 0;
}

void workerLoop(Store& store) {
    Backend backend;
    backend.kind = store.kind;
    backend.identifier = store.identifier;
    for (;;) {
        std::function<void(Backend&)> job;
        {
            std::unique_lock lock(store.mutex);
            store.wake.wait(lock, [&] { return store.closing || !store.jobs.empty(); });
            if (store.jobs.empty()) break;
            job = std::move(store.jobs.front());
            store.jobs.pop_front();
        }
        job(backend);
    }
    if (backend.kind == StoreKind::sqlite) liteClose(backend);
    else pgClose(backend);
}

bool ensureOpen(Backend& backend) {
    if (!backend.opened) {
        backend.opened = true;
        if (backend.kind == StoreKind::sqlite) liteOpen(backend);
        else pgOpen(backend);
    }
    return !backend.openError;
}

// Queues one request. The work runs on the store thread once the connection
// is open, and the completion handler is called exactly once.
template <class T>
void submit(Store& store, std::function<Outcome<T>(Backend&)> work, Completion<T> done) {
    auto job = [work = std::move(work), done = std::move(done)](Backend& backend) {
        Outcome<T> outcome;
        try {
            if (!ensureOpen(backend)) outcome.error = backend.openError;
            else outcome = work(backend);
        } catch (const std::bad_alloc&) {
            outcome = failure<T>(LIMIT_EXCEEDED, "not enough memory for the request");
        } catch (const std::exception& e) {
            outcome = failure<T>(INTERNAL_ERROR, e.what());
        }
        done(std::move(outcome.value), std::move(outcome.error));
    };
    {
        std::lock_guard lock(store.mutex);
        store.jobs.emplace_back(std::move(job));
    }
    store.wake.notify_one();
}

bool isPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

} // namespace

std::string dataFolder() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/brindlehq-cloudkit";
    const char* home = std::getenv("HOME");
    std::string base = home != nullptr && home[0] == '/' ? home : "";
    if (base.empty()) {
        if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) base = entry->pw_dir;
    }
    if (base.empty()) return {};
    return base + "/.local/share/brindlehq-cloudkit";
}

std::optional<std::string> assetPath(const Backend& backend, const std::optional<std::string>& stored) {
    if (!stored || !isPlainFileName(*stored) || backend.assetFolder.empty()) return std::nullopt;
    return backend.assetFolder + "/" + *stored;
}

std::unique_ptr<Store> openStore(const std::string& identifier) {
    auto store = std::make_unique<Store>();
    store->kind = isPostgresUri(identifier) ? StoreKind::postgres : StoreKind::sqlite;
    store->identifier = identifier;
    store->worker = std::thread(workerLoop, std::ref(*store));
    return store;
}

void closeStore(Store& store) {
    {
        std::lock_guard lock(store.mutex);
        store.closing = true;
    }
    store.wake.notify_one();
    if (store.worker.joinable()) store.worker.join();
}

void fetchAccountStatus(Store& store, Completion<AccountStatus> done) {
    // Status asks whether the store can be used at all, so a refused
    // opening is an answer rather than an error, except for a server that
    // could not be reached.
    auto job = [done = std::move(done)](Backend& backend) {
        ensureOpen(backend);
        if (!backend.openError) done(AccountStatus::available, std::nullopt);
        else if (backend.kind == StoreKind::sqlite || backend.authRefused) done(AccountStatus::noAccount, std::nullopt);
        else done(std::nullopt, backend.openError);
    };
    {
        std::lock_guard lock(store.mutex);
        store.jobs.emplace_back(std::move(job));
    }
    store.wake.notify_one();
}

void saveSubscription(Store& store, Subscription subscription, Completion<bool> done) {
    submit<bool>(store, [subscription = std::move(subscription)](Backend& backend) {
        return backend.kind == StoreKind::sqlite ? liteSaveSubscription(backend, subscription)
                                                 : pgSaveSubscription(backend, subscription);
    }, std::move(done));
}

void fetchRecord(Store& store, std::string name, Owner owner, Completion<BackupRecord> done) {
    submit<BackupRecord>(store, [name = std::move(name), owner = std::move(owner)](Backend& backend) {
        return backend.kind == StoreKind::sqlite ? liteFetch(backend, name, owner) : pgFetch(backend, name, owner);
    }, std::move(done));
}

void saveRecord(Store& store, BackupRecord record, Completion<bool> done) {
    submit<bool>(store, [record = std::move(record)](Backend& backend) mutable -> Outcome<bool> {
        if (backend.kind == StoreKind::sqlite) return liteSave(backend, record);
        if (record.blobFile && !record.blob) {
            FileRead read = readOpenFile(record.blobFile->fd, record.blobFilePath);
            if (!read.bytes) return failure<bool>(INTERNAL_ERROR, read.error);
            record.blob = std::move(read.bytes);
            record.blobFile.reset();
        }
        return pgSave(backend, record);
    }, std::move(done));
}

void deleteRecord(Store& store, std::string name, Owner owner, Completion<bool> done) {
    submit<bool>(store, [name = std::move(name), owner = std::move(owner)](Backend& backend) {
        return backend.kind == StoreKind::sqlite ? liteDelete(backend, name, owner) : pgDelete(backend, name, owner);
    }, std::move(done));
}

void queryAllRecords(Store& store, Completion<std::vector<ListEntry>> done) {
    submit<std::vector<ListEntry>>(store, [](Backend& backend) {
        return backend.kind == StoreKind::sqlite ? liteQueryAll(backend) : pgQueryAll(backend);
    }, std::move(done));
}

} // namespace cloudkit
