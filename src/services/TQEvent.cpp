#include "services/TQEvent.h"

#include <algorithm>
#include <string>
#include <utility>

#include "db/TQDBManager.h"
#include "link/TQKMCommand.h"
#include "listener/TQCoreManager.h"
#include "logging/LGLog.h"
#include "platform/calendar/Zone.h"
#include "services/TQDeviceCalendar.h"

using platform::Value;
using platform::calendar::Event;

namespace {

constexpr std::int64_t kAccessErrorCode = -1;

platform::Array listOf(std::string_view key, const std::vector<TQDBEvent>& records,
                       TQEventText& text) {
    platform::Array list;
    list.reserve(records.size());
    for (const TQDBEvent& record : records) {
        list.push_back(Value{{std::string(key), text.calendarStringFromEvent(record)}});
    }
    return list;
}

double asDate(const std::optional<std::string>& text) {
    return Value(text.value_or("")).doubleValue().value_or(0);
}

}  // namespace

TQEvent::TQEvent(platform::calendar::CalendarStore& store, platform::Permissions& permissions,
                 platform::UserDefaults& defaults, platform::RunLoop& loop, Sender send)
    : store_(store),
      permissions_(permissions),
      defaults_(defaults),
      loop_(loop),
      send_(std::move(send)),
      text_(store),
      calendarIdentifier_(defaults.string(kCalendarIdentifierKey)) {}

TQEvent::~TQEvent() {
    if (storeTimer_) {
        storeTimer_->invalidate();
    }
    if (started_) {
        store_.observeChanges(nullptr);
    }
}

void TQEvent::start() {
    if (started_) {
        return;
    }
    started_ = true;
    store_.observeChanges([weak = weak_.weakPtr()] {
        if (auto* self = weak.get()) {
            self->storeChanged();
        }
    });
}

TQEvent::Sender TQEvent::linkSender(std::function<TQAP*()> link) {
    return [link = std::move(link)](const Value& message) {
        TQKMCommand::processOutCommand(link(), message, kAppId, kPriority);
    };
}

void TQEvent::send(const Value& message) {
    send_(message);
}

// Access.

bool TQEvent::isGranted() const {
    return permissions_.decision(platform::Feature::calendars) == platform::Decision::granted;
}

void TQEvent::requestAccessToCalendarEventWithCompletion(AccessCompletion completion) {
    start();
    const auto refused = [](int status) {
        return platform::Error{
            "TQEvent", kAccessErrorCode,
            status == 1 ? "calendar access restricted" : "calendar access denied"};
    };
    switch (permissions_.decision(platform::Feature::calendars)) {
        case platform::Decision::notDetermined:
            LG_VERBOSE("%s EKAuthorizationStatusNotDetermined", __func__);
            // The prompt may answer on any thread; the answer is handled on the loop.
            permissions_.request(
                platform::Feature::calendars,
                [weak = weak_.weakPtr(), loop = &loop_, completion](platform::Decision answer) {
                    loop->post([weak, completion, answer] {
                        if (weak.get() != nullptr) {
                            completion(answer == platform::Decision::granted, 0, std::nullopt);
                        }
                    });
                });
            return;
        case platform::Decision::restricted:
            LG_VERBOSE("%s EKAuthorizationStatusRestricted", __func__);
            completion(false, 1, refused(1));
            return;
        case platform::Decision::denied:
            LG_VERBOSE("%s EKAuthorizationStatusDenied", __func__);
            completion(false, 2, refused(2));
            return;
        case platform::Decision::granted:
            LG_VERBOSE("%s EKAuthorizationStatusAuthorized", __func__);
            completion(true, 3, std::nullopt);
            return;
    }
}

void TQEvent::startCalendarEvent() {
    requestAccessToCalendarEventWithCompletion(
        [this](bool granted, int /*status*/, const std::optional<platform::Error>& /*error*/) {
            sentStartEvent(granted);
        });
}

void TQEvent::sentStartEvent(bool granted) {
    send(Value{{"msgId", "calendar-change-rsp"}, {"result", granted ? "success" : "fail"}});
}

// Full synchronisation.

void TQEvent::initializeEventDatabase() {
    start();
    TQDBManager::getSharedInstance().createModel(TQDBEvent::tableSchema());
}

void TQEvent::cleanUpEvent() {
    TQDBEvent::removeAll();
    defaults_.set(kSequenceKey, 0);
    (void)defaults_.synchronize();
    listStep_ = 0;
}

