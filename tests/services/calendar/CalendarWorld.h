#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "db/TQDBManagerImpl.h"
#include "listener/TQWallClock.h"
#include "logging/LGLog.h"
#include "logging/LGLogger.h"
#include "platform/calendar/Calendar.h"
#include "platform/foundation/CivilTime.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Value.h"
#include "platform/permissions/Permissions.h"
#include "platform/system/DeviceInfo.h"
#include "services/TQEvent.h"
#include "support/TempDir.h"

namespace calendar_service_test {

using platform::Value;
using platform::calendar::Event;

inline std::int64_t utc(std::int64_t year, unsigned month, unsigned day, unsigned hour = 0,
                        unsigned minute = 0, unsigned second = 0) {
    return platform::secondsFromCivil({year, month, day, hour, minute, second});
}

// A wall clock the test sets.
class SetClock final : public TQWallClock {
public:
    std::int64_t millisecondsSince1970() const override { return seconds * 1000; }
    std::int64_t seconds = 0;
};

// Keeps every log line's text.
class LogLines : public LGAbstractLogger {
public:
    LogLines() : LGAbstractLogger("test.calendar") {}
    void logMessage(const LGLogMessage& message) override {
        std::lock_guard lock(mutex_);
        lines_.push_back(message.message());
    }
    bool contains(const std::string& part) {
        LGLog::flushLog();
        std::lock_guard lock(mutex_);
        for (const auto& line : lines_) {
            if (line.find(part) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

// The calendar service over a store in memory, with its own database, defaults, device (zone
// and clock) and virtual loop; what it sends is kept with the thread it was sent from.
class CalendarWorld : public ::testing::Test {
protected:
    explicit CalendarWorld(std::string zone = "Africa/Johannesburg", std::int64_t offset = 7200) {
        device.setTimeZone({std::move(zone), offset});
        // Thursday 10 December 2026, 09:00 at UTC+2.
        clock.seconds = utc(2026, 12, 10, 7);
        LGLog::addLogger(logs);
        grantCalendars(true);
    }
    ~CalendarWorld() override {
        LGLog::removeLogger(logs);
        LGLog::flushLog();
    }

    // An event of the store: identifier, start and end, last modified.
    static Event event(std::string identifier, std::int64_t start, std::int64_t end,
                       std::int64_t modified = 1, std::string title = "") {
        Event e;
        e.identifier = std::move(identifier);
        e.calendarIdentifier = "cal";
        e.start = start;
        e.end = end;
        e.title = std::move(title);
        e.lastModified = modified;
        e.calendarColor.components = {1.0, 0.0, 0.0, 1.0};
        return e;
    }

    // The user's decision on the calendars: granted, or denied.
    void grantCalendars(bool granted) {
        defaults.set(
            platform::Permissions::defaultsKey(platform::Feature::calendars),
            static_cast<int>(granted ? platform::Decision::granted : platform::Decision::denied));
    }

    // The watch's messages with this msgId, in order.
    std::vector<Value> sentWith(const std::string& msgId) const {
        std::vector<Value> found;
        for (const auto& message : sent) {
            if (message["msgId"].stringValue() == msgId) {
                found.push_back(message);
            }
        }
        return found;
    }

    // The watch's full-sync request, as the dispatch runs it.
    void listRequest() {
        service.initializeEventDatabase();
        if (service.listStep() == 0) {
            service.cleanUpEvent();
            service.populateCalendarData();
        }
        service.fullSyncWithChunk();
    }

    testing_support::TempDir folder;
    platform::Container container{folder.path()};
    platform::ScopedInstall<const platform::Container> installContainer{&container};
    platform::UserDefaults defaults{folder.path() / "defaults.plist"};
    platform::ScopedInstall<platform::UserDefaults> installDefaults{&defaults};
    TQDBManagerImpl database{folder.path() / "TQA_DB.db"};
    platform::ScopedInstall<TQDBManagerImpl> installDatabase{&database};
    platform::FixedDeviceInfo device{"phone"};
    platform::ScopedInstall<platform::DeviceInfo> installDevice{&device};
    SetClock clock;
    platform::ScopedInstall<TQWallClock> installClock{&clock};
    platform::RunLoop loop{platform::RunLoop::Clock::virtualTime};
    platform::ScopedMainRunLoop mainLoop{loop};
    std::shared_ptr<LogLines> logs = std::make_shared<LogLines>();
    platform::calendar::MemoryCalendarStore store;
    platform::ScriptedPermissionPrompt prompt;
    platform::Permissions permissions{defaults, prompt, [] { return false; }};
    std::vector<Value> sent;
    std::vector<std::thread::id> sentFrom;
    TQEvent service{store, permissions, defaults, loop, [this](const Value& message) {
                        sent.push_back(message);
                        sentFrom.push_back(std::this_thread::get_id());
                    }};
};

}  // namespace calendar_service_test
