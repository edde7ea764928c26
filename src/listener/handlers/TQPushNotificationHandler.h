#pragma once

// The phone's push notifications for the watch (TQPushNotification): one per process.
class TQPushNotificationHandler {
public:
    virtual ~TQPushNotificationHandler() = default;

    // Registers for push notifications when no device token is stored; with a token, sends the
    // push settings to a connected watch that has not had them yet. Otherwise only logs.
    virtual void exchangePushSettingsWithKavo() = 0;
};
