#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"

namespace kavowatch {

class Watch;

// One contact file the phone sent, as the watch read it.
struct ContactFile {
    enum class Kind { insert, remove, unreadable };
    std::string name;
    Kind kind = Kind::unreadable;
    // Identifiers of the records it carries, in order.
    std::vector<std::int64_t> identifiers;
};

// The buddy list as the watch received it.
struct BuddyList {
    platform::Value message;
    // The contact identifiers in list order.
    std::vector<std::int64_t> order;
    // Photo files received after the message, by name.
    std::map<std::string, platform::Bytes> photos;
};

// The watch's contacts on application identifier 3: asks for a full or a change copy, takes
// the insert and delete files the phone sends (checking each, as JSON, against the layout the
// watch reads: keys, types, the fixed values, the order of a record's entries, at most 500
// records per insert file, compact text), keeps the contacts by identifier, and asks for the
// buddy list, checking the message and taking the photo files that follow. Its waits drive the
// loop as the watch's do. The files arrive through the watch's file side, which it reads.
class WatchContacts {
public:
    static constexpr std::uint8_t kAppId = 3;
    static constexpr std::size_t kMaxRecordsPerFile = 500;

    explicit WatchContacts(Watch& watch);
    WatchContacts(const WatchContacts&) = delete;
    WatchContacts& operator=(const WatchContacts&) = delete;

    // "Request_Initial_Sync_Contact" / "Request_Resume_Sync_Contact".
    platform::Result<void> requestFullCopy();
    platform::Result<void> requestChanges();

    // Drives the loop until `count` contact files more than were taken so far have arrived;
    // takes them (in order) and gives them.
    std::optional<std::vector<ContactFile>> waitForFiles(std::size_t count, double timeout = 60);
    // Takes whatever contact files arrived since the last take.
    std::vector<ContactFile> takeFiles();

    // "contacts-getbuddy-req", then its answer and, once it is there, as many photo files as it
    // announces. Nothing when the answer does not come or does not read.
    std::optional<BuddyList> requestBuddies(double timeout = 60);

    // Every contact the watch holds, by identifier: the record as received.
    [[nodiscard]] const std::map<std::int64_t, platform::Value>& contacts() const {
        return contacts_;
    }
    // Every way a file or message broke the layout, in order; empty when all were sound.
    [[nodiscard]] const std::vector<std::string>& problems() const { return problems_; }

    // The checks alone, for a document's text: the problems found (none: sound).
    [[nodiscard]] static std::vector<std::string> checkContactFile(std::string_view text);
    [[nodiscard]] static std::vector<std::string> checkBuddyList(const platform::Value& message);

private:
    ContactFile take(const std::string& name, const platform::Bytes& data);

    Watch& watch_;
    std::size_t seen_ = 0;
    std::map<std::int64_t, platform::Value> contacts_;
    std::vector<std::string> problems_;
};

}  // namespace kavowatch
