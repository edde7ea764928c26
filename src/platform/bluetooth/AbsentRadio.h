#pragma once

#include "platform/bluetooth/Radio.h"

namespace platform::bluetooth {

// A radio that is not there: it never powers on, so the managers above it stay idle instead of
// failing somewhere later. Its state says why: unsupported on a machine without Bluetooth,
// powered off for a device that could not come onto its air.
class AbsentRadio final : public Radio {
public:
    explicit AbsentRadio(const Uuid& identifier = {},
                         ManagerState state = ManagerState::unsupported)
        : identifier_(identifier), state_(state) {}

    const Uuid& identifier() const override { return identifier_; }
    void start(RadioClient& /*client*/, RunLoop& /*loop*/) override {}
    ManagerState state() const override { return state_; }
    void startAdvertising(const AdvertisementData& /*data*/) override {}
    void stopAdvertising() override {}
    void startScanning() override {}
    void stopScanning() override {}
    bool knows(const Uuid& /*peer*/) const override { return false; }
    void connect(const Uuid& /*peer*/) override {}
    void cancelConnect(const Uuid& /*peer*/) override {}
    void disconnect(LinkId /*link*/) override {}
    SendResult send(LinkId /*link*/, Bytes /*pdu*/, bool /*flowControlled*/) override {
        return SendResult::refused;
    }

private:
    Uuid identifier_;
    ManagerState state_;
};

}  // namespace platform::bluetooth
