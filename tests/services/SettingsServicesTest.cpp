#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "listener/TQWallClock.h"
#include "services/ServicesWorld.h"

namespace services_test {
namespace {

// Templates, weather and push go through the link to the watch on the air.
class SettingsServicesTest : public ::testing::Test {
protected:
    void SetUp() override { services.connect(); }
    std::vector<std::string> generalBodies() const {
        std::vector<std::string> bodies;
        for (const auto& row : TQDBGeneralMessage::getAllForThisModelNumber().value_or(
                 std::vector<TQDBGeneralMessage>{})) {
            bodies.push_back(row.body.value_or(""));
        }
        return bodies;
    }

    ServicesWorld services;
};

const std::vector<std::string> kGeneral{
    "How's it going?", "What's up?",        "I'll talk to you soon.", "I'll call you back.",
    "Where are you?",  "When can we meet?", "Call me later."};

TEST_F(SettingsServicesTest, BothListsAreSeededForTheCurrentModelAndSentInOrder) {
    std::size_t from = services.mark();
    services.textTemplates.initializeGeneralMessageDataToKavo(*services.world.ap, false, true);
    services.textTemplates.initializeCallRejectionDataToKavo(*services.world.ap, false, true);
    services.world.loop.advance(1.0);
    const auto sent = services.received(from, "mgr_text_template_db_sync_req");
    ASSERT_EQ(sent.size(), 2U);
    EXPECT_EQ(sent[0].appId, 1);
    const platform::Array* records = sent[0].json["records"].arrayIf();
    ASSERT_NE(records, nullptr);
    ASSERT_EQ(records->size(), 7U);
    for (std::size_t i = 0; i < records->size(); ++i) {
        EXPECT_EQ((*records)[i], (Value{{"checked", static_cast<std::int64_t>(i)},
                                        {"_id", static_cast<std::int64_t>(i)},
                                        {"body", kGeneral[i]}}));
    }
    ASSERT_NE(sent[1].json["records_callreject"].arrayIf(), nullptr);
    EXPECT_EQ(sent[1].json["records_callreject"].arrayIf()->size(), 5U);
    EXPECT_EQ(services.world.defaults.integer("GENERAL_MESSAGE_TEMPLATES_CURRENT_INDEX"), 7);
    EXPECT_EQ(services.world.defaults.integer("REJECT_MESSAGE_TEMPLATES_CURRENT_INDEX"), 5);

    // An edit is sent whole: escapes decode, and a "%" that starts none goes as it is.
    ASSERT_TRUE(TQDBGeneralMessage::updateForThisModelNumber(
        {{"_id", TQDBValue(std::int32_t{1})}, {"body", TQDBValue(std::string("100%25 sure"))}}));
    ASSERT_TRUE(TQDBGeneralMessage::updateForThisModelNumber(
        {{"_id", TQDBValue(std::int32_t{2})}, {"body", TQDBValue(std::string("50% off"))}}));
    from = services.mark();
    TQTextTemplateUtils::sendAllGeneralMessageToKavo(*services.world.ap);
    services.world.loop.advance(1.0);
    const auto edited = services.received(from, "mgr_text_template_db_sync_req");
    ASSERT_EQ(edited.size(), 1U);
    const platform::Array* bodies = edited[0].json["records"].arrayIf();
    ASSERT_NE(bodies, nullptr);
    EXPECT_EQ((*bodies)[1]["body"], Value("100% sure"));
    EXPECT_EQ((*bodies)[2]["body"], Value("50% off"));
}

TEST_F(SettingsServicesTest, DeleteAndReseedReplaceTheModelsRowsAndDeleteAloneSendsNothing) {
    services.textTemplates.initializeGeneralMessageDataToKavo(*services.world.ap, false, true);
    ASSERT_TRUE(TQDBGeneralMessage::updateForThisModelNumber(
        {{"_id", TQDBValue(std::int32_t{0})}, {"body", TQDBValue(std::string("mine"))}}));
    services.textTemplates.initializeGeneralMessageDataToKavo(*services.world.ap, true, true);
    EXPECT_EQ(generalBodies(), kGeneral);

    services.world.defaults.set("GENERAL_MESSAGE_TEMPLATES_CURRENT_INDEX", 12);
    services.world.loop.advance(1.0);
    const std::size_t from = services.mark();
    services.textTemplates.initializeGeneralMessageDataToKavo(*services.world.ap, true, false);
    services.world.loop.advance(1.0);
    EXPECT_TRUE(generalBodies().empty());
    EXPECT_TRUE(services.received(from, "mgr_text_template_db_sync_req").empty());
    EXPECT_EQ(services.world.defaults.integer("GENERAL_MESSAGE_TEMPLATES_CURRENT_INDEX"), 7);
}

// The delete and the seed are one transaction: when the seed cannot be written, the old rows
// are still there.
TEST_F(SettingsServicesTest, AFailedReseedKeepsTheOldRows) {
    services.textTemplates.initializeGeneralMessageDataToKavo(*services.world.ap, false, true);
    ASSERT_TRUE(TQDBGeneralMessage::updateForThisModelNumber(
        {{"_id", TQDBValue(std::int32_t{0})}, {"body", TQDBValue(std::string("mine"))}}));
    ASSERT_TRUE(services.database.createTable(
        "CREATE TRIGGER refuse BEFORE INSERT ON TQDBGeneralMessage BEGIN "
        "SELECT RAISE(ABORT, 'refused'); END"));
    services.textTemplates.initializeGeneralMessageDataToKavo(*services.world.ap, true, true);
    auto expected = kGeneral;
    expected[0] = "mine";
    EXPECT_EQ(generalBodies(), expected);
}

TEST_F(SettingsServicesTest, WeatherDefaultsFollowTheCarrierAndAreStoredWhenSent) {
    const struct {
        const char* salesCode;
        int unit;
    } cases[] = {{"ATT", 0}, {"VZW", 0}, {"XEF", 1}};
    for (const auto& c : cases) {
        ASSERT_TRUE(TQUtils::setPreferenceByGroup(TQUtils::kGroupKavoInfo,
                                                  {{"kavoModelNumber", ServicesWorld::kModel},
                                                   {"btMacAddress", ServicesWorld::kWatchAddress},
                                                   {"kavoSalesCode", c.salesCode}}));
        services.world.defaults.remove("WEATHER_UNIT");
        services.world.defaults.remove("WEATHER_REFRESH_TIME");
        services.world.defaults.remove("WEATHER_USE_CURRENT_LOCATION");
        const std::size_t from = services.mark();
        services.world.send(Value{{"WEATHER_REQUEST", Value{{"FETCH_REQ", 1}}}}, 5);
        const auto replies = services.world.repliesSince(from);
        ASSERT_EQ(replies.size(), 2U) << c.salesCode;
        const std::string sequence = std::to_string(listener_test::kNow);
        EXPECT_EQ(replies[0].appId, 5);
        EXPECT_EQ(ServicesWorld::fields(replies[0].json), (Value{{"WEATHER_ACK_SEQ", sequence}}));
        EXPECT_EQ(ServicesWorld::fields(replies[1].json),
                  (Value{{"SETTING_INFO", Value{{"SETTING_TEMP_SCALE", c.unit},
                                                {"SETTING_AUTO_REFRESH_TIME", 6},
                                                {"SETTING_CHECK_CURRENT_CITY_LOCATION", false}}},
                         {"WEATHER_ACK_SEQ", sequence}}));
        EXPECT_EQ(services.world.defaults.integer("WEATHER_UNIT"), c.unit);
        EXPECT_EQ(services.world.defaults.integer("WEATHER_REFRESH_TIME"), 6);
    }
}

TEST_F(SettingsServicesTest, AWeatherResetOnlyWhenAskedAndTheSettingsNoticeLeadsToTheScreen) {
    services.world.defaults.set("WEATHER_UNIT", 0);
    services.world.defaults.set("WEATHER_REFRESH_TIME", 3);
    services.world.defaults.set("WEATHER_CURRENT_CITY", "Oslo");
    services.weather.initializeWeatherDataIfIsNeedToDelete(false);
    EXPECT_EQ(services.world.defaults.integer("WEATHER_REFRESH_TIME"), 3);
    EXPECT_EQ(services.world.defaults.string("WEATHER_CURRENT_CITY"), "Oslo");
    services.weather.initializeWeatherDataIfIsNeedToDelete(true);
    EXPECT_EQ(services.world.defaults.integer("WEATHER_REFRESH_TIME"), 6);
    EXPECT_EQ(services.world.defaults.integer("WEATHER_UNIT"), 1);
    EXPECT_EQ(services.world.defaults.boolean("WEATHER_USE_CURRENT_LOCATION"), false);
    EXPECT_EQ(services.world.defaults.object("WEATHER_CURRENT_CITY"), std::nullopt);

    services.weather.createWeatherNotification();
    ASSERT_EQ(services.world.host.app.notifications.size(), 1U);
    const auto& notice = services.world.host.app.notifications[0];
    EXPECT_EQ(notice.fireDelay, 1.0);
    EXPECT_EQ(Value(notice.userInfo), (Value{{"actionToHandle", "weatherAction"}}));
}

TEST(PushTokenTest, EachByteIsTwoUpperCaseDigits) {
    const platform::Bytes token{0x0A, 0xFF, 0x00, 0x7B};
    EXPECT_EQ(TQPushNotification::hexToken(token), "0AFF007B");
}

TEST_F(SettingsServicesTest, ATokenIsExchangedOnceAndNoTokenIsAskedForAndLogged) {
    // This machine's push service: unavailable, logged, nothing sent.
    std::size_t from = services.mark();
    services.push.exchangePushSettingsWithKavo();
    EXPECT_EQ(services.pushService.registrations, 1);
    EXPECT_EQ(services.world.logs->count(
                  "TQPushNotification: Error in registration for push notification. Error: "
                  "unavailable"),
              1);

    const platform::Bytes token{0x01, 0xAB};
    services.push.onReceiveDeviceToken(token);
    services.push.onReceiveDeviceToken(token);
    services.world.loop.advance(1.0);
    EXPECT_EQ(services.world.defaults.string("APNSDeviceToken"), "01AB");
    const auto type = services.received(from, "mgr_push_service_type_req");
    const auto id = services.received(from, "mgr_push_km_reg_id_req");
    ASSERT_EQ(type.size(), 1U);
    ASSERT_EQ(id.size(), 1U);
    EXPECT_EQ(type[0].json, (Value{{"msgId", "mgr_push_service_type_req"},
                                   {"deviceid", listener_test::kVendorIdentifier},
                                   {"pushServiceType", 5}}));
    EXPECT_EQ(id[0].json["kmRegistrationId"], Value("01AB"));

    // The watch acknowledges: nothing more is sent.
    services.world.send(Value{{"msgId", "mgr_push_km_reg_id_res"}});
    from = services.mark();
    services.push.exchangePushSettingsWithKavo();
    services.world.loop.advance(1.0);
    EXPECT_TRUE(services.world.repliesSince(from).empty());
}

// A push token is a secret: the lines say whether there is one, never which, also where the
// registration goes to the watch.
TEST_F(SettingsServicesTest, APushTokenReachesNoLogLine) {
    services.push.onReceiveDeviceToken(platform::Bytes{0xDE, 0xAD, 0xBE, 0xEF});
    services.push.exchangePushSettingsWithKavo();
    services.world.loop.advance(1.0);
    EXPECT_EQ(services.world.defaults.string("APNSDeviceToken"), "DEADBEEF");
    EXPECT_EQ(services.world.logs->containing("DEADBEEF"), 0);
    EXPECT_EQ(services.world.logs->count(
                  "TQPushNotification: received token: (present) stored token: (null)"),
              1);
}

TEST_F(SettingsServicesTest, OnlyAPushForThePairedWatchIsStoredAndRelayed) {
    const auto push = [](Value message) { return Value{{"aps", Value{}}, {"message", message}}; };
    const Value others[] = {
        push(Value{{"kavoID", "user@00:00:00:00:00:00"}, {"timestamp", 1}}),
        push(Value{{"kavoID", "no-at-sign"}, {"timestamp", 2}}),
        push(Value{{"kavoID", 42}, {"timestamp", 3}}),
        push(Value("not a dictionary")),
        Value{{"aps", Value{}}},
        Value("not a payload"),
    };
    std::size_t from = services.mark();
    for (const Value& payload : others) {
        services.push.processNotification(payload);
    }
    services.world.loop.advance(1.0);
    EXPECT_TRUE(services.world.repliesSince(from).empty());
    EXPECT_EQ(services.world.defaults.object("QPPTimeStamp"), std::nullopt);

    const Value mine = push(Value{{"kavoID", std::string("user@") + ServicesWorld::kWatchAddress},
                                  {"timestamp", 1700000000}});
    services.push.processNotification(mine);
    services.world.loop.advance(1.0);
    EXPECT_EQ(services.world.defaults.integer("QPPTimeStamp"), 1700000000);
    const auto relayed = services.received(from, "mgr_push_message_timestamp_req");
    ASSERT_EQ(relayed.size(), 1U);
    EXPECT_EQ(relayed[0].json["pushTimestamp"], Value(platform::json::write(mine).value()));

    // Not while the watch is not in use.
    services.world.defaults.set("isWMSConnected", 0);
    from = services.mark();
    services.push.processNotification(mine);
    services.world.loop.advance(1.0);
    EXPECT_TRUE(services.world.repliesSince(from).empty());
}

}  // namespace
}  // namespace services_test
