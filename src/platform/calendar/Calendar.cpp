#include "platform/calendar/Calendar.h"

#include <algorithm>
#include <cctype>

namespace platform::calendar {

namespace {

std::optional<int> hexByte(std::string_view two) {
    int value = 0;
    for (const char c : two) {
        const int digit = std::isdigit(static_cast<unsigned char>(c)) != 0 ? c - '0'
                          : c >= 'a' && c <= 'f'                           ? c - 'a' + 10
                          : c >= 'A' && c <= 'F'                           ? c - 'A' + 10
                                                                           : -1;
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * 16 + digit;
    }
    return value;
}

}  // namespace

std::optional<Color> Color::fromHex(std::string_view text) {
    if (!text.starts_with('#') || (text.size() != 7 && text.size() != 9)) {
        return std::nullopt;
    }
    Color color;
    for (std::size_t at = 1; at < text.size(); at += 2) {
        const auto byte = hexByte(text.substr(at, 2));
        if (!byte) {
            return std::nullopt;
        }
        color.components.push_back(*byte / 255.0);
    }
    if (color.components.size() == 3) {
        color.components.push_back(1.0);
    }
    return color;
}

bool overlaps(const Event& event, const TimeRange& range) {
    if (event.end <= event.start) {
        return event.start >= range.start && event.start < range.end;
    }
    return event.start < range.end && event.end > range.start;
}

std::vector<Event> MemoryCalendarStore::events(const TimeRange& range) {
    ++queries_;
    std::vector<Event> found;
    std::copy_if(events_.begin(), events_.end(), std::back_inserter(found),
                 [&](const Event& event) { return overlaps(event, range); });
    return found;
}

std::optional<Event> MemoryCalendarStore::eventWithIdentifier(std::string_view identifier) {
    const auto it = std::find_if(events_.begin(), events_.end(), [&](const Event& event) {
        return event.identifier == identifier;
    });
    if (it == events_.end()) {
        return std::nullopt;
    }
    return *it;
}

}  // namespace platform::calendar
