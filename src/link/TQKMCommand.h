#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/foundation/Value.h"

class TQAP;

// Sends message dictionaries to the watch as pretty-printed JSON behind the link's header
// byte, and reads received JSON back into dictionaries. Stateless. Every sender takes the link
// (which may be missing) and sends nothing when it is missing or the dictionary cannot be
// written as JSON; no sender learns whether its message arrived.
class TQKMCommand {
public:
    // Acknowledged, on the given channel.
    static void processOutCommand(TQAP* ap, const platform::Value& dictionary, std::uint32_t appId,
                                  std::uint32_t priority);
    // The find-my-device channel (identifier 2, priority 1, acknowledged), where the watch
    // expects the stop of its alert.
    static void processOutCommand(TQAP* ap, const platform::Value& dictionary);
    // The JSON text as a file, with no event action.
    static void processOutFile(TQAP* ap, const platform::Value& dictionary, std::string name,
                               std::uint32_t appId);
    // The dictionary (or array) in data; nothing for anything that is not JSON.
    [[nodiscard]] static std::optional<platform::Value> processInCommand(
        std::span<const std::uint8_t> data);

    // Fixed-channel senders: general messages (identifier 1, priority 1, acknowledged).
    static void sendApp(TQAP* ap, const platform::Value& dictionary);
    static void sendNotificationFilter(TQAP* ap, const platform::Value& dictionary);
    static void sendFindMyKavoCmd(TQAP* ap, const platform::Value& dictionary);
    static void sendFindMyDeviceCmd(TQAP* ap, const platform::Value& dictionary);
    static void sendProcessEmailNotification(TQAP* ap, const platform::Value& dictionary);
    static void sendProcessMusicControl(TQAP* ap, const platform::Value& dictionary);
    static void sendProcessCameraControl(TQAP* ap, const platform::Value& dictionary);
    static void sendProcessContactSync(TQAP* ap, const platform::Value& dictionary);
    static void sendProcessCalendarSync(TQAP* ap, const platform::Value& dictionary);
    static void sendProcessReminderSync(TQAP* ap, const platform::Value& dictionary);
    static void sendWebProxyData(TQAP* ap, const platform::Value& dictionary);
    static void sendJsonWithCmd(TQAP* ap, const platform::Value& dictionary);
    static void sendPhoto(TQAP* ap, const platform::Value& dictionary);
    static void sendWeatherData(TQAP* ap, const platform::Value& dictionary);
    static void sendBuddyData(TQAP* ap, const platform::Value& dictionary);

    static constexpr std::uint32_t kGeneralAppId = 1;
    static constexpr std::uint32_t kFindMyDeviceAppId = 2;
    static constexpr std::uint32_t kNormalPriority = 1;
};
