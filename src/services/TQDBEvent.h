#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "db/TQDBObject.h"
#include "platform/calendar/Calendar.h"

// The phone's memory of one calendar event occurrence sent to the watch. Its row identifier
// is the "UID" the watch knows it by, so a row is saved before its text is built.
class TQDBEvent final : public TQDBRecord<TQDBEvent> {
public:
    std::optional<std::string> uid;  // the store's event identifier, shared by occurrences
    // Seconds since 1970 as whole-number text.
    std::optional<std::string> startDate;
    std::optional<std::string> endDate;
    std::optional<std::string> completionDate;    // the end again
    std::optional<std::string> lastModifiedDate;  // "0" when the store has none
    bool allday = false;
    std::optional<std::string> timezone;
    std::int32_t color = 0;  // the calendar's, 0xAARRGGBB
    // Only ever set in memory, on a row about to go because its event vanished.
    bool expired = false;

    static const TQDBSchema& tableSchema();

    // Every property but expired and the ID, from an occurrence; deviceZone names the zone of
    // an event without one of its own.
    void convertFromEvent(const platform::calendar::Event& event, std::string_view deviceZone);
    // Saves only when no row has this uid (logged either way).
    void saveWithCheck();

    // Whole seconds as text; "0" for none.
    [[nodiscard]] static std::string unixTimestampFromDate(std::optional<std::int64_t> seconds);
    // 0xFF000000 | red << 16 | green << 8 | blue, each component * 255 truncated; 0 for a grey.
    [[nodiscard]] static std::int32_t convertToAndroidColor(const platform::calendar::Color& color);
    // The event's own zone name, else the device's.
    [[nodiscard]] static std::string timezoneStringFromEvent(const platform::calendar::Event& event,
                                                             std::string_view deviceZone);
};
