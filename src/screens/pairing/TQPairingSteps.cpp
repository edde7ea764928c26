#include "screens/pairing/TQPairingSteps.h"

#include "link/TQAP.h"
#include "listener/TQInitSequence.h"
#include "logging/LGLog.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/host/AppHost.h"
#include "platform/permissions/Permissions.h"
#include "store/TQAppManager.h"
#include "utils/TQUtils.h"
#include "utils/WatchName.h"

namespace pairing {

bool isWatch(const platform::bluetooth::RemotePeripheral* device) {
    const auto name = device != nullptr ? device->name() : std::nullopt;
    return name && watch_name::isWatch(*name);
}

void keepWatches(std::vector<platform::bluetooth::RemotePeripheral*>& scanned,
                 const std::vector<platform::bluetooth::RemotePeripheral*>& devices) {
    scanned.clear();
    for (auto* device : devices) {
        if (isWatch(device)) {
            scanned.push_back(device);
        }
    }
}

void startSetUp(const TQPairingLink& link, platform::UserDefaults& defaults,
                ConnectDefaults what) {
    if (what == ConnectDefaults::identityAndWeather) {
        if (const auto* device = link.kavoManager.getConnectedDevice()) {
            defaults.set("deviceUUID", device->identifier().toLongString());
            defaults.set("connectedDeviceName",
                         device->name() ? platform::Value(*device->name()) : platform::Value());
        }
    }
    link.appManager.defaultNotifications();
    link.appManager.defaultBlockAppList();
    if (what == ConnectDefaults::identityAndWeather) {
        link.appManager.defaultWeatherSettings();
    }
    link.sequence.startInit();
}

void showLinkError(const TQError& error) {
    if (error.errorCode() == 1) {
        TQUtils::showToast(error.errorDescription());
    }
}

bool isBluetoothSharingAuthorized() {
    return platform::Permissions::current().decision(platform::Feature::bluetooth) !=
           platform::Decision::denied;
}

void openSettingsPage(std::string_view url) {
    auto& host = platform::AppHost::current();
    if (!host.canOpenURL(url) || !host.openURL(url)) {
        LG_INFO("Pairing: this desktop has no settings page %@ to open", url);
    }
}

std::string storeWebHost(const platform::UserDefaults& defaults) {
    const auto host = defaults.string(kStoreWebHostKey);
    return host && !host->empty() ? *host : std::string(kDefaultStoreWebHost);
}

}  // namespace pairing
