#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/TQAP.h"
#include "link/TQAPDelegate.h"
#include "link/TQBleManager.h"
#include "logging/LGLog.h"
#include "platform/bluetooth/Adapter.h"
#include "platform/bluetooth/Radio.h"
#include "platform/bluetooth/sim/SimulatedAir.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Replaceable.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Value.h"
#include "platform/system/DeviceInfo.h"
#include "sim/Watch.h"
#include "support/RecordingAppHost.h"
#include "support/TempDir.h"

namespace e2e {

using platform::Bytes;
using platform::Value;
using platform::bluetooth::RemotePeripheral;
using platform::bluetooth::Uuid;

inline const Uuid kPhone = *Uuid::parse("11111111-2222-4333-8444-555555555555");
inline const Uuid kWatch = *Uuid::parse("AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE");
// The paired watch after it came back with a new Bluetooth identity.
inline const Uuid kRenewedWatch = *Uuid::parse("BBBBBBBB-CCCC-4DDD-8EEE-FFFFFFFFFFFF");
inline const Uuid kForeignWatch = *Uuid::parse("CCCCCCCC-DDDD-4EEE-8FFF-000000000000");

inline constexpr std::string_view kWatchName = "Kavo R5 (1A2B)";
inline constexpr std::string_view kForeignWatchName = "Kavo R5 (9F9F)";
// Longer than the 16 bytes the handshake carries.
inline constexpr std::string_view kPhoneName = "Kim's phone in the lab";

// What the watch's radio sees of the link, and the noise it adds to it: payload bits flipped
// on data packets only, both ways. The link's CRC covers a packet's payload and nothing else,
// so this is the corruption the link is built to catch. Shared by every radio the watch powers
// on with, so counts survive a vanish.
struct AirTap {
    explicit AirTap(std::uint64_t seed) : random(seed) {}

    // Chance per data packet, each way.
    double corruptRate = 0;
    std::mt19937_64 random;
    int corrupted = 0;

    // The link packets that reached the watch's radio, in order, before the watch's own fault
    // plan had its say.
    std::vector<Bytes> toWatch;

    void corrupt(Bytes& packet);
    // Control packets of this command among those that reached the watch.
    [[nodiscard]] int controlPacketsToWatch(std::uint8_t command) const;
};

// Radios for the watch on the air, each behind the tap.
[[nodiscard]] kavowatch::RadioFactory tappedRadios(platform::bluetooth::SimulatedAir& air,
                                                   std::shared_ptr<AirTap> tap);

// The whole messages in a run of link packets: acknowledged data packets joined by position
// and inflated. Enough for a fault-free run, where no packet is repeated.
[[nodiscard]] std::vector<Bytes> messagesIn(const std::vector<Bytes>& packets);

// Everything the application's link delegate hears, with the virtual time of each event.
class RecordingDelegate final : public TQAPDelegate {
public:
    struct Event {
        std::string what;  // "discover", "connect", "disconnect", "on", "off", "autoConnection"
        double time = 0;
    };
    struct Message {
        std::uint32_t appId = 0;
        Bytes body;
    };

    void onDiscoverDevices(const std::vector<RemotePeripheral*>& devices) override;
    void onConnectDevice() override { note("connect"); }
    void onDisconnectDevice() override { note("disconnect"); }
    void onBleManagerStateChange(bool enabled) override { note(enabled ? "on" : "off"); }
    void onDataReceiveCompleted(std::span<const std::uint8_t> data, std::uint32_t appId) override {
        messages.push_back({appId, Bytes(data.begin(), data.end())});
    }
    void onError(const TQError& error) override { errors.push_back(error.errorCode()); }
    void autoConnectionInProgress() override { note("autoConnection"); }

    [[nodiscard]] int count(std::string_view what) const;

    std::vector<Event> events;
    std::vector<std::vector<RemotePeripheral*>> discovered;
    std::vector<Message> messages;
    std::vector<std::int64_t> errors;

private:
    void note(std::string what);
};

// The link status codes the Bluetooth manager went through, read from its own log lines (the
// roles report to the manager directly, so its log is where the codes show). Status 10 is the
// central role's power-on line, which the manager itself does not log.
class StatusTrace final : public LGAbstractLogger {
public:
    StatusTrace() : LGAbstractLogger("test.e2e.status") {}
    void logMessage(const LGLogMessage& message) override;

    // The codes so far, once everything logged before the call has arrived.
    std::vector<std::uint64_t> statuses();

private:
    std::mutex mutex_;
    std::vector<std::uint64_t> statuses_;
};

// The phone exactly as the application builds it (a TQBleManager on the phone's adapter and a
// TQAP over it), in a world of its own: container and user defaults in a fresh folder, a
// notification centre, an application host, a fixed device name and a virtual main run loop,
// with the simulated air that carries the phone and the watches.
class PhoneWorld {
public:
    explicit PhoneWorld(std::uint64_t airSeed = 7);
    ~PhoneWorld();
    PhoneWorld(const PhoneWorld&) = delete;
    PhoneWorld& operator=(const PhoneWorld&) = delete;

    testing_support::TempDir folder;
    platform::Container container{folder.path()};
    platform::ScopedInstall<const platform::Container> installContainer{&container};
    platform::UserDefaults defaults{container.preferences() /
                                    (std::string(platform::kBundleIdentifier) + ".plist")};
    platform::ScopedInstall<platform::UserDefaults> installDefaults{&defaults};
    platform::NotificationCenter center;
    platform::ScopedInstall<platform::NotificationCenter> installCenter{&center};
    testing_support::RecordingAppHost host;
    platform::ScopedInstall<platform::AppHost> installHost{&host};
    platform::FixedDeviceInfo device{std::string(kPhoneName)};
    platform::ScopedInstall<platform::DeviceInfo> installDevice{&device};
    platform::RunLoop loop{platform::RunLoop::Clock::virtualTime};
    platform::ScopedMainRunLoop mainLoop{loop};
    platform::bluetooth::SimulatedAir air;
    platform::bluetooth::Adapter adapter;
    TQBleManager manager{adapter};
    TQAP ap{manager, loop, defaults};
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
};

// A phone and the watches that meet it, with the steps the pairing screens and the watch take.
class E2ETest : public ::testing::Test {
protected:
    ~E2ETest() override;

    // A watch on the phone's air, off until powered on. Its radios go through tap when given.
    std::unique_ptr<kavowatch::Watch> makeWatch(const Uuid& identifier,
                                                std::string_view name = kWatchName,
                                                std::shared_ptr<AirTap> tap = nullptr);
    // Reads the manager's statuses from here on.
    StatusTrace& traceStatuses();

    // Drives the loop until done() holds or `timeout` virtual seconds pass; done()'s value.
    bool runUntil(const std::function<bool()>& done, double timeout = 30);
    void settle(double seconds) { world.loop.advance(seconds); }
    double now() const { return world.loop.now(); }

    // Bluetooth on, the phone advertising and its service published.
    void startPhone();
    // The pairing screens' way: scan, list the watch, connect to it; the watch follows, and
    // the handshake ends in onConnectDevice. The watch must be on and advertising purpose 1.
    void pairThroughTheScreens(kavowatch::Watch& watch);
    // Whether the central role is looking for the paired watch.
    bool searching();

    PhoneWorld world;
    std::shared_ptr<StatusTrace> trace_;
};

}  // namespace e2e
