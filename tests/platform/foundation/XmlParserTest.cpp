#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/XmlParser.h"

namespace platform::xml {
namespace {

// Writes every event as one line, so a test compares the whole stream at once.
class EventLog : public Handler {
public:
    void startElement(std::string_view name, std::span<const Attribute> attributes) override {
        flushText();
        std::string line = "start " + std::string(name);
        for (const auto& attribute : attributes) {
            line += " " + std::string(attribute.name) + "=" + std::string(attribute.value);
        }
        events.push_back(line);
    }
    void endElement(std::string_view name) override {
        flushText();
        events.push_back("end " + std::string(name));
    }
    // Pieces of one run are joined: how expat cuts a run is not part of the contract.
    void characters(std::string_view text) override { text_ += text; }
    void comment(std::string_view text) override {
        flushText();
        events.push_back("comment [" + std::string(text) + "]");
    }

    std::vector<std::string> events;

private:
    void flushText() {
        if (!text_.empty()) {
            events.push_back("text [" + text_ + "]");
            text_.clear();
        }
    }
    std::string text_;
};

TEST(XmlParserTest, ReportsElementsAttributesAndTextInDocumentOrder) {
    EventLog log;
    const auto result = parse(
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<a x=\"1\" ns:y='2'>\n <b>t &amp; &#x41;<![CDATA[<raw>]]></b><c/></a>\n",
        log);
    ASSERT_TRUE(result) << result.error().message;
    EXPECT_EQ(log.events, (std::vector<std::string>{"start a x=1 ns:y=2", "text [\n ]", "start b",
                                                    "text [t & A<raw>]", "end b", "start c",
                                                    "end c", "end a"}));
}

TEST(XmlParserTest, ReportsCommentsWhereTheyStand) {
    EventLog log;
    ASSERT_TRUE(parse("<!-- before --><a>x<!--in-->y</a><!--after-->", log));
    EXPECT_EQ(log.events,
              (std::vector<std::string>{"comment [ before ]", "start a", "text [x]", "comment [in]",
                                        "text [y]", "end a", "comment [after]"}));
}

TEST(XmlParserTest, ConvertsTheDeclaredEncodingToUtf8) {
    EventLog log;
    const std::string latin1 = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>caf\xE9</a>";
    ASSERT_TRUE(parse(latin1, log));
    EXPECT_EQ(log.events[1], "text [caf\xC3\xA9]");
}

TEST(XmlParserTest, RefusesWhatIsNotOneWellFormedDocument) {
    const char* documents[] = {
        "",
        "   ",
        "<a>",
        "<a></b>",
        "<a/><b/>",
        "text only",
        "<a x=1/>",
        "<a>&undefined;</a>",
        "<a>\xFF</a>",
    };
    for (const char* document : documents) {
        EventLog log;
        const auto result = parse(document, log);
        ASSERT_FALSE(result) << document;
        EXPECT_EQ(result.error().domain, kErrorDomain);
        EXPECT_EQ(result.error().code, kSyntax) << document;
    }
}

TEST(XmlParserTest, BoundsNesting) {
    auto nested = [](int depth) {
        std::string document;
        for (int i = 0; i < depth; ++i) {
            document += "<e>";
        }
        for (int i = 0; i < depth; ++i) {
            document += "</e>";
        }
        return document;
    };
    EventLog accepted;
    EXPECT_TRUE(parse(nested(kMaxDepth), accepted));

    EventLog refused;
    const auto result = parse(nested(kMaxDepth + 1), refused);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().code, kTooDeep);
    // Nothing is reported past the element that broke the bound.
    EXPECT_EQ(refused.events.size(), static_cast<std::size_t>(kMaxDepth));

    EventLog shallow;
    EXPECT_FALSE(parse("<a><b/></a>", shallow, 1));
}

TEST(XmlParserTest, RefusesAnEntityExpansionBomb) {
    // Ten levels of ten references: 10^10 characters if it were expanded.
    std::string document = "<!DOCTYPE a [<!ENTITY e0 \"lollollollollollollollollollol\">";
    for (int level = 1; level <= 10; ++level) {
        document += "<!ENTITY e" + std::to_string(level) + " \"";
        for (int i = 0; i < 10; ++i) {
            document += "&e" + std::to_string(level - 1) + ";";
        }
        document += "\">";
    }
    document += "]><a>&e10;</a>";
    EventLog log;
    EXPECT_FALSE(parse(document, log));
}

TEST(XmlParserTest, RefusesDocumentTypes) {
    const char* documents[] = {
        "<!DOCTYPE a [<!ELEMENT a (#PCDATA)>]><a/>",
        "<!DOCTYPE a SYSTEM \"a.dtd\"><a/>",
        "<?xml version=\"1.0\"?>\n<!DOCTYPE a PUBLIC \"-//Kavo//DTD A//EN\" \"a.dtd\"><a/>",
        "<!DOCTYPE a [<!ENTITY name \"value\">]><a>&name;</a>",
        "<!DOCTYPE a><a/>",
    };
    for (const char* document : documents) {
        EventLog log;
        const auto result = parse(document, log);
        ASSERT_FALSE(result) << document;
        EXPECT_EQ(result.error().code, kDocumentType) << document;
        EXPECT_NE(result.error().message.find("document type"), std::string::npos);
        EXPECT_TRUE(log.events.empty()) << document;
    }
}

TEST(XmlParserTest, ReadsDocumentsLargerThanOneSlice) {
    // Expat takes int lengths; the reader feeds it in slices of 16 MiB.
    const std::string text((std::size_t{1} << 24) + 5, 'x');
    EventLog log;
    ASSERT_TRUE(parse("<a>" + text + "</a>", log));
    ASSERT_EQ(log.events.size(), 3u);
    EXPECT_EQ(log.events[1].size(), text.size() + 7);  // "text [" + text + "]"
}

}  // namespace
}  // namespace platform::xml
