#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"
#include "sim/PhoneServiceRequests.h"

// What the watch asks of the phone's link itself, as the watch writes it: icons, buddies,
// screens, the network, web searches, power saving, time, the notification indicator, the
// carrier number sync and its calling profile. Sent with Watch::sendJson(request.body,
// request.appId).
namespace kavowatch::requests {

// Identifier 7: the icon of a phone application, by its bundle identifier.
[[nodiscard]] Request phoneAppIcon(std::string_view bundleId);
// The icons of the watch's applications, by position: images[i] (Base64) is packages[i]'s.
[[nodiscard]] Request watchAppIcons(const std::vector<std::string_view>& packages,
                                    const std::vector<std::string_view>& images);
// Identifier 3 in the watch's own traffic; the phone answers on identifier 1.
[[nodiscard]] Request getBuddies();
[[nodiscard]] Request launchBuddies();
// The phone's general-message screen.
[[nodiscard]] Request showGeneralMessages();
[[nodiscard]] Request dataNetwork();
[[nodiscard]] Request webSearch(std::string_view name, std::string_view url);
// The watch's power-saving state; no status when none is given.
[[nodiscard]] Request powerSaving(const platform::Value& status);
[[nodiscard]] Request syncTime();
// The watch's own clock, in milliseconds since 1970.
[[nodiscard]] Request systemTime(std::int64_t t1);
[[nodiscard]] Request notificationIndicator(const platform::Value& state);
[[nodiscard]] Request numberSyncRegisterResult(std::string_view result);
[[nodiscard]] Request numberSyncRegistered(std::string_view state);
[[nodiscard]] Request numberSyncPostSetup(std::string_view deeplink);
[[nodiscard]] Request pairCallingProfile();

}  // namespace kavowatch::requests
