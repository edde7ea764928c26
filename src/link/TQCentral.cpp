#include "link/TQCentral.h"

#include <algorithm>
#include <utility>

#include "link/TQBLEConnectDelegate.h"
#include "link/TQBLEStatus.h"
#include "link/TQPairedWatchKeys.h"
#include "logging/LGLog.h"
#include "platform/bluetooth/Adapter.h"
#include "platform/foundation/UserDefaults.h"
#include "utils/WatchName.h"

namespace {

using platform::bluetooth::ManagerState;
using platform::bluetooth::RemotePeripheral;
using platform::bluetooth::Uuid;

// Where a discovered watch keeps its hidden-condition flag.
constexpr std::string_view kHiddenConditionFlagKey = "isHiddenConditionFlagKey";

std::string describe(const RemotePeripheral& peripheral) {
    const auto name = peripheral.name();
    return "identifier = " + peripheral.identifier().toLongString() +
           ", name = " + name.value_or("(null)");
}

platform::Value solicitedDescription(const platform::bluetooth::AdvertisementData& data) {
    platform::Array uuids;
    for (const Uuid& uuid : data.solicitedServiceUuids) {
        uuids.emplace_back(uuid.toString());
    }
    return platform::Value(std::move(uuids));
}

platform::Value advertisementDescription(const platform::bluetooth::AdvertisementData& data) {
    platform::Dictionary dictionary;
    if (data.localName) {
        dictionary["localName"] = *data.localName;
    }
    if (data.manufacturerData) {
        dictionary["manufacturerData"] = *data.manufacturerData;
    }
    if (!data.solicitedServiceUuids.empty()) {
        dictionary["solicitedServiceUuids"] = solicitedDescription(data);
    }
    return platform::Value(std::move(dictionary));
}

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

}  // namespace

bool hiddenConditionFlag(const RemotePeripheral& peripheral) {
    return peripheral.associatedValue(kHiddenConditionFlagKey).boolValue().value_or(false);
}

void setHiddenConditionFlag(RemotePeripheral& peripheral, bool flag) {
    peripheral.setAssociatedValue(kHiddenConditionFlagKey, flag);
}

TQCentral::TQCentral(platform::bluetooth::Adapter& adapter)
    : centralManager_(std::make_unique<platform::bluetooth::CentralManager>(
          adapter, static_cast<platform::bluetooth::CentralManagerDelegate*>(this))) {}

TQCentral::~TQCentral() {
    centralManager_->setDelegate(nullptr);
}

void TQCentral::report(std::uint64_t status) {
    if (delegate_ != nullptr) {
        delegate_->onChangeBleStatus(status);
    }
}

void TQCentral::startScan() {
    isSearchMyKavo_ = false;
    // A new scan offers only what it finds itself, never the nearest watch of the one before.
    nearestPeripheral_ = nullptr;
    maxRSSI_ = std::numeric_limits<std::int32_t>::max();
    if (centralManager_->state() != ManagerState::poweredOn) {
        startScanWhenReady_ = true;
        return;
    }
    clearPeripherals();
    centralManager_->scanForPeripherals();
    startScanWhenReady_ = false;
    maxRSSI_ = std::numeric_limits<std::int32_t>::max();
    report(TQBLEStatus_StartScan);
    LG_VERBOSE("CENTRAL: Scanning started");
}

void TQCentral::searchMyKavo() {
    deviceMac_ = platform::UserDefaults::standard().string(paired_watch::kDeviceMacKey);
    isSearchMyKavo_ = true;
    if (centralManager_->state() != ManagerState::poweredOn) {
        searchMyKavoWhenReady_ = true;
        return;
    }
    centralManager_->scanForPeripherals();
    searchMyKavoWhenReady_ = false;
    LG_VERBOSE("CENTRAL: Search my Kavo started");
}

void TQCentral::stopScan() {
    centralManager_->stopScan();
    LG_VERBOSE("CENTRAL: Scanning stoped");
    peripherals_.clear();
    nearestPeripheral_ = nullptr;
    report(TQBLEStatus_StopScan);
}

void TQCentral::connectWithPeripheral(RemotePeripheral& peripheral) {
    if (centralManager_->state() != ManagerState::poweredOn) {
        lastConnectedPeripheral_ = &peripheral;
        connectPeripheralWhenReady_ = true;
        return;
    }
    centralManager_->connect(peripheral);
    connectPeripheralWhenReady_ = false;
    LG_VERBOSE("CENTRAL: Send connection request to peripheral");
}

