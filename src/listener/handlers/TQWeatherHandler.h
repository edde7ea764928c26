#pragma once

class TQAP;

// The phone's weather settings and the watch's weather requests (TQWeatherUtil); messages go
// out on application identifier 5.
class TQWeatherHandler {
public:
    virtual ~TQWeatherHandler() = default;

    // Acknowledges a weather request.
    virtual void processWeatherAck(TQAP& ap) = 0;
    // Sends the stored settings, filling in missing defaults first.
    virtual void sendSettingData(TQAP& ap) = 0;
    // A local notification that leads the user to the weather settings.
    virtual void createWeatherNotification() = 0;
    // Resets the weather settings to their defaults when needToDelete.
    virtual void initializeWeatherDataIfIsNeedToDelete(bool needToDelete) = 0;
};
