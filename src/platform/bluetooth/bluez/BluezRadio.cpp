#include "platform/bluetooth/bluez/BluezRadio.h"

#include <sdbus-c++/sdbus-c++.h>

#include <algorithm>
#include <cassert>
#include <chrono>
#include <cstdio>
#include <utility>

#include "platform/bluetooth/AttPdu.h"
#include "platform/bluetooth/GattDatabase.h"
#include "platform/bluetooth/bluez/BluezNames.h"
#include "platform/bluetooth/bluez/BluezObjects.h"
#include "platform/bluetooth/bluez/GattApplication.h"
#include "platform/bluetooth/bluez/LeAdvertisement.h"
#include "platform/dbus/BusThread.h"
#include "platform/foundation/LogSink.h"

namespace platform::bluetooth::bluez {

// The daemon and the adapter in use, as the bus side last saw them.
struct AdapterView {
    bool daemon = false;
    std::string adapter;
    bool powered = false;
};

// One device of the adapter in use: what it is now and what changed.
struct DeviceUpdate {
    std::string path;
    bool removed = false;
    bool connected = false;
    std::optional<int> rssi{};
    AdvertisementData advertisement{};
    // Its advertising was heard again or changed: a scan reports it.
    bool heard = false;
};

namespace {

constexpr auto kStartupTimeout = std::chrono::seconds(2);
// Connect waits as long as the daemon does; this only bounds a daemon that never answers.
constexpr auto kConnectTimeout = std::chrono::seconds(60);

bool isDeviceHeard(const Properties& changed) {
    for (const char* name : {"RSSI", "ManufacturerData", "UUIDs", "Name", "AdvertisingData"}) {
        if (changed.contains(name)) {
            return true;
        }
    }
    return false;
}

}  // namespace

// Everything on the bus thread: the connection, the mirror of the daemon's adapters and
// devices, our application and advertisement and their registrations.
struct BluezRadio::Bus {
    Bus(BluezRadio& radio, const BluezOptions& options)
        : radio(radio), options(options), thread(options.busAddress, "BlueZ") {}

    ~Bus() {
        thread.stop();
        application.reset();
        advertisement.reset();
        proxies.clear();
        slots.clear();
    }

    BluezRadio& radio;
    const BluezOptions options;
    dbus::BusThread thread;
    std::vector<sdbus::Slot> slots;
    std::map<std::string, std::unique_ptr<sdbus::IProxy>> proxies;

    std::string owner;  // the daemon's unique name; empty while it is gone
    std::map<std::string, Interfaces> objects;
    AdapterView view;

    std::uint64_t nextCallId = 1;
    std::unique_ptr<GattApplication> application;
    bool applicationRegistered = false;
    std::unique_ptr<LeAdvertisement> advertisement;
    bool advertisementRegistered = false;
    std::optional<AdvertisementData> advertising;

    sdbus::IConnection& connection() { return thread.connection(); }

    sdbus::IProxy& proxy(const std::string& path) {
        auto& entry = proxies[path];
        if (!entry) {
            entry = sdbus::createProxy(connection(), kService, path);
            entry->finishRegistration();
        }
        return *entry;
    }

