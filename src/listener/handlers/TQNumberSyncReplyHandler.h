#pragma once

#include <string_view>

#include "platform/foundation/Value.h"

// The carrier number sync's exchanges with the watch.
class TQNumberSyncReplyHandler {
public:
    virtual ~TQNumberSyncReplyHandler() = default;
    // "mgr_numbersync_register_result_req": its "result", then the register request.
    virtual void processNumberSyncRegisterResultReq(const platform::Value& result) = 0;
    virtual void sendNumberSyncRegisterReq() = 0;
    // "mgr_numbersync_register_res".
    virtual void sendNumberSyncStateReq() = 0;
    // "mgr_numbersync_post_setup_res".
    virtual void processNumberSyncPostSetupReq(std::string_view result) = 0;
};
