#include "sim/WatchContacts.h"

#include <algorithm>
#include <set>

#include "platform/foundation/Json.h"
#include "sim/Watch.h"

namespace kavowatch {

namespace {

using platform::Value;

// Collects the problems of one document, each with where it was found.
class Checker {
public:
    std::vector<std::string> problems;

    void fail(const std::string& where, const std::string& what) {
        problems.push_back(where + ": " + what);
    }
    // The dictionary at where, holding exactly keys.
    const platform::Dictionary* object(const Value& value, const std::string& where,
                                       std::set<std::string> keys) {
        const auto* dictionary = value.dictionaryIf();
        if (dictionary == nullptr) {
            fail(where, "not an object");
            return nullptr;
        }
        std::set<std::string> present;
        for (const auto& [key, item] : *dictionary) {
            present.insert(key);
        }
        if (present != keys) {
            std::string list;
            for (const auto& key : present) {
                list += " " + key;
            }
            fail(where, "keys" + list);
            return nullptr;
        }
        return dictionary;
    }
    std::optional<std::int64_t> integer(const Value& value, const std::string& where) {
        if (value.type() != Value::Type::Int && value.type() != Value::Type::UInt) {
            fail(where, "not an integer");
            return std::nullopt;
        }
        return value.intValue();
    }
    void text(const Value& value, const std::string& where) {
        if (!value.isString()) {
            fail(where, "not a text");
        }
    }
    void boolean(const Value& value, const std::string& where, std::optional<bool> expected) {
        if (!value.isBool()) {
            fail(where, "not a boolean");
        } else if (expected && value.boolValue() != expected) {
            fail(where, expected ? "not true" : "not false");
        }
    }
    const platform::Array* array(const Value& value, const std::string& where) {
        const auto* items = value.arrayIf();
        if (items == nullptr) {
            fail(where, "not an array");
        }
        return items;
    }

