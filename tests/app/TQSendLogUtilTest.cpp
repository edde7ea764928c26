#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "UploadFixture.h"
#include "app/TQSendLogUtil.h"
#include "db/TQDBRecords.h"
#include "platform/foundation/BuildVersion.h"
#include "platform/foundation/Json.h"
#include "utils/DataAES.h"
#include "utils/DataGZip.h"
#include "utils/TQKeyChainWrapper.h"

namespace {

using platform::Value;

// What the feedback server derives from the seed it shares with the application.
constexpr const char* kServerKey = "KTYTIE5LADQUJS42";
constexpr const char* kUUID = "6A1F3C2E-0D4B-4E8A-9B7C-1234567890AB";

std::string fromHex(std::string_view hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    }
    return bytes;
}

std::string decipher(std::string_view hex, std::string_view key) {
    const std::string bytes = fromHex(hex);
    const auto plain = aes::aes128Decrypted(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), key, key);
    return plain ? std::string(plain->begin(), plain->end()) : std::string();
}

// The feedback server's reading of one upload: the device it came from and the record.
struct Upload {
    std::string uuid;
    Value record;
    std::string encipheredBody;
};

Upload read(const testing_support::ReceivedRequest& request) {
    const std::string prefix = "/scripted/feedback/kmgr/v1.0/";
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path.rfind(prefix, 0), 0U) << request.path;
    const std::string identifier = request.path.substr(prefix.size());
    Upload upload;
    upload.uuid = decipher(identifier, kServerKey);
    const auto inflated = gzip::decompress(
        std::span(reinterpret_cast<const std::uint8_t*>(request.body.data()), request.body.size()));
    EXPECT_TRUE(inflated.ok());
    if (!inflated.ok()) {
        return upload;
    }
    upload.encipheredBody.assign(inflated->begin(), inflated->end());
    auto record = platform::json::parse(decipher(upload.encipheredBody, identifier.substr(0, 16)));
    EXPECT_TRUE(record.ok());
    if (record.ok()) {
        upload.record = std::move(record).value();
    }
    return upload;
}

class TQSendLogUtilTest : public UploadFixture {
protected:
    TQSendLogUtilTest() { answer(kUUID, {.body = R"({"msg":"2"})"}); }

    // The feedback server's answer to uploads from the phone with this identifier.
    void answer(const std::string& uuid, testing_support::LoopbackServer::ScriptedAnswer reply) {
        const auto identifier =
            TQSendLogUtil::encipheredHex(uuid, TQSendLogUtil::getHash(TQSendLogUtil::kKeySeed));
        server->script("/feedback/kmgr/v1.0/" + *identifier, std::move(reply));
    }

    void settle() {
        ASSERT_TRUE(waitFor([this] { return util.uploadsInFlight() == 0; }));
        loop.runUntilIdle();
    }

    [[nodiscard]] double real(const char* key) const { return defaults.real(key).value_or(-1); }

    TQSendLogUtil util{{.loop = loop,
                        .defaults = defaults,
                        .now = [this] { return now(); },
                        .origin = server->url("/scripted"),
                        .configuration = trustingTheTestCA(),
                        .loader = &loader}};
};

TEST_F(TQSendLogUtilTest, TheUploadKeyIsSixteenLettersOrDigitsTheServerShares) {
    EXPECT_EQ(TQSendLogUtil::getHash(TQSendLogUtil::kKeySeed), kServerKey);
    for (const char* seed : {"a", "KvMg", "~~~~", "0000", "zZ9!"}) {
        const std::string key = TQSendLogUtil::getHash(seed);
        ASSERT_EQ(key.size(), 16U) << seed;
        for (const char c : key) {
            EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << seed << ": " << key;
        }
        EXPECT_EQ(TQSendLogUtil::getHash(seed), key);
    }
}

TEST_F(TQSendLogUtilTest, PhoneModelNames) {
    const std::pair<const char*, const char*> cases[] = {
        {"i386", "Simulator"},    {"iPhone7,2", "iPhone6"},  {"iPad4,4", "iPadMini"},
        {"iPod4,1", "iPodTouch"}, {"iPod9,1", "iPod Touch"}, {"iPad9,9", "iPad"},
        {"iPhone9,9", "iPhone"},  {"x86_64", "NA"},
    };
    for (const auto& [machine, name] : cases) {
        EXPECT_EQ(TQSendLogUtil::getDeviceName(machine), name) << machine;
    }
}

TEST_F(TQSendLogUtilTest, ARecordIsEncipheredStoredAndPostedGzippedAndTheAnswerSetsTheBudget) {
    // Without the phone's identifier nothing is recorded or sent.
    util.generateJSONForAppLaunch();
    loop.runUntilIdle();
    EXPECT_EQ(TQDBLog::count(), 0);
    EXPECT_TRUE(server->received().empty());

    ASSERT_TRUE(TQKeyChainWrapper::createKeychainValue(kUUID, "deviceUUID"));
    defaults.set("groupKavoInfo", Value{{"kavoModelNumber", "SM-R500"}});
    util.generateJSONForAppLaunch();
    EXPECT_EQ(TQDBLog::count(), 1);
    EXPECT_EQ(util.uploadsInFlight(), 1U);
    EXPECT_EQ(real("KM_initialTimeStamp"), kEpoch);
    settle();

    const auto received = server->received();
    ASSERT_EQ(received.size(), 1U);
    const Upload upload = read(received[0]);
    EXPECT_EQ(upload.uuid, kUUID);
    const Value expected{{"svc", "kmgr"},
                         {"type", "appln"},
                         {"data", Value{{"appver", platform::kApplicationVersion},
                                        {"mcc", "440"},
                                        {"mnc", "10"},
                                        {"locale", "en_US"},
                                        {"model", "iPhone"},
                                        {"ts", "1796947200000"},
                                        {"os", "LO"},
                                        {"osver", "6.8"},
                                        {"kavomodel", "SM-R500"},
                                        {"isConn", "0"}}}};
    EXPECT_EQ(platform::json::write(upload.record).value(),
              platform::json::write(expected).value());

    // The answer's quota, and the budget left of it after the first record.
    const float cost = 0.6f * static_cast<float>(upload.encipheredBody.size());
    EXPECT_EQ(real("SendLogQuota"), 2000000);
    EXPECT_EQ(real("PayloadBandwidth"), 2000000 - static_cast<double>(cost));
    EXPECT_EQ(TQDBLog::count(), 0);
}

