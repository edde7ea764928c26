#pragma once

#include <cstdint>
#include <span>

#include "listener/handlers/TQPushNotificationHandler.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"
#include "platform/push/PushService.h"

class TQAP;

// The phone's push registration and the watch: keeps the device token the push service hands
// back, tells the watch which push service the phone uses and its token, and relays the time
// stamp of each push addressed to the paired watch. Messages go out on identifier 1, priority 1.
// On the main loop.
class TQPushNotification final : public TQPushNotificationHandler {
public:
    static constexpr int kPushServiceType = 5;

    TQPushNotification(TQAP& kavoManager, platform::push::PushService& pushService);

    void registerForPushNotification();
    void onReceiveDeviceToken(std::span<const std::uint8_t> token);
    void onReceiveRegistrationError(const platform::Error& error);
    void exchangePushSettingsWithKavo() override;
    // A push payload as the push service delivers it. Only a payload whose "message" is a
    // dictionary with a "kavoID" of the form "<anything>@<the paired watch's address>" counts;
    // anything else is addressed to another watch.
    void processNotification(const platform::Value& payload);

    void sendPushType();
    void sendKMRegID();

    // Upper-case hexadecimal, two digits per byte.
    [[nodiscard]] static std::string hexToken(std::span<const std::uint8_t> token);

private:
    void send(const platform::Value& message);

    TQAP& kavoManager_;
    platform::push::PushService& pushService_;
};