std::vector<RemotePeripheral*> TQCentral::getConnectedPeripherals(
    std::span<const Uuid> identifiers) {
    return centralManager_->retrievePeripherals(identifiers);
}

void TQCentral::clearPeripherals() {
    peripherals_.clear();
    peripheralUUIDList_.clear();
}

std::optional<std::string> TQCentral::getDeviceUUIDWithName(std::optional<std::string_view> name) {
    if (!name) {
        return std::nullopt;
    }
    // The first "(" with exactly four letters or digits and ")" after it.
    const auto isAlnum = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    };
    for (std::size_t open = 0; open + 5 < name->size(); ++open) {
        const std::string_view candidate = name->substr(open, 6);
        if (candidate.front() == '(' && candidate.back() == ')' &&
            std::all_of(candidate.begin() + 1, candidate.end() - 1, isAlnum)) {
            return std::string(candidate.substr(1, 4));
        }
    }
    // The last four characters, never splitting one: count back over UTF-8 lead bytes.
    std::size_t start = name->size();
    for (int characters = 0; characters < 4 && start > 0;) {
        --start;
        if ((static_cast<unsigned char>((*name)[start]) & 0xC0) != 0x80) {
            ++characters;
        }
    }
    return std::string(name->substr(start));
}

void TQCentral::centralManagerDidUpdateState(platform::bluetooth::CentralManager& manager) {
    const ManagerState state = manager.state();
    LG_VERBOSE("CENTRAL: Central Manager Did Update State: %ld", static_cast<long>(state));
    if (state == ManagerState::poweredOn) {
        report(TQBLEStatus_Central_On);
        if (startScanWhenReady_) {
            startScan();
        }
        if (searchMyKavoWhenReady_) {
            searchMyKavo();
        }
        if (connectPeripheralWhenReady_ && lastConnectedPeripheral_ != nullptr) {
            connectWithPeripheral(*lastConnectedPeripheral_);
        }
    } else if (state == ManagerState::poweredOff) {
        report(TQBLEStatus_Central_Off);
    }
}

void TQCentral::didDiscoverPeripheral(platform::bluetooth::CentralManager& /*manager*/,
                                      RemotePeripheral& peripheral,
                                      const platform::bluetooth::AdvertisementData& data,
                                      int rssi) {
    if (!isSearchMyKavo_) {
        for (const Uuid& listed : peripheralUUIDList_) {
            if (listed == peripheral.identifier()) {
                return;
            }
        }
    }
    const auto name = peripheral.name();
    if (!name || !watch_name::isWatch(*name)) {
        return;
    }
    if (!data.manufacturerData) {
        LG_VERBOSE("centralManager: CBAdvertisementDataManufacturerDataKey = %@", nullptr);
        LG_VERBOSE("centralManager: advData = null and return");
        return;
    }
    const platform::Bytes& manufacturerData = *data.manufacturerData;
    LG_VERBOSE("centralManager: CBAdvertisementDataManufacturerDataKey = %@",
               platform::Value(manufacturerData));
    if (manufacturerData.size() <= kPurposeOffset) {
        LG_VERBOSE("centralManager: exception: %@",
                   "range {7, 1} beyond the manufacturer data of " +
                       std::to_string(manufacturerData.size()) + " bytes");
        LG_VERBOSE("centralManager: purposeData = invalid and return");
        return;
    }
    const std::uint8_t purpose = manufacturerData[kPurposeOffset];
    LG_VERBOSE("centralManager: purposeData = %02x", purpose);
    if (isSearchMyKavo_) {
        foundWhileSearching(peripheral, *name, purpose);
    } else {
        foundWhileListing(peripheral, *name, data, rssi, purpose);
    }
}

void TQCentral::foundWhileSearching(RemotePeripheral& peripheral, const std::string& name,
                                    std::uint8_t purpose) {
    // An empty token is in every name: it must not make any watch the paired one.
    if (!deviceMac_ || deviceMac_->empty() || !contains(name, *deviceMac_) ||
        purpose != kPurposeAutoConnection) {
        return;
    }
    LG_VERBOSE("CENTRAL: My Kavo: %@", describe(peripheral));
    if (delegate_ != nullptr) {
        delegate_->onConnectedDeviceDiscovered(peripheral);
    }
    stopScan();
}

