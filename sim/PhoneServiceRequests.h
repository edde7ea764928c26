#pragma once

#include <cstdint>
#include <string_view>

#include "platform/foundation/Value.h"

// What the watch asks of the phone's services, as the watch writes it: each request with the
// channel it goes on. A test or a script sends one with Watch::sendJson(request.body,
// request.appId).
namespace kavowatch::requests {

struct Request {
    platform::Value body;
    std::uint8_t appId = 1;
};

// Music (identifier 9): a key of the remote control, pressed or released ("playpause",
// "play", "pause", "stop", "forward", "backward", "fastforward", "rewind").
[[nodiscard]] Request musicKey(std::string_view action, bool pressed = true);
// "up", "down" or "nochange" for the volume, "on", "off" or "nochange" for mute.
[[nodiscard]] Request musicVolume(std::string_view volume, std::string_view mute = "nochange");
[[nodiscard]] Request musicReports(bool on);
[[nodiscard]] Request musicGetVolume();
[[nodiscard]] Request musicKeepAlive();
[[nodiscard]] Request musicCapability(bool distinctState);

// Find my phone (identifier 2): ring the phone, and the watch's stop command.
[[nodiscard]] Request findMyPhoneStart();
[[nodiscard]] Request findMyPhoneStop();

// Weather (identifier 5): the settings, or the phone's weather screen.
[[nodiscard]] Request weatherSettings();
[[nodiscard]] Request weatherShowOnPhone();

// Blocking a phone application's notifications (identifier 7).
[[nodiscard]] Request blockApplication(std::string_view name, std::string_view bundleId);

}  // namespace kavowatch::requests
