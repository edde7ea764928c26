#include "support/FakeBluez.h"

#include <sdbus-c++/sdbus-c++.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <future>
#include <set>
#include <utility>

#include "platform/bluetooth/AttServer.h"
#include "platform/bluetooth/GattDatabase.h"
#include "platform/dbus/BusThread.h"

namespace testing_support {

using platform::Bytes;
using platform::RunLoop;
using namespace platform::bluetooth;

namespace {

constexpr const char* kName = "org.bluez";
constexpr const char* kAdapter = "org.bluez.Adapter1";
constexpr const char* kDevice = "org.bluez.Device1";
constexpr const char* kGattManager = "org.bluez.GattManager1";
constexpr const char* kAdvertisingManager = "org.bluez.LEAdvertisingManager1";
constexpr const char* kService = "org.bluez.GattService1";
constexpr const char* kCharacteristic = "org.bluez.GattCharacteristic1";
constexpr const char* kDescriptor = "org.bluez.GattDescriptor1";
constexpr const char* kAdvertisement = "org.bluez.LEAdvertisement1";
constexpr const char* kObjectManager = "org.freedesktop.DBus.ObjectManager";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";

using Properties = std::map<std::string, sdbus::Variant>;
using Interfaces = std::map<std::string, Properties>;
using ManagedObjects = std::map<sdbus::ObjectPath, Interfaces>;

const std::set<std::string> kCharacteristicFlags{
    "broadcast", "read", "write-without-response", "write", "notify", "indicate",
    "authenticated-signed-writes", "extended-properties", "reliable-write", "writable-auxiliaries",
    "encrypt-read", "encrypt-write", "encrypt-authenticated-read",
    "encrypt-authenticated-write", "secure-read", "secure-write", "authorize"};
const std::set<std::string> kAdvertisementProperties{
    "Type", "ServiceUUIDs", "ManufacturerData", "SolicitUUIDs", "ServiceData", "Data",
    "Discoverable", "DiscoverableTimeout", "Includes", "LocalName", "Appearance", "Duration",
    "Timeout", "SecondaryChannel", "MinInterval", "MaxInterval", "TxPower"};

template <typename T>
std::optional<T> get(const Properties& properties, const std::string& name) {
    const auto found = properties.find(name);
    if (found == properties.end() || !found->second.containsValueOfType<T>()) {
        return std::nullopt;
    }
    return found->second.get<T>();
}

// BlueZ names UUIDs in their 36-character form.
bool isUuidText(const std::string& text) {
    return text.size() == 36 && Uuid::parse(text).has_value();
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

AttError attErrorOfName(const std::string& name, bool write) {
    if (name == "org.bluez.Error.NotPermitted") {
        return write ? AttError::writeNotPermitted : AttError::readNotPermitted;
    }
    if (name == "org.bluez.Error.InvalidValueLength") {
        return AttError::invalidAttributeValueLength;
    }
    if (name == "org.bluez.Error.NotSupported") {
        return AttError::requestNotSupported;
    }
    if (name == "org.bluez.Error.InvalidOffset") {
        return AttError::invalidOffset;
    }
    return AttError::unlikelyError;
}

}  // namespace

struct Endpoint;

// The daemon's ATT side of one device's connection: what the device asks of the phone's
// application becomes calls on it.
struct DeviceHost final : AttServer::Host {
    DeviceHost(FakeBluez::Daemon& daemon, std::weak_ptr<Endpoint> endpoint)
        : daemon(daemon), endpoint(std::move(endpoint)) {}
    void sendPdu(Bytes pdu) override;
    void readRequested(const GattAttribute& value) override;
    void writeRequested(const GattAttribute& value, Bytes data, bool withResponse) override;
    void subscriptionChanged(const GattAttribute& value, bool subscribed) override;

    FakeBluez::Daemon& daemon;
    std::weak_ptr<Endpoint> endpoint;
};

// A simulated device on the air. The radio's side (client, attached) is the loop's; the rest
// is the bus thread's.
struct Endpoint {
    Uuid identifier;
    std::string address;
    std::string path;
    RadioClient* client = nullptr;
    bool attached = true;

    bool present = true;
    std::optional<AdvertisementData> advertising;
    bool scanning = false;
    bool wantsPhone = false;
    bool connected = false;
    LinkId centralLink = 0;     // the device is the central, our phone's application its server
    LinkId peripheralLink = 0;  // the phone connected to the device
    std::unique_ptr<AttServer> att;
    std::unique_ptr<DeviceHost> host;
    std::unique_ptr<sdbus::IObject> object;
};

struct FakeBluez::Daemon {
    Daemon(const std::string& address, RunLoop& loop, const Uuid& phone)
        : thread(address, "BlueZ"), loop(loop), phone(phone) {}

    platform::dbus::BusThread thread;
    RunLoop& loop;
    const Uuid phone;

    bool running = false;
    bool adapterPresent = true;
    bool powered = true;
    bool discovering = false;
    std::string transport;
    std::unique_ptr<sdbus::IObject> root;
    std::unique_ptr<sdbus::IObject> adapter;
    std::vector<std::shared_ptr<Endpoint>> endpoints;
    std::map<std::string, std::string> failures;
    LinkId nextLink = 1;

