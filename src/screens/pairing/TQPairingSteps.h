#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "link/TQError.h"
#include "platform/bluetooth/RemotePeripheral.h"
#include "screens/pairing/TQPairingRoles.h"

namespace platform {
class UserDefaults;
}

// The steps the pairing pages take alike.
namespace pairing {

// The phone's Bluetooth settings and the application's own settings page.
inline constexpr const char* kBluetoothSettingsURL = "prefs:root=Bluetooth";
inline constexpr const char* kApplicationSettingsURL = "app-settings:";
// The user setting that names the store web site's host, and its default.
inline constexpr const char* kStoreWebHostKey = "kavo.store.webHost";
inline constexpr const char* kDefaultStoreWebHost = "www.kavoapps.com";

// Whether a discovered device is one of our watches (watch_name::isWatch on its name).
[[nodiscard]] bool isWatch(const platform::bluetooth::RemotePeripheral* device);

// Replaces scanned with the discovered devices that are watches, in their order.
void keepWatches(std::vector<platform::bluetooth::RemotePeripheral*>& scanned,
                 const std::vector<platform::bluetooth::RemotePeripheral*>& devices);

// What a page does when the watch has connected, before the handshake starts.
enum class ConnectDefaults {
    // Stores the watch ("deviceUUID", "connectedDeviceName") and writes the notification,
    // block-list and weather defaults: the welcome page and the scan list.
    identityAndWeather,
    // Writes the notification and block-list defaults only: the connecting page.
    notificationsAndBlockList,
};
// The page's part of a connection, then the handshake's first request.
void startSetUp(const TQPairingLink& link, platform::UserDefaults& defaults,
                ConnectDefaults what);

// A link error of code 1 goes to the error banner; the others are not the user's concern.
void showLinkError(const TQError& error);

// Whether the application may share over Bluetooth: the user has not refused it the
// application's Bluetooth permission.
[[nodiscard]] bool isBluetoothSharingAuthorized();

// Opens a settings page where the desktop has one; otherwise says so in the log rather than
// hand the opener a link it fails on out of sight.
void openSettingsPage(std::string_view url);

// The store web site's host: the user setting, else the default.
[[nodiscard]] std::string storeWebHost(const platform::UserDefaults& defaults);

}  // namespace pairing
