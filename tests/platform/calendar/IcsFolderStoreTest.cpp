#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/calendar/CalendarSamples.h"
#include "platform/calendar/IcsFolderStore.h"
#include "platform/calendar/InotifyChangeSource.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/RunLoop.h"
#include "support/RecordingLogSink.h"
#include "support/TempDir.h"

namespace calendar_test {
namespace {

using platform::calendar::Color;
using platform::calendar::Event;
using platform::calendar::IcsFolderStore;
using platform::calendar::ManualChangeSource;
using platform::calendar::Zone;

const platform::calendar::TimeRange kWindow{utc(2026, 12, 10), utc(2026, 12, 25)};

class IcsFolderStoreTest : public ::testing::Test {
protected:
    IcsFolderStoreTest() {
        auto source = std::make_unique<ManualChangeSource>();
        changes = source.get();
        store = std::make_unique<IcsFolderStore>(
            folder.path(), [] { return Zone::utc(); }, std::move(source));
    }

    void write(const std::filesystem::path& relative, const std::string& text) {
        ASSERT_TRUE(platform::fs::writeFileAtomically(folder.path() / relative, text).ok());
    }

    std::shared_ptr<testing_support::RecordingLogSink> sink =
        std::make_shared<testing_support::RecordingLogSink>();
    testing_support::ScopedLogSink installSink{sink};
    testing_support::TempDir folder;
    ManualChangeSource* changes = nullptr;
    std::unique_ptr<IcsFolderStore> store;
};

TEST_F(IcsFolderStoreTest, SubfoldersAndLooseFilesAreCalendarsWithTheirColours) {
    write("work/color", "#00FF00\n");
    write("work/displayname", "Work\n");
    write("work/a.ics", ics(vevent("a", "DTSTART:20261211T090000Z")));
    write("work/b.ics", ics(vevent("b", "DTSTART:20261210T090000Z")));
    write("home.ics", "BEGIN:VCALENDAR\r\nCOLOR:#0000FF\r\n" +
                          vevent("h", "DTSTART:20261212T090000Z") + "END:VCALENDAR\r\n");
    write("plain.ics", ics(vevent("p", "DTSTART:20261213T090000Z")));
    write(".hidden/x.ics", ics(vevent("x", "DTSTART:20261211T090000Z")));
    write("work/notes.txt", "not a calendar");

    const auto events = store->events(kWindow);
    std::vector<std::string> identifiers;
    for (const Event& event : events) {
        identifiers.push_back(event.identifier);
    }
    EXPECT_EQ(identifiers,
              (std::vector<std::string>{"work/b", "work/a", "home.ics/h", "plain.ics/p"}));
    EXPECT_EQ(events[0].calendarColor, *Color::fromHex("#00FF00"));
    EXPECT_EQ(events[2].calendarColor, *Color::fromHex("#0000FF"));
    EXPECT_EQ(events[3].calendarColor, IcsFolderStore::defaultColor());
}

TEST_F(IcsFolderStoreTest, ABrokenFileIsSkippedWithALogLineAndTheOthersStillCount) {
    write("cal/good.ics", ics(vevent("good", "DTSTART:20261211T090000Z")));
    write("cal/open.ics", "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nUID:o\r\n");
    write("cal/latin1.ics", ics(vevent("l", "DTSTART:20261211T090000Z\nSUMMARY:Caf\xE9")));
    const auto events = store->events(kWindow);
    ASSERT_EQ(events.size(), 1U);
    EXPECT_EQ(events[0].identifier, "cal/good");
    EXPECT_TRUE(sink->contains("open.ics skipped: no complete calendar"));
    EXPECT_TRUE(sink->contains("latin1.ics skipped: not UTF-8"));
}

TEST_F(IcsFolderStoreTest, OnlyFilesThatChangedAreParsedAgain) {
    write("cal/a.ics", ics(vevent("a", "DTSTART:20261211T090000Z\nSUMMARY:one")));
    write("cal/b.ics", ics(vevent("b", "DTSTART:20261211T100000Z")));
    EXPECT_EQ(store->events(kWindow).size(), 2U);
    EXPECT_EQ(store->parses(), 2);
    EXPECT_EQ(store->events(kWindow).size(), 2U);
    EXPECT_EQ(store->parses(), 2);

    write("cal/a.ics", ics(vevent("a", "DTSTART:20261211T090000Z\nSUMMARY:two, longer")));
    std::filesystem::remove(folder.path() / "cal/b.ics");
    const auto events = store->events(kWindow);
    ASSERT_EQ(events.size(), 1U);
    EXPECT_EQ(events[0].title, "two, longer");
    EXPECT_EQ(store->parses(), 3);
}

TEST_F(IcsFolderStoreTest, EventsAreFoundByTheirWholeIdentifierOnly) {
    write("cal/1.ics", ics(vevent("1", "DTSTART:20261211T090000Z\nSUMMARY:one")));
    write("cal/12.ics", ics(vevent("12", "DTSTART:20300101T090000Z\nSUMMARY:twelve")));
    const auto twelve = store->eventWithIdentifier("cal/12");
    ASSERT_TRUE(twelve);
    EXPECT_EQ(twelve->title, "twelve");  // outside any window, still found
    EXPECT_EQ(store->eventWithIdentifier("cal/1")->title, "one");
    EXPECT_FALSE(store->eventWithIdentifier("cal/"));
    EXPECT_FALSE(store->eventWithIdentifier("cal"));
    EXPECT_FALSE(store->eventWithIdentifier("CAL/1"));
    EXPECT_FALSE(store->eventWithIdentifier("cal/2"));
}

TEST_F(IcsFolderStoreTest, ChangesReachTheObserverAndRefreshTheIndex) {
    write("cal/a.ics", ics(vevent("a", "DTSTART:20261211T090000Z\nSUMMARY:first")));
    int heard = 0;
    store->observeChanges([&] { ++heard; });
    EXPECT_EQ(store->eventWithIdentifier("cal/a")->title, "first");
    write("cal/a.ics", ics(vevent("a", "DTSTART:20261211T090000Z\nSUMMARY:second")));
    ASSERT_TRUE(changes->fire());
    EXPECT_EQ(heard, 1);
    EXPECT_EQ(store->eventWithIdentifier("cal/a")->title, "second");
    store->observeChanges(nullptr);
    EXPECT_FALSE(changes->fire());
}

// The one test on the kernel's inotify: the loop runs until the change arrives, bounded.
TEST(InotifyChangeSourceTest, AFileWrittenIntoASubfolderIsReportedOnTheLoop) {
    testing_support::TempDir folder;
    std::filesystem::create_directories(folder.path() / "cal");
    platform::RunLoop loop(platform::RunLoop::Clock::real);
    platform::calendar::InotifyChangeSource source(folder.path(), loop);
    int reports = 0;
    source.start([&] { ++reports; });
    ASSERT_TRUE(platform::fs::writeFileAtomically(folder.path() / "cal" / "a.ics",
                                                  ics(vevent("a", "DTSTART:20261211T090000Z")))
                    .ok());
    bool gaveUp = false;
    const auto bound = loop.scheduleTimer(30, false, [&] { gaveUp = true; });
    loop.runUntil([&] { return reports > 0 || gaveUp; });
    bound->invalidate();
    EXPECT_GE(reports, 1);
    EXPECT_FALSE(gaveUp);
    source.start(nullptr);
}

}  // namespace
}  // namespace calendar_test
