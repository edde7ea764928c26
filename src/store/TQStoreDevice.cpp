#include "store/TQStoreDevice.h"

#include <cmath>
#include <cstdio>

#include "platform/foundation/UserDefaults.h"
#include "platform/system/DeviceInfo.h"
#include "utils/TQUtils.h"

namespace {

std::optional<std::string> nonEmpty(std::optional<std::string> text) {
    if (text && text->empty()) {
        return std::nullopt;
    }
    return text;
}

}  // namespace

TQStoreDevice TQStoreDevice::current() {
    TQStoreDevice device;
    if (const auto group = TQUtils::getPreferenceByGroup(TQUtils::kGroupKavoInfo)) {
        if (const auto* model = group->find(TQUtils::kKavoModelNumber)) {
            device.modelNumber = nonEmpty(model->stringValue());
        }
        if (const auto* version = group->find("kavoNuvraVersion")) {
            device.kOSVersion = nonEmpty(version->stringValue());
        }
    }
    device.salesCode = nonEmpty(platform::UserDefaults::standard().string(TQUtils::kKavoSalesCode));
    const platform::DeviceInfo& info = platform::DeviceInfo::current();
    device.systemVersion = info.systemVersion();
    device.vendorIdentifier = info.vendorIdentifier();
    device.machineIdentifier = info.machineIdentifier();
    device.carrier = platform::Telephony::current().subscriberCarrier();
    return device;
}

std::string TQStoreDevice::deviceId() const {
    char sizes[64];
    std::snprintf(sizes, sizeof sizes, "%0.0fx%0.0f_", screenHeight, screenWidth);
    return sizes + modelNumber.value_or("") + "_i";
}

std::optional<std::string> TQStoreDevice::mcc() const {
    return carrier ? nonEmpty(carrier->mobileCountryCode) : std::nullopt;
}

std::optional<std::string> TQStoreDevice::mnc() const {
    return carrier ? nonEmpty(carrier->mobileNetworkCode) : std::nullopt;
}
