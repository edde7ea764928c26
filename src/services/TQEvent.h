#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "listener/handlers/TQCalendarHandler.h"
#include "platform/calendar/Calendar.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Value.h"
#include "platform/foundation/WeakPtr.h"
#include "platform/permissions/Permissions.h"
#include "services/TQDBEvent.h"
#include "services/TQEventText.h"

class TQAP;

// The phone's calendar for the watch, on application identifier 8: the access question, a
// full copy of the 15 days from today in three chunks (today, the next seven days, the seven
// after), and, 5 seconds after the store last changed, what was added and deleted since,
// numbered by a sequence that lasts across launches. What was sent is kept in the TQDBEvent
// table. It starts listening to the store at its first use. Main loop.
class TQEvent final : public TQCalendarHandler {
public:
    // Hands a message to the watch (application identifier 8, priority 1).
    using Sender = std::function<void(const platform::Value& message)>;
    using AccessCompletion =
        std::function<void(bool granted, int status, std::optional<platform::Error> error)>;

    static constexpr std::uint32_t kAppId = 8;
    static constexpr std::uint32_t kPriority = 1;
    static constexpr int kWindowDays = 15;
    static constexpr double kStoreChangeDelay = 5.0;
    static constexpr std::string_view kSequenceKey = "CALENDAR_SEQUENCE_COUNT";
    static constexpr std::string_view kCalendarIdentifierKey = "DEFAULT_CALENDAR_IDENTIFIER";

    // All borrowed; they outlive the service.
    TQEvent(platform::calendar::CalendarStore& store, platform::Permissions& permissions,
            platform::UserDefaults& defaults, platform::RunLoop& loop, Sender send);
    // Sends through the link link() gives at each message (none: the message is dropped).
    [[nodiscard]] static Sender linkSender(std::function<TQAP*()> link);
    ~TQEvent() override;
    TQEvent(const TQEvent&) = delete;
    TQEvent& operator=(const TQEvent&) = delete;

    // TQCalendarHandler
    void startCalendarEvent() override;
    void initializeEventDatabase() override;
    [[nodiscard]] int listStep() const override { return listStep_; }
    void cleanUpEvent() override;
    void populateCalendarData() override;
    void fullSyncWithChunk() override;
    void updateSequenceNumber() override;

    // The store's authorisation: 3 granted, 2 denied, 1 restricted, 0 not asked yet, when the
    // user is asked. The answer to a first question arrives on the loop, whichever thread the
    // prompt answered on.
    void requestAccessToCalendarEventWithCompletion(AccessCompletion completion);
    [[nodiscard]] bool isGranted() const;
    void sentStartEvent(bool granted);

    // The window's events, in the store's order; none without the calendar permission.
    [[nodiscard]] std::vector<platform::calendar::Event> fetchAllEventsWithMaxDay(int days);
    // Midnight that begins day today + days.
    [[nodiscard]] static std::int64_t endDateWithMaxDay(int days);
    // Converts and saves each; rows that could not be saved are left out (and logged).
    std::vector<TQDBEvent> populateEventObjectList(
        const std::vector<platform::calendar::Event>& events);
    void sentFullSyncList(const std::vector<TQDBEvent>& list);
    [[nodiscard]] const std::vector<std::vector<TQDBEvent>>& chunkedEventList() const {
        return chunkedEventList_;
    }

    // A change of the store: the computation runs kStoreChangeDelay after the last one.
    void storeChanged();
    // While the watch is in use: compares, stores, and sends what changed.
    void updateDelta();
    struct Delta {
        platform::Value message;
        bool changed = false;
    };
    // The indication, with the table brought up to date and the sequence moved on; without
    // the calendar permission nothing changes and nothing is to be sent.
    Delta updateDeltaWithCompletion();
    struct Changes {
        std::vector<TQDBEvent> added;    // not saved yet
        std::vector<TQDBEvent> deleted;  // stored rows
    };
    // The window against the table: rows are matched to events by identifier, exactly.
    Changes checkEventsChange();

    TQEventText& text() { return text_; }

private:
    // At first use: listen to the store.
    void start();
    void send(const platform::Value& message);
    // Saves in one transaction; if that fails, row by row. The records that were saved.
    std::vector<TQDBEvent> saveAll(std::vector<TQDBEvent> records, std::string_view work);
    [[nodiscard]] std::vector<TQDBEvent> convert(
        const std::vector<platform::calendar::Event>& events) const;

    platform::calendar::CalendarStore& store_;
    platform::Permissions& permissions_;
    platform::UserDefaults& defaults_;
    platform::RunLoop& loop_;
    Sender send_;
    TQEventText text_;
    std::vector<std::vector<TQDBEvent>> chunkedEventList_;
    int listStep_ = 0;
    std::optional<std::string> calendarIdentifier_;
    std::shared_ptr<platform::Timer> storeTimer_;
    bool started_ = false;
    platform::WeakPtrFactory<TQEvent> weak_{*this, loop_};
};
