#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "utils/TQLocalization.h"
#include "utils/TQUtils.h"
#include "logging/LGLog.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/telephony/Telephony.h"
#include "support/RecordingAppHost.h"
#include "support/TempDir.h"

using platform::Dictionary;
using platform::Value;

namespace {

class LineRecorder : public LGAbstractLogger {
public:
    LineRecorder() : LGAbstractLogger("test.tqutils") {}

    void logMessage(const LGLogMessage& message) override {
        std::lock_guard lock(mutex_);
        lines_.push_back(message.message());
        flags_.push_back(message.flag());
    }

    // Every line so far; waits for the ones still on their way.
    std::vector<std::string> lines() {
        LGLog::flushLog();
        std::lock_guard lock(mutex_);
        return lines_;
    }
    std::vector<std::uint64_t> flags() {
        LGLog::flushLog();
        std::lock_guard lock(mutex_);
        return flags_;
    }
    bool logged(const std::string& line) {
        const auto all = lines();
        return std::find(all.begin(), all.end(), line) != all.end();
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
    std::vector<std::uint64_t> flags_;
};

// Every file, folder and default of a test lives in its own temporary container.
class TQUtilsTest : public ::testing::Test {
protected:
    TQUtilsTest() { LGLog::addLogger(log_); }
    ~TQUtilsTest() override {
        LGLog::removeAllLoggers();
        LGLog::flushLog();
    }

    std::filesystem::path documents() const { return container_.documents(); }

    // Every regular file under the container, relative to it.
    std::vector<std::string> filesInContainer() const {
        std::vector<std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_.path())) {
            if (entry.is_regular_file()) {
                files.push_back(std::filesystem::relative(entry.path(), dir_.path()).string());
            }
        }
        std::sort(files.begin(), files.end());
        return files;
    }

    testing_support::TempDir dir_;
    platform::Container container_{dir_.path() / "home"};
    platform::ScopedInstall<const platform::Container> installContainer_{&container_};
    platform::UserDefaults defaults_{container_.preferences() / "defaults.plist"};
    platform::ScopedInstall<platform::UserDefaults> installDefaults_{&defaults_};
    platform::FixedTelephony noSim_{std::nullopt};
    platform::ScopedInstall<platform::Telephony> installTelephony_{&noSim_};
    testing_support::ScopedRecordingHost host_;
    std::shared_ptr<LineRecorder> log_ = std::make_shared<LineRecorder>();
};

// ---- preference groups ----

TEST_F(TQUtilsTest, PreferenceGroupsAreReadAndWrittenWhole) {
    EXPECT_FALSE(TQUtils::getPreferenceByGroup("groupKavoInfo"));

    const Dictionary first{{"kavoModelNumber", "SM-R5"}, {"kavoSalesCode", "VZW"}};
    ASSERT_TRUE(TQUtils::setPreferenceByGroup("groupKavoInfo", first));
    EXPECT_EQ(TQUtils::getPreferenceByGroup("groupKavoInfo"), first);

    // A second write replaces the group; nothing of the first survives.
    const Dictionary second{{"kavoSerial", "R5X"}};
    ASSERT_TRUE(TQUtils::setPreferenceByGroup("groupKavoInfo", second));
    EXPECT_EQ(TQUtils::getPreferenceByGroup("groupKavoInfo"), second);

    // Written through to the file, not only kept in memory.
    platform::UserDefaults reloaded(defaults_.file());
    EXPECT_EQ(reloaded.dictionary("groupKavoInfo"), second);

    // A value the defaults cannot store is refused and the group stays as it was.
    EXPECT_FALSE(TQUtils::setPreferenceByGroup("groupKavoInfo", Dictionary{{"bad", nullptr}}));
    EXPECT_EQ(TQUtils::getPreferenceByGroup("groupKavoInfo"), second);

    // Something else stored under a group's name is no group.
    defaults_.set("groupUserSettings", "not a dictionary");
    EXPECT_FALSE(TQUtils::getPreferenceByGroup("groupUserSettings"));
}

