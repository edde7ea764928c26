#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "platform/foundation/Value.h"

namespace platform {
namespace {

TEST(ValueTest, NumbersKeepTheirKind) {
    EXPECT_EQ(Value(true).type(), Value::Type::Bool);
    EXPECT_EQ(Value(1).type(), Value::Type::Int);
    EXPECT_EQ(Value(std::int64_t{-1}).type(), Value::Type::Int);
    EXPECT_EQ(Value(std::uint64_t{1}).type(), Value::Type::UInt);
    EXPECT_EQ(Value(std::size_t{1}).type(), Value::Type::UInt);
    EXPECT_EQ(Value(1.0).type(), Value::Type::Double);
    EXPECT_EQ(Value("1").type(), Value::Type::String);
    EXPECT_NE(Value(true), Value(1));
    EXPECT_NE(Value(1), Value(1.0));
    // Signedness is not a kind JSON can keep, so equal integers compare equal.
    EXPECT_EQ(Value(std::uint64_t{7}), Value(7));
    EXPECT_NE(Value(std::uint64_t{std::numeric_limits<std::uint64_t>::max()}), Value(-1));
}

TEST(ValueTest, DictionariesKeepInsertionOrderAndReplaceInPlace) {
    Value message{{"msgId", "mgr_watch_info_req"}, {"device_id", "abc"}};
    message["hm_ver"] = "1.0";
    message["msgId"] = "other";
    std::vector<std::string> keys;
    for (const auto& [key, value] : *message.dictionaryIf()) {
        keys.push_back(key);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"msgId", "device_id", "hm_ver"}));
    EXPECT_EQ(message["msgId"], Value("other"));
    EXPECT_TRUE(message["absent"].isNull());
    EXPECT_EQ(Value({{"a", 1}, {"b", 2}}), Value({{"b", 2}, {"a", 1}}));
}

// A dictionary checked against a plain list of pairs through sets, inserting lookups and
// removals that take it past the size where it starts indexing its keys and back below it.
TEST(ValueTest, LargeDictionariesBehaveLikeSmallOnes) {
    std::vector<std::pair<std::string, int>> model;
    Dictionary dictionary;
    std::uint32_t seed = 12345;
    const auto next = [&seed](std::uint32_t bound) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % bound;
    };
    const auto modelFind = [&model](const std::string& key) {
        return std::find_if(model.begin(), model.end(),
                            [&key](const auto& entry) { return entry.first == key; });
    };
    for (int step = 0; step < 3900; ++step) {
        // First keys from a growing pool, so the size climbs into the hundreds; then mostly
        // removals of present keys, so it falls back under the indexing threshold.
        const bool growing = step < 3000 || model.empty();
        const std::string key =
            growing ? "k" + std::to_string(next(8 + static_cast<std::uint32_t>(step) / 6))
                    : model[next(static_cast<std::uint32_t>(model.size()))].first;
        const int value = step;
        const auto it = modelFind(key);
        switch (growing ? next(3) : 1 + next(4)) {
            case 0:
                dictionary.set(key, value);
                if (it == model.end()) {
                    model.emplace_back(key, value);
                } else {
                    it->second = value;
                }
                break;
            case 1:
                dictionary[key] = value;
                if (it == model.end()) {
                    model.emplace_back(key, value);
                } else {
                    it->second = value;
                }
                break;
            default:
                EXPECT_EQ(dictionary.remove(key), it != model.end()) << key;
                if (it != model.end()) {
                    model.erase(it);
                }
        }
        ASSERT_EQ(dictionary.size(), model.size()) << "step " << step;
        if (step % 97 == 0 || step == 3899) {
            std::size_t i = 0;
            for (const auto& [k, v] : dictionary) {
                EXPECT_EQ(k, model[i].first);
                EXPECT_EQ(v, Value(model[i].second));
                ++i;
            }
            for (const auto& [k, v] : model) {
                const Value* found = dictionary.find(k);
                ASSERT_NE(found, nullptr) << k;
                EXPECT_EQ(*found, Value(v));
            }
            EXPECT_EQ(dictionary.find("absent"), nullptr);
            const Dictionary copy = dictionary;
            EXPECT_EQ(copy, dictionary);
        }
    }
    EXPECT_LT(model.size(), Dictionary::kIndexedFrom);
}

