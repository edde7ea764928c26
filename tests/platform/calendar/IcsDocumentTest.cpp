#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/calendar/CalendarSamples.h"
#include "platform/calendar/IcsDocument.h"
#include "support/RecordingLogSink.h"

namespace calendar_test {
namespace {

using platform::calendar::Event;
using platform::calendar::IcsDocument;
using platform::calendar::ReadOptions;
using platform::calendar::Zone;

// The window the service asks for: 15 days from Thursday 10 December 2026.
const std::int64_t kWindowStart = utc(2026, 12, 10);
const std::int64_t kWindowEnd = utc(2026, 12, 25);

class IcsDocumentTest : public ::testing::Test {
protected:
    std::vector<Event> read(const std::string& text, std::string zone = "UTC",
                            IcsDocument::ReadReport* report = nullptr) {
        auto document = IcsDocument::parse(text);
        EXPECT_TRUE(document.ok()) << (document.ok() ? "" : document.error().message);
        if (!document) {
            return {};
        }
        ReadOptions options;
        options.range = {kWindowStart, kWindowEnd};
        options.deviceZone = *Zone::named(zone);
        options.calendarIdentifier = "work";
        options.source = "test.ics";
        return document->events(options, report);
    }

    std::shared_ptr<testing_support::RecordingLogSink> sink =
        std::make_shared<testing_support::RecordingLogSink>();
    testing_support::ScopedLogSink installSink{sink};
};

TEST_F(IcsDocumentTest, ATimedEventKeepsItsFieldsAndZone) {
    const auto events = read(ics(vevent("a1",
                                        "DTSTART;TZID=Europe/Berlin:20261211T093000\n"
                                        "DTEND;TZID=Europe/Berlin:20261211T103000\n"
                                        "SUMMARY:Stand-up\\, daily\n"
                                        "LOCATION:Room 4\n"
                                        "DESCRIPTION:line one\\nline two\n"
                                        "LAST-MODIFIED:20261201T120000Z")));
    ASSERT_EQ(events.size(), 1U);
    const Event& event = events[0];
    EXPECT_EQ(event.identifier, "work/a1");
    EXPECT_EQ(event.calendarIdentifier, "work");
    EXPECT_EQ(event.start, utc(2026, 12, 11, 8, 30));
    EXPECT_EQ(event.end, utc(2026, 12, 11, 9, 30));
    EXPECT_FALSE(event.allDay);
    EXPECT_EQ(event.timeZone, "Europe/Berlin");
    EXPECT_EQ(event.title, "Stand-up, daily");
    EXPECT_EQ(event.location, "Room 4");
    EXPECT_EQ(event.notes, "line one\nline two");
    EXPECT_EQ(event.lastModified, utc(2026, 12, 1, 12));
}

TEST_F(IcsDocumentTest, TimesAreReadInTheirOwnZoneOrOnTheDevicesClock) {
    struct Case {
        const char* start;
        const char* deviceZone;
        std::int64_t expected;
        const char* zoneName;
    };
    const Case cases[] = {
        {"DTSTART:20261211T090000Z", "Asia/Kolkata", utc(2026, 12, 11, 9), "UTC"},
        // Floating: the device's wall clock, no zone of its own.
        {"DTSTART:20261211T090000", "Asia/Kolkata", utc(2026, 12, 11, 3, 30), ""},
        {"DTSTART;TZID=America/New_York:20261211T090000", "UTC", utc(2026, 12, 11, 14),
         "America/New_York"},
        // A zone the text defines itself, under a name the system does not have.
        {"DTSTART;TZID=Office Time:20261211T090000", "UTC", utc(2026, 12, 11, 6), nullptr},
    };
    const std::string officeZone =
        "BEGIN:VTIMEZONE\nTZID:Office Time\nBEGIN:STANDARD\nDTSTART:19700101T000000\n"
        "TZOFFSETFROM:+0300\nTZOFFSETTO:+0300\nEND:STANDARD\nEND:VTIMEZONE\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start);
        const auto events = read(ics(officeZone + vevent("z", c.start)), c.deviceZone);
        ASSERT_EQ(events.size(), 1U);
        EXPECT_EQ(events[0].start, c.expected);
        EXPECT_EQ(events[0].end, c.expected);
        if (c.zoneName != nullptr) {
            EXPECT_EQ(events[0].timeZone, c.zoneName);
        } else {
            EXPECT_FALSE(events[0].timeZone.empty());
        }
    }
}

TEST_F(IcsDocumentTest, AnAllDayEventRunsFromLocalMidnightTo235959OfItsLastDay) {
    const auto events = read(ics(vevent("d",
                                        "DTSTART;VALUE=DATE:20261211\n"
                                        "DTEND;VALUE=DATE:20261213")),
                             "Africa/Johannesburg");
    ASSERT_EQ(events.size(), 1U);
    EXPECT_TRUE(events[0].allDay);
    EXPECT_EQ(events[0].start, utc(2026, 12, 10, 22));
    EXPECT_EQ(events[0].end, utc(2026, 12, 12, 21, 59, 59));
    EXPECT_EQ(events[0].timeZone, "");
}

TEST_F(IcsDocumentTest, AWeeklyEventAppearsOnEachWeekOfTheWindowLessItsExceptions) {
    const std::string text =
        ics(vevent("w",
                   "DTSTART:20261105T150000Z\nDTEND:20261105T160000Z\n"
                   "RRULE:FREQ=WEEKLY\nEXDATE:20261217T150000Z\nSUMMARY:Choir") +
            // The occurrence of the 24th moved an hour later and renamed.
            vevent("w",
                   "RECURRENCE-ID:20261224T150000Z\nDTSTART:20261224T160000Z\n"
                   "DTEND:20261224T170000Z\nSUMMARY:Carols"));
    const auto events = read(text);
    ASSERT_EQ(events.size(), 2U);
    EXPECT_EQ(events[0].start, utc(2026, 12, 10, 15));
    EXPECT_EQ(events[0].title, "Choir");
    EXPECT_EQ(events[1].start, utc(2026, 12, 24, 16));
    EXPECT_EQ(events[1].title, "Carols");
    EXPECT_EQ(events[0].identifier, events[1].identifier);
}

TEST_F(IcsDocumentTest, AnOccurrenceThatBeganBeforeTheWindowButReachesIntoItCounts) {
    const auto events = read(ics(vevent("n",
                                        "DTSTART:20261001T230000Z\nDTEND:20261002T020000Z\n"
                                        "RRULE:FREQ=DAILY")));
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front().start, utc(2026, 12, 9, 23));
    EXPECT_EQ(events.back().start, utc(2026, 12, 24, 23));
    EXPECT_EQ(events.size(), 16U);
}

