#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "listener/TQCommandListener.h"
#include "listener/TQHandlers.h"
#include "platform/foundation/Value.h"

namespace listener_test {

// One thing that happened, in the order it happened: a handler call ("contacts.processResponse")
// or a notification ("note:onConnectDeviceNotification"), with its argument or object.
struct Event {
    std::string name;
    platform::Value argument;
    // The link a call was given (or reached through its listener); null when none.
    const TQAP* link = nullptr;
    friend bool operator==(const Event&, const Event&) = default;
};

class EventLog {
public:
    void add(std::string name, platform::Value argument = {}, const TQAP* link = nullptr) {
        events_.push_back({std::move(name), std::move(argument), link});
    }
    [[nodiscard]] const std::vector<Event>& all() const { return events_; }
    [[nodiscard]] std::size_t size() const { return events_.size(); }
    // The events from position `from` on.
    [[nodiscard]] std::vector<Event> since(std::size_t from) const {
        return {events_.begin() + static_cast<std::ptrdiff_t>(from), events_.end()};
    }
    [[nodiscard]] std::vector<std::string> namesSince(std::size_t from) const {
        std::vector<std::string> names;
        for (const Event& event : since(from)) {
            names.push_back(event.name);
        }
        return names;
    }
    [[nodiscard]] int count(std::string_view name) const {
        int found = 0;
        for (const Event& event : events_) {
            found += event.name == name ? 1 : 0;
        }
        return found;
    }

private:
    std::vector<Event> events_;
};

// The listener's own handlers, written down in one log.
class RecordingCommandHandlers final : public TQFindMyDeviceHandler,
                                       public TQNotificationAppHandler,
                                       public TQAppIconHandler,
                                       public TQWatchAppIconHandler,
                                       public TQBuddyHandler,
                                       public TQGeneralMessageHandler,
                                       public TQNetworkStatusHandler,
                                       public TQWebSearchHandler,
                                       public TQPowerSavingHandler,
                                       public TQTimeSyncHandler,
                                       public TQNotiIndicatorHandler,
                                       public TQNumberSyncReplyHandler,
                                       public TQHFPHandler {
public:
    explicit RecordingCommandHandlers(EventLog& log) : log_(log) {}

    void processFindMyDevice(const platform::Value& m) override { note("processFindMyDevice", m); }
    void processUpdateBlockApplicationList(const platform::Value& m) override {
        note("processUpdateBlockApplicationList", m);
    }
    void processAppIcon(const platform::Value& m) override { note("processAppIcon", m); }
    void saveAppIcon(const platform::Value& m) override { note("saveAppIcon", m); }
    void launchBuddyView() override { note("launchBuddyView"); }
    void launchGeneralMessage() override { note("launchGeneralMessage"); }
    void sendNetworkStatus() override { note("sendNetworkStatus"); }
    void processContextWebsearch(const platform::Value& m) override {
        note("processContextWebsearch", m);
    }
    void processUPS(const platform::Value& m) override { note("processUPS", m); }
    void processTimeRequest() override { note("processTimeRequest"); }
    void processSystemTimeRequest(std::int64_t t1, std::int64_t t2) override {
        note("processSystemTimeRequest", platform::Value::array({t1, t2}));
    }
    void processNotiIndicatorRequest(const platform::Value& m) override {
        note("processNotiIndicatorRequest", m);
    }
    void processNumberSyncRegisterResultReq(const platform::Value& result) override {
        note("processNumberSyncRegisterResultReq", result);
    }
    void sendNumberSyncRegisterReq() override { note("sendNumberSyncRegisterReq"); }
    void sendNumberSyncStateReq() override { note("sendNumberSyncStateReq"); }
    void processNumberSyncPostSetupReq(std::string_view result) override {
        note("processNumberSyncPostSetupReq", result);
    }
    void processHFPConnectRequest() override { note("processHFPConnectRequest"); }

    // Points every listener-own member of handlers at this recorder.
    void fillIn(TQHandlers& handlers) {
        handlers.findMyDevice = this;
        handlers.notificationApps = this;
        handlers.appIcons = this;
        handlers.watchAppIcons = this;
        handlers.buddies = this;
        handlers.generalMessage = this;
        handlers.networkStatus = this;
        handlers.webSearch = this;
        handlers.powerSaving = this;
        handlers.timeSync = this;
        handlers.notiIndicator = this;
        handlers.numberSyncReplies = this;
        handlers.hfp = this;
    }

private:
    void note(const char* method, platform::Value argument = {}) {
        log_.add(std::string("commands.") + method, std::move(argument));
    }
    EventLog& log_;
};

class RecordingInitSequence final : public TQInitSequenceHandler {
public:
    explicit RecordingInitSequence(EventLog& log) : log_(log) {}
    void setDelegate(TQInitSeqDelegate* d) override {
        delegate = d;
        log_.add("initSequence.setDelegate");
    }
    void startInit() override { log_.add("initSequence.startInit"); }
    void processResponse(const platform::Value& m) override {
        log_.add("initSequence.processResponse", m);
    }
    TQInitSeqDelegate* delegate = nullptr;

private:
    EventLog& log_;
};

class RecordingWebProxy final : public TQWebProxyHandler {
public:
    explicit RecordingWebProxy(EventLog& log) : log_(log) {}
    void prepareForADPURequest(std::span<const std::uint8_t> frame, TQAP& ap) override {
        log_.add("webProxy.prepareForADPURequest", platform::Bytes(frame.begin(), frame.end()),
                 &ap);
    }

private:
    EventLog& log_;
};

class RecordingMusic final : public TQMusicControlHandler {
public:
    explicit RecordingMusic(EventLog& log) : log_(log) {}
    void registerMediaPlayerNotifications() override {
        log_.add("music.registerMediaPlayerNotifications");
    }
    void unregisterMediaPlayerNotifications() override {
        log_.add("music.unregisterMediaPlayerNotifications");
    }
    void processMessage(const platform::Value& m) override { log_.add("music.processMessage", m); }

private:
    EventLog& log_;
};

class RecordingPush final : public TQPushNotificationHandler {
public:
    explicit RecordingPush(EventLog& log) : log_(log) {}
    void exchangePushSettingsWithKavo() override { log_.add("push.exchangePushSettingsWithKavo"); }

private:
    EventLog& log_;
};

class RecordingContacts final : public TQContactHandler, public TQBuddySyncHandler {
public:
    explicit RecordingContacts(EventLog& log) : log_(log) {}
    void processResponse(const platform::Value& m) override {
        log_.add("contacts.processResponse", m);
    }
    void performNativeSync() override { log_.add("contacts.performNativeSync", {}); }

private:
    EventLog& log_;
};

class RecordingCalendar final : public TQCalendarHandler {
public:
    explicit RecordingCalendar(EventLog& log) : log_(log) {}
    void startCalendarEvent() override { log_.add("calendar.startCalendarEvent"); }
    void initializeEventDatabase() override { log_.add("calendar.initializeEventDatabase"); }
    int listStep() const override { return step; }
    void cleanUpEvent() override { log_.add("calendar.cleanUpEvent"); }
    void populateCalendarData() override { log_.add("calendar.populateCalendarData"); }
    void fullSyncWithChunk() override { log_.add("calendar.fullSyncWithChunk"); }
    void updateSequenceNumber() override { log_.add("calendar.updateSequenceNumber"); }
    int step = 0;

private:
    EventLog& log_;
};

class RecordingWeather final : public TQWeatherHandler {
public:
    explicit RecordingWeather(EventLog& log) : log_(log) {}
    void processWeatherAck(TQAP& ap) override { log_.add("weather.processWeatherAck", {}, &ap); }
    void sendSettingData(TQAP& ap) override { log_.add("weather.sendSettingData", {}, &ap); }
    void createWeatherNotification() override { log_.add("weather.createWeatherNotification"); }
    void initializeWeatherDataIfIsNeedToDelete(bool needToDelete) override {
        log_.add("weather.initializeWeatherDataIfIsNeedToDelete", needToDelete);
    }

private:
    EventLog& log_;
};

class RecordingLbs final : public TQLbsHandler {
public:
    explicit RecordingLbs(EventLog& log) : log_(log) {}
    void processSubCommand(const platform::Value& m) override {
        log_.add("lbs.processSubCommand", m);
    }

private:
    EventLog& log_;
};

class RecordingTextTemplates final : public TQTextTemplateHandler {
public:
    explicit RecordingTextTemplates(EventLog& log) : log_(log) {}
    void initializeCallRejectionDataToKavo(TQAP& ap, bool needToDelete,
                                           bool needToInsertTemplate) override {
        log_.add("textTemplates.initializeCallRejectionDataToKavo",
                 platform::Value::array({needToDelete, needToInsertTemplate}), &ap);
    }
    void initializeGeneralMessageDataToKavo(TQAP& ap, bool needToDelete,
                                            bool needToInsertTemplate) override {
        log_.add("textTemplates.initializeGeneralMessageDataToKavo",
                 platform::Value::array({needToDelete, needToInsertTemplate}), &ap);
    }

private:
    EventLog& log_;
};

class RecordingStore final : public TQStoreHandler {
public:
    explicit RecordingStore(EventLog& log) : log_(log) {}
    void uninstallAppWithPackageName(std::string_view name) override {
        log_.add("store.uninstallAppWithPackageName", name);
    }
    void uninstallClockWithPackageName(std::string_view name) override {
        log_.add("store.uninstallClockWithPackageName", name);
    }
    void defaultBlockAppList() override { log_.add("store.defaultBlockAppList"); }
    void defaultWeatherSettings() override { log_.add("store.defaultWeatherSettings"); }
    void checkUpdate() override { log_.add("store.checkUpdate"); }

private:
    EventLog& log_;
};

class RecordingDatabaseSetup final : public TQDatabaseSetup {
public:
    explicit RecordingDatabaseSetup(EventLog& log) : log_(log) {}
    platform::Dictionary checkIfNeedToDeleteOrInsertTemplateData() override {
        log_.add("database.checkIfNeedToDeleteOrInsertTemplateData");
        return decision;
    }
    platform::Dictionary decision;

private:
    EventLog& log_;
};

class RecordingUsageLog final : public TQUsageLogHandler {
public:
    explicit RecordingUsageLog(EventLog& log) : log_(log) {}
    void generateJSONForConnByUsr() override { log_.add("usageLog.generateJSONForConnByUsr"); }

private:
    EventLog& log_;
};

class RecordingNumberSync final : public TQNumberSyncHandler {
public:
    explicit RecordingNumberSync(EventLog& log) : log_(log) {}
    void updateBlockAppForNumberSync() override {
        log_.add("numberSync.updateBlockAppForNumberSync");
    }

private:
    EventLog& log_;
};

// Every subsystem as a recording double, in a set of handlers of their own.
struct RecordingHandlers {
    explicit RecordingHandlers(EventLog& log)
        : commands(log),
          initSequence(log),
          webProxy(log),
          music(log),
          push(log),
          contacts(log),
          calendar(log),
          weather(log),
          lbs(log),
          textTemplates(log),
          store(log),
          database(log),
          usageLog(log),
          numberSync(log) {
        commands.fillIn(registry);
        registry.initSequence = &initSequence;
        registry.webProxy = &webProxy;
        registry.musicControl = &music;
        registry.pushNotification = &push;
        registry.contacts = &contacts;
        registry.buddySync = &contacts;
        registry.calendar = &calendar;
        registry.weather = &weather;
        registry.lbsServerProvider = &lbs;
        registry.textTemplates = &textTemplates;
        registry.store = &store;
        registry.databaseSetup = &database;
        registry.usageLog = &usageLog;
        registry.numberSync = &numberSync;
    }

    RecordingCommandHandlers commands;
    RecordingInitSequence initSequence;
    RecordingWebProxy webProxy;
    RecordingMusic music;
    RecordingPush push;
    RecordingContacts contacts;
    RecordingCalendar calendar;
    RecordingWeather weather;
    RecordingLbs lbs;
    RecordingTextTemplates textTemplates;
    RecordingStore store;
    RecordingDatabaseSetup database;
    RecordingUsageLog usageLog;
    RecordingNumberSync numberSync;
    TQHandlers registry;
};

}  // namespace listener_test