TEST(ValueTest, CopiesShareUntilWritten) {
    Value original{{"list", Value::array({1, 2})}};
    Value copy = original;
    copy["list"].mutableArray()->push_back(3);
    EXPECT_EQ(original["list"].size(), 2u);
    EXPECT_EQ(copy["list"].size(), 3u);
}

TEST(ValueTest, MutableIndexOfNullMakesADictionary) {
    Value v;
    v["a"]["b"] = 1;
    EXPECT_EQ(v["a"]["b"], Value(1));
    Value scalar = 5;
    scalar["x"] = 1;  // harmless on a scalar
    EXPECT_EQ(scalar, Value(5));
}

struct StringBoolCase {
    const char* text;
    bool expected;
};

TEST(ValueTest, StringBooleanRule) {
    const StringBoolCase cases[] = {
        {"YES", true},  {"yes", true},      {"true", true}, {"T", true},      {"1", true},
        {"9", true},    {"  y", true},      {"+1", true},   {"-1", true},     {"0001", true},
        {"-007", true}, {"\t\nTrue", true}, {"NO", false},  {"false", false}, {"0", false},
        {"000", false}, {"", false},        {"  ", false},  {"+-1", false},   {"x", false},
        {"0x1", false}, {"n", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(stringBoolValue(c.text), c.expected) << '"' << c.text << '"';
        EXPECT_EQ(Value(c.text).boolValue(), c.expected) << '"' << c.text << '"';
    }
}

TEST(ValueTest, Coercions) {
    EXPECT_EQ(Value(2).boolValue(), true);
    EXPECT_EQ(Value(0.0).boolValue(), false);
    EXPECT_EQ(Value(" 42abc").intValue(), 42);
    EXPECT_EQ(Value("-17").intValue(), -17);
    EXPECT_EQ(Value("abc").intValue(), 0);
    EXPECT_EQ(Value("99999999999999999999").intValue(), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(Value("-99999999999999999999").intValue(), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(Value(-3.9).intValue(), -3);
    EXPECT_EQ(Value(1e300).intValue(), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(Value(true).intValue(), 1);
    EXPECT_EQ(Value(" 2.5e1x").doubleValue(), 25.0);
    EXPECT_EQ(Value(12).stringValue(), "12");
    EXPECT_EQ(Value(0.1).stringValue(), "0.1");
    EXPECT_EQ(Value(true).stringValue(), "1");
    EXPECT_FALSE(Value(Dictionary()).intValue());
    EXPECT_FALSE(Value().boolValue());
    EXPECT_FALSE(Value(Bytes{1}).stringValue());
}

}  // namespace
}  // namespace platform

namespace platform {
namespace {

TEST(ValueTest, DescriptionAsLogsShowIt) {
    const Value message{{"msgId", "mgr_watch_info_req"},
                        {"list", Value::array({1, "two words", Bytes{0, 1, 2, 3, 0xab}})},
                        {"when", Date{978307200.0}},
                        {"empty", ""}};
    EXPECT_EQ(message.description(),
              "{\n"
              "    msgId = mgr_watch_info_req;\n"
              "    list = (\n"
              "        1,\n"
              "        \"two words\",\n"
              "        <00010203 ab>\n"
              "    );\n"
              "    when = 2001-01-01 00:00:00 +0000;\n"
              "    empty = \"\";\n"
              "}");
    EXPECT_EQ(Value("plain text").description(), "plain text");
    EXPECT_EQ(Value(2.5).description(), "2.5");
    // Dates with no calendar time are described, not converted.
    EXPECT_EQ(Value(Date{1e300}).description(), "<invalid date 1e+300>");
    EXPECT_EQ(Value(Date{-HUGE_VAL}).description(), "<invalid date -inf>");
}

}  // namespace
}  // namespace platform