    // Before the thread starts: the subscriptions, then the daemon's objects as they are now.
    void open() {
        auto& bus = connection();
        slots.push_back(bus.addMatch(
            "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
            "member='NameOwnerChanged',arg0='org.bluez'",
            [this](sdbus::Message& message) {
                std::string name, previous, current;
                message >> name >> previous >> current;
                ownerChanged(current);
            }));
        slots.push_back(bus.addMatch(
            "type='signal',interface='org.freedesktop.DBus.ObjectManager',path='/'",
            [this](sdbus::Message& message) {
                if (message.getSender() != owner) {
                    return;
                }
                sdbus::ObjectPath path;
                if (message.getMemberName() == "InterfacesAdded") {
                    Interfaces interfaces;
                    message >> path >> interfaces;
                    for (auto& [name, properties] : interfaces) {
                        auto& mirrored = objects[path][name];
                        for (auto& [key, value] : properties) {
                            mirrored[key] = value;
                        }
                    }
                    changed(path, interfaces.contains(kDevice), true);
                } else if (message.getMemberName() == "InterfacesRemoved") {
                    std::vector<std::string> names;
                    message >> path >> names;
                    const auto found = objects.find(path);
                    if (found == objects.end()) {
                        return;
                    }
                    const bool device = found->second.contains(kDevice);
                    for (const auto& name : names) {
                        found->second.erase(name);
                    }
                    const bool gone = !found->second.contains(kDevice);
                    if (found->second.empty()) {
                        objects.erase(found);
                    }
                    if (device && gone) {
                        DeviceUpdate update{.path = path, .removed = true};
                        post([update](BluezRadio& self) { self.deviceChanged(update); });
                    }
                    changed(path, false, false);
                }
            }));
        slots.push_back(bus.addMatch(
            "type='signal',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged',"
            "path_namespace='/org/bluez'",
            [this](sdbus::Message& message) {
                if (message.getSender() != owner) {
                    return;
                }
                std::string interface;
                Properties changedProperties;
                std::vector<std::string> invalidated;
                message >> interface >> changedProperties >> invalidated;
                const std::string path = message.getPath();
                const auto found = objects.find(path);
                if (found == objects.end() || !found->second.contains(interface)) {
                    return;
                }
                auto& mirrored = found->second[interface];
                for (auto& [key, value] : changedProperties) {
                    mirrored[key] = value;
                }
                for (const auto& key : invalidated) {
                    mirrored.erase(key);
                }
                changed(path, interface == kDevice, isDeviceHeard(changedProperties));
            }));
        slots.push_back(bus.addMatch(
            "type='signal',interface='org.bluez.Device1',member='Disconnected',"
            "path_namespace='/org/bluez'",
            [this](sdbus::Message& message) {
                if (message.getSender() != owner) {
                    return;
                }
                std::string reason;
                message >> reason;
                post([path = message.getPath(), reason](BluezRadio& self) {
                    self.deviceDisconnected(path, reason);
                });
            }));
        try {
            auto daemon = sdbus::createProxy(bus, kBusService, kBusPath);
            daemon->finishRegistration();
            daemon->callMethod("GetNameOwner")
                .onInterface(kBusService)
                .withTimeout(kStartupTimeout)
                .withArguments(std::string(kService))
                .storeResultsTo(owner);
            ManagedObjects managed;
            proxy("/").callMethod("GetManagedObjects")
                .onInterface(kObjectManager)
                .withTimeout(kStartupTimeout)
                .storeResultsTo(managed);
            for (auto& [path, interfaces] : managed) {
                objects[path] = std::move(interfaces);
            }
        } catch (const sdbus::Error& error) {
            PLATFORM_LOG_DEBUG("BlueZ: ", error.getName(), ": ", error.getMessage());
        }
        view = chooseAdapter();
    }

    template <typename F>
    void post(F&& work) {
        radio.toLoop(std::forward<F>(work));
    }

    AdapterView chooseAdapter() const {
        AdapterView next;
        next.daemon = !owner.empty();
        for (const auto& [path, interfaces] : objects) {
            const auto adapter = interfaces.find(kAdapter);
            if (adapter == interfaces.end()) {
                continue;
            }
            if (!options.adapter.empty() &&
                path.substr(path.rfind('/') + 1) != options.adapter) {
                continue;
            }
            next.adapter = path;
            next.powered = propertyOf<bool>(adapter->second, "Powered").value_or(false);
            break;
        }
        return next;
    }

    DeviceUpdate deviceUpdate(const std::string& path, const Properties& device) const {
        DeviceUpdate update{.path = path};
        update.connected = connectedOf(device);
        update.rssi = rssiOf(device);
        update.advertisement = advertisementOf(device);
        return update;
    }

    bool onAdapter(const std::string& path) const {
        return !view.adapter.empty() && path.starts_with(view.adapter + "/");
    }

    void changed(const std::string& path, bool device, bool heard) {
        const AdapterView next = chooseAdapter();
        if (next.adapter != view.adapter || next.powered != view.powered ||
            next.daemon != view.daemon) {
            if (next.adapter != view.adapter) {
                forgetPublished();
            }
            view = next;
            post([next](BluezRadio& self) { self.adapterChanged(next); });
        }
        if (!device || !onAdapter(path)) {
            return;
        }
        const auto found = objects.find(path);
        if (found == objects.end() || !found->second.contains(kDevice)) {
            return;
        }
        DeviceUpdate update = deviceUpdate(path, found->second.at(kDevice));
        update.heard = heard;
        post([update = std::move(update)](BluezRadio& self) { self.deviceChanged(update); });
    }