    // The registered application: its owner, the tree as read, and the database its ATT side
    // serves, whose value handles map to characteristic paths.
    std::string appSender;
    std::string appPath;
    PublishedGatt published;
    std::unique_ptr<GattDatabase> database;
    std::map<std::uint16_t, std::string> characteristicPaths;
    int applicationRegistrations = 0;
    int refusals = 0;
    sdbus::Slot valueChanges;

    std::string advertisementSender;
    std::optional<PublishedAdvertisement> advertisementSeen;
    std::optional<AdvertisementData> advertised;
    int advertisementRegistrations = 0;

    bool holding = false;
    std::deque<std::pair<std::weak_ptr<Endpoint>, Bytes>> held;
    int notificationsDelivered = 0;

    std::map<std::string, std::unique_ptr<sdbus::IProxy>> proxies;

    sdbus::IConnection& bus() { return thread.connection(); }

    template <typename R>
    R ask(std::function<R()> question) {
        auto promise = std::make_shared<std::promise<R>>();
        auto answer = promise->get_future();
        thread.post([promise, question = std::move(question)] { promise->set_value(question()); });
        return answer.get();
    }
    void wait(std::function<void()> work) {
        ask<bool>([&work] {
            work();
            return true;
        });
    }

    // Tells the loop that something changed here, so a test waiting on it looks again.
    void wake() {
        loop.post([] {});
    }

    std::optional<std::string> takeFailure(const std::string& method) {
        const auto found = failures.find(method);
        if (found == failures.end()) {
            return std::nullopt;
        }
        std::string name = found->second;
        failures.erase(found);
        ++refusals;
        return name;
    }

    // To a device's radio, on the loop.
    void toDevice(const std::shared_ptr<Endpoint>& endpoint,
                  std::function<void(RadioClient&)> event) {
        loop.post([endpoint, event = std::move(event)] {
            if (endpoint->attached && endpoint->client != nullptr) {
                event(*endpoint->client);
            }
        });
    }

    sdbus::IProxy& appProxy(const std::string& path) {
        auto& entry = proxies[appSender + path];
        if (!entry) {
            entry = sdbus::createProxy(bus(), appSender, path);
            entry->finishRegistration();
        }
        return *entry;
    }

    // ---- the daemon on the bus

    void up() {
        running = true;
        bus().requestName(kName);
        root = sdbus::createObject(bus(), "/");
        root->addObjectManager();
        root->finishRegistration();
        if (adapterPresent) {
            makeAdapter();
        }
    }

    void down() {
        // A crash: no InterfacesRemoved, the name simply goes.
        running = false;
        for (auto& endpoint : endpoints) {
            endConnection(endpoint, "");
            endpoint->object.reset();
        }
        forgetRegistrations();
        adapter.reset();
        root.reset();
        proxies.clear();
        discovering = false;
        bus().releaseName(kName);
    }

    void forgetRegistrations() {
        appSender.clear();
        appPath.clear();
        database.reset();
        characteristicPaths.clear();
        valueChanges.reset();
        advertisementSender.clear();
        advertised.reset();
    }

    void makeAdapter() {
        adapter = sdbus::createObject(bus(), kAdapterPath);
        auto& object = *adapter;
        object.registerProperty("Address").onInterface(kAdapter).withGetter([] {
            return std::string("00:1A:7D:DA:71:13");
        });
        object.registerProperty("Name").onInterface(kAdapter).withGetter([] {
            return std::string("phone");
        });
        object.registerProperty("Powered")
            .onInterface(kAdapter)
            .withGetter([this] { return powered; })
            .withSetter([this](const bool& on) { setPowered(on); });
        object.registerProperty("Discovering").onInterface(kAdapter).withGetter([this] {
            return discovering;
        });
        object.registerMethod("SetDiscoveryFilter")
            .onInterface(kAdapter)
            .implementedAs([this](const Properties& filter) {
                failIfAsked("SetDiscoveryFilter");
                transport = get<std::string>(filter, "Transport").value_or("auto");
                wake();
            });
        object.registerMethod("StartDiscovery").onInterface(kAdapter).implementedAs([this] {
            failIfAsked("StartDiscovery");
            if (!powered) {
                throw sdbus::Error("org.bluez.Error.NotReady", "Resource Not Ready");
            }
            discovering = true;
            wake();
            adapter->emitPropertiesChangedSignal(kAdapter, {"Discovering"});
            for (auto& endpoint : endpoints) {
                heard(endpoint);
            }
        });
        object.registerMethod("StopDiscovery").onInterface(kAdapter).implementedAs([this] {
            discovering = false;
            wake();
            adapter->emitPropertiesChangedSignal(kAdapter, {"Discovering"});
        });
        object.registerMethod("RegisterApplication")
            .onInterface(kGattManager)
            .implementedAs([this](sdbus::Result<>&& result, sdbus::ObjectPath path, Properties) {
                registerApplication(std::move(result), adapter->getCurrentlyProcessedMessage()->getSender(), path);
            });
        object.registerMethod("UnregisterApplication")
            .onInterface(kGattManager)
            .implementedAs([this](sdbus::ObjectPath path) {
                if (path != appPath) {
                    throw sdbus::Error("org.bluez.Error.DoesNotExist", "Does Not Exist");
                }
                for (auto& endpoint : endpoints) {
                    endConnection(endpoint, "org.bluez.Reason.Local");
                }
                appSender.clear();
                appPath.clear();
                database.reset();
                characteristicPaths.clear();
                valueChanges.reset();
                wake();
            });
        object.registerMethod("RegisterAdvertisement")
            .onInterface(kAdvertisingManager)
            .implementedAs([this](sdbus::Result<>&& result, sdbus::ObjectPath path, Properties) {
                registerAdvertisement(std::move(result),
                                      adapter->getCurrentlyProcessedMessage()->getSender(), path);
            });
        object.registerMethod("UnregisterAdvertisement")
            .onInterface(kAdvertisingManager)
            .implementedAs([this](sdbus::ObjectPath) {
                advertisementSender.clear();
                advertised.reset();
                wake();
            });
        object.registerProperty("ActiveInstances").onInterface(kAdvertisingManager).withGetter(
            [this] { return static_cast<std::uint8_t>(advertised ? 1 : 0); });
        object.registerProperty("SupportedInstances")
            .onInterface(kAdvertisingManager)
            .withGetter([] { return std::uint8_t{4}; });
        object.finishRegistration();
        object.emitInterfacesAddedSignal();
    }

