#pragma once

#include <string_view>

// The watch applications and faces the phone keeps, and their automatic update (TQAppManager,
// TQKavoAppAutoUpdate).
class TQStoreHandler {
public:
    virtual ~TQStoreHandler() = default;

    // Package names from the watch; callers pass only names that are safe path components
    // (TQUtils::isSafePathComponent), since the package's icon file is named after it.
    virtual void uninstallAppWithPackageName(std::string_view packageName) = 0;
    virtual void uninstallClockWithPackageName(std::string_view packageName) = 0;
    // A new watch starts with the store's own notifications blocked ("BLOCKED_APPS_LIST").
    virtual void defaultBlockAppList() = 0;
    // The weather unit of the carrier's country, no current location, a 6-hour refresh.
    virtual void defaultWeatherSettings() = 0;
    // One automatic update round, unless one runs or the preferences or network forbid it.
    virtual void checkUpdate() = 0;
};
