#include "utils/TQLocalization.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <utility>

namespace {

struct Entry {
    std::string_view key;
    std::string_view text;
};

// Sorted by key (byte order), each key once; checked at compile time below.
constexpr Entry kEnglish[] = {
    {"Buddy", "Buddy"},
    {"IDS_COM_BODY_WEBSITE", "website"},
    {"IDS_COM_SK_OK", "OK"},
    {"IDS_FMP_BODY_YOUR_WATCH_IS_LOOKING_FOR_THIS_PHONE", "Your watch is looking for this phone."},
    {"IDS_FMP_HEADER_FIND_MY_PHONE", "Find my phone"},
    {"IDS_ST_HEADER_NO_NETWORK_CONNECTION_ABB", "No network connection"},
    {"IDS_ST_POP_CHECK_YOUR_NETWORK_CONNECTION_AND_TRY_AGAIN",
     "Check your network connection and try again."},
    {"MIDS_QAPPS_BUTTON_LATER_ABB", "Later"},
    {"MIDS_QAPPS_BUTTON_UPDATE_ABB", "Update"},
    {"Quorvel Kavo", "Quorvel Kavo"},
    {"Quorvel Kavo R5", "Quorvel Kavo R5"},
    {"WDS_FOTA_HEADER_UPDATE_KAVO_ABB", "Update watch"},
    {"WDS_STU_POP_UNABLE_TO_SET_UP_NUMBERSYNC_PLEASE_TRY_AGAIN_LATER_ATNT",
     "Unable to set up NumberSync. Please try again later."},
    {"WDS_ST_MBODY_CALL_AUDIO_ABB", "Call audio"},
    {"WDS_ST_TPOP_NUMBERSYNC_ENABLED_ABB_ATNT", "NumberSync enabled."},
    {"WDS_WMGR_BUTTON_DONT_ALLOW_BB", "Don't allow"},
    {"WDS_WMGR_HEADER_DOWNLOADING_P1SS__P2SDP_ABB", "Downloading %@… %.1f %%"},
    {"WDS_WMGR_HEADER_INSTALLING_P1SS__P2SDP_ABB", "Installing %@… %.1f %%"},
    {"WDS_WMGR_HEADER_KEEP_PS_APP_ACTIVE", "Keep the %@ app active"},
    {"WDS_WMGR_HEADER_QUORVEL_KAVO_R5_LITE_ABB", "Quorvel Kavo R5 Lite"},
    {"WDS_WMGR_POP_A_KAVO_SOFTWARE_UPDATE_IS_REQUIRED_TO_DOWNLOAD_AND_INSTALL_THE_UPDATE_ON_YOUR_"
     "KAVO_MSG",
     "A watch software update is required. Download and install the update on your watch."},
    {"WDS_WMGR_POP_A_NEW_VERSION_IS_AVAILABLE_UPDATE_THE_APP_TO_CONTINUE",
     "A new version is available. Update the app to continue."},
    {"WDS_WMGR_POP_IF_YOUR_KAVO_FAILS_TO_RECONNECT_TO_YOUR_PHONE_VIA_BLUETOOTH_AUTOMATICALLY_OPEN_"
     "THE_PS_APP",
     "If your watch fails to reconnect to your phone via Bluetooth automatically, open the %@ "
     "app."},
    {"WDS_WMGR_POP_PS_IS_NOT_RESPONDING_TRY_AGAIN_LATER", "%@ is not responding. Try again later."},
    {"WDS_WMGR_POP_PS_IS_REQUESTING_PERMISSION_TO_TURN_ON_BLUETOOTH_SHARING_THIS_WILL_ALLOW_THE_"
     "KAVO_MSG",
     "%@ is requesting permission to turn on Bluetooth sharing. This will allow the watch to "
     "connect to your phone."},
    {"WDS_WMGR_POP_THE_KAVO_HAS_BEEN_DISCONNECTED_THE_DOWNLOAD_OF_PS_HAS_BEEN_CANCELLED",
     "The watch has been disconnected. The download of %s has been cancelled."},
    {"WDS_WMGR_POP_THE_KAVO_HAS_BEEN_DISCONNECTED_THE_INSTALLATION_OF_PS_HAS_BEEN_PAUSED_MSG",
     "The watch has been disconnected. The installation of %s has been paused."},
    {"WDS_WMGR_POP_TO_SYNC_KAVO_DATA_WITH_YOUR_PHONE_BLUETOOTH_SHARING_MUST_BE_TURNED_ON_ON_YOUR_"
     "PHONE",
     "To sync watch data with your phone, Bluetooth sharing must be turned on on your phone."},
    {"WDS_WMGR_POP_TO_USE_ALL_THE_FUNCTIONS_ON_YOUR_KAVO_DO_NOT_CLOSE_THE_PS_APP",
     "To use all the functions on your watch, do not close the %@ app."},
    {"WDS_WMGR_SBODY_FAILED_TO_INSTALL_APP_ABB", "Failed to install app."},
    {"WDS_WMGR_SBODY_INSTALLED", "Installed."},
    {"WDS_WMGR_SBODY_VIEW_PS_ON_YOUR_PHONE", "View %s on your phone."},
    {"WDS_WMGR_SBODY_VIEW_PS_SETTINGS_ON_YOUR_PHONE_ABB", "View %s settings on your phone."},
    {"menu_quorvelapps", "Quorvel Apps"},
    {"menu_quorvelapps_jpn", "Kavo Apps"},
    {"new_circle_stop", "Stop"},
    {"ok", "OK"},
    {"plugin_menu_settings", "Settings"},
};

constexpr bool isStrictlySorted() {
    return std::adjacent_find(std::begin(kEnglish), std::end(kEnglish),
                              [](const Entry& a, const Entry& b) { return a.key >= b.key; }) ==
           std::end(kEnglish);
}
static_assert(isStrictlySorted(), "keep the strings table sorted by key, each key once");

}  // namespace

std::string TQLocalization::localizedString(std::string_view key) {
    const auto* found = std::lower_bound(
        std::begin(kEnglish), std::end(kEnglish), key,
        [](const Entry& entry, std::string_view wanted) { return entry.key < wanted; });
    if (found != std::end(kEnglish) && found->key == key) {
        return std::string(found->text);
    }
    return std::string(key);
}
