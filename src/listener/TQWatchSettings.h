#pragma once

#include <string_view>

#include "listener/handlers/TQNetworkStatusHandler.h"
#include "listener/handlers/TQNotiIndicatorHandler.h"
#include "listener/handlers/TQNumberSyncReplyHandler.h"
#include "listener/handlers/TQPowerSavingHandler.h"
#include "platform/foundation/Value.h"

class TQAP;
namespace platform::net {
class NetworkMonitor;
}

// The phone's data network as the watch asks for it: 2 over Wi-Fi, 1 over the cellular
// network, 0 when the internet cannot be reached.
class TQNetworkStatus final : public TQNetworkStatusHandler {
public:
    TQNetworkStatus(TQAP& kavoManager, platform::net::NetworkMonitor& monitor)
        : kavoManager_(kavoManager), monitor_(monitor) {}
    void sendNetworkStatus() override;

private:
    TQAP& kavoManager_;
    platform::net::NetworkMonitor& monitor_;
};

// The watch's power-saving state: kept in "POWER_SAVING_STATUS", announced as
// "power_noti_change".
class TQPowerSaving final : public TQPowerSavingHandler {
public:
    void processUPS(const platform::Value& message) override;
};

// The watch's notification-indicator switch, kept in "NOTI_INDICATOR_ON_OFF".
class TQNotiIndicator final : public TQNotiIndicatorHandler {
public:
    explicit TQNotiIndicator(TQAP& kavoManager) : kavoManager_(kavoManager) {}
    void processNotiIndicatorRequest(const platform::Value& message) override;

private:
    TQAP& kavoManager_;
};

// The carrier number sync's messages to the watch; the defaults and notices around them
// belong to the dispatch.
class TQNumberSyncReplies final : public TQNumberSyncReplyHandler {
public:
    explicit TQNumberSyncReplies(TQAP& kavoManager) : kavoManager_(kavoManager) {}
    void processNumberSyncRegisterResultReq(const platform::Value& result) override;
    void sendNumberSyncRegisterReq() override;
    void sendNumberSyncStateReq() override;
    void processNumberSyncPostSetupReq(std::string_view result) override;

private:
    void send(std::string_view schema, std::initializer_list<platform::Value> values,
              const char* method);
    TQAP& kavoManager_;
};
