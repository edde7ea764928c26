#include <gtest/gtest.h>

#include <string>

#include "platform/bluetooth/bluez/BluezObjects.h"
#include "platform/bluetooth/bluez/DeviceIdentities.h"
#include "platform/foundation/UserDefaults.h"
#include "support/TempDir.h"

namespace platform::bluetooth::bluez {
namespace {

TEST(BluezObjectsTest, OnlyAddressBasedDevicePathsNameADevice) {
    struct Case {
        const char* path;
        const char* name;
    };
    const Case cases[] = {
        {"/org/bluez/hci0/dev_C0_11_22_33_44_55", "dev_C0_11_22_33_44_55"},
        {"/org/bluez/hci1/dev_c0_11_22_33_44_5f", "dev_c0_11_22_33_44_5f"},
        {"/org/bluez/hci0", ""},
        {"/org/bluez/hci0/dev_C0_11_22_33_44_55/service0001", ""},
        {"/org/bluez/hci0/dev_C0_11_22_33_44", ""},
        {"/org/bluez/hci0/dev_C0-11-22-33-44-55", ""},
        {"/org/bluez/hci0/dev_G0_11_22_33_44_55", ""},
        {"/org/bluez/hci0/../dev_C0_11_22_33_44_55x", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DeviceIdentities::deviceName(c.path), c.name) << c.path;
    }
}

TEST(BluezObjectsTest, ADeviceKeepsItsIdentifierAcrossAdaptersAndLaunches) {
    testing_support::TempDir home;
    const auto file = home.path() / "defaults.plist";
    Uuid first;
    {
        UserDefaults defaults(file);
        DeviceIdentities identities(defaults);
        first = identities.identifierFor("dev_C0_11_22_33_44_55");
        EXPECT_NE(identities.identifierFor("dev_C0_11_22_33_44_56"), first);
        EXPECT_EQ(identities.nameFor(first), "dev_C0_11_22_33_44_55");
        ASSERT_TRUE(defaults.synchronize());
    }
    UserDefaults again(file);
    DeviceIdentities identities(again);
    EXPECT_EQ(identities.identifierFor("dev_C0_11_22_33_44_55"), first);
    EXPECT_FALSE(identities.nameFor(Uuid::fromShort(0x1234)));
}

// Device1 properties as the daemon reports an advertiser; the solicited UUIDs only come in the
// raw advertising data, in any of the three widths.
TEST(BluezObjectsTest, ADevicesAdvertisingIsReadFromItsProperties) {
    Properties device;
    device["Name"] = sdbus::Variant(std::string("Kavo R5 (1A2B)"));
    device["RSSI"] = sdbus::Variant(std::int16_t{-61});
    device["Connected"] = sdbus::Variant(true);
    device["UUIDs"] = sdbus::Variant(std::vector<std::string>{"0000180d-0000-1000-8000-00805f9b34fb"});
    ManufacturerData manufacturer;
    manufacturer[0x7E51] = sdbus::Variant(Bytes{0x10, 0x01});
    device["ManufacturerData"] = sdbus::Variant(manufacturer);
    std::map<std::uint8_t, sdbus::Variant> raw;
    raw[0x14] = sdbus::Variant(Bytes{0x12, 0x18, 0x0F});  // one 16-bit UUID and a stray byte
    raw[0x1F] = sdbus::Variant(Bytes{0x78, 0x56, 0x34, 0x12});
    Bytes wide;
    const auto service = *Uuid::parse("9A3F68E0-86CE-11E5-A309-0002A5D5C51B");
    wide.assign(service.bytes().rbegin(), service.bytes().rend());
    raw[0x15] = sdbus::Variant(wide);
    raw[0x09] = sdbus::Variant(Bytes{'x'});
    device["AdvertisingData"] = sdbus::Variant(raw);

    const AdvertisementData data = advertisementOf(device);
    EXPECT_EQ(data.localName, "Kavo R5 (1A2B)");
    EXPECT_EQ(data.manufacturerData, (Bytes{0x51, 0x7E, 0x10, 0x01}));
    EXPECT_EQ(data.serviceUuids, std::vector<Uuid>{Uuid::fromShort(0x180D)});
    EXPECT_EQ(data.solicitedServiceUuids,
              (std::vector<Uuid>{Uuid::fromShort(0x1812), service,
                                 *Uuid::parse("12345678-0000-1000-8000-00805F9B34FB")}));
    EXPECT_EQ(rssiOf(device), -61);
    EXPECT_TRUE(connectedOf(device));

    // Properties of the wrong type read as absent, never as garbage.
    Properties odd;
    odd["Name"] = sdbus::Variant(std::uint32_t{7});
    odd["RSSI"] = sdbus::Variant(std::string("-61"));
    odd["ManufacturerData"] = sdbus::Variant(std::string("no"));
    EXPECT_EQ(advertisementOf(odd), AdvertisementData{});
    EXPECT_FALSE(rssiOf(odd));
    EXPECT_FALSE(connectedOf(odd));
}

TEST(BluezObjectsTest, CharacteristicFlagsFollowPropertiesAndPermissions) {
    struct Case {
        CharacteristicProperties properties;
        AttributePermissions permissions;
        std::vector<std::string> flags;
    };
    const Case cases[] = {
        {CharacteristicProperties::read, AttributePermissions::readable, {"read"}},
        {CharacteristicProperties::read | CharacteristicProperties::notify,
         AttributePermissions::readEncryptionRequired,
         {"encrypt-read", "notify"}},
        {CharacteristicProperties::write | CharacteristicProperties::writeWithoutResponse,
         AttributePermissions::writeable,
         {"write-without-response", "write"}},
        {CharacteristicProperties::write, AttributePermissions::writeEncryptionRequired,
         {"encrypt-write"}},
    };
    for (const auto& c : cases) {
        const MutableCharacteristic characteristic{Uuid::fromShort(0x2A00), c.properties,
                                                   c.permissions, std::nullopt};
        EXPECT_EQ(characteristicFlags(characteristic), c.flags);
    }
}

}  // namespace
}  // namespace platform::bluetooth::bluez
