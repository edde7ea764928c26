#include <gtest/gtest.h>

#include <algorithm>

#include <string_view>

#include "PhoneStandIn.h"
#include "platform/foundation/Json.h"
#include "sim/Watch.h"

namespace {

using namespace kavowatch;
using platform::Bytes;
using platform::Value;

Bytes message(std::uint8_t header, std::string_view text) {
    // Sized once: growing it from one byte makes GCC 12 at -O2 see a copy out of bounds.
    Bytes bytes(1 + text.size());
    bytes[0] = header;
    std::copy(text.begin(), text.end(), bytes.begin() + 1);
    return bytes;
}

std::optional<Value> jsonOf(const Bytes& message) {
    auto parsed = platform::json::parse(
        std::string_view(reinterpret_cast<const char*>(message.data()) + 1, message.size() - 1));
    return parsed ? std::optional(parsed.value()) : std::nullopt;
}

class WatchScriptTest : public ::testing::Test, protected sim_test::LinkedWatch {
protected:
    WatchScriptTest() { EXPECT_TRUE(linked); }

    void settle(double seconds = 2) { loop.advance(seconds); }
};

TEST_F(WatchScriptTest, SendsJsonWithTheHeaderByte) {
    ASSERT_TRUE(watch->sendJson(Value{{"msgId", "hello"}, {"n", 3}}));
    ASSERT_TRUE(watch->sendJson(Value{{"msgId", "later"}}, 9, 2, false));
    // What JSON cannot carry is refused, and nothing goes.
    EXPECT_FALSE(watch->sendJson(Value{{"msgId", "bad"}, {"when", platform::Date{1}}}));
    settle();
    ASSERT_EQ(phone.messages.size(), 2U);
    EXPECT_EQ(phone.messages[0], message(0x41, R"({"msgId":"hello","n":3})"));
    EXPECT_EQ(phone.messages[1][0], 0x89);
    EXPECT_EQ((*jsonOf(phone.messages[1]))["msgId"], Value("later"));
    EXPECT_EQ(watch->counters().messagesSent, 2);
    EXPECT_EQ(watch->engineCounters().windowsSent, 1);  // the second one went unacknowledged
}

TEST_F(WatchScriptTest, WaitsForMessagesByMsgIdInArrivalOrder) {
    phone.send(message(0x41, R"({"msgId":"a","n":1})"));
    phone.send(message(0x41, R"({"msgId":"b"})"));
    phone.send(message(0x45, R"({"msgId":"a","n":2})"));
    phone.send(message(0x41, "not json"));

    const auto first = watch->waitForMessage("a");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->json->operator[]("n"), Value(1));
    const auto second = watch->waitForMessage("a");
    ASSERT_TRUE(second);
    EXPECT_EQ(second->appId, 5);
    EXPECT_EQ(second->priority, 1);
    EXPECT_EQ(second->json->operator[]("n"), Value(2));
    EXPECT_TRUE(watch->waitForMessage("b"));

    // Nothing more with that name: the wait ends at its timeout, on the virtual clock.
    const double before = loop.now();
    EXPECT_FALSE(watch->waitForMessage("a", 5));
    EXPECT_NEAR(loop.now() - before, 5, 0.01);

    ASSERT_EQ(watch->messages().all().size(), 4U);
    const ReceivedMessage& text = watch->messages().all()[3];
    EXPECT_FALSE(text.json);
    EXPECT_TRUE(text.msgId.empty());
    EXPECT_EQ(text.body, (Bytes{'n', 'o', 't', ' ', 'j', 's', 'o', 'n'}));
    EXPECT_EQ(watch->messages().count("a"), 2);
}

TEST_F(WatchScriptTest, AnswersRequestsByRule) {
    watch->answer("mgr_watch_info_req",
                  Value{{"msgId", "mgr_watch_info_res"}, {"result", "success"}});
    watch->answer("echo_req", [](const ReceivedMessage& request) -> std::optional<Value> {
        const Value& text = (*request.json)["text"];
        if (text.isNull()) {
            return std::nullopt;  // nothing to echo: no answer
        }
        return Value{{"msgId", "echo_res"}, {"text", text}};
    });
    phone.send(message(0x41, R"({"msgId":"mgr_watch_info_req","device_id":"X"})"));
    phone.send(message(0x49, R"({"msgId":"echo_req","text":"hi"})"));
    phone.send(message(0x49, R"({"msgId":"echo_req"})"));
    phone.send(message(0x41, R"({"msgId":"unknown_req"})"));
    phone.send(message(0xC3, R"({"msgId":"echo_req","text":"a file segment"})"));
    settle();

    ASSERT_EQ(phone.messages.size(), 2U);
    EXPECT_EQ(phone.messages[0],
              message(0x41, R"({"msgId":"mgr_watch_info_res","result":"success"})"));
    // The answer takes the request's application identifier and priority.
    EXPECT_EQ(phone.messages[1], message(0x49, R"({"msgId":"echo_res","text":"hi"})"));
    EXPECT_EQ(watch->counters().repliesSent, 2);
    EXPECT_EQ(watch->counters().fileSegmentsReceived, 1);
    EXPECT_EQ(watch->messages().count("echo_req"), 3);

    // A later rule replaces the earlier one.
    watch->answer("mgr_watch_info_req", Value{{"msgId", "mgr_watch_info_res"}, {"result", "fail"}});
    phone.send(message(0x41, R"({"msgId":"mgr_watch_info_req"})"));
    settle();
    ASSERT_EQ(phone.messages.size(), 3U);
    EXPECT_EQ((*jsonOf(phone.messages[2]))["result"], Value("fail"));
}

TEST_F(WatchScriptTest, TheDisconnectRequestIsNoMessageButAGoodbye) {
    phone.send(Bytes{0x7C, 0x3C});
    settle();
    EXPECT_TRUE(watch->messages().all().empty());
    EXPECT_EQ(watch->counters().disconnectRequests, 1);
    EXPECT_FALSE(watch->isLinkUp());
    EXPECT_FALSE(phone.subscriber);
    // The same byte on another application, or with more after it, is an ordinary message.
    watch->connectToPhone();
    ASSERT_TRUE(watch->waitUntil([&] { return watch->isLinkUp(); }, 5));
    phone.send(Bytes{0x7D, 0x3C});
    phone.send(Bytes{0x7C, 0x3C, 0x00});
    settle();
    EXPECT_EQ(watch->messages().all().size(), 2U);
    EXPECT_TRUE(watch->isLinkUp());
}

TEST_F(WatchScriptTest, NothingIsSentWhileTheLinkIsDown) {
    watch->disconnect();
    settle();
    EXPECT_FALSE(watch->sendJson(Value{{"msgId", "late"}}));
    EXPECT_FALSE(watch->sendMessage(1, 1, Bytes{1}));
    EXPECT_EQ(watch->counters().messagesSent, 0);
    EXPECT_TRUE(watch->isIdle());
}

TEST_F(WatchScriptTest, CountsWhatCrossed) {
    phone.send(message(0x41, R"({"msgId":"x"})"));
    ASSERT_TRUE(watch->sendJson(Value{{"msgId", "y"}}));
    watch->sendReset();
    settle();
    const EngineCounters& counts = watch->engineCounters();
    EXPECT_EQ(counts.resetsSent, 1);
    EXPECT_EQ(phone.resetsReceived, 1);
    EXPECT_GE(counts.dataPacketsSent, 1);
    EXPECT_EQ(watch->counters().linksUp, 1);
    EXPECT_EQ(watch->counters().powerOns, 1);
    EXPECT_EQ(watch->counters().phoneCentralConnections, 1);
}

}  // namespace