    void failIfAsked(const std::string& method) {
        if (auto name = takeFailure(method)) {
            throw sdbus::Error(*name, "failing as asked");
        }
    }

    void setPowered(bool on) {
        if (powered == on) {
            return;
        }
        powered = on;
        if (!on) {
            discovering = false;
            for (auto& endpoint : endpoints) {
                endConnection(endpoint, "org.bluez.Reason.Local");
            }
        }
        if (adapter) {
            adapter->emitPropertiesChangedSignal(kAdapter, {"Powered", "Discovering"});
        }
        tryConnections();
    }

    void removeAdapter() {
        adapterPresent = false;
        if (!adapter) {
            return;
        }
        for (auto& endpoint : endpoints) {
            endConnection(endpoint, "");
            if (endpoint->object) {
                endpoint->object->emitInterfacesRemovedSignal();
                endpoint->object.reset();
            }
        }
        forgetRegistrations();
        discovering = false;
        adapter->emitInterfacesRemovedSignal();
        adapter.reset();
    }

    void addAdapter() {
        adapterPresent = true;
        if (running && !adapter) {
            makeAdapter();
        }
    }

    // ---- the application and the advertisement

    void registerApplication(sdbus::Result<> result, const std::string& sender,
                             const std::string& path) {
        if (auto name = takeFailure("RegisterApplication")) {
            result.returnError(sdbus::Error(*name, "failing as asked"));
            return;
        }
        if (!appPath.empty()) {
            result.returnError(sdbus::Error("org.bluez.Error.AlreadyExists", "Already Exists"));
            return;
        }
        appSender = sender;
        appPath = path;
        auto answer = std::make_shared<sdbus::Result<>>(std::move(result));
        appProxy(path).callMethodAsync("GetManagedObjects").onInterface(kObjectManager).uponReplyInvoke(
            [this, result = answer](const sdbus::Error* error,
                                                     ManagedObjects objects) {
                if (error != nullptr) {
                    appPath.clear();
                    result->returnError(
                        sdbus::Error("org.bluez.Error.Failed", "the application did not answer"));
                    return;
                }
                published = readTree(objects);
                if (!published.problems.empty()) {
                    appPath.clear();
                    result->returnError(sdbus::Error("org.bluez.Error.InvalidArguments",
                                                    published.problems.front()));
                    return;
                }
                ++applicationRegistrations;
                valueChanges = bus().addMatch(
                    "type='signal',interface='org.freedesktop.DBus.Properties',"
                    "member='PropertiesChanged',path_namespace='" + appPath + "'",
                    [this](sdbus::Message& message) { valueChanged(message); });
                result->returnResults();
                wake();
                tryConnections();
            });
    }