    void ownerChanged(const std::string& current) {
        owner = current;
        objects.clear();
        proxies.clear();
        forgetPublished();
        if (!owner.empty()) {
            proxy("/").callMethodAsync("GetManagedObjects")
                .onInterface(kObjectManager)
                .uponReplyInvoke([this](const sdbus::Error* error, ManagedObjects managed) {
                    if (error != nullptr) {
                        PLATFORM_LOG_WARN("BlueZ: the daemon's objects could not be read: ",
                                          error->getName(), ": ", error->getMessage());
                        return;
                    }
                    for (auto& [path, interfaces] : managed) {
                        objects[path] = std::move(interfaces);
                    }
                    view = {};
                    changed("/", false, false);
                    for (const auto& [path, interfaces] : objects) {
                        if (interfaces.contains(kDevice)) {
                            changed(path, true, false);
                        }
                    }
                });
        }
        if (owner.empty()) {
            // The daemon's objects come with its answer when it is back.
            view = chooseAdapter();
            post([next = view](BluezRadio& self) { self.adapterChanged(next); });
        }
    }

    // Registrations belong to the daemon and the adapter they were made with. The stack sees
    // the power go and publishes again once it is back, so what we had goes with them.
    void forgetPublished() {
        application.reset();
        applicationRegistered = false;
        advertisement.reset();
        advertisementRegistered = false;
    }

    // Our application and advertisement go to the adapter in use whenever there is one and they
    // are not there yet.
    void registerAll() {
        if (application) {
            registerOn(kGattManager, "RegisterApplication", kApplicationPath,
                       applicationRegistered, "the GATT application");
        }
        if (advertisement) {
            registerOn(kAdvertisingManager, "RegisterAdvertisement", kAdvertisementPath,
                       advertisementRegistered, "the advertisement");
        }
    }

    void registerOn(const char* interface, const char* method, const char* path,
                    bool& registered, const char* what) {
        if (registered || view.adapter.empty()) {
            return;
        }
        registered = true;
        proxy(view.adapter)
            .callMethodAsync(method)
            .onInterface(interface)
            .withArguments(sdbus::ObjectPath(path), Properties{})
            .uponReplyInvoke([this, &registered, what](const sdbus::Error* error) {
                if (error != nullptr) {
                    registered = false;
                    refused(what, *error);
                } else {
                    PLATFORM_LOG_INFO("BlueZ: ", what, " registered on ", view.adapter);
                }
            });
    }

    // Told on the loop, in order with everything else the radio reports.
    void refused(const char* what, const sdbus::Error& error) {
        post([what, name = error.getName(), message = error.getMessage()](BluezRadio&) {
            PLATFORM_LOG_WARN("BlueZ: ", what, " was not registered: ", name, ": ", message);
        });
    }

    void unregister(const char* interface, const char* method, const char* path) {
        if (view.adapter.empty() || owner.empty()) {
            return;
        }
        proxy(view.adapter)
            .callMethodAsync(method)
            .onInterface(interface)
            .withArguments(sdbus::ObjectPath(path))
            .uponReplyInvoke([](const sdbus::Error*) {
                // Already gone is as good as removed.
            });
    }

    void publish(const std::vector<MutableService>& services) {
        if (application && applicationRegistered) {
            unregister(kGattManager, "UnregisterApplication", kApplicationPath);
        }
        applicationRegistered = false;
        application.reset();
        if (!services.empty()) {
            application = std::make_unique<GattApplication>(
                connection(), services, nextCallId, [this](GattCall call) {
                    post([call = std::move(call)](BluezRadio& self) mutable {
                        self.gattCalled(std::move(call));
                    });
                });
            registerAll();
        }
    }

    void advertise(std::optional<AdvertisementData> data) {
        if (advertisement && advertisementRegistered) {
            unregister(kAdvertisingManager, "UnregisterAdvertisement", kAdvertisementPath);
        }
        advertisementRegistered = false;
        advertisement.reset();
        if (data) {
            advertisement = std::make_unique<LeAdvertisement>(connection(), *data, [this] {
                PLATFORM_LOG_INFO("BlueZ: the daemon released our advertisement");
                advertisementRegistered = false;
            });
            registerAll();
        }
    }

