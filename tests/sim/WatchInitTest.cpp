// The watch's side of the phone's post-connect initialisation, against the stand-in phone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PhoneStandIn.h"
#include "platform/foundation/Json.h"
#include "sim/WatchState.h"
#include "sim/program/WatchScript.h"

namespace {

using namespace kavowatch;
using platform::Bytes;
using platform::Value;

class WatchInitTest : public ::testing::Test, protected sim_test::LinkedWatch {
protected:
    WatchInitTest() { EXPECT_TRUE(linked); }

    // One request from the phone on application identifier 1, and time for the answers.
    void request(const Value& message) {
        const std::string text = *platform::json::write(message);
        Bytes bytes{0x41};
        bytes.insert(bytes.end(), text.begin(), text.end());
        phone.send(bytes);
        loop.advance(2);
    }

    // What the phone got since the last call, as JSON objects.
    std::vector<Value> answers() {
        std::vector<Value> found;
        for (; seen_ < phone.messages.size(); ++seen_) {
            const Bytes& message = phone.messages[seen_];
            if (message.empty() || (message[0] & 0x3F) != 1) {
                continue;
            }
            EXPECT_EQ(message[0], 0x41) << "answers go on the request's route";
            const std::string_view text(reinterpret_cast<const char*>(message.data()) + 1,
                                        message.size() - 1);
            found.push_back(*platform::json::parse(text));
        }
        return found;
    }
    std::vector<std::string> answerIds() {
        std::vector<std::string> ids;
        for (const Value& answer : answers()) {
            ids.push_back(answer["msgId"].stringValue().value_or(""));
        }
        return ids;
    }
    // The one answer to a request.
    Value answerTo(const Value& message) {
        request(message);
        const std::vector<Value> got = answers();
        EXPECT_EQ(got.size(), 1U);
        return got.empty() ? Value() : got.front();
    }

    void reconnect() {
        watch->disconnect();
        loop.advance(2);
        watch->connectToPhone();
        ASSERT_TRUE(watch->waitUntil([&] { return watch->isLinkUp(); }, 5));
        answers();
    }

