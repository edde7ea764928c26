#include "platform/bluetooth/Types.h"

#include <cstdio>

namespace platform::bluetooth {

Error makeError(ErrorCode code, std::string message) {
    return Error{kErrorDomain, static_cast<long>(code), std::move(message)};
}

Error makeAttError(AttError code) {
    char text[32];
    std::snprintf(text, sizeof text, "ATT error 0x%02X", static_cast<unsigned>(code));
    return Error{kAttErrorDomain, static_cast<long>(code), text};
}

std::optional<AttError> attErrorOf(const Error& error) {
    if (error.domain != kAttErrorDomain || error.code < 0 || error.code > 0xFF) {
        return std::nullopt;
    }
    return static_cast<AttError>(error.code);
}

const char* toString(ManagerState state) {
    switch (state) {
        case ManagerState::unknown:
            return "unknown";
        case ManagerState::resetting:
            return "resetting";
        case ManagerState::unsupported:
            return "unsupported";
        case ManagerState::unauthorized:
            return "unauthorized";
        case ManagerState::poweredOff:
            return "powered off";
        case ManagerState::poweredOn:
            return "powered on";
    }
    return "unknown";
}

std::vector<Central> RestoredState::subscribedCentrals(const Uuid& characteristic) const {
    std::vector<Central> centrals;
    for (const auto& [uuid, central] : subscriptions) {
        if (uuid == characteristic) {
            centrals.push_back(central);
        }
    }
    return centrals;
}

}  // namespace platform::bluetooth
