#include <functional>
#include <memory>
#include <utility>

#include "logging/LGLog.h"
#include "platform/bluetooth/AbsentRadio.h"
#include "platform/bluetooth/socket/SocketAir.h"
#include "sim/Watch.h"

namespace kavowatch {

using namespace platform::bluetooth;

RadioFactory socketRadios(SocketAir& air, std::function<void(const platform::Error&)> failed) {
    return [&air, failed = std::move(failed)](const Uuid& identifier) -> std::unique_ptr<Radio> {
        auto radio = air.attach(identifier);
        if (radio) {
            return std::move(radio).value();
        }
        LG_ERROR("kavowatch: cannot come onto the air: %s", radio.error().message);
        if (failed) {
            failed(radio.error());
        }
        return std::make_unique<AbsentRadio>(identifier, ManagerState::poweredOff);
    };
}

}  // namespace kavowatch
