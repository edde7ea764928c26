#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "link/TQXMLParser.h"

using platform::Array;
using platform::Dictionary;
using platform::Value;

namespace {

Value text(std::string t) {
    return Value{{"text", std::move(t)}};
}

std::vector<std::string> keysOf(const Dictionary& dictionary) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : dictionary) {
        keys.push_back(key);
    }
    return keys;
}

TEST(TQXMLParserTest, ParsesAttributesChildrenTextAndRepeatedNames) {
    struct Case {
        const char* xml;
        Value expected;
    };
    const Case cases[] = {
        // Attribute plus two children of one name: an array in document order.
        {"<a x=\"1\"><b>t</b><b>u</b></a>",
         Value{{"a", Value{{"x", "1"}, {"b", Value::array({text("t"), text("u")})}}}}},
        // One child stays a dictionary.
        {"<a><b>t</b></a>", Value{{"a", Value{{"b", text("t")}}}}},
        {"<a><i>1</i><i>2</i><i>3</i></a>",
         Value{{"a", Value{{"i", Value::array({text("1"), text("2"), text("3")})}}}}},
        // Text since the last end tag goes to the element that ends next, untrimmed.
        {"<a>\n <b>t</b>\n</a>", Value{{"a", Value{{"b", text("\n t")}, {"text", "\n"}}}}},
        {"<a><b>1</b>mid<c>2</c>tail</a>",
         Value{{"a", Value{{"b", text("1")}, {"c", text("mid2")}, {"text", "tail"}}}}},
        // No text and no attributes: an empty dictionary.
        {"<a/>", Value{{"a", Dictionary()}}},
        {"<a></a>", Value{{"a", Dictionary()}}},
        // An attribute and a child of one name share the entry, the attribute first.
        {"<a b=\"s\"><b>t</b></a>", Value{{"a", Value{{"b", Value::array({"s", text("t")})}}}}},
        // References resolved; qualified names as written.
        {"<ns:a xmlns:ns=\"urn:x\" k=\"&lt;&quot;\">P&amp;Q&#233;</ns:a>",
         Value{{"ns:a", Value{{"xmlns:ns", "urn:x"}, {"k", "<\""}, {"text", "P&Q\xC3\xA9"}}}}},
    };
    for (const auto& c : cases) {
        const auto parsed = TQXMLParser::dictionaryForXMLString(c.xml);
        ASSERT_TRUE(parsed) << c.xml;
        EXPECT_EQ(Value(*parsed), c.expected) << c.xml;
    }
}

TEST(TQXMLParserTest, KeysFollowTheDocument) {
    const auto parsed =
        TQXMLParser::dictionaryForXMLString("<a z=\"1\" y=\"2\"><c/><b/><c/>text</a>");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(keysOf(*(*parsed).find("a")->dictionaryIf()),
              (std::vector<std::string>{"z", "y", "c", "b", "text"}));
}

TEST(TQXMLParserTest, MalformedDataGivesNothing) {
    for (const char* xml : {"", "<a>", "<a><b></a>", "<a></a><b/>", "not xml"}) {
        EXPECT_FALSE(TQXMLParser::dictionaryForXMLString(xml)) << xml;
    }
}

TEST(TQXMLParserTest, DataIsReadAsTheString) {
    const std::string xml = "<a>caf\xC3\xA9</a>";
    const std::vector<std::uint8_t> data(xml.begin(), xml.end());
    EXPECT_EQ(TQXMLParser::dictionaryForXMLData(data), TQXMLParser::dictionaryForXMLString(xml));
    EXPECT_FALSE(TQXMLParser::dictionaryForXMLData({}));
}

TEST(TQXMLParserTest, ConvertsDictionariesToUnindentedXml) {
    const std::string declaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
    struct Case {
        Value dictionary;
        std::optional<std::string_view> startElement;
        bool isFirstElement;
        std::string expected;
    };
    const Case cases[] = {
        {Value{{"a", Value{{"b", text("x")}}}}, "r", true,
         declaration + "<r>\n<a>\n<b>\nx</b>\n</a>\n</r>\n"},
        {Value{{"a", text("P&Q")}}, std::nullopt, false, "<a>\nP&amp;Q</a>\n"},
        // Arrays repeat their key for each dictionary and skip everything else.
        {Value{{"item", Value::array({text("1"), "loose", 5, text("2")})}}, std::nullopt, false,
         "<item>\n1</item>\n<item>\n2</item>\n"},
        // Texts trimmed of white space, Unicode's included; empty texts write nothing.
        {Value{{"a", text(" \n\xC2\xA0x y\xE3\x80\x80\t")}}, std::nullopt, false, "<a>\nx y</a>\n"},
        {Value{{"a", text("")}}, std::nullopt, false, "<a>\n</a>\n"},
        // Any plain value is content of the enclosing element; its key is not written.
        {Value{{"a", Value{{"x", "1"}, {"n", 7}}}}, std::nullopt, false, "<a>\n17</a>\n"},
        {Value{{"a", Value{{"blob", platform::Bytes{1, 2}}, {"none", nullptr}}}}, std::nullopt,
         false, "<a>\n</a>\n"},
        {Value(Dictionary()), std::nullopt, false, ""},
        {Value(Dictionary()), "r", true, declaration + "<r>\n</r>\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TQXMLParser::convertDictionaryToXML(*c.dictionary.dictionaryIf(), c.startElement,
                                                      c.isFirstElement),
                  c.expected);
    }
}

