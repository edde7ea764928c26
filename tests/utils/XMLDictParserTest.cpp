#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "utils/XMLDictParser.h"

namespace {

using platform::Dictionary;
using platform::Value;

using Options = std::function<void(XMLDictParser&)>;

const Options kDefaults = [](XMLDictParser&) {};

struct Case {
    const char* what;
    const char* xml;
    Options options;
    Value expected;  // null: no dictionary
    bool ok = true;
};

TEST(XMLDictParserTest, DocumentsBecomeDictionaries) {
    const Case cases[] = {
        {"attribute, repeated text children, empty child", R"(<a x="1"><b>t</b><b>u</b><c/></a>)",
         kDefaults, Value{{"__name", "a"}, {"_x", "1"}, {"b", Value::array({"t", "u"})}}},
        {"one text child", "<a><b>t</b></a>", kDefaults, Value{{"__name", "a"}, {"b", "t"}}},
        {"text split by a child, trimmed", "<a> x <b> y </b> z </a>", kDefaults,
         Value{{"__name", "a"}, {"__text", Value::array({"x", "z"})}, {"b", "y"}}},
        {"attribute and text keep their dictionary", R"(<a><b k="v">t</b></a>)", kDefaults,
         Value{{"__name", "a"}, {"b", Value{{"_k", "v"}, {"__text", "t"}}}}},
        {"CDATA is text", "<a><![CDATA[<x>]]></a>", kDefaults,
         Value{{"__name", "a"}, {"__text", "<x>"}}},
        {"comments dropped by default", "<a><!-- c --><b>t</b></a>", kDefaults,
         Value{{"__name", "a"}, {"b", "t"}}},
        {"comments kept", "<a><!-- c1 --><b>t<!--c2--></b></a>",
         [](XMLDictParser& p) { p.preserveComments = true; },
         Value{{"__name", "a"},
               {"__comments", Value::array({" c1 "})},
               {"b", Value{{"__text", "t"}, {"__comments", Value::array({"c2"})}}}}},
        {"always arrays", "<a><b>t</b><c/></a>", [](XMLDictParser& p) { p.alwaysUseArrays = true; },
         Value{{"__name", "a"}, {"b", Value::array({"t"})}, {"c", Value(platform::Array{})}}},
        {"wrapped root", "<a><b>t</b></a>", [](XMLDictParser& p) { p.wrapRootNode = true; },
         Value{{"a", Value{{"__name", "a"}, {"b", "t"}}}}},
        {"wrapped text-only root collapses", "<a>t</a>",
         [](XMLDictParser& p) { p.wrapRootNode = true; }, Value{{"a", "t"}}},
        {"attributes as one dictionary", R"(<a x="1" y="2"/>)",
         [](XMLDictParser& p) { p.attributesMode = XMLDictParser::kAttributesDictionary; },
         Value{{"__name", "a"}, {"__attributes", Value{{"x", "1"}, {"y", "2"}}}}},
        {"attributes under their own names", R"(<a x="1"/>)",
         [](XMLDictParser& p) { p.attributesMode = XMLDictParser::kAttributesUnprefixed; },
         Value{{"__name", "a"}, {"x", "1"}}},
        {"attributes dropped", R"(<a x="1"><b y="2">t</b></a>)",
         [](XMLDictParser& p) { p.attributesMode = 7; }, Value{{"__name", "a"}, {"b", "t"}}},
        {"every element named", R"(<a><b k="v"/><c>t</c></a>)",
         [](XMLDictParser& p) { p.nodeNameMode = XMLDictParser::kNodeNameAlways; },
         Value{{"__name", "a"}, {"b", Value{{"__name", "b"}, {"_k", "v"}}}, {"c", "t"}}},
        {"no element named", "<a><b>t</b></a>",
         [](XMLDictParser& p) { p.nodeNameMode = XMLDictParser::kNodeNameNever; },
         Value{{"b", "t"}}},
        {"text nodes not collapsed", "<a><b>t</b></a>",
         [](XMLDictParser& p) { p.collapseTextNodes = false; },
         Value{{"__name", "a"}, {"b", Value{{"__text", "t"}}}}},
        {"empty nodes kept", "<a><c/></a>", [](XMLDictParser& p) { p.stripEmptyNodes = false; },
         Value{{"__name", "a"}, {"c", Value(Dictionary{})}}},
        {"empty nodes kept, nothing collapsed", "<a><c/></a>",
         [](XMLDictParser& p) {
             p.stripEmptyNodes = false;
             p.collapseTextNodes = false;
         },
         Value{{"__name", "a"}, {"c", Value{{"__text", ""}}}}},
        {"white space kept", "<a><b> t </b></a>",
         [](XMLDictParser& p) { p.trimWhiteSpace = false; }, Value{{"__name", "a"}, {"b", " t "}}},
        {"cut off: the part before the error", "<a><b>t</b><c>u", kDefaults,
         Value{{"__name", "a"}, {"b", "t"}, {"c", Value(Dictionary{})}}, false},
        {"mismatched end tag", "<a><b>t</b></x>", kDefaults, Value{{"__name", "a"}, {"b", "t"}},
         false},
        {"nothing at all", "", kDefaults, Value(), false},
        {"no element", "just text", kDefaults, Value(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        XMLDictParser parser = XMLDictParser::sharedInstance();
        c.options(parser);
        const auto parsed = parser.dictionaryWithString(c.xml);
        EXPECT_EQ(parsed.ok(), c.ok);
        EXPECT_EQ(parsed.error.has_value(), !c.ok);
        if (c.expected.isNull()) {
            EXPECT_FALSE(parsed.dictionary.has_value());
        } else {
            ASSERT_TRUE(parsed.dictionary.has_value());
            EXPECT_EQ(Value(*parsed.dictionary), c.expected)
                << Value(*parsed.dictionary).description();
        }
    }
}

TEST(XMLDictParserTest, SharedOptionsAreTheDefaults) {
    const XMLDictParser& shared = XMLDictParser::sharedInstance();
    EXPECT_TRUE(shared.collapseTextNodes && shared.stripEmptyNodes && shared.trimWhiteSpace);
    EXPECT_FALSE(shared.alwaysUseArrays || shared.preserveComments || shared.wrapRootNode);
    EXPECT_EQ(shared.attributesMode, XMLDictParser::kAttributesPrefixed);
    EXPECT_EQ(shared.nodeNameMode, XMLDictParser::kNodeNameRootOnly);
    const auto parsed = xmldict::dictionaryWithXMLString("<r><v>1</v></r>");
    ASSERT_TRUE(parsed.ok());
    EXPECT_EQ(Value(*parsed.dictionary), (Value{{"__name", "r"}, {"v", "1"}}));
    EXPECT_FALSE(xmldict::dictionaryWithXMLFile("/nonexistent/file.xml").ok());
}

TEST(XMLDictParserTest, NodesReadBack) {
    const Dictionary node = *xmldict::dictionaryWithXMLString(
                                 R"(<a x="1"><b>t</b><b>u</b><d k="v">in</d>one<e/>two</a>)")
                                 .dictionary;
    EXPECT_EQ(xmldict::nodeName(node), "a");
    EXPECT_EQ(Value(*xmldict::attributes(node)), (Value{{"x", "1"}}));
    EXPECT_EQ(xmldict::innerText(node), "one\ntwo");
    const auto children = xmldict::childNodes(node);
    ASSERT_TRUE(children);
    EXPECT_EQ(children->size(), 2U);
    EXPECT_EQ(xmldict::stringValueForKeyPath(node, "b"), "t");
    EXPECT_EQ(xmldict::stringValueForKeyPath(node, "d"), "in");
    EXPECT_EQ(xmldict::stringValueForKeyPath(node, "d._k"), "v");
    EXPECT_EQ(xmldict::arrayValueForKeyPath(node, "b")->size(), 2U);
    EXPECT_EQ(xmldict::arrayValueForKeyPath(node, "d")->size(), 1U);
    EXPECT_FALSE(xmldict::arrayValueForKeyPath(node, "missing"));
    EXPECT_EQ(Value(*xmldict::dictionaryValueForKeyPath(node, "b")), (Value{{"__text", "t"}}));
    EXPECT_FALSE(xmldict::attributes(Dictionary{{"b", Value("t")}}));
    EXPECT_FALSE(xmldict::childNodes(Dictionary{{"__name", Value("a")}, {"_x", Value("1")}}));
}

TEST(XMLDictParserTest, DictionariesWriteAsXML) {
    EXPECT_EQ(xmldict::XMLEncodedString(R"(&<>"')"), "&amp;&lt;&gt;&quot;&apos;");
    EXPECT_EQ(xmldict::XMLEncodedString("&lt;"), "&amp;lt;");

    EXPECT_EQ(xmldict::XMLString(
                  Dictionary{{"__name", Value("a")}, {"_x", Value("1")}, {"__text", Value("t")}}),
              R"(<a x="1">t</a>)");
    EXPECT_EQ(
        xmldict::XMLString(Dictionary{{"_x", Value("a\"b")}, {"c", Value::array({"1", "2"})}}),
        R"(<root x="a&quot;b"><c>1</c>)"
        "\n"
        R"(<c>2</c></root>)");
    EXPECT_EQ(xmldict::XMLString(Dictionary{{"only", Value("x<y")}}), "<only>x&lt;y</only>");
    EXPECT_EQ(xmldict::XMLString(Dictionary{{"__name", Value("e")}}), "<e/>");
    EXPECT_EQ(XMLDictParser::XMLStringForNode(Value(12), "n"), "<n>12</n>");

    // What is written reads back as it was.
    const char* document = R"(<a x="1"><b>t</b><b>u</b><d k="v">in</d>text &amp; more</a>)";
    const Dictionary node = *xmldict::dictionaryWithXMLString(document).dictionary;
    const auto again = xmldict::dictionaryWithXMLString(xmldict::XMLString(node));
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(Value(*again.dictionary), Value(node));

    XMLDictParser keeping = XMLDictParser::sharedInstance();
    keeping.preserveComments = true;
    const Dictionary withComment =
        *keeping.dictionaryWithString("<a><!--note--><b>t</b></a>").dictionary;
    EXPECT_EQ(xmldict::XMLString(withComment), "<a><!--note-->\n<b>t</b></a>");
}

}  // namespace
