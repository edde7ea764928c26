#include <gtest/gtest.h>

#include <string_view>

#include "link/TQCrc16.h"
#include "platform/foundation/Value.h"

namespace {

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(TQCrc16Test, MatchesTheArcCheckValues) {
    struct Case {
        platform::Bytes data;
        std::uint16_t crc;
    };
    const Case cases[] = {
        {{}, 0x0000},           {{'1', '2', '3', '4', '5', '6', '7', '8', '9'}, 0xBB3D},
        {{0x01}, 0xC0C1},       {{0x80}, 0xA001},
        {{0xFF, 0xFF}, 0xB001}, {{0x01, 0x02, 0x03}, 0xA110},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(crc16(c.data), c.crc) << testing::PrintToString(c.data);
    }
}

TEST(TQCrc16Test, ARunningValueContinuesOverTheNextBlock) {
    const auto text = bytesOf("123456789");
    EXPECT_EQ(crc16(text.subspan(4), crc16(text.first(4))), 0xBB3D);
    EXPECT_EQ(crc16({}, 0x1234), 0x1234);
}

}  // namespace
