// The commands of brindlehq-cloudkit and the bridge that waits for the
// store's asynchronous requests.
#pragma once

#include "store.hpp"

#include <memory>
#include <optional>
#include <semaphore>
#include <string>
#include <vector>

namespace cloudkit {

// What a command raises.
struct CommandError {
    StoreError error;
};

// Starts one asynchronous request through body and waits for its completion
// handler; raises the reported error, else returns the value (which may be
// absent).
template <class T, class Body>
std::optional<T> run(Body body) {
    struct Boxes {
        std::counting_semaphore<> signal{0};
        std::optional<T> value;
        std::optional<StoreError> error;
    };
    auto boxes = std::make_shared<Boxes>();
    body(Completion<T>([boxes](std::optional<T> value, std::optional<StoreError> error) {
        boxes->value = std::move(value);
        boxes->error = std::move(error);
        boxes->signal.release();
    }));
    boxes->signal.acquire();
    if (boxes->error) throw CommandError{*boxes->error};
    return std::move(boxes->value);
}

std::int64_t currentTimeMs();

void cmdStatus(Store& store);
void cmdSetup(Store& store);
void cmdPut(const std::string& accountId, const std::string& key, const std::string& blobPath, Store& store);
void cmdGet(const std::string& accountId, const std::string& key, const std::string& outPath, Store& store);
void cmdDelete(const std::string& accountId, const std::string& key, Store& store);
void cmdList(Store& store);

// The whole program: usage checks, dispatch and the mapping of raised
// errors to "Error: " lines and exit statuses. Returns the exit status.
int runCommandLine(const std::vector<std::string>& args);

} // namespace cloudkit
