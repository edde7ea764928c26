#include "utils/TQPermission.h"

#include "platform/foundation/UserDefaults.h"
#include "platform/permissions/Permissions.h"

namespace {

bool asked(platform::Feature feature) {
    return platform::Permissions::current().decision(feature) != platform::Decision::notDetermined;
}

}  // namespace

bool TQPermission::isLocationAuthorized() {
    return asked(platform::Feature::location);
}

bool TQPermission::isContactsAuthorized() {
    const auto voiceCall = platform::UserDefaults::standard().string("voiceCall");
    if (voiceCall && !voiceCall->empty() && *voiceCall == "false") {
        return true;
    }
    return asked(platform::Feature::contacts);
}

bool TQPermission::isCalendarsAuthorized() {
    return asked(platform::Feature::calendars);
}

int TQPermission::permissionCount() {
    int count = 0;
    for (const bool authorized : {isLocationAuthorized(), isContactsAuthorized(),
                                  isCalendarsAuthorized(), isNotificationsAuthorized()}) {
        count += authorized ? 0 : 1;
    }
    return count;
}
