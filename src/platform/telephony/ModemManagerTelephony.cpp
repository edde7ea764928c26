#include "platform/telephony/ModemManagerTelephony.h"

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

constexpr const char* kBusService = "org.freedesktop.DBus";
constexpr const char* kBusPath = "/org/freedesktop/DBus";
constexpr const char* kManagerPath = "/org/freedesktop/ModemManager1";
constexpr const char* kObjectManager = "org.freedesktop.DBus.ObjectManager";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr const char* kModemInterface = "org.freedesktop.ModemManager1.Modem";
constexpr const char* kSimInterface = "org.freedesktop.ModemManager1.Sim";
// The modem manager's own signals: objects coming and going, properties changing.
constexpr const char* kSignals =
    "type='signal',sender='org.freedesktop.ModemManager1',"
    "path_namespace='/org/freedesktop/ModemManager1'";

constexpr auto kTimeout = std::chrono::microseconds(
    static_cast<std::int64_t>(ModemManagerTelephony::kCallTimeout * 1'000'000));

using Properties = std::map<std::string, sdbus::Variant>;
using ManagedObjects = std::map<sdbus::ObjectPath, std::map<std::string, Properties>>;

bool isDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The SIM of the first modem, by object path, that holds one; none when no modem does.
std::optional<sdbus::ObjectPath> firstSim(const ManagedObjects& objects) {
    for (const auto& [path, interfaces] : objects) {
        const auto modem = interfaces.find(kModemInterface);
        if (modem == interfaces.end()) {
            continue;
        }
        const auto sim = modem->second.find("Sim");
        if (sim == modem->second.end() || !sim->second.containsValueOfType<sdbus::ObjectPath>()) {
            continue;
        }
        auto simPath = sim->second.get<sdbus::ObjectPath>();
        // The modem manager names no SIM with the root path.
        if (!simPath.empty() && simPath != "/") {
            return simPath;
        }
    }
    return std::nullopt;
}

// Whether a signal of the modem manager may change what the SIM reading gives.
bool touchesCarrier(sdbus::Message& message) {
    const std::string member = message.getMemberName();
    if (member == "InterfacesAdded" || member == "InterfacesRemoved") {
        return true;
    }
    if (member != "PropertiesChanged") {
        return false;
    }
    std::string interface;
    Properties changed;
    std::vector<std::string> invalidated;
    message >> interface >> changed >> invalidated;
    const char* key = interface == kModemInterface ? "Sim"
                      : interface == kSimInterface ? "OperatorIdentifier"
                                                   : nullptr;
    if (key == nullptr) {
        return false;
    }
    return changed.contains(key) ||
           std::find(invalidated.begin(), invalidated.end(), key) != invalidated.end();
}

std::string describe(const std::optional<Carrier>& carrier) {
    if (!carrier) {
        return "no modem with a SIM";
    }
    if (carrier->mobileCountryCode.empty()) {
        return "a SIM that names no network";
    }
    return "a SIM of network " + carrier->mobileCountryCode + " " + carrier->mobileNetworkCode;
}

}  // namespace

Carrier carrierOfOperatorIdentifier(std::string_view identifier) {
    if ((identifier.size() != 5 && identifier.size() != 6) || !isDigits(identifier)) {
        return Carrier{};
    }
    return Carrier{std::string(identifier.substr(0, 3)), std::string(identifier.substr(3))};
}

// The bus side: its connection, the proxies, the match and the one thread that touches them.
struct ModemManagerTelephony::Bus {
    // First, so that it goes last.
    std::unique_ptr<dbus::BusThread> thread;
    std::unique_ptr<sdbus::IProxy> daemon;
    std::unique_ptr<sdbus::IProxy> manager;
    sdbus::Slot signals;
    // Hands a reading to the loop.
    std::function<void(std::optional<Carrier>)> report;
    // A reading waits on the thread; the changes before it starts are all in it. Bus thread
    // only.
    bool readQueued = false;

    ~Bus() {
        // Work not yet begun is dropped: nobody is left to hear its answers.
        if (thread != nullptr) {
            thread->stop(dbus::BusThread::Pending::drop);
        }
        signals.reset();
        manager.reset();
        daemon.reset();
    }

