// The store over CloudKit: the container named by the identifier, its private database, records
// of type "BrindleBackup" in the default zone. Every request runs on the store's serial queue,
// which waits for each CloudKit call it makes with a dispatch semaphore, and reports once
// through its completion handler; the command waits for that with the bridge in commands.hpp.
#import <CloudKit/CloudKit.h>
#import <Foundation/Foundation.h>

#include "cloudkit_rules.hpp"
#include "backend.hpp"
#include "files.hpp"
#include "store.hpp"

namespace cloudkit {

struct CloudContainer {
    CKContainer* container = nil;
    CKDatabase* database = nil;
    dispatch_queue_t queue = nil;
    std::optional<StoreError> openError;  // the container could not be made
};

namespace {

NSString* nsString(const std::string& s) {
    return [[NSString alloc] initWithBytes:s.data() length:s.size() encoding:NSUTF8StringEncoding];
}

std::optional<std::string> stdString(id value) {
    if (![value isKindOfClass:[NSString class]]) return std::nullopt;
    const char* text = [(NSString*)value UTF8String];
    if (text == nullptr) return std::nullopt;
    return std::string(text);
}

StoreError errorOf(NSError* error) {
    ck::ErrorReading reading;
    reading.cloudKitDomain = [error.domain isEqualToString:CKErrorDomain];
    reading.code = static_cast<long>(error.code);
    NSError* itemError = nil;
    if (reading.cloudKitDomain && error.code == CKErrorPartialFailure) {
        NSDictionary* items = error.userInfo[CKPartialErrorsByItemIDKey];
        if ([items isKindOfClass:[NSDictionary class]]) {
            for (id item in items.allValues) {
                if (![item isKindOfClass:[NSError class]]) continue;
                NSError* e = item;
                reading.itemCodes.push_back(static_cast<long>(e.code));
                if (e.code != CKErrorBatchRequestFailed) itemError = e;
            }
        }
    }
    const int code = ck::storeCodeOf(reading);
    // The item's own error says what happened better than "partial failure".
    NSError* shown = code != ck::PARTIAL_FAILURE && itemError != nil ? itemError : error;
    const std::optional<std::string> text = stdString(shown.localizedDescription);
    return StoreError{code, text.value_or("CloudKit error " + std::to_string(shown.code))};
}

CKRecordID* recordIdOf(const std::string& name) {
    NSString* recordName = nsString(name);
    if (recordName == nil) return nil;
    CKRecordZoneID* zone = [[CKRecordZoneID alloc] initWithZoneName:CKRecordZoneDefaultName
                                                         ownerName:CKCurrentUserDefaultName];
    return [[CKRecordID alloc] initWithRecordName:recordName zoneID:zone];
}

// --- CloudKit calls, each waited for on the store's queue ---------------------------------------

struct Fetched {
    CKRecord* record = nil;
    NSError* error = nil;
};

Fetched fetchById(CKDatabase* database, CKRecordID* recordId) {
    __block Fetched out;
    dispatch_semaphore_t done = dispatch_semaphore_create(0);
    [database fetchRecordWithID:recordId
              completionHandler:^(CKRecord* record, NSError* error) {
                out.record = record;
                out.error = error;
                dispatch_semaphore_signal(done);
              }];
    dispatch_semaphore_wait(done, DISPATCH_TIME_FOREVER);
    return out;
}

struct Queried {
    NSArray<CKRecord*>* records = @[];
    NSError* error = nil;
};

// One query of "BrindleBackup" records in the default zone; one page, no cursor followed.
Queried queryRecords(CKDatabase* database, NSPredicate* predicate) {
    CKQuery* query = [[CKQuery alloc] initWithRecordType:@(RECORD_TYPE) predicate:predicate];
    __block Queried out;
    dispatch_semaphore_t done = dispatch_semaphore_create(0);
    [database performQuery:query
              inZoneWithID:nil
         completionHandler:^(NSArray<CKRecord*>* records, NSError* error) {
           if (records != nil) out.records = records;
           out.error = error;
           dispatch_semaphore_signal(done);
         }];
    dispatch_semaphore_wait(done, DISPATCH_TIME_FOREVER);
    return out;
}

// Saves or deletes through one modify-records operation; its error, or nil.
NSError* modifyRecords(CKDatabase* database, NSArray<CKRecord*>* save, NSArray<CKRecordID*>* remove) {
    CKModifyRecordsOperation* operation = [[CKModifyRecordsOperation alloc] initWithRecordsToSave:save
                                                                               recordIDsToDelete:remove];
    if (save.count > 0) {
        operation.savePolicy = CKRecordSaveAllKeys;
        operation.atomic = YES;
    }
    operation.qualityOfService = NSQualityOfServiceUserInitiated;
    __block NSError* failure = nil;
    dispatch_semaphore_t done = dispatch_semaphore_create(0);
    operation.modifyRecordsCompletionBlock = ^(NSArray<CKRecord*>*, NSArray<CKRecordID*>*, NSError* error) {
      failure = error;
      dispatch_semaphore_signal(done);
    };
    [database addOperation:operation];
    dispatch_semaphore_wait(done, DISPATCH_TIME_FOREVER);
    return failure;
}

// The record with that id: by query on its id, then among all records, then by fetching it. The
// queries' errors only send the lookup on (a zone without a queryable index refuses them); the
// fetch decides, and its errors other than an unknown item are reported.
Outcome<CKRecord*> lookUp(CKDatabase* database, CKRecordID* recordId) {
    for (NSPredicate* predicate in @[ [NSPredicate predicateWithFormat:@"recordID == %@", recordId],
                                      [NSPredicate predicateWithValue:YES] ]) {
        for (CKRecord* record in queryRecords(database, predicate).records)
            if ([record.recordID isEqual:recordId]) return {record, std::nullopt};
    }
    Fetched fetched = fetchById(database, recordId);
    if (fetched.error != nil) return {std::nullopt, errorOf(fetched.error)};
    if (fetched.record == nil) return failure<CKRecord*>(UNKNOWN_ITEM, "the record is not there");
    return {fetched.record, std::nullopt};
}

std::optional<std::string> dataField(CKRecord* record, const char* key) {
    id value = record[@(key)];
    if (![value isKindOfClass:[NSData class]]) return std::nullopt;
    NSData* data = value;
    return std::string(static_cast<const char*>(data.bytes), data.length);
}

std::optional<std::int64_t> integerField(CKRecord* record, const char* key) {
    id value = record[@(key)];
    if (![value isKindOfClass:[NSNumber class]]) return std::nullopt;
    return static_cast<std::int64_t>([(NSNumber*)value longLongValue]);
}

std::optional<std::int64_t> dateField(CKRecord* record, const char* key) {
    id value = record[@(key)];
    if (![value isKindOfClass:[NSDate class]]) return std::nullopt;
    return ck::millisecondsOf([(NSDate*)value timeIntervalSince1970]);
}

bool belongsTo(CKRecord* record, const Owner& owner) {
    return ck::ownsRecord(dataField(record, ck::FIELD_OWNER), stdString(record[@(ck::FIELD_ACCOUNT)]),
                          stdString(record[@(ck::FIELD_KEY)]), owner);
}

Outcome<BackupRecord> backupRecordOf(CKRecord* found, const std::string& name) {
    BackupRecord record;
    record.name = name;
    id blob = found[@(ck::FIELD_BLOB)];
    if ([blob isKindOfClass:[NSData class]]) {
        NSData* data = blob;
        Bytes bytes = allocateBytes(data.length);
        if (data.length > 0) [data getBytes:bytes.data.get() length:data.length];
        record.blob = std::move(bytes);
    }
    id asset = found[@(ck::FIELD_ASSET)];
    if ([asset isKindOfClass:[CKAsset class]]) {
        NSURL* url = ((CKAsset*)asset).fileURL;
        if (url != nil && url.fileURL) record.asset = stdString(url.path);
    }
    record.updatedAtMs = dateField(found, ck::FIELD_UPDATED_AT);
    record.account = stdString(found[@(ck::FIELD_ACCOUNT)]);
    record.key = stdString(found[@(ck::FIELD_KEY)]);
    auto digest = storedDigest(name, integerField(found, ck::FIELD_BLOB_LENGTH),
                               stdString(found[@(ck::FIELD_BLOB_SHA256)]));
    if (digest.error) return {std::nullopt, digest.error};
    record.digest = *digest.value;
    return {std::move(record), std::nullopt};
}

// Runs one request on the store's queue and reports its outcome once.
template <class T, class Work>
void submit(Store& store, Work work, Completion<T> done) {
    std::shared_ptr<CloudContainer> cloud = store.cloud;
    if (!cloud || cloud->openError) {
        done(std::nullopt, cloud ? cloud->openError : StoreError{INTERNAL_ERROR, "the store is closed"});
        return;
    }
    // A block holds what it captures as const; the work may change its own copies.
    auto job = std::make_shared<Work>(std::move(work));
    dispatch_async(cloud->queue, ^{
      Outcome<T> outcome;
      @autoreleasepool {
          try {
              outcome = (*job)(*cloud);
          } catch (const std::bad_alloc&) {
              outcome = failure<T>(LIMIT_EXCEEDED, "not enough memory for the request");
          } catch (const std::exception& e) {
              outcome = failure<T>(INTERNAL_ERROR, e.what());
          }
      }
      done(std::move(outcome.value), std::move(outcome.error));
    });
}

} // namespace

std::unique_ptr<Store> openStore(const std::string& identifier) {
    auto store = std::make_unique<Store>();
    store->kind = StoreKind::cloudkit;
    store->identifier = identifier;
    auto cloud = std::make_shared<CloudContainer>();
    cloud->queue = dispatch_queue_create("brindlehq-cloudkit.store", DISPATCH_QUEUE_SERIAL);
    @autoreleasepool {
        NSString* containerId = nsString(identifier);
        if (containerId == nil) {
            cloud->openError = StoreError{INTERNAL_ERROR, "the container identifier is not UTF-8"};
        } else {
            // CloudKit raises an exception, rather than reporting an error, for a container
            // that the signed entitlements do not name.
            @try {
                cloud->container = [CKContainer containerWithIdentifier:containerId];
                cloud->database = cloud->container.privateCloudDatabase;
            } @catch (NSException* exception) {
                cloud->openError = StoreError{INTERNAL_ERROR, stdString(exception.reason).value_or("cannot open the container")};
            }
            if (!cloud->openError && cloud->database == nil)
                cloud->openError = StoreError{INTERNAL_ERROR, "the container has no private database"};
        }
    }
    store->cloud = std::move(cloud);
    return store;
}

void closeStore(Store& store) {
    // Requests already queued finish first.
    if (store.cloud && store.cloud->queue != nil) dispatch_sync(store.cloud->queue, ^{});
    store.cloud.reset();
}

std::string dataFolder() { return {}; }

void fetchAccountStatus(Store& store, Completion<AccountStatus> done) {
    submit<AccountStatus>(store, [](CloudContainer& cloud) -> Outcome<AccountStatus> {
        __block long status = 0;
        __block NSError* failureError = nil;
        dispatch_semaphore_t signal = dispatch_semaphore_create(0);
        [cloud.container accountStatusWithCompletionHandler:^(CKAccountStatus accountStatus, NSError* error) {
          status = static_cast<long>(accountStatus);
          failureError = error;
          dispatch_semaphore_signal(signal);
        }];
        dispatch_semaphore_wait(signal, DISPATCH_TIME_FOREVER);
        if (failureError != nil) return {std::nullopt, errorOf(failureError)};
        return {ck::accountStatusOf(status), std::nullopt};
    }, std::move(done));
}

void saveSubscription(Store& store, Subscription subscription, Completion<bool> done) {
    submit<bool>(store, [subscription = std::move(subscription)](CloudContainer& cloud) -> Outcome<bool> {
        NSString* identifier = nsString(subscription.id);
        if (identifier == nil) return failure<bool>(INTERNAL_ERROR, "the subscription identifier is not UTF-8");
        CKDatabaseSubscription* saved = [[CKDatabaseSubscription alloc] initWithSubscriptionID:identifier];
        CKNotificationInfo* info = [[CKNotificationInfo alloc] init];
        info.shouldSendContentAvailable = subscription.shouldSendContentAvailable;
        saved.notificationInfo = info;
        __block NSError* failureError = nil;
        dispatch_semaphore_t signal = dispatch_semaphore_create(0);
        [cloud.database saveSubscription:saved
                       completionHandler:^(CKSubscription*, NSError* error) {
                         failureError = error;
                         dispatch_semaphore_signal(signal);
                       }];
        dispatch_semaphore_wait(signal, DISPATCH_TIME_FOREVER);
        if (failureError != nil) return {std::nullopt, errorOf(failureError)};
        return {true, std::nullopt};
    }, std::move(done));
}

void fetchRecord(Store& store, std::string name, Owner owner, Completion<BackupRecord> done) {
    submit<BackupRecord>(store, [name = std::move(name), owner = std::move(owner)](CloudContainer& cloud) -> Outcome<BackupRecord> {
        CKRecordID* recordId = recordIdOf(name);
        if (recordId == nil) return failure<BackupRecord>(INTERNAL_ERROR, "the record name is not UTF-8");
        Outcome<CKRecord*> found = lookUp(cloud.database, recordId);
        if (found.error) return {std::nullopt, found.error};
        if (!belongsTo(*found.value, owner))
            return failure<BackupRecord>(UNKNOWN_ITEM, "the record " + name + " belongs to another account or key");
        return backupRecordOf(*found.value, name);
    }, std::move(done));
}

void saveRecord(Store& store, BackupRecord record, Completion<bool> done) {
    submit<bool>(store, [record = std::move(record)](CloudContainer& cloud) mutable -> Outcome<bool> {
        CKRecordID* recordId = recordIdOf(record.name);
        if (recordId == nil) return failure<bool>(INTERNAL_ERROR, "the record name is not UTF-8");
        if (record.blobFile && !record.blob) {
            FileRead read = readOpenFile(record.blobFile->fd, record.blobFilePath);
            if (!read.bytes) return failure<bool>(INTERNAL_ERROR, read.error);
            record.blob = std::move(read.bytes);
            record.blobFile.reset();
        }
        const Owner owner = record.owner.value_or(ownerOf(record.account.value_or(""), record.key.value_or("")));
        // A name held by someone else's record is not overwritten (saving all keys would).
        Fetched current = fetchById(cloud.database, recordId);
        if (current.error != nil) {
            StoreError error = errorOf(current.error);
            if (error.code != UNKNOWN_ITEM) return {std::nullopt, error};
        } else if (current.record != nil && !belongsTo(current.record, owner)) {
            return {std::nullopt, ck::nameTakenError(record.name)};
        }
        CKRecord* saved = [[CKRecord alloc] initWithRecordType:@(RECORD_TYPE) recordID:recordId];
        const Bytes bytes = record.blob.value_or(allocateBytes(0));
        saved[@(ck::FIELD_BLOB)] = [NSData dataWithBytes:bytes.data.get() length:bytes.size];
        if (record.updatedAtMs)
            saved[@(ck::FIELD_UPDATED_AT)] =
                [NSDate dateWithTimeIntervalSince1970:static_cast<double>(*record.updatedAtMs) / 1000.0];
        if (record.account) saved[@(ck::FIELD_ACCOUNT)] = nsString(*record.account);
        if (record.key) saved[@(ck::FIELD_KEY)] = nsString(*record.key);
        const BlobDigest digest = digestOf(bytes.data.get(), bytes.size);
        saved[@(ck::FIELD_BLOB_LENGTH)] = @(static_cast<long long>(digest.length));
        saved[@(ck::FIELD_BLOB_SHA256)] = nsString(digest.sha256);
        saved[@(ck::FIELD_OWNER)] = [NSData dataWithBytes:owner.bytes.data() length:owner.bytes.size()];
        if (NSError* error = modifyRecords(cloud.database, @[ saved ], nil)) return {std::nullopt, errorOf(error)};
        return {true, std::nullopt};
    }, std::move(done));
}

void deleteRecord(Store& store, std::string name, Owner owner, Completion<bool> done) {
    submit<bool>(store, [name = std::move(name), owner = std::move(owner)](CloudContainer& cloud) -> Outcome<bool> {
        CKRecordID* recordId = recordIdOf(name);
        if (recordId == nil) return failure<bool>(INTERNAL_ERROR, "the record name is not UTF-8");
        // Only the owner's record is deleted; someone else's is as good as not there.
        Fetched current = fetchById(cloud.database, recordId);
        if (current.error != nil) return {std::nullopt, errorOf(current.error)};
        if (current.record == nil || !belongsTo(current.record, owner))
            return failure<bool>(UNKNOWN_ITEM, "the record " + name + " is not there");
        if (NSError* error = modifyRecords(cloud.database, nil, @[ recordId ])) return {std::nullopt, errorOf(error)};
        return {true, std::nullopt};
    }, std::move(done));
}

void queryAllRecords(Store& store, Completion<std::vector<ListEntry>> done) {
    submit<std::vector<ListEntry>>(store, [](CloudContainer& cloud) -> Outcome<std::vector<ListEntry>> {
        Queried queried = queryRecords(cloud.database, [NSPredicate predicateWithValue:YES]);
        if (queried.error != nil) return {std::nullopt, errorOf(queried.error)};
        std::vector<ListEntry> entries;
        for (CKRecord* record in queried.records) {
            ListEntry entry;
            entry.recordName = stdString(record.recordID.recordName).value_or("");
            entry.account = stdString(record[@(ck::FIELD_ACCOUNT)]).value_or("");
            entry.key = stdString(record[@(ck::FIELD_KEY)]).value_or("");
            entry.updatedAtMs = dateField(record, ck::FIELD_UPDATED_AT);
            entry.hasAsset = [record[@(ck::FIELD_ASSET)] isKindOfClass:[CKAsset class]];
            entries.push_back(std::move(entry));
        }
        return {std::move(entries), std::nullopt};
    }, std::move(done));
}

} // namespace cloudkit
