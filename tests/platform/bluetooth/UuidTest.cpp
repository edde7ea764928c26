#include <gtest/gtest.h>

#include "platform/bluetooth/Uuid.h"

namespace {

using platform::Bytes;
using platform::bluetooth::Uuid;

TEST(UuidTest, ParsesAndPrintsTheUsualForms) {
    struct Case {
        const char* text;
        const char* printed;
        bool isShort;
    };
    const Case cases[] = {
        {"2902", "2902", true},
        {"fe9f", "FE9F", true},
        {"9a3f68e0-86ce-11e5-a309-0002a5d5c51b", "9A3F68E0-86CE-11E5-A309-0002A5D5C51B", false},
        // A long form on the base UUID is the 16-bit one.
        {"00002902-0000-1000-8000-00805F9B34FB", "2902", true},
    };
    for (const Case& c : cases) {
        const auto uuid = Uuid::parse(c.text);
        ASSERT_TRUE(uuid) << c.text;
        EXPECT_EQ(uuid->toString(), c.printed);
        EXPECT_EQ(uuid->isShort(), c.isShort) << c.text;
    }
    EXPECT_EQ(*Uuid::parse("00002902-0000-1000-8000-00805F9B34FB"), Uuid::fromShort(0x2902));
    EXPECT_EQ(Uuid::fromShort(0x2902).toLongString(), "00002902-0000-1000-8000-00805F9B34FB");
}

TEST(UuidTest, RefusesMalformedText) {
    for (const char* text :
         {"", "290", "29021", "G902", "9A3F68E0-86CE-11E5-A309-0002A5D5C51",
          "9A3F68E0_86CE-11E5-A309-0002A5D5C51B", "9A3F68E0-86CE-11E5-A309-0002A5D5C51BX"}) {
        EXPECT_FALSE(Uuid::parse(text)) << text;
    }
}

TEST(UuidTest, TravelsLeastSignificantByteFirst) {
    EXPECT_EQ(Uuid::fromShort(0x2803).littleEndian(), (Bytes{0x03, 0x28}));
    const Uuid service = *Uuid::parse("9A3F68E0-86CE-11E5-A309-0002A5D5C51B");
    const Bytes wire = service.littleEndian();
    ASSERT_EQ(wire.size(), 16u);
    EXPECT_EQ(wire.front(), 0x1B);
    EXPECT_EQ(wire.back(), 0x9A);
    EXPECT_EQ(*Uuid::fromLittleEndian(wire), service);
    EXPECT_FALSE(Uuid::fromLittleEndian(Bytes{1, 2, 3}));
}

TEST(UuidTest, RandomIdentifiersRepeatUnderASeed) {
    std::mt19937_64 first(7);
    std::mt19937_64 second(7);
    const Uuid a = Uuid::random(first);
    EXPECT_EQ(a, Uuid::random(second));
    EXPECT_NE(a, Uuid::random(first));
    EXPECT_EQ(a.toLongString()[14], '4');  // version 4
}

}  // namespace
