#include <gtest/gtest.h>

#include "TQBleFixture.h"
#include "link/TQBLEStatus.h"
#include "link/TQCentral.h"

namespace {

using namespace ble_test;

// The central role on the phone's adapter, among watches that advertise.
class TQCentralTest : public ::testing::Test {
protected:
    TQCentralTest() {
        central->setDelegate(&recorder);
        world.loop.runUntilIdle();
        recorder.statuses.clear();
    }

    // A watch on the air, advertising data; the scripted watch for kWatch.
    void watch(const Uuid& identifier, const AdvertisementData& data, int rssi = -50) {
        if (identifier == kWatch) {
            world.air.setRssi(kWatch, rssi);
            world.advertiseWatch(data);
            return;
        }
        auto& advertiser = advertisers[identifier];
        if (!advertiser) {
            advertiser = std::make_unique<Advertiser>(world.air, identifier, rssi);
        }
        advertiser->advertise(data);
    }

    RemotePeripheral& peripheralOf(const Uuid& identifier) {
        const Uuid identifiers[] = {identifier};
        return *central->getConnectedPeripherals(identifiers).at(0);
    }

    std::vector<Uuid> listed() const {
        std::vector<Uuid> identifiers;
        for (const RemotePeripheral* peripheral : central->peripherals()) {
            identifiers.push_back(peripheral->identifier());
        }
        return identifiers;
    }

