#include "platform/host/InstanceChannel.h"

namespace platform {

// Not built yet: every call reports the channel unavailable.

std::filesystem::path InstanceChannel::pathFor(const std::filesystem::path& home) {
    return home / "kavomanager.channel";
}

Result<std::unique_ptr<InstanceChannel>> InstanceChannel::listen(const std::filesystem::path&,
                                                                 RunLoop&, Received) {
    return Error{"kavo.instance", 1, "the instance channel is unavailable"};
}

Result<void> InstanceChannel::send(const std::filesystem::path&, std::string_view) {
    return Error{"kavo.instance", 1, "the instance channel is unavailable"};
}

}  // namespace platform
