#pragma once

// How many of the phone permissions that the watch features need are still undecided, for
// the setup screens. Reads the application's own decisions (platform::Permissions).
class TQPermission {
public:
    TQPermission() = delete;

    // The user has been asked (whatever the answer), or there is nothing to ask.
    [[nodiscard]] static bool isLocationAuthorized();
    // Also when the watch makes no calls ("voiceCall" is "false"): contacts are not needed.
    [[nodiscard]] static bool isContactsAuthorized();
    [[nodiscard]] static bool isCalendarsAuthorized();
    [[nodiscard]] static bool isNotificationsAuthorized() { return true; }

    // The checks above that answer false.
    [[nodiscard]] static int permissionCount();
    [[nodiscard]] static bool isNeedAll() { return permissionCount() > 1; }
    [[nodiscard]] static bool isAllAuthorized() { return permissionCount() == 0; }
};
