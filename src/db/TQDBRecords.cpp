#include "db/TQDBRecords.h"

#include "platform/foundation/UserDefaults.h"

std::optional<std::string> currentKavoModelNumber() {
    const auto group = platform::UserDefaults::standard().dictionary("groupKavoInfo");
    if (!group) {
        return std::nullopt;
    }
    const platform::Value* model = group->find("kavoModelNumber");
    if (model == nullptr || !model->isString()) {
        return std::nullopt;
    }
    return *model->stringIf();
}

const TQDBSchema& TQDBGeneralMessage::tableSchema() {
    static const TQDBSchema schema = schemaNamed("TQDBGeneralMessage");
    return schema;
}

const TQDBSchema& TQDBCallRejectionMessage::tableSchema() {
    static const TQDBSchema schema = schemaNamed("TQDBCallRejectionMessage");
    return schema;
}

const TQDBSchema& TQDBBuddy::tableSchema() {
    using T = TQDBBuddy;
    static const TQDBSchema schema{"TQDBBuddy",
                                   {
                                       column("contact_id", &T::contactId),
                                       column("display_name", &T::displayName),
                                       column("first_name", &T::firstName),
                                       column("last_name", &T::lastName),
                                       column("middle_name", &T::middleName),
                                       column("sort_order", &T::sortOrder),
                                       column("modification_date", &T::modificationDate),
                                       column("company", &T::company),
                                       column("photo_data", &T::photoData),
                                       column("isFavorite", &T::isFavorite),
                                       column("hasPhoto", &T::hasPhoto),
                                       column("model_number", &T::modelNumber),
                                   }};
    return schema;
}

std::optional<std::vector<TQDBBuddy>> TQDBBuddy::getAllForThisModelNumber() {
    return selectForThisModelNumber("model_number = ?", std::nullopt);
}

std::optional<std::vector<TQDBBuddy>> TQDBBuddy::getAllForThisModelNumberInOrdered() {
    return selectForThisModelNumber("model_number = ?", "sort_order ASC");
}

const TQDBSchema& TQDBuddyNumber::tableSchema() {
    using T = TQDBuddyNumber;
    static const TQDBSchema schema{"TQDBuddyNumber",
                                   {
                                       column("contact_id", &T::contactId),
                                       column("number", &T::number),
                                       column("type", &T::type),
                                       column("model_number", &T::modelNumber),
                                   }};
    return schema;
}

std::optional<std::vector<TQDBuddyNumber>> TQDBuddyNumber::getAllForThisModelNumber() {
    return selectForThisModelNumber("model_number = ?", std::nullopt);
}

std::optional<std::vector<TQDBuddyNumber>> TQDBuddyNumber::getAllForThisModelNumberWithContactId(
    std::int32_t contactId) {
    return selectForThisModelNumber("model_number = ? and contact_id = ?", std::nullopt,
                                    {TQDBValue(std::to_string(contactId))});
}

bool TQDBuddyNumber::deleteForThisModelNumberByContactId(std::int32_t contactId) {
    return removeForThisModelNumber("contact_id = ? and model_number = ?",
                                    {TQDBValue(std::to_string(contactId))});
}

const TQDBSchema& TQDBLog::tableSchema() {
    static const TQDBSchema schema{"TQDBLog", {column("enc_body_str", &TQDBLog::encBodyStr)}};
    return schema;
}

std::optional<TQDBLog> TQDBLog::getFirstLog() {
    auto logs = rawQuery("select * from TQDBLog where ID = (select min(ID) from TQDBLog)");
    if (!logs) {
        return std::nullopt;
    }
    return std::move(logs->front());
}

bool TQDBLog::deleteFirstLog() {
    return TQDBManagerImpl::getSharedInstance().rawDeleteQuery(
        "delete from TQDBLog where ID = (select min(ID) from TQDBLog)");
}

bool TQDBLog::deleteLastLog() {
    return TQDBManagerImpl::getSharedInstance().rawDeleteQuery(
        "delete from TQDBLog where ID = (select max(ID) from TQDBLog)");
}

int TQDBLog::count() {
    return static_cast<int>(TQDBRecord<TQDBLog>::count(std::nullopt, {}, false));
}

const TQDBSchema& TQDBKavoApp::tableSchema() {
    using T = TQDBKavoApp;
    static const TQDBSchema schema{"TQDBKavoApp",
                                   {
                                       column("appTitle", &T::appTitle),
                                       column("appPath", &T::appPath),
                                       column("iconPath", &T::iconPath),
                                       column("appSize", &T::appSize),
                                   }};
    return schema;
}
