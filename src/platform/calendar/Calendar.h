#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/FolderWatch.h"

namespace platform::calendar {

// A calendar's colour as the phone platform hands it out: red, green, blue and alpha, or white
// and alpha for a grey, each 0.0-1.0.
struct Color {
    std::vector<double> components;

    // "#RRGGBB" or "#RRGGBBAA" (upper or lower case); nothing for anything else.
    [[nodiscard]] static std::optional<Color> fromHex(std::string_view text);
    friend bool operator==(const Color&, const Color&) = default;
};

// Seconds since 1970-01-01 00:00:00 UTC; a range is [start, end).
struct TimeRange {
    std::int64_t start = 0;
    std::int64_t end = 0;
};

// One occurrence of an event: a repeating event gives one per occurrence, all with the same
// identifier.
struct Event {
    // Unique in the store: the calendar's identifier, "/", the event's UID.
    std::string identifier;
    std::string calendarIdentifier;
    std::int64_t start = 0;
    // An all-day event ends at 23:59:59 of its last day.
    std::int64_t end = 0;
    bool allDay = false;
    // The zone the event's times were given in; empty for floating times and all-day events.
    std::string timeZone;
    std::string title;
    std::string location;
    std::string notes;
    std::optional<std::int64_t> lastModified;
    Color calendarColor;

    friend bool operator==(const Event&, const Event&) = default;
};

// What an event store offers: the events of all calendars over a range, in the store's order,
// and an event by identifier. Changes are reported to one observer, on the store's run loop.
// Main thread.
class CalendarStore {
public:
    virtual ~CalendarStore() = default;

    // Events that overlap range (an empty event counts when it starts inside it).
    [[nodiscard]] virtual std::vector<Event> events(const TimeRange& range) = 0;
    // An occurrence of the event with this identifier, exactly as written, if the store has it.
    [[nodiscard]] virtual std::optional<Event> eventWithIdentifier(std::string_view identifier) = 0;
    // observer hears every change from now on; null stops that.
    virtual void observeChanges(std::function<void()> observer) = 0;
};

// Change notices of a calendar folder: inotify, or a test.
using ChangeSource = platform::ChangeSource;
using ManualChangeSource = platform::ManualChangeSource;

// An event store in memory, for tests: the events set, the range rule of every store.
class MemoryCalendarStore final : public CalendarStore {
public:
    void setEvents(std::vector<Event> events) { events_ = std::move(events); }
    [[nodiscard]] const std::vector<Event>& allEvents() const { return events_; }
    // Tells the observer, as a store does after a change.
    void notifyChanged() {
        if (observer_) {
            observer_();
        }
    }
    [[nodiscard]] int queries() const { return queries_; }

    std::vector<Event> events(const TimeRange& range) override;
    std::optional<Event> eventWithIdentifier(std::string_view identifier) override;
    void observeChanges(std::function<void()> observer) override {
        observer_ = std::move(observer);
    }

private:
    std::vector<Event> events_;
    std::function<void()> observer_;
    int queries_ = 0;
};

// Whether an occurrence counts for range.
[[nodiscard]] bool overlaps(const Event& event, const TimeRange& range);

}  // namespace platform::calendar
