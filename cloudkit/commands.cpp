#include "commands.hpp"

#include "files.hpp"
#include "json.hpp"
#include "text.hpp"

#include <chrono>
#include <cstdio>
#include <new>

namespace cloudkit {
namespace {

struct CommandSpec {
    const char* word;
    std::size_t count;  // with the program path
    const char* usage;
};

constexpr CommandSpec COMMANDS[] = {
    {"list", 3, "Usage: list <container>"},
    {"status", 3, "Usage: status <container>"},
    {"setup", 3, "Usage: setup <container>"},
    {"put", 6, "Usage: put <accountId> <key> <blobPath> <container>"},
    {"get", 6, "Usage: get <accountId> <key> <outPath> <container>"},
    {"delete", 5, "Usage: delete <accountId> <key> <container>"},
};

constexpr const char* SHORT_USAGE = "Usage: brindlehq-cloudkit <status|setup|put|get> ...";

void printLine(const std::string& line) {
    const std::string text = line + "\n";
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
        throw CommandError{StoreError{INTERNAL_ERROR, "cannot write to standard output"}};
}

// Passwords of the connection URIs among the arguments, which no message
// may show.
std::vector<std::string> secretsOf(const std::vector<std::string>& args) {
    std::vector<std::string> secrets;
    for (const std::string& arg : args) {
        for (std::string& secret : uriSecrets(arg)) secrets.push_back(std::move(secret));
    }
    return secrets;
}

// One line on standard error: passwords masked, and the paths, names and
// server text it holds escaped, so that it stays one line whatever they are.
void printMessage(const std::string& text, const std::vector<std::string>& secrets) {
    const std::string line = printable(maskPasswords(text, secrets)) + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

void writeOutput(const std::string& outPath, const char* data, std::size_t size) {
    if (auto error = replaceFile(outPath, data, size)) throw CommandError{StoreError{INTERNAL_ERROR, *error}};
}

void dispatch(const CommandSpec& spec, const std::vector<std::string>& args, Store& store) {
    const std::string word = spec.word;
    if (word == "list") cmdList(store);
    else if (word == "status") cmdStatus(store);
    else if (word == "setup") cmdSetup(store);
    else if (word == "put") cmdPut(args[2], args[3], args[4], store);
    else if (word == "get") cmdGet(args[2], args[3], args[4], store);
    else cmdDelete(args[2], args[3], store);
}

} // namespace

std::int64_t currentTimeMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

void cmdStatus(Store& store) {
    auto status = run<AccountStatus>([&](auto done) { fetchAccountStatus(store, done); });
    printLine(std::string("{\"available\": ") + (status == AccountStatus::available ? "true" : "false") + "}");
}

void cmdSetup(Store& store) {
    Subscription subscription{SUBSCRIPTION_ID, true};
    run<bool>([&](auto done) { saveSubscription(store, subscription, done); });
    printLine("{\"ok\": true}");
}

void cmdPut(const std::string& accountId, const std::string& key, const std::string& blobPath, Store& store) {
    // The store takes the bytes from the open file: the embedded store
    // copies a large one straight into its own file, without holding it.
    FileOpen source = openForReading(blobPath);
    if (!source.file) throw CommandError{StoreError{INTERNAL_ERROR, source.error}};
    BackupRecord record;
    record.name = recordName(key, accountId);
    record.blobFile = std::move(source.file);
    record.blobFilePath = blobPath;
    record.updatedAtMs = currentTimeMs();
    record.owner = ownerOf(accountId, key);
    // The listing fields are text, so malformed UTF-8 is repaired here.
    record.account = record.owner->account;
    record.key = record.owner->key;
    run<bool>([&](auto done) { saveRecord(store, std::move(record), done); });
}

void cmdGet(const std::string& accountId, const std::string& key, const std::string& outPath, Store& store) {
    const std::string name = recordName(key, accountId);
    std::optional<BackupRecord> record;
    try {
        record = run<BackupRecord>([&](auto done) { fetchRecord(store, name, ownerOf(accountId, key), done); });
    } catch (const CommandError& e) {
        // A record that is not there is an empty backup; any other failure
        // is reported, so that it is never mistaken for one.
        if (e.error.code != UNKNOWN_ITEM) throw;
    }
    // A blob put with a digest is written out only when it still matches it.
    const BlobDigest* expected = record && record->digest ? &*record->digest : nullptr;
    if (record && record->blobFile) {
        if (auto error = replaceFileFrom(outPath, record->blobFile->fd, record->blobFilePath, expected, damagedBlobMessage(name)))
            throw CommandError{StoreError{INTERNAL_ERROR, *error}};
        return;
    }
    if (record && record->blob) {
        if (expected != nullptr && digestOf(record->blob->data.get(), record->blob->size) != *expected)
            throw CommandError{StoreError{INTERNAL_ERROR, damagedBlobMessage(name)}};
        return writeOutput(outPath, record->blob->data.get(), record->blob->size);
    }
    if (expected != nullptr) throw CommandError{StoreError{INTERNAL_ERROR, damagedBlobMessage(name)}};
    if (record && record->asset) {
        FileRead asset = readWholeFile(*record->asset);
        if (asset.bytes) return writeOutput(outPath, asset.bytes->data.get(), asset.bytes->size);
    }
    writeOutput(outPath, "", 0);
}

void cmdDelete(const std::string& accountId, const std::string& key, Store& store) {
    const std::string name = recordName(key, accountId);
    try {
        run<bool>([&](auto done) { deleteRecord(store, name, ownerOf(accountId, key), done); });
    } catch (const CommandError& e) {
        if (e.error.code != UNKNOWN_ITEM) throw;
    }
}

void cmdList(Store& store) {
    auto entries = run<std::vector<ListEntry>>([&](auto done) { queryAllRecords(store, done); });
    printLine(listJson(entries.value_or(std::vector<ListEntry>{})));
}

int runCommandLine(const std::vector<std::string>& args) {
    const std::vector<std::string> secrets = secretsOf(args);
    if (args.size() < 2) {
        printMessage(SHORT_USAGE, secrets);
        return 1;
    }
    const std::string& word = args[1];
    for (const CommandSpec& spec : COMMANDS) {
        if (word != spec.word) continue;
        if (args.size() != spec.count) {
            printMessage(spec.usage, secrets);
            return 1;
        }
        std::unique_ptr<Store> store = openStore(args.back());
        int status = 0;
        try {
            dispatch(spec, args, *store);
        } catch (const CommandError& e) {
            if (e.error.code == UNKNOWN_ITEM && word == "get") {
                // An unknown record reads as an empty one: only get has an
                // output file, and only that file is emptied.
                if (auto error = replaceFile(args[4], "", 0)) {
                    printMessage("Error: " + *error, secrets);
                    status = 1;
                }
            } else if (e.error.code != UNKNOWN_ITEM || word == "put") {
                printMessage("Error: " + e.error.description, secrets);
                status = 1;
            }
        } catch (const std::bad_alloc&) {
            printMessage("Error: not enough memory", secrets);
            status = 1;
        } catch (const std::exception& e) {
            printMessage("Error: " + std::string(e.what()), secrets);
            status = 1;
        }
        closeStore(*store);
        return status;
    }
    printMessage("Unknown command: " + word, secrets);
    return 1;
}

} // namespace cloudkit