    WatchResponder responder{*watch};

private:
    std::size_t seen_ = 0;
};

using Strings = std::vector<std::string>;

TEST_F(WatchInitTest, AFactoryWatchAnswersAWholeSetUpRun) {
    responder.state().features.esimActivation = "\n true \n";

    const Value info = answerTo(Value{{"msgId", "mgr_watch_info_req"}});
    EXPECT_EQ(info, (Value{{"msgId", "mgr_watch_info_res"},
                           {"model_number", "KV-R500"},
                           {"nuvra_version", "R500XXU1AWK3"},
                           {"bt_mac_address", "A0:B1:C2:D3:1A:2B"},
                           {"model_name", "Kavo R5 (1A2B)"},
                           {"sales_code", "XAR"},
                           {"serial", "RKV5A1B2C3D"},
                           {"is_initialed_watch", "true"},
                           {"is_reactivation_lock", "false"},
                           {"profile_count", "1"}}));

    request(Value{{"msgId", "mgr_host_status_ind"}, {"data", "<HostStatus/>"}});
    const std::vector<Value> status = answers();
    ASSERT_EQ(status.size(), 1U);
    EXPECT_EQ(status[0]["type"], Value("connect"));
    EXPECT_EQ(status[0]["data"],
              Value("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DeviceStatus>\n<device>\n"
                    "<deviceID>A0:B1:C2:D3:1A:2B</deviceID>\n"
                    "<deviceName>Kavo R5 (1A2B)</deviceName>\n"
                    "<devicePlatform>Nuvra</devicePlatform>\n"
                    "<modelNumber>KV-R500</modelNumber>\n<swVersion>R500XXU1AWK3</swVersion>\n"
                    "<salesCode>XAR</salesCode>\n<deviceFeature>\n<voicecall>true</voicecall>\n"
                    "<support.manage.app>true</support.manage.app>\n"
                    "<support.app.update>true</support.app.update>\n"
                    "<support.esim.activation>\n true \n</support.esim.activation>\n"
                    "<support.esim.multiprofile>false</support.esim.multiprofile>\n"
                    "<support.callforward.numbersync>false</support.callforward.numbersync>\n"
                    "</deviceFeature>\n</device>\n</DeviceStatus>"));
    EXPECT_EQ(responder.record().hostStatusXml, Strings{"<HostStatus/>"});

    request(Value{{"msgId", "mgr_wapps_list_req"}, {"locale", "en_GB"}});
    request(Value{{"msgId", "mgr_clocks_list_req"}, {"locale", "en_GB"}});
    const std::vector<Value> lists = answers();
    ASSERT_EQ(lists.size(), 3U);
    EXPECT_EQ(lists[0]["msgId"], Value("mgr_wapps_list_res"));
    EXPECT_EQ(lists[0]["clocklist"], Value(responder.state().appsListXml));
    EXPECT_EQ(lists[1]["msgId"], Value("mgr_clocks_list_res"));
    EXPECT_EQ(lists[1]["clocklist"], Value(responder.state().facesListXml));
    EXPECT_EQ(lists[2], (Value{{"msgId", "mgr_status_exchange_done"}}));
    ASSERT_EQ(responder.record().listRequests.size(), 2U);
    EXPECT_EQ(responder.record().listRequests[1].locale, "en_GB");

    const Value settings = answerTo(Value{{"msgId", "mgr_sync_init_setting_req"}, {"a", 1}});
    EXPECT_EQ(settings, (Value{{"msgId", "mgr_sync_init_setting_res"},
                               {"noti_onoff", "true"},
                               {"screen_lock", "false"},
                               {"wear_onoff", "true"},
                               {"noti_indicator", "true"},
                               {"Numbersync_onoff", "false"},
                               {"Numbersync_registered", "false"}}));
    EXPECT_EQ(responder.record().settingsRequests.at(0)["a"], Value(1));

    for (const char* msgId : {"mgr_app_user_agreement_req", "mgr_esim_activation_req",
                              "mgr_gps_changed_req", "mgr_setupwizard_eula_finished_req"}) {
        const Value answer = answerTo(Value{{"msgId", msgId}});
        EXPECT_EQ(answer["result"], Value("success")) << msgId;
    }
    request(Value{{"msgId", "mgr_wps_changed_req"}, {"on", true}});
    request(Value{{"msgId", "mgr_apps_order_req"}});
    EXPECT_EQ(answers(), (std::vector<Value>{Value{{"msgId", "mgr_apps_order_res"},
                                                   {"data", responder.state().appsOrderXml}}}));
    EXPECT_EQ(responder.record().consents.size(), 1U);
    EXPECT_EQ(responder.record().wpsChanges.size(), 1U);

    // Set up now: the next connection meets a configured watch.
    EXPECT_EQ(responder.state().setup, SetupState::configured);
    EXPECT_EQ(answerTo(Value{{"msgId", "mgr_watch_info_req"}})["is_initialed_watch"],
              Value("false"));
}

TEST_F(WatchInitTest, TheResetTurnsAConfiguredWatchIntoAFactoryOne) {
    WatchState& state = responder.state();
    state.setup = SetupState::configured;
    state.reactivationLock = true;
    state.lockKey = "is_reactivation_locked";
    state.settings.screenLock = "true";

    const Value before = answerTo(Value{{"msgId", "mgr_watch_info_req"}});
    EXPECT_EQ(before["is_initialed_watch"], Value("false"));
    EXPECT_EQ(before["is_reactivation_locked"], Value("true"));
    EXPECT_EQ(before.find("is_reactivation_lock"), nullptr);

    request(Value{{"msgId", "mgr_reset_device_req"}});
    EXPECT_TRUE(answers().empty());
    EXPECT_EQ(responder.record().resets, 1);

    const Value after = answerTo(Value{{"msgId", "mgr_watch_info_req"}});
    EXPECT_EQ(after["is_initialed_watch"], Value("true"));
    EXPECT_EQ(after["is_reactivation_locked"], Value("true"));
    EXPECT_EQ(answerTo(Value{{"msgId", "mgr_sync_init_setting_req"}})["screen_lock"],
              Value("false"));
}

TEST_F(WatchInitTest, TheStatusExchangeEndsOncePerConnectionWhereConfigured) {
    const struct {
        StatusExchangeDone when;
        Strings first;
    } cases[] = {
        {StatusExchangeDone::afterFaceList,
         {"mgr_wearable_status_ind", "mgr_wapps_list_res", "mgr_clocks_list_res",
          "mgr_status_exchange_done"}},
        {StatusExchangeDone::afterStatus,
         {"mgr_wearable_status_ind", "mgr_status_exchange_done", "mgr_wapps_list_res",
          "mgr_clocks_list_res"}},
    };
    const auto exchange = [&] {
        request(Value{{"msgId", "mgr_host_status_ind"}, {"data", "<x/>"}});
        request(Value{{"msgId", "mgr_wapps_list_req"}});
        request(Value{{"msgId", "mgr_clocks_list_req"}});
        return answerIds();
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.when));
        responder.state().statusExchangeDone = c.when;
        reconnect();
        EXPECT_EQ(exchange(), c.first);
        // Again on the same connection: the exchange ended already.
        Strings again = c.first;
        std::erase(again, "mgr_status_exchange_done");
        EXPECT_EQ(exchange(), again);
    }
    EXPECT_EQ(responder.record().statusExchangesDone, 2);
}

