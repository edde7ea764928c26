#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/FileSystem.h"
#include "utils/TQUtils.h"
#include "utils/TQUtilsFixture.h"

using platform::Dictionary;
using platform::Value;

namespace {

using tqutils_test::TQUtilsTest;

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

TEST_F(TQUtilsTest, WatchNumbers) {
    struct Case {
        std::string name;
        std::optional<std::string> number;
    };
    const Case cases[] = {
        {"Kavo R5 (ABCD)", "ABCD"}, {"Kavo R5 ABCD", "ABCD"},   {"Kavo R5 ((AB))", "AB"},
        {"Kavo R5 (AB", "AB"},      {"Kavo R5 A(B)C", "A(B)C"}, {"Kavo R5 ABCD LE", "ABCD"},
        {"Kavo  ABCD", "ABCD"},  // single blanks separate: an empty word
        {"Kavo R5 ", ""},           {"Kavo R5", std::nullopt},  {"KavoR5ABCD", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TQUtils::getKavoNumber(c.name), c.number) << c.name;
        EXPECT_EQ(TQUtils::getDeviceMacFromName(c.name), c.number) << c.name;
    }
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

}  // namespace
