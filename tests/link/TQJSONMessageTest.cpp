#include <gtest/gtest.h>

#include <string>

#include "link/TQHMMessage.h"
#include "link/TQJSONParser.h"

namespace {

using platform::Value;

platform::Bytes bytes(std::string_view text) {
    return platform::Bytes(text.begin(), text.end());
}

TEST(TQJSONParserTest, EncodesPrettyAndDecodesBack) {
    const Value message{{"msgId", "mgr_watch_info_req"}};
    const auto encoded = TQJSONParser::getInstance().encodeToJSON(message);
    ASSERT_TRUE(encoded);
    EXPECT_EQ(*encoded, bytes("{\n  \"msgId\" : \"mgr_watch_info_req\"\n}"));
    EXPECT_EQ(TQJSONParser::getInstance().decodeFromJSON(*encoded), message);
}

TEST(TQJSONParserTest, RefusesWhatIsNotAJsonObject) {
    const TQJSONParser parser = TQJSONParser::getInstance();
    EXPECT_FALSE(parser.encodeToJSON(Value{{"when", platform::Date{1.0}}}));
    EXPECT_FALSE(parser.encodeToJSON(Value("fragment")));
    for (const char* text : {"", "\"fragment\"", "42", "{", "[1,]", "{} trailing"}) {
        EXPECT_FALSE(parser.decodeFromJSON(bytes(text))) << text;
    }
    EXPECT_TRUE(parser.decodeFromJSON(bytes("[1, 2]")));
}

TEST(TQHMMessageTest, SchemasBuildMessageDictionaries) {
    const TQHMMessage uninstall("mgr_wapps_uninstall_req String packageName");
    EXPECT_EQ(TQHMMessage::toDictionary(uninstall, {Value("com.kavo.app")}),
              Value({{"msgId", "mgr_wapps_uninstall_req"}, {"packageName", "com.kavo.app"}}));

    const TQHMMessage clocks("mgr_clocks_list_req String result");
    EXPECT_EQ(TQHMMessage::toDictionary(clocks), Value({{"msgId", "mgr_clocks_list_req"}}));
    EXPECT_EQ(TQHMMessage::toDictionary(clocks, {Value(), Value("ignored")}),
              Value({{"msgId", "mgr_clocks_list_req"}}));

    const TQHMMessage info("mgr_watch_info_req String device_id String hm_ver int dp_lastapp");
    EXPECT_EQ(info.types(), (std::vector<std::string>{"String", "String", "int"}));
    EXPECT_EQ(info.names(), (std::vector<std::string>{"device_id", "hm_ver", "dp_lastapp"}));
    // Values beyond the schema's names are not added.
    EXPECT_EQ(TQHMMessage::toDictionary(clocks, {Value("a"), Value("b")}).size(), 2u);
}

TEST(TQHMMessageTest, OddSchemas) {
    const TQHMMessage single("mgr_status_req");
    EXPECT_EQ(single.msg(), "mgr_status_req");
    EXPECT_TRUE(single.types().empty());
    EXPECT_TRUE(single.names().empty());
    EXPECT_EQ(TQHMMessage::getMsgId("mgr_status_req"), "mgr_status_req");
    EXPECT_EQ(TQHMMessage::getMsgId("mgr_x_req String a"), "mgr_x_req");

    const TQHMMessage dangling("mgr_x_req String a String");
    EXPECT_EQ(dangling.names(), std::vector<std::string>{"a"});
    const TQHMMessage doubleSpace("mgr_x_req  String a");
    EXPECT_EQ(doubleSpace.types(), std::vector<std::string>{""});
    EXPECT_EQ(doubleSpace.names(), std::vector<std::string>{"String"});
}

TEST(TQHMMessageTest, FromDictionaryReadsOnlySchemaFields) {
    const TQHMMessage schema("mgr_x_req String a");
    const Value dictionary{{"msgId", "mgr_x_req"}, {"a", 1}, {"b", 2}};
    EXPECT_EQ(TQHMMessage::fromDictionary(schema, dictionary, "a"), Value(1));
    EXPECT_FALSE(TQHMMessage::fromDictionary(schema, dictionary, "b"));
    EXPECT_FALSE(TQHMMessage::fromDictionary(schema, dictionary, "msgId"));
}

}  // namespace
