#pragma once

#include <string>
#include <string_view>

#include "platform/calendar/Calendar.h"
#include "services/TQDBEvent.h"

// The text an event travels to the watch as: vCalendar-like lines joined by CR LF, built from
// a stored row and the live event its uid names (title, notes and location only).
class TQEventText {
public:
    // store outlives the text.
    explicit TQEventText(platform::calendar::CalendarStore& store) : store_(store) {}

    // "BEGIN:VCALENDAR" to "END:VCALENDAR".
    [[nodiscard]] std::string calendarStringFromEvent(const TQDBEvent& event);
    // "BEGIN:VEVENT" to "TIMEZONE:...", each line after a CR LF.
    [[nodiscard]] std::string eventStringFromEvent(const TQDBEvent& event);
    // yyyyMMddTHHmmssZ of the device's wall clock. An all-day time is first moved by the
    // device's present UTC offset in whole hours (truncated), as the watch expects.
    [[nodiscard]] static std::string datetimeStringFromTimestamp(std::string_view timestamp,
                                                                 bool allDay);

    // A title on one line: CR and LF become blanks.
    [[nodiscard]] static std::string oneLine(std::string_view text);
    // Line breaks gone from both ends only.
    [[nodiscard]] static std::string trimmedOfNewlines(std::string_view text);

private:
    platform::calendar::CalendarStore& store_;
};
