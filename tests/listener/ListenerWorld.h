#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "link/TQAP.h"
#include "link/TQBleManager.h"
#include "link/TQPeripheral.h"
#include "listener/RecordingHandlers.h"
#include "listener/TQCoreManager.h"
#include "listener/TQWallClock.h"
#include "logging/LGLog.h"
#include "logging/LGLogger.h"
#include "platform/bluetooth/Adapter.h"
#include "platform/bluetooth/sim/SimulatedAir.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/system/DeviceInfo.h"
#include "sim/Watch.h"
#include "support/RecordingAppHost.h"
#include "support/TempDir.h"

namespace listener_test {

using platform::Bytes;
using platform::Value;
using platform::bluetooth::Uuid;

inline const Uuid kPhone = *Uuid::parse("11111111-2222-4333-8444-555555555555");
inline const Uuid kWatch = *Uuid::parse("AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE");
inline constexpr const char* kVendorIdentifier = "6F1E2D3C-4B5A-4978-8796-A5B4C3D2E1F0";
inline constexpr const char* kWatchName = "Kavo R5 (1A2B)";
inline constexpr std::int64_t kNow = 1'700'000'000'123;

// Keeps every log line with its severity flag.
class LogLines : public LGAbstractLogger {
public:
    LogLines() : LGAbstractLogger("test.listener") {}
    void logMessage(const LGLogMessage& message) override {
        std::lock_guard lock(mutex_);
        lines_.emplace_back(message.flag(), message.message());
    }
    // The lines so far, once everything logged before the call has arrived.
    std::vector<std::pair<std::uint64_t, std::string>> lines() {
        LGLog::flushLog();
        std::lock_guard lock(mutex_);
        return lines_;
    }
    int count(const std::string& line) {
        const auto all = lines();
        return static_cast<int>(std::count_if(
            all.begin(), all.end(), [&](const auto& entry) { return entry.second == line; }));
    }
    // How many lines hold part anywhere.
    int containing(const std::string& part) {
        const auto all = lines();
        return static_cast<int>(std::count_if(all.begin(), all.end(), [&](const auto& entry) {
            return entry.second.find(part) != std::string::npos;
        }));
    }
    // The severity the line was first logged with, 0 when it was not.
    std::uint64_t flagOf(const std::string& line) {
        for (const auto& [flag, text] : lines()) {
            if (text == line) {
                return flag;
            }
        }
        return 0;
    }

private:
    std::mutex mutex_;
    std::vector<std::pair<std::uint64_t, std::string>> lines_;
};

class FixedWallClock final : public TQWallClock {
public:
    std::int64_t millisecondsSince1970() const override { return kNow; }
};

// The phone's link (Bluetooth manager, facade and core manager) and a simulated watch on one
// simulated air, on a virtual clock, with every subsystem the link hands work to recorded in one
// event log together with every notification. Everything process-wide is put back afterwards.
class ListenerWorld {
public:
    ListenerWorld() {
        LGLog::addLogger(logs);
        LGLog::flushLog();
        TQPeripheral::setWillRestore(false);
        center.addObserver("", [this](const platform::Notification& notification) {
            events.add("note:" + notification.name, notification.object);
            wmsAtNotification.emplace_back(notification.name, TQCoreManager::isWMSConnected());
        });
        startPhone();
    }
    ~ListenerWorld() {
        LGLog::removeLogger(logs);
        LGLog::flushLog();
        TQPeripheral::setWillRestore(false);
    }
    ListenerWorld(const ListenerWorld&) = delete;
    ListenerWorld& operator=(const ListenerWorld&) = delete;

    // The application starts: Bluetooth manager, facade and core manager, in launch order.
    void startPhone() {
        manager = std::make_unique<TQBleManager>(phone);
        ap = std::make_unique<TQAP>(*manager, loop, defaults);
        core = TQCoreManager::create(*ap, handlers.registry);
    }
    // The application is ended and started again while the watch stays subscribed; launch
    // marks the watch not in use.
    void relaunch() {
        core.reset();
        ap.reset();
        manager.reset();
        defaults.set("isWMSConnected", 0);
        startPhone();
    }

