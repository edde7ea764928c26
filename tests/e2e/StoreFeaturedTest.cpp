#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/StoreWorld.h"
#include "store/TQFeaturedApps.h"

namespace listener_test {
namespace {

constexpr std::int64_t kDay = 24 * 3'600'000;

// 30 featured applications; the watch has all but numbers 3, 7 and 15 (one of them under a
// name that differs in case and accents).
std::vector<StoreApp> thirty() {
    std::vector<StoreApp> apps;
    for (int n = 1; n <= 30; ++n) {
        StoreApp app;
        app.productId = "P" + std::to_string(n);
        app.productName = "App " + std::to_string(n);
        app.packageName = n == 5 ? "com.feat.cafe" : "com.feat.app" + std::to_string(n);
        app.hostAppId = "host." + std::to_string(n);
        apps.push_back(app);
    }
    return apps;
}

std::string watchList() {
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Wapp>\n";
    for (int n = 1; n <= 30; ++n) {
        if (n == 3 || n == 7 || n == 15) {
            continue;
        }
        const std::string name = n == 5 ? "com.feat.CAF\xC3\x89" : "com.feat.app" + std::to_string(n);
        xml += "<item>\n<PackageName>\n" + name + "\n</PackageName>\n</item>\n";
    }
    return xml + "</Wapp>\n";
}

class StoreFeaturedTest : public ::testing::Test {
protected:
    StoreFeaturedTest() {
        t.store->setFeatured(thirty());
        t.busy = [this] { return featured.passRunning(); };
        t.manager.setOnInstallRecorded([this] { featured.refreshFeaturedAppData(); });
        token = t.world.center.addObserver(TQFeaturedApps::kUpdatedNotification,
                                           [this](const platform::Notification&) { ++updates; });
    }
    ~StoreFeaturedTest() override { t.world.center.removeObserver(token); }

    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(t.connect());
        ASSERT_TRUE(TQUtils::saveXml(watchList(), kModel, "wapplist.xml").ok());
    }

    bool fetch() {
        featured.getFeaturedListWithCount(0);
        return t.runUntil([&] { return !featured.passRunning(); });
    }
    std::vector<std::string> saved() const {
        std::vector<std::string> ids;
        for (const Value& archive : featured.featuredApps().value_or(platform::Array{})) {
            ids.push_back(TQFeaturedAppObject::decodedWithObject(archive).value().productID);
        }
        return ids;
    }
    std::vector<std::string> pagesAsked() const {
        std::vector<std::string> pages;
        for (const std::string& target : t.store->requests()) {
            if (target.starts_with(TQFeaturedApps::kPath)) {
                pages.push_back(target.substr(target.find("startNum=")));
            }
        }
        return pages;
    }
    platform::Dictionary stored() const {
        platform::Dictionary keys;
        for (const char* key : {TQFeaturedApps::kStartNumKey, TQFeaturedApps::kEndNumKey,
                                TQFeaturedApps::kRefreshTimestampKey, TQFeaturedApps::kCountKey,
                                TQFeaturedApps::kTotalCountKey, TQFeaturedApps::kAppListKey,
                                TQFeaturedApps::kHashValueKey}) {
            keys.set(key, t.world.defaults.object(key).value_or(Value()));
        }
        return keys;
    }
    std::int64_t now() const { return t.clock.millisecondsSince1970(); }

