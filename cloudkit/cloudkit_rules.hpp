// The CloudKit store's rules that need no CloudKit: how its errors, account statuses, dates and
// record fields become the store's, and whom a record belongs to. cloudkit_store.mm applies
// them to the real objects.
#pragma once

#include "store.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cloudkit::ck {

// CKErrorCode values the rules look at (the store's own codes in store.hpp are CloudKit's too).
inline constexpr long PARTIAL_FAILURE = 2;
inline constexpr long BATCH_REQUEST_FAILED = 22;

// Field keys of a "BrindleBackup" record. "blobLength", "blobSHA256" and "owner" are this
// store's additions: the digest the blob is checked against on get, and the account and key
// bytes exactly as given (records put before them have none, and are matched by "account" and
// "key").
inline constexpr const char* FIELD_BLOB = "blob";
inline constexpr const char* FIELD_ASSET = "asset";
inline constexpr const char* FIELD_UPDATED_AT = "updatedAt";
inline constexpr const char* FIELD_ACCOUNT = "account";
inline constexpr const char* FIELD_KEY = "key";
inline constexpr const char* FIELD_BLOB_LENGTH = "blobLength";
inline constexpr const char* FIELD_BLOB_SHA256 = "blobSHA256";
inline constexpr const char* FIELD_OWNER = "owner";

// What an NSError says: whether it is in CloudKit's domain, its code, and for a partial failure
// the codes of the errors per item.
struct ErrorReading {
    bool cloudKitDomain = false;
    long code = 0;
    std::vector<long> itemCodes;
};

// The store's code for an error. Errors outside CloudKit's domain (files, the system) are
// internal errors. A partial failure of a one-record operation carries the record's own error
// inside it, next to "batch request failed" for the items that were only held back: the code is
// the one the real item errors agree on, so that deleting an unknown record is still
// UNKNOWN_ITEM; when they disagree it stays a partial failure.
int storeCodeOf(const ErrorReading& error);

// CKAccountStatus raw values are the store's; anything else (a newer status) could not be
// determined.
AccountStatus accountStatusOf(long raw);

// NSDate seconds since 1970 as milliseconds, rounded to the nearest; nothing for a date that
// milliseconds in 64 bits do not hold.
std::optional<std::int64_t> millisecondsOf(double secondsSince1970);

// Whether a fetched record belongs to the owner: the owner bytes decide when the record has
// them; otherwise its account and key fields, where present, must be the owner's.
bool ownsRecord(const std::optional<std::string>& ownerBytes, const std::optional<std::string>& account,
                const std::optional<std::string>& key, const Owner& owner);

// The error a save reports when the record name is held by a record of someone else.
StoreError nameTakenError(const std::string& name);

} // namespace cloudkit::ck
