#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "db/TQDBManagerImpl.h"
#include "listener/ListenerWorld.h"
#include "platform/calendar/IcsFolderStore.h"
#include "platform/foundation/CivilTime.h"
#include "platform/foundation/FileSystem.h"
#include "platform/permissions/Permissions.h"
#include "services/TQDeviceCalendar.h"
#include "services/TQEvent.h"
#include "sim/WatchCalendar.h"

namespace e2e {
namespace {

using kavowatch::CalendarEntry;
using platform::Value;

// The phone's wall clock moves with the loop's virtual one, from Thursday 10 December 2026,
// 09:00 in Berlin.
class LoopWallClock final : public TQWallClock {
public:
    explicit LoopWallClock(const platform::RunLoop& loop) : loop_(loop) {}
    std::int64_t millisecondsSince1970() const override {
        return (platform::secondsFromCivil({2026, 12, 10, 8, 0, 0}) +
                static_cast<std::int64_t>(loop_.now())) *
               1000;
    }

private:
    const platform::RunLoop& loop_;
};

std::string calendarText(std::string_view uid, std::string_view lines) {
    std::string text =
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//other program//EN\r\n"
        "BEGIN:VEVENT\r\nUID:" +
        std::string(uid) + "\r\n";
    for (char c : lines) {
        text += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    return text + "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
}

// The phone as the application has it (link, core manager, dispatch, the calendar service
// over a folder of iCalendar files) and the simulated watch's calendar on one simulated air.
class CalendarSyncTest : public ::testing::Test {
protected:
    CalendarSyncTest() {
        world.device.setTimeZone({"Europe/Berlin", 3600});
        prompt.setAnswer(platform::Feature::calendars, true);
        world.handlers.registry.calendar = &service;
        write("personal/color", "#FF0000\n");
        write("personal/dentist.ics",
              calendarText("dentist",
                           "DTSTART;TZID=Europe/Berlin:20261210T150000\n"
                           "DTEND;TZID=Europe/Berlin:20261210T160000\n"
                           "SUMMARY:Dentist\nLAST-MODIFIED:20261101T000000Z"));
        write("personal/choir.ics",
              calendarText("choir",
                           "DTSTART;TZID=Europe/Berlin:20261112T190000\n"
                           "DTEND;TZID=Europe/Berlin:20261112T210000\n"
                           "RRULE:FREQ=WEEKLY\nSUMMARY:Choir\nLOCATION:\\nHall\\n"));
        write("personal/trip.ics",
              calendarText("trip",
                           "DTSTART;VALUE=DATE:20261214\nDTEND;VALUE=DATE:20261216\n"
                           "SUMMARY:Trip\nDESCRIPTION:Train at 7\\nHotel by the lake"));
        write("work.ics", calendarText("review",
                                       "DTSTART:20261221T100000Z\n"
                                       "DTEND:20261221T110000Z\nSUMMARY:Review"));
    }

    void write(const std::string& relative, const std::string& text) {
        ASSERT_TRUE(platform::fs::writeFileAtomically(folder / relative, text).ok());
    }

    // Pairs, marks the watch in use and asks for access, as the watch does first.
    void connect() {
        world.connectWatch();
        if (HasFatalFailure()) {
            return;
        }
        world.defaults.set("isWMSConnected", 1);
        ASSERT_EQ(watchCalendar.requestAccess(), true);
    }

    std::vector<std::string> summaries(const std::vector<CalendarEntry>& entries) {
        std::vector<std::string> out;
        for (const auto& entry : entries) {
            out.push_back(entry.field("SUMMARY") + "@" + entry.field("DTSTART"));
        }
        return out;
    }

    listener_test::ListenerWorld world;
    LoopWallClock clock{world.loop};
    platform::ScopedInstall<TQWallClock> installClock{&clock};
    TQDBManagerImpl database{world.container.documents() / TQDBManagerImpl::kFileName};
    platform::ScopedInstall<TQDBManagerImpl> installDatabase{&database};
    std::filesystem::path folder = world.folder.path() / "calendars";
    // Another program edits the folder; its change notices come through here.
    platform::calendar::ManualChangeSource* changes = new platform::calendar::ManualChangeSource;
    platform::calendar::IcsFolderStore store{
        folder, [] { return TQDeviceCalendar::zone(); },
        std::unique_ptr<platform::calendar::ChangeSource>(changes)};
    platform::ScriptedPermissionPrompt prompt;
    platform::Permissions permissions{world.defaults, prompt, [] { return false; }};
    TQEvent service{store, permissions, world.defaults, world.loop,
                    TQEvent::linkSender([this] { return world.ap.get(); })};
    kavowatch::WatchCalendar watchCalendar{world.watch};
};

TEST_F(CalendarSyncTest, TheWatchCopiesTheCalendarsAndFollowsTheirChanges) {
    connect();
    ASSERT_FALSE(HasFatalFailure());

    // Three requests: today, this week, next week. The weekly choir is on every Thursday of
    // the window; the all-day trip carries the watch's hour shift.
    const auto today = watchCalendar.requestList();
    const auto thisWeek = watchCalendar.requestList();
    const auto nextWeek = watchCalendar.requestList();
    ASSERT_TRUE(today && thisWeek && nextWeek);
    EXPECT_EQ(summaries(*today),
              (std::vector<std::string>{"Dentist@20261210T150000Z", "Choir@20261210T190000Z"}));
    EXPECT_EQ(summaries(*thisWeek),
              (std::vector<std::string>{"Trip@20261214T010000Z", "Choir@20261217T190000Z"}));
    EXPECT_EQ(summaries(*nextWeek),
              (std::vector<std::string>{"Review@20261221T110000Z", "Choir@20261224T190000Z"}));
    const CalendarEntry& choir = (*today)[1];
    EXPECT_EQ(choir.field("LOCATION"), "Hall");
    EXPECT_EQ(choir.field("TIMEZONE"), "Europe/Berlin");
    EXPECT_EQ(choir.field("COLOR"), "-65536");
    const CalendarEntry& trip = (*thisWeek)[0];
    EXPECT_EQ(trip.field("ALLDAY"), "1");
    EXPECT_EQ(trip.field("DTEND"), "20261216T005959Z");
    EXPECT_EQ(trip.field("DESCRIPTION"), "Train at 7\nHotel by the lake");
    EXPECT_EQ(trip.field("TIMEZONE"), "Europe/Berlin");
    EXPECT_EQ(watchCalendar.events().size(), 6U);
    EXPECT_EQ(watchCalendar.requestSequence(), 0U);

    // A fourth request starts over.
    const auto again = watchCalendar.requestList();
    ASSERT_TRUE(again);
    EXPECT_EQ(summaries(*again), summaries(*today));
    ASSERT_TRUE(watchCalendar.requestList() && watchCalendar.requestList());
    const std::set<std::int64_t> before = [&] {
        std::set<std::int64_t> uids;
        for (const auto& [uid, entry] : watchCalendar.events()) {
            uids.insert(uid);
        }
        return uids;
    }();

    // Another program moves the dentist and deletes the review.
    write("personal/dentist.ics",
          calendarText("dentist",
                       "DTSTART;TZID=Europe/Berlin:20261210T170000\n"
                       "DTEND;TZID=Europe/Berlin:20261210T180000\n"
                       "SUMMARY:Dentist (moved)\nLAST-MODIFIED:20261210T080000Z"));
    ASSERT_TRUE(changes->fire());
    std::filesystem::remove(folder / "work.ics");
    ASSERT_TRUE(changes->fire());
    world.loop.advance(TQEvent::kStoreChangeDelay - 0.5);
    EXPECT_TRUE(watchCalendar.indications().empty());
    ASSERT_TRUE(world.watch.waitUntil([&] { return !watchCalendar.indications().empty(); }, 5));
    world.loop.advance(1);

    ASSERT_EQ(watchCalendar.indications().size(), 1U);
    const Value& indication = watchCalendar.indications()[0];
    EXPECT_EQ(indication["count"], 1);
    EXPECT_EQ(indication["deleted_count"], 2);
    EXPECT_EQ(indication["sequence"], 1);
    EXPECT_EQ(indication["result"], "success");
    EXPECT_EQ(watchCalendar.unreadable(), 0);
    EXPECT_EQ(world.watch.messages().count("calendar-update-ind"), 1);
    EXPECT_EQ(watchCalendar.requestSequence(), 1U);

    // The watch's copy is the table: the old dentist and the review gone, the new one there.
    std::vector<std::string> held;
    for (const auto& [uid, entry] : watchCalendar.events()) {
        EXPECT_EQ(before.contains(uid), entry.field("SUMMARY") != "Dentist (moved)");
        held.push_back(entry.field("SUMMARY"));
    }
    std::sort(held.begin(), held.end());
    EXPECT_EQ(held,
              (std::vector<std::string>{"Choir", "Choir", "Choir", "Dentist (moved)", "Trip"}));
    const auto rows = TQDBEvent::getAll().value_or(std::vector<TQDBEvent>());
    std::set<std::int64_t> stored;
    for (const auto& row : rows) {
        stored.insert(row.ID());
    }
    std::set<std::int64_t> onWatch;
    for (const auto& [uid, entry] : watchCalendar.events()) {
        onWatch.insert(uid);
    }
    EXPECT_EQ(stored, onWatch);
}

}  // namespace
}  // namespace e2e