void TQCentral::foundWhileListing(RemotePeripheral& peripheral, const std::string& name,
                                  const platform::bluetooth::AdvertisementData& data, int rssi,
                                  std::uint8_t purpose) {
    const platform::Bytes& manufacturerData = *data.manufacturerData;
    // Past the purpose byte, so both bytes of the company identifier are there.
    const auto manufacturerId =
        static_cast<std::uint16_t>((manufacturerData[0] << 8) | manufacturerData[1]);
    LG_VERBOSE("centralManager: manufacturer id = %04x", manufacturerId);
    if (data.solicitedServiceUuids.empty()) {
        LG_VERBOSE("centralManager: CBAdvertisementDataSolicitedServiceUUIDsKey = %@", nullptr);
    } else {
        LG_VERBOSE("centralManager: CBAdvertisementDataSolicitedServiceUUIDsKey = %@",
                   solicitedDescription(data));
    }

    if (purpose == kPurposeAutoConnection) {
        LG_VERBOSE("centralManager: purpose (auto connection)");
        LG_VERBOSE("Peripheral data: (auto connection)  DeviceName :%@", name);
        return;
    }
    if (purpose != kPurposeSetupWizard) {
        return;
    }
    LG_VERBOSE("centralManager: purpose (setup wizard)");
    LG_VERBOSE("Peripheral data: RSSI: %@ Dict: %@  DeviceName : %@", rssi,
               advertisementDescription(data), name);
    // A watch that sends no hidden-condition byte asks for nothing.
    const std::uint8_t hiddenCondition = manufacturerData.size() > kHiddenConditionOffset
                                             ? manufacturerData[kHiddenConditionOffset]
                                             : 0;
    LG_VERBOSE("centralManager: hiddenCondition data = %02x", hiddenCondition);
    LG_VERBOSE("centralManager: (hiddenCondition & 0x01) = %02x", hiddenCondition & 0x01);
    if (manufacturerId != kCompanyIdentifier && manufacturerId != kCompanyIdentifierSwapped) {
        return;
    }
    if (!data.solicitedServiceUuids.empty()) {
        LG_VERBOSE("centralManager: Kavo using Manufacture binary.");
        LG_VERBOSE("centralManager: %@ is not added in device scan list.", name);
        return;
    }
    LG_VERBOSE("centralManager: Kavo using MR binary");
    const std::int64_t magnitude = rssi < 0 ? -std::int64_t{rssi} : rssi;
    if (magnitude < maxRSSI_) {
        nearestPeripheral_ = &peripheral;
        maxRSSI_ = static_cast<std::int32_t>(magnitude);
    }
    setHiddenConditionFlag(peripheral, (hiddenCondition & 0x01) != 0);
    peripherals_.push_back(&peripheral);
    peripheralUUIDList_.push_back(peripheral.identifier());
    if (delegate_ != nullptr) {
        delegate_->onPeripheralDiscovered(peripherals_);
    }
}

void TQCentral::didConnectPeripheral(platform::bluetooth::CentralManager& /*manager*/,
                                     RemotePeripheral& peripheral) {
    LG_VERBOSE("CENTRAL: Peripheral connected with identifier: %@",
               peripheral.identifier().toLongString());
    stopScan();
    report(TQBLEStatus_Peripheral_Connect);
    connectedPeripheral_ = &peripheral;
    clearPeripherals();
}

void TQCentral::didFailToConnectPeripheral(platform::bluetooth::CentralManager& manager,
                                           RemotePeripheral& /*peripheral*/,
                                           const platform::Error& /*error*/) {
    LG_VERBOSE("CENTRAL: Peripheral connection failed");
    manager.stopScan();
    report(TQBLEStatus_disconnect);
}

void TQCentral::didDisconnectPeripheral(platform::bluetooth::CentralManager& manager,
                                        RemotePeripheral& peripheral,
                                        const std::optional<platform::Error>& error) {
    if (error) {
        LG_VERBOSE("CENTRAL: Peripheral disconnected with error: %@", error->message);
    } else {
        LG_VERBOSE("CENTRAL: Peripheral disconnected with error: %@", nullptr);
    }
    if (error &&
        error->code == static_cast<long>(platform::bluetooth::ErrorCode::peripheralDisconnected)) {
        report(TQBLEStatus_Peripheral_Disconnect);
        return;
    }
    LG_VERBOSE("CENTRAL: Retry peripheral connection");
    manager.connect(peripheral);
}
