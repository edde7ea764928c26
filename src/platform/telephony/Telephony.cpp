#include "platform/telephony/Telephony.h"

namespace platform {

Telephony& Telephony::current() {
    return installedOr([]() -> Telephony& {
        static FixedTelephony noSim(std::nullopt);
        return noSim;
    });
}

}  // namespace platform
