#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "platform/telephony/ModemManagerTelephony.h"
#include "support/LoopWait.h"
#include "support/PrivateBusTest.h"
#include "support/TempDir.h"
#include "support/modem/FakeModemManager.h"

namespace platform {
namespace {

using testing_support::FakeModemManager;

TEST(OperatorIdentifierTest, CountryIsTheFirstThreeDigitsAndNetworkTheRest) {
    struct Case {
        const char* identifier;
        Carrier carrier;
    };
    const Case cases[] = {
        {"44010", {"440", "10"}},
        {"310260", {"310", "260"}},
        {"00101", {"001", "01"}},
        // Anything but five or six digits names nothing.
        {"", {}},
        {"4401", {}},
        {"4401000", {}},
        {"44O10", {}},
        {" 44010", {}},
        {"44010\n", {}},
        {"-4401", {}},
        {"440+10", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(carrierOfOperatorIdentifier(c.identifier), c.carrier)
            << '"' << c.identifier << '"';
    }
}

TEST(ModemManagerTelephonyWithoutBusTest, NoSystemBusIsNoSim) {
    // The bus library looks here for the system bus; nothing listens there.
    testing_support::TempDir folder;
    const std::string address = "unix:path=" + (folder.path() / "no-bus").string();
    const char* previous = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    const std::optional<std::string> saved =
        previous != nullptr ? std::optional<std::string>(previous) : std::nullopt;
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
    {
        RunLoop loop{RunLoop::Clock::real};
        ModemManagerTelephony telephony(loop);
        EXPECT_FALSE(telephony.hasBus());
        EXPECT_EQ(telephony.subscriberCarrier(), std::nullopt);
    }
    if (saved) {
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", saved->c_str(), 1);
    } else {
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
}

// The real backend against the tests' own modem manager on a private bus. The bus answers on
// its own threads, so the loop runs on the real clock and every wait is for a reading, bounded.
class ModemManagerTelephonyTest : public testing_support::PrivateBusTest {
protected:
    void startModemManager() {
        std::string whyNot;
        modems = FakeModemManager::start(bus->address(), whyNot);
        ASSERT_NE(modems, nullptr) << whyNot;
        ASSERT_TRUE(bus->waitForName(ModemManagerTelephony::kService));
    }

    // Made once the test has laid out the bus; returns after its first reading.
    void makeTelephony() {
        telephony = std::make_unique<ModemManagerTelephony>(loop, bus->address());
        ASSERT_TRUE(telephony->hasBus());
        telephony->onRead([this] { ++reads; });
        ASSERT_TRUE(testing_support::runLoopUntil(
            loop, [this] { return reads > 0; }, 10));
    }

    // Runs the loop until the carrier reads as expected.
    bool readsAs(const std::optional<Carrier>& expected) {
        return testing_support::runLoopUntil(
            loop, [&] { return telephony->subscriberCarrier() == expected; }, 10);
    }

    // Runs the loop until a reading after this call came in.
    bool readAgain(int since) {
        return testing_support::runLoopUntil(
            loop, [&] { return reads > since; }, 10);
    }

    RunLoop loop{RunLoop::Clock::real};
    std::unique_ptr<FakeModemManager> modems;
    std::unique_ptr<ModemManagerTelephony> telephony;
    int reads = 0;
};

TEST_F(ModemManagerTelephonyTest, AModemWithASimGivesItsCodesAndFollowsTheOperator) {
    startModemManager();
    const auto modem = modems->addModem("44010");
    makeTelephony();
    EXPECT_EQ(telephony->subscriberCarrier(), (Carrier{"440", "10"}));

    // Installed, it is what the application asks.
    ScopedInstall<Telephony> install(telephony.get());
    EXPECT_EQ(Telephony::current().subscriberCarrier(), (Carrier{"440", "10"}));

    modems->setOperatorIdentifier(modem, "310260");
    EXPECT_TRUE(readsAs(Carrier{"310", "260"}));

    // The bus going away takes the modem manager with it.
    modems.reset();
    bus.reset();
    EXPECT_TRUE(readsAs(std::nullopt));
}

TEST_F(ModemManagerTelephonyTest, NoModemIsNoSimAndModemsAreFollowedAsTheyComeAndGo) {
    startModemManager();
    makeTelephony();
    EXPECT_EQ(telephony->subscriberCarrier(), std::nullopt);

    // A modem without a SIM is still no SIM.
    int before = reads;
    modems->addModem(std::nullopt);
    ASSERT_TRUE(readAgain(before));
    EXPECT_EQ(telephony->subscriberCarrier(), std::nullopt);

    const auto withSim = modems->addModem("23415");
    EXPECT_TRUE(readsAs(Carrier{"234", "15"}));

    modems->removeModem(withSim);
    EXPECT_TRUE(readsAs(std::nullopt));
}

TEST_F(ModemManagerTelephonyTest, AMalformedIdentifierGivesNoCodes) {
    startModemManager();
    const auto modem = modems->addModem("44O10");
    makeTelephony();
    EXPECT_EQ(telephony->subscriberCarrier(), Carrier{});

    modems->setOperatorIdentifier(modem, "44010");
    EXPECT_TRUE(readsAs(Carrier{"440", "10"}));
    // A SIM that has not read its operator yet names none.
    modems->setOperatorIdentifier(modem, "");
    EXPECT_TRUE(readsAs(Carrier{}));
}

TEST_F(ModemManagerTelephonyTest, AModemManagerThatComesLaterIsReadWhenItComes) {
    makeTelephony();
    EXPECT_EQ(telephony->subscriberCarrier(), std::nullopt);

    startModemManager();
    modems->addModem("26201");
    EXPECT_TRUE(readsAs(Carrier{"262", "01"}));

    modems->vanish();
    EXPECT_TRUE(readsAs(std::nullopt));
}

}  // namespace
}  // namespace platform