    BleWorld world;
    RecordingConnectDelegate recorder;
    std::map<Uuid, std::unique_ptr<Advertiser>> advertisers;
    std::unique_ptr<TQCentral> central = std::make_unique<TQCentral>(world.phone);
};

TEST(TQCentralListingTest, ListsOnlyWatchesInTheirSetupWizard) {
    struct Case {
        const char* name;
        AdvertisementData data;
        bool listed;
        bool hiddenCondition;
    };
    const auto with = [](std::function<void(AdvertisementData&)> change) {
        AdvertisementData data = watchAdvertisement(1);
        change(data);
        return data;
    };
    const Case cases[] = {
        {"company identifier little-endian", watchAdvertisement(1), true, false},
        {"company identifier big-endian",
         with([](auto& d) { (*d.manufacturerData)[0] = 0x7E, (*d.manufacturerData)[1] = 0x51; }),
         true, false},
        {"other company",
         with([](auto& d) { (*d.manufacturerData)[0] = 0x7E, (*d.manufacturerData)[1] = 0x52; }),
         false, false},
        {"hidden condition 0x03", watchAdvertisement(1, "Kavo R5 (1A2B)", 0x03), true, true},
        {"hidden condition 0x02", watchAdvertisement(1, "Kavo R5 (1A2B)", 0x02), true, false},
        {"auto connection", watchAdvertisement(2), false, false},
        {"other purpose", watchAdvertisement(3), false, false},
        {"no manufacturer data", with([](auto& d) { d.manufacturerData.reset(); }), false, false},
        {"empty manufacturer data", with([](auto& d) { d.manufacturerData = Bytes{}; }), false,
         false},
        {"no purpose byte (7 bytes)", with([](auto& d) { d.manufacturerData->resize(7); }), false,
         false},
        {"no hidden-condition byte (8 bytes)", with([](auto& d) { d.manufacturerData->resize(8); }),
         true, false},
        {"solicited services",
         with([](auto& d) { d.solicitedServiceUuids = {Uuid::fromShort(0x1812)}; }), false, false},
        {"another device's name", watchAdvertisement(1, "Kavo R4 (1A2B)"), false, false},
        // What is a watch is decided by the name's beginning alone, as every page decides it.
        {"the watch's words after others", watchAdvertisement(1, "My Kavo R5 (1A2B)"), false,
         false},
        {"the watch's words in lower case", watchAdvertisement(1, "kavo r5 (1A2B)"), false,
         false},
        {"no name", with([](auto& d) { d.localName.reset(); }), false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BleWorld world;
        RecordingConnectDelegate recorder;
        TQCentral central(world.phone);
        central.setDelegate(&recorder);
        world.advertiseWatch(c.data);
        central.startScan();
        world.settle(0.2);
        ASSERT_EQ(central.peripherals().size(), c.listed ? 1u : 0u);
        EXPECT_EQ(recorder.discovered.size(), c.listed ? 1u : 0u);
        if (c.listed) {
            EXPECT_EQ(central.getNearestPeripheral(), central.peripherals()[0]);
            EXPECT_EQ(hiddenConditionFlag(*central.peripherals()[0]), c.hiddenCondition);
        } else {
            EXPECT_EQ(central.getNearestPeripheral(), nullptr);
        }
    }
}

TEST_F(TQCentralTest, AWatchIsListedOnceAndALaterAdvertisementCanStillListIt) {
    watch(kWatch, watchAdvertisement(2));
    central->startScan();
    world.settle(0.2);
    EXPECT_TRUE(central->peripherals().empty());
    EXPECT_EQ(recorder.statuses, std::vector<std::uint64_t>{TQBLEStatus_StartScan});

    // The same watch now in its setup wizard: listed. Its next change is not news.
    watch(kWatch, watchAdvertisement(1));
    world.settle(0.2);
    watch(kWatch, watchAdvertisement(1, "Kavo R5 (1A2B)", 0x01));
    world.settle(0.2);
    EXPECT_EQ(listed(), std::vector<Uuid>{kWatch});
    ASSERT_EQ(recorder.discoveredLists.size(), 1u);
    // The live list itself goes up, and it grows with later discoveries.
    EXPECT_EQ(recorder.discoveredLists[0], &central->peripherals());
    EXPECT_FALSE(hiddenConditionFlag(*central->peripherals()[0]));
    watch(kOtherWatch, watchAdvertisement(1));
    world.settle(0.2);
    EXPECT_EQ(recorder.discoveredLists.size(), 2u);
    EXPECT_EQ(recorder.discoveredLists[0]->size(), 2u);
}

TEST_F(TQCentralTest, TheNearestWatchIsTheFirstWithTheStrongestSignal) {
    central->startScan();
    const std::pair<Uuid, int> watches[] = {{kWatch, -70}, {kOtherWatch, -50}, {kThirdWatch, -50}};
    for (const auto& [identifier, rssi] : watches) {
        watch(identifier, watchAdvertisement(1), rssi);
        world.settle(0.1);
    }
    EXPECT_EQ(listed(), (std::vector<Uuid>{kWatch, kOtherWatch, kThirdWatch}));
    ASSERT_NE(central->getNearestPeripheral(), nullptr);
    EXPECT_EQ(central->getNearestPeripheral()->identifier(), kOtherWatch);

    // Stopping forgets the list and the choice; the identifiers stay until a new scan.
    central->stopScan();
    EXPECT_TRUE(central->peripherals().empty());
    EXPECT_EQ(central->getNearestPeripheral(), nullptr);
    EXPECT_EQ(central->peripheralUUIDList().size(), 3u);
    EXPECT_EQ(recorder.statuses.back(), TQBLEStatus_StopScan);
    EXPECT_FALSE(central->centralManager().isScanning());

    // A new scan starts the choice afresh: a weaker watch can be the nearest again.
    world.air.setRssi(kWatch, -80);
    world.air.setRssi(kOtherWatch, -90);
    world.air.setRssi(kThirdWatch, -95);
    central->startScan();
    world.settle(0.2);
    EXPECT_EQ(central->peripherals().size(), 3u);
    EXPECT_EQ(central->getNearestPeripheral()->identifier(), kWatch);
}

TEST_F(TQCentralTest, ANewScanThatFindsNothingHasNoNearestWatch) {
    central->startScan();
    watch(kWatch, watchAdvertisement(1));
    world.settle(0.2);
    ASSERT_NE(central->getNearestPeripheral(), nullptr);

    // The watch leaves its setup wizard; the next scan, without stopping the first, finds
    // nothing to offer and must not offer the watch of the scan before.
    watch(kWatch, watchAdvertisement(2));
    central->startScan();
    world.settle(0.2);
    EXPECT_TRUE(central->peripherals().empty());
    EXPECT_EQ(central->getNearestPeripheral(), nullptr);
}

TEST(TQCentralSearchTest, TheSearchFindsOnlyThePairedWatchLookingForItsPhone) {
    struct Case {
        const char* name;
        std::optional<std::string> deviceMac;
        AdvertisementData data;
        bool found;
    };
    const Case cases[] = {
        {"paired watch reconnecting", "1A2B", watchAdvertisement(2), true},
        {"paired watch in its setup wizard", "1A2B", watchAdvertisement(1), false},
        {"another watch", "9Z9Z", watchAdvertisement(2), false},
        {"no address stored", std::nullopt, watchAdvertisement(2), false},
        {"an empty address", "", watchAdvertisement(2), false},
        {"too short to tell", "1A2B",
         [] {
             AdvertisementData data = watchAdvertisement(2);
             data.manufacturerData->resize(7);
             return data;
         }(),
         false},
        {"not a watch", "1A2B", watchAdvertisement(2, "Other (1A2B)"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BleWorld world;
        RecordingConnectDelegate recorder;
        TQCentral central(world.phone);
        central.setDelegate(&recorder);
        if (c.deviceMac) {
            world.defaults().set("deviceMac", *c.deviceMac);
        }
        world.advertiseWatch(c.data);
        central.searchMyKavo();
        world.settle(0.3);
        EXPECT_TRUE(central.isSearchMyKavo());
        ASSERT_EQ(recorder.found.size(), c.found ? 1u : 0u);
        EXPECT_TRUE(central.peripherals().empty());
        // Found: the search ends. Otherwise it goes on, reporting nothing.
        EXPECT_EQ(central.centralManager().isScanning(), !c.found);
        EXPECT_EQ(recorder.statuses.back(),
                  c.found ? TQBLEStatus_StopScan : TQBLEStatus_Central_On);
        if (c.found) {
            EXPECT_EQ(recorder.found[0]->identifier(), kWatch);
        }
    }
}

TEST_F(TQCentralTest, RequestsMadeWhileOffAreCarriedOutAtPowerOnInOrder) {
    watch(kWatch, watchAdvertisement(2));
    RemotePeripheral& target = peripheralOf(kWatch);
    world.air.powerOff(kPhone);
    world.settle(0.1);
    EXPECT_EQ(recorder.statuses, std::vector<std::uint64_t>{TQBLEStatus_Central_Off});
    recorder.statuses.clear();
    central->startScan();
    central->connectWithPeripheral(target);
    world.settle(0.5);
    EXPECT_TRUE(recorder.statuses.empty());
    EXPECT_EQ(target.state(), PeripheralState::disconnected);

    world.air.powerOn(kPhone);
    world.settle(0.5);
    // On, the scan, then the connection, which stops the scan.
    EXPECT_EQ(recorder.statuses,
              (std::vector<std::uint64_t>{TQBLEStatus_Central_On, TQBLEStatus_StartScan,
                                          TQBLEStatus_StopScan, TQBLEStatus_Peripheral_Connect}));
    EXPECT_EQ(target.state(), PeripheralState::connected);
    EXPECT_EQ(central->getConnectedPeripheral(), &target);
    EXPECT_TRUE(central->peripheralUUIDList().empty());
    EXPECT_FALSE(central->centralManager().isScanning());
}

TEST_F(TQCentralTest, ALossIsReportedOnlyWhenTheWatchEndedTheConnection) {
    watch(kWatch, watchAdvertisement(2));
    RemotePeripheral& target = peripheralOf(kWatch);
    central->connectWithPeripheral(target);
    world.settle(0.2);
    ASSERT_EQ(target.state(), PeripheralState::connected);

    // Timed out: asked for again at once, nothing reported.
    recorder.statuses.clear();
    world.air.dropConnection(kPhone, kWatch, ErrorCode::connectionTimeout);
    world.settle(0.2);
    // Nothing about the loss; the connection comes back as a new one.
    EXPECT_EQ(recorder.statuses,
              (std::vector<std::uint64_t>{TQBLEStatus_StopScan, TQBLEStatus_Peripheral_Connect}));
    EXPECT_NE(target.state(), PeripheralState::disconnected);
    EXPECT_EQ(world.logs->count("CENTRAL: Retry peripheral connection"), 1);

    // Ended by the watch: status 1, no retry.
    world.settle(0.5);
    ASSERT_EQ(target.state(), PeripheralState::connected);
    recorder.statuses.clear();
    world.air.dropConnection(kPhone, kWatch, ErrorCode::peripheralDisconnected);
    world.settle(0.5);
    EXPECT_EQ(recorder.statuses, std::vector<std::uint64_t>{TQBLEStatus_Peripheral_Disconnect});
    EXPECT_EQ(target.state(), PeripheralState::disconnected);
    // The last connected watch is remembered.
    EXPECT_EQ(central->getConnectedPeripheral(), &target);
}

TEST_F(TQCentralTest, AFailedConnectionIsReportedAndNotRetried) {
    watch(kWatch, watchAdvertisement(2));
    RemotePeripheral& target = peripheralOf(kWatch);
    world.air.powerOff(kWatch);
    world.settle(0.1);
    central->connectWithPeripheral(target);
    world.settle(1.0);
    EXPECT_EQ(target.state(), PeripheralState::connecting);  // no time-out of its own
    world.air.dropConnection(kPhone, kWatch, ErrorCode::connectionFailed);
    world.settle(0.2);
    EXPECT_EQ(recorder.statuses, std::vector<std::uint64_t>{TQBLEStatus_disconnect});
    EXPECT_EQ(target.state(), PeripheralState::disconnected);
    EXPECT_EQ(central->getConnectedPeripheral(), nullptr);
}

TEST_F(TQCentralTest, TheHiddenConditionFlagLivesAsLongAsTheRoleThatListedTheWatch) {
    watch(kWatch, watchAdvertisement(1, "Kavo R5 (1A2B)", 0x01));
    central->startScan();
    world.settle(0.2);
    ASSERT_EQ(central->peripherals().size(), 1u);
    RemotePeripheral& listedWatch = *central->peripherals()[0];
    EXPECT_TRUE(hiddenConditionFlag(listedWatch));
    setHiddenConditionFlag(listedWatch, false);
    EXPECT_FALSE(hiddenConditionFlag(listedWatch));
    setHiddenConditionFlag(listedWatch, true);

    central.reset();
    TQCentral next(world.phone);
    next.startScan();
    watch(kWatch, watchAdvertisement(2));
    world.settle(0.2);
    const Uuid identifiers[] = {kWatch};
    const auto again = next.getConnectedPeripherals(identifiers);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_FALSE(hiddenConditionFlag(*again[0]));
}

TEST_F(TQCentralTest, TwoCentralRolesKeepTheirOwnFlagForTheSameWatch) {
    watch(kWatch, watchAdvertisement(1, "Kavo R5 (1A2B)", 0x01));
    central->startScan();
    platform::bluetooth::Adapter otherPhone{world.air.attach(), world.loop};
    TQCentral other(otherPhone);
    other.startScan();
    world.settle(0.2);
    ASSERT_EQ(central->peripherals().size(), 1u);
    ASSERT_EQ(other.peripherals().size(), 1u);
    setHiddenConditionFlag(*other.peripherals()[0], false);
    EXPECT_TRUE(hiddenConditionFlag(*central->peripherals()[0]));
    EXPECT_FALSE(hiddenConditionFlag(*other.peripherals()[0]));
}

TEST(TQCentralNameTest, TheDeviceUuidComesFromTheFirstFourCharacterToken) {
    const std::pair<std::optional<std::string_view>, std::optional<std::string>> cases[] = {
        {"Kavo R5 (1A2B)", "1A2B"},
        {"Kavo (12345) R5 (ab9Z) (CDEF)", "ab9Z"},
        {"Kavo R5 (1A-B)", "A-B)"},
        {"Kavo R5 1A2B", "1A2B"},
        {"R5", "R5"},
        {"", ""},
        {"Kavo R5 (ÄÖÜ)", "ÄÖÜ)"},
        {std::nullopt, std::nullopt},
    };
    for (const auto& [name, expected] : cases) {
        EXPECT_EQ(TQCentral::getDeviceUUIDWithName(name), expected) << name.value_or("(none)");
    }
}

}  // namespace
