#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/contacts/Person.h"
#include "platform/foundation/Value.h"

// The JSON documents the watch reads its contacts from: the raw-contact record of one person,
// the insert and delete files of a contact copy, and the buddy variant of the record. Only
// shapes and derived values; nothing here sends or stores.
namespace TQContactFile {

// A person's four name parts; absent and empty differ (empty counts as present).
struct NameParts {
    std::optional<std::string> first;
    std::optional<std::string> middle;
    std::optional<std::string> last;
    std::optional<std::string> company;

    static NameParts of(const platform::contacts::Person& person) {
        return {person.firstName, person.middleName, person.lastName, person.organization};
    }
};

// The present parts of first, middle and last name joined by spaces, else the company, else
// nothing (the person gets no record).
[[nodiscard]] std::optional<std::string> generateName(const NameParts& parts);
// {"first", "middle", "last"} as present, else {"company"}, else {}.
[[nodiscard]] platform::Dictionary getNameData(const NameParts& parts);
// "organization" when only the company is present, else "name".
[[nodiscard]] std::string_view nameEntryType(const NameParts& parts);

[[nodiscard]] int phoneType(platform::contacts::LabelKind kind);
[[nodiscard]] int emailType(platform::contacts::LabelKind kind);
// The number with every no-break space (U+00A0) removed; nothing else changes.
[[nodiscard]] std::string cleanNumber(std::string_view number);

// {"phone_label", "phone_type", "phone_number"} per number, in stored order.
[[nodiscard]] platform::Array getPhoneNumbers(const platform::contacts::Person& person);
// {"email_label", "email_type", "email"} per address, in stored order.
[[nodiscard]] platform::Array getEmails(const platform::contacts::Person& person);

// The record of a contact copy; nothing for a person without a display name.
[[nodiscard]] std::optional<platform::Value> rawContact(const platform::contacts::Person& person);

// {"insert": {"number_of_raw_contacts", "raw_contact_list"}}.
[[nodiscard]] platform::Value insertDocument(platform::Array records);
// {"delete": {..., [{"raw_contact": {"id"}}]}, "meta_data": {"file_index": "1:1", ...}}.
[[nodiscard]] platform::Value deleteDocument(std::span<const std::int32_t> identifiers);

// One number row of a buddy.
struct BuddyNumber {
    std::optional<std::string> number;
    int type = 0;
};
// A stored buddy as the watch's buddy list carries it.
struct Buddy {
    std::int32_t contactId = 0;
    std::optional<std::string> displayName;
    NameParts names;
    bool hasPhoto = false;
    std::vector<BuddyNumber> numbers;
};
// The buddy variant of the record. A buddy without a display name gets an empty one, and a
// number row without text is left out: the watch requires both texts.
[[nodiscard]] platform::Value buddyRecord(const Buddy& buddy);

// Names of the files of a contact copy: "QAContactJSONFile<milliseconds>.dat", never the same
// twice from one generator, even within a millisecond (the next free millisecond is taken).
class FileNames {
public:
    [[nodiscard]] std::string next(std::int64_t millisecondsSince1970);

private:
    std::optional<std::int64_t> last_;
};

}  // namespace TQContactFile
