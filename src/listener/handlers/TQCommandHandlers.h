#pragma once

#include <cstdint>
#include <string_view>

#include "platform/foundation/Value.h"

class TQCommandListener;

// The listener's own handlers of single watch messages: each reads its message, changes what
// it owns and answers the watch through the listener's link as its message asks. Called on the
// main thread inside the dispatch of `listener`, which lives for that one message: a handler
// that outlives the call keeps what it needs itself. Messages are decoded dictionaries; a
// value read from a key that was missing is null.
class TQCommandHandlers {
public:
    virtual ~TQCommandHandlers() = default;

    // "fmp-startalert-req", "fmp-founddevice-rsp", "fmp-stopalert-req".
    virtual void processFindMyDevice(TQCommandListener& listener,
                                     const platform::Value& message) = 0;
    // "msg_notification_block_info_req".
    virtual void processUpdateBlockApplicationList(TQCommandListener& listener,
                                                   const platform::Value& message) = 0;
    // "msg_notification_app_icon_req".
    virtual void processAppIcon(TQCommandListener& listener, const platform::Value& message) = 0;
    // "mgr_wappsicon_res": the icons of the watch applications.
    virtual void saveAppIcon(TQCommandListener& listener, const platform::Value& message) = 0;
    // The location and exercise requests, for the listener's location provider.
    virtual void processLbsServerProvider(TQCommandListener& listener,
                                          const platform::Value& message) = 0;
    // "contacts-getbuddy-req".
    virtual void processBuddy(TQCommandListener& listener) = 0;
    // "contacts-launchbuddy-req".
    virtual void launchBuddyView(TQCommandListener& listener) = 0;
    // "mgr_show_on_device_req" with "data" "texttemplate_setting".
    virtual void launchGeneralMessage(TQCommandListener& listener) = 0;
    // "mgr_datanetwork_req".
    virtual void sendNetworkStatus(TQCommandListener& listener) = 0;
    // "context-websearch-req".
    virtual void processContextWebsearch(TQCommandListener& listener,
                                         const platform::Value& message) = 0;
    // "mgr_ups_mode_ind".
    virtual void processUPS(TQCommandListener& listener, const platform::Value& message) = 0;
    // "mgr_sync_time_req".
    virtual void processTimeRequest(TQCommandListener& listener) = 0;
    // "mgr_systemtime_req": the watch's time and the time it was received, in milliseconds
    // since 1970.
    virtual void processSystemTimeRequest(TQCommandListener& listener, std::int64_t t1,
                                          std::int64_t t2) = 0;
    // "mgr_noti_indicator_req".
    virtual void processNotiIndicatorRequest(TQCommandListener& listener,
                                             const platform::Value& message) = 0;
    // "mgr_numbersync_register_result_req": its "result", then the register request.
    virtual void processNumberSyncRegisterResultReq(TQCommandListener& listener,
                                                    const platform::Value& result) = 0;
    virtual void sendNumberSyncRegisterReq(TQCommandListener& listener) = 0;
    // "mgr_numbersync_register_res".
    virtual void sendNumberSyncStateReq(TQCommandListener& listener) = 0;
    // "mgr_numbersync_post_setup_res".
    virtual void processNumberSyncPostSetupReq(TQCommandListener& listener,
                                               std::string_view result) = 0;
    // "mgr_hfp_connection_req".
    virtual void processHFPConnectRequest(TQCommandListener& listener) = 0;
};
