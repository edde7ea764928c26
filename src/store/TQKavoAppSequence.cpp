#include "store/TQKavoAppSequence.h"

#include <utility>

#include "link/TQAP.h"
#include "link/TQHMMessage.h"
#include "link/TQJSONParser.h"
#include "link/TQKMCommand.h"
#include "logging/LGLog.h"
#include "logging/LGRedaction.h"
#include "platform/system/DeviceInfo.h"
#include "store/TQAppManager.h"
#include "utils/TQUtils.h"

using platform::Value;

namespace {

constexpr const char* kInstallDataReq = "mgr_wapps_install_data_req";
constexpr const char* kInstallRes = "mgr_wapps_install_res";
constexpr const char* kUninstallRes = "mgr_wapps_uninstall_res";

std::string textOf(const Value& message, std::string_view key) {
    return message[key].stringValue().value_or("");
}

std::int32_t codeOf(const Value& message, std::string_view key) {
    const std::int64_t code = message[key].intValue().value_or(0);
    return static_cast<std::int32_t>(code);
}

}  // namespace

TQKavoAppSequence::TQKavoAppSequence(TQAP& kavoManager, TQAppManager& appManager,
                                     platform::NotificationCenter& center)
    : kavoManager_(kavoManager), appManager_(appManager), center_(center) {
    dataReceiveObserver_ = center_.addObserver("onDataReceivedNotification",
                                               [this](const platform::Notification& notification) {
                                                   onDataReceiveCompleted(notification);
                                               });
    disconnectDeviceObserver_ = center_.addObserver(
        "onDisconnectDeviceNotification",
        [](const platform::Notification&) { LG_VERBOSE("%s :", "onDisconnectDevice"); });
}

TQKavoAppSequence::~TQKavoAppSequence() {
    center_.removeObserver(dataReceiveObserver_);
    center_.removeObserver(disconnectDeviceObserver_);
}

void TQKavoAppSequence::sendReq(const Value& message) {
    if (!TQJSONParser::getInstance().encodeToJSON(message)) {
        return;
    }
    TQKMCommand::processOutCommand(&kavoManager_, message, TQKMCommand::kGeneralAppId,
                                   TQKMCommand::kNormalPriority);
    LG_VERBOSE("Init msg sent: %@", textOf(message, "msgId"));
}

void TQKavoAppSequence::startInstallation(const std::string& requestId, const std::string& filePath,
                                          OnInstallDataReq onDataReq, OnInstallRes onRes) {
    const Value message =
        TQHMMessage::toDictionary(TQHMMessage(kInstallReq), {requestId, "", 1, filePath});
    installRequests_[requestId] = Install{std::move(onDataReq), std::move(onRes)};
    LG_VERBOSE("%s : Installation request sent: %@", "startInstallation",
               lg::redacted(message).description());
    sendReq(message);
}

void TQKavoAppSequence::cancelInstallation(const std::string& requestId) {
    installRequests_.erase(requestId);
}

void TQKavoAppSequence::startUninstallation(const std::string& packageName, OnUninstallRes onRes) {
    const Value message = TQHMMessage::toDictionary(TQHMMessage(kUninstallReq), {packageName});
    uninstallRequests_[packageName] = std::move(onRes);
    sendReq(message);
}

void TQKavoAppSequence::reqAppOrderList() {
    sendReq(Value{{"msgId", "mgr_apps_order_req"},
                  {"deviceid", platform::DeviceInfo::current().vendorIdentifier()}});
}

void TQKavoAppSequence::processWearableStatusInd(const Value& /*message*/) {
    sendReq(TQHMMessage::toDictionary(TQHMMessage(kWappsListReq), {"", ""}));
}

void TQKavoAppSequence::processWappsListRes(const Value& message) {
    const auto model = TQAppManager::modelNumber().value_or("");
    const auto saved =
        TQUtils::saveXml(textOf(message, "clocklist"), model, TQAppManager::kAppListFile);
    if (!saved.ok()) {
        LG_WARN("TQKavoAppSequence: application list not saved: %@", saved.error().message);
    }
    sendReq(TQHMMessage::toDictionary(TQHMMessage(kClocksListReq)));
}

void TQKavoAppSequence::processClocksListRes(const Value& message) {
    const auto model = TQAppManager::modelNumber().value_or("");
    const auto saved =
        TQUtils::saveXml(textOf(message, "clocklist"), model, TQAppManager::kClockListFile);
    if (!saved.ok()) {
        LG_WARN("TQKavoAppSequence: watch-face list not saved: %@", saved.error().message);
    }
}

void TQKavoAppSequence::onDataReceiveCompleted(const platform::Notification& notification) {
    if (notification.object.isNull() || notification.name != "onDataReceivedNotification") {
        return;
    }
    const platform::Bytes* data = notification.object["data"].bytesIf();
    const std::int64_t appId = notification.object["appId"].intValue().value_or(-1);
    if (data == nullptr || appId != TQKMCommand::kGeneralAppId) {
        return;
    }
    const auto message = TQKMCommand::processInCommand(*data);
    if (message && message->isDictionary()) {
        processResponse(*message);
    }
}

void TQKavoAppSequence::processResponse(const Value& message) {
    LG_VERBOSE("%s : Response received: %@", "processResponse",
               lg::redacted(message).description());
    const std::string msgId = textOf(message, "msgId");
    if (msgId == kInstallDataReq) {
        processWappsInstallDataReq(message);
    } else if (msgId == kInstallRes) {
        processWappsInstallRes(message);
    } else if (msgId == kUninstallRes) {
        processWappsUninstallRes(message);
    } else {
        LG_VERBOSE("%s : Response not belongs to this module", "processResponse");
    }
}

void TQKavoAppSequence::processWappsInstallDataReq(const Value& message) {
    const std::string key = textOf(message, "result");
    const auto found = installRequests_.find(key);
    if (found != installRequests_.end() && found->second.onDataReq) {
        // A copy: the block may withdraw its own entry.
        const auto block = found->second.onDataReq;
        block(key);
    }
}

void TQKavoAppSequence::processWappsInstallRes(const Value& message) {
    const std::string requestId = textOf(message, "reqId");
    const std::int32_t code = codeOf(message, "returncode");
    const std::string packageName = textOf(message, "packagename");
    const bool isClock = message["isclock"].boolValue().value_or(false);
    if (code == 1) {
        if (isClock) {
            appManager_.installClockWithDict(message);
        } else {
            appManager_.installAppWithDict(message);
            reqAppOrderList();
        }
    }
    const auto found = installRequests_.find(requestId);
    if (found != installRequests_.end()) {
        const auto block = std::move(found->second.onRes);
        installRequests_.erase(found);
        if (block) {
            block(code, packageName);
        }
    }
}

void TQKavoAppSequence::processWappsUninstallRes(const Value& message) {
    const std::string packageName = textOf(message, "result");
    const std::int32_t reason = codeOf(message, "reason");
    if (reason == 1) {
        reqAppOrderList();
    }
    const auto found = uninstallRequests_.find(packageName);
    if (found != uninstallRequests_.end()) {
        const auto block = std::move(found->second);
        uninstallRequests_.erase(found);
        if (block) {
            block(reason);
        }
    }
}