// ---- per-watch files ----

TEST_F(TQUtilsTest, XmlFilesComeBackAsTheyWereWritten) {
    const std::string xml = "<Wapp><item><AppName>Caf\xC3\xA9 \xE2\x9C\x93</AppName></item></Wapp>";
    ASSERT_TRUE(TQUtils::saveXml(xml, "SM-R5", "wapplist.xml"));
    EXPECT_EQ(platform::fs::readFile(documents() / "SM-R5" / "wapplist.xml").value(), xml);
    EXPECT_EQ(TQUtils::retrieveXml("SM-R5", "wapplist.xml"), xml);
    EXPECT_TRUE(
        log_->logged("Saving to file: " + (documents() / "SM-R5" / "wapplist.xml").string()));

    // Replacing goes through a temporary file: afterwards only the new file is there.
    ASSERT_TRUE(TQUtils::saveXml("<Wapp/>", "SM-R5", "wapplist.xml"));
    EXPECT_EQ(TQUtils::retrieveXml("SM-R5", "wapplist.xml"), "<Wapp/>");
    EXPECT_EQ(filesInContainer(), (std::vector<std::string>{"home/Documents/SM-R5/wapplist.xml"}));

    EXPECT_FALSE(TQUtils::retrieveXml("SM-R5", "clocklist.xml"));
    EXPECT_FALSE(TQUtils::retrieveXml("SM-R6", "wapplist.xml"));
    ASSERT_TRUE(
        platform::fs::writeFileAtomically(documents() / "SM-R5" / "bad.xml", "<a>\xFF</a>"));
    EXPECT_FALSE(TQUtils::retrieveXml("SM-R5", "bad.xml"));
}

TEST_F(TQUtilsTest, DictionaryFilesWithoutAModelNumberGoToCommon) {
    const Dictionary saved{{"17", "Y"}, {"42", "Y"}};
    ASSERT_TRUE(TQUtils::saveDictionary(saved, std::nullopt, "contactEventID.plist"));
    EXPECT_TRUE(std::filesystem::is_regular_file(documents() / "common" / "contactEventID.plist"));
    EXPECT_EQ(TQUtils::retrieveDictionary(std::nullopt, "contactEventID.plist"), saved);
    EXPECT_EQ(TQUtils::retrieveDictionary("common", "contactEventID.plist"), saved);
    EXPECT_FALSE(TQUtils::retrieveDictionary("SM-R5", "contactEventID.plist"));

    const Dictionary info{{"kavoModelNumber", "SM-R5"}, {"is_initialed_watch", true}};
    ASSERT_TRUE(TQUtils::saveDictionary(info, "SM-R5", "kavo_info.plist"));
    EXPECT_EQ(TQUtils::retrieveDictionary("SM-R5", "kavo_info.plist"), info);
    EXPECT_FALSE(TQUtils::retrieveDictionary(std::nullopt, "kavo_info.plist"));
}

TEST_F(TQUtilsTest, AFileThatHoldsNoDictionaryReadsAsNothing) {
    const auto folder = documents() / "common";
    ASSERT_TRUE(platform::fs::writeFileAtomically(folder / "garbage.plist", "not a plist"));
    ASSERT_TRUE(platform::fs::writeFileAtomically(
        folder / "array.plist",
        "<plist version=\"1.0\"><array><string>a</string></array></plist>"));
    EXPECT_FALSE(TQUtils::retrieveDictionary(std::nullopt, "garbage.plist"));
    EXPECT_FALSE(TQUtils::retrieveDictionary(std::nullopt, "array.plist"));
}

