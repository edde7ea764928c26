#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <span>
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

TEST(PropertyListTest, BinaryRoundTripKeepsWhatTheFormHolds) {
    const Value original{
        {"bool", true},
        {"int", -5},
        {"max", std::numeric_limits<std::int64_t>::max()},
        {"unsigned", Value(std::uint64_t{7})},
        {"real", 2.5},
        {"text", "line\r\nnext\ttab \xc3\xa9"},
        {"bytes", Bytes{0, 1, 2, 0xff, 0x80}},
        {"date", Date{978307200.0 + 86400.5}},
        {"nested", Value{{"a", Value::array({Dictionary(), Value::array({}), "x"})}}},
    };
    auto binary = plist::writeBinary(original);
    ASSERT_TRUE(binary) << binary.error().message;
    EXPECT_TRUE(plist::isBinary(*binary));
    // Either reader takes it: the one that tells the forms apart, and the binary one.
    for (auto parsed :
         {plist::parse(std::span<const std::uint8_t>(*binary)), plist::parseBinary(*binary)}) {
        ASSERT_TRUE(parsed) << parsed.error().message;
        EXPECT_EQ((*parsed)["int"], Value(-5));
        EXPECT_EQ((*parsed)["unsigned"].intValue(), 7);
        EXPECT_EQ((*parsed)["text"], original["text"]);
        EXPECT_EQ((*parsed)["bytes"], original["bytes"]);
        EXPECT_EQ((*parsed)["date"], original["date"]);
        EXPECT_EQ((*parsed)["nested"], original["nested"]);
        EXPECT_EQ((*parsed)["max"], original["max"]);
    }
    // The XML form still reads through the same door.
    const std::string xml = *plist::write(Value{{"a", 1}});
    EXPECT_EQ(*plist::parse(std::span<const std::uint8_t>(
                  reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size())),
              (Value{{"a", 1}}));
}

TEST(PropertyListTest, BinaryFormRefusals) {
    struct Case {
        const char* name;
        Bytes data;
    };
    auto binary = *plist::writeBinary(Value{{"a", Value::array({1, 2})}});
    const Case cases[] = {
        {"empty", {}},
        {"header only", Bytes{'b', 'p', 'l', 'i', 's', 't', '0', '0'}},
        {"cut short", Bytes(binary.begin(), binary.end() - 10)},
        {"not binary", Bytes{'<', 'p', 'l', 'i', 's', 't', '>'}},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(plist::parseBinary(c.data)) << c.name;
    }
    EXPECT_FALSE(plist::writeBinary(Value{{"huge", std::numeric_limits<std::uint64_t>::max()}}));
    EXPECT_FALSE(plist::writeBinary(Value{{"null", Value()}}));
    EXPECT_FALSE(plist::writeBinary(Value{{"far", Date{1e12}}}));
}

TEST(PropertyListTest, ReadsDatesInTheStandardForm) {
    auto parsed = plist::parse(
        "<plist><array><date>2001-01-01T00:00:10Z</date><date>1969-12-31T23:59:59Z</date>"
        "</array></plist>");
    ASSERT_TRUE(parsed) << parsed.error().message;
    EXPECT_EQ((*parsed->arrayIf())[0], Value(Date{978307210.0}));
    EXPECT_EQ((*parsed->arrayIf())[1], Value(Date{-1.0}));
}

