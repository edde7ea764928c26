#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "platform/bluetooth/AttServer.h"
#include "platform/bluetooth/GattDatabase.h"
#include "platform/bluetooth/Radio.h"

namespace platform::bluetooth {

class Adapter;
class PeripheralManager;

// The device's GATT server: the published database, one ATT server per link a central opened,
// the advertisement, and the requests waiting for the application. It belongs to the adapter,
// so what a peripheral manager with a restoration identifier published outlives the manager and
// is handed to the next one with that identifier. Every call is made with the adapter's lock
// held; the application hears of things only through the manager's posted callbacks.
class GattServer {
public:
    explicit GattServer(Adapter& adapter);
    ~GattServer();

    // Throws std::logic_error when another manager is attached.
    void attach(PeripheralManager& manager, const std::string& restorationIdentifier);
    void detach(PeripheralManager& manager, const std::string& restorationIdentifier);
    [[nodiscard]] bool hasManager() const { return manager_ != nullptr; }

    void addService(const MutableService& service);
    void removeAllServices();
    void startAdvertising(const AdvertisementData& data);
    void stopAdvertising();
    [[nodiscard]] bool isAdvertising() const { return advertisement_.has_value(); }
    UpdateResult updateValue(std::span<const std::uint8_t> value, const Uuid& characteristic,
                             const Central& central);
    void respond(const AttRequest& request, AttError result);

    void stateChanged(ManagerState state);
    [[nodiscard]] bool owns(LinkId link) const { return links_.contains(link); }
    void linkOpened(LinkId link, const Uuid& peer);
    void linkClosed(LinkId link);
    void receive(LinkId link, const std::vector<Bytes>& pdus);
    void linkReady(LinkId link);

private:
    struct Link;
    struct Pending {
        LinkId link = 0;
        bool withResponse = false;
        bool read = false;
    };

    Central centralOf(const Link& link) const;
    void writeRequested(Link& link, const GattAttribute& value, Bytes data, bool withResponse);
    void readRequested(Link& link, const GattAttribute& value);
    void subscriptionChanged(Link& link, const GattAttribute& value, bool subscribed);
    void close(LinkId link, const std::string& reason);
    // Hands the writes gathered so far to the application, ahead of whatever is posted next.
    void flushWrites();
    void answerPending(AttError result);
    void forgetLink(LinkId link);
    void clearPublished();
    RestoredState restoredState() const;

    Adapter& adapter_;
    PeripheralManager* manager_ = nullptr;
    // The restoration identifier whose manager went away and left its services here.
    std::string retainedFor_;
    GattDatabase database_;
    std::map<LinkId, std::unique_ptr<Link>> links_;
    std::optional<AdvertisementData> advertisement_;
    std::map<std::uint64_t, Pending> pending_;
    std::uint64_t nextRequestId_ = 1;
    // The writes of the delivery being served.
    std::vector<AttRequest> batch_;
    // Links that refused a notification; one ready callback is owed for all of them.
    std::set<LinkId> owedReady_;
};

}  // namespace platform::bluetooth