TEST_F(WatchInitTest, UnlockingNeedsAnAuthcode) {
    EXPECT_EQ(answerTo(Value{{"msgId", "mgr_reactivationlock_set_req"}}),
              (Value{{"msgId", "mgr_reactivationlock_set_res"}, {"result", "success"}}));
    EXPECT_TRUE(responder.state().reactivationLock);

    const Value failed{{"msgId", "mgr_reactivationlock_unlock_res"},
                       {"result", "fail"},
                       {"reason", "invalid authcode"}};
    const struct {
        Value request;
        Value answer;
        bool lockedAfter;
    } cases[] = {
        {Value{{"msgId", "mgr_reactivationlock_unlock_req"}}, failed, true},
        {Value{{"msgId", "mgr_reactivationlock_unlock_req"}, {"authcode", ""}}, failed, true},
        {Value{{"msgId", "mgr_reactivationlock_unlock_req"}, {"authcode", 1234}}, failed, true},
        {Value{{"msgId", "mgr_reactivationlock_unlock_req"}, {"authcode", "8d2f"}},
         Value{{"msgId", "mgr_reactivationlock_unlock_res"}, {"result", "success"}}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request.description());
        EXPECT_EQ(answerTo(c.request), c.answer);
        EXPECT_EQ(responder.state().reactivationLock, c.lockedAfter);
    }
}

class WatchScriptOnTheLinkTest : public WatchInitTest {};

TEST_F(WatchScriptOnTheLinkTest, AScriptChangesTheAnswerAndKeepsWhatTheWatchSendsOfItsOwn) {
    const auto script = parseScript(
        "answer mgr_clocks_list_req {\"msgId\": \"mgr_clocks_list_res\", \"clocklist\": \"\"}\n"
        "ignore mgr_wapps_list_req\n"
        "on mgr_wapps_list_req send {\"msgId\": \"hello\"}\n",
        "test.script");
    ASSERT_TRUE(script) << script.error().message;
    applyScript(*script, *watch, responder);

    request(Value{{"msgId", "mgr_clocks_list_req"}, {"result", ""}});
    EXPECT_EQ(answers(), (std::vector<Value>{{{"msgId", "mgr_clocks_list_res"}, {"clocklist", ""}},
                                             {{"msgId", "mgr_status_exchange_done"}}}));
    request(Value{{"msgId", "mgr_wapps_list_req"}, {"result", ""}, {"locale", "en_GB"}});
    EXPECT_EQ(answerIds(), (Strings{"hello"}));
    ASSERT_EQ(responder.record().listRequests.size(), 2U) << "the watch still took both in";
}

}  // namespace
