#include <gtest/gtest.h>

#include "services/ServicesWorld.h"
#include "services/TQNotificationObject.h"

namespace services_test {
namespace {

TEST(NotificationObjectTest, AnEntryReadsBackAsItWasWritten) {
    TQNotificationObject entry{"Mail", "com.example.mail", true, std::nullopt};
    const auto decoded = TQNotificationObject::decodedWithObject(Value(entry.encoded()));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(*decoded, entry);
    const TQNotificationObject call{"Missed Call", "com.apple.mobilephone", false, "2"};
    EXPECT_EQ(TQNotificationObject::decodedWithObject(Value(call.encoded())), call);
}

TEST(NotificationObjectTest, WhatIsNotAnArchiveOfAnEntryDecodesToNothing) {
    const std::string other =
        R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict><key>$top</key>)"
        R"(<dict><key>root</key><dict><key>CF$UID</key><integer>1</integer></dict></dict>)"
        R"(<key>$objects</key><array><string>$null</string><dict><key>$class</key><dict>)"
        R"(<key>CF$UID</key><integer>2</integer></dict></dict><dict><key>$classname</key>)"
        R"(<string>NSDate</string></dict></array></dict></plist>)";
    const Value cases[] = {Value(platform::Bytes{}), Value(platform::Bytes{'x', 'y'}),
                           Value("text, not data"),
                           Value(platform::Bytes(other.begin(), other.end()))};
    for (const Value& data : cases) {
        EXPECT_EQ(TQNotificationObject::decodedWithObject(data), std::nullopt);
    }
}

TEST(NotificationObjectTest, AnArchiveWithoutTheFlagReadsAsOff) {
    const std::string archive =
        R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict><key>$top</key>)"
        R"(<dict><key>root</key><dict><key>CF$UID</key><integer>1</integer></dict></dict>)"
        R"(<key>$objects</key><array><string>$null</string><dict><key>$class</key><dict>)"
        R"(<key>CF$UID</key><integer>2</integer></dict><key>identifier</key><dict>)"
        R"(<key>CF$UID</key><integer>3</integer></dict></dict><dict><key>$classname</key>)"
        R"(<string>TQNotificationObject</string></dict><string>com.example</string></array>)"
        R"(</dict></plist>)";
    const auto decoded = TQNotificationObject::decodedWithObject(
        Value(platform::Bytes(archive.begin(), archive.end())));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->identifier, "com.example");
    EXPECT_FALSE(decoded->notification);
    EXPECT_EQ(decoded->name, std::nullopt);
}

class BlockedAppsTest : public ::testing::Test {
protected:
    void SetUp() override { services.connect(); }
    void block(Value fields) {
        fields["msgId"] = "msg_notification_block_info_req";
        services.world.send(fields);
    }
    platform::Array stored() const {
        const auto list = services.world.defaults.object("BLOCKED_APPS_LIST");
        return list && list->arrayIf() != nullptr ? *list->arrayIf() : platform::Array{};
    }

    ServicesWorld services;
};

TEST_F(BlockedAppsTest, APhoneCategoryIsNamedStoredOnceAndAnsweredEachTime) {
    const std::size_t from = services.mark();
    const Value request{
        {"app_name", "Phone"}, {"bundle_id", "com.apple.mobilephone"}, {"category_id", "2"}};
    block(request);
    block(request);
    ASSERT_EQ(stored().size(), 1U);
    EXPECT_EQ(TQNotificationObject::decodedWithObject(stored()[0]),
              (TQNotificationObject{"Missed Call", "com.apple.mobilephone", false, "2"}));
    const auto answers = services.received(from, "msg_notification_block_info_res");
    ASSERT_EQ(answers.size(), 2U);
    EXPECT_EQ(answers[0].appId, 7);
    EXPECT_EQ(answers[0].json, (Value{{"msgId", "msg_notification_block_info_res"},
                                      {"bundle_id", "com.apple.mobilephone"},
                                      {"category_id", "2"}}));
}

TEST_F(BlockedAppsTest, ARequestWithoutCategoryMatchesAnyAndOneWithACategoryNeedsThatOne) {
    block(Value{{"app_name", "Mail"}, {"bundle_id", "com.example.mail"}});
    block(Value{{"app_name", "Mail"}, {"bundle_id", "com.example.mail"}, {"category_id", "9"}});
    EXPECT_EQ(stored().size(), 2U);
    block(Value{{"app_name", "Mail"}, {"bundle_id", "com.example.mail"}});
    EXPECT_EQ(stored().size(), 2U);
}

// An entry that does not decode is passed over, and the list is written back with it in its
// place, unchanged.
TEST_F(BlockedAppsTest, AnEntryThatDoesNotDecodeIsKeptAsItIs) {
    const platform::Bytes foreign{'n', 'o', 't', ' ', 'a', 'n', ' ', 'e', 'n', 't', 'r', 'y'};
    const TQNotificationObject store{"App Store", "com.apple.AppStore", false, std::nullopt};
    services.world.defaults.set("BLOCKED_APPS_LIST",
                                platform::Array{Value(foreign), Value(store.encoded())});
    block(Value{{"app_name", "Chat"}, {"bundle_id", "com.example.chat"}});
    const auto list = stored();
    ASSERT_EQ(list.size(), 3U);
    EXPECT_EQ(list[0], Value(foreign));
    EXPECT_EQ(TQNotificationObject::decodedWithObject(list[1]), store);
    EXPECT_EQ(TQNotificationObject::decodedWithObject(list[2])->identifier, "com.example.chat");
}

}  // namespace
}  // namespace services_test
