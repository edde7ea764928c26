#include "support/notify/FakeNotificationServer.h"

#include <sdbus-c++/sdbus-c++.h>

#include <utility>

#include "platform/dbus/BusThread.h"
#include "support/BusWork.h"

namespace testing_support {

namespace {

constexpr const char* kName = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";

}  // namespace

struct FakeNotificationServer::Bus {
    // First, so that it goes last.
    std::unique_ptr<platform::dbus::BusThread> thread;
    std::unique_ptr<sdbus::IObject> object;

    mutable std::mutex mutex;
    std::vector<Notice> notices;
    std::uint32_t nextId = 1;

    ~Bus() {
        if (thread != nullptr) {
            thread->stop();
        }
        object.reset();
    }

    void onBus(const std::function<void()>& task) { runOnBus(*thread, task); }
};

std::unique_ptr<FakeNotificationServer> FakeNotificationServer::start(const std::string& address,
                                                                      bool withActions,
                                                                      std::string& whyNot) {
    std::unique_ptr<FakeNotificationServer> server(new FakeNotificationServer());
    auto bus = std::make_unique<Bus>();
    Bus* const b = bus.get();
    try {
        bus->thread = std::make_unique<platform::dbus::BusThread>(address, "FakeNotifications");
        bus->object = sdbus::createObject(bus->thread->connection(), kPath);
        auto& object = *bus->object;
        object.registerMethod("Notify").onInterface(kInterface).implementedAs(
            [b](const std::string& appName, const std::uint32_t& replacesId,
                const std::string& icon, const std::string& summary, const std::string& body,
                const std::vector<std::string>& actions,
                const std::map<std::string, sdbus::Variant>& hints, const std::int32_t& timeout) {
                Notice notice{0, appName, replacesId, icon, summary, body, actions, {}, timeout};
                for (const auto& [key, value] : hints) {
                    if (value.containsValueOfType<std::string>()) {
                        notice.textHints[key] = value.get<std::string>();
                    }
                }
                std::lock_guard lock(b->mutex);
                notice.id = replacesId != 0 ? replacesId : b->nextId++;
                b->notices.push_back(notice);
                return notice.id;
            });
        object.registerMethod("GetCapabilities").onInterface(kInterface).implementedAs([withActions] {
            std::vector<std::string> capabilities{"body"};
            if (withActions) {
                capabilities.emplace_back("actions");
            }
            return capabilities;
        });
        object.registerMethod("CloseNotification")
            .onInterface(kInterface)
            .implementedAs([](const std::uint32_t&) {});
        object.registerMethod("GetServerInformation").onInterface(kInterface).implementedAs([] {
            return std::make_tuple(std::string("fake"), std::string("kavo tests"),
                                   std::string("1"), std::string("1.2"));
        });
        object.registerSignal("ActionInvoked")
            .onInterface(kInterface)
            .withParameters<std::uint32_t, std::string>();
        object.registerSignal("NotificationClosed")
            .onInterface(kInterface)
            .withParameters<std::uint32_t, std::uint32_t>();
        object.finishRegistration();
        bus->thread->connection().requestName(kName);
    } catch (const sdbus::Error& error) {
        whyNot = error.getMessage();
        return nullptr;
    }
    bus->thread->start(nullptr);
    server->bus_ = std::move(bus);
    return server;
}

FakeNotificationServer::~FakeNotificationServer() = default;

std::vector<FakeNotificationServer::Notice> FakeNotificationServer::notices() const {
    std::lock_guard lock(bus_->mutex);
    return bus_->notices;
}

void FakeNotificationServer::invokeAction(std::uint32_t id, const std::string& key) {
    Bus* const b = bus_.get();
    b->onBus([b, id, key] {
        b->object->emitSignal("ActionInvoked").onInterface(kInterface).withArguments(id, key);
    });
}

void FakeNotificationServer::close(std::uint32_t id, std::uint32_t reason) {
    Bus* const b = bus_.get();
    b->onBus([b, id, reason] {
        b->object->emitSignal("NotificationClosed").onInterface(kInterface).withArguments(id, reason);
    });
}

void FakeNotificationServer::vanish() {
    Bus* const b = bus_.get();
    b->onBus([b] { b->thread->connection().releaseName(kName); });
}

}  // namespace testing_support