    StoreWorld t;
    TQStoreDevice device{.modelNumber = std::string(kModel), .kOSVersion = std::string("3.0.1")};
    TQFeaturedApps featured{{.defaults = t.world.defaults,
                             .center = t.world.center,
                             .host = "127.0.0.1:" + std::to_string(t.store->port()),
                             .isInstalled = [this](std::string_view name) {
                                 return t.manager.hasPackage(name);
                             },
                             .device = [this] { return device; },
                             .loader = &t.loader}};
    platform::NotificationCenter::Token token;
    int updates = 0;
};

TEST_F(StoreFeaturedTest, PagesAreFetchedUntilEnoughAreGatheredAndSavedOnce) {
    ASSERT_TRUE(fetch());
    EXPECT_EQ(pagesAsked(), (std::vector<std::string>{"startNum=1&endNum=12",
                                                      "startNum=13&endNum=24",
                                                      "startNum=25&endNum=36"}));
    EXPECT_EQ(saved(), (std::vector<std::string>{"P3", "P7", "P15"}));
    EXPECT_EQ(updates, 1);
    const platform::Dictionary keys = stored();
    EXPECT_EQ(keys.find(TQFeaturedApps::kStartNumKey)->intValue(), 25);
    EXPECT_EQ(keys.find(TQFeaturedApps::kEndNumKey)->intValue(), 36);
    EXPECT_EQ(keys.find(TQFeaturedApps::kCountKey)->intValue(), 2);
    EXPECT_EQ(keys.find(TQFeaturedApps::kTotalCountKey)->intValue(), 30);
    const auto stamp = *keys.find(TQFeaturedApps::kRefreshTimestampKey)->intValue();
    EXPECT_GE(stamp, now() - 1000 + kDay);
    EXPECT_LE(stamp, now() + kDay);
    const auto first = TQFeaturedAppObject::decodedWithObject(featured.featuredApps()->front());
    // The archive always carries the stored flag, so it decodes as set.
    EXPECT_EQ(*first, (TQFeaturedAppObject{"P3", "App 3", "com.feat.app3", "host.3",
                                           t.store->url("/icons/P3.png"), true}));

    // The request as sent: every value encoded, the carrier left out without a SIM.
    const std::string target = t.store->requests().front();
    EXPECT_EQ(target,
              "/product/getRecommendAppList.as?appIdList=N%2FA&deviceId=1334x750_KV-R500_i"
              "&kOSVersion=3.0.1&csc=ios&sdkVer=1&imgWidth=512&imgHeight=512&startNum=1"
              "&endNum=12");

    // An install drops the app at once, without asking the server again.
    const auto asked = t.store->requests().size();
    t.manager.installAppWithDict(Value{{"appname", "App 7"}, {"packagename", "com.feat.APP7"}});
    EXPECT_EQ(saved(), (std::vector<std::string>{"P3", "P15"}));
    EXPECT_EQ(t.store->requests().size(), asked);
}

TEST_F(StoreFeaturedTest, AnEqualHashChangesOnlyTheRefreshTime) {
    ASSERT_TRUE(fetch());
    const platform::Dictionary before = stored();
    t.world.loop.advance(60);
    ASSERT_TRUE(fetch());
    platform::Dictionary after = stored();
    EXPECT_GT(after.find(TQFeaturedApps::kRefreshTimestampKey)->intValue(),
              before.find(TQFeaturedApps::kRefreshTimestampKey)->intValue());
    after.set(TQFeaturedApps::kRefreshTimestampKey,
              *before.find(TQFeaturedApps::kRefreshTimestampKey));
    // Page 0 was asked again: its numbers are the only other change.
    after.set(TQFeaturedApps::kStartNumKey, *before.find(TQFeaturedApps::kStartNumKey));
    after.set(TQFeaturedApps::kEndNumKey, *before.find(TQFeaturedApps::kEndNumKey));
    EXPECT_EQ(after, before);
    EXPECT_EQ(updates, 1);
}

TEST_F(StoreFeaturedTest, BadAnswersKeepTheSavedList) {
    ASSERT_TRUE(fetch());
    const platform::Dictionary before = stored();
    const struct {
        const char* name;
        kavostore::StoreAnswer answer;
    } cases[] = {
        {"server error", {500, "text/xml", "<result><resultCode>0</resultCode></result>"}},
        {"garbage", {200, "text/xml", "\x01\x02 not xml <<<"}},
        {"no result code", {200, "text/xml", "<result><totalCount>3</totalCount></result>"}},
        {"refused", {200, "text/xml", "<result><resultCode>9</resultCode></result>"}},
        {"empty", {200, "text/xml", ""}},
    };
    for (const auto& test : cases) {
        t.store->addRoute(TQFeaturedApps::kPath,
                          [answer = test.answer](const kavostore::StoreRequest&) { return answer; });
        ASSERT_TRUE(fetch()) << test.name;
        platform::Dictionary after = stored();
        after.set(TQFeaturedApps::kStartNumKey, *before.find(TQFeaturedApps::kStartNumKey));
        after.set(TQFeaturedApps::kEndNumKey, *before.find(TQFeaturedApps::kEndNumKey));
        EXPECT_EQ(after, before) << test.name;
        EXPECT_EQ(updates, 1) << test.name;
    }
}

TEST_F(StoreFeaturedTest, ASecondFirstPageWhilePagingIsDropped) {
    featured.getFeaturedListWithCount(0);
    featured.getFeaturedListWithCount(0);
    ASSERT_TRUE(t.runUntil([&] { return !featured.passRunning(); }));
    EXPECT_EQ(pagesAsked().size(), 3U);
    EXPECT_EQ(saved(), (std::vector<std::string>{"P3", "P7", "P15"}));
    EXPECT_EQ(updates, 1);
}

TEST(TQFeaturedAppsTest, NamesCompareWithoutCaseOrAccents) {
    EXPECT_TRUE(TQFeaturedApps::sameIgnoringCaseAndDiacritics("com.Caf\xC3\xA9", "COM.CAFE"));
    EXPECT_FALSE(TQFeaturedApps::sameIgnoringCaseAndDiacritics("com.cafe", "com.caf"));
    const std::vector<Value> apps{Value{{"PackageName", Value{{"text", " a.b "}}}},
                                  Value{{"AppName", Value{{"text", "x"}}}}};
    const std::vector<Value> clocks{Value{{"PackageName", Value{{"text", "c.d"}}}}};
    EXPECT_EQ(TQFeaturedApps::getFeaturedAppList(apps, clocks), "a.b@c.d");
}

}  // namespace
}  // namespace listener_test
