#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/bluetooth/PeripheralManager.h"

namespace bluetooth_test {

using namespace platform::bluetooth;
using platform::Bytes;
using platform::Error;
using platform::Result;

// The link's service as the phone publishes it: the fixture most of these tests run on.
inline const Uuid kService = *Uuid::parse("9A3F68E0-86CE-11E5-A309-0002A5D5C51B");
inline const Uuid kNotify = *Uuid::parse("CECE518B-28D7-4171-92D5-76A1E249A3B9");
inline const Uuid kWrite = *Uuid::parse("C2F2CC0F-C085-4DD4-BE5A-ACA3074BBC72");
inline const Uuid kAddress = *Uuid::parse("E87988E0-4990-487F-A502-9CFEDA7ED834");

inline MutableService linkService() {
    MutableService service;
    service.uuid = kService;
    service.characteristics = {
        {kNotify, CharacteristicProperties::read | CharacteristicProperties::notify,
         AttributePermissions::readEncryptionRequired, std::nullopt},
        {kWrite, CharacteristicProperties::writeWithoutResponse | CharacteristicProperties::write,
         AttributePermissions::writeEncryptionRequired, std::nullopt},
        {kAddress, CharacteristicProperties::read, AttributePermissions::readable, std::nullopt},
    };
    return service;
}

// What the watch advertises: name with its address token, manufacturer data with the company
// identifier first (least significant byte first), purpose 1 at byte 7.
inline AdvertisementData watchAdvertisement() {
    AdvertisementData data;
    data.localName = "Kavo R5 (1A2B)";
    data.manufacturerData = Bytes{0x51, 0x7E, 0x10, 0x20, 0x30, 0x40, 0x50, 0x01, 0x03};
    return data;
}

// A peripheral manager's delegate that writes everything down and answers requests as told.
class PeripheralRecorder : public PeripheralManagerDelegate {
public:
    void peripheralManagerDidUpdateState(PeripheralManager& manager) override {
        states.push_back(manager.state());
        log("state");
    }
    void willRestoreState(PeripheralManager&, const RestoredState& state) override {
        restored = state;
        log("restore");
    }
    void didAddService(PeripheralManager&, const MutableService&,
                       const std::optional<Error>& error) override {
        added.push_back(error);
        log("added");
    }
    void centralDidSubscribe(PeripheralManager&, const Central& central,
                             const Uuid& characteristic) override {
        subscribed.emplace_back(central, characteristic);
        log("subscribe");
    }
    void centralDidUnsubscribe(PeripheralManager&, const Central& central,
                               const Uuid& characteristic) override {
        unsubscribed.emplace_back(central, characteristic);
        log("unsubscribe");
    }
    void didReceiveWriteRequests(PeripheralManager& manager,
                                 const std::vector<AttRequest>& requests) override {
        batches.push_back(requests);
        log("write");
        for (const AttRequest& request : requests) {
            manager.respond(request, answerWrite ? answerWrite(request) : AttError::success);
        }
    }
    void didReceiveReadRequest(PeripheralManager& manager, const AttRequest& request) override {
        reads.push_back(request);
        log("read");
        if (!answerReads) {
            return;
        }
        AttRequest answer = request;
        answer.value = readValue;
        manager.respond(answer, readResult);
    }
    void isReadyToUpdateSubscribers(PeripheralManager&) override {
        ++ready;
        log("ready");
        if (onReady) {
            onReady();
        }
    }
    void centralDidConnect(PeripheralManager&, const Central& central) override {
        connected.push_back(central);
        log("connect");
    }
    void centralDidDisconnect(PeripheralManager&, const Central& central) override {
        disconnected.push_back(central);
        log("disconnect");
    }

    // All data written, in arrival order.
    [[nodiscard]] std::vector<Bytes> writtenValues() const {
        std::lock_guard lock(mutex_);
        std::vector<Bytes> values;
        for (const auto& batch : batches) {
            for (const auto& request : batch) {
                values.push_back(request.value);
            }
        }
        return values;
    }
    [[nodiscard]] std::vector<std::string> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    // Called after every event, on the loop.
    std::function<void()> observer;

    std::vector<platform::bluetooth::ManagerState> states;
    std::optional<RestoredState> restored;
    std::vector<std::optional<Error>> added;
    std::vector<std::pair<Central, Uuid>> subscribed;
    std::vector<std::pair<Central, Uuid>> unsubscribed;
    std::vector<std::vector<AttRequest>> batches;
    std::vector<AttRequest> reads;
    std::vector<Central> connected;
    std::vector<Central> disconnected;
    int ready = 0;
    std::function<void()> onReady;

    std::function<AttError(const AttRequest&)> answerWrite;
    bool answerReads = true;
    Bytes readValue;
    AttError readResult = AttError::success;

private:
    void log(std::string event) {
        {
            std::lock_guard lock(mutex_);
            events_.push_back(std::move(event));
        }
        if (observer) {
            observer();
        }
    }

    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

}  // namespace bluetooth_test
