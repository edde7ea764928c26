#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"

namespace kavowatch {

class Watch;

// One event text as the watch reads it: its fields by key. Lines the phone's fields carry
// inside them (notes) stay in the field they belong to.
struct CalendarEntry {
    std::map<std::string, std::string, std::less<>> fields;

    // Nothing unless the text is a whole calendar of one event with a UID.
    [[nodiscard]] static std::optional<CalendarEntry> parse(std::string_view text);
    [[nodiscard]] std::string field(std::string_view key) const;
    [[nodiscard]] std::int64_t uid() const;
};

// The watch's calendar on application identifier 8: it asks for access and for the three
// chunks of a full copy, keeps the events by UID, applies the phone's change indications
// (answering each with an acknowledgement) and asks for the sequence number. Its waits drive
// the loop as the watch's do.
class WatchCalendar {
public:
    static constexpr std::uint8_t kAppId = 8;

    explicit WatchCalendar(Watch& watch);
    WatchCalendar(const WatchCalendar&) = delete;
    WatchCalendar& operator=(const WatchCalendar&) = delete;

    // "calendar-change-req": whether the phone answered "success"; nothing without an answer.
    std::optional<bool> requestAccess(double timeout = 30);
    // One "calendar-listwithoption-req": the chunk's entries; nothing without a well-formed
    // answer. The first of three replaces what the watch held.
    std::optional<std::vector<CalendarEntry>> requestList(double timeout = 30);
    // Three requests: today, this week, next week.
    bool synchronise(double timeout = 30);
    // "calendar-sequence-req".
    std::optional<std::uint64_t> requestSequence(double timeout = 30);

    [[nodiscard]] const std::map<std::int64_t, CalendarEntry>& events() const { return events_; }
    // Every indication the phone sent, in order.
    [[nodiscard]] const std::vector<platform::Value>& indications() const { return indications_; }
    // Entries of an indication that could not be read.
    [[nodiscard]] int unreadable() const { return unreadable_; }

private:
    void apply(const platform::Value& indication);

    Watch& watch_;
    std::map<std::int64_t, CalendarEntry> events_;
    std::vector<platform::Value> indications_;
    int chunk_ = 0;
    int unreadable_ = 0;
};

}  // namespace kavowatch
