#include "platform/bluetooth/AdapterProvider.h"

#include <memory>

#include "platform/bluetooth/AbsentRadio.h"

namespace platform::bluetooth {

namespace {

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
