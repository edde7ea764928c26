#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/foundation/Value.h"

class TQAP;
struct TQHandlers;
class TQLbsHandler;

// The switchboard for one message from the watch: chooses by application identifier, decodes
// the JSON message and hands it by its "msgId" (weather messages by their top-level key) to the
// subsystem that handles it, answering a few messages itself. Made for one message and called
// once, on the main thread; everything lasting goes to the user defaults, the per-watch files,
// the subsystems or the screens.
class TQCommandListener {
public:
    static constexpr std::uint32_t kGeneralAppId = 1;
    static constexpr std::uint32_t kWebProxyAppId = 6;
    static constexpr std::uint32_t kMusicAppId = 9;
    static constexpr std::uint32_t kHealthAppId = 10;

    // Replies go through kavoManager; both it and handlers outlive the listener.
    TQCommandListener(TQAP& kavoManager, const TQHandlers& handlers);

    // One message without its header byte; the dispatch is over when this returns.
    void processReceivedData(std::span<const std::uint8_t> data, std::uint32_t appId);

    [[nodiscard]] TQAP& kavoManager() const { return kavoManager_; }
    // The location provider the location requests go to; null until it is built.
    [[nodiscard]] TQLbsHandler* lbsServerProvider() const { return lbsServerProvider_; }

private:
    struct Row;
    static const Row kRows[];

    void preDispatch(const platform::Value& message, std::string_view msgId, std::uint32_t appId,
                     bool homeScreenIsRoot);
    // The first row that takes the message runs; a message no row takes is dropped.
    void dispatchByMsgId(std::string_view msgId, const platform::Value& message);
    void runWeatherSteps(const platform::Value& message);
    void weatherRequest(const platform::Value& message);
    void weatherResponse(const platform::Value& message);

    // The rows of the table, in its order.
    void findMyDevice(const platform::Value& message);
    void blockApplicationList(const platform::Value& message);
    void appIcon(const platform::Value& message);
    void lbsRequest(const platform::Value& message);
    void getBuddy(const platform::Value& message);
    void launchBuddy(const platform::Value& message);
    void contactSync(const platform::Value& message);
    void dataNetwork(const platform::Value& message);
    void calendarChange(const platform::Value& message);
    void calendarList(const platform::Value& message);
    void calendarUpdateAck(const platform::Value& message);
    void calendarSequence(const platform::Value& message);
    void ignore(const platform::Value& message);
    void appsOrder(const platform::Value& message);
    void watchAppIcons(const platform::Value& message);
    void showEsimActivation(const platform::Value& message);
    void numberSyncRegisterResult(const platform::Value& message);
    void numberSyncRegister(const platform::Value& message);
    void numberSyncState(const platform::Value& message);
    void numberSyncPostSetup(const platform::Value& message);
    void esimActivationStatus(const platform::Value& message);
    void hfpConnectionIndication(const platform::Value& message);
    void hfpConnectionRequest(const platform::Value& message);
    void appUpdate(const platform::Value& message);
    void pushRegistration(const platform::Value& message);
    void syncTime(const platform::Value& message);
    void systemTime(const platform::Value& message);
    void notiIndicatorRequest(const platform::Value& message);
    void notiIndicatorResult(const platform::Value& message);
    void uninstallRequest(const platform::Value& message);
    void uninstallResult(const platform::Value& message);
    void contextWebsearch(const platform::Value& message);
    void upsMode(const platform::Value& message);
    void showOnDevice(const platform::Value& message);
    void showOnDeviceResult(const platform::Value& message);
    void installHostApp(const platform::Value& message);

    // A reply on the general channel.
    void reply(const platform::Value& message);

    TQAP& kavoManager_;
    const TQHandlers& handlers_;
    TQLbsHandler* lbsServerProvider_;
};
