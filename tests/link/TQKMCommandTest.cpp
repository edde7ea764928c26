#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "link/TQAPFixture.h"
#include "link/TQKMCommand.h"
#include "platform/foundation/Value.h"

namespace link_test {
namespace {

using platform::Value;

Bytes textBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

TEST_F(FacadeTest, AMessageDictionaryReachesTheWatchAsPrettyJsonBehindItsHeader) {
    subscribe();
    TQKMCommand::processOutCommand(&ap_, Value{{"msgId", "mgr_watch_info_req"}}, 1, 1);
    settle();

    EXPECT_EQ(watchReceived(),
              std::vector<Bytes>{textBytes("\x41{\n  \"msgId\" : \"mgr_watch_info_req\"\n}")});
}

TEST_F(FacadeTest, MessageDictionariesRoundTripWithTheirNumberKinds) {
    const Value message{
        {"msgId", "mgr_sync_init_setting_req"},
        {"gmt", -32400000},
        {"epoch", std::numeric_limits<std::uint64_t>::max()},
        {"scale", 1.0},
        {"ratio", -0.25},
        {"autotimesync", true},
        {"screenOnOff", false},
        {"text", "Grüße \"quoted\"\n"},
        {"list", Value::array({1, "two", 3.5, Value::array({}), Value{{"k", nullptr}}})},
    };
    subscribe();
    TQKMCommand::processOutCommand(&ap_, message, 5, 2);
    settle();
    ASSERT_EQ(watchReceived().size(), 1U);
    const Bytes received = watchReceived()[0];
    ASSERT_EQ(received.at(0), 0x85);

    const auto decoded = TQKMCommand::processInCommand(std::span(received).subspan(1));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, message);
    EXPECT_EQ((*decoded)["gmt"].type(), Value::Type::Int);
    EXPECT_EQ((*decoded)["epoch"].type(), Value::Type::UInt);
    EXPECT_EQ((*decoded)["scale"].type(), Value::Type::Double);
    EXPECT_EQ((*decoded)["autotimesync"].type(), Value::Type::Bool);
    EXPECT_EQ((*decoded)["screenOnOff"].type(), Value::Type::Bool);
    EXPECT_EQ((*decoded)["list"].arrayIf()->at(2).type(), Value::Type::Double);
}

TEST_F(FacadeTest, WhatCannotBeWrittenAsJsonOrHasNoLinkIsNotSent) {
    RecordingFileHandler& files = installFileHandler();
    subscribe();
    const Value dated{{"msgId", "x"}, {"when", platform::Date{0}}};
    const Value bytes{{"msgId", "x"}, {"data", Bytes{1}}};
    TQKMCommand::processOutCommand(&ap_, dated, 1, 1);
    TQKMCommand::processOutCommand(&ap_, bytes);
    TQKMCommand::processOutCommand(&ap_, Value("just text"), 1, 1);
    TQKMCommand::sendApp(&ap_, dated);
    TQKMCommand::sendProcessMusicControl(&ap_, dated);
    TQKMCommand::processOutFile(&ap_, dated, "image.png", 2);
    TQKMCommand::processOutCommand(nullptr, Value{{"msgId", "x"}}, 1, 1);
    TQKMCommand::sendApp(nullptr, Value{{"msgId", "x"}});
    TQKMCommand::processOutFile(nullptr, Value{{"msgId", "x"}}, "image.png", 2);
    settle();

    EXPECT_TRUE(watchReceived().empty());
    EXPECT_TRUE(files.files.empty());
}

TEST_F(FacadeTest, TheFindMyDeviceStopReachesTheWatchOnItsChannel) {
    subscribe();
    const Value stop{{"cmd", "findMyDevice"}, {"subcmd", "stop"}};
    TQKMCommand::processOutCommand(&ap_, stop);
    settle();

    ASSERT_EQ(watchReceived().size(), 1U);
    const Bytes received = watchReceived()[0];
    EXPECT_EQ(received.at(0), 0x42) << "priority 1, application identifier 2";
    EXPECT_EQ(TQKMCommand::processInCommand(std::span(received).subspan(1)), stop);
}

TEST_F(FacadeTest, FixedChannelSendersAllUseTheGeneralChannel) {
    using Sender = void (*)(TQAP*, const Value&);
    const Sender senders[] = {
        TQKMCommand::sendApp,
        TQKMCommand::sendNotificationFilter,
        TQKMCommand::sendFindMyKavoCmd,
        TQKMCommand::sendFindMyDeviceCmd,
        TQKMCommand::sendProcessEmailNotification,
        TQKMCommand::sendProcessMusicControl,
        TQKMCommand::sendProcessCameraControl,
        TQKMCommand::sendProcessContactSync,
        TQKMCommand::sendProcessCalendarSync,
        TQKMCommand::sendProcessReminderSync,
        TQKMCommand::sendWebProxyData,
        TQKMCommand::sendJsonWithCmd,
        TQKMCommand::sendPhoto,
        TQKMCommand::sendWeatherData,
        TQKMCommand::sendBuddyData,
    };
    subscribe();
    for (std::size_t i = 0; i < std::size(senders); ++i) {
        const Value message{{"msgId", "sender"}, {"index", static_cast<int>(i)}};
        senders[i](&ap_, message);
        settle();
        ASSERT_EQ(watchReceived().size(), i + 1);
        const Bytes received = watchReceived()[i];
        EXPECT_EQ(received.at(0), 0x41) << "sender " << i;
        EXPECT_EQ(TQKMCommand::processInCommand(std::span(received).subspan(1)), message)
            << "sender " << i;
    }
}

TEST_F(FacadeTest, AMessageSentAsAFileGoesToTheFileTransfer) {
    RecordingFileHandler& files = installFileHandler();
    subscribe();
    const Value image{{"msgId", "image"}, {"size", 3}};
    TQKMCommand::processOutFile(&ap_, image, "image.png", 2);

    ASSERT_EQ(files.files.size(), 1U);
    EXPECT_EQ(files.files[0].name, "image.png");
    EXPECT_EQ(files.files[0].appId, 2U);
    EXPECT_FALSE(files.files[0].hasEvent);
    EXPECT_EQ(TQKMCommand::processInCommand(files.files[0].data), image);

    unsubscribe();
    TQKMCommand::processOutFile(&ap_, image, "image.png", 2);
    EXPECT_EQ(fileDelegate_->errors,
              (std::vector<std::pair<std::int64_t, std::string>>{{9, "Bluetooth not connected"}}));
}

TEST(TQKMCommandTest, ReadsOnlyJsonObjectsAndArrays) {
    struct Case {
        std::string_view text;
        bool decodes;
    };
    const Case cases[] = {
        {"", false},         {"\"fragment\"", false},
        {"42", false},       {"{\"msgId\": ", false},
        {"not json", false}, {"{\"msgId\": \"mgr_x\"}", true},
        {"[1, 2]", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TQKMCommand::processInCommand(textBytes(c.text)).has_value(), c.decodes)
            << c.text;
    }
}

}  // namespace
}  // namespace link_test