    // On the bus thread.
    void queueRead() {
        if (readQueued) {
            return;
        }
        readQueued = true;
        thread->post([this] {
            readQueued = false;
            try {
                report(read());
            } catch (const sdbus::Error& error) {
                PLATFORM_LOG_INFO("ModemManager: the modem manager did not answer, so no carrier: ",
                                  error.getName(), ": ", error.getMessage());
                report(std::nullopt);
            }
        });
    }

    // On the bus thread; throws sdbus::Error.
    std::optional<Carrier> read() {
        // Asked first, so that a modem manager that is installed but not running is not
        // started by the question.
        bool running = false;
        daemon->callMethod("NameHasOwner")
            .onInterface(kBusService)
            .withTimeout(kTimeout)
            .withArguments(std::string(kService))
            .storeResultsTo(running);
        if (!running) {
            return std::nullopt;
        }
        ManagedObjects objects;
        manager->callMethod("GetManagedObjects")
            .onInterface(kObjectManager)
            .withTimeout(kTimeout)
            .storeResultsTo(objects);
        const auto simPath = firstSim(objects);
        if (!simPath) {
            return std::nullopt;
        }
        const auto sim = sdbus::createProxy(thread->connection(), kService, *simPath);
        sdbus::Variant identifier;
        sim->callMethod("Get")
            .onInterface(kProperties)
            .withTimeout(kTimeout)
            .withArguments(std::string(kSimInterface), std::string("OperatorIdentifier"))
            .storeResultsTo(identifier);
        if (!identifier.containsValueOfType<std::string>()) {
            return Carrier{};
        }
        return carrierOfOperatorIdentifier(identifier.get<std::string>());
    }
};

ModemManagerTelephony::ModemManagerTelephony(RunLoop& loop, const std::string& address)
    : loop_(loop) {
    auto weak = weak_.weakPtr();
    RunLoop* const home = &loop_;
    auto bus = std::make_unique<Bus>();
    Bus* const b = bus.get();
    bus->report = [weak, home](std::optional<Carrier> carrier) {
        home->post([weak, carrier = std::move(carrier)] {
            if (auto* self = weak.get()) {
                self->taken(carrier);
            }
        });
    };
    try {
        bus->thread = std::make_unique<dbus::BusThread>(address, "ModemManager");
        bus->daemon = sdbus::createProxy(bus->thread->connection(), kBusService, kBusPath);
        bus->manager = sdbus::createProxy(bus->thread->connection(), kService, kManagerPath);
        bus->daemon->uponSignal("NameOwnerChanged")
            .onInterface(kBusService)
            .call([b](const std::string& name, const std::string& /*old*/,
                      const std::string& /*owner*/) {
                if (name == kService) {
                    b->queueRead();
                }
            });
        bus->daemon->finishRegistration();
        bus->manager->finishRegistration();
        bus->signals = bus->thread->connection().addMatch(kSignals, [b](sdbus::Message& message) {
            try {
                if (touchesCarrier(message)) {
                    b->queueRead();
                }
            } catch (const sdbus::Error&) {
                // A signal of another shape than the modem manager's: nothing it says counts.
            }
        });
    } catch (const sdbus::Error& error) {
        PLATFORM_LOG_INFO("ModemManager: no system bus, so no carrier: ", error.getMessage());
        return;
    }
    bus->thread->start([b] { b->report(std::nullopt); });
    bus->thread->post([b] { b->queueRead(); });
    bus_ = std::move(bus);
}

ModemManagerTelephony::~ModemManagerTelephony() = default;

std::optional<Carrier> ModemManagerTelephony::subscriberCarrier() const {
    std::lock_guard lock(mutex_);
    return carrier_;
}

void ModemManagerTelephony::taken(std::optional<Carrier> carrier) {
    bool changed = false;
    {
        std::lock_guard lock(mutex_);
        changed = !everRead_ || carrier_ != carrier;
        everRead_ = true;
        carrier_ = carrier;
    }
    if (changed) {
        PLATFORM_LOG_INFO("ModemManager: ", describe(carrier));
    }
    if (read_) {
        read_();
    }
}

}  // namespace platform