TEST_F(TQSendLogUtilTest, TheDailyBudgetHoldsRecordsBackKeepsTwentyAndResendsFiveAfterItReopens) {
    ASSERT_TRUE(TQKeyChainWrapper::createKeychainValue(kUUID, "deviceUUID"));
    answer(kUUID, {.body = R"({"msg":"0.0001"})"});  // 100 bytes a day
    util.generateJSONForAppLaunch();
    settle();
    EXPECT_LT(real("PayloadBandwidth"), 0);

    const double left = real("PayloadBandwidth");
    std::vector<std::string> stamps;
    for (int i = 0; i < 22; ++i) {
        loop.advance(60);
        stamps.push_back(std::to_string(static_cast<long long>(std::ceil(now() * 1000))));
        util.generateJSONForConnByUsr();
    }
    settle();
    EXPECT_EQ(server->received().size(), 1U);
    EXPECT_EQ(TQDBLog::count(), 20);            // the 21st and 22nd pushed the oldest out
    EXPECT_EQ(real("PayloadBandwidth"), left);  // what was held back is not charged

    answer(kUUID, {.body = R"({"msg":"2"})"});
    loop.advance(TQSendLogUtil::kWindow);
    const double reopened = now();
    util.generateJSONForAppLaunch();
    settle();
    // The new record, then a run of five stored ones, oldest first.
    const auto received = server->received();
    ASSERT_EQ(received.size(), 7U);
    EXPECT_EQ(read(received[1]).record["type"].stringValue(), "appln");
    std::set<std::string> resent;
    for (std::size_t i = 2; i < 7; ++i) {
        const Upload upload = read(received[i]);
        EXPECT_EQ(upload.record["type"].stringValue(), "connbyusr");
        resent.insert(upload.record["data"]["ts"].stringValue().value_or(""));
    }
    // The two oldest went; the five after them were sent.
    EXPECT_EQ(resent, std::set<std::string>(stamps.begin() + 2, stamps.begin() + 7));
    EXPECT_EQ(TQDBLog::count(), 15);
    EXPECT_NEAR(real("KM_initialTimeStamp"), reopened, 1e-6);
}

// Each upload deletes the row it sent, whatever ends first.
TEST_F(TQSendLogUtilTest, TwoUploadsInFlightLoseNothingAndSendNothingTwice) {
    testing_support::LoopWakes wakes(loop);
    const std::string otherPhone = "11111111-2222-4333-8444-555555555555";
    answer(kUUID, {.body = R"({"msg":"2"})", .held = true});
    answer(otherPhone, {.status = 500, .body = "busy", .held = true});
    // A day whose budget is known and not spent.
    defaults.set("KM_initialTimeStamp", kEpoch);
    defaults.set("PayloadBandwidth", 2000000.0);
    ASSERT_TRUE(TQKeyChainWrapper::createKeychainValue(kUUID, "deviceUUID"));
    util.generateJSONForAppLaunch();
    ASSERT_TRUE(TQKeyChainWrapper::updateKeychainValue(otherPhone, "deviceUUID"));
    util.generateJSONForConnByUsr();
    // The server tells the loop nothing: look again after each post or a few milliseconds.
    for (int turn = 0; turn < 10000 && server->received().size() < 2; ++turn) {
        wakes.waitBriefly();
        loop.runUntilIdle();
    }
    ASSERT_EQ(server->received().size(), 2U);
    EXPECT_EQ(util.uploadsInFlight(), 2U);
    EXPECT_EQ(util.sessionManager().dataTasks().size(), 2U);
    server->releaseHeld();
    settle();

    // The refused record stays, the taken one is gone; the taken one went once.
    const auto rows = TQDBLog::getAll();
    ASSERT_TRUE(rows && rows->size() == 1U);
    std::size_t launches = 0;
    std::string refusedBody;
    for (const auto& request : server->received()) {
        const Upload upload = read(request);
        if (upload.record["type"].stringValue() == "appln") {
            ++launches;
        } else {
            refusedBody = upload.encipheredBody;
        }
    }
    EXPECT_EQ(launches, 1U);
    EXPECT_EQ(rows->front().encBodyStr, refusedBody);
}

TEST_F(TQSendLogUtilTest, AFailedUploadKeepsItsRecordUnlessTheServerRefusedIt) {
    struct Case {
        int status;
        int rowsLeft;
    };
    const Case cases[] = {{500, 1}, {404, 1}, {460, 0}, {462, 0}};
    ASSERT_TRUE(TQKeyChainWrapper::createKeychainValue(kUUID, "deviceUUID"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        TQDBLog::removeAll();
        answer(kUUID, {.status = c.status, .body = "{}"});
        util.generateJSONForAppLaunch();
        settle();
        EXPECT_EQ(TQDBLog::count(), c.rowsLeft);
        // Without a quota heard, the budget starts afresh.
        EXPECT_FALSE(defaults.object("PayloadBandwidth").has_value());
        EXPECT_FALSE(defaults.object("KM_initialTimeStamp").has_value());
    }
}

}  // namespace