    PublishedGatt readTree(const ManagedObjects& objects) {
        PublishedGatt tree;
        std::vector<MutableService> services;
        std::map<std::string, std::size_t> serviceIndex;
        std::vector<std::pair<std::string, MutableCharacteristic>> characteristics;
        std::vector<std::string> characteristicServices;
        for (const auto& [path, interfaces] : objects) {
            if (!std::string(path).starts_with(appPath + "/")) {
                tree.problems.push_back(path + " is outside the application");
            }
            int gatt = 0;
            for (const auto& [name, properties] : interfaces) {
                if (name.starts_with("org.freedesktop.DBus.")) {
                    continue;
                }
                ++gatt;
                if (name == kService) {
                    PublishedGatt::Service service{path, get<std::string>(properties, "UUID").value_or(""),
                                                   get<bool>(properties, "Primary").value_or(false)};
                    if (!isUuidText(service.uuid) || !properties.contains("Primary")) {
                        tree.problems.push_back(path + ": a service needs UUID (s) and Primary (b)");
                    }
                    serviceIndex[path] = services.size();
                    services.push_back(MutableService{Uuid::parse(service.uuid).value_or(Uuid{}),
                                                      service.primary, {}});
                    tree.services.push_back(service);
                } else if (name == kCharacteristic) {
                    PublishedGatt::Characteristic characteristic;
                    characteristic.path = path;
                    characteristic.uuid = get<std::string>(properties, "UUID").value_or("");
                    characteristic.service =
                        get<sdbus::ObjectPath>(properties, "Service").value_or(sdbus::ObjectPath{});
                    characteristic.flags =
                        get<std::vector<std::string>>(properties, "Flags").value_or(
                            std::vector<std::string>{});
                    characteristic.notifying = get<bool>(properties, "Notifying").value_or(false);
                    if (!isUuidText(characteristic.uuid) || !properties.contains("Flags") ||
                        !properties.contains("Service")) {
                        tree.problems.push_back(path +
                                                ": a characteristic needs UUID (s), Service (o) "
                                                "and Flags (as)");
                    }
                    if (properties.contains("Value") &&
                        !properties.at("Value").containsValueOfType<Bytes>()) {
                        tree.problems.push_back(path + ": Value is not ay");
                    }
                    MutableCharacteristic made;
                    made.uuid = Uuid::parse(characteristic.uuid).value_or(Uuid{});
                    for (const auto& flag : characteristic.flags) {
                        if (!kCharacteristicFlags.contains(flag)) {
                            tree.problems.push_back(path + ": unknown flag " + flag);
                        }
                        if (flag == "read" || flag == "encrypt-read") {
                            made.properties = made.properties | CharacteristicProperties::read;
                            made.permissions = made.permissions | AttributePermissions::readable;
                        } else if (flag == "write" || flag == "encrypt-write") {
                            made.properties = made.properties | CharacteristicProperties::write;
                            made.permissions = made.permissions | AttributePermissions::writeable;
                        } else if (flag == "write-without-response") {
                            made.properties =
                                made.properties | CharacteristicProperties::writeWithoutResponse;
                            made.permissions = made.permissions | AttributePermissions::writeable;
                        } else if (flag == "notify") {
                            made.properties = made.properties | CharacteristicProperties::notify;
                        }
                    }
                    characteristics.emplace_back(path, made);
                    characteristicServices.push_back(characteristic.service);
                    tree.characteristics.push_back(characteristic);
                } else if (name == kDescriptor) {
                    const auto uuid = Uuid::parse(get<std::string>(properties, "UUID").value_or(""));
                    if (uuid == Uuid::fromShort(0x2902)) {
                        tree.problems.push_back(path + ": the client configuration is the daemon's");
                    }
                } else {
                    tree.problems.push_back(path + ": unexpected interface " + name);
                }
            }
            if (gatt != 1) {
                tree.problems.push_back(path + " has " + std::to_string(gatt) +
                                        " GATT interfaces, not one");
            }
        }
        for (std::size_t i = 0; i < characteristics.size(); ++i) {
            const auto service = serviceIndex.find(characteristicServices[i]);
            if (service == serviceIndex.end()) {
                tree.problems.push_back(characteristics[i].first + ": Service names no service");
                continue;
            }
            services[service->second].characteristics.push_back(characteristics[i].second);
        }
        database = std::make_unique<GattDatabase>();
        characteristicPaths.clear();
        for (const auto& service : services) {
            if (auto added = database->add(service); !added) {
                tree.problems.push_back("the services do not make a database: " +
                                        added.error().message);
            }
        }
        // Characteristics take their value handles in the order they were added.
        std::vector<std::string> order;
        for (const auto& service : services) {
            for (std::size_t i = 0; i < characteristics.size(); ++i) {
                if (serviceIndex.contains(characteristicServices[i]) &&
                    &services[serviceIndex.at(characteristicServices[i])] == &service) {
                    order.push_back(characteristics[i].first);
                }
            }
        }
        std::size_t next = 0;
        for (const auto& attribute : database->attributes()) {
            if (attribute.kind == GattAttribute::Kind::value && next < order.size()) {
                characteristicPaths[attribute.handle] = order[next++];
            }
        }
        return tree;
    }

    void registerAdvertisement(sdbus::Result<> result, const std::string& sender,
                               const std::string& path) {
        if (auto name = takeFailure("RegisterAdvertisement")) {
            result.returnError(sdbus::Error(*name, "failing as asked"));
            return;
        }
        if (!advertisementSender.empty()) {
            result.returnError(sdbus::Error("org.bluez.Error.AlreadyExists", "Already Exists"));
            return;
        }
        advertisementSender = sender;
        auto& proxy = *(proxies[sender + path] = sdbus::createProxy(bus(), sender, path));
        proxy.finishRegistration();
        auto answer = std::make_shared<sdbus::Result<>>(std::move(result));
        proxy.callMethodAsync("GetAll").onInterface(kProperties).withArguments(
            std::string(kAdvertisement)).uponReplyInvoke(
            [this, result = answer](const sdbus::Error* error,
                                                     Properties properties) {
                if (error != nullptr) {
                    advertisementSender.clear();
                    result->returnError(sdbus::Error("org.bluez.Error.Failed", "no properties"));
                    return;
                }
                PublishedAdvertisement seen;
                AdvertisementData data;
                seen.type = get<std::string>(properties, "Type").value_or("");
                if (seen.type != "peripheral" && seen.type != "broadcast") {
                    seen.problems.push_back("Type must be peripheral or broadcast");
                }
                for (const auto& [name, value] : properties) {
                    if (!kAdvertisementProperties.contains(name)) {
                        seen.problems.push_back("unknown property " + name);
                    }
                }
                using List = std::vector<std::string>;
                seen.serviceUuids = get<List>(properties, "ServiceUUIDs").value_or(List{});
                seen.solicitUuids = get<List>(properties, "SolicitUUIDs").value_or(List{});
                for (const auto* list : {&seen.serviceUuids, &seen.solicitUuids}) {
                    for (const auto& text : *list) {
                        if (!isUuidText(text)) {
                            seen.problems.push_back("not a UUID: " + text);
                        }
                    }
                }
                for (const auto& text : seen.serviceUuids) {
                    data.serviceUuids.push_back(Uuid::parse(text).value_or(Uuid{}));
                }
                for (const auto& text : seen.solicitUuids) {
                    data.solicitedServiceUuids.push_back(Uuid::parse(text).value_or(Uuid{}));
                }
                using Manufacturer = std::map<std::uint16_t, sdbus::Variant>;
                if (properties.contains("ManufacturerData") &&
                    !properties.at("ManufacturerData").containsValueOfType<Manufacturer>()) {
                    seen.problems.push_back("ManufacturerData is not a{qv}");
                }
                for (const auto& [company, value] :
                     get<Manufacturer>(properties, "ManufacturerData").value_or(Manufacturer{})) {
                    if (!value.containsValueOfType<Bytes>()) {
                        seen.problems.push_back("manufacturer data is not ay");
                        continue;
                    }
                    seen.manufacturerData[company] = value.get<Bytes>();
                    Bytes bytes{static_cast<std::uint8_t>(company),
                                static_cast<std::uint8_t>(company >> 8)};
                    const auto payload = value.get<Bytes>();
                    bytes.insert(bytes.end(), payload.begin(), payload.end());
                    data.manufacturerData = std::move(bytes);
                }
                seen.localName = get<std::string>(properties, "LocalName");
                data.localName = seen.localName;
                advertisementSeen = seen;
                if (!seen.problems.empty()) {
                    advertisementSender.clear();
                    result->returnError(
                        sdbus::Error("org.bluez.Error.InvalidArguments", seen.problems.front()));
                    return;
                }
                ++advertisementRegistrations;
                advertised = data;
                result->returnResults();
                wake();
                for (auto& endpoint : endpoints) {
                    if (endpoint->scanning) {
                        toDevice(endpoint, [phone = phone, data](RadioClient& client) {
                            client.advertisementReceived(phone, data, -45);
                        });
                    }
                }
            });
    }

