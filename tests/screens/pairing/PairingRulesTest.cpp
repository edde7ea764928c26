#include <gtest/gtest.h>

#include <string>

#include "platform/foundation/Replaceable.h"
#include "platform/system/DeviceInfo.h"
#include "screens/pairing/TQPairingRules.h"
#include "support/RecordingAppHost.h"
#include "utils/TQDeviceVersion.h"

namespace {

using pairing::NextSetupStep;
using pairing::SetupPage;

// Names of fewer than three words are shown as they stand, never read past their words.
TEST(PairingRulesTest, WatchNamesAreShownWithTheirNumberInParentheses) {
    testing_support::RecordingAppHost host;
    platform::ScopedInstall<platform::AppHost> installHost{&host};
    const struct {
        const char* name;
        const char* shown;
    } cases[] = {
        {"Kavo R5 (1A2B)", "Kavo R5 (1A2B)"},
        {"Kavo R5 1A2B", "Kavo R5 (1A2B)"},
        {"Kavo R5 ((1A2B))", "Kavo R5 (1A2B)"},
        {"  Kavo R5 1A2B ", "Kavo R5 (1A2B)"},
        {"Kavo R5", "Kavo R5"},
        {" Kavo R5  ", "Kavo R5"},
        {"Kavo", "Kavo"},
        {"", ""},
        {"   ", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(pairing::displayedWatchName(c.name), c.shown) << '"' << c.name << '"';
    }
}

// The device double's machine code decides the model; only a model the table names as
// unsupported is refused, and model 0 (any machine the table does not know) never is.
TEST(PairingRulesTest, OnlyKnownUnsupportedPhonesAreRefused) {
    const struct {
        const char* machine;
        int model;
        bool refused;
        const char* name;
    } cases[] = {
        {"x86_64", 0, false, "Simulator"},
        {"aarch64", 0, false, "Simulator"},
        {"iPhone3,1", 3, true, "iPhone 4"},
        {"iPhone4,1", 4, true, "iPhone 4S"},
        {"iPhone5,1", 5, false, "iPhone 5"},
        {"iPhone8,2", 11, false, "iPhone 6S Plus"},
        {"iPad1,1", 12, true, "iPad 1"},
        {"iPod7,1", 28, true, "iPod Touch 6th Gen"},
    };
    for (const auto& c : cases) {
        platform::FixedDeviceInfo device{"phone"};
        device.setMachineIdentifier(c.machine);
        platform::ScopedInstall<platform::DeviceInfo> install{&device};
        const int model = TQDeviceVersion::deviceVersion();
        EXPECT_EQ(model, c.model) << c.machine;
        EXPECT_EQ(pairing::refusesPhoneModel(model), c.refused) << c.machine;
        EXPECT_EQ(pairing::phoneModelName(model), c.name) << c.machine;
    }
    EXPECT_FALSE(pairing::refusesPhoneModel(1));
    EXPECT_EQ(pairing::phoneModelName(1), std::nullopt);
}

TEST(PairingRulesTest, EachPageGoesOnByItsOwnRuleOnceTheSettingsAreSynchronised) {
    const NextSetupStep home{"mainViewSegue", true};
    const NextSetupStep terms{"termSegue", true};
    const NextSetupStep permissions{"privacySegue", false};
    const NextSetupStep nextSetupPage{"nearKavoConnect", true};
    const struct {
        SetupPage page;
        bool reconnecting;
        bool noPermissionLeft;
        NextSetupStep next;
    } cases[] = {
        {SetupPage::welcome, false, false, permissions},
        {SetupPage::welcome, true, false, permissions},
        {SetupPage::welcome, false, true, nextSetupPage},
        {SetupPage::welcome, true, true, nextSetupPage},
        {SetupPage::scanList, true, false, home},
        {SetupPage::scanList, true, true, home},
        {SetupPage::scanList, false, true, terms},
        {SetupPage::scanList, false, false, permissions},
        {SetupPage::connecting, true, false, home},
        {SetupPage::connecting, false, false, terms},
        {SetupPage::connecting, false, true, terms},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(pairing::nextStepAfterSync(c.page, c.reconnecting, c.noPermissionLeft), c.next)
            << static_cast<int>(c.page) << " " << c.reconnecting << " " << c.noPermissionLeft;
    }
}

}  // namespace
