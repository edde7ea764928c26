#include "utils/TQLocalization.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <iterator>
#include <optional>
#include <utility>
#include <vector>

namespace {

struct Entry {
    std::string_view key;
    std::string_view text;
};

// Sorted by key (byte order), each key once; checked at compile time below.
constexpr Entry kEnglish[] = {
    {"Buddy", "Buddy"},
    {"IDS_BR_POP_RSS_NO_CONNECTION_LABLE", "No connection"},
    {"IDS_BT_BODY_CONNECTING_ING", "Connecting…"},
    {"IDS_BT_BUTTON_SCAN", "Scan"},
    {"IDS_BT_HEADER_TURN_ON_BLUETOOTH_ABB", "Turn on Bluetooth"},
    {"IDS_COM_BODY_NO_NAME", "No name"},
    {"IDS_COM_BODY_SEARCH", "Search"},
    {"IDS_COM_BODY_WEBSITE", "website"},
    {"IDS_COM_OPT_COPY", "Copy"},
    {"IDS_COM_OPT_CUT", "Cut"},
    {"IDS_COM_OPT_DELETE", "Delete"},
    {"IDS_COM_OPT_PASTE", "Paste"},
    {"IDS_COM_OPT_REDO", "Redo"},
    {"IDS_COM_OPT_SELECT_ALL", "Select all"},
    {"IDS_COM_OPT_UNDO", "Undo"},
    {"IDS_COM_SK_CANCEL", "Cancel"},
    {"IDS_COM_SK_OK", "OK"},
    {"IDS_FMP_BODY_YOUR_WATCH_IS_LOOKING_FOR_THIS_PHONE", "Your watch is looking for this phone."},
    {"IDS_FMP_HEADER_FIND_MY_PHONE", "Find my phone"},
    {"IDS_HEALTH_HEADER_WELCOME_E_ABB", "Welcome!"},
    {"IDS_ST_HEADER_BLUETOOTH_SETTINGS", "Bluetooth settings"},
    {"IDS_ST_HEADER_NO_NETWORK_CONNECTION_ABB", "No network connection"},
    {"IDS_ST_POP_CHECK_YOUR_NETWORK_CONNECTION_AND_TRY_AGAIN",
     "Check your network connection and try again."},
    {"IDS_WIFI_POP_CONNECT_TO_PS_Q", "Connect to %@?"},
    {"IDS_WIFI_SBODY_SCANNING_ING_ABB", "Scanning…"},
    {"IDS_WIFI_SK2_SCAN_AGAIN", "Scan again"},
    {"MIDS_QAPPS_BUTTON_LATER_ABB", "Later"},
    {"MIDS_QAPPS_BUTTON_UPDATE_ABB", "Update"},
    {"Quorvel Kavo", "Quorvel Kavo"},
    {"Quorvel Kavo R5", "Quorvel Kavo R5"},
    {"WDS_FOTA_BODY_AN_ADDITIONAL_FIRMWARE_UPDATE_IS_REQUIRED_MSG",
     "An additional firmware update is required. Update your watch's software, then connect it "
     "again."},
    {"WDS_FOTA_HEADER_UPDATE_KAVO_ABB", "Update watch"},
    {"WDS_STU_POP_UNABLE_TO_SET_UP_NUMBERSYNC_PLEASE_TRY_AGAIN_LATER_ATNT",
     "Unable to set up NumberSync. Please try again later."},
    {"WDS_ST_MBODY_CALL_AUDIO_ABB", "Call audio"},
    {"WDS_ST_TPOP_NUMBERSYNC_ENABLED_ABB_ATNT", "NumberSync enabled."},
    {"WDS_WMGR_BODY_AFTER_YOUR_KAVO_HAS_BEEN_UPDATED_GO_TO_SETTINGS_KAVO_INFO_THEN_SELECT_RESET_"
     "MSG",
     "Once your watch has been updated, go to Settings > Watch info on the watch, then select "
     "Reset."},
    {"WDS_WMGR_BODY_AFTER_YOU_POWER_ON_YOUR_KAVO_DEVICES_THEY_WILL_BE_SHOWN_HERE",
     "After you power on your watches, they will be shown here."},
    {"WDS_WMGR_BODY_CHECK_THAT_YOUR_KAVO_IS_POWERED_ON_IF_IT_STILL_CANNOT_BE_FOUND_FOLLOW_THE_"
     "STEPS_BELOW_MSG",
     "Check that your watch is turned on. If it still cannot be found, follow the steps below."},
    {"WDS_WMGR_BODY_ENHANCING_THE_SMART_WEARABLE_EXPERIENCE_WITH_QUORVEL_KAVO",
     "Enhancing the smart wearable experience with Quorvel Kavo."},
    {"WDS_WMGR_BODY_IF_YOUR_KAVO_CAN_USE_3G_IT_WILL_BE_LISTED_TWICE_CONNECT_TO_BOTH_IN_THE_LIST",
     "A watch that can use 3G is listed twice: connect to both."},
    {"WDS_WMGR_BODY_IF_YOUR_KAVO_CAN_USE_3G_ONE_MORE_STEP_IS_REQUIRED",
     "If your watch can use 3G, one more step is needed."},
    {"WDS_WMGR_BODY_ON_YOUR_KAVO_GO_TO_SETTINGS_KAVO_INFO_THEN_SELECT_UPDATE_KAVO_SOFTWARE",
     "On your watch, go to Settings > Watch info, then select Update watch software."},
    {"WDS_WMGR_BODY_ON_YOUR_PHONE_GO_TO_BLUETOOTH_SETTINGS_THEN_TAP_THE_I_ICON_NEXT_TO_THE_KAVO_"
     "NAME_MSG",
     "On your phone, go to the Bluetooth settings, then tap the i icon next to the watch's name."},
    {"WDS_WMGR_BODY_ON_YOUR_PHONE_GO_TO_PS_THEN_CONNECT_TO_YOUR_KAVO",
     "On your phone, go to %1$s, then connect to your watch."},
    {"WDS_WMGR_BODY_TAP_SCAN_THEN_TAP_A_DEVICE_TO_CONNECT",
     "Tap Scan to list the devices in reach, then tap one to connect to it."},
    {"WDS_WMGR_BODY_USE_THIS_APP_TO_CONNECT_TO_YOUR_KAVO",
     "Use this app to connect to your watch."},
    {"WDS_WMGR_BUTTON_DISCONNECT", "Disconnect"},
    {"WDS_WMGR_BUTTON_DONT_ALLOW_BB", "Don't allow"},
    {"WDS_WMGR_BUTTON_LEARN_MORE_ABB", "Learn more"},
    {"WDS_WMGR_HEADER_DOWNLOADING_P1SS__P2SDP_ABB", "Downloading %@… %.1f %%"},
    {"WDS_WMGR_HEADER_INSTALLING_P1SS__P2SDP_ABB", "Installing %@… %.1f %%"},
    {"WDS_WMGR_HEADER_KEEP_PS_APP_ACTIVE", "Keep the %@ app active"},
    {"WDS_WMGR_HEADER_QUORVEL_KAVO_R5_LITE_ABB", "Quorvel Kavo R5 Lite"},
    {"WDS_WMGR_HEADER_SELECT_YOUR_KAVO_ABB", "Select your watch"},
    {"WDS_WMGR_NPBODY_NO_KAVO_DEVICES", "No watches found"},
    {"WDS_WMGR_POP_A_KAVO_SOFTWARE_UPDATE_IS_REQUIRED_TO_DOWNLOAD_AND_INSTALL_THE_UPDATE_ON_YOUR_"
     "KAVO_MSG",
     "A watch software update is required. Download and install the update on your watch."},
    {"WDS_WMGR_POP_A_NEW_VERSION_IS_AVAILABLE_UPDATE_THE_APP_TO_CONTINUE",
     "A new version is available. Update the app to continue."},
    {"WDS_WMGR_POP_CONFIRM_TO_CONNECT_VIA_BLUETOOTH_HPASSKEY_C_PD",
     "Confirm to connect via Bluetooth."},
    {"WDS_WMGR_POP_CONNECT_TO_KAVO", "Connect to watch"},
    {"WDS_WMGR_POP_CONTACTS", "Contacts"},
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
    {"WDS_WMGR_POP_TO_CONNECT_YOUR_PHONE_TO_YOUR_KAVO_GO_TO_SETTINGS_THEN_TURN_ON_BLUETOOTH",
     "To connect your phone to your watch, go to Settings, then turn on Bluetooth."},
    {"WDS_WMGR_POP_TO_SYNC_KAVO_DATA_WITH_YOUR_PHONE_BLUETOOTH_SHARING_MUST_BE_TURNED_ON_ON_YOUR_"
     "PHONE",
     "To sync watch data with your phone, Bluetooth sharing must be turned on on your phone."},
    {"WDS_WMGR_POP_TO_USE_ALL_THE_FUNCTIONS_ON_YOUR_KAVO_DO_NOT_CLOSE_THE_PS_APP",
     "To use all the functions on your watch, do not close the %@ app."},
    {"WDS_WMGR_POP_UNABLE_TO_OPEN_THE_P1SS_APP_YOUR_P2SS_DOES_NOT_SUPPORT_IT",
     "Unable to open the %1$@ app. Your %2$@ does not support it."},
    {"WDS_WMGR_SBODY_FAILED_TO_INSTALL_APP_ABB", "Failed to install app."},
    {"WDS_WMGR_SBODY_INSTALLED", "Installed."},
    {"WDS_WMGR_SBODY_VIEW_PS_ON_YOUR_PHONE", "View %s on your phone."},
    {"WDS_WMGR_SBODY_VIEW_PS_SETTINGS_ON_YOUR_PHONE_ABB", "View %s settings on your phone."},
    {"WDS_WMGR_TPOP_SEARCHING_KAVO_ING", "Searching for your watch…"},
    {"WelcomeImage", "kavomanager_welcome_image"},
    {"cancel", "Cancel"},
    {"kavo_settings_bluetooth_title", "Bluetooth settings"},
    {"kavo_settings_no_bluetooth_panel",
     "No Bluetooth settings were found on this computer. Open your desktop's Bluetooth "
     "settings, turn Bluetooth on there, then come back."},
    {"kavo_settings_permission_bluetooth", "Bluetooth sharing"},
    {"kavo_settings_permission_calendars", "Calendars"},
    {"kavo_settings_permission_camera", "Camera"},
    {"kavo_settings_permission_contacts", "Contacts"},
    {"kavo_settings_permission_location", "Location"},
    {"kavo_settings_permission_photos", "Photos"},
    {"kavo_settings_permissions_done", "Done"},
    {"kavo_settings_permissions_title", "KavoManager"},
    {"menu_quorvelapps", "Quorvel Apps"},
    {"menu_quorvelapps_jpn", "Kavo Apps"},
    {"new_circle_stop", "Stop"},
    {"ok", "OK"},
    {"plugin_menu_settings", "Settings"},
    {"popupmenu_connect", "Connect"},
    {"screen_not_built_yet", "This screen is not built yet."},
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

namespace {

bool isDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

bool oneOf(char c, std::string_view set) {
    return set.find(c) != std::string_view::npos;
}

// The number of digits at text[at...]; at moves past them.
std::optional<std::size_t> readNumber(std::string_view text, std::size_t& at) {
    std::size_t value = 0;
    const std::size_t start = at;
    while (at < text.size() && isDigit(text[at])) {
        value = std::min<std::size_t>(value * 10 + std::size_t(text[at] - '0'), 1U << 20);
        ++at;
    }
    return at > start ? std::optional<std::size_t>(value) : std::nullopt;
}

}  // namespace

std::string TQLocalization::formatArgs(std::string_view text,
                                       std::span<const lg::FormatArg> args) {
    std::string out;
    out.reserve(text.size());
    std::size_t nextArgument = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t percent = text.find('%', at);
        if (percent == std::string_view::npos) {
            out.append(text.substr(at));
            break;
        }
        out.append(text.substr(at, percent - at));
        std::size_t cursor = percent + 1;
        if (cursor < text.size() && text[cursor] == '%') {
            out.push_back('%');
            at = cursor + 1;
            continue;
        }
        // "%N$": the Nth argument, counted from 1.
        std::optional<std::size_t> position;
        std::size_t afterNumber = cursor;
        if (const auto number = readNumber(text, afterNumber);
            number && afterNumber < text.size() && text[afterNumber] == '$') {
            position = *number;
            cursor = afterNumber + 1;
        }
        // The conversion for lg::format, without positions: "%N$" and "*N$" are ours to read.
        std::string spec = "%";
        while (cursor < text.size() && oneOf(text[cursor], "-+ #0'")) {
            spec.push_back(text[cursor++]);
        }
        std::size_t stars = 0;
        const auto readWidth = [&] {
            if (cursor < text.size() && text[cursor] == '*') {
                ++cursor;
                std::size_t afterStar = cursor;
                if (readNumber(text, afterStar) && afterStar < text.size() &&
                    text[afterStar] == '$') {
                    cursor = afterStar + 1;  // a positional width: dropped
                } else if (!position) {
                    spec.push_back('*');
                    ++stars;
                }
                return;
            }
            const std::size_t digits = cursor;
            readNumber(text, cursor);
            spec.append(text.substr(digits, cursor - digits));
        };
        readWidth();
        if (cursor < text.size() && text[cursor] == '.') {
            spec.push_back(text[cursor++]);
            readWidth();
        }
        while (cursor < text.size() && oneOf(text[cursor], "hlqLzjt")) {
            spec.push_back(text[cursor++]);
        }
        if (cursor >= text.size() || !oneOf(text[cursor], "diouxXcs@fFeEgGaAp")) {
            // Not a conversion: the text as it stands.
            const std::size_t end = std::min(cursor + 1, text.size());
            out.append(text.substr(percent, end - percent));
            at = end;
            continue;
        }
        spec.push_back(text[cursor]);
        std::vector<lg::FormatArg> chosen;
        bool missing = false;
        if (position) {
            // A positional conversion names one argument; its "*" widths were dropped.
            if (*position >= 1 && *position <= args.size()) {
                chosen.push_back(args[*position - 1]);
            } else {
                missing = true;
            }
        } else {
            for (std::size_t i = 0; i <= stars; ++i, ++nextArgument) {
                if (nextArgument < args.size()) {
                    chosen.push_back(args[nextArgument]);
                } else {
                    missing = true;
                }
            }
        }
        if (!missing) {
            out += lg::formatArgs(spec, chosen);
        }
        at = cursor + 1;
    }
    return out;
}
