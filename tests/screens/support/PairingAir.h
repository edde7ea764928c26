#pragma once

// The pairing pages' world in one process: the phone's link (Bluetooth manager, facade,
// handshake, core manager) on a simulated air on the screen driver's virtual clock, two
// simulated watches that answer the set-up from their own state, and one device that is not
// a watch though its name holds the watch's words and it advertises as one in setup mode,
// with the strongest signal of all. Free of GoogleTest, so that the scene renderer stands on
// it too.

#include <functional>
#include <memory>
#include <string>

#include "link/TQAP.h"
#include "link/TQBleManager.h"
#include "listener/TQCoreManager.h"
#include "listener/TQHandlers.h"
#include "listener/TQInitSequence.h"
#include "listener/TQWallClock.h"
#include "platform/bluetooth/Adapter.h"
#include "platform/bluetooth/sim/SimulatedAir.h"
#include "platform/foundation/Container.h"
#include "platform/permissions/Permissions.h"
#include "platform/system/DeviceInfo.h"
#include "screens/pairing/TQPairingRoles.h"
#include "screens/support/ScreenDriver.h"
#include "sim/Watch.h"
#include "sim/WatchState.h"
#include "store/TQAppManager.h"

namespace screens_test {

class PairingAir {
public:
    static inline const platform::bluetooth::Uuid kPhone =
        *platform::bluetooth::Uuid::parse("11111111-2222-4333-8444-555555555555");
    static inline const platform::bluetooth::Uuid kFirstWatch =
        *platform::bluetooth::Uuid::parse("AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEE1");
    static inline const platform::bluetooth::Uuid kSecondWatch =
        *platform::bluetooth::Uuid::parse("AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEE2");
    static inline const platform::bluetooth::Uuid kStranger =
        *platform::bluetooth::Uuid::parse("AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEE3");
    // The second watch is nearer than the first and asks for a further firmware update; the
    // stranger is nearer than both.
    static constexpr const char* kFirstName = "Kavo R5 (1A2B)";
    static constexpr const char* kSecondName = "Kavo R5 3C4D";
    static constexpr const char* kStrangerName = "My Kavo R5 speaker";
    static constexpr int kFirstRssi = -70;
    static constexpr int kSecondRssi = -50;
    static constexpr int kStrangerRssi = -30;

    // Gives the driver's screens the link; the driver outlives the air.
    explicit PairingAir(ScreenDriver& driver);
    ~PairingAir();
    PairingAir(const PairingAir&) = delete;
    PairingAir& operator=(const PairingAir&) = delete;

    // The phone publishes its link service (a fixed few seconds after Bluetooth is on).
    void settleLink();
    // Each of the three comes onto the air advertising in setup mode.
    void powerOnAll();
    void powerOn(kavowatch::Watch& device);
    // Steps the driver's clock until done or the seconds have passed; whether done.
    bool runUntil(const std::function<bool()>& done, double seconds);

    // The phone's Bluetooth goes off or comes back.
    void setPhoneBluetooth(bool on);

    // The general messages a watch received, by "msgId".
    [[nodiscard]] static std::vector<std::string> requests(const kavowatch::Watch& watch);

    ScreenDriver& driver;
    testing_support::TempDir folder;
    platform::Container container{folder.path() / "home"};
    platform::ScopedInstall<const platform::Container> installContainer{&container};
    platform::FixedDeviceInfo device{"Kim's phone", "6F1E2D3C-4B5A-4978-8796-A5B4C3D2E1F0"};
    platform::ScopedInstall<platform::DeviceInfo> installDevice{&device};
    platform::ScriptedPermissionPrompt prompt;
    platform::Permissions permissions{driver.defaults, prompt, [] { return false; }};
    platform::ScopedInstall<platform::Permissions> installPermissions{&permissions};

private:
    class FixedClock final : public TQWallClock {
    public:
        std::int64_t millisecondsSince1970() const override { return 1'700'000'000'123; }
    };
    FixedClock clock_;
    platform::ScopedInstall<TQWallClock> installClock_{&clock_};

public:
    platform::bluetooth::SimulatedAir air{driver.loop, {.seed = 7}};
    platform::bluetooth::Adapter phone{air.attach({.identifier = kPhone}), driver.loop};
    TQHandlers handlers;
    TQAppManager appManager;
    std::unique_ptr<TQBleManager> manager;
    std::unique_ptr<TQAP> ap;
    std::unique_ptr<TQInitSequence> sequence;
    std::shared_ptr<TQCoreManager> core;
    kavowatch::Watch first;
    kavowatch::Watch second;
    kavowatch::Watch stranger;
    kavowatch::WatchResponder firstResponder;
    kavowatch::WatchResponder secondResponder;
    TQPairingRoles roles;
};

}  // namespace screens_test