std::int64_t TQEvent::endDateWithMaxDay(int days) {
    return TQDeviceCalendar::dayStart(days);
}

std::vector<Event> TQEvent::fetchAllEventsWithMaxDay(int days) {
    if (!isGranted()) {
        LG_INFO("TQEvent: no calendar permission, no events read");
        return {};
    }
    const platform::calendar::TimeRange range{TQDeviceCalendar::dayStart(0),
                                              endDateWithMaxDay(days)};
    LG_VERBOSE("Fetch maximum %d days", days);
    LG_VERBOSE("Fetch predicate: %@",
               "[" + std::to_string(range.start) + ", " + std::to_string(range.end) + ")");
    return store_.events(range);
}

std::vector<TQDBEvent> TQEvent::convert(const std::vector<Event>& events) const {
    const std::string zone = TQDeviceCalendar::zone().name();
    std::vector<TQDBEvent> records(events.size());
    for (std::size_t i = 0; i < events.size(); ++i) {
        records[i].convertFromEvent(events[i], zone);
    }
    return records;
}

std::vector<TQDBEvent> TQEvent::saveAll(std::vector<TQDBEvent> records, std::string_view work) {
    std::vector<bool> saved(records.size(), false);
    const bool together = TQDBManagerImpl::getSharedInstance().transaction([&] {
        for (std::size_t i = 0; i < records.size(); ++i) {
            saved[i] = records[i].save();
            if (!saved[i]) {
                return false;
            }
        }
        return true;
    });
    if (!together) {
        // One bad row rolls the others back with it: they go in one by one.
        for (std::size_t i = 0; i < records.size(); ++i) {
            records[i].setID(0);
            saved[i] = records[i].save();
        }
    }
    std::vector<TQDBEvent> kept;
    kept.reserve(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (saved[i]) {
            kept.push_back(std::move(records[i]));
        } else {
            LG_ERROR(
                "TQEvent: %@: event %@ could not be saved; it is not sent and goes again "
                "with the next change",
                work, records[i].uid.value_or(""));
        }
    }
    return kept;
}

std::vector<TQDBEvent> TQEvent::populateEventObjectList(const std::vector<Event>& events) {
    return saveAll(convert(events), "full sync");
}

void TQEvent::populateCalendarData() {
    const std::vector<Event> events = fetchAllEventsWithMaxDay(kWindowDays);
    chunkedEventList_.clear();
    const std::int64_t todayEnd = TQDeviceCalendar::dayEnd(0);
    const std::int64_t weekEnd = TQDeviceCalendar::dayEnd(7);
    std::vector<Event> today;
    std::vector<Event> thisWeek;
    std::vector<Event> nextWeek;
    // By end only. Whatever ends after this week but is in the window goes with next week,
    // so that the three chunks hold what the table will hold.
    for (const Event& event : events) {
        (event.end <= todayEnd  ? today
         : event.end <= weekEnd ? thisWeek
                                : nextWeek)
            .push_back(event);
    }
    for (const auto* chunk : {&today, &thisWeek, &nextWeek}) {
        chunkedEventList_.push_back(populateEventObjectList(*chunk));
    }
    LG_VERBOSE("TODAY LIST: %@ | predicate: %@", std::to_string(chunkedEventList_[0].size()),
               "end <= " + std::to_string(todayEnd));
    LG_VERBOSE("THIS WEEK LIST: %@ | predicate: %@", std::to_string(chunkedEventList_[1].size()),
               std::to_string(todayEnd) + " < end <= " + std::to_string(weekEnd));
    LG_VERBOSE("NEXT WEEK LIST: %@ | predicate: %@", std::to_string(chunkedEventList_[2].size()),
               std::to_string(weekEnd) + " < end");
}

void TQEvent::fullSyncWithChunk() {
    if (listStep_ < 0 || listStep_ > 2) {
        return;
    }
    const auto chunk = static_cast<std::size_t>(listStep_);
    static const std::vector<TQDBEvent> kNone;
    // The chunks were read at the first request: a permission taken back since sends none.
    const bool granted = isGranted();
    sentFullSyncList(granted && chunk < chunkedEventList_.size() ? chunkedEventList_[chunk]
                                                                 : kNone);
    listStep_ = (listStep_ + 1) % 3;
}