    // The phone finds the watch and connects; the watch follows, the handshake runs, and the
    // facade reports the connection.
    void connectWatch() {
        loop.advance(TQPeripheral::kAddServiceRetryDelay + 0.1);
        if (!watch.isOn()) {
            watch.powerOn();
        }
        watch.advertise(1);
        ap->scanForDevices();
        platform::bluetooth::RemotePeripheral* found = nullptr;
        ASSERT_TRUE(watch.waitUntil(
            [&] {
                for (auto* peripheral : manager->central().peripherals()) {
                    if (peripheral->identifier() == kWatch) {
                        found = peripheral;
                    }
                }
                return found != nullptr;
            },
            5));
        ap->stopScanForDevices();
        const int connects = events.count("note:onConnectDeviceNotification");
        ap->connectDevice(*found);
        ASSERT_TRUE(watch.waitUntil(
            [&] { return events.count("note:onConnectDeviceNotification") > connects; }, 10));
        ASSERT_TRUE(watch.isPaired());
    }

    // The watch sends a message; returns once the core manager has broadcast it and the
    // phone's answers have reached the watch.
    void send(const Value& message, std::uint8_t appId = 1, std::uint8_t priority = 1) {
        const auto text = platform::json::write(message);
        ASSERT_TRUE(text.ok());
        sendBytes(Bytes(text.value().begin(), text.value().end()), appId, priority);
    }
    void sendBytes(const Bytes& body, std::uint8_t appId, std::uint8_t priority = 1) {
        const int received = events.count("note:onDataReceivedNotification");
        ASSERT_TRUE(watch.sendMessage(appId, priority, body).ok());
        ASSERT_TRUE(watch.waitUntil(
            [&] { return events.count("note:onDataReceivedNotification") > received; }, 5));
        // Long enough for any answer of the phone to arrive.
        loop.advance(1.0);
    }

    // The messages the watch received from `from` on, as JSON, with their channel.
    struct Reply {
        std::uint8_t appId;
        std::uint8_t priority;
        Value json;
        friend bool operator==(const Reply&, const Reply&) = default;
    };
    std::vector<Reply> repliesSince(std::size_t from) const {
        std::vector<Reply> replies;
        const auto& all = watch.messages().all();
        for (std::size_t i = from; i < all.size(); ++i) {
            replies.push_back({all[i].appId, all[i].priority, all[i].json.value_or(Value())});
        }
        return replies;
    }

    static kavowatch::WatchConfig watchConfig() {
        kavowatch::WatchConfig config;
        config.identifier = kWatch;
        config.advertising.name = kWatchName;
        return config;
    }

    testing_support::TempDir folder;
    platform::Container container{folder.path() / "home"};
    platform::ScopedInstall<const platform::Container> installContainer{&container};
    platform::UserDefaults defaults{folder.path() / "defaults.plist"};
    platform::ScopedInstall<platform::UserDefaults> installDefaults{&defaults};
    platform::NotificationCenter center;
    platform::ScopedInstall<platform::NotificationCenter> installCenter{&center};
    testing_support::ScopedRecordingHost host;
    platform::FixedDeviceInfo device{"Kim's phone", kVendorIdentifier, "en_GB"};
    platform::ScopedInstall<platform::DeviceInfo> installDevice{&device};
    FixedWallClock clock;
    platform::ScopedInstall<TQWallClock> installClock{&clock};
    EventLog events;
    std::vector<std::pair<std::string, bool>> wmsAtNotification;
    RecordingHandlers handlers{events};
    std::shared_ptr<LogLines> logs = std::make_shared<LogLines>();
    platform::RunLoop loop{platform::RunLoop::Clock::virtualTime};
    platform::ScopedMainRunLoop mainLoop{loop};
    platform::bluetooth::SimulatedAir air{loop, {.seed = 7}};
    platform::bluetooth::Adapter phone{air.attach({.identifier = kPhone}), loop};
    kavowatch::Watch watch{loop, kavowatch::simulatedRadios(air), watchConfig()};
    std::unique_ptr<TQBleManager> manager;
    std::unique_ptr<TQAP> ap;
    std::shared_ptr<TQCoreManager> core;
};

}  // namespace listener_test
