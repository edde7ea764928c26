#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "app/AppContext.h"
#include "platform/telephony/Telephony.h"
#include "support/LoopWait.h"
#include "support/PrivateBusTest.h"
#include "support/TempDir.h"
#include "support/modem/FakeModemManager.h"

namespace {

using platform::Carrier;
using platform::Telephony;

// The program's context with the system bus at a bus of the test's own, where the tests'
// modem manager runs.
class AppContextCarrierTest : public testing_support::PrivateBusTest {
protected:
    void SetUp() override {
        PrivateBusTest::SetUp();
        if (bus != nullptr) {
            // Before any thread starts; the bus library looks here for the system bus.
            ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus->address().c_str(), 1);
        }
    }
    void TearDown() override { ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS"); }

    AppContext::Settings settings() const {
        return AppContext::Settings{platform::RunLoop::Clock::virtualTime, folder.path() / "home"};
    }

    testing_support::TempDir folder;
};

TEST_F(AppContextCarrierTest, TheSystemsModemManagerGivesTheProgramItsCarrier) {
    std::string whyNot;
    const auto modems = testing_support::FakeModemManager::start(bus->address(), whyNot);
    ASSERT_NE(modems, nullptr) << whyNot;
    modems->addModem("44010");
    ASSERT_TRUE(bus->waitForName("org.freedesktop.ModemManager1"));

    auto withCarrier = settings();
    withCarrier.systemCarrier = true;
    {
        AppContext context(withCarrier);
        EXPECT_TRUE(testing_support::runLoopUntil(
            context.loop(),
            [] {
                return Telephony::current().subscriberCarrier() == Carrier{"440", "10"};
            },
            10));
    }
    // Gone with the context.
    EXPECT_EQ(Telephony::current().subscriberCarrier(), std::nullopt);

    // Without it the context leaves the carrier to what was installed before it.
    platform::FixedTelephony germany(Carrier{"262", "01"});
    platform::ScopedInstall<Telephony> install(&germany);
    AppContext context(settings());
    context.loop().runUntilIdle();
    EXPECT_EQ(Telephony::current().subscriberCarrier(), (Carrier{"262", "01"}));
}

}  // namespace