    // ---- devices

    void ensureDeviceObject(const std::shared_ptr<Endpoint>& endpoint) {
        if (endpoint->object || !adapter) {
            return;
        }
        auto object = sdbus::createObject(bus(), endpoint->path);
        Endpoint* device = endpoint.get();
        object->registerProperty("Address").onInterface(kDevice).withGetter(
            [device] { return device->address; });
        object->registerProperty("AddressType").onInterface(kDevice).withGetter(
            [] { return std::string("random"); });
        object->registerProperty("Adapter").onInterface(kDevice).withGetter(
            [] { return sdbus::ObjectPath(kAdapterPath); });
        object->registerProperty("Name").onInterface(kDevice).withGetter([device] {
            return device->advertising ? device->advertising->localName.value_or("") : "";
        });
        object->registerProperty("Connected").onInterface(kDevice).withGetter(
            [device] { return device->connected; });
        object->registerProperty("Paired").onInterface(kDevice).withGetter([] { return false; });
        object->registerProperty("RSSI").onInterface(kDevice).withGetter(
            [] { return std::int16_t{-52}; });
        object->registerProperty("UUIDs").onInterface(kDevice).withGetter([device] {
            std::vector<std::string> uuids;
            if (device->advertising) {
                for (const auto& uuid : device->advertising->serviceUuids) {
                    uuids.push_back(lower(uuid.toLongString()));
                }
            }
            return uuids;
        });
        object->registerProperty("ManufacturerData").onInterface(kDevice).withGetter([device] {
            std::map<std::uint16_t, sdbus::Variant> data;
            if (device->advertising && device->advertising->manufacturerData &&
                device->advertising->manufacturerData->size() >= 2) {
                const Bytes& bytes = *device->advertising->manufacturerData;
                data[static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8))] =
                    sdbus::Variant(Bytes(bytes.begin() + 2, bytes.end()));
            }
            return data;
        });
        object->registerProperty("AdvertisingData").onInterface(kDevice).withGetter([device] {
            std::map<std::uint8_t, sdbus::Variant> data;
            if (device->advertising && !device->advertising->solicitedServiceUuids.empty()) {
                Bytes solicited;
                for (const auto& uuid : device->advertising->solicitedServiceUuids) {
                    auto bytes = uuid.bytes();
                    solicited.insert(solicited.end(), bytes.rbegin(), bytes.rend());
                }
                data[0x15] = sdbus::Variant(solicited);
            }
            return data;
        });
        object->registerMethod("Connect").onInterface(kDevice).implementedAs(
            [this, device] { phoneConnects(*device); });
        object->registerMethod("Disconnect").onInterface(kDevice).implementedAs([this, device] {
            if (auto endpoint = find(*device)) {
                endConnection(endpoint, "org.bluez.Reason.Local");
            }
        });
        object->registerSignal("Disconnected")
            .onInterface(kDevice)
            .withParameters<std::string, std::string>("reason", "message");
        object->finishRegistration();
        endpoint->object = std::move(object);
        endpoint->object->emitInterfacesAddedSignal();
    }

    std::shared_ptr<Endpoint> find(const Endpoint& device) {
        for (auto& endpoint : endpoints) {
            if (endpoint.get() == &device) {
                return endpoint;
            }
        }
        return nullptr;
    }

    // A device advertising while the adapter discovers is heard.
    void heard(const std::shared_ptr<Endpoint>& endpoint) {
        if (!discovering || !endpoint->advertising || !endpoint->present) {
            return;
        }
        if (!endpoint->object) {
            ensureDeviceObject(endpoint);
            return;
        }
        endpoint->object->emitPropertiesChangedSignal(
            kDevice, {"Name", "RSSI", "UUIDs", "ManufacturerData", "AdvertisingData"});
    }

