#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "db/TQDBObject.h"

// The model number of the connected watch ("kavoModelNumber" of the defaults' "groupKavoInfo"),
// which picks the per-watch rows; nothing before any watch was seen.
[[nodiscard]] std::optional<std::string> currentKavoModelNumber();

// The per-model operations shared by record classes with a "model_number" column. The selects
// give an empty list (not nothing) and the deletes and updates do nothing while no watch model
// is known.
template <typename Derived>
class TQDBPerModel : public TQDBRecord<Derived> {
public:
    // where's first "?" is the model number, extra the arguments after it.
    static std::optional<std::vector<Derived>> selectForThisModelNumber(
        std::string_view where, std::optional<std::string_view> orderBy,
        TQDBQueryBuilder::Args extra = {}) {
        const auto model = currentKavoModelNumber();
        if (!model) {
            return std::vector<Derived>();
        }
        extra.insert(extra.begin(), TQDBValue(*model));
        return TQDBRecord<Derived>::query({}, where, extra, orderBy, std::nullopt, std::nullopt);
    }
    // args with the model number appended, for where's last "?".
    static bool removeForThisModelNumber(std::string_view where, TQDBQueryBuilder::Args args = {}) {
        const auto model = currentKavoModelNumber();
        if (!model) {
            return false;
        }
        args.emplace_back(*model);
        return TQDBRecord<Derived>::remove(where, args);
    }
    static bool deleteForThisModelNumber() { return removeForThisModelNumber("model_number = ?"); }
};

// A quick-reply (general message) or call-rejection text of a watch model.
template <typename Derived>
class TQDBTextTemplate : public TQDBPerModel<Derived> {
public:
    std::int32_t templateId = 0;  // "_id": the text's number in the model's list
    std::int32_t checked = 0;     // the list's order
    std::optional<std::string> body;
    std::optional<std::string> modelNumber;

    // Ordered by "checked".
    static std::optional<std::vector<Derived>> getAllForThisModelNumber() {
        return TQDBPerModel<Derived>::selectForThisModelNumber("model_number = ?", "checked ASC");
    }
    // Writes the pairs, in their order, into the current model's row whose "_id" is that of
    // the pairs; false without an "_id" pair or a model.
    static bool updateForThisModelNumber(const TQDBRow& values) {
        const auto model = currentKavoModelNumber();
        const TQDBValue* id = nullptr;
        for (const auto& [name, value] : values) {
            id = name == "_id" ? &value : id;
        }
        if (!model || id == nullptr) {
            return false;
        }
        return TQDBRecord<Derived>::update(values, "_id = ? and model_number = ?",
                                           {*id, TQDBValue(*model)});
    }

protected:
    static TQDBSchema schemaNamed(std::string table) {
        using T = TQDBTextTemplate;
        return {std::move(table),
                {column("_id", &T::templateId), column("checked", &T::checked),
                 column("body", &T::body), column("model_number", &T::modelNumber)}};
    }
};

class TQDBGeneralMessage final : public TQDBTextTemplate<TQDBGeneralMessage> {
public:
    static const TQDBSchema& tableSchema();
};

class TQDBCallRejectionMessage final : public TQDBTextTemplate<TQDBCallRejectionMessage> {
public:
    static const TQDBSchema& tableSchema();
};

// A favourite contact kept for a watch model.
class TQDBBuddy final : public TQDBPerModel<TQDBBuddy> {
public:
    std::int32_t contactId = 0;  // the address book's record id
    std::optional<std::string> displayName;
    std::optional<std::string> firstName;
    std::optional<std::string> lastName;
    std::optional<std::string> middleName;
    std::int32_t sortOrder = 0;
    double modificationDate = 0;  // the contact's, in seconds since 1970
    std::optional<std::string> company;
    std::optional<std::string> photoData;  // JPEG as Base64 without line breaks
    bool isFavorite = false;
    bool hasPhoto = false;
    std::optional<std::string> modelNumber;

    static const TQDBSchema& tableSchema();

    static std::optional<std::vector<TQDBBuddy>> getAllForThisModelNumber();
    static std::optional<std::vector<TQDBBuddy>> getAllForThisModelNumberInOrdered();
};

// A phone number of the buddy with the same contact id and model number.
class TQDBuddyNumber final : public TQDBPerModel<TQDBuddyNumber> {
public:
    std::int32_t contactId = 0;
    std::optional<std::string> number;
    std::int32_t type = 0;
    std::optional<std::string> modelNumber;

    static const TQDBSchema& tableSchema();

    static std::optional<std::vector<TQDBuddyNumber>> getAllForThisModelNumber();
    static std::optional<std::vector<TQDBuddyNumber>> getAllForThisModelNumberWithContactId(
        std::int32_t contactId);
    static bool deleteForThisModelNumberByContactId(std::int32_t contactId);
};

// A usage-log body waiting for upload; the table is a queue in ID order.
class TQDBLog final : public TQDBRecord<TQDBLog> {
public:
    std::optional<std::string> encBodyStr;  // enciphered, lower-case hexadecimal

    static const TQDBSchema& tableSchema();

    static std::optional<TQDBLog> getFirstLog();
    static bool deleteFirstLog();
    static bool deleteLastLog();
    static int count();
};

// A downloaded watch-application file; rows are deleted by "appPath = ?".
class TQDBKavoApp final : public TQDBRecord<TQDBKavoApp> {
public:
    std::optional<std::string> appTitle;
    std::optional<std::string> appPath;
    std::optional<std::string> iconPath;
    std::uint32_t appSize = 0;

    static const TQDBSchema& tableSchema();
};
