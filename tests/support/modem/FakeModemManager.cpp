#include "support/modem/FakeModemManager.h"

#include <sdbus-c++/sdbus-c++.h>

#include <functional>
#include <map>
#include <utility>

#include "platform/dbus/BusThread.h"
#include "support/BusWork.h"

namespace testing_support {

namespace {

constexpr const char* kName = "org.freedesktop.ModemManager1";
constexpr const char* kManagerPath = "/org/freedesktop/ModemManager1";
constexpr const char* kModemInterface = "org.freedesktop.ModemManager1.Modem";
constexpr const char* kSimInterface = "org.freedesktop.ModemManager1.Sim";

}  // namespace

struct FakeModemManager::Bus {
    struct Modem {
        std::unique_ptr<sdbus::IObject> object;
        std::unique_ptr<sdbus::IObject> sim;
        std::string operatorIdentifier;
    };

    // First, so that it goes last.
    std::unique_ptr<platform::dbus::BusThread> thread;
    std::unique_ptr<sdbus::IObject> manager;
    // Bus thread only.
    std::map<std::size_t, Modem> modems;
    std::size_t next = 0;

    ~Bus() {
        if (thread != nullptr) {
            thread->stop();
        }
        modems.clear();
        manager.reset();
    }

    void onBus(const std::function<void()>& task) { runOnBus(*thread, task); }
};

std::unique_ptr<FakeModemManager> FakeModemManager::start(const std::string& address,
                                                          std::string& whyNot) {
    std::unique_ptr<FakeModemManager> fake(new FakeModemManager());
    auto bus = std::make_unique<Bus>();
    try {
        bus->thread = std::make_unique<platform::dbus::BusThread>(address, "FakeModemManager");
        bus->manager = sdbus::createObject(bus->thread->connection(), kManagerPath);
        bus->manager->addObjectManager();
        bus->thread->connection().requestName(kName);
    } catch (const sdbus::Error& error) {
        whyNot = error.getMessage();
        return nullptr;
    }
    bus->thread->start(nullptr);
    fake->bus_ = std::move(bus);
    return fake;
}

FakeModemManager::~FakeModemManager() = default;

std::size_t FakeModemManager::addModem(std::optional<std::string> operatorIdentifier) {
    Bus* const b = bus_.get();
    std::size_t number = 0;
    b->onBus([b, &number, &operatorIdentifier] {
        number = b->next++;
        auto& connection = b->thread->connection();
        Bus::Modem& modem = b->modems[number];
        sdbus::ObjectPath simPath("/");
        if (operatorIdentifier) {
            simPath =
                sdbus::ObjectPath(std::string(kManagerPath) + "/SIM/" + std::to_string(number));
            modem.operatorIdentifier = *operatorIdentifier;
            modem.sim = sdbus::createObject(connection, simPath);
            modem.sim->registerProperty("OperatorIdentifier")
                .onInterface(kSimInterface)
                .withGetter([b, number] { return b->modems.at(number).operatorIdentifier; });
            modem.sim->registerProperty("OperatorName").onInterface(kSimInterface).withGetter([] {
                return std::string("Test Mobile");
            });
            modem.sim->finishRegistration();
        }
        modem.object = sdbus::createObject(
            connection, std::string(kManagerPath) + "/Modem/" + std::to_string(number));
        modem.object->registerProperty("Sim").onInterface(kModemInterface).withGetter([simPath] {
            return simPath;
        });
        modem.object->registerProperty("Manufacturer").onInterface(kModemInterface).withGetter([] {
            return std::string("Kavo Test Modems");
        });
        modem.object->finishRegistration();
        modem.object->emitInterfacesAddedSignal();
    });
    return number;
}

void FakeModemManager::removeModem(std::size_t modem) {
    Bus* const b = bus_.get();
    b->onBus([b, modem] {
        const auto found = b->modems.find(modem);
        if (found == b->modems.end()) {
            return;
        }
        found->second.object->emitInterfacesRemovedSignal();
        b->modems.erase(found);
    });
}

void FakeModemManager::setOperatorIdentifier(std::size_t modem,
                                             const std::string& operatorIdentifier) {
    Bus* const b = bus_.get();
    b->onBus([b, modem, &operatorIdentifier] {
        Bus::Modem& found = b->modems.at(modem);
        found.operatorIdentifier = operatorIdentifier;
        found.sim->emitPropertiesChangedSignal(kSimInterface, {"OperatorIdentifier"});
    });
}

void FakeModemManager::vanish() {
    Bus* const b = bus_.get();
    b->onBus([b] { b->thread->connection().releaseName(kName); });
}

}  // namespace testing_support
