#pragma once

#include <string>

#include "listener/handlers/TQWeatherHandler.h"

class TQAP;

// The user's weather settings (unit, refresh interval, current location) in the user defaults,
// and the answers to the watch's weather requests on identifier 5, priority 1; these messages
// carry no "msgId". No state.
class TQWeatherUtil final : public TQWeatherHandler {
public:
    static constexpr int kDefaultRefreshHours = 6;

    void processWeatherAck(TQAP& ap) override;
    void sendSettingData(TQAP& ap) override;
    void createWeatherNotification() override;
    void initializeWeatherDataIfIsNeedToDelete(bool needToDelete) override;

    // 0 (Fahrenheit) on a carrier of the United States, else 1 (Celsius).
    [[nodiscard]] static int defaultUnit();
    // The wall clock's milliseconds since 1970, as decimal digits.
    [[nodiscard]] static std::string sequenceText();
};
