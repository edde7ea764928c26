#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "logging/LGLog.h"
#include "platform/bluetooth/socket/SocketAir.h"
#include "sim/Watch.h"

namespace kavowatch {

namespace {

using namespace platform::bluetooth;

// The radio of a device that could not come onto the air: it never powers on, so the watch
// above it stays idle instead of failing somewhere later.
class OffRadio final : public Radio {
public:
    explicit OffRadio(const Uuid& identifier) : identifier_(identifier) {}
    const Uuid& identifier() const override { return identifier_; }
    void start(RadioClient& /*client*/, platform::RunLoop& /*loop*/) override {}
    ManagerState state() const override { return ManagerState::poweredOff; }
    void startAdvertising(const AdvertisementData& /*data*/) override {}
    void stopAdvertising() override {}
    void startScanning() override {}
    void stopScanning() override {}
    bool knows(const Uuid& /*peer*/) const override { return false; }
    void connect(const Uuid& /*peer*/) override {}
    void cancelConnect(const Uuid& /*peer*/) override {}
    void disconnect(LinkId /*link*/) override {}
    bool send(LinkId /*link*/, platform::Bytes /*pdu*/, bool /*flowControlled*/) override {
        return false;
    }

private:
    Uuid identifier_;
};

// SocketAir::attach() hangs on a bind that fails (it ends the half-made radio under its own
// lock), so the usual reasons for one are found here first.
platform::Result<void> checkAttachable(const std::filesystem::path& directory,
                                       const Uuid& identifier) {
    const auto failure = [&](const std::string& why) {
        return platform::Error{"kavowatch", 2, directory.string() + ": " + why};
    };
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) {
        return failure(error.message());
    }
    if (::access(directory.c_str(), W_OK | X_OK) != 0) {
        return failure(std::system_category().message(errno));
    }
    const auto socket = directory / (identifier.toLongString() + ".sock");
    if (socket.string().size() >= sizeof(sockaddr_un::sun_path)) {
        return failure("the path of a socket in it would be too long");
    }
    return {};
}

}  // namespace

RadioFactory socketRadios(SocketAir& air, std::function<void(const platform::Error&)> failed) {
    return [&air, failed = std::move(failed)](const Uuid& identifier) -> std::unique_ptr<Radio> {
        const auto attached = [&]() -> platform::Result<std::unique_ptr<Radio>> {
            if (auto checked = checkAttachable(air.directory(), identifier); !checked) {
                return checked.error();
            }
            return air.attach(identifier);
        };
        auto radio = attached();
        if (radio) {
            return std::move(radio).value();
        }
        LG_ERROR("kavowatch: cannot come onto the air: %s", radio.error().message);
        if (failed) {
            failed(radio.error());
        }
        return std::make_unique<OffRadio>(identifier);
    };
}

}  // namespace kavowatch
