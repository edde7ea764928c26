#include <gtest/gtest.h>

#include "BluetoothTestSupport.h"
#include "platform/bluetooth/Advertisement.h"

namespace {

using namespace bluetooth_test;

TEST(AdvertisementTest, EncodesAdStructuresAsOnTheAir) {
    AdvertisementData data;
    data.localName = "Kavo";
    data.manufacturerData = Bytes{0x51, 0x7E, 0x01};
    data.serviceUuids = {Uuid::fromShort(0x180D)};
    const auto encoded = encodeAdvertisement(data);
    ASSERT_TRUE(encoded);
    EXPECT_EQ(*encoded, (Bytes{0x05, 0x09, 'K', 'a', 'v', 'o',  // complete local name
                               0x04, 0xFF, 0x51, 0x7E, 0x01,    // manufacturer data as given
                               0x03, 0x03, 0x0D, 0x18}));       // 16-bit service list
}

TEST(AdvertisementTest, RoundTripsEveryField) {
    AdvertisementData data = watchAdvertisement();
    data.serviceUuids = {kService, Uuid::fromShort(0x180F)};
    data.solicitedServiceUuids = {Uuid::fromShort(0x1812), kNotify};
    const auto decoded = decodeAdvertisement(*encodeAdvertisement(data));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->localName, data.localName);
    EXPECT_EQ(decoded->manufacturerData, data.manufacturerData);
    // Lists travel 16-bit first, then 128-bit.
    EXPECT_EQ(decoded->serviceUuids, (std::vector<Uuid>{Uuid::fromShort(0x180F), kService}));
    EXPECT_EQ(decoded->solicitedServiceUuids,
              (std::vector<Uuid>{Uuid::fromShort(0x1812), kNotify}));
}

TEST(AdvertisementTest, SplitsLongUuidListsAndRefusesOversizedFields) {
    AdvertisementData many;
    for (int i = 0; i < 20; ++i) {
        many.serviceUuids.push_back(kService);
    }
    const auto decoded = decodeAdvertisement(*encodeAdvertisement(many));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->serviceUuids.size(), 20u);

    AdvertisementData tooLong;
    tooLong.manufacturerData = Bytes(255, 0);
    EXPECT_FALSE(encodeAdvertisement(tooLong));
}

TEST(AdvertisementTest, DecodingSkipsUnknownTypesAndStopsAtPadding) {
    const Bytes bytes{0x02, 0x01, 0x06,        // flags
                      0x03, 0x08, 'K',  'a',   // shortened name
                      0x03, 0xFF, 0x51, 0x7E,  // manufacturer data
                      0x00, 0xAA, 0xBB};       // padding
    const auto decoded = decodeAdvertisement(bytes);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->localName, "Ka");
    EXPECT_EQ(decoded->manufacturerData, (Bytes{0x51, 0x7E}));
}

TEST(AdvertisementTest, RefusesMalformedData) {
    const Bytes cases[] = {
        {0x05, 0x09, 'K', 'a'},          // runs past the end
        {0x04, 0x03, 0x0D, 0x18, 0x0F},  // odd 16-bit list
        {0x03, 0x09, 0xC3, 0x28},        // name not UTF-8
        {0x05, 0x07, 1, 2, 3, 4},        // short 128-bit list
    };
    for (const Bytes& bytes : cases) {
        EXPECT_FALSE(decodeAdvertisement(bytes));
    }
}

}  // namespace
