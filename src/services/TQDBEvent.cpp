#include "services/TQDBEvent.h"

#include "logging/LGLog.h"
#include "logging/LGRedaction.h"

const TQDBSchema& TQDBEvent::tableSchema() {
    using T = TQDBEvent;
    static const TQDBSchema schema{"TQDBEvent",
                                   {
                                       column("uid", &T::uid),
                                       column("startDate", &T::startDate),
                                       column("endDate", &T::endDate),
                                       column("completionDate", &T::completionDate),
                                       column("lastModifiedDate", &T::lastModifiedDate),
                                       column("allday", &T::allday),
                                       column("timezone", &T::timezone),
                                       column("color", &T::color),
                                       column("expired", &T::expired),
                                   }};
    return schema;
}

std::string TQDBEvent::unixTimestampFromDate(std::optional<std::int64_t> seconds) {
    return std::to_string(seconds.value_or(0));
}

std::int32_t TQDBEvent::convertToAndroidColor(const platform::calendar::Color& color) {
    const auto& c = color.components;
    if (c.size() < 3) {
        return 0;
    }
    // Truncated, as the platform's conversion does: a half gives 127.
    const auto byte = [](double component) -> std::uint32_t {
        if (!(component > 0)) {
            return 0;
        }
        return component >= 1 ? 255U : static_cast<std::uint32_t>(component * 255.0);
    };
    const std::uint32_t packed = 0xFF000000U | byte(c[0]) << 16 | byte(c[1]) << 8 | byte(c[2]);
    return static_cast<std::int32_t>(packed);
}

std::string TQDBEvent::timezoneStringFromEvent(const platform::calendar::Event& event,
                                               std::string_view deviceZone) {
    return event.timeZone.empty() ? std::string(deviceZone) : event.timeZone;
}

void TQDBEvent::convertFromEvent(const platform::calendar::Event& event,
                                 std::string_view deviceZone) {
    uid = event.identifier;
    allday = event.allDay;
    color = convertToAndroidColor(event.calendarColor);
    timezone = timezoneStringFromEvent(event, deviceZone);
    startDate = unixTimestampFromDate(event.start);
    endDate = unixTimestampFromDate(event.end);
    completionDate = unixTimestampFromDate(event.end);
    lastModifiedDate = unixTimestampFromDate(event.lastModified);
    LG_VERBOSE("======== CONVERT TO DB ENTITY ========");
    LG_VERBOSE("UID: %@", *uid);
    LG_VERBOSE("Title: %@", lg::presence(event.title));
    LG_VERBOSE("All day: %d", allday ? 1 : 0);
    LG_VERBOSE("Color: %d", color);
    LG_VERBOSE("Timezone: %@", *timezone);
    LG_VERBOSE("Description: %@", lg::presence(event.notes));
    LG_VERBOSE("Location: %@", lg::presence(event.location));
    LG_VERBOSE("startDate: %@", *startDate);
    LG_VERBOSE("endDate: %@", *endDate);
    LG_VERBOSE("completionDate: %@", *completionDate);
    LG_VERBOSE("lastModifiedDate: %@", *lastModifiedDate);
}

void TQDBEvent::saveWithCheck() {
    const auto existing = query({}, "uid == ?", {TQDBValue(uid.value_or(""))}, std::nullopt,
                                std::nullopt, std::nullopt);
    if (!existing) {
        LG_VERBOSE("Saving  event to database...");
        save();
    } else {
        LG_WARN("Cancel save event. Duplicate event...");
    }
}
