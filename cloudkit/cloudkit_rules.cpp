#include "cloudkit_rules.hpp"

#include <cmath>

namespace cloudkit::ck {

int storeCodeOf(const ErrorReading& error) {
    if (!error.cloudKitDomain) return INTERNAL_ERROR;
    if (error.code != PARTIAL_FAILURE) return static_cast<int>(error.code);
    std::optional<long> agreed;
    for (long item : error.itemCodes) {
        if (item == BATCH_REQUEST_FAILED) continue;
        if (agreed && *agreed != item) return static_cast<int>(PARTIAL_FAILURE);
        agreed = item;
    }
    return static_cast<int>(agreed.value_or(PARTIAL_FAILURE));
}

AccountStatus accountStatusOf(long raw) {
    switch (raw) {
    case 1: return AccountStatus::available;
    case 2: return AccountStatus::restricted;
    case 3: return AccountStatus::noAccount;
    case 4: return AccountStatus::temporarilyUnavailable;
    default: return AccountStatus::couldNotDetermine;
    }
}

std::optional<std::int64_t> millisecondsOf(double secondsSince1970) {
    const double ms = std::round(secondsSince1970 * 1000.0);
    constexpr double LIMIT = 9223372036854775808.0;  // 2^63
    if (!std::isfinite(ms) || ms < -LIMIT || ms >= LIMIT) return std::nullopt;
    return static_cast<std::int64_t>(ms);
}

bool ownsRecord(const std::optional<std::string>& ownerBytes, const std::optional<std::string>& account,
                const std::optional<std::string>& key, const Owner& owner) {
    if (ownerBytes) return *ownerBytes == owner.bytes;
    return (!account || *account == owner.account) && (!key || *key == owner.key);
}

StoreError nameTakenError(const std::string& name) {
    return StoreError{SERVER_RECORD_CHANGED, "the record name " + name + " is held by a record of another account or key"};
}

} // namespace cloudkit::ck
