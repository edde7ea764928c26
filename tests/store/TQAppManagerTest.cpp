#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/foundation/Container.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "services/TQNotificationObject.h"
#include "store/TQAppManager.h"
#include "store/TQDownloadKavoAppOperation.h"
#include "store/TQKavoAppsUtil.h"
#include "support/TempDir.h"
#include "utils/TQUtils.h"

namespace {

namespace fs = std::filesystem;
using platform::Value;

constexpr const char* kModel = "KV-R500";

Value record(std::string appName, std::string packageName, std::string version = "1.0.0") {
    Value dict{{"appname", appName}, {"packagename", packageName}, {"classname", "Main"}};
    if (!version.empty()) {
        dict["version"] = version;
    }
    return dict;
}

class TQAppManagerTest : public ::testing::Test {
protected:
    TQAppManagerTest() {
        EXPECT_TRUE(TQUtils::setPreferenceByGroup(TQUtils::kGroupKavoInfo,
                                                  platform::Dictionary{{"kavoModelNumber", kModel}}));
        center.addObserver("", [this](const platform::Notification& note) {
            posted.push_back(note.name + (note.object.isString() ? "=" + *note.object.stringIf() : ""));
        });
    }

    std::string file(const char* name) const {
        return TQUtils::retrieveXml(kModel, name).value_or("(missing)");
    }
    std::vector<std::string> packages(bool faces = false) const {
        std::vector<std::string> names;
        for (const auto& object :
             TQAppManager::uninstallObjects(faces ? manager.clockItems() : manager.appItems())) {
            names.push_back(object.packageName);
        }
        return names;
    }

