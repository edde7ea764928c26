#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "db/TQDBManager.h"
#include "services/calendar/CalendarWorld.h"

namespace calendar_service_test {
namespace {

// Days of the window at UTC+2, as UTC seconds: local midnight of day d from today.
std::int64_t day(int d, int hour = 0, int minute = 0, int second = 0) {
    return utc(2026, 12, 10) - 7200 + d * 86400 + hour * 3600 + minute * 60 + second;
}

std::vector<std::string> texts(const Value& message, const std::string& key) {
    std::vector<std::string> out;
    for (const Value& entry : *message["list"].arrayIf()) {
        if (const auto text = entry[key].stringValue()) {
            out.push_back(*text);
        }
    }
    return out;
}

// The UID line of an event text.
std::string uidOf(const std::string& text) {
    const auto at = text.find("\r\nUID:");
    return text.substr(at + 6, text.find("\r\n", at + 6) - at - 6);
}

class TQEventTest : public CalendarWorld {
protected:
    void connect() { defaults.set("isWMSConnected", 1); }
    std::vector<TQDBEvent> rows() { return TQDBEvent::getAll().value_or(std::vector<TQDBEvent>()); }
};

TEST_F(TQEventTest, ThreeRequestsGiveTodayThisWeekAndNextWeekAndAFourthStartsOver) {
    store.setEvents({
        event("cal/started-yesterday", day(-1, 20), day(0, 10)),
        event("cal/tonight", day(0, 22), day(0, 23, 59, 59)),
        event("cal/to-midnight", day(0, 22), day(1)),
        event("cal/week-end", day(7, 9), day(7, 23, 59, 59)),
        event("cal/week-after", day(8), day(8, 1)),
        event("cal/last-day", day(14, 9), day(14, 10)),
        // Starts in the window, ends after it: next week's, as the change computation sees it.
        event("cal/runs-past", day(13, 9), day(16, 9)),
    });
    defaults.set("CALENDAR_SEQUENCE_COUNT", 4);
    std::vector<std::vector<std::string>> chunks;
    for (int request = 0; request < 3; ++request) {
        listRequest();
        const Value reply = sent.back();
        EXPECT_EQ(reply["msgId"], "calendar-listwithoption-rsp");
        EXPECT_EQ(reply["result"], "success");
        EXPECT_EQ(reply["reason"], 0);
        std::vector<std::string> uids;
        for (const auto& chunk : service.chunkedEventList()[static_cast<std::size_t>(request)]) {
            uids.push_back(*chunk.uid);
        }
        EXPECT_EQ(reply["count"].intValue(), static_cast<std::int64_t>(uids.size()));
        EXPECT_EQ(texts(reply, "vcs").size(), uids.size());
        chunks.push_back(uids);
    }
    EXPECT_EQ(chunks[0], (std::vector<std::string>{"cal/started-yesterday", "cal/tonight"}));
    EXPECT_EQ(chunks[1], (std::vector<std::string>{"cal/to-midnight", "cal/week-end"}));
    EXPECT_EQ(chunks[2],
              (std::vector<std::string>{"cal/week-after", "cal/last-day", "cal/runs-past"}));
    EXPECT_EQ(defaults.integer("CALENDAR_SEQUENCE_COUNT"), 0);
    EXPECT_EQ(rows().size(), 7U);
    EXPECT_EQ(store.queries(), 1);

    // The full copy and the table agree: a change computation finds nothing to send.
    connect();
    service.updateDelta();
    EXPECT_TRUE(sentWith("calendar-update-ind").empty());
    EXPECT_EQ(defaults.integer("CALENDAR_SEQUENCE_COUNT"), 1);

    store.setEvents({event("cal/only", day(2), day(2, 1))});
    listRequest();
    EXPECT_EQ(defaults.integer("CALENDAR_SEQUENCE_COUNT"), 0);
    EXPECT_EQ(sent.back()["count"], 0U);
    EXPECT_EQ(rows().size(), 1U);
    EXPECT_EQ(service.listStep(), 1);
}

TEST_F(TQEventTest, RowsAreMatchedToEventsByTheWholeIdentifier) {
    store.setEvents(
        {event("cal/1", day(1, 9), day(1, 10)), event("cal/12", day(1, 11), day(1, 12))});
    for (int request = 0; request < 3; ++request) {
        listRequest();
    }
    const auto before = rows();
    ASSERT_EQ(before.size(), 2U);
    connect();
    store.setEvents({event("cal/12", day(1, 11), day(1, 12))});
    service.updateDelta();
    const auto indications = sentWith("calendar-update-ind");
    ASSERT_EQ(indications.size(), 1U);
    EXPECT_EQ(indications[0]["count"], 0U);
    EXPECT_EQ(indications[0]["deleted_count"], 1U);
    const auto deleted = texts(indications[0], "deleted_vcs");
    ASSERT_EQ(deleted.size(), 1U);
    EXPECT_EQ(uidOf(deleted[0]), std::to_string(before[0].ID()));
    ASSERT_EQ(rows().size(), 1U);
    EXPECT_EQ(rows()[0].uid, "cal/12");
}

TEST_F(TQEventTest, AnEditAndADeletionGiveOneIndicationAfterTheQuietPeriod) {
    store.setEvents({event("cal/edit", day(1, 9), day(1, 10), 100, "Old"),
                     event("cal/gone", day(2, 9), day(2, 10)),
                     event("cal/same", day(3, 9), day(3, 10))});
    for (int request = 0; request < 3; ++request) {
        listRequest();
    }
    const auto stored = rows();
    connect();
    store.setEvents({event("cal/edit", day(1, 9), day(1, 11), 200, "New"),
                     event("cal/same", day(3, 9), day(3, 10))});
    for (int change = 0; change < 5; ++change) {
        store.notifyChanged();
        loop.advance(1);
    }
    const int queries = store.queries();
    loop.advance(TQEvent::kStoreChangeDelay - 1.001);
    EXPECT_EQ(store.queries(), queries);
    EXPECT_TRUE(sentWith("calendar-update-ind").empty());
    loop.advance(0.002);
    EXPECT_EQ(store.queries(), queries + 1);

    const auto indications = sentWith("calendar-update-ind");
    ASSERT_EQ(indications.size(), 1U);
    const Value& ind = indications[0];
    EXPECT_EQ(ind["reason"], 0);
    EXPECT_EQ(ind["result"], "success");
    EXPECT_EQ(ind["count"], 1U);
    EXPECT_EQ(ind["deleted_count"], 2U);
    EXPECT_EQ(ind["sequence"], 1U);
    const auto added = texts(ind, "vcs");
    const auto deleted = texts(ind, "deleted_vcs");
    ASSERT_EQ(added.size(), 1U);
    ASSERT_EQ(deleted.size(), 2U);
    EXPECT_EQ(uidOf(deleted[0]), std::to_string(stored[0].ID()));
    EXPECT_EQ(uidOf(deleted[1]), std::to_string(stored[1].ID()));
    EXPECT_NE(uidOf(added[0]), uidOf(deleted[0]));
    // Title, notes and location are looked up live: the old row's text shows the new title.
    EXPECT_NE(deleted[0].find("SUMMARY:New\r\n"), std::string::npos);
    EXPECT_NE(deleted[1].find("SUMMARY:\r\n"), std::string::npos);
    // The list holds the additions first.
    EXPECT_TRUE((*ind["list"].arrayIf())[0]["vcs"].isString());

    service.updateSequenceNumber();
    EXPECT_EQ(sent.back(), (Value{{"msgId", "calendar-sequence-rsp"}, {"sequence", 1U}}));
}

TEST_F(TQEventTest, ComputationsWithNothingChangedMoveTheSequenceAndSendNothing) {
    listRequest();
    service.updateDelta();  // not connected: nothing at all
    EXPECT_EQ(defaults.integer("CALENDAR_SEQUENCE_COUNT"), 0);
    connect();
    service.updateDelta();
    service.updateDelta();
    EXPECT_EQ(defaults.integer("CALENDAR_SEQUENCE_COUNT"), 2);
    EXPECT_TRUE(sentWith("calendar-update-ind").empty());
}

TEST_F(TQEventTest, AnEventWhoseRowCannotBeSavedIsNotSentAndGoesWithTheNextChange) {
    service.initializeEventDatabase();
    ASSERT_TRUE(database.rawDeleteQuery(
        "CREATE TRIGGER refuse BEFORE INSERT ON TQDBEvent WHEN NEW.uid = 'cal/bad' "
        "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    store.setEvents(
        {event("cal/good", day(0, 9), day(0, 10)), event("cal/bad", day(0, 11), day(0, 12))});
    listRequest();
    EXPECT_EQ(sent.back()["count"], 1U);
    EXPECT_EQ(texts(sent.back(), "vcs").size(), 1U);
    EXPECT_TRUE(logs->contains("event cal/bad could not be saved"));
    ASSERT_EQ(rows().size(), 1U);

    connect();
    service.updateDelta();  // still refused: nothing to send
    EXPECT_TRUE(sentWith("calendar-update-ind").empty());

    ASSERT_TRUE(database.rawDeleteQuery("DROP TRIGGER refuse"));
    service.updateDelta();
    const auto indications = sentWith("calendar-update-ind");
    ASSERT_EQ(indications.size(), 1U);
    EXPECT_EQ(indications[0]["count"], 1U);
    const auto added = texts(indications[0], "vcs");
    ASSERT_EQ(added.size(), 1U);
    EXPECT_NE(uidOf(added[0]), "0");
    EXPECT_EQ(rows().size(), 2U);
}

TEST_F(TQEventTest, AccessIsAnsweredFromTheStoredDecision) {
    struct Case {
        platform::Decision decision;
        const char* result;
    };
    for (const Case c :
         {Case{platform::Decision::granted, "success"}, Case{platform::Decision::denied, "fail"}}) {
        defaults.set(platform::Permissions::defaultsKey(platform::Feature::calendars),
                     static_cast<int>(c.decision));
        service.startCalendarEvent();
        EXPECT_EQ(sent.back(), (Value{{"msgId", "calendar-change-rsp"}, {"result", c.result}}));
    }
    EXPECT_EQ(prompt.questionsAsked(), 0);
}

// Events are personal: without the permission the full copy reads none and sends empty
// chunks, also when the permission is taken back between the watch's requests.
TEST_F(TQEventTest, AFullCopyWithoutThePermissionReadsAndSendsNoEvent) {
    store.setEvents({event("cal/today", day(0, 9), day(0, 10), 1, "Doctor"),
                     event("cal/week", day(3, 9), day(3, 10), 1, "Lawyer")});
    grantCalendars(false);
    for (int request = 0; request < 3; ++request) {
        listRequest();
    }
    EXPECT_EQ(store.queries(), 0);

    grantCalendars(true);
    listRequest();
    grantCalendars(false);
    listRequest();
    listRequest();

    const auto replies = sentWith("calendar-listwithoption-rsp");
    ASSERT_EQ(replies.size(), 6U) << "every request has its answer";
    const std::int64_t counts[] = {0, 0, 0, 1, 0, 0};
    for (std::size_t i = 0; i < replies.size(); ++i) {
        EXPECT_EQ(replies[i]["count"].intValue(), counts[i]) << "reply " << i;
        EXPECT_EQ(texts(replies[i], "vcs").size(), static_cast<std::size_t>(counts[i]));
    }
}

// Without the permission a change reads nothing, and what was sent before is not reported as
// deleted.
TEST_F(TQEventTest, AChangeWithoutThePermissionIsNeitherReadNorSent) {
    store.setEvents(
        {event("cal/today", day(0, 9), day(0, 10)), event("cal/week", day(3, 9), day(3, 10))});
    for (int request = 0; request < 3; ++request) {
        listRequest();
    }
    connect();
    grantCalendars(false);
    const int queries = store.queries();
    store.setEvents({event("cal/new", day(1, 9), day(1, 10))});
    store.notifyChanged();
    loop.advance(TQEvent::kStoreChangeDelay);
    service.updateDelta();
    EXPECT_EQ(store.queries(), queries);
    EXPECT_TRUE(sentWith("calendar-update-ind").empty());
    EXPECT_EQ(defaults.integer("CALENDAR_SEQUENCE_COUNT"), 0);
    EXPECT_EQ(rows().size(), 2U);
}

// An event's title, notes and place are the user's: the lines only say whether there are any.
TEST_F(TQEventTest, AnEventsContentsReachNoLogLine) {
    Event appointment = event("cal/private", day(1, 9), day(1, 10), 1, "Oncologist");
    appointment.notes = "bring the scans";
    appointment.location = "12 Harley Street";
    store.setEvents({appointment});
    for (int request = 0; request < 3; ++request) {
        listRequest();
    }
    connect();
    appointment.lastModified = 2;
    appointment.title = "Oncologist again";
    store.setEvents({appointment});
    store.notifyChanged();
    loop.advance(TQEvent::kStoreChangeDelay);
    ASSERT_EQ(sentWith("calendar-update-ind").size(), 1U);
    for (const char* personal : {"Oncologist", "bring the scans", "Harley"}) {
        EXPECT_FALSE(logs->contains(personal)) << personal;
    }
    EXPECT_TRUE(logs->contains("Title: (present)"));
}

// A prompt that answers later, from a thread of its own, as a desktop's dialog may.
class ThreadedPrompt final : public platform::PermissionPrompt {
public:
    void ask(platform::Feature /*feature*/, std::function<void(bool)> answer) override {
        answer_ = std::move(answer);
    }
    void answerFromAnotherThread(bool granted) {
        std::thread([&] { answer_(granted); }).join();
    }

private:
    std::function<void(bool)> answer_;
};

TEST_F(TQEventTest, TheFirstAnswerIsHandledOnTheLoop) {
    defaults.remove(platform::Permissions::defaultsKey(platform::Feature::calendars));
    ThreadedPrompt threaded;
    platform::Permissions asking{defaults, threaded, [] { return false; }};
    TQEvent asker{store, asking, defaults, loop, [this](const Value& message) {
                      sent.push_back(message);
                      sentFrom.push_back(std::this_thread::get_id());
                  }};
    asker.startCalendarEvent();
    threaded.answerFromAnotherThread(true);
    EXPECT_TRUE(sent.empty());
    loop.runUntilIdle();
    ASSERT_EQ(sent.size(), 1U);
    EXPECT_EQ(sent[0], (Value{{"msgId", "calendar-change-rsp"}, {"result", "success"}}));
    EXPECT_EQ(sentFrom[0], std::this_thread::get_id());
    EXPECT_TRUE(asker.isGranted());
}

TEST_F(TQEventTest, RecordsKeepTheEventsFieldsAndOccurrencesTheirOwnRows) {
    Event weekly = event("cal/w", day(1, 9), day(1, 10), 1'700'000'000);
    Event next = weekly;
    next.start += 7 * 86400;
    next.end += 7 * 86400;
    Event floating = event("cal/f", day(2), day(2, 23, 59, 59), 0);
    floating.allDay = true;
    floating.lastModified.reset();
    weekly.timeZone = "Europe/Berlin";
    next.timeZone = "Europe/Berlin";
    store.setEvents({weekly, next, floating});
    listRequest();
    const auto stored = rows();
    ASSERT_EQ(stored.size(), 3U);
    EXPECT_EQ(stored[0].uid, "cal/w");
    EXPECT_EQ(stored[1].uid, "cal/f");
    EXPECT_EQ(stored[2].uid, "cal/w");
    EXPECT_NE(stored[0].ID(), stored[2].ID());
    EXPECT_EQ(stored[0].startDate, std::to_string(weekly.start));
    EXPECT_EQ(stored[0].completionDate, stored[0].endDate);
    EXPECT_EQ(stored[0].lastModifiedDate, "1700000000");
    EXPECT_EQ(stored[0].timezone, "Europe/Berlin");
    EXPECT_EQ(stored[0].color, -65536);
    EXPECT_FALSE(stored[0].expired);
    EXPECT_TRUE(stored[1].allday);
    EXPECT_EQ(stored[1].timezone, "Africa/Johannesburg");
    EXPECT_EQ(stored[1].lastModifiedDate, "0");

    TQDBEvent again = stored[0];
    again.setID(0);
    again.saveWithCheck();
    EXPECT_EQ(again.ID(), 0U);
    EXPECT_TRUE(logs->contains("Cancel save event. Duplicate event..."));
}

}  // namespace
}  // namespace calendar_service_test
