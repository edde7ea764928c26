#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/calendar/Calendar.h"
#include "platform/calendar/Zone.h"
#include "platform/foundation/Result.h"

namespace platform::calendar {

// How the events of one file are read over a range.
struct ReadOptions {
    TimeRange range;
    // Floating times and all-day dates are the device's wall clock.
    Zone deviceZone = Zone::utc();
    std::string calendarIdentifier;
    Color color;
    // The modification time of an event that states none (the file's).
    std::optional<std::int64_t> fileModified;
    // Names the file in log lines.
    std::string source;
};

// At most this many occurrences of one event in a range, and this many steps of its rule: a
// rule repeating every second from long ago must not stall the phone.
inline constexpr std::size_t kMaxOccurrences = 2000;
inline constexpr std::size_t kMaxRuleSteps = 200000;

// One iCalendar text, parsed once and read over any range. What cannot be read is skipped
// with a log line: the whole text when it is not UTF-8 or its components are not closed, an
// event without a UID or a start, or with a time zone neither the text nor the system knows.
class IcsDocument {
public:
    // A text larger than this is refused.
    static constexpr std::size_t kMaxBytes = std::size_t{16} << 20;

    [[nodiscard]] static Result<IcsDocument> parse(std::string_view text);

    IcsDocument(IcsDocument&&) noexcept;
    IcsDocument& operator=(IcsDocument&&) noexcept;
    ~IcsDocument();

    // The calendar's name and colour the text gives (X-WR-CALNAME, COLOR, X-APPLE-CALENDAR-COLOR).
    [[nodiscard]] std::optional<std::string> calendarName() const;
    [[nodiscard]] std::optional<Color> calendarColor() const;
    // The UIDs of the events the text holds, each once, in order.
    [[nodiscard]] std::vector<std::string> uids() const;
    // The first occurrence of the event with this UID, wherever it lies.
    [[nodiscard]] std::optional<Event> event(std::string_view uid,
                                             const ReadOptions& options) const;

    // What a read passed over.
    struct ReadReport {
        std::size_t skippedEvents = 0;
        // Some event had more occurrences or rule steps than the bounds allow.
        bool truncated = false;
    };
    // The occurrences over options.range, by start, then identifier.
    [[nodiscard]] std::vector<Event> events(const ReadOptions& options,
                                            ReadReport* report = nullptr) const;

private:
    struct Impl;
    explicit IcsDocument(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform::calendar