    testing_support::TempDir folder;
    platform::Container container{folder.path()};
    platform::ScopedInstall<const platform::Container> installContainer{&container};
    platform::UserDefaults defaults{folder.path() / "defaults.plist"};
    platform::ScopedInstall<platform::UserDefaults> installDefaults{&defaults};
    platform::NotificationCenter center;
    platform::ScopedInstall<platform::NotificationCenter> installCenter{&center};
    std::vector<std::string> posted;
    TQAppManager manager;
};

// A list of one item is a list of one entry: it is not lost when the next install writes
// the file.
TEST_F(TQAppManagerTest, AListOfOneItemStaysWhenTheNextInstallIsRecorded) {
    ASSERT_TRUE(TQUtils::saveXml("<?xml version=\"1.0\"?>\n<Wapp>\n  <item>\n"
                                 "    <AppName> Timer </AppName>\n"
                                 "    <PackageName>com.kavo.timer</PackageName>\n"
                                 "    <IsRemovable>true</IsRemovable>\n  </item>\n</Wapp>\n",
                                 kModel, TQAppManager::kAppListFile)
                    .ok());
    ASSERT_EQ(packages(), std::vector<std::string>{"com.kavo.timer"});
    EXPECT_EQ(TQAppManager::uninstallObjects(manager.appItems())[0].name, "Timer");
    manager.installAppWithDict(record("Stopwatch", " com.kavo.stopwatch\n"));
    EXPECT_EQ(packages(), (std::vector<std::string>{"com.kavo.timer", "com.kavo.stopwatch"}));
    EXPECT_EQ(posted, std::vector<std::string>{"KAVO_APPS_INSTALLED=com.kavo.stopwatch"});
}

TEST_F(TQAppManagerTest, RecordedEntriesAreWrittenInTheListFormatWithTheirTextsEscaped) {
    manager.installAppWithDict(record("Tom & <Jerry>", "com.kavo.tj", ""));
    manager.installClockWithDict(record("Face", "com.kavo.face"));
    EXPECT_EQ(file(TQAppManager::kAppListFile),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Wapp>\n<item>\n"
              "<AppName>\nTom &amp; &lt;Jerry&gt;</AppName>\n"
              "<PackageName>\ncom.kavo.tj</PackageName>\n<ClassName>\nMain</ClassName>\n"
              "<PreLoad>\nfalse</PreLoad>\n<IsRemovable>\ntrue</IsRemovable>\n"
              "<Version>\n0.0.0</Version>\n</item>\n</Wapp>\n");
    // The file reads back: the name survives the round trip.
    EXPECT_EQ(TQAppManager::uninstallObjects(manager.appItems())[0].name, "Tom & <Jerry>");
    const auto faces = TQAppManager::uninstallObjects(manager.clockItems());
    ASSERT_EQ(faces.size(), 1U);
    EXPECT_FALSE(faces[0].isPreload);
    EXPECT_TRUE(faces[0].isRemovable);
    // Written with a capital I, read with a small one.
    EXPECT_FALSE(faces[0].isShown);
    EXPECT_NE(file(TQAppManager::kClockListFile).find("<IsShown>\nfalse</IsShown>"),
              std::string::npos);
}

TEST_F(TQAppManagerTest, InstallsIgnoreCaseButUninstallsCompareExactly) {
    manager.installAppWithDict(record("Timer", "com.kavo.Timer"));
    manager.installAppWithDict(record("Timer again", "com.kavo.timer"));
    EXPECT_EQ(packages(), std::vector<std::string>{"com.kavo.Timer"});
    manager.uninstallAppWithPackageName("com.kavo.timer");
    EXPECT_EQ(packages(), std::vector<std::string>{"com.kavo.Timer"});

    const fs::path icon = container.documents() / kModel / "AppIcons" / "com.kavo.Timer.png";
    ASSERT_TRUE(platform::fs::writeFileAtomically(icon, "png").ok());
    manager.uninstallAppWithPackageName("com.kavo.Timer");
    EXPECT_TRUE(packages().empty());
    EXPECT_FALSE(fs::exists(icon));
    manager.uninstallClockWithPackageName("com.kavo.none");
    EXPECT_EQ(posted, (std::vector<std::string>{
                          "KAVO_APPS_INSTALLED=com.kavo.Timer", "KAVO_APPS_INSTALLED=com.kavo.timer",
                          "uninstall_app_completed", "uninstall_app_completed",
                          "uninstall_clock_completed"}));
}

TEST_F(TQAppManagerTest, FiltersKeepWhatTheUserMayRemove) {
    ASSERT_TRUE(TQUtils::saveXml(
                    "<Wapp><item><PackageName>a</PackageName><IsRemovable>true</IsRemovable>"
                    "</item><item><PackageName>b</PackageName><IsRemovable>TRUE</IsRemovable>"
                    "</item></Wapp>",
                    kModel, TQAppManager::kAppListFile)
                    .ok());
    ASSERT_TRUE(TQUtils::saveXml("<Clock><item><PackageName>c</PackageName><PreLoad>true</PreLoad>"
                                 "</item><item><PackageName>d</PackageName></item></Clock>",
                                 kModel, TQAppManager::kClockListFile)
                    .ok());
    EXPECT_EQ(manager.filteredAppItemsUsingPredicate(false).size(), 2U);
    ASSERT_EQ(manager.filteredAppItemsUsingPredicate(true).size(), 1U);
    EXPECT_EQ(manager.filteredAppItemsUsingPredicate(true)[0].packageName, "a");
    ASSERT_EQ(manager.filteredClockItemsWithUsingPredicate(true).size(), 1U);
    EXPECT_EQ(manager.filteredClockItemsWithUsingPredicate(true)[0].packageName, "d");
}

TEST_F(TQAppManagerTest, MissingOrBrokenListsReadEmpty) {
    EXPECT_TRUE(manager.appItems().empty());
    ASSERT_TRUE(TQUtils::saveXml("<Wapp><item>", kModel, TQAppManager::kAppListFile).ok());
    EXPECT_TRUE(manager.appItems().empty());
    manager.installAppWithDict(record("Timer", "com.kavo.timer"));
    EXPECT_EQ(packages(), std::vector<std::string>{"com.kavo.timer"});
}

TEST_F(TQAppManagerTest, TheDefaultsAreSeededAndTheStoreBlockedOnce) {
    manager.defaultNotifications();
    manager.defaultWeatherSettings();
    manager.defaultBlockAppList();
    manager.defaultBlockAppList();
    EXPECT_EQ(defaults.boolean("NOTI_NOTIFICATIONS_ON_OFF"), true);
    EXPECT_EQ(defaults.boolean("NOTI_TURN_ON_OFF"), false);
    EXPECT_EQ(defaults.boolean("NOTI_AUTO_SHOW_DETAILS_ON_OFF"), true);
    EXPECT_EQ(defaults.integer("WEATHER_UNIT"), 1);
    EXPECT_EQ(defaults.boolean("WEATHER_USE_CURRENT_LOCATION"), false);
    EXPECT_EQ(defaults.integer("WEATHER_REFRESH_TIME"), 6);
    const auto blocked = defaults.object("BLOCKED_APPS_LIST");
    ASSERT_TRUE(blocked && blocked->arrayIf());
    ASSERT_EQ(blocked->size(), 1U);
    const auto entry = TQNotificationObject::decodedWithObject((*blocked->arrayIf())[0]);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->identifier, "com.apple.AppStore");
    EXPECT_EQ(entry->name, "App Store");
}