    void phoneConnects(Endpoint& device) {
        failIfAsked("Connect");
        auto endpoint = find(device);
        if (!endpoint || !endpoint->present || !powered) {
            throw sdbus::Error("org.bluez.Error.Failed", "le-connection-abort-by-local");
        }
        if (endpoint->peripheralLink != 0) {
            throw sdbus::Error("org.bluez.Error.AlreadyConnected", "Already Connected");
        }
        endpoint->peripheralLink = nextLink++;
        setConnected(endpoint, true);
        toDevice(endpoint, [link = endpoint->peripheralLink, phone = phone](RadioClient& client) {
            client.linkOpened(link, phone, LinkRole::peripheral);
        });
    }

    void setConnected(const std::shared_ptr<Endpoint>& endpoint, bool connected) {
        if (endpoint->connected == connected) {
            return;
        }
        endpoint->connected = connected;
        ensureDeviceObject(endpoint);
        if (endpoint->object) {
            endpoint->object->emitPropertiesChangedSignal(kDevice, {"Connected"});
        }
    }

    // Ends the device's connection: both of its links close; `reason` empty for a daemon that
    // went away without a word.
    void endConnection(const std::shared_ptr<Endpoint>& endpoint, const std::string& reason,
                       LinkId quietly = 0) {
        if (!endpoint->connected) {
            return;
        }
        if (endpoint->att && database) {
            for (std::uint16_t handle : endpoint->att->subscriptions()) {
                stopNotifyUnlessShared(*endpoint, handle);
            }
        }
        endpoint->att.reset();
        endpoint->host.reset();
        for (LinkId link : {endpoint->centralLink, endpoint->peripheralLink}) {
            if (link != 0 && link != quietly) {
                toDevice(endpoint, [link](RadioClient& client) {
                    client.linkClosed(link, makeError(ErrorCode::peripheralDisconnected,
                                                      "the connection ended"));
                });
            }
        }
        endpoint->centralLink = 0;
        endpoint->peripheralLink = 0;
        if (!reason.empty() && endpoint->object) {
            endpoint->object->emitSignal("Disconnected")
                .onInterface(kDevice)
                .withArguments(reason, std::string("disconnected"));
        }
        if (reason.empty()) {
            endpoint->connected = false;
        } else {
            setConnected(endpoint, false);
        }
    }

    void stopNotifyUnlessShared(const Endpoint& leaving, std::uint16_t handle) {
        for (const auto& other : endpoints) {
            if (other.get() != &leaving && other->att && other->att->isSubscribed(handle)) {
                return;
            }
        }
        callNotify(handle, false);
    }

    void callNotify(std::uint16_t handle, bool on) {
        const auto path = characteristicPaths.find(handle);
        if (path == characteristicPaths.end()) {
            return;
        }
        appProxy(path->second)
            .callMethodAsync(on ? "StartNotify" : "StopNotify")
            .onInterface(kCharacteristic)
            .uponReplyInvoke([](const sdbus::Error*) {});
    }

    // The device connects to the phone as a central: the phone's application serves it.
    void tryConnections() {
        for (auto& endpoint : endpoints) {
            if (!endpoint->wantsPhone || !endpoint->present || !powered || !database ||
                !adapter) {
                continue;
            }
            endpoint->wantsPhone = false;
            endpoint->centralLink = nextLink++;
            endpoint->host = std::make_unique<DeviceHost>(*this, endpoint);
            endpoint->att = std::make_unique<AttServer>(*database, *endpoint->host);
            setConnected(endpoint, true);
            toDevice(endpoint, [link = endpoint->centralLink, phone = phone](RadioClient& client) {
                client.linkOpened(link, phone, LinkRole::central);
            });
        }
    }

    Properties optionsFor(const Endpoint& device, const char* type) {
        Properties options;
        options["device"] = sdbus::Variant(sdbus::ObjectPath(device.path));
        options["mtu"] = sdbus::Variant(device.att ? device.att->mtu() : std::uint16_t{23});
        options["offset"] = sdbus::Variant(std::uint16_t{0});
        options["link"] = sdbus::Variant(std::string("LE"));
        if (type != nullptr) {
            options["type"] = sdbus::Variant(std::string(type));
        }
        return options;
    }

    void readValue(const std::weak_ptr<Endpoint>& weak, std::uint16_t handle) {
        auto device = weak.lock();
        appProxy(characteristicPaths.at(handle))
            .callMethodAsync("ReadValue")
            .onInterface(kCharacteristic)
            .withArguments(optionsFor(*device, nullptr))
            .uponReplyInvoke([weak](const sdbus::Error* error, Bytes value) {
                if (auto endpoint = weak.lock(); endpoint && endpoint->att) {
                    endpoint->att->respondToRead(
                        error ? attErrorOfName(error->getName(), false) : AttError::success, value);
                }
            });
    }

