#pragma once

#include "link/TQKMCommand.h"
#include "platform/foundation/Value.h"

class TQAP;

// An answer to the watch on the general channel: identifier 1, priority 1, acknowledged.
inline void sendGeneralReply(TQAP& kavoManager, const platform::Value& message) {
    TQKMCommand::processOutCommand(&kavoManager, message, TQKMCommand::kGeneralAppId,
                                   TQKMCommand::kNormalPriority);
}
