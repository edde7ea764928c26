#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "platform/foundation/PropertyList.h"
#include "support/TempDir.h"

namespace platform {
namespace {

TEST(PropertyListTest, WritesTheXmlForm) {
    const Value value{
        {"name", "a<&>b"}, {"on", true}, {"list", Value::array({1, 2.5})}, {"empty", Dictionary()}};
    EXPECT_EQ(*plist::write(value),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<plist version=\"1.0\">\n"
              "<dict>\n"
              "\t<key>name</key>\n"
              "\t<string>a&lt;&amp;&gt;b</string>\n"
              "\t<key>on</key>\n"
              "\t<true/>\n"
              "\t<key>list</key>\n"
              "\t<array>\n"
              "\t\t<integer>1</integer>\n"
              "\t\t<real>2.5</real>\n"
              "\t</array>\n"
              "\t<key>empty</key>\n"
              "\t<dict/>\n"
              "</dict>\n"
              "</plist>\n");
}

TEST(PropertyListTest, RoundTripKeepsEveryKind) {
    const Value original{
        {"bool", false},
        {"int", -5},
        {"max", std::numeric_limits<std::int64_t>::max()},
        {"huge", std::numeric_limits<std::uint64_t>::max()},
        {"real", 1.0},
        {"inf", -std::numeric_limits<double>::infinity()},
        {"text", "line\r\nnext\ttab é"},
        {"empty text", ""},
        {"bytes", Bytes{0, 1, 2, 0xff, 0x80}},
        {"no bytes", Bytes{}},
        {"date", Date{-86400.0 * 365 * 40 + 0.25}},
        {"nested", Value{{"a", Value::array({Dictionary(), Value::array({}), "x"})}}},
    };
    auto text = plist::write(original);
    ASSERT_TRUE(text) << text.error().message;
    auto parsed = plist::parse(*text);
    ASSERT_TRUE(parsed) << parsed.error().message;
    EXPECT_EQ(*parsed, original);
    for (const auto& [key, value] : *original.dictionaryIf()) {
        EXPECT_EQ((*parsed)[key].type(), value.type()) << key;
    }
}

TEST(PropertyListTest, ReadsDatesInTheStandardForm) {
    auto parsed = plist::parse(
        "<plist><array><date>2001-01-01T00:00:10Z</date><date>1969-12-31T23:59:59Z</date>"
        "</array></plist>");
    ASSERT_TRUE(parsed) << parsed.error().message;
    EXPECT_EQ((*parsed->arrayIf())[0], Value(Date{978307210.0}));
    EXPECT_EQ((*parsed->arrayIf())[1], Value(Date{-1.0}));
}

TEST(PropertyListTest, RefusesMalformedInput) {
    const char* refused[] = {
        "",
        "not xml",
        "<dict/>",  // no plist root
        "<plist><dict><key>a</key></dict></plist>",
        "<plist><dict><string>no key</string></dict></plist>",
        "<plist><dict><key>a</key><key>b</key></dict></plist>",
        "<plist><array><key>a</key></array></plist>",
        "<plist><integer>1.5</integer></plist>",
        "<plist><integer></integer></plist>",
        "<plist><real>x</real></plist>",
        "<plist><date>yesterday</date></plist>",
        "<plist><data>!!</data></plist>",
        "<plist><true>x</true></plist>",
        "<plist><string>a<b/></string></plist>",
        "<plist><unknown/></plist>",
        "<plist><string>a</string><string>b</string></plist>",
        "<plist>stray text</plist>",
        "<plist><array>",
        "<plist></plist>",
    };
    for (const char* text : refused) {
        auto parsed = plist::parse(text);
        EXPECT_FALSE(parsed) << text;
        if (!parsed) {
            EXPECT_EQ(parsed.error().domain, plist::kErrorDomain) << text;
        }
    }
    EXPECT_FALSE(plist::write(Value{{"null", nullptr}}));
    EXPECT_FALSE(plist::write(Value{{"control", "a\x01"}}));
}

TEST(PropertyListTest, RefusesDocumentTypes) {
    const char* refused[] = {
        "<!DOCTYPE plist [<!ELEMENT plist ANY>]><plist><string>a</string></plist>",
        "<!DOCTYPE plist SYSTEM \"plist.dtd\"><plist><string>a</string></plist>",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Kavo//DTD PLIST 1.0//EN\" \"plist.dtd\">\n"
        "<plist version=\"1.0\"><string>a</string></plist>",
        "<!DOCTYPE plist [<!ENTITY e \"expanded\">]><plist><string>&e;</string></plist>",
    };
    for (const char* text : refused) {
        auto parsed = plist::parse(text);
        ASSERT_FALSE(parsed) << text;
        EXPECT_EQ(parsed.error().domain, plist::kErrorDomain);
        EXPECT_NE(parsed.error().message.find("document type"), std::string::npos)
            << parsed.error().message;
    }
    EXPECT_EQ(*plist::parse("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                            "<plist version=\"1.0\"><string>a &amp; b</string></plist>"),
              Value("a & b"));
}

TEST(PropertyListTest, DuplicateKeysKeepTheFirstPlaceAndTheLastValue) {
    auto parsed = plist::parse(
        "<plist><dict><key>a</key><integer>1</integer><key>b</key><integer>2</integer>"
        "<key>a</key><integer>3</integer></dict></plist>");
    ASSERT_TRUE(parsed) << parsed.error().message;
    ASSERT_EQ(parsed->size(), 2u);
    EXPECT_EQ(parsed->dictionaryIf()->begin()->first, "a");
    EXPECT_EQ((*parsed)["a"], Value(3));
}

TEST(PropertyListTest, BoundsKeysPerDictionary) {
    const auto dictionary = [](std::size_t keys, std::string_view extra) {
        std::string text = "<plist><dict>";
        for (std::size_t i = 0; i < keys; ++i) {
            text += "<key>" + std::to_string(i) + "</key><true/>";
        }
        return text.append(extra).append("</dict></plist>");
    };
    auto full = plist::parse(dictionary(plist::kMaxKeys, "<key>0</key><false/>"));
    ASSERT_TRUE(full) << full.error().message;
    EXPECT_EQ(full->size(), plist::kMaxKeys);
    EXPECT_EQ((*full)["0"], Value(false));
    auto over = plist::parse(dictionary(plist::kMaxKeys + 1, ""));
    ASSERT_FALSE(over);
    EXPECT_NE(over.error().message.find("more than 100000 keys"), std::string::npos)
        << over.error().message;
}

TEST(PropertyListTest, FilesAreReplacedWhole) {
    testing_support::TempDir dir;
    const auto file = dir.path() / "sub" / "settings.plist";
    ASSERT_TRUE(plist::writeFile(file, Value{{"a", 1}}));
    ASSERT_TRUE(plist::writeFile(file, Value{{"b", 2}}));
    EXPECT_EQ(*plist::readFile(file), Value({{"b", 2}}));
    // A value that cannot be written leaves the file as it was.
    EXPECT_FALSE(plist::writeFile(file, Value{{"c", nullptr}}));
    EXPECT_EQ(*plist::readFile(file), Value({{"b", 2}}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file.parent_path()),
                            std::filesystem::directory_iterator()),
              1);
    EXPECT_FALSE(plist::readFile(dir.path() / "missing.plist"));
}

}  // namespace
}  // namespace platform
