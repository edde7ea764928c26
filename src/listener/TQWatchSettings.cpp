#include "listener/TQWatchSettings.h"

#include <string>

#include "link/TQHMMessage.h"
#include "listener/TQGeneralReply.h"
#include "logging/LGLog.h"
#include "logging/LGRedaction.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/system/DeviceInfo.h"
#include "utils/Reachability.h"
#include "utils/TQUtils.h"

using platform::Value;

void TQNetworkStatus::sendNetworkStatus() {
    int data = 0;
    if (auto reachability = Reachability::reachabilityForInternetConnection(monitor_)) {
        reachability->startNotifier();
        switch (reachability->currentReachabilityStatus()) {
            case ReachableViaWiFi:
                data = 2;
                break;
            case ReachableViaWWAN:
                data = 1;
                break;
            case NotReachable:
                break;
        }
    }
    sendGeneralReply(kavoManager_, Value{{"msgId", "mgr_datanetwork_res"}, {"data", data}});
}

void TQPowerSaving::processUPS(const Value& message) {
    LG_VERBOSE("TQCommandListener - processUPS ");
    if (const Value* status = message.find("status")) {
        platform::UserDefaults::standard().set("POWER_SAVING_STATUS", *status);
        TQUtils::synchronizeDefaults("TQCommandListener");
        LG_VERBOSE("TQCommandListener - processUPS - change state : %d",
                   status->intValue().value_or(0));
    }
    platform::NotificationCenter::defaultCenter().post("power_noti_change");
}

void TQNotiIndicator::processNotiIndicatorRequest(const Value& message) {
    LG_VERBOSE("TQCommandListener processNotiIndicatorRequest : %@", lg::redacted(message));
    platform::UserDefaults::standard().set("NOTI_INDICATOR_ON_OFF",
                                           message["state"].boolValue().value_or(false));
    TQUtils::synchronizeDefaults("TQCommandListener");
    sendGeneralReply(kavoManager_,
                     Value{{"msgId", "mgr_noti_indicator_res"}, {"result", "success"}});
}

void TQNumberSyncReplies::send(std::string_view schema, std::initializer_list<Value> values,
                               const char* method) {
    const Value message = TQHMMessage::toDictionary(TQHMMessage(schema), values);
    sendGeneralReply(kavoManager_, message);
    LG_VERBOSE("%s : %@", method, lg::redacted(message));
}

void TQNumberSyncReplies::processNumberSyncRegisterResultReq(const Value& result) {
    send("mgr_numbersync_register_result_res String deviceid String result Number reason",
         {platform::DeviceInfo::current().vendorIdentifier(), result, 1},
         "processNumberSyncRegisterResultReq");
}

void TQNumberSyncReplies::sendNumberSyncRegisterReq() {
    send("mgr_numbersync_register_req String deviceid",
         {platform::DeviceInfo::current().vendorIdentifier()}, "sendNumberSyncRegisterReq");
}

void TQNumberSyncReplies::sendNumberSyncStateReq() {
    send("mgr_numbersync_state_req String deviceid",
         {platform::DeviceInfo::current().vendorIdentifier()}, "sendNumberSyncStateReq");
}

void TQNumberSyncReplies::processNumberSyncPostSetupReq(std::string_view result) {
    send("mgr_numbersync_post_setup_res String deviceid String result Number reason",
         {platform::DeviceInfo::current().vendorIdentifier(), std::string(result), 1},
         "processNumberSyncPostSetupReq");
}
