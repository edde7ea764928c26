#include <gtest/gtest.h>

#include <cstdint>

#include "logging/LGFormat.h"

namespace {

using platform::Value;

TEST(LGFormatTest, ConversionsAsTheSystemWritesThem) {
    const Value dictionary{{"msgId", "mgr_watch_info_req"}};
    const std::string name = "TQProtocol";
    struct Case {
        std::string got;
        std::string expected;
    };
    const Case cases[] = {
        {lg::format("TQProtocol - packetsFromDataModel : data Length [%u, %u]", 300u, 120u),
         "TQProtocol - packetsFromDataModel : data Length [300, 120]"},
        {lg::format("TQProtocol - Packet Count = %ld\n", std::int64_t{3}),
         "TQProtocol - Packet Count = 3\n"},
        {lg::format("Received ACK: %x", 0xFF00), "Received ACK: ff00"},
        {lg::format("Calculated CRC: %X", 0xbb3d), "Calculated CRC: BB3D"},
        {lg::format("%s - state %d", name, -4), "TQProtocol - state -4"},
        {lg::format("%s", "literal"), "literal"},
        {lg::format("messageString: %@", "text"), "messageString: text"},
        {lg::format("%@", dictionary), "{\n    msgId = mgr_watch_info_req;\n}"},
        {lg::format("count %@", 5), "count 5"},
        {lg::format("%f|%.2f|%5.1f|%g", 1.5, 2.0, 3.14159, 0.5), "1.500000|2.00|  3.1|0.5"},
        {lg::format("%05d|%-4d|%+d|%4s|%-4s|", 42, 7, 3, "ab", "cd"), "00042|7   |+3|  ab|cd  |"},
        {lg::format("%.3s", "abcdef"), "abc"},
        {lg::format("%*d", 4, 9), "   9"},
        {lg::format("%u", -1), "4294967295"},
        {lg::format("%lu", -1), "18446744073709551615"},
        {lg::format("%hhx", 0x1ff), "ff"},
        {lg::format("%llu", UINT64_MAX), "18446744073709551615"},
        {lg::format("%c%c", 'o', 'k'), "ok"},
        {lg::format("100%% done"), "100% done"},
        {lg::format("%d", true), "1"},
        {lg::format("%@", static_cast<const char*>(nullptr)), "(null)"},
        {lg::format("%@ - %@ - %s", true, false, -12), "1 - 0 - -12"},
        {lg::format("%@|%5@|%-4s|%.1@", UINT64_MAX, 42u, 7, 42),
         "18446744073709551615|   42|7   |4"},
        {lg::format("%@", INT64_MIN), "-9223372036854775808"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.got, c.expected);
    }
}

TEST(LGFormatTest, AppendingKeepsWhatIsThere) {
    std::string text = "kept ";
    const lg::FormatArg args[] = {lg::FormatArg(42), lg::FormatArg("x")};
    lg::appendFormatArgs(text, "%d %s %d", args);
    EXPECT_EQ(text, "kept 42 x %d");
}

TEST(LGFormatTest, MismatchedAndMissingArgumentsStaySafe) {
    EXPECT_EQ(lg::format("%d and %s", "text"), "text and %s");
    EXPECT_EQ(lg::format("%f", "x"), "x");
    EXPECT_EQ(lg::format("%d", 1, 2, 3), "1");
    EXPECT_EQ(lg::format("%k stays %"), "%k stays %");
    EXPECT_EQ(lg::format("%s", std::string(2000, 'a')).size(), 2000u);
    EXPECT_EQ(lg::format("%.1000f", 1.0).size(), 1002u);
}

}  // namespace
