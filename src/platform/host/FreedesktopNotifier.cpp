#include "platform/host/FreedesktopNotifier.h"

#include <sdbus-c++/sdbus-c++.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "platform/dbus/BusThread.h"
#include "platform/foundation/LogSink.h"

namespace platform {
namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr const char* kBusService = "org.freedesktop.DBus";
constexpr const char* kBusPath = "/org/freedesktop/DBus";
constexpr const char* kDomain = "kavo.notify";
// Lets the desktop play its usual sound for a message.
constexpr const char* kSoundName = "message-new-instant";

constexpr auto kTimeout = std::chrono::microseconds(
    static_cast<std::int64_t>(FreedesktopNotifier::kCallTimeout * 1'000'000));

std::unique_ptr<sdbus::IConnection> connectTo(const std::optional<std::string>& address) {
    return address ? sdbus::createSessionBusConnectionWithAddress(*address)
                   : sdbus::createSessionBusConnection();
}

}  // namespace

// The bus side: its connection, the proxies and the thread that alone touches them.
struct FreedesktopNotifier::Bus {
    // First, so that it goes last.
    std::unique_ptr<dbus::BusThread> thread;
    std::unique_ptr<sdbus::IProxy> daemon;
    std::unique_ptr<sdbus::IProxy> server;
    // Whether the present server offers actions; asked once per server. Bus thread only.
    std::optional<bool> actions;

    ~Bus() {
        // Work not yet begun is dropped: nobody is left to hear its answers.
        if (thread != nullptr) {
            thread->stop(dbus::BusThread::Pending::drop);
        }
        server.reset();
        daemon.reset();
    }

    // On the bus thread; throws sdbus::Error.
    NoticeId notify(const DesktopNotice& notice) {
        if (!actions) {
            std::vector<std::string> capabilities;
            server->callMethod("GetCapabilities")
                .onInterface(kInterface)
                .withTimeout(kTimeout)
                .storeResultsTo(capabilities);
            actions = std::find(capabilities.begin(), capabilities.end(), "actions") !=
                      capabilities.end();
        }
        std::vector<std::string> actionList;
        if (*actions) {
            actionList = {kDefaultAction, notice.actionLabel.value_or("Open")};
            if (notice.actionLabel) {
                actionList.insert(actionList.end(), {kButtonAction, *notice.actionLabel});
            }
        }
        std::map<std::string, sdbus::Variant> hints{
            {"desktop-entry", sdbus::Variant(std::string(kIconName))}};
        if (notice.defaultSound) {
            hints.emplace("sound-name", sdbus::Variant(std::string(kSoundName)));
        }
        std::uint32_t id = 0;
        server->callMethod("Notify")
            .onInterface(kInterface)
            .withTimeout(kTimeout)
            .withArguments(std::string(kApplicationName), std::uint32_t{0}, std::string(kIconName),
                           notice.title, notice.body, actionList, hints, std::int32_t{-1})
            .storeResultsTo(id);
        return id;
    }
};

FreedesktopNotifier::FreedesktopNotifier(RunLoop& loop, std::optional<std::string> address)
    : loop_(loop) {
    auto weak = weak_.weakPtr();
    RunLoop* const home = &loop_;
    const auto toLoop = [weak, home](Event event, NoticeId id) {
        home->post([weak, event, id] {
            if (auto* self = weak.get()) {
                self->handle(event, id);
            }
        });
    };
    auto bus = std::make_unique<Bus>();
    Bus* const b = bus.get();
    try {
        bus->thread = std::make_unique<dbus::BusThread>(connectTo(address), "Notifications");
        bus->daemon = sdbus::createProxy(bus->thread->connection(), kBusService, kBusPath);
        bus->server = sdbus::createProxy(bus->thread->connection(), kService, kPath);
        bus->daemon->uponSignal("NameOwnerChanged")
            .onInterface(kBusService)
            .call([b, toLoop](const std::string& name, const std::string& /*old*/,
                              const std::string& owner) {
                if (name != kService) {
                    return;
                }
                // Another server may offer other capabilities.
                b->actions.reset();
                if (owner.empty()) {
                    toLoop(Event::serverLeft, 0);
                }
            });
        bus->server->uponSignal("ActionInvoked")
            .onInterface(kInterface)
            .call([toLoop](std::uint32_t id, const std::string& key) {
                if (key == kDefaultAction || key == kButtonAction) {
                    toLoop(Event::opened, id);
                }
            });
        bus->server->uponSignal("NotificationClosed")
            .onInterface(kInterface)
            .call([toLoop](std::uint32_t id, std::uint32_t /*reason*/) {
                toLoop(Event::closed, id);
            });
        bus->daemon->finishRegistration();
        bus->server->finishRegistration();
    } catch (const sdbus::Error& error) {
        PLATFORM_LOG_INFO("FreedesktopNotifier: no session bus, so no desktop notifications: ",
                          error.getMessage());
        return;
    }
    bus->thread->start([toLoop] { toLoop(Event::serverLeft, 0); });
    bus_ = std::move(bus);
}

FreedesktopNotifier::~FreedesktopNotifier() = default;

bool FreedesktopNotifier::hasBus() const {
    return bus_ != nullptr;
}

void FreedesktopNotifier::show(const DesktopNotice& notice, Shown shown) {
    auto weak = weak_.weakPtr();
    RunLoop* const home = &loop_;
    const auto answer = [weak, home, shown = std::move(shown)](Result<NoticeId> result) {
        home->post([weak, shown, result = std::move(result)] {
            auto* self = weak.get();
            if (self == nullptr) {
                return;
            }
            if (result.ok()) {
                self->open_.insert(*result);
            }
            if (shown) {
                shown(result);
            }
        });
    };
    if (bus_ == nullptr) {
        answer(Error{kDomain, 1, "no session bus for desktop notifications"});
        return;
    }
    Bus* const bus = bus_.get();
    bus_->thread->post([bus, notice, answer] {
        try {
            answer(bus->notify(notice));
        } catch (const sdbus::Error& error) {
            answer(Error{kDomain, 2,
                         "no desktop notification server: " + error.getName() + ": " +
                             error.getMessage()});
        }
    });
}

void FreedesktopNotifier::handle(Event event, NoticeId id) {
    switch (event) {
        case Event::opened:
            if (open_.contains(id) && events_.opened) {
                events_.opened(id);
            }
            return;
        case Event::closed:
            if (open_.erase(id) != 0 && events_.closed) {
                events_.closed(id);
            }
            return;
        case Event::serverLeft:
            if (!open_.empty()) {
                PLATFORM_LOG_INFO("FreedesktopNotifier: the notification server left with ",
                                  open_.size(), " notices");
            }
            // Its notices went with it; a later server numbers its own.
            for (const NoticeId gone : std::exchange(open_, {})) {
                if (events_.closed) {
                    events_.closed(gone);
                }
            }
            return;
    }
}

}  // namespace platform
