#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "platform/foundation/Json.h"

namespace platform {
namespace {

TEST(JsonTest, PrettyFormOfAMessage) {
    const Value message{{"msgId", "mgr_watch_info_req"},
                        {"list", Value::array({1, Value::array({})})},
                        {"empty", Dictionary()}};
    EXPECT_EQ(*json::write(message, json::Style::Pretty),
              "{\n"
              "  \"msgId\" : \"mgr_watch_info_req\",\n"
              "  \"list\" : [\n"
              "    1,\n"
              "    []\n"
              "  ],\n"
              "  \"empty\" : {}\n"
              "}");
    EXPECT_EQ(*json::write(message), R"({"msgId":"mgr_watch_info_req","list":[1,[]],"empty":{}})");
}

TEST(JsonTest, RoundTripKeepsEveryKind) {
    const Value original{
        {"bool", true},
        {"false", false},
        {"int", -42},
        {"zero", 0},
        {"max", std::numeric_limits<std::int64_t>::max()},
        {"huge", std::numeric_limits<std::uint64_t>::max()},
        {"real", 1.0},
        {"tiny", 5e-324},
        {"text", "quote \" backslash \\ newline \n tab \t bell \x07 / é 😀"},
        {"null", nullptr},
        {"nested", Value{{"a", Value::array({1, "2", 3.5, Dictionary()})}}},
    };
    for (auto style : {json::Style::Compact, json::Style::Pretty}) {
        auto text = json::write(original, style);
        ASSERT_TRUE(text) << text.error().message;
        auto parsed = json::parse(*text);
        ASSERT_TRUE(parsed) << parsed.error().message;
        EXPECT_EQ(*parsed, original);
        for (const auto& [key, value] : *original.dictionaryIf()) {
            EXPECT_EQ((*parsed)[key].type(), value.type()) << key;
        }
    }
}

TEST(JsonTest, WriterRefusesWhatJsonCannotCarry) {
    const Value refused[] = {
        Value{{"date", Date{1.0}}},
        Value{{"bytes", Bytes{1, 2}}},
        Value::array({std::nan("")}),
        Value::array({std::numeric_limits<double>::infinity()}),
        Value::array({std::string("\xff\xfe")}),
        Value{{std::string("\xc0\x80"), 1}},
    };
    for (const auto& value : refused) {
        auto text = json::write(value);
        ASSERT_FALSE(text);
        EXPECT_EQ(text.error().domain, json::kErrorDomain);
    }
}

TEST(JsonTest, ReaderRefusesMalformedInput) {
    const char* refused[] = {
        "",           "   ",           "\"fragment\"", "42",   "null",       "{",    "[1,]",
        "{\"a\":1,}", "{\"a\" 1}",     "[1] [2]",      "{} x", "[\"\xff\"]", "[01]", "{'a':1}",
        "[NaN]",      "[\"\\ud800\"]",
    };
    for (const char* text : refused) {
        auto parsed = json::parse(text);
        EXPECT_FALSE(parsed) << text;
        if (!parsed) {
            EXPECT_FALSE(parsed.error().message.empty());
        }
    }
}

TEST(JsonTest, NestingIsBounded) {
    std::string deep(json::kMaxDepth, '[');
    deep += std::string(json::kMaxDepth, ']');
    EXPECT_TRUE(json::parse(deep));
    const std::string deeper = "[" + deep + "]";
    EXPECT_FALSE(json::parse(deeper));
    // Far deeper input is refused without exhausting the stack.
    EXPECT_FALSE(json::parse(std::string(1'000'000, '[')));
}

TEST(JsonTest, DuplicateKeysKeepTheLastValue) {
    auto parsed = json::parse(R"({"a":1,"b":2,"a":3})");
    ASSERT_TRUE(parsed);
    EXPECT_EQ((*parsed)["a"], Value(3));
    EXPECT_EQ(parsed->size(), 2u);
}

TEST(JsonTest, KeysPerObjectAreBounded) {
    const auto object = [](std::size_t keys, std::string_view extra) {
        std::string text = "[{";
        for (std::size_t i = 0; i < keys; ++i) {
            text += (i == 0 ? "\"" : ",\"") + std::to_string(i) + "\":0";
        }
        return text.append(extra).append("}]");
    };
    auto full = json::parse(object(json::kMaxKeys, R"(,"0":1)"));
    ASSERT_TRUE(full) << full.error().message;
    EXPECT_EQ((*full->arrayIf())[0].size(), json::kMaxKeys);
    EXPECT_EQ((*full->arrayIf())[0]["0"], Value(1));
    auto over = json::parse(object(json::kMaxKeys + 1, ""));
    ASSERT_FALSE(over);
    EXPECT_EQ(over.error().domain, json::kErrorDomain);
    EXPECT_NE(over.error().message.find("more than 100000 keys"), std::string::npos)
        << over.error().message;
}

}  // namespace
}  // namespace platform
