#include <gtest/gtest.h>

#include <string>

#include "services/TQEventText.h"
#include "services/calendar/CalendarWorld.h"

namespace calendar_service_test {
namespace {

class TQEventTextTest : public CalendarWorld {
protected:
    // A stored row as the full sync leaves it.
    static TQDBEvent row(std::uint32_t id, std::int64_t start, std::int64_t end, bool allDay,
                         std::int32_t color, std::string zone) {
        TQDBEvent record;
        record.setID(id);
        record.uid = "cal/e";
        record.startDate = std::to_string(start);
        record.endDate = std::to_string(end);
        record.completionDate = record.endDate;
        record.lastModifiedDate = "0";
        record.allday = allDay;
        record.color = color;
        record.timezone = std::move(zone);
        return record;
    }
};

TEST_F(TQEventTextTest, TextsAreExactForTimedAndAllDayEventsInSeveralZones) {
    struct Case {
        const char* name;
        const char* zone;
        std::int64_t offset;
        TQDBEvent record;
        // The live event's title, notes and location; no live event when null.
        const char* title;
        const char* notes;
        const char* location;
        std::string expected;
    };
    // 9 December 2015: 10:30 at UTC+2, and the whole day at each zone.
    const std::int64_t timed = utc(2015, 12, 9, 8, 30);
    const auto allDay = [](std::int64_t offset) {
        const std::int64_t midnight = utc(2015, 12, 9) - offset;
        return std::pair{midnight, midnight + 86399};
    };
    const auto [plus2Start, plus2End] = allDay(7200);
    const auto [minus5Start, minus5End] = allDay(-18000);
    const auto [kolkataStart, kolkataEnd] = allDay(19800);
    const std::string head = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPROID:vCal\r\nID default\r\n";
    const Case cases[] = {
        {"timed, every line", "Africa/Johannesburg", 7200,
         row(7, timed, timed + 3600, false, -65536, "Africa/Johannesburg"), "Dentist",
         "Bring the card\nand the form", "\nRoom 4\nLevel 2\n",
         head + "BEGIN:VEVENT\r\nDTSTART:20151209T103000Z\r\nDTEND:20151209T113000Z\r\n"
                "COMPLETED:20151209T113000Z\r\nUID:7\r\nSUMMARY:Dentist\r\n"
                "DESCRIPTION:Bring the card\nand the form\r\nLOCATION:Room 4\nLevel 2\r\n"
                "COLOR:-65536\r\nALLDAY:0\r\nTIMEZONE:Africa/Johannesburg\r\nEND:VEVENT\r\n"
                "END:VCALENDAR"},
        {"all day at UTC+2, no optional lines", "Africa/Johannesburg", 7200,
         row(8, plus2Start, plus2End, true, -16744320, "Africa/Johannesburg"), "Holiday", "", "\n",
         head + "BEGIN:VEVENT\r\nDTSTART:20151209T020000Z\r\nDTEND:20151210T015959Z\r\n"
                "COMPLETED:20151210T015959Z\r\nUID:8\r\nSUMMARY:Holiday\r\n"
                "COLOR:-16744320\r\nALLDAY:1\r\nTIMEZONE:Africa/Johannesburg\r\nEND:VEVENT\r\n"
                "END:VCALENDAR"},
        {"all day at UTC-5", "America/Panama", -18000,
         row(9, minus5Start, minus5End, true, 0, "America/Panama"), "Holiday", "", "",
         head + "BEGIN:VEVENT\r\nDTSTART:20151208T190000Z\r\nDTEND:20151209T185959Z\r\n"
                "COMPLETED:20151209T185959Z\r\nUID:9\r\nSUMMARY:Holiday\r\nCOLOR:0\r\n"
                "ALLDAY:1\r\nTIMEZONE:America/Panama\r\nEND:VEVENT\r\nEND:VCALENDAR"},
        {"all day at UTC+5:30 moves 5 hours", "Asia/Kolkata", 19800,
         row(10, kolkataStart, kolkataEnd, true, -1, "Asia/Kolkata"), "Holiday", "", "",
         head + "BEGIN:VEVENT\r\nDTSTART:20151209T050000Z\r\nDTEND:20151210T045959Z\r\n"
                "COMPLETED:20151210T045959Z\r\nUID:10\r\nSUMMARY:Holiday\r\nCOLOR:-1\r\n"
                "ALLDAY:1\r\nTIMEZONE:Asia/Kolkata\r\nEND:VEVENT\r\nEND:VCALENDAR"},
        {"a deleted event keeps the row's fields", "Africa/Johannesburg", 7200,
         row(0, timed, timed, false, -65536, "Europe/Berlin"), nullptr, nullptr, nullptr,
         head + "BEGIN:VEVENT\r\nDTSTART:20151209T103000Z\r\nDTEND:20151209T103000Z\r\n"
                "COMPLETED:20151209T103000Z\r\nUID:0\r\nSUMMARY:\r\nCOLOR:-65536\r\nALLDAY:0\r\n"
                "TIMEZONE:Europe/Berlin\r\nEND:VEVENT\r\nEND:VCALENDAR"},
        {"a title cannot add lines", "Africa/Johannesburg", 7200,
         row(11, timed, timed, false, -65536, "Africa/Johannesburg"), "Lunch\r\nUID:99\nEND:VEVENT",
         "", "",
         head + "BEGIN:VEVENT\r\nDTSTART:20151209T103000Z\r\nDTEND:20151209T103000Z\r\n"
                "COMPLETED:20151209T103000Z\r\nUID:11\r\nSUMMARY:Lunch  UID:99 END:VEVENT\r\n"
                "COLOR:-65536\r\nALLDAY:0\r\nTIMEZONE:Africa/Johannesburg\r\nEND:VEVENT\r\n"
                "END:VCALENDAR"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        device.setTimeZone({c.zone, c.offset});
        std::vector<Event> live;
        if (c.title != nullptr) {
            Event e = event("cal/e", 0, 0);
            e.title = c.title;
            e.notes = c.notes;
            e.location = c.location;
            live.push_back(e);
        }
        store.setEvents(live);
        EXPECT_EQ(service.text().calendarStringFromEvent(c.record), c.expected);
    }
}

TEST_F(TQEventTextTest, TheAllDayShiftIsThePresentOffsetTruncatedToWholeHours) {
    struct Case {
        const char* zone;
        std::int64_t offset;
        const char* expected;
    };
    // Midnight UTC on 9 December 2015 read on each zone's clock, then moved.
    const Case cases[] = {
        {"UTC", 0, "20151209T000000Z"},
        {"America/St_Johns", -12600, "20151208T173000Z"},  // 20:30 the day before, -3 hours
        {"Asia/Kolkata", 19800, "20151209T103000Z"},       // 05:30, +5 hours
        {"Asia/Kathmandu", 20700, "20151209T104500Z"},     // 05:45, +5 hours
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.zone);
        device.setTimeZone({c.zone, c.offset});
        EXPECT_EQ(TQEventText::datetimeStringFromTimestamp(std::to_string(utc(2015, 12, 9)), true),
                  c.expected);
    }
    device.setTimeZone({"UTC", 0});
    EXPECT_EQ(TQEventText::datetimeStringFromTimestamp("1449619200", false), "20151209T000000Z");
    EXPECT_EQ(TQEventText::datetimeStringFromTimestamp("not a number", false), "19700101T000000Z");
}

TEST_F(TQEventTextTest, LocationsLoseLineBreaksAtTheirEndsOnly) {
    EXPECT_EQ(TQEventText::trimmedOfNewlines("\r\n Room 4\nLevel 2 \n\n"), " Room 4\nLevel 2 ");
    EXPECT_EQ(TQEventText::trimmedOfNewlines("\xE2\x80\xA8Hall\xC2\x85"), "Hall");
    EXPECT_EQ(TQEventText::trimmedOfNewlines("\n\r\n"), "");
    EXPECT_EQ(TQEventText::oneLine("a\r\nb\nc"), "a  b c");
}

TEST(TQDBEventColorTest, ColoursPackAsOpaqueARGBWithTruncatedComponents) {
    struct Case {
        std::vector<double> components;
        std::int32_t expected;
    };
    const Case cases[] = {
        {{1.0, 0.0, 0.0, 1.0}, -65536},
        {{1.0, 0.0, 0.0, 0.2}, -65536},  // the alpha is always FF
        {{1.0, 0.5, 0.0, 1.0}, static_cast<std::int32_t>(0xFFFF7F00U)},
        {{0.0, 0.0, 0.0, 1.0}, static_cast<std::int32_t>(0xFF000000U)},
        {{0.5, 1.0}, 0},  // a grey
        {{}, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TQDBEvent::convertToAndroidColor({c.components}), c.expected);
    }
}

}  // namespace
}  // namespace calendar_service_test