    void discover(bool on) {
        if (view.adapter.empty()) {
            return;
        }
        auto& adapter = proxy(view.adapter);
        const auto logged = [](const char* what) {
            return [what](const sdbus::Error* error) {
                if (error != nullptr) {
                    PLATFORM_LOG_WARN("BlueZ: ", what, ": ", error->getName(), ": ",
                                      error->getMessage());
                }
            };
        };
        if (on) {
            Properties filter;
            filter["Transport"] = sdbus::Variant(std::string("le"));
            filter["DuplicateData"] = sdbus::Variant(true);
            adapter.callMethodAsync("SetDiscoveryFilter")
                .onInterface(kAdapter)
                .withArguments(filter)
                .uponReplyInvoke(logged("SetDiscoveryFilter"));
            adapter.callMethodAsync("StartDiscovery")
                .onInterface(kAdapter)
                .uponReplyInvoke(logged("StartDiscovery"));
        } else {
            adapter.callMethodAsync("StopDiscovery")
                .onInterface(kAdapter)
                .uponReplyInvoke(logged("StopDiscovery"));
        }
    }

    void connectDevice(const std::string& path) {
        proxy(path)
            .callMethodAsync("Connect")
            .onInterface(kDevice)
            .withTimeout(kConnectTimeout)
            .uponReplyInvoke([this, path](const sdbus::Error* error) {
                std::optional<Error> failure;
                if (error != nullptr) {
                    failure = connectionError(error->getName(), error->getMessage());
                }
                post([path, failure](BluezRadio& self) { self.connectAnswered(path, failure); });
            });
    }

