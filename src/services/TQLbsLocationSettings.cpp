// The location provider's answers on the phone's location setting: the watch's check and the
// reports when the permission changes.

#include "link/TQKMCommand.h"
#include "listener/TQCoreManager.h"
#include "logging/LGLog.h"
#include "services/TQLbsServerProvider.h"

using platform::Value;

namespace {

// The answer's values.
enum LocationSetting : std::int32_t { kNotDetermined = 0, kUnavailable = 1, kAvailable = 2 };

}  // namespace

void TQLbsServerProvider::handleLocationSettingInfo() {
    LG_DEBUG("handleLocationSettingInfo for LbsServer");
    locationSettings_ = kNotDetermined;
    if (!locationServiceManager_.servicesEnabled()) {
        locationSettings_ = kUnavailable;
    } else {
        switch (static_cast<platform::LocationAuthorization>(checkLocationSettings())) {
            case platform::LocationAuthorization::restricted:
            case platform::LocationAuthorization::denied:
                locationSettings_ = kUnavailable;
                break;
            case platform::LocationAuthorization::always:
            case platform::LocationAuthorization::whenInUse:
                locationSettings_ = kAvailable;
                break;
            default:
                LG_DEBUG("handleLocationSettingInfo default : Unused ");
                break;
        }
    }
    send(Value{{"msgId", "lbs-location-setting-check-rsp"},
               {"locationSettings", locationSettings_}});
    LG_DEBUG("handleLocationSettingInfo sent %d", locationSettings_);
}

bool TQLbsServerProvider::locationUsable(platform::LocationAuthorization status) const {
    return locationServiceManager_.servicesEnabled() &&
           (status == platform::LocationAuthorization::always ||
            status == platform::LocationAuthorization::whenInUse);
}

void TQLbsServerProvider::didChangeAuthorization(platform::LocationAuthorization status) {
    if (!TQCoreManager::isWMSConnected()) {
        return;
    }
    const bool usable = locationUsable(status);
    if (!usable) {
        if (!locationServiceManager_.servicesEnabled()) {
            LG_INFO("LbsServerProvider : Global Location Setting is disabled");
        } else {
            LG_INFO("LbsServerProvider : Location Setting is disabled");
        }
        destroyLbsServer();
    }
    const Value gps{{"msgId", "mgr_gps_changed_req"}, {"gps", usable}};
    send(gps, TQKMCommand::kGeneralAppId);
    LG_DEBUG("Location Status: %@\n", gps);
    const Value wps{{"msgId", "mgr_wps_changed_req"}, {"wps", usable}};
    send(wps, TQKMCommand::kGeneralAppId);
    LG_DEBUG("Location Status: %@\n", wps);
}
