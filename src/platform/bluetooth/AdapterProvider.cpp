#include "platform/bluetooth/AdapterProvider.h"

#include <memory>

namespace platform::bluetooth {

namespace {

// A radio that is not there: it never powers on, so the managers above it stay idle.
class AbsentRadio final : public Radio {
public:
    const Uuid& identifier() const override { return identifier_; }
    void start(RadioClient& /*client*/, RunLoop& /*loop*/) override {}
    ManagerState state() const override { return ManagerState::unsupported; }
    void startAdvertising(const AdvertisementData& /*data*/) override {}
    void stopAdvertising() override {}
    void startScanning() override {}
    void stopScanning() override {}
    bool knows(const Uuid& /*peer*/) const override { return false; }
    void connect(const Uuid& /*peer*/) override {}
    void cancelConnect(const Uuid& /*peer*/) override {}
    void disconnect(LinkId /*link*/) override {}
    bool send(LinkId /*link*/, Bytes /*pdu*/, bool /*flowControlled*/) override { return false; }

private:
    Uuid identifier_;
};

class AbsentAdapterProvider final : public AdapterProvider {
public:
    Adapter& adapter() override { return adapter_; }

private:
    Adapter adapter_{std::make_unique<AbsentRadio>(), RunLoop::main()};
};

}  // namespace

Adapter& AdapterProvider::processAdapter() {
    return installedOr([]() -> AdapterProvider& {
               // Never destroyed: managers made on it live for the whole process.
               static AdapterProvider* const absent = new AbsentAdapterProvider;
               return *absent;
           })
        .adapter();
}

}  // namespace platform::bluetooth
