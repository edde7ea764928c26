#include "services/TQEventText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "services/TQDeviceCalendar.h"

namespace {

// The line breaks of the platform's newline set, as UTF-8.
constexpr std::string_view kNewlines[] = {"\n",       "\r",           "\v",          "\f",
                                          "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9"};

std::size_t newlineAtStart(std::string_view text) {
    for (const std::string_view newline : kNewlines) {
        if (text.starts_with(newline)) {
            return newline.size();
        }
    }
    return 0;
}

std::size_t newlineAtEnd(std::string_view text) {
    for (const std::string_view newline : kNewlines) {
        if (text.ends_with(newline)) {
            return newline.size();
        }
    }
    return 0;
}

double secondsOf(std::string_view timestamp) {
    double seconds = 0;
    const auto* first = timestamp.data();
    const auto* last = first + timestamp.size();
    while (first != last && *first == ' ') {
        ++first;
    }
    std::from_chars(first, last, seconds);
    return std::isfinite(seconds) ? seconds : 0;
}

}  // namespace

std::string TQEventText::oneLine(std::string_view text) {
    std::string line(text);
    for (char& c : line) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    return line;
}

std::string TQEventText::trimmedOfNewlines(std::string_view text) {
    while (const std::size_t n = newlineAtStart(text)) {
        text.remove_prefix(n);
    }
    while (const std::size_t n = newlineAtEnd(text)) {
        text.remove_suffix(n);
    }
    return std::string(text);
}

std::string TQEventText::datetimeStringFromTimestamp(std::string_view timestamp, bool allDay) {
    const auto zone = TQDeviceCalendar::zone();
    // The formatter shows whole seconds of the wall clock.
    auto seconds =
        static_cast<std::int64_t>(std::floor(std::clamp(secondsOf(timestamp), -1e15, 1e15)));
    if (allDay) {
        const auto local = zone.local(seconds);
        const auto shift = static_cast<std::int64_t>(
            static_cast<double>(TQDeviceCalendar::secondsFromGMTNow()) / 3600.0);
        seconds = zone.fromLocal({local.year, local.month, local.day,
                                  static_cast<std::int64_t>(local.hour) + shift, local.minute,
                                  local.second});
    }
    const auto local = zone.local(seconds);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld%02u%02uT%02u%02u%02uZ",
                  static_cast<long long>(local.year), local.month, local.day, local.hour,
                  local.minute, local.second);
    return text;
}

std::string TQEventText::eventStringFromEvent(const TQDBEvent& event) {
    std::string title;
    std::string notes;
    std::string location;
    if (const auto live = store_.eventWithIdentifier(event.uid.value_or(""))) {
        title = oneLine(live->title);
        notes = live->notes;
        location = trimmedOfNewlines(live->location);
    }
    const std::string start = event.startDate.value_or("");
    const std::string end = event.endDate.value_or("");
    std::string text;
    text += "\r\nBEGIN:VEVENT";
    text += "\r\nDTSTART:" + datetimeStringFromTimestamp(start, event.allday);
    text += "\r\nDTEND:" + datetimeStringFromTimestamp(end, event.allday);
    text += "\r\nCOMPLETED:" + datetimeStringFromTimestamp(end, event.allday);
    text += "\r\nUID:" + std::to_string(static_cast<std::int32_t>(event.ID()));
    text += "\r\nSUMMARY:" + title;
    if (!notes.empty()) {
        text += "\r\nDESCRIPTION:" + notes;
    }
    if (!location.empty()) {
        text += "\r\nLOCATION:" + location;
    }
    text += "\r\nCOLOR:" + std::to_string(event.color);
    text += "\r\nALLDAY:" + std::string(event.allday ? "1" : "0");
    text += "\r\nTIMEZONE:" + event.timezone.value_or("");
    text += "\r\nEND:VEVENT";
    return text;
}

std::string TQEventText::calendarStringFromEvent(const TQDBEvent& event) {
    std::string text = "BEGIN:VCALENDAR";
    text += "\r\nVERSION:2.0";
    text += "\r\nPROID:vCal";
    text += "\r\nID default";
    text += eventStringFromEvent(event);
    text += "\r\nEND:VCALENDAR";
    return text;
}
