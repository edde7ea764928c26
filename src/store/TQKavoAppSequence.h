#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Value.h"

class TQAP;
class TQAppManager;

// What listeners of the sequence implement (the uninstall screen gives notifyUninstallation the
// meaning of the uninstall-result block). The sequence itself reports through its blocks only.
class TQKavoAppSequenceDelegate {
public:
    virtual ~TQKavoAppSequenceDelegate() = default;
    virtual void onClockListRes() = 0;
    virtual void installAppOnKavo(const platform::Value& object) = 0;
    virtual void notifyInstallation(std::int32_t returnCode, const std::string& packageName) = 0;
    virtual void notifyUninstallation(std::int32_t reason) = 0;
};

// The phone's side of the watch's application-management messages on identifier 1: sends
// install, uninstall, order and list requests, and matches the watch's answers to the pending
// requests (installs by request identifier, uninstalls by package name). A successful install
// is recorded with the application manager before the requester hears of it. Main thread.
class TQKavoAppSequence {
public:
    using OnInstallDataReq = std::function<void(const std::string& requestId)>;
    using OnInstallRes = std::function<void(std::int32_t returnCode, const std::string& packageName)>;
    using OnUninstallRes = std::function<void(std::int32_t reason)>;

    static constexpr const char* kInstallReq =
        "mgr_wapps_install_req String reqID String appData int from_where String filePath";
    static constexpr const char* kUninstallReq = "mgr_wapps_uninstall_req String packageName";
    static constexpr const char* kWappsListReq = "mgr_wapps_list_req String result String locale";
    static constexpr const char* kClocksListReq = "mgr_clocks_list_req String result";

    // Observes the centre's "onDataReceivedNotification" for its whole life. All three are
    // borrowed and outlive it.
    TQKavoAppSequence(TQAP& kavoManager, TQAppManager& appManager,
                      platform::NotificationCenter& center);
    ~TQKavoAppSequence();
    TQKavoAppSequence(const TQKavoAppSequence&) = delete;
    TQKavoAppSequence& operator=(const TQKavoAppSequence&) = delete;

    // A request under an identifier or package still pending replaces the older one.
    void startInstallation(const std::string& requestId, const std::string& filePath,
                           OnInstallDataReq onDataReq, OnInstallRes onRes);
    // Withdraws a pending install: a late answer then calls no block of a requester that
    // gave up (the list is still recorded for a successful one).
    void cancelInstallation(const std::string& requestId);
    void startUninstallation(const std::string& packageName, OnUninstallRes onRes);
    void reqAppOrderList();
    void processWearableStatusInd(const platform::Value& message);
    void processWappsListRes(const platform::Value& message);
    void processClocksListRes(const platform::Value& message);

    // One decoded message of identifier 1.
    void processResponse(const platform::Value& message);

    [[nodiscard]] std::size_t pendingInstallations() const { return installRequests_.size(); }
    [[nodiscard]] std::size_t pendingUninstallations() const { return uninstallRequests_.size(); }

private:
    struct Install {
        OnInstallDataReq onDataReq;
        OnInstallRes onRes;
    };

    void sendReq(const platform::Value& message);
    void onDataReceiveCompleted(const platform::Notification& notification);
    void processWappsInstallDataReq(const platform::Value& message);
    void processWappsInstallRes(const platform::Value& message);
    void processWappsUninstallRes(const platform::Value& message);

    TQAP& kavoManager_;
    TQAppManager& appManager_;
    platform::NotificationCenter& center_;
    platform::NotificationCenter::Token dataReceiveObserver_;
    platform::NotificationCenter::Token disconnectDeviceObserver_;
    std::map<std::string, Install, std::less<>> installRequests_;
    std::map<std::string, OnUninstallRes, std::less<>> uninstallRequests_;
};
