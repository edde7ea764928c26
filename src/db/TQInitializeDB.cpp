#include "db/TQInitializeDB.h"

#include "db/TQDBManager.h"
#include "db/TQDBRecords.h"
#include "logging/LGLog.h"

namespace {

constexpr const char* kHistory = "device_history";
constexpr const char* kModel = "model_number";
constexpr const char* kDevice = "device_uuid";
constexpr const char* kPendingDelete = "pending_delete";
constexpr const char* kPendingInsert = "pending_insert";
constexpr const char* kDone = "IS_DB_INITIALIZATION_DONE";

std::string textOf(const platform::Value& entry, std::string_view key) {
    const platform::Value* value = entry.find(key);
    return value != nullptr && value->isString() ? *value->stringIf() : std::string();
}

bool flagOf(const platform::Value& entry, std::string_view key) {
    const platform::Value* value = entry.find(key);
    return value != nullptr && value->boolValue().value_or(false);
}

platform::Array::iterator entryOf(platform::Array& history, const std::string& model) {
    for (auto entry = history.begin(); entry != history.end(); ++entry) {
        if (textOf(*entry, kModel) == model) {
            return entry;
        }
    }
    return history.end();
}

platform::Value newEntry(const std::string& model, const std::string& device, bool deletes) {
    platform::Value entry{{kModel, model}, {kDevice, device}};
    if (deletes) {
        entry[kPendingDelete] = true;
    }
    entry[kPendingInsert] = true;
    return entry;
}

}  // namespace

TQInitializeDB::TQInitializeDB(platform::UserDefaults& defaults, const TQHandlers& handlers)
    : defaults_(defaults), handlers_(handlers) {}

std::optional<TQInitializeDB::Watch> TQInitializeDB::connectedWatch() const {
    const auto group = defaults_.dictionary("groupKavoInfo");
    const platform::Value* model = group ? group->find("kavoModelNumber") : nullptr;
    const auto device = defaults_.string("deviceUUID");
    if (model == nullptr || !model->isString() || !device) {
        return std::nullopt;
    }
    return Watch{*model->stringIf(), *device};
}

platform::Array TQInitializeDB::history() const {
    const auto stored = defaults_.object(kHistory);
    if (!stored || !stored->isArray()) {
        return {};
    }
    return *stored->arrayIf();
}

platform::Dictionary TQInitializeDB::checkIfNeedToDeleteOrInsertTemplateData() {
    const auto watch = connectedWatch();
    if (!watch) {
        return {};
    }
    platform::Array list = history();
    bool needDelete = false;
    bool needInsert = false;
    auto entry = entryOf(list, watch->modelNumber);
    if (entry == list.end()) {
        list.push_back(newEntry(watch->modelNumber, watch->deviceUUID, false));
        needInsert = true;
    } else if (textOf(*entry, kDevice) != watch->deviceUUID) {
        // Another watch of this model: the model's data is not this watch's.
        *entry = newEntry(watch->modelNumber, watch->deviceUUID, true);
        needDelete = true;
        needInsert = true;
    } else {
        needDelete = flagOf(*entry, kPendingDelete);
        needInsert = flagOf(*entry, kPendingInsert);
    }
    defaults_.set(kHistory, platform::Value(std::move(list)));
    (void)defaults_.synchronize();
    return {{"needDeleteForThisModelNumber", needDelete}, {"needToInsertTemplateData", needInsert}};
}

bool TQInitializeDB::needsInitialization() const {
    const auto watch = connectedWatch();
    if (!watch) {
        return false;
    }
    platform::Array list = history();
    const auto entry = entryOf(list, watch->modelNumber);
    return entry == list.end() || textOf(*entry, kDevice) != watch->deviceUUID ||
           flagOf(*entry, kPendingDelete) || flagOf(*entry, kPendingInsert);
}

void TQInitializeDB::markSetUp(const Watch& watch) {
    platform::Array list = history();
    auto entry = entryOf(list, watch.modelNumber);
    if (entry == list.end() || textOf(*entry, kDevice) != watch.deviceUUID) {
        return;
    }
    entry->mutableDictionary()->remove(kPendingDelete);
    entry->mutableDictionary()->remove(kPendingInsert);
    defaults_.set(kHistory, platform::Value(std::move(list)));
}

void TQInitializeDB::checkAndDoInitializeWithKavoManager(TQAP& ap) {
    const auto watch = connectedWatch();
    if (!watch) {
        return;
    }
    TQDBManager database = TQDBManager::getSharedInstance();
    database.createModel(TQDBGeneralMessage::tableSchema());
    database.createModel(TQDBCallRejectionMessage::tableSchema());
    database.createModel(TQDBBuddy::tableSchema());
    database.createModel(TQDBuddyNumber::tableSchema());

    const auto decision = checkIfNeedToDeleteOrInsertTemplateData();
    const bool needDelete =
        decision.find("needDeleteForThisModelNumber")->boolValue().value_or(false);
    const bool needInsert = decision.find("needToInsertTemplateData")->boolValue().value_or(false);

    auto* templates =
        TQHandlers::require(handlers_.textTemplates, "TQTextTemplateHandler", "the model's texts");
    if (templates != nullptr) {
        templates->initializeCallRejectionDataToKavo(ap, needDelete, needInsert);
        templates->initializeGeneralMessageDataToKavo(ap, needDelete, needInsert);
    }
    // Set up once the template service ran and the old watch's buddies are gone.
    bool complete = templates != nullptr;
    if (needDelete) {
        const bool deleted = TQDBManagerImpl::getSharedInstance().transaction([] {
            return TQDBBuddy::deleteForThisModelNumber() &&
                   TQDBuddyNumber::deleteForThisModelNumber();
        });
        if (!deleted) {
            LG_VERBOSE("TQInitializeDB: the model's buddies were not deleted");
            complete = false;
        }
    }
    if (auto* weather = TQHandlers::require(handlers_.weather, "TQWeatherHandler",
                                            "initializeWeatherDataIfIsNeedToDelete")) {
        weather->initializeWeatherDataIfIsNeedToDelete(needDelete);
    }
    if (needDelete) {
        defaults_.remove(kDone);
    }
    if (needInsert && templates != nullptr) {
        defaults_.set(kDone, "YES");
    }
    if (complete) {
        markSetUp(*watch);
    }
    (void)defaults_.synchronize();
}
