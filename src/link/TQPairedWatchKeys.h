#pragma once

// The stored identity of the paired watch in the standard user defaults, shared by the
// Bluetooth roles, the Bluetooth manager and the pairing handshake.
namespace paired_watch {

// The watch's address token, from the third word of its advertised name.
inline constexpr const char* kDeviceMacKey = "deviceMac";
// The central that subscribed last.
inline constexpr const char* kTempCentralIdentifierKey = "tempCentralIdentifier";
// The paired watch's central.
inline constexpr const char* kCentralIdentifierKey = "centralIdentifier";
// Stored under the central's identifier itself.
inline constexpr const char* kConnectedMark = "connected";

}  // namespace paired_watch