TEST(PropertyListTest, ReadsOnlyDatesThatExist) {
    struct Case {
        const char* text;
        std::optional<double> seconds;  // nothing: refused
    };
    const Case cases[] = {
        {"2001-01-01T00:00:10Z", 978307210.0},
        {"2001-01-01T00:00:10.5Z", 978307210.5},
        {"2001-01-01T00:00:10.000000001Z", 978307210.0 + 1e-9},
        {"2000-02-29T00:00:00Z", 951782400.0},  // divisible by 400: a leap year
        {"2004-02-29T12:00:00Z", 1078056000.0},
        {"2001-04-30T23:59:59Z", 988675199.0},
        {"2016-12-31T23:59:60Z", 1483228800.0},  // a leap second, folded into the next day
        {"0000-01-01T00:00:00Z", -62167219200.0},
        {"9999-12-31T23:59:59.5Z", 253402300799.5},
        // Fractions are digits alone.
        {"2001-01-01T00:00:10.5e300Z", std::nullopt},
        {"2001-01-01T00:00:10.5E3Z", std::nullopt},
        {"2001-01-01T00:00:10.Z", std::nullopt},
        {"2001-01-01T00:00:10.-5Z", std::nullopt},
        {"2001-01-01T00:00:10. 5Z", std::nullopt},
        {"2001-01-01T00:00:10.infZ", std::nullopt},
        {"2001-01-01T00:00:10,5Z", std::nullopt},
        // Days beyond their month, and fields beyond their range.
        {"2001-02-31T00:00:00Z", std::nullopt},
        {"2001-02-29T00:00:00Z", std::nullopt},
        {"1900-02-29T00:00:00Z", std::nullopt},  // divisible by 100: not a leap year
        {"2001-04-31T00:00:00Z", std::nullopt},
        {"2001-13-01T00:00:00Z", std::nullopt},
        {"2001-00-01T00:00:00Z", std::nullopt},
        {"2001-01-00T00:00:00Z", std::nullopt},
        {"2001-01-32T00:00:00Z", std::nullopt},
        {"2001-01-01T24:00:00Z", std::nullopt},
        {"2001-01-01T00:60:00Z", std::nullopt},
        {"2001-01-01T00:00:61Z", std::nullopt},
        {"2001-01-01T12:30:60Z", std::nullopt},  // leap seconds end a day
        {"9999-12-31T23:59:60Z", std::nullopt},  // past the year 9999
        // The form itself.
        {"-001-01-01T00:00:00Z", std::nullopt},
        {"+201-01-01T00:00:00Z", std::nullopt},
        {"2001-+1-01T00:00:00Z", std::nullopt},
        {"2001-01-01 00:00:00Z", std::nullopt},
        {"2001-01-01T00:00:00", std::nullopt},
        {"2001-01-01T00:00:00+00:00", std::nullopt},
        {"12001-01-01T00:00:00Z", std::nullopt},
    };
    for (const Case& c : cases) {
        auto parsed = plist::parse(std::string("<plist><date>") + c.text + "</date></plist>");
        if (c.seconds) {
            ASSERT_TRUE(parsed) << c.text << ": " << parsed.error().message;
            EXPECT_EQ(*parsed, Value(Date{*c.seconds})) << c.text;
        } else {
            EXPECT_FALSE(parsed) << c.text;
        }
    }
}

TEST(PropertyListTest, WritesOnlyDatesItsFormCarries) {
    const double written[] = {
        -62167219200.0,                             // 0000-01-01T00:00:00Z
        253402300799.75,                            // the last quarter second of 9999
        1e-7,                                       // a fraction with no short fixed form
        std::numeric_limits<double>::denorm_min(),  // the longest fraction there is
        978307210.5,
    };
    for (const double seconds : written) {
        auto text = plist::write(Value(Date{seconds}));
        ASSERT_TRUE(text) << seconds << ": " << text.error().message;
        auto parsed = plist::parse(*text);
        ASSERT_TRUE(parsed) << *text << ": " << parsed.error().message;
        EXPECT_EQ(*parsed, Value(Date{seconds})) << *text;
    }
    // A moment a hair before 1970 has no fraction a double can hold; it reads back as 1970.
    auto justBefore = plist::write(Value(Date{-1e-300}));
    ASSERT_TRUE(justBefore);
    EXPECT_NE(justBefore->find("<date>1970-01-01T00:00:00Z</date>"), std::string::npos);

    const double refused[] = {
        std::numeric_limits<double>::quiet_NaN(),
        HUGE_VAL,
        -HUGE_VAL,
        1e300,
        -1e300,
        9.3e18,          // past 64-bit seconds
        253402300800.0,  // 10000-01-01T00:00:00Z
        -62167219200.5,  // before the year 0000
    };
    for (const double seconds : refused) {
        auto text = plist::write(Value{{"when", Date{seconds}}});
        ASSERT_FALSE(text) << seconds;
        EXPECT_NE(text.error().message.find("date"), std::string::npos) << text.error().message;
    }
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
