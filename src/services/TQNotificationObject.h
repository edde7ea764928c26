#pragma once

#include <optional>
#include <string>

#include "platform/foundation/Value.h"

// One entry of the blocked-apps list ("BLOCKED_APPS_LIST"): a phone application, or for the
// phone application one of its call categories, whose notifications the watch does not show.
// Stored as a keyed archive (an XML property list with the archive's "$objects" and "$top"),
// one data item per entry.
struct TQNotificationObject {
    std::optional<std::string> name;
    std::optional<std::string> identifier;
    bool notification = false;
    std::optional<std::string> categoryid;

    [[nodiscard]] platform::Bytes encoded() const;
    // Nothing for data that is not a keyed archive of this class.
    [[nodiscard]] static std::optional<TQNotificationObject> decodedWithObject(
        const platform::Value& data);

    friend bool operator==(const TQNotificationObject&, const TQNotificationObject&) = default;
};