    void writeValue(const std::weak_ptr<Endpoint>& weak, std::uint16_t handle, Bytes value,
                    bool withResponse) {
        auto device = weak.lock();
        appProxy(characteristicPaths.at(handle))
            .callMethodAsync("WriteValue")
            .onInterface(kCharacteristic)
            .withArguments(value, optionsFor(*device, withResponse ? "request" : "command"))
            .uponReplyInvoke([weak, withResponse](const sdbus::Error* error) {
                auto endpoint = weak.lock();
                if (withResponse && endpoint && endpoint->att) {
                    endpoint->att->respondToWrite(
                        error ? attErrorOfName(error->getName(), true) : AttError::success);
                }
            });
    }

    void valueChanged(sdbus::Message& message) {
        if (message.getSender() != appSender) {
            return;
        }
        std::string interface;
        Properties changed;
        message >> interface;
        message >> changed;
        const auto value = get<Bytes>(changed, "Value");
        if (interface != kCharacteristic || !value) {
            return;
        }
        std::uint16_t handle = 0;
        for (const auto& [h, path] : characteristicPaths) {
            if (path == message.getPath()) {
                handle = h;
            }
        }
        for (auto& endpoint : endpoints) {
            if (endpoint->att && endpoint->att->isSubscribed(handle)) {
                Bytes pdu = AttServer::notification(handle, *value);
                if (holding) {
                    held.emplace_back(endpoint, std::move(pdu));
                } else {
                    deliverNotification(endpoint, std::move(pdu));
                }
            }
        }
    }

    void deliverNotification(const std::shared_ptr<Endpoint>& endpoint, Bytes pdu) {
        if (!endpoint->att) {
            return;
        }
        ++notificationsDelivered;
        toDevice(endpoint, [link = endpoint->centralLink, pdu = std::move(pdu)](RadioClient& client) {
            client.pdusReceived(link, {pdu});
        });
    }

    void release() {
        holding = false;
        while (!held.empty()) {
            auto [weak, pdu] = std::move(held.front());
            held.pop_front();
            if (auto endpoint = weak.lock()) {
                deliverNotification(endpoint, std::move(pdu));
            }
        }
    }
};

void DeviceHost::sendPdu(Bytes pdu) {
    if (auto device = endpoint.lock()) {
        daemon.toDevice(device, [link = device->centralLink, pdu = std::move(pdu)](RadioClient& client) {
            client.pdusReceived(link, {pdu});
        });
    }
}

void DeviceHost::readRequested(const GattAttribute& value) {
    daemon.readValue(endpoint, value.handle);
}

void DeviceHost::writeRequested(const GattAttribute& value, Bytes data, bool withResponse) {
    daemon.writeValue(endpoint, value.handle, std::move(data), withResponse);
}

void DeviceHost::subscriptionChanged(const GattAttribute& value, bool subscribed) {
    daemon.callNotify(value.handle, subscribed);
}

// A simulated device's radio: its events come from the daemon's thread, posted to the loop.
class FakeBluezRadio final : public Radio {
public:
    FakeBluezRadio(std::shared_ptr<FakeBluez::Daemon> daemon, std::shared_ptr<Endpoint> endpoint)
        : daemon_(std::move(daemon)), endpoint_(std::move(endpoint)) {}
    ~FakeBluezRadio() override {
        endpoint_->attached = false;
        daemon_->thread.post([daemon = daemon_, endpoint = endpoint_] {
            endpoint->present = false;
            daemon->endConnection(endpoint, "org.bluez.Reason.Timeout");
            std::erase(daemon->endpoints, endpoint);
            if (endpoint->object) {
                endpoint->object->emitInterfacesRemovedSignal();
                endpoint->object.reset();
            }
        });
    }

    const Uuid& identifier() const override { return endpoint_->identifier; }
    void start(RadioClient& client, RunLoop& /*loop*/) override { endpoint_->client = &client; }
    ManagerState state() const override { return ManagerState::poweredOn; }
    void startAdvertising(const AdvertisementData& data) override {
        onBus([data](FakeBluez::Daemon& daemon, const std::shared_ptr<Endpoint>& endpoint) {
            endpoint->advertising = data;
            daemon.heard(endpoint);
        });
    }
    void stopAdvertising() override {
        onBus([](FakeBluez::Daemon&, const std::shared_ptr<Endpoint>& endpoint) {
            endpoint->advertising.reset();
        });
    }
    void startScanning() override {
        onBus([](FakeBluez::Daemon& daemon, const std::shared_ptr<Endpoint>& endpoint) {
            endpoint->scanning = true;
            if (daemon.advertised && daemon.powered) {
                daemon.toDevice(endpoint, [phone = daemon.phone,
                                           data = *daemon.advertised](RadioClient& client) {
                    client.advertisementReceived(phone, data, -45);
                });
            }
        });
    }
    void stopScanning() override {
        onBus([](FakeBluez::Daemon&, const std::shared_ptr<Endpoint>& endpoint) {
            endpoint->scanning = false;
        });
    }
    bool knows(const Uuid& peer) const override { return peer == daemon_->phone; }
    void connect(const Uuid& peer) override {
        if (peer != daemon_->phone) {
            return;
        }
        onBus([](FakeBluez::Daemon& daemon, const std::shared_ptr<Endpoint>& endpoint) {
            if (endpoint->centralLink == 0) {
                endpoint->wantsPhone = true;
                daemon.tryConnections();
            }
        });
    }
    void cancelConnect(const Uuid& /*peer*/) override {
        onBus([](FakeBluez::Daemon&, const std::shared_ptr<Endpoint>& endpoint) {
            endpoint->wantsPhone = false;
        });
    }
    void disconnect(LinkId link) override {
        onBus([link](FakeBluez::Daemon& daemon, const std::shared_ptr<Endpoint>& endpoint) {
            if (link == endpoint->centralLink || link == endpoint->peripheralLink) {
                daemon.endConnection(endpoint, "org.bluez.Reason.Remote", link);
            }
        });
    }
    SendResult send(LinkId link, Bytes pdu, bool /*flowControlled*/) override {
        if (pdu.empty()) {
            return SendResult::refused;
        }
        onBus([link, pdu = std::move(pdu)](FakeBluez::Daemon& daemon,
                                           const std::shared_ptr<Endpoint>& endpoint) {
            if (link != endpoint->centralLink || !endpoint->att) {
                return;
            }
            if (endpoint->att->receive(pdu)) {
                daemon.endConnection(endpoint, "org.bluez.Reason.Remote");
            }
        });
        return SendResult::queued;
    }

private:
    void onBus(std::function<void(FakeBluez::Daemon&, const std::shared_ptr<Endpoint>&)> work) {
        daemon_->thread.post([daemon = daemon_, endpoint = endpoint_, work = std::move(work)] {
            if (endpoint->present) {
                work(*daemon, endpoint);
            }
        });
    }

