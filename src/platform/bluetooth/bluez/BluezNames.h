#pragma once

// The names of BlueZ's D-Bus interface, as its documentation gives them.
namespace platform::bluetooth::bluez {

inline constexpr const char* kService = "org.bluez";
inline constexpr const char* kAdapter = "org.bluez.Adapter1";
inline constexpr const char* kDevice = "org.bluez.Device1";
inline constexpr const char* kGattManager = "org.bluez.GattManager1";
inline constexpr const char* kGattService = "org.bluez.GattService1";
inline constexpr const char* kGattCharacteristic = "org.bluez.GattCharacteristic1";
inline constexpr const char* kGattDescriptor = "org.bluez.GattDescriptor1";
inline constexpr const char* kAdvertisingManager = "org.bluez.LEAdvertisingManager1";
inline constexpr const char* kAdvertisement = "org.bluez.LEAdvertisement1";

inline constexpr const char* kObjectManager = "org.freedesktop.DBus.ObjectManager";
inline constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
inline constexpr const char* kBusService = "org.freedesktop.DBus";
inline constexpr const char* kBusPath = "/org/freedesktop/DBus";

inline constexpr const char* kErrorFailed = "org.bluez.Error.Failed";
inline constexpr const char* kErrorNotPermitted = "org.bluez.Error.NotPermitted";
inline constexpr const char* kErrorNotSupported = "org.bluez.Error.NotSupported";
inline constexpr const char* kErrorInvalidValueLength = "org.bluez.Error.InvalidValueLength";
inline constexpr const char* kErrorInvalidOffset = "org.bluez.Error.InvalidOffset";
inline constexpr const char* kErrorNotReady = "org.bluez.Error.NotReady";
inline constexpr const char* kErrorInProgress = "org.bluez.Error.InProgress";

// Where this application's objects live on the bus.
inline constexpr const char* kApplicationPath = "/com/kavo/KavoManager/gatt";
inline constexpr const char* kAdvertisementPath = "/com/kavo/KavoManager/advertisement0";

}  // namespace platform::bluetooth::bluez