    // A raw-contact record, of the copy or (buddy) of the buddy list; its identifier.
    std::optional<std::int64_t> record(const Value& value, const std::string& where, bool buddy) {
        if (object(value, where, {"raw_contact", "data_list"}) == nullptr) {
            return std::nullopt;
        }
        const Value& head = value["raw_contact"];
        std::set<std::string> headKeys{"id", "contact_id", "image_raw_contact_id", "display_name",
                                       "has_photo"};
        if (!buddy) {
            headKeys.insert({"is_favorite", "is_emergency"});
        }
        if (object(head, where + ".raw_contact", headKeys) == nullptr) {
            return std::nullopt;
        }
        const auto id = integer(head["id"], where + ".id");
        for (const char* same : {"contact_id", "image_raw_contact_id"}) {
            if (integer(head[same], where + "." + same) != id) {
                fail(where + "." + same, "differs from id");
            }
        }
        text(head["display_name"], where + ".display_name");
        boolean(head["has_photo"], where + ".has_photo",
                buddy ? std::nullopt : std::optional<bool>(false));
        if (!buddy) {
            boolean(head["is_favorite"], where + ".is_favorite", false);
            boolean(head["is_emergency"], where + ".is_emergency", false);
        }
        const auto* entries = array(value["data_list"], where + ".data_list");
        if (entries == nullptr || entries->empty()) {
            fail(where + ".data_list", "no name entry");
            return id;
        }
        // Numbers, then e-mail addresses (not in a buddy), then one name entry, last.
        int stage = 0;
        for (std::size_t i = 0; i < entries->size(); ++i) {
            const std::string at = where + ".data_list[" + std::to_string(i) + "]";
            const Value& entry = (*entries)[i];
            if (object(entry, at, {"raw_contact_id", "type", "is_default", "data"}) == nullptr) {
                continue;
            }
            if (integer(entry["raw_contact_id"], at + ".raw_contact_id") != id) {
                fail(at + ".raw_contact_id", "not the record's id");
            }
            boolean(entry["is_default"], at + ".is_default", false);
            const std::string type = entry["type"].stringValue().value_or("");
            const Value& data = entry["data"];
            const bool last = i + 1 == entries->size();
            if (type == "number") {
                if (stage > 0) {
                    fail(at, "a number after an address or the name");
                }
                if (object(data, at + ".data",
                           buddy ? std::set<std::string>{"number", "normalized_number", "type"}
                                 : std::set<std::string>{"number", "type"}) != nullptr) {
                    text(data["number"], at + ".number");
                    integer(data["type"], at + ".type");
                    if (buddy && data["normalized_number"] != data["number"]) {
                        fail(at, "normalized_number differs");
                    }
                }
            } else if (type == "email" && !buddy) {
                if (stage > 1) {
                    fail(at, "an address after the name");
                }
                stage = 1;
                if (object(data, at + ".data", {"email", "type"}) != nullptr) {
                    text(data["email"], at + ".email");
                    integer(data["type"], at + ".type");
                }
            } else if (type == "name" || type == "organization") {
                if (!last) {
                    fail(at, "the name entry is not last");
                }
                stage = 2;
                const auto* names = data.dictionaryIf();
                if (names == nullptr) {
                    fail(at + ".data", "not an object");
                    continue;
                }
                for (const auto& [key, part] : *names) {
                    const bool allowed = type == "organization"
                                             ? key == "company"
                                             : key == "first" || key == "middle" || key == "last";
                    if (!allowed) {
                        fail(at + ".data", "key " + key);
                    }
                    text(part, at + ".data." + key);
                }
            } else {
                fail(at + ".type", "\"" + type + "\"");
            }
        }
        if (stage != 2) {
            fail(where + ".data_list", "no name entry last");
        }
        return id;
    }
};

std::string textOf(const platform::Bytes& data) {
    return std::string(data.begin(), data.end());
}

}  // namespace

std::vector<std::string> WatchContacts::checkContactFile(std::string_view text) {
    Checker check;
    auto document = platform::json::parse(text);
    if (!document.ok()) {
        check.fail("file", "not JSON");
        return check.problems;
    }
    // Compact text: no white space between tokens (none the phone's strings would carry).
    if (text.find('\n') != std::string_view::npos || text.find("\" : ") != std::string_view::npos) {
        check.fail("file", "not compact");
    }
    const Value& root = document.value();
    const auto* top = root.dictionaryIf();
    if (top == nullptr) {
        check.fail("file", "not an object");
        return check.problems;
    }
    if (top->contains("insert")) {
        if (check.object(root, "file", {"insert"}) == nullptr ||
            check.object(root["insert"], "insert", {"number_of_raw_contacts", "raw_contact_list"}) ==
                nullptr) {
            return check.problems;
        }
        const auto count = check.integer(root["insert"]["number_of_raw_contacts"], "insert.count");
        const auto* list = check.array(root["insert"]["raw_contact_list"], "insert.list");
        if (list == nullptr) {
            return check.problems;
        }
        if (count != static_cast<std::int64_t>(list->size())) {
            check.fail("insert.number_of_raw_contacts", "not the number of records");
        }
        if (list->size() > kMaxRecordsPerFile || list->empty()) {
            check.fail("insert", std::to_string(list->size()) + " records");
        }
        for (std::size_t i = 0; i < list->size(); ++i) {
            check.record((*list)[i], "insert[" + std::to_string(i) + "]", false);
        }
        return check.problems;
    }
    if (check.object(root, "file", {"delete", "meta_data"}) == nullptr ||
        check.object(root["delete"], "delete", {"number_of_raw_contacts", "raw_contact_list"}) ==
            nullptr ||
        check.object(root["meta_data"], "meta_data", {"file_index", "total_number_of_contacts"}) ==
            nullptr) {
        return check.problems;
    }
    if (root["meta_data"]["file_index"] != Value("1:1") ||
        check.integer(root["meta_data"]["total_number_of_contacts"], "meta_data.total") != 0) {
        check.fail("meta_data", "not the fixed values");
    }
    const auto* list = check.array(root["delete"]["raw_contact_list"], "delete.list");
    if (list == nullptr) {
        return check.problems;
    }
    if (check.integer(root["delete"]["number_of_raw_contacts"], "delete.count") !=
        static_cast<std::int64_t>(list->size())) {
        check.fail("delete.number_of_raw_contacts", "not the number of entries");
    }
    for (std::size_t i = 0; i < list->size(); ++i) {
        const std::string at = "delete[" + std::to_string(i) + "]";
        if (check.object((*list)[i], at, {"raw_contact"}) != nullptr &&
            check.object((*list)[i]["raw_contact"], at + ".raw_contact", {"id"}) != nullptr) {
            check.integer((*list)[i]["raw_contact"]["id"], at + ".id");
        }
    }
    return check.problems;
}

std::vector<std::string> WatchContacts::checkBuddyList(const Value& message) {
    Checker check;
    if (check.object(message, "buddies", {"msgId", "requestId", "buddyList", "rawContacts"}) ==
        nullptr) {
        return check.problems;
    }
    if (check.integer(message["requestId"], "requestId") != 0) {
        check.fail("requestId", "not 0");
    }
    const auto* order = check.array(message["buddyList"], "buddyList");
    if (check.object(message["rawContacts"], "rawContacts",
                     {"number_of_raw_contacts", "raw_contact_list"}) == nullptr ||
        order == nullptr) {
        return check.problems;
    }
    const auto* list = check.array(message["rawContacts"]["raw_contact_list"], "rawContacts.list");
    if (list == nullptr) {
        return check.problems;
    }
    if (check.integer(message["rawContacts"]["number_of_raw_contacts"], "rawContacts.count") !=
            static_cast<std::int64_t>(list->size()) ||
        list->size() != order->size()) {
        check.fail("rawContacts", "counts differ");
        return check.problems;
    }
    for (std::size_t i = 0; i < list->size(); ++i) {
        const std::string at = "buddy[" + std::to_string(i) + "]";
        const auto id = check.record((*list)[i], at, true);
        if (check.object((*order)[i], "buddyList[" + std::to_string(i) + "]", {"contact_id"}) !=
                nullptr &&
            (*order)[i]["contact_id"].intValue() != id) {
            check.fail(at, "not in the order of buddyList");
        }
    }
    return check.problems;
}

WatchContacts::WatchContacts(Watch& watch) : watch_(watch) {
    seen_ = watch_.files().received().size();
}

platform::Result<void> WatchContacts::requestFullCopy() {
    return watch_.sendJson(Value{{"msgId", "Request_Initial_Sync_Contact"}}, kAppId);
}

platform::Result<void> WatchContacts::requestChanges() {
    return watch_.sendJson(Value{{"msgId", "Request_Resume_Sync_Contact"}}, kAppId);
}

ContactFile WatchContacts::take(const std::string& name, const platform::Bytes& data) {
    ContactFile file{name, ContactFile::Kind::unreadable, {}};
    const std::string text = textOf(data);
    for (std::string& problem : checkContactFile(text)) {
        problems_.push_back(name + ": " + std::move(problem));
    }
    auto document = platform::json::parse(text);
    if (!document.ok()) {
        return file;
    }
    const Value& root = document.value();
    if (const auto* list = root["insert"]["raw_contact_list"].arrayIf()) {
        file.kind = ContactFile::Kind::insert;
        for (const Value& record : *list) {
            const auto id = record["raw_contact"]["id"].intValue().value_or(0);
            file.identifiers.push_back(id);
            contacts_[id] = record;
        }
    } else if (const auto* removed = root["delete"]["raw_contact_list"].arrayIf()) {
        file.kind = ContactFile::Kind::remove;
        for (const Value& entry : *removed) {
            const auto id = entry["raw_contact"]["id"].intValue().value_or(0);
            file.identifiers.push_back(id);
            contacts_.erase(id);
        }
    }
    return file;
}

std::vector<ContactFile> WatchContacts::takeFiles() {
    std::vector<ContactFile> out;
    const auto& received = watch_.files().received();
    for (; seen_ < received.size(); ++seen_) {
        const ReceivedFile& file = received[seen_];
        if (file.appId == kAppId && file.name.starts_with("QAContactJSONFile")) {
            out.push_back(take(file.name, file.data));
        }
    }
    return out;
}

std::optional<std::vector<ContactFile>> WatchContacts::waitForFiles(std::size_t count,
                                                                   double timeout) {
    const auto arrived = [&] {
        std::size_t n = 0;
        const auto& received = watch_.files().received();
        for (std::size_t i = seen_; i < received.size(); ++i) {
            n += received[i].appId == kAppId && received[i].name.starts_with("QAContactJSONFile");
        }
        return n;
    };
    if (!watch_.waitUntil([&] { return arrived() >= count; }, timeout)) {
        return std::nullopt;
    }
    return takeFiles();
}

std::optional<BuddyList> WatchContacts::requestBuddies(double timeout) {
    takeFiles();
    const std::size_t before = watch_.files().received().size();
    if (!watch_.sendJson(Value{{"msgId", "contacts-getbuddy-req"}}, kAppId).ok()) {
        return std::nullopt;
    }
    auto answer = watch_.waitForMessage("contacts-getbuddy-rsp", timeout);
    if (!answer || !answer->json) {
        return std::nullopt;
    }
    BuddyList list;
    list.message = *answer->json;
    for (std::string& problem : checkBuddyList(list.message)) {
        problems_.push_back(std::move(problem));
    }
    std::size_t photos = 0;
    if (const auto* records = list.message["rawContacts"]["raw_contact_list"].arrayIf()) {
        for (const Value& record : *records) {
            list.order.push_back(record["raw_contact"]["id"].intValue().value_or(0));
            photos += record["raw_contact"]["has_photo"].boolValue().value_or(false);
        }
    }
    const auto& received = watch_.files().received();
    if (!watch_.waitUntil([&] { return received.size() >= before + photos; }, timeout)) {
        return std::nullopt;
    }
    for (std::size_t i = before; i < received.size(); ++i) {
        if (received[i].appId == kAppId && received[i].name.starts_with("photo_")) {
            list.photos[received[i].name] = received[i].data;
        }
    }
    seen_ = received.size();
    return list;
}

}  // namespace kavowatch
