// The CloudKit store's rules: error codes, account statuses, dates and record owners.
#include "cloudkit_rules.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace cloudkit::ck {
namespace {

TEST(CloudKitErrors, CodesComeFromCloudKitsDomainOnly) {
    EXPECT_EQ(storeCodeOf({true, 11, {}}), UNKNOWN_ITEM);
    EXPECT_EQ(storeCodeOf({true, 4, {}}), NETWORK_FAILURE);
    EXPECT_EQ(storeCodeOf({true, 9, {}}), NOT_AUTHENTICATED);
    // A file error numbered 4 (NSFileNoSuchFileError) is not a network failure, and one numbered
    // 11 is not an unknown record.
    EXPECT_EQ(storeCodeOf({false, 4, {}}), INTERNAL_ERROR);
    EXPECT_EQ(storeCodeOf({false, 11, {}}), INTERNAL_ERROR);
}

TEST(CloudKitErrors, PartialFailuresGiveTheItemsOwnCode) {
    // Deleting an unknown record in a modify operation.
    EXPECT_EQ(storeCodeOf({true, PARTIAL_FAILURE, {11}}), UNKNOWN_ITEM);
    // An atomic save: the failing record, and the others held back with it.
    EXPECT_EQ(storeCodeOf({true, PARTIAL_FAILURE, {BATCH_REQUEST_FAILED, 14, BATCH_REQUEST_FAILED}}),
              SERVER_RECORD_CHANGED);
    EXPECT_EQ(storeCodeOf({true, PARTIAL_FAILURE, {27, 27}}), LIMIT_EXCEEDED);
    // Items that disagree, or none at all, leave it a partial failure: never an unknown item.
    EXPECT_EQ(storeCodeOf({true, PARTIAL_FAILURE, {11, 4}}), static_cast<int>(PARTIAL_FAILURE));
    EXPECT_EQ(storeCodeOf({true, PARTIAL_FAILURE, {}}), static_cast<int>(PARTIAL_FAILURE));
    EXPECT_EQ(storeCodeOf({true, PARTIAL_FAILURE, {BATCH_REQUEST_FAILED}}), static_cast<int>(PARTIAL_FAILURE));
}

TEST(CloudKitAccount, StatusesMapAndUnknownOnesCannotBeDetermined) {
    EXPECT_EQ(accountStatusOf(0), AccountStatus::couldNotDetermine);
    EXPECT_EQ(accountStatusOf(1), AccountStatus::available);
    EXPECT_EQ(accountStatusOf(2), AccountStatus::restricted);
    EXPECT_EQ(accountStatusOf(3), AccountStatus::noAccount);
    EXPECT_EQ(accountStatusOf(4), AccountStatus::temporarilyUnavailable);
    EXPECT_EQ(accountStatusOf(5), AccountStatus::couldNotDetermine);
    EXPECT_EQ(accountStatusOf(-1), AccountStatus::couldNotDetermine);
}

TEST(CloudKitDates, SecondsBecomeRoundedMillisecondsWithinRange) {
    EXPECT_EQ(millisecondsOf(1767323045.0), 1767323045000);
    EXPECT_EQ(millisecondsOf(1.0006), 1001);
    EXPECT_EQ(millisecondsOf(-0.0004), 0);
    EXPECT_EQ(millisecondsOf(-1.5), -1500);
    EXPECT_FALSE(millisecondsOf(1e300).has_value());
    EXPECT_FALSE(millisecondsOf(std::nan("")).has_value());
    EXPECT_FALSE(millisecondsOf(INFINITY).has_value());
}

TEST(CloudKitOwners, OwnerBytesDecideAndOlderRecordsGoByTheirFields) {
    const Owner owner = ownerOf("c", "a__b");
    // The same record name, another owner ("a" + "__" + "b__c" either way).
    const Owner other = ownerOf("b__c", "a");
    EXPECT_TRUE(ownsRecord(owner.bytes, "c", "a__b", owner));
    EXPECT_FALSE(ownsRecord(owner.bytes, "c", "a__b", other));
    // Owner bytes win over fields that a foreign writer changed.
    EXPECT_TRUE(ownsRecord(owner.bytes, "someone", "else", owner));
    // Without owner bytes: the fields that are there must match.
    EXPECT_TRUE(ownsRecord(std::nullopt, "c", "a__b", owner));
    EXPECT_FALSE(ownsRecord(std::nullopt, "c", "a__b", other));
    EXPECT_TRUE(ownsRecord(std::nullopt, std::nullopt, "a__b", owner));
    EXPECT_TRUE(ownsRecord(std::nullopt, std::nullopt, std::nullopt, other));
    EXPECT_FALSE(ownsRecord(std::nullopt, "c", std::nullopt, other));
    // Bytes that are not UTF-8 are compared exactly, not as their repaired text.
    const Owner raw = ownerOf("u\xff", "k");
    const Owner repaired = ownerOf(raw.account, "k");
    EXPECT_NE(raw.bytes, repaired.bytes);
    EXPECT_FALSE(ownsRecord(raw.bytes, raw.account, raw.key, repaired));
}

TEST(CloudKitOwners, ATakenNameIsAServerRecordChange) {
    StoreError e = nameTakenError("cb_backup_k__u");
    EXPECT_EQ(e.code, SERVER_RECORD_CHANGED);
    EXPECT_NE(e.description.find("cb_backup_k__u"), std::string::npos);
}

} // namespace
} // namespace cloudkit::ck