TEST(TQXMLParserTest, TextThatLooksLikeMarkupIsEscapedAndOrdinaryTextIsNot) {
    const Dictionary names{{"AppName", text("Tom & Jerry <beta> \"2\" 'x' caf\xC3\xA9 100%")}};
    EXPECT_EQ(TQXMLParser::convertDictionaryToXML(names, std::nullopt, false),
              "<AppName>\nTom &amp; Jerry &lt;beta&gt; \"2\" 'x' caf\xC3\xA9 100%</AppName>\n");
}

// An item as the application manager keeps it: child elements whose "text" is the value.
Value appItem(const std::string& name, const std::string& package) {
    return Value{{"AppName", text(name)},       {"PackageName", text(package)},
                 {"ClassName", text("Main")},   {"PreLoad", text("false")},
                 {"IsRemovable", text("true")}, {"Version", text("1.0.2")}};
}

std::string trimmedText(const Value& element) {
    const std::string raw = element["text"].stringValue().value_or("");
    const auto first = raw.find_first_not_of(" \n");
    return first == std::string::npos ? ""
                                      : raw.substr(first, raw.find_last_not_of(" \n") - first + 1);
}

TEST(TQXMLParserTest, ListFilesSurviveARoundTrip) {
    struct Case {
        const char* root;
        Value items;
    };
    Value face = appItem("Face", "com.faces.one");
    face["IsShown"] = text("true");
    const Case cases[] = {
        {"Wapp",
         Value::array({appItem("Maps & <Co>", "com.maps"), appItem("Caf\xC3\xA9", "com.cafe")})},
        {"Clock", Value::array({face, appItem("Second", "com.faces.two")})},
    };
    for (const auto& c : cases) {
        const Dictionary list{{c.root, Value{{"item", c.items}}}};
        const std::string xml = TQXMLParser::convertDictionaryToXML(list, std::nullopt, true);

        const auto parsed = TQXMLParser::dictionaryForXMLString(xml);
        ASSERT_TRUE(parsed) << xml;
        const Value& items = (*parsed).find(c.root)->operator[]("item");
        ASSERT_TRUE(items.isArray());
        ASSERT_EQ(items.size(), c.items.size());
        for (std::size_t i = 0; i < items.size(); ++i) {
            for (const auto& [key, element] : *(*c.items.arrayIf())[i].dictionaryIf()) {
                EXPECT_EQ(trimmedText((*items.arrayIf())[i][key]), *element["text"].stringIf())
                    << c.root << " " << key;
            }
        }
        // Writing what was read gives the same file again.
        EXPECT_EQ(TQXMLParser::convertDictionaryToXML(*parsed, std::nullopt, true), xml);
    }
}

TEST(TQXMLParserTest, ASingleItemReadsAsADictionary) {
    const Dictionary list{{"Wapp", Value{{"item", Value::array({appItem("Only", "com.only")})}}}};
    const auto parsed = TQXMLParser::dictionaryForXMLString(
        TQXMLParser::convertDictionaryToXML(list, std::nullopt, true));
    ASSERT_TRUE(parsed);
    const Value& item = (*parsed).find("Wapp")->operator[]("item");
    ASSERT_TRUE(item.isDictionary());
    EXPECT_EQ(trimmedText(item["PackageName"]), "com.only");
}

TEST(TQXMLParserTest, ReadsTheOrderFileAndTheWatchsOwnLayout) {
    const auto order = TQXMLParser::dictionaryForXMLString(
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<data><itemperPage>8</itemperPage>"
        "<item><packageName>com.a</packageName><className>A</className></item>"
        "<item><packageName>com.b</packageName><className>B</className></item></data>");
    ASSERT_TRUE(order);
    const Value& data = *(*order).find("data");
    EXPECT_EQ(data["itemperPage"], text("8"));
    ASSERT_EQ(data["item"].size(), 2u);
    EXPECT_EQ((*data["item"].arrayIf())[1]["packageName"], text("com.b"));

    // The watch indents its lists; readers trim, and the written form drops the layout.
    const auto watchList = TQXMLParser::dictionaryForXMLString(
        "<Wapp>\n  <item>\n    <PackageName>com.a</PackageName>\n  </item>\n</Wapp>\n");
    ASSERT_TRUE(watchList);
    EXPECT_EQ(trimmedText((*watchList).find("Wapp")->operator[]("item")["PackageName"]), "com.a");
    EXPECT_EQ(TQXMLParser::convertDictionaryToXML(*watchList, std::nullopt, false),
              "<Wapp>\n<item>\n<PackageName>\ncom.a</PackageName>\n</item>\n</Wapp>\n");
}

}  // namespace