    std::shared_ptr<FakeBluez::Daemon> daemon_;
    std::shared_ptr<Endpoint> endpoint_;
};

std::unique_ptr<FakeBluez> FakeBluez::start(const std::string& address, RunLoop& loop,
                                            const Uuid& phone, bool withAdapter) {
    std::unique_ptr<FakeBluez> fake(new FakeBluez());
    try {
        fake->daemon_ = std::make_shared<Daemon>(address, loop, phone);
        fake->daemon_->adapterPresent = withAdapter;
        fake->daemon_->up();
        fake->daemon_->thread.start(nullptr);
    } catch (const sdbus::Error&) {
        return nullptr;
    }
    return fake;
}

FakeBluez::~FakeBluez() {
    daemon_->wait([daemon = daemon_.get()] {
        for (auto& endpoint : daemon->endpoints) {
            endpoint->att.reset();
            endpoint->object.reset();
        }
        daemon->endpoints.clear();
        daemon->forgetRegistrations();
        daemon->adapter.reset();
        daemon->root.reset();
        daemon->proxies.clear();
    });
    daemon_->thread.stop();
}

std::string FakeBluez::devicePath(const std::string& address) {
    std::string name = address;
    std::replace(name.begin(), name.end(), ':', '_');
    return std::string(kAdapterPath) + "/dev_" + name;
}

std::unique_ptr<Radio> FakeBluez::attach(const Uuid& device, const std::string& address) {
    auto endpoint = std::make_shared<Endpoint>();
    endpoint->identifier = device;
    endpoint->address = address;
    endpoint->path = devicePath(address);
    daemon_->thread.post([daemon = daemon_, endpoint] { daemon->endpoints.push_back(endpoint); });
    return std::make_unique<FakeBluezRadio>(daemon_, endpoint);
}

void FakeBluez::removeAdapter() {
    daemon_->wait([daemon = daemon_.get()] { daemon->removeAdapter(); });
}

void FakeBluez::addAdapter() {
    daemon_->wait([daemon = daemon_.get()] { daemon->addAdapter(); });
}

void FakeBluez::setPowered(bool powered) {
    daemon_->wait([daemon = daemon_.get(), powered] { daemon->setPowered(powered); });
}

void FakeBluez::stopDaemon() {
    daemon_->wait([daemon = daemon_.get()] { daemon->down(); });
}

void FakeBluez::startDaemon() {
    daemon_->wait([daemon = daemon_.get()] { daemon->up(); });
}

void FakeBluez::failNext(const std::string& method, const std::string& errorName) {
    daemon_->wait([daemon = daemon_.get(), method, errorName] {
        daemon->failures[method] = errorName;
    });
}

void FakeBluez::dropConnection(const std::string& address) {
    daemon_->wait([daemon = daemon_.get(), address] {
        for (auto& endpoint : daemon->endpoints) {
            if (endpoint->address == address) {
                daemon->endConnection(endpoint, "org.bluez.Reason.Remote");
            }
        }
    });
}

void FakeBluez::holdNotifications(bool hold) {
    daemon_->wait([daemon = daemon_.get(), hold] {
        if (hold) {
            daemon->holding = true;
        } else {
            daemon->release();
        }
    });
}

FakeBluezCounts FakeBluez::counts() const {
    return daemon_->ask<FakeBluezCounts>([daemon = daemon_.get()] {
        FakeBluezCounts counts;
        counts.applicationRegistrations = daemon->applicationRegistrations;
        counts.advertisementRegistrations = daemon->advertisementRegistrations;
        counts.refusals = daemon->refusals;
        counts.applicationRegistered = daemon->database != nullptr;
        counts.advertising = daemon->advertised.has_value();
        counts.discovering = daemon->discovering;
        counts.transport = daemon->transport;
        counts.notificationsDelivered = daemon->notificationsDelivered;
        return counts;
    });
}

PublishedGatt FakeBluez::application() const {
    return daemon_->ask<PublishedGatt>([daemon = daemon_.get()] { return daemon->published; });
}

std::optional<PublishedAdvertisement> FakeBluez::advertisement() const {
    return daemon_->ask<std::optional<PublishedAdvertisement>>(
        [daemon = daemon_.get()] { return daemon->advertisementSeen; });
}

}  // namespace testing_support