    void disconnectDevice(const std::string& path) {
        if (owner.empty()) {
            return;
        }
        if (application) {
            application->failCallsOf(path);
        }
        proxy(path).callMethodAsync("Disconnect").onInterface(kDevice).uponReplyInvoke(
            [](const sdbus::Error*) {});
    }
};

template <typename F>
void BluezRadio::toLoop(F&& work) {
    loop_.post([weak = weak_.weakPtr(), work = std::forward<F>(work)]() mutable {
        if (auto* self = weak.get()) {
            work(*self);
        }
    });
}

BluezRadio::BluezRadio(RunLoop& loop, const Uuid& identifier, UserDefaults& defaults,
                       BluezOptions options)
    : loop_(loop), identifier_(identifier), options_(std::move(options)), identities_(defaults) {
    try {
        bus_ = std::make_unique<Bus>(*this, options_);
        bus_->open();
    } catch (const sdbus::Error& error) {
        PLATFORM_LOG_DEBUG("BlueZ: no bus: ", error.getName(), ": ", error.getMessage());
        bus_.reset();
        return;
    }
    const AdapterView view = bus_->view;
    daemonSeen_ = view.daemon;
    adapterPath_ = view.adapter;
    state_ = !view.daemon || view.adapter.empty() ? ManagerState::unsupported
             : view.powered                       ? ManagerState::poweredOn
                                                  : ManagerState::poweredOff;
    for (const auto& [path, interfaces] : bus_->objects) {
        if (const auto device = interfaces.find(kDevice);
            device != interfaces.end() && bus_->onAdapter(path)) {
            Device& known = devices_[path];
            known.connected = connectedOf(device->second);
            known.rssi = rssiOf(device->second);
            known.advertisement = advertisementOf(device->second);
        }
    }
}

BluezRadio::~BluezRadio() {
    bus_.reset();
}

void BluezRadio::start(RadioClient& client, RunLoop& loop) {
    assert(&loop == &loop_ && "a radio serves the loop it was made for");
    (void)loop;
    {
        std::lock_guard lock(mutex_);
        client_ = &client;
    }
    if (bus_) {
        Bus* bus = bus_.get();
        bus_->thread.start([bus] {
            bus->post([](BluezRadio& self) {
                PLATFORM_LOG_WARN("BlueZ: lost the bus; Bluetooth is unsupported from now on");
                Calls calls;
                std::lock_guard lock(self.mutex_);
                self.setState(ManagerState::unsupported, calls);
                self.runCalls(calls);
            });
        });
    }
}

void BluezRadio::runCalls(Calls& calls) {
    // The caller holds mutex_; the client hears only once it is released.
    if (calls.empty()) {
        return;
    }
    loop_.post([weak = weak_.weakPtr(), calls = std::move(calls)] {
        if (weak.get() != nullptr) {
            for (const auto& call : calls) {
                call();
            }
        }
    });
    calls.clear();
}

void BluezRadio::setState(ManagerState state, Calls& calls) {
    if (state_ == state) {
        return;
    }
    const bool wasOn = state_ == ManagerState::poweredOn;
    state_ = state;
    if (wasOn) {
        // Links, pending connections, the scan and the advertisement end with the power; only
        // the state change tells.
        peripheralLinks_.clear();
        centralLinks_.clear();
        notifying_.clear();
        scanning_ = false;
        if (bus_) {
            bus_->thread.post([bus = bus_.get()] {
                bus->advertise(std::nullopt);
                bus->discover(false);
            });
        }
    }
    PLATFORM_LOG_INFO("BlueZ: Bluetooth is ", toString(state));
    calls.push_back([this, state] { client_->radioStateChanged(state); });
}

void BluezRadio::adapterChanged(const AdapterView& view) {
    Calls calls;
    std::lock_guard lock(mutex_);
    if (view.daemon) {
        daemonSeen_ = true;
    }
    if (view.adapter != adapterPath_) {
        // Devices are the adapter's: a new one starts with none.
        devices_.clear();
        if (state_ == ManagerState::poweredOn) {
            setState(ManagerState::resetting, calls);
        }
        adapterPath_ = view.adapter;
    }
    ManagerState next = ManagerState::unsupported;
    if (!view.daemon) {
        next = daemonSeen_ ? ManagerState::resetting : ManagerState::unsupported;
    } else if (!view.adapter.empty()) {
        next = view.powered ? ManagerState::poweredOn : ManagerState::poweredOff;
    }
    if (!view.daemon) {
        devices_.clear();
    }
    setState(next, calls);
    runCalls(calls);
}

void BluezRadio::deviceChanged(const DeviceUpdate& update) {
    Calls calls;
    std::lock_guard lock(mutex_);
    if (update.removed) {
        closeDevice(update.path, calls);
        devices_.erase(update.path);
        runCalls(calls);
        return;
    }
    Device& device = devices_[update.path];
    const bool wasConnected = device.connected;
    device.connected = update.connected;
    device.rssi = update.rssi;
    device.advertisement = update.advertisement;
    if (wasConnected && !device.connected) {
        closeDevice(update.path, calls);
    }
    if (scanning_ && update.heard && device.rssi && state_ == ManagerState::poweredOn) {
        const std::string name = DeviceIdentities::deviceName(update.path);
        if (!name.empty()) {
            const Uuid peer = identities_.identifierFor(name);
            calls.push_back([this, peer, data = device.advertisement, rssi = *device.rssi] {
                client_->advertisementReceived(peer, data, rssi);
            });
        }
    }
    runCalls(calls);
}

void BluezRadio::deviceDisconnected(const std::string& path, const std::string& reason) {
    std::lock_guard lock(mutex_);
    devices_[path].disconnectReason = reason;
}

void BluezRadio::closeDevice(const std::string& path, Calls& calls) {
    std::string reason;
    if (auto device = devices_.find(path); device != devices_.end()) {
        reason = std::exchange(device->second.disconnectReason, {});
    }
    const Error error = disconnectionError(reason);
    if (auto link = peripheralLinks_.find(path); link != peripheralLinks_.end()) {
        const LinkId id = link->second.id;
        peripheralLinks_.erase(link);
        if (bus_) {
            bus_->thread.post([bus = bus_.get(), path] {
                if (bus->application) {
                    bus->application->failCallsOf(path);
                }
            });
        }
        calls.push_back([this, id, error] { client_->linkClosed(id, error); });
    }
    if (auto link = centralLinks_.find(path); link != centralLinks_.end() && link->second.id != 0) {
        const LinkId id = link->second.id;
        centralLinks_.erase(link);
        calls.push_back([this, id, error] { client_->linkClosed(id, error); });
    }
}

void BluezRadio::startAdvertising(const AdvertisementData& data) {
    std::lock_guard lock(mutex_);
    if (bus_ && state_ == ManagerState::poweredOn) {
        bus_->thread.post([bus = bus_.get(), data] { bus->advertise(data); });
    }
}

void BluezRadio::stopAdvertising() {
    std::lock_guard lock(mutex_);
    if (bus_) {
        bus_->thread.post([bus = bus_.get()] { bus->advertise(std::nullopt); });
    }
}

void BluezRadio::startScanning() {
    Calls calls;
    std::lock_guard lock(mutex_);
    if (!bus_ || state_ != ManagerState::poweredOn || scanning_) {
        return;
    }
    scanning_ = true;
    bus_->thread.post([bus = bus_.get()] { bus->discover(true); });
    // What the daemon heard lately counts as heard now.
    for (const auto& [path, device] : devices_) {
        const std::string name = DeviceIdentities::deviceName(path);
        if (device.rssi && !name.empty()) {
            const Uuid peer = identities_.identifierFor(name);
            calls.push_back([this, peer, data = device.advertisement, rssi = *device.rssi] {
                client_->advertisementReceived(peer, data, rssi);
            });
        }
    }
    runCalls(calls);
}

void BluezRadio::stopScanning() {
    std::lock_guard lock(mutex_);
    if (bus_ && scanning_) {
        scanning_ = false;
        bus_->thread.post([bus = bus_.get()] { bus->discover(false); });
    }
}

bool BluezRadio::knows(const Uuid& peer) const {
    std::lock_guard lock(mutex_);
    return identities_.nameFor(peer).has_value();
}

void BluezRadio::connect(const Uuid& peer) {
    Calls calls;
    std::lock_guard lock(mutex_);
    const auto name = identities_.nameFor(peer);
    if (!bus_ || state_ != ManagerState::poweredOn || !name) {
        const Error error = makeError(ErrorCode::connectionFailed, "no such device on the adapter");
        calls.push_back([this, peer, error] { client_->connectFailed(peer, error); });
        runCalls(calls);
        return;
    }
    const std::string path = adapterPath_ + "/" + *name;
    if (centralLinks_.contains(path)) {
        return;
    }
    centralLinks_[path] = CentralLink{0, peer, false};
    bus_->thread.post([bus = bus_.get(), path] { bus->connectDevice(path); });
}

void BluezRadio::cancelConnect(const Uuid& peer) {
    std::lock_guard lock(mutex_);
    for (auto& [path, link] : centralLinks_) {
        if (link.peer == peer && link.id == 0 && !link.cancelled) {
            link.cancelled = true;
            if (!peripheralLinks_.contains(path)) {
                bus_->thread.post(
                    [bus = bus_.get(), path = path] { bus->disconnectDevice(path); });
            }
        }
    }
}

void BluezRadio::connectAnswered(const std::string& path, std::optional<Error> error) {
    Calls calls;
    std::lock_guard lock(mutex_);
    const auto found = centralLinks_.find(path);
    if (found == centralLinks_.end() || found->second.id != 0) {
        runCalls(calls);
        return;
    }
    CentralLink& link = found->second;
    if (link.cancelled) {
        if (!error && bus_ && !peripheralLinks_.contains(path)) {
            bus_->thread.post([bus = bus_.get(), path] { bus->disconnectDevice(path); });
        }
        centralLinks_.erase(found);
    } else if (error) {
        const Uuid peer = link.peer;
        centralLinks_.erase(found);
        calls.push_back([this, peer, error = *error] { client_->connectFailed(peer, error); });
    } else {
        link.id = nextLink_++;
        calls.push_back([this, id = link.id, peer = link.peer] {
            client_->linkOpened(id, peer, LinkRole::central);
        });
    }
    runCalls(calls);
}

void BluezRadio::disconnect(LinkId link) {
    std::lock_guard lock(mutex_);
    std::string device;
    for (auto it = centralLinks_.begin(); it != centralLinks_.end(); ++it) {
        if (it->second.id == link) {
            device = it->first;
            centralLinks_.erase(it);
            break;
        }
    }
    for (auto it = peripheralLinks_.begin(); it != peripheralLinks_.end(); ++it) {
        if (it->second.id == link) {
            device = it->first;
            peripheralLinks_.erase(it);
            break;
        }
    }
    // One connection carries both roles with a device: while the other role still uses it,
    // this side only stops using it.
    const auto central = centralLinks_.find(device);
    const bool inUse = peripheralLinks_.contains(device) ||
                       (central != centralLinks_.end() && central->second.id != 0);
    if (!device.empty() && bus_ && !inUse) {
        bus_->thread.post([bus = bus_.get(), device] { bus->disconnectDevice(device); });
    }
}

void BluezRadio::servicesChanged(const std::vector<MutableService>& services) {
    std::lock_guard lock(mutex_);
    // The stack numbers its attributes the same way for the same services: its database is
    // rebuilt here to learn the handles its PDUs name.
    GattDatabase database;
    valueHandles_.clear();
    configurationHandles_.clear();
    notifying_.clear();
    for (const auto& service : services) {
        (void)database.add(service);
    }
    for (const auto& attribute : database.attributes()) {
        if (attribute.kind == GattAttribute::Kind::value) {
            valueHandles_.push_back(attribute.handle);
            configurationHandles_.push_back(0);
        } else if (attribute.kind == GattAttribute::Kind::clientConfiguration &&
                   !configurationHandles_.empty()) {
            configurationHandles_.back() = attribute.handle;
        }
    }
    // What the stack still owes on its links stays expected: its answers come in order, and
    // those for the calls of the application that goes now find nobody waiting.
    if (bus_) {
        bus_->thread.post([bus = bus_.get(), services] { bus->publish(services); });
    }
}

BluezRadio::PeripheralLink& BluezRadio::peripheralLinkFor(const std::string& device,
                                                          Calls& calls) {
    if (auto found = peripheralLinks_.find(device); found != peripheralLinks_.end()) {
        return found->second;
    }
    PeripheralLink& link = peripheralLinks_[device];
    link.id = nextLink_++;
    link.device = device;
    const Uuid peer = identities_.identifierFor(DeviceIdentities::deviceName(device));
    calls.push_back([this, id = link.id, peer] {
        client_->linkOpened(id, peer, LinkRole::peripheral);
    });
    for (std::size_t characteristic : notifying_) {
        subscribe(link, characteristic, true, calls);
    }
    return link;
}

void BluezRadio::subscribe(PeripheralLink& link, std::size_t characteristic, bool subscribed,
                           Calls& calls) {
    if (characteristic >= configurationHandles_.size() ||
        configurationHandles_[characteristic] == 0) {
        return;
    }
    Bytes pdu = att::Writer(att::writeRequest)
                    .u16(configurationHandles_[characteristic])
                    .u16(subscribed ? 0x0001 : 0x0000)
                    .take();
    deliver(link, std::move(pdu), Expected{}, calls);
}

void BluezRadio::deliver(PeripheralLink& link, Bytes pdu, Expected expected, Calls& calls) {
    if (!att::isCommand(pdu[0])) {
        link.expected.push_back(expected);
    }
    calls.push_back([this, id = link.id, pdu = std::move(pdu)]() mutable {
        std::vector<Bytes> pdus;
        pdus.push_back(std::move(pdu));
        client_->pdusReceived(id, std::move(pdus));
    });
}

void BluezRadio::gattCalled(GattCall call) {
    Calls calls;
    std::lock_guard lock(mutex_);
    const auto refuse = [&](const char* name, const char* message) {
        if (bus_) {
            bus_->thread.post([bus = bus_.get(), id = call.id, name, message] {
                if (bus->application) {
                    bus->application->replyError(id, name, message);
                }
            });
        }
    };
    if (state_ != ManagerState::poweredOn || call.characteristic >= valueHandles_.size()) {
        refuse(kErrorNotReady, "Bluetooth is not on");
        return;
    }
    using Kind = GattCall::Kind;
    if (call.kind == Kind::startNotify || call.kind == Kind::stopNotify) {
        const bool on = call.kind == Kind::startNotify;
        if (on) {
            notifying_.insert(call.characteristic);
            // bluetoothd does not say who subscribed: every connected device might have.
            for (const auto& [path, device] : devices_) {
                if (device.connected && !peripheralLinks_.contains(path)) {
                    peripheralLinkFor(path, calls);
                }
            }
        } else {
            notifying_.erase(call.characteristic);
        }
        for (auto& [path, link] : peripheralLinks_) {
            subscribe(link, call.characteristic, on, calls);
        }
        runCalls(calls);
        return;
    }
    if (DeviceIdentities::deviceName(call.device).empty()) {
        refuse(kErrorFailed, "no device given");
        return;
    }
    PeripheralLink& link = peripheralLinkFor(call.device, calls);
    if (!link.mtuTold && call.mtu && *call.mtu > att::kDefaultMtu) {
        // The daemon negotiated the MTU and names it on every call; the stack learns it as that
        // central's exchange, once. A link opened by a subscription learns it on the first call.
        link.mtuTold = true;
        deliver(link, att::Writer(att::exchangeMtuRequest).u16(*call.mtu).take(), Expected{},
                calls);
    }
    const std::uint16_t handle = valueHandles_[call.characteristic];
    switch (call.kind) {
        case Kind::read:
            deliver(link, att::Writer(att::readRequest).u16(handle).take(),
                    Expected{call.id, call.offset}, calls);
            break;
        case Kind::write:
            if (call.offset != 0) {
                refuse(kErrorNotSupported, "long writes are not supported");
                break;
            }
            deliver(link, att::Writer(att::writeRequest).u16(handle).bytes(call.value).take(),
                    Expected{call.id, 0}, calls);
            break;
        case Kind::writeCommand:
            deliver(link, att::Writer(att::writeCommand).u16(handle).bytes(call.value).take(),
                    Expected{}, calls);
            break;
        default:
            break;
    }
    runCalls(calls);
}

SendResult BluezRadio::send(LinkId id, Bytes pdu, bool flowControlled) {
    std::lock_guard lock(mutex_);
    PeripheralLink* link = nullptr;
    for (auto& [path, candidate] : peripheralLinks_) {
        if (candidate.id == id) {
            link = &candidate;
        }
    }
    if (link == nullptr || pdu.empty() || state_ != ManagerState::poweredOn) {
        return SendResult::refused;
    }
    att::Reader in(pdu);
    const std::uint8_t opcode = in.u8();
    if (opcode == att::handleValueNotification) {
        const std::uint16_t handle = in.u16();
        const auto found = std::find(valueHandles_.begin(), valueHandles_.end(), handle);
        if (!in.ok() || found == valueHandles_.end() || !bus_) {
            return SendResult::refused;
        }
        if (flowControlled && link->queued >= options_.transmitQueueCapacity) {
            link->owedReady = true;
            return SendResult::queueFull;
        }
        ++link->queued;
        const auto index = static_cast<std::size_t>(found - valueHandles_.begin());
        const auto value = in.rest();
        bus_->thread.post([bus = bus_.get(), index, value = Bytes(value.begin(), value.end()), id] {
            if (bus->application) {
                bus->application->notify(index, value);
            }
            bus->post([id](BluezRadio& self) { self.notificationSent(id); });
        });
        return SendResult::queued;
    }
    if (link->expected.empty()) {
        return SendResult::refused;
    }
    const Expected expected = link->expected.front();
    link->expected.erase(link->expected.begin());
    answer(expected, pdu);
    return SendResult::queued;
}

void BluezRadio::answer(const Expected& expected, std::span<const std::uint8_t> pdu) {
    if (!expected.call || !bus_) {
        return;
    }
    const std::uint64_t id = *expected.call;
    att::Reader in(pdu);
    const std::uint8_t opcode = in.u8();
    std::function<void(GattApplication&)> reply;
    if (opcode == att::errorResponse) {
        in.u8();
        in.u16();
        const auto code = static_cast<AttError>(in.u8());
        reply = [id, code](GattApplication& application) {
            char text[16];
            std::snprintf(text, sizeof text, "ATT error 0x%02X", static_cast<unsigned>(code));
            application.replyError(id, errorNameFor(code), text);
        };
    } else if (opcode == att::readResponse) {
        const auto value = in.rest();
        if (expected.offset > value.size()) {
            reply = [id](GattApplication& application) {
                application.replyError(id, kErrorInvalidOffset, "offset past the value's end");
            };
        } else {
            Bytes piece(value.begin() + expected.offset, value.end());
            reply = [id, piece = std::move(piece)](GattApplication& application) {
                application.replyRead(id, piece);
            };
        }
    } else {
        reply = [id](GattApplication& application) { application.replyWrite(id); };
    }
    bus_->thread.post([bus = bus_.get(), reply = std::move(reply)] {
        if (bus->application) {
            reply(*bus->application);
        }
    });
}

void BluezRadio::notificationSent(LinkId id) {
    Calls calls;
    std::lock_guard lock(mutex_);
    for (auto& [path, link] : peripheralLinks_) {
        if (link.id == id) {
            --link.queued;
            if (link.owedReady) {
                link.owedReady = false;
                calls.push_back([this, id] { client_->linkReady(id); });
            }
        }
    }
    runCalls(calls);
}

}  // namespace platform::bluetooth::bluez
