#pragma once

#include <memory>
#include <utility>

#include "platform/bluetooth/Adapter.h"
#include "platform/foundation/Replaceable.h"

namespace platform::bluetooth {

// Where the process's Bluetooth adapter comes from. The application installs a provider for the
// radio it runs on (the local-socket air, or a kernel radio later) before the link starts;
// tests build adapters on the simulated air and hand them over directly.
class AdapterProvider : public Replaceable<AdapterProvider> {
public:
    virtual ~AdapterProvider() = default;
    // Lives as long as the provider.
    virtual Adapter& adapter() = 0;

    // The installed provider's adapter; with none installed, an adapter on the main loop whose
    // radio reports unsupported, as a machine without Bluetooth would, made once on first use.
    static Adapter& processAdapter();
};

// The adapter of one radio, made on the given loop: what a program installs for the air it
// came onto.
class RadioAdapterProvider final : public AdapterProvider {
public:
    RadioAdapterProvider(std::unique_ptr<Radio> radio, RunLoop& loop)
        : adapter_(std::move(radio), loop) {}
    Adapter& adapter() override { return adapter_; }

private:
    Adapter adapter_;
};

}  // namespace platform::bluetooth
