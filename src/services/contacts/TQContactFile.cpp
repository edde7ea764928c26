#include "services/contacts/TQContactFile.h"

using platform::Array;
using platform::Dictionary;
using platform::Value;
using platform::contacts::LabelKind;
using platform::contacts::Person;

namespace TQContactFile {

std::optional<std::string> generateName(const NameParts& parts) {
    if (!parts.first && !parts.middle && !parts.last) {
        return parts.company;
    }
    // Present parts joined by one space, empty ones too, as "%@ %@" joins them.
    std::string name;
    bool any = false;
    for (const auto* part : {&parts.first, &parts.middle, &parts.last}) {
        if (*part) {
            if (any) {
                name += ' ';
            }
            name += **part;
            any = true;
        }
    }
    return name;
}

Dictionary getNameData(const NameParts& parts) {
    Dictionary data;
    if (parts.first) {
        data.set("first", *parts.first);
    }
    if (parts.middle) {
        data.set("middle", *parts.middle);
    }
    if (parts.last) {
        data.set("last", *parts.last);
    }
    if (!parts.first && !parts.middle && !parts.last && parts.company) {
        data.set("company", *parts.company);
    }
    return data;
}

std::string_view nameEntryType(const NameParts& parts) {
    return !parts.first && !parts.middle && !parts.last && parts.company ? "organization"
                                                                         : "name";
}

int phoneType(LabelKind kind) {
    switch (kind) {
        case LabelKind::home:
            return 1;
        case LabelKind::mobile:
            return 2;
        case LabelKind::work:
            return 3;
        case LabelKind::workFax:
            return 4;
        case LabelKind::homeFax:
            return 5;
        case LabelKind::other:
            return 7;
        case LabelKind::main:
            return 12;
        case LabelKind::none:
        case LabelKind::custom:
            return 0;
    }
    return 0;
}

int emailType(LabelKind kind) {
    switch (kind) {
        case LabelKind::home:
            return 1;
        case LabelKind::work:
            return 3;
        case LabelKind::other:
            return 4;
        default:
            return 0;
    }
}

std::string cleanNumber(std::string_view number) {
    constexpr std::string_view kNoBreakSpace = "\xC2\xA0";
    std::string out;
    out.reserve(number.size());
    for (std::size_t at = 0; at < number.size();) {
        if (number.substr(at, kNoBreakSpace.size()) == kNoBreakSpace) {
            at += kNoBreakSpace.size();
        } else {
            out.push_back(number[at++]);
        }
    }
    return out;
}

Array getPhoneNumbers(const Person& person) {
    Array out;
    out.reserve(person.phones.size());
    for (const auto& phone : person.phones) {
        out.push_back(Value{{"phone_label", phone.label},
                            {"phone_type", phoneType(phone.kind)},
                            {"phone_number", cleanNumber(phone.value)}});
    }
    return out;
}

Array getEmails(const Person& person) {
    Array out;
    out.reserve(person.emails.size());
    for (const auto& email : person.emails) {
        out.push_back(Value{{"email_label", email.label},
                            {"email_type", emailType(email.kind)},
                            {"email", email.value}});
    }
    return out;
}

namespace {

Value dataEntry(std::int32_t id, std::string_view type, Value data) {
    return Value{{"raw_contact_id", id},
                 {"type", type},
                 {"is_default", false},
                 {"data", std::move(data)}};
}

}  // namespace

std::optional<Value> rawContact(const Person& person) {
    const NameParts names = NameParts::of(person);
    auto displayName = generateName(names);
    if (!displayName) {
        return std::nullopt;
    }
    const std::int32_t id = person.identifier;
    Array dataList;
    dataList.reserve(person.phones.size() + person.emails.size() + 1);
    for (const auto& phone : person.phones) {
        dataList.push_back(dataEntry(
            id, "number",
            Value{{"number", cleanNumber(phone.value)}, {"type", phoneType(phone.kind)}}));
    }
    for (const auto& email : person.emails) {
        dataList.push_back(
            dataEntry(id, "email", Value{{"email", email.value}, {"type", emailType(email.kind)}}));
    }
    dataList.push_back(dataEntry(id, nameEntryType(names), Value(getNameData(names))));
    return Value{{"raw_contact",
                  Value{{"id", id},
                        {"contact_id", id},
                        {"image_raw_contact_id", id},
                        {"display_name", std::move(*displayName)},
                        {"is_favorite", false},
                        {"is_emergency", false},
                        {"has_photo", false}}},
                 {"data_list", Value(std::move(dataList))}};
}

Value insertDocument(Array records) {
    const auto count = static_cast<std::int64_t>(records.size());
    return Value{{"insert", Value{{"number_of_raw_contacts", count},
                                  {"raw_contact_list", Value(std::move(records))}}}};
}

Value deleteDocument(std::span<const std::int32_t> identifiers) {
    Array list;
    list.reserve(identifiers.size());
    for (const std::int32_t id : identifiers) {
        list.push_back(Value{{"raw_contact", Value{{"id", id}}}});
    }
    return Value{{"delete", Value{{"number_of_raw_contacts", identifiers.size()},
                                  {"raw_contact_list", Value(std::move(list))}}},
                 {"meta_data", Value{{"file_index", "1:1"}, {"total_number_of_contacts", 0}}}};
}

Value buddyRecord(const Buddy& buddy) {
    const std::int32_t id = buddy.contactId;
    Array dataList;
    dataList.reserve(buddy.numbers.size() + 1);
    for (const BuddyNumber& number : buddy.numbers) {
        if (!number.number) {
            continue;
        }
        dataList.push_back(dataEntry(id, "number",
                                     Value{{"number", *number.number},
                                           {"normalized_number", *number.number},
                                           {"type", number.type}}));
    }
    dataList.push_back(
        dataEntry(id, nameEntryType(buddy.names), Value(getNameData(buddy.names))));
    return Value{{"raw_contact", Value{{"id", id},
                                       {"contact_id", id},
                                       {"image_raw_contact_id", id},
                                       {"display_name", buddy.displayName.value_or("")},
                                       {"has_photo", buddy.hasPhoto}}},
                 {"data_list", Value(std::move(dataList))}};
}

std::string FileNames::next(std::int64_t millisecondsSince1970) {
    std::int64_t stamp = millisecondsSince1970;
    if (last_ && stamp <= *last_) {
        stamp = *last_ + 1;
    }
    last_ = stamp;
    return "QAContactJSONFile" + std::to_string(stamp) + ".dat";
}

}  // namespace TQContactFile