TEST_F(TQUtilsTest, OnlySingleOrdinaryNamesArePathComponents) {
    for (const char* name : {"SM-R5", "wapplist.xml", "com.kavo.app", "...", "..a", " ", "a b"}) {
        EXPECT_TRUE(TQUtils::isSafePathComponent(name)) << name;
    }
    const std::string hostile[] = {"",     ".",    "..",        "../x", "a/b",
                                   "/etc", "a\\b", "..\\..\\x", "x/",   std::string("a\0b", 3)};
    for (const auto& name : hostile) {
        EXPECT_FALSE(TQUtils::isSafePathComponent(name)) << name;
    }
}

TEST_F(TQUtilsTest, HostileNamesAreRefusedAndNothingIsWritten) {
    const std::string hostile[] = {"",    ".",    "..",   "../../outside",
                                   "a/b", "/tmp", "a\\b", std::string("a\0b", 3)};
    for (const auto& name : hostile) {
        const auto asModel = TQUtils::saveXml("<a/>", name, "wapplist.xml");
        ASSERT_FALSE(asModel) << name;
        EXPECT_EQ(asModel.error().domain, TQUtils::kErrorDomain);
        EXPECT_EQ(asModel.error().code, TQUtils::kUnsafeName);
        EXPECT_FALSE(TQUtils::saveXml("<a/>", "SM-R5", name));
        EXPECT_FALSE(TQUtils::saveDictionary(Dictionary{{"a", 1}}, name, "x.plist"));
        EXPECT_FALSE(TQUtils::saveDictionary(Dictionary{{"a", 1}}, std::nullopt, name));
        EXPECT_FALSE(TQUtils::retrieveXml(name, "wapplist.xml"));
        EXPECT_FALSE(TQUtils::retrieveDictionary(name, "x.plist"));
    }
    EXPECT_TRUE(filesInContainer().empty());
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "outside"));
    // The refusal is logged on one line, whatever the name holds.
    EXPECT_TRUE(log_->logged("TQUtils: refusing unsafe path component \"a?b\""));
    EXPECT_TRUE(log_->logged("TQUtils: refusing unsafe path component \"../../outside\""));
}

TEST_F(TQUtilsTest, AFolderThatCannotBeMadeIsLoggedAndTheWriteFails) {
    // A file where the watch's folder belongs.
    ASSERT_TRUE(platform::fs::writeFileAtomically(documents() / "SM-R5", "in the way"));
    const auto saved = TQUtils::saveXml("<a/>", "SM-R5", "wapplist.xml");
    EXPECT_FALSE(saved);
    EXPECT_EQ(saved.error().domain, platform::fs::kErrorDomain);
    EXPECT_TRUE(log_->logged("[TQUtils] ERROR: attempting to write create MyFolder directory"));
    EXPECT_EQ(platform::fs::readFile(documents() / "SM-R5").value(), "in the way");
}

// ---- watch names ----

TEST_F(TQUtilsTest, WatchNames) {
    struct Case {
        std::string name;
        std::optional<std::string> withParentheses;
        std::optional<std::string> number;
    };
    const Case cases[] = {
        {"Kavo R5 (ABCD)", "Kavo R5 (ABCD)", "ABCD"},
        {"Kavo R5 ABCD", "Kavo R5 (ABCD)", "ABCD"},
        {"Kavo R5 ((AB))", "Kavo R5 (AB)", "AB"},
        {"Kavo R5 (AB", "Kavo R5 (AB)", "AB"},
        {"Kavo R5 A(B)C", "Kavo R5 (A(B)C)", "A(B)C"},
        {"Kavo R5 ABCD LE", "Kavo R5 (ABCD)", "ABCD"},
        {"Kavo  ABCD", "Kavo  (ABCD)", "ABCD"},  // single blanks separate: an empty word
        {"Kavo R5 ", "Kavo R5 ()", ""},
        {"Kavo R5", std::nullopt, std::nullopt},
        {"KavoR5ABCD", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TQUtils::addParenthesesToKavoNumber(c.name), c.withParentheses) << c.name;
        EXPECT_EQ(TQUtils::getKavoNumber(c.name), c.number) << c.name;
        EXPECT_EQ(TQUtils::getDeviceMacFromName(c.name), c.number) << c.name;
    }
}