void TQEvent::sentFullSyncList(const std::vector<TQDBEvent>& list) {
    send(Value{{"msgId", "calendar-listwithoption-rsp"},
               {"reason", 0},
               {"count", static_cast<std::uint64_t>(list.size())},
               {"list", listOf("vcs", list, text_)},
               {"result", "success"}});
}

// Changes.

void TQEvent::storeChanged() {
    LG_VERBOSE("%s", __func__);
    if (storeTimer_) {
        storeTimer_->invalidate();
    }
    storeTimer_ = loop_.scheduleTimer(kStoreChangeDelay, false, [weak = weak_.weakPtr()] {
        if (auto* self = weak.get()) {
            self->updateDelta();
        }
    });
}

void TQEvent::updateDelta() {
    start();
    const bool connected = TQCoreManager::isWMSConnected();
    LG_INFO("[CALENDAR MODULE] %s (isWMSConnected with device? %@)", __func__,
            connected ? "YES" : "NO");
    if (!connected) {
        return;
    }
    const Delta delta = updateDeltaWithCompletion();
    if (delta.changed) {
        send(delta.message);
    }
}

TQEvent::Delta TQEvent::updateDeltaWithCompletion() {
    // Without the permission nothing is read, and the rows sent before must not read as
    // deleted events either: nothing is computed.
    if (!isGranted()) {
        LG_INFO("TQEvent: no calendar permission, no changes computed");
        return {};
    }
    initializeEventDatabase();
    Changes changes = checkEventsChange();
    const auto sequence = static_cast<std::uint64_t>(
        std::max<std::int64_t>(defaults_.integer(kSequenceKey).value_or(0), 0) + 1);
    defaults_.set(kSequenceKey, sequence);
    (void)defaults_.synchronize();

    const std::size_t wanted = changes.added.size();
    const std::vector<TQDBEvent> added = saveAll(std::move(changes.added), "change");
    LG_VERBOSE(added.size() == wanted
                   ? "TQEvent: updateDeltaWithCompletion event add success in db"
                   : "TQEvent: updateDeltaWithCompletion event add failure in db");
    platform::Array list = listOf("vcs", added, text_);
    for (TQDBEvent& row : changes.deleted) {
        // Built before the row goes, so it carries the row's identifier.
        list.push_back(Value{{"deleted_vcs", text_.calendarStringFromEvent(row)}});
        row.remove();
    }
    Delta delta;
    delta.changed = !added.empty() || !changes.deleted.empty();
    delta.message = Value{{"msgId", "calendar-update-ind"},
                          {"reason", 0},
                          {"result", "success"},
                          {"count", static_cast<std::uint64_t>(added.size())},
                          {"sequence", sequence},
                          {"deleted_count", static_cast<std::uint64_t>(changes.deleted.size())},
                          {"list", std::move(list)}};
    return delta;
}

TQEvent::Changes TQEvent::checkEventsChange() {
    Changes changes;
    changes.added = convert(fetchAllEventsWithMaxDay(kWindowDays));
    std::vector<TQDBEvent> rows = TQDBEvent::query({}, "expired = ?", {TQDBValue(std::int64_t{0})},
                                                   std::nullopt, std::nullopt, std::nullopt)
                                      .value_or(std::vector<TQDBEvent>());
    LG_VERBOSE("Database events count(%d)", static_cast<int>(rows.size()));
    LG_VERBOSE("Events count(%d)", static_cast<int>(changes.added.size()));
    auto& current = changes.added;
    for (TQDBEvent& row : rows) {
        const auto match =
            std::find_if(current.begin(), current.end(),
                         [&](const TQDBEvent& event) { return event.uid == row.uid; });
        if (match == current.end()) {
            LG_VERBOSE("NOT FOUND IN EVENT LIST!");
            row.expired = true;
            changes.deleted.push_back(std::move(row));
        } else if (asDate(match->lastModifiedDate) == asDate(row.lastModifiedDate)) {
            LG_VERBOSE("EVENT NO CHANGES!");
            current.erase(match);
        } else {
            LG_VERBOSE("EVENT CHANGED!");
            changes.deleted.push_back(std::move(row));
        }
    }
    return changes;
}

void TQEvent::updateSequenceNumber() {
    start();
    const auto sequence = static_cast<std::uint64_t>(
        std::max<std::int64_t>(defaults_.integer(kSequenceKey).value_or(0), 0));
    send(Value{{"msgId", "calendar-sequence-rsp"}, {"sequence", sequence}});
}
