#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/telephony/Telephony.h"
#include "support/RecordingAppHost.h"
#include "utils/TQLocalization.h"
#include "utils/TQUtils.h"
#include "utils/TQUtilsFixture.h"

using platform::Dictionary;
using platform::Value;

namespace {

// The application host and the phone's SIM as well: no SIM unless a test puts one in.
class TQUtilsHostTest : public tqutils_test::TQUtilsTest {
protected:
    platform::FixedTelephony noSim_{std::nullopt};
    platform::ScopedInstall<platform::Telephony> installTelephony_{&noSim_};
    testing_support::ScopedRecordingHost host_;
};

// ---- watch names ----

TEST_F(TQUtilsHostTest, WatchNamesWithTheNumberInParentheses) {
    struct Case {
        std::string name;
        std::optional<std::string> withParentheses;
    };
    const Case cases[] = {
        {"Kavo R5 (ABCD)", "Kavo R5 (ABCD)"}, {"Kavo R5 ABCD", "Kavo R5 (ABCD)"},
        {"Kavo R5 ((AB))", "Kavo R5 (AB)"},   {"Kavo R5 (AB", "Kavo R5 (AB)"},
        {"Kavo R5 A(B)C", "Kavo R5 (A(B)C)"}, {"Kavo R5 ABCD LE", "Kavo R5 (ABCD)"},
        {"Kavo  ABCD", "Kavo  (ABCD)"},  // single blanks separate: an empty word
        {"Kavo R5 ", "Kavo R5 ()"},           {"Kavo R5", std::nullopt},
        {"KavoR5ABCD", std::nullopt},         {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TQUtils::addParenthesesToKavoNumber(c.name), c.withParentheses) << c.name;
    }
}

TEST_F(TQUtilsHostTest, ARightToLeftLayoutMarksTheNameLeftToRight) {
    host_.app.layoutDirection = platform::LayoutDirection::rightToLeft;
    EXPECT_EQ(TQUtils::addParenthesesToKavoNumber("Kavo R5 ABCD"), "Kavo R5 (ABCD)\u200E");
    EXPECT_EQ(TQUtils::getKavoNumber("Kavo R5 ABCD"), "ABCD");
}

// ---- carrier ----

TEST_F(TQUtilsHostTest, CarrierTypeComesFromTheSalesCode) {
    struct Case {
        std::optional<Value> salesCode;  // nothing: no such key
        int type;
        bool usa;
    };
    const Case cases[] = {
        {Value("ATT"), 2, true},  {Value("TMB"), 3, true},  {Value("VZW"), 4, true},
        {Value("SPR"), 5, true},  {Value("SKC"), 6, false}, {Value("SKO"), 6, false},
        {Value("XAR"), 0, false}, {Value("vzw"), 0, false}, {Value("VZW "), 0, false},
        {Value(4), 0, false},     {std::nullopt, 0, false},
    };
    for (const auto& c : cases) {
        Dictionary group{{"kavoModelNumber", "SM-R5"}};
        if (c.salesCode) {
            group.set("kavoSalesCode", *c.salesCode);
        }
        ASSERT_TRUE(TQUtils::setPreferenceByGroup("groupKavoInfo", group));
        EXPECT_EQ(TQUtils::getCarrierType(), c.type) << c.salesCode.value_or("none").description();
        EXPECT_EQ(TQUtils::isCarrierTypeUSA(), c.usa);
    }
    EXPECT_TRUE(log_->logged("TQUtils: getCarrierType, sales code VZW"));
    EXPECT_TRUE(log_->logged("TQUtils: getCarrierType, sales code (null)"));
}

TEST_F(TQUtilsHostTest, NoWatchInfoMeansNoCarrier) {
    EXPECT_EQ(TQUtils::getCarrierType(), 0);
    EXPECT_FALSE(TQUtils::isCarrierTypeUSA());
}

// ---- texts ----

TEST_F(TQUtilsHostTest, TheStoreTitleFollowsTheSimsCountry) {
    const std::string title = TQLocalization::localizedString("menu_quorvelapps");
    const std::string japanese = TQLocalization::localizedString("menu_quorvelapps_jpn");
    ASSERT_NE(title, japanese);
    EXPECT_EQ(TQUtils::getQuorvelKavoAppsTitle(), title);  // no SIM
    struct Case {
        const char* countryCode;
        const std::string& expected;
    };
    const Case cases[] = {{"440", japanese}, {"441", japanese}, {"310", title}, {"", title}};
    for (const auto& c : cases) {
        platform::FixedTelephony sim(platform::Carrier{c.countryCode, "10"});
        platform::Telephony::install(&sim);
        EXPECT_EQ(TQUtils::getQuorvelKavoAppsTitle(), c.expected) << c.countryCode;
        platform::Telephony::install(&noSim_);
    }
}

// ---- screens ----

TEST_F(TQUtilsHostTest, TheErrorBanner) {
    TQUtils::showToast("No connection");
    ASSERT_EQ(host_.banners.banners.size(), 1u);
    const platform::Banner& banner = host_.banners.banners[0].banner;
    EXPECT_EQ(banner.text, "No connection");
    EXPECT_EQ(banner.textAlignment, platform::TextAlignment::center);
    EXPECT_EQ(banner.backgroundColor, (platform::Color{237 / 255.0, 110 / 255.0, 43 / 255.0, 1.0}));
    EXPECT_EQ(banner.animationInDirection, platform::BannerDirection::top);
    EXPECT_EQ(banner.animationOutDirection, platform::BannerDirection::bottom);
    EXPECT_EQ(banner.timeInterval, 2.0);
    EXPECT_EQ(banner.kind, platform::BannerKind::navigationBar);
    EXPECT_EQ(banner.presentation, platform::BannerPresentation::push);
    ASSERT_EQ(banner.interactionResponders.size(), 1u);
    EXPECT_EQ(banner.interactionResponders[0].interactionType,
              platform::banner_interaction::anyTap);
    EXPECT_TRUE(banner.interactionResponders[0].automaticallyDismiss);

    host_.banners.interact(0, platform::banner_interaction::anyTap);
    host_.banners.interact(0, platform::banner_interaction::tapTwice);
    host_.banners.finish(0);
    const auto lines = log_->lines();
    EXPECT_EQ(lines, (std::vector<std::string>{"Dismissed with Any Tap interaction",
                                               "Dismissed with Tap Twice interaction",
                                               "BNToast completed"}));
    const auto flags = log_->flags();
    EXPECT_TRUE(std::all_of(flags.begin(), flags.end(),
                            [](std::uint64_t flag) { return flag == LGLogFlagVerbose; }));
}

TEST_F(TQUtilsHostTest, LocalNotifications) {
    const auto text = [](const char* key) { return TQLocalization::localizedString(key); };
    auto replaced = [](std::string format, const std::string& with) {
        return format.replace(format.find("%s"), 2, with);
    };
    struct Case {
        void (*raise)();
        std::string body;
        Dictionary userInfo;
    };
    const Case cases[] = {
        {&TQUtils::createHFPNotification,
         replaced(text("WDS_WMGR_SBODY_VIEW_PS_SETTINGS_ON_YOUR_PHONE_ABB"),
                  text("WDS_ST_MBODY_CALL_AUDIO_ABB")),
         Dictionary{{"actionToHandle", "hfpAction"}}},
        {[] { TQUtils::createNumberSyncNotification("success"); },
         text("WDS_ST_TPOP_NUMBERSYNC_ENABLED_ABB_ATNT"),
         Dictionary{{"actionToHandle", "numberSyncAction"}}},
        {[] { TQUtils::createNumberSyncNotification("fail"); },
         text("WDS_STU_POP_UNABLE_TO_SET_UP_NUMBERSYNC_PLEASE_TRY_AGAIN_LATER_ATNT"),
         Dictionary{{"actionToHandle", "numberSyncAction"}}},
        {[] { TQUtils::createKavoAppsWebNotification("quorvelapps://ProductDetail/000123"); },
         replaced(text("WDS_WMGR_SBODY_VIEW_PS_ON_YOUR_PHONE"), text("menu_quorvelapps")),
         Dictionary{{"actionToHandle", "kavoAppsWeb"},
                    {"KavoAppsURILink", "quorvelapps://ProductDetail/000123"}}},
    };
    for (const auto& c : cases) {
        host_.app.notifications.clear();
        c.raise();
        ASSERT_EQ(host_.app.notifications.size(), 1u);
        const auto& notification = host_.app.notifications[0];
        EXPECT_EQ(notification.fireDelay, 1.0);
        EXPECT_EQ(notification.title, text("Quorvel Kavo R5"));
        EXPECT_EQ(notification.body, c.body);
        EXPECT_FALSE(notification.alertAction);
        EXPECT_TRUE(notification.defaultSound);
        EXPECT_EQ(notification.userInfo, c.userInfo);
        EXPECT_EQ(notification.body.find("%s"), std::string::npos);
    }
    EXPECT_TRUE(log_->logged("createNumberSyncNotification"));
}

}  // namespace
