#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/permissions/Permissions.h"
#include "platform/ui/Window.h"
#include "screens/support/PairingAir.h"
#include "screens/support/ScreenDriver.h"

namespace screens_test {

// The screen driver with the pairing air under it: the watches are off until a test brings
// them on, and the phone's link service is published.
class PairingFixture : public ::testing::Test {
protected:
    PairingFixture() { air.settleLink(); }

    // The user decided every permission the set-up asks about (a denial counts as decided).
    void decideEveryPermission() {
        for (const platform::Feature feature :
             {platform::Feature::contacts, platform::Feature::calendars}) {
            driver.defaults.set(platform::Permissions::defaultsKey(feature),
                                static_cast<int>(platform::Decision::denied));
        }
    }

    [[nodiscard]] std::string alertName() const {
        const platform::ui::AlertView* shown = driver.alert();
        return shown == nullptr ? std::string() : platform::ui::toStdString(shown->objectName());
    }

    bool runUntilScene(const std::string& scene, double seconds = 60) {
        return air.runUntil([&] { return driver.topScene() == scene; }, seconds);
    }

    ScreenDriver driver;
    PairingAir air{driver};
};

}  // namespace screens_test
