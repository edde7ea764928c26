#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "platform/foundation/Value.h"

// Called on the main thread with an event code and a dictionary that always holds
// "fileName": 1 accepted, 2 rejected, 3 progress, 5 failed, 6 resume accepted, 7 resume refused.
using TQFileSendEvent = std::function<void(int code, const platform::Value& info)>;

// What the link facade uses of the file transfer. Segments go down through
// TQAP::onSendDataRequest and events come up through TQAP's file callbacks.
class TQFileHandlerInterface {
public:
    virtual ~TQFileHandlerInterface() = default;

    // Queues a file for the watch; event (may be empty) hears how it goes.
    virtual void processFileData(platform::Bytes data, std::string name, std::uint32_t appId,
                                 TQFileSendEvent event) = 0;
    // One received priority-3 message, header byte removed.
    virtual void processFileSegment(std::span<const std::uint8_t> segment, std::uint32_t appId) = 0;

    virtual void acceptFile() = 0;
    virtual void rejectFile() = 0;
    virtual void cancelFile() = 0;
    virtual void resumeRequest() = 0;
    virtual void resumeAccept() = 0;
    virtual void resumeReject() = 0;
    virtual void resetFileHandler() = 0;
    // The link is gone: stop sending until a resume.
    virtual void pauseFileSend() = 0;
};