// A connection writes defaults only where nothing is stored: what the user chose stays,
// and a block list the user emptied of the store is not refilled.
TEST_F(TQAppManagerTest, TheDefaultsNeverReplaceWhatTheUserChose) {
    defaults.set("NOTI_NOTIFICATIONS_ON_OFF", false);
    defaults.set("NOTI_AUTO_SHOW_DETAILS_ON_OFF", false);
    defaults.set("WEATHER_UNIT", 0);
    defaults.set("WEATHER_REFRESH_TIME", 3);
    defaults.set("BLOCKED_APPS_LIST", platform::Array{});
    manager.defaultNotifications();
    manager.defaultWeatherSettings();
    manager.defaultBlockAppList();
    EXPECT_EQ(defaults.boolean("NOTI_NOTIFICATIONS_ON_OFF"), false);
    EXPECT_EQ(defaults.boolean("NOTI_AUTO_SHOW_DETAILS_ON_OFF"), false);
    EXPECT_EQ(defaults.boolean("NOTI_TURN_ON_OFF"), false);
    EXPECT_EQ(defaults.integer("WEATHER_UNIT"), 0);
    EXPECT_EQ(defaults.integer("WEATHER_REFRESH_TIME"), 3);
    EXPECT_EQ(defaults.boolean("WEATHER_USE_CURRENT_LOCATION"), false);
    const auto blocked = defaults.object("BLOCKED_APPS_LIST");
    ASSERT_TRUE(blocked && blocked->arrayIf());
    EXPECT_EQ(blocked->size(), 0U);
}

TEST(TQDownloadKavoAppOperationNames, SizesAndFileNamesFromTheStore) {
    struct Case {
        const char* url;
        std::optional<std::string> size;
    };
    for (const Case& c : std::vector<Case>{
             {"http://s/a.wgt?id=1&bsize=2048", "2048"},
             {"http://s/a.wgt?id=1&bsize=2048&x=2", "2048"},
             {"http://s/a.wgt?bsize=2048", std::nullopt},
             {"http://s/a.wgt?id=1&bsizes", std::nullopt},
             {"http://s/a.wgt", std::nullopt}}) {
        EXPECT_EQ(TQDownloadKavoAppOperation::sizeFromURL(c.url), c.size) << c.url;
    }
    EXPECT_EQ(TQDownloadKavoAppOperation::reformatFileName("My App/1.wgt"), "MyApp_1.wgt");
    EXPECT_EQ(TQDownloadKavoAppOperation::reformatFileName("../x.wgt"), ".._x.wgt");
}

TEST_F(TQAppManagerTest, TheStoreConfigurationTemplateIsWrittenOnceAndRestoredWhenDeleted) {
    TQKavoAppsUtil::generateDummyConfigData();
    const fs::path path = container.documents() / "configFile.txt";
    const auto text = platform::fs::readFile(path);
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(text.value(),
              "{\n\"getDomainURL\":\"192.0.2.10/api/getDomain.as\",\n\"mcc\":\"450\",\n"
              "\"mnc\":\"01\",\n\"deviceModel\":\"iPhone8,1_KV-R500\",\n"
              "\"kOSVersion\":\"2.2.1.4\",\n\"MANUFACTURER\":\"Apple\",\n"
              "\"accessTokenValue\":\"TmRw5yKqZe\",\n\"acl\":\"api.account.kavo.example\",\n"
              "\"preloadApp\":\"\",\n\"postloadApp\":\"\",\n"
              "\"deviceId\":\"3A5F09C2E1B74D6A8F0C2B9E7D1A4C\",\n\"webApiVersion\":\"3.1\"\n}");
    ASSERT_TRUE(platform::fs::writeFileAtomically(path, "{\"mcc\":\"262\"}").ok());
    TQKavoAppsUtil::generateDummyConfigData();
    EXPECT_EQ(platform::fs::readFile(path).value(), "{\"mcc\":\"262\"}");
    fs::remove(path);
    TQKavoAppsUtil::generateDummyConfigData();
    EXPECT_EQ(platform::fs::readFile(path).value(), text.value());
}

}  // namespace