TEST_F(IcsDocumentTest, ARuleRepeatingEverySecondForeverIsBoundedToTheWindow) {
    IcsDocument::ReadReport report;
    const auto events = read(ics(vevent("s", "DTSTART:20200101T000000Z\nRRULE:FREQ=SECONDLY") +
                                 vevent("ok", "DTSTART:20261212T100000Z")),
                             "UTC", &report);
    EXPECT_TRUE(report.truncated);
    EXPECT_TRUE(sink->contains("repeats past the bounds"));
    ASSERT_EQ(events.size(), platform::calendar::kMaxOccurrences + 1);
    for (const Event& event : events) {
        EXPECT_GE(event.start, kWindowStart);
        EXPECT_LT(event.start, kWindowEnd);
    }
}

TEST_F(IcsDocumentTest, ACountedRuleFromLongAgoStopsAtItsStepBound) {
    IcsDocument::ReadReport report;
    const auto events =
        read(ics(vevent("c", "DTSTART:19700101T000000Z\nRRULE:FREQ=MINUTELY;COUNT=999999999")),
             "UTC", &report);
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(report.truncated);
}

TEST_F(IcsDocumentTest, EventsThatCannotBeReadAreSkippedAndTheRestKept) {
    struct Case {
        const char* name;
        std::string event;
        const char* logged;
    };
    const Case cases[] = {
        {"unknown zone", vevent("bad", "DTSTART;TZID=Mars/Olympus:20261211T090000"),
         "an unknown time zone"},
        {"no start", vevent("bad", "SUMMARY:nothing"), "no DTSTART"},
        {"bad start", vevent("bad", "DTSTART:tomorrow"), "no DTSTART"},
        {"no UID", "BEGIN:VEVENT\nDTSTART:20261211T090000Z\nEND:VEVENT\n", "no UID"},
        {"far future", vevent("bad", "DTSTART;TZID=Europe/Paris:29991211T090000"),
         "a year out of range"},
        {"end before start", vevent("bad", "DTSTART:20261211T090000Z\nDTEND:20261211T080000Z"),
         "an end before its start"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IcsDocument::ReadReport report;
        const auto events =
            read(ics(c.event + vevent("good", "DTSTART:20261211T090000Z")), "UTC", &report);
        ASSERT_EQ(events.size(), 1U);
        EXPECT_EQ(events[0].identifier, "work/good");
        EXPECT_EQ(report.skippedEvents, 1U);
        EXPECT_TRUE(sink->contains(c.logged));
    }
}

TEST_F(IcsDocumentTest, TextsThatAreNotCalendarsAreRefused) {
    const std::string event = vevent("x", "DTSTART:20261211T090000Z");
    const std::string cases[] = {
        "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nUID:x\r\nDTSTART:20261211T090000Z\r\n",
        "BEGIN:VCALENDAR\r\n" + event + "END:VCALENDAR\r\n" + "BEGIN:VEVENT",
        ics(vevent("x", "DTSTART:20261211T090000Z\nSUMMARY:caf\xC3")),
        ics(event) + std::string(1, '\0'),
        "",
        "BEGIN:VTODO\r\nEND:VTODO\r\n",
    };
    for (const std::string& text : cases) {
        SCOPED_TRACE(text);
        const auto document = IcsDocument::parse(text);
        EXPECT_FALSE(document.ok());
    }
}

TEST_F(IcsDocumentTest, CalendarNameAndColourComeFromTheText) {
    const auto document = IcsDocument::parse(
        "BEGIN:VCALENDAR\r\nX-WR-CALNAME:Family\r\nX-APPLE-CALENDAR-COLOR:#FF0000\r\n"
        "END:VCALENDAR\r\n");
    ASSERT_TRUE(document.ok());
    EXPECT_EQ(document->calendarName(), "Family");
    ASSERT_TRUE(document->calendarColor());
    EXPECT_EQ(document->calendarColor()->components, (std::vector<double>{1.0, 0.0, 0.0, 1.0}));
}

TEST(ZoneTest, LocalTimesCarryTheirOverflowAndFollowTheZonesRules) {
    const auto berlin = *Zone::named("Europe/Berlin");
    EXPECT_EQ(berlin.offsetAt(utc(2026, 1, 15)), 3600);
    EXPECT_EQ(berlin.offsetAt(utc(2026, 7, 15)), 7200);
    EXPECT_EQ(berlin.fromLocal({2026, 12, 32, 0, 0, 0}), utc(2026, 12, 31, 23));
    EXPECT_EQ(berlin.fromLocal({2026, 13, 1, -1, 0, 0}), utc(2026, 12, 31, 22));
    const auto local = berlin.local(utc(2026, 7, 1, 22, 30));
    EXPECT_EQ(local.day, 2U);
    EXPECT_EQ(local.hour, 0U);
    EXPECT_EQ(local.minute, 30U);
    EXPECT_FALSE(Zone::named("Mars/Olympus"));
    EXPECT_FALSE(Zone::named(""));
    EXPECT_EQ(Zone::utc().offsetAt(0), 0);
}

}  // namespace
}  // namespace calendar_test
