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
    {"list", 3, "Usage: list <container>\n"},
    {"status", 3, "Usage: status <container>\n"},
    {"setup", 3, "Usage: setup <container>\n"},
    {"put", 6, "Usage: put <accountId> <key> <blobPath> <container>\n"},
    {"get", 6, "Usage: get <accountId> <key> <outPath> <container>\n"},
    {"delete", 5, "Usage: delete <accountId> <key> <container>\n"},
};

constexpr const char* SHORT_USAGE = "Usage: brindlehq-cloudkit <status|setup|put|get> ...\n";

void printLine(const std::string& line) {
    const std::string text = line + "\n";
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
        throw CommandError{StoreError{INTERNAL_ERROR, "cannot write to standard output"}};
}

void printError(const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

// An error description on one line, whatever paths or server text it holds.
std::string oneLine(const std::string& text) {
    std::string line = text;
    for (char& c : line) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    return line;
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
    // The listing fields are text, so malformed UTF-8 is repaired here.
    record.account = validUtf8(accountId);
    record.key = validUtf8(key);
    run<bool>([&](auto done) { saveRecord(store, std::move(record), done); });
}

void cmdGet(const std::string& accountId, const std::string& key, const std::string& outPath, Store& store) {
    const std::string name = recordName(key, accountId);
    std::optional<BackupRecord> record;
    try {
        record = run<BackupRecord>([&](auto done) { fetchRecord(store, name, done); });
    } catch (const CommandError& e) {
        // A record that is not there is an empty backup; any other failure
        // is reported, so that it is never mistaken for one.
        if (e.error.code != UNKNOWN_ITEM) throw;
    }
    if (record && record->blobFile) {
        if (auto error = replaceFileFrom(outPath, record->blobFile->fd, record->blobFilePath))
            throw CommandError{StoreError{INTERNAL_ERROR, *error}};
        return;
    }
    if (record && record->blob) return writeOutput(outPath, record->blob->data.get(), record->blob->size);
    if (record && record->asset) {
        FileRead asset = readWholeFile(*record->asset);
        if (asset.bytes) return writeOutput(outPath, asset.bytes->data.get(), asset.bytes->size);
    }
    writeOutput(outPath, "", 0);
}

void cmdDelete(const std::string& accountId, const std::string& key, Store& store) {
    const std::string name = recordName(key, accountId);
    try {
        run<bool>([&](auto done) { deleteRecord(store, name, done); });
    } catch (const CommandError& e) {
        if (e.error.code != UNKNOWN_ITEM) throw;
    }
}

void cmdList(Store& store) {
    auto entries = run<std::vector<ListEntry>>([&](auto done) { queryAllRecords(store, done); });
    printLine(listJson(entries.value_or(std::vector<ListEntry>{})));
}

int runCommandLine(const std::vector<std::string>& args) {
    if (args.size() < 2) {
        printError(SHORT_USAGE);
        return 1;
    }
    const std::string& word = args[1];
    for (const CommandSpec& spec : COMMANDS) {
        if (word != spec.word) continue;
        if (args.size() != spec.count) {
            printError(spec.usage);
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
                    printError("Error: " + oneLine(*error) + "\n");
                    status = 1;
                }
            } else if (e.error.code != UNKNOWN_ITEM || word == "put") {
                printError("Error: " + oneLine(e.error.description) + "\n");
                status = 1;
            }
        } catch (const std::bad_alloc&) {
            printError("Error: not enough memory\n");
            status = 1;
        } catch (const std::exception& e) {
            printError("Error: " + oneLine(e.what()) + "\n");
            status = 1;
        }
        closeStore(*store);
        return status;
    }
    printError("Unknown command: " + word + "\n");
    return 1;
}

} // namespace cloudkit