TEST_F(TQUtilsTest, ARightToLeftLayoutMarksTheNameLeftToRight) {
    host_.app.layoutDirection = platform::LayoutDirection::rightToLeft;
    EXPECT_EQ(TQUtils::addParenthesesToKavoNumber("Kavo R5 ABCD"), "Kavo R5 (ABCD)\u200E");
    EXPECT_EQ(TQUtils::getKavoNumber("Kavo R5 ABCD"), "ABCD");
}

// ---- carrier ----

TEST_F(TQUtilsTest, CarrierTypeComesFromTheSalesCode) {
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

TEST_F(TQUtilsTest, NoWatchInfoMeansNoCarrier) {
    EXPECT_EQ(TQUtils::getCarrierType(), 0);
    EXPECT_FALSE(TQUtils::isCarrierTypeUSA());
}

// ---- texts ----

TEST_F(TQUtilsTest, PercentCoding) {
    struct Case {
        std::string text;
        std::string escaped;
    };
    const Case cases[] = {
        {"a b", "a%20b"},
        {"fish&chips", "fish%26chips"},
        {"!*'();:@&=+$,/?%#[]\"", "%21%2A%27%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%25%23%5B%5D%22"},
        {"<>{}|\\^`", "%3C%3E%7B%7D%7C%5C%5E%60"},
        {"Az09-._~", "Az09-._~"},
        {"caf\xC3\xA9", "caf%C3%A9"},
        {"line\nend", "line%0Aend"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TQUtils::escapeString(c.text), c.escaped) << c.text;
        EXPECT_EQ(TQUtils::unescapeString(c.escaped), c.text) << c.escaped;
    }
    // Lower-case escapes decode too; "+" is no blank.
    EXPECT_EQ(TQUtils::unescapeString("caf%c3%a9+x"), "caf\xC3\xA9+x");
    for (const char* bad : {"%", "%2", "a%2", "%zz", "%G0", "%C3", "%FF", "%C0%AF"}) {
        EXPECT_FALSE(TQUtils::unescapeString(bad)) << bad;
    }
}

TEST_F(TQUtilsTest, TrimmingKnowsUnicodeWhiteSpace) {
    struct Case {
        std::string text;
        std::string trimmed;
    };
    const Case cases[] = {
        {"  a b \n", "a b"},
        {"\t\r\n\v\f", ""},
        {"\xC2\xA0x\xE2\x80\xA8", "x"},      // no-break space, line separator
        {"\xE3\x80\x80x\xC2\x85", "x"},      // ideographic space, next line
        {"caf\xC3\xA9", "caf\xC3\xA9"},      // a letter ending in a two-byte sequence
        {"\xE2\x80\x8Bx", "\xE2\x80\x8Bx"},  // zero-width space is no white space
        {" x\xFF ", "x\xFF"},                // a broken sequence stops the trim
        {"\xC0\xA0x", "\xC0\xA0x"},          // an overlong blank is no blank
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TQUtils::trimmedWhiteSpaceAndNewlines(c.text), c.trimmed) << c.text;
    }
}

TEST_F(TQUtilsTest, NumbersAreWholeAndUngrouped) {
    EXPECT_EQ(TQUtils::convertNumberToLocalize(0), "0");
    EXPECT_EQ(TQUtils::convertNumberToLocalize(1234567), "1234567");
    EXPECT_EQ(TQUtils::convertNumberToLocalize(-8), "-8");
}

TEST_F(TQUtilsTest, TheStoreTitleFollowsTheSimsCountry) {
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

TEST_F(TQUtilsTest, TheErrorBanner) {
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

TEST_F(TQUtilsTest, LocalNotifications) {
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
