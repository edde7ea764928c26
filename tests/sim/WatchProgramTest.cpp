// The kavowatch program's pieces: its command line, its script, and the watch it runs, here on
// the simulated air.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "PhoneStandIn.h"
#include "platform/bluetooth/sim/ScriptedCentral.h"
#include "sim/PlainDevice.h"
#include "platform/foundation/Json.h"
#include "sim/program/ProgramOptions.h"
#include "sim/program/WatchMemory.h"
#include "sim/program/WatchProgram.h"
#include "sim/program/WatchScript.h"
#include "support/TempDir.h"

namespace {

using namespace kavowatch;
using platform::Bytes;
using platform::Value;

Value json(std::string_view text) {
    return *platform::json::parse(text);
}

TEST(ProgramOptionsTest, ReadsEveryOption) {
    const struct {
        std::vector<std::string_view> arguments;
        std::function<void(ProgramOptions&)> expect;
    } cases[] = {
        {{}, [](ProgramOptions&) {}},
        {{"--help"}, [](ProgramOptions& o) { o.help = true; }},
        // The model name follows the advertising name unless given.
        {{"--name", "Kavo R5 (9Z8Y)"},
         [](ProgramOptions& o) { o.name = o.identity.modelName = "Kavo R5 (9Z8Y)"; }},
        {{"--model-name", "Kavo R5", "--name=Kavo R5 (9Z8Y)"},
         [](ProgramOptions& o) {
             o.name = "Kavo R5 (9Z8Y)";
             o.identity.modelName = "Kavo R5";
         }},
        {{"--state", "reconnecting", "--advertise", "setup", "--locked"},
         [](ProgramOptions& o) {
             o.state = StartState::reconnecting;
             o.advertise = Purpose::setupWizard;
             o.locked = true;
         }},
        {{"--state=reconnecting", "--state", "new", "--advertise=auto"},
         [](ProgramOptions& o) {
             o.state = StartState::fresh;
             o.advertise = Purpose::autoConnection;
         }},
        {{"--home", "/var/watch"}, [](ProgramOptions& o) { o.home = "/var/watch"; }},
        {{"--files=/tmp/from-phone"}, [](ProgramOptions& o) { o.files = "/tmp/from-phone"; }},
        {{"--fetch", "http://example.test/a b", "--fetch-to=page.html"},
         [](ProgramOptions& o) {
             o.fetch = "http://example.test/a b";
             o.fetchTo = "page.html";
         }},
        {{"--air", "/run/air", "--script=watch.script", "--identifier",
          "aaaaaaaa-bbbb-4ccc-8ddd-eeeeeeeeeeee", "--bt-mac", "a0:b1:c2:d3:9f:8e", "--serial", "S1",
          "--model-number", "KV-R510", "--sales-code", "BTU"},
         [](ProgramOptions& o) {
             o.air = "/run/air";
             o.script = "watch.script";
             o.identifier = sim_test::kWatchId;
             o.identity.btMacAddress = "a0:b1:c2:d3:9f:8e";
             o.identity.serial = "S1";
             o.identity.modelNumber = "KV-R510";
             o.identity.salesCode = "BTU";
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        ProgramOptions expected;
        c.expect(expected);
        const auto parsed = parseArguments(c.arguments);
        ASSERT_TRUE(parsed) << parsed.error().message;
        EXPECT_TRUE(*parsed == expected);
    }
}

TEST(ProgramOptionsTest, EachInstanceIsAWatchOfItsOwnAndLaterOptionsStillApply) {
    const struct {
        std::vector<std::string_view> arguments;
        std::string name;
        std::string address;
        std::string identifierEnd;
        std::string serial;
    } cases[] = {
        // Watch 1 is the watch without the option.
        {{"--instance", "1"}, "Kavo R5 (1A2B)", "A0:B1:C2:D3:1A:2B", "1F20", "RKV5A1B2C3D"},
        {{"--instance=2"}, "Kavo R5 (1A2C)", "A0:B1:C2:D3:1A:2C", "1F21", "RKV5A1B2C02"},
        {{"--name", "Kavo R5 (0000)", "--instance", "21"}, "Kavo R5 (1A3F)", "A0:B1:C2:D3:1A:3F",
         "1F34", "RKV5A1B2C21"},
        {{"--instance", "2", "--name", "Kavo R5 (9Z8Y)"}, "Kavo R5 (9Z8Y)", "A0:B1:C2:D3:1A:2C",
         "1F21", "RKV5A1B2C02"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        const auto parsed = parseArguments(c.arguments);
        ASSERT_TRUE(parsed) << parsed.error().message;
        EXPECT_EQ(parsed->name, c.name);
        EXPECT_EQ(parsed->identity.modelName, c.name) << "the model name follows the name";
        EXPECT_EQ(parsed->identity.btMacAddress, c.address);
        EXPECT_TRUE(parsed->identifier.toLongString().ends_with(c.identifierEnd))
            << parsed->identifier.toLongString();
        EXPECT_EQ(parsed->identity.serial, c.serial);
        EXPECT_FALSE(parsed->device);
    }
    EXPECT_TRUE(*parseArguments(std::vector<std::string_view>{"--instance", "1"}) ==
                ProgramOptions{});

    const auto device = parseArguments(std::vector<std::string_view>{"--device", "Speaker 1"});
    ASSERT_TRUE(device);
    EXPECT_EQ(device->device, "Speaker 1");
}

TEST(ProgramOptionsTest, RefusesWhatItCannotUseAndSaysWhy) {
    const struct {
        std::vector<std::string_view> arguments;
        std::string_view message;
    } cases[] = {
        {{"watch"}, "unexpected argument 'watch'"},
        {{"--bogus=1"}, "unknown option '--bogus'"},
        {{"--name", "N", "--air"}, "--air needs a value"},
        {{"--locked=yes"}, "--locked takes no value"},
        {{"--name="}, "--name: an empty value"},
        {{"--state", "old"}, "--state: 'old' is neither new nor reconnecting"},
        {{"--advertise", "always"}, "--advertise: 'always' is neither setup nor auto"},
        {{"--identifier", "2902"}, "--identifier: '2902' is no UUID"},
        {{"--identifier", "AAAAAAAA-BBBB-4CCC-8DDD"}, "is no UUID"},
        {{"--bt-mac", "a0:b1:c2:d3:9z:8y"}, "--bt-mac: 'a0:b1:c2:d3:9z:8y' is no address"},
        {{"--bt-mac", "A0:B1:C2:D3:1A"}, "is no address"},
        {{"--instance", "0"}, "--instance: '0' is no number from 1 to 99"},
        {{"--instance", "100"}, "--instance: '100' is no number from 1 to 99"},
        {{"--instance", "-2"}, "is no number from 1 to 99"},
        {{"--instance", "2x"}, "is no number from 1 to 99"},
        {{"--device="}, "--device: an empty value"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        const auto parsed = parseArguments(c.arguments);
        ASSERT_FALSE(parsed);
        EXPECT_NE(parsed.error().message.find(c.message), std::string::npos)
            << parsed.error().message;
    }
}

TEST(ProgramOptionsTest, TheStateDecidesTheStartAndThePurposeUnlessOverridden) {
    const struct {
        std::optional<StartState> state;
        std::optional<SetupState> remembered;
        SetupState expected;
    } cases[] = {
        {std::nullopt, std::nullopt, SetupState::factory},
        {std::nullopt, SetupState::configured, SetupState::configured},
        {std::nullopt, SetupState::factory, SetupState::factory},
        {StartState::fresh, SetupState::configured, SetupState::factory},
        {StartState::reconnecting, SetupState::factory, SetupState::configured},
    };
    for (const auto& c : cases) {
        ProgramOptions options;
        options.state = c.state;
        EXPECT_EQ(initialState(options, c.remembered).setup, c.expected);
    }

    ProgramOptions options;
    options.state = StartState::reconnecting;
    options.locked = true;
    const WatchState state = initialState(options);
    EXPECT_EQ(state.setup, SetupState::configured);
    EXPECT_TRUE(state.reactivationLock);
    EXPECT_EQ(advertisingPurpose(options, SetupState::configured), Purpose::autoConnection);
    EXPECT_EQ(advertisingPurpose(options, SetupState::factory), Purpose::setupWizard);
    options.advertise = Purpose::autoConnection;
    EXPECT_EQ(advertisingPurpose(options, SetupState::factory), Purpose::autoConnection);
}

ScriptedRequest replaced(std::string_view reply, std::vector<Value> thenSend = {}) {
    return {ScriptedRequest::Answer::replaced, json(reply), std::move(thenSend)};
}

TEST(ScriptFileTest, ReadsCommandsIntoAPlanPerRequest) {
    const struct {
        std::string_view text;
        Script expected;
    } cases[] = {
        {"", {}},
        {"# nothing but a comment\n\n  \t\n", {}},
        {R"(answer a_req {"msgId": "a_res", "n": [1, 2]})",
         {{"a_req", replaced(R"({"msgId":"a_res","n":[1,2]})")}}},
        {"answer a_req {\"msgId\":\"a_res\"}\nignore a_req\n",
         {{"a_req", {ScriptedRequest::Answer::ignored, {}, {}}}}},
        {"  on a_req send {\"msgId\":\"x\"}\r\non a_req   send {\"msgId\":\"y\"}\r\n"
         "answer a_req {\"msgId\":\"z\"}\nignore b_req",
         {{"a_req",
           replaced(R"({"msgId":"z"})", {json(R"({"msgId":"x"})"), json(R"({"msgId":"y"})")})},
          {"b_req", {ScriptedRequest::Answer::ignored, {}, {}}}}},
        {R"(on a_req send {"msgId":"x"})",
         {{"a_req", {ScriptedRequest::Answer::builtIn, {}, {json(R"({"msgId":"x"})")}}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto parsed = parseScript(c.text, "watch.script");
        ASSERT_TRUE(parsed) << parsed.error().message;
        EXPECT_TRUE(*parsed == c.expected);
    }
}

TEST(ScriptFileTest, ABadLineIsNamedByFileAndNumber) {
    const struct {
        std::string_view text;
        std::string_view message;
    } cases[] = {
        {"reply a_req {}", "watch.script:1: unknown command 'reply'"},
        {"\n# c\nanswer a_req", "watch.script:3: a JSON object is missing"},
        {"ignore a_req\nanswer", "watch.script:2: answer needs a msgId"},
        {"answer a_req [1]", "watch.script:1: the JSON is no object"},
        {"answer a_req {\"msgId\":", "watch.script:1: bad JSON"},
        {"ignore a_req {}", "watch.script:1: ignore takes only a msgId"},
        {"on a_req {\"msgId\":\"x\"}", "watch.script:1: expected 'on <msgId> send <json object>'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto parsed = parseScript(c.text, "watch.script");
        ASSERT_FALSE(parsed);
        EXPECT_TRUE(parsed.error().message.starts_with(c.message)) << parsed.error().message;
    }
}

// The program's watch with a stand-in phone that pairs.
class WatchProgramTest : public ::testing::Test {
protected:
    void start(const ProgramOptions& options, const Script& script = {}) {
        program = std::make_unique<WatchProgram>(loop, simulatedRadios(air), options, script);
        program->start();
        scanner.scan();
        loop.advance(1);
        phone.answerHandshake = [id = options.identifier](std::span<const std::uint8_t>) {
            return sim_test::phoneResponse("Phone", id);
        };
    }
    Watch& watch() { return program->watch(); }

    void link() {
        phone.connectTo(watch().identifier());
        ASSERT_TRUE(watch().waitUntil([&] { return watch().isPaired(); }, 10));
    }
    void request(std::string_view text) {
        Bytes bytes{0x41};
        bytes.insert(bytes.end(), text.begin(), text.end());
        phone.send(bytes);
        loop.advance(2);
    }
    // The purpose byte the scanner saw last.
    std::uint8_t advertisedPurpose() const {
        return scanner.discoveries().at(sim_test::kWatchId).data.manufacturerData.value().at(7);
    }
    std::vector<Value> phoneGot() const {
        std::vector<Value> got;
        for (const Bytes& message : phone.messages) {
            if ((message[0] & 0x3F) == 1) {
                got.push_back(json(std::string_view(
                    reinterpret_cast<const char*>(message.data()) + 1, message.size() - 1)));
            }
        }
        return got;
    }

    platform::RunLoop loop{platform::RunLoop::Clock::virtualTime};
    platform::ScopedMainRunLoop scoped{loop};
    platform::bluetooth::SimulatedAir air{loop, {.seed = 9}};
    sim_test::PhoneStandIn phone{air, loop, sim_test::kPhoneId};
    platform::bluetooth::ScriptedCentral scanner{air.attach(), loop};
    std::unique_ptr<WatchProgram> program;
};

ProgramOptions watchOptions() {
    ProgramOptions options;
    options.identifier = sim_test::kWatchId;
    return options;
}

TEST_F(WatchProgramTest, AdvertisesWhileUnlinkedForWhatItsStateNeedsThen) {
    start(watchOptions());
    EXPECT_TRUE(watch().isAdvertising());
    EXPECT_EQ(advertisedPurpose(), 1);
    link();
    EXPECT_FALSE(watch().isAdvertising());

    // Set up during the connection, it looks for its phone once the phone leaves.
    request(R"({"msgId":"mgr_setupwizard_eula_finished_req"})");
    phone.send(Bytes{0x7C, 0x3C});
    ASSERT_TRUE(watch().waitUntil([&] { return !watch().isLinkUp(); }, 5));
    loop.advance(1);
    EXPECT_TRUE(watch().isAdvertising());
    EXPECT_EQ(advertisedPurpose(), 2);

    // And it serves the next connection, as set up.
    watch().connectToPhone();
    ASSERT_TRUE(watch().waitUntil([&] { return watch().isPaired(); }, 10));
    EXPECT_FALSE(watch().isAdvertising());
    request(R"({"msgId":"mgr_watch_info_req"})");
    EXPECT_EQ(phoneGot().back()["is_initialed_watch"], Value("false"));
}

TEST_F(WatchProgramTest, WithAHomeItRemembersBeingSetUpAndResetAcrossRuns) {
    testing_support::TempDir folder;
    ProgramOptions options = watchOptions();
    options.home = folder.path() / "watch";
    start(options);
    EXPECT_EQ(WatchMemory(*options.home).setup(), std::nullopt) << "nothing to remember yet";
    link();
    request(R"({"msgId":"mgr_setupwizard_eula_finished_req"})");
    EXPECT_EQ(WatchMemory(*options.home).setup(), SetupState::configured);

    // The next run starts as the watch that was set up, and a reset is remembered as well.
    program.reset();
    start(options);
    EXPECT_EQ(program->responder().state().setup, SetupState::configured);
    EXPECT_EQ(advertisedPurpose(), 2);
    link();
    request(R"({"msgId":"mgr_reset_device_req"})");
    EXPECT_EQ(WatchMemory(*options.home).setup(), SetupState::factory);
}

TEST_F(WatchProgramTest, AScriptChangesAnswersButNotWhatRequestsDo) {
    const auto script = parseScript(
        "answer mgr_watch_info_req {\"msgId\":\"mgr_watch_info_res\",\"model_name\":\"S\"}\n"
        "ignore mgr_wapps_list_req\n"
        "on mgr_clocks_list_req send {\"msgId\":\"extra_ind\"}\n"
        "on custom_req send {\"msgId\":\"custom_res\"}\n",
        "test");
    ASSERT_TRUE(script);
    start(watchOptions(), *script);
    link();
    for (const char* msgId :
         {"mgr_watch_info_req", "mgr_wapps_list_req", "mgr_clocks_list_req", "custom_req"}) {
        request(*platform::json::write(Value{{"msgId", msgId}}));
    }
    std::vector<std::string> ids;
    for (const Value& message : phoneGot()) {
        ids.push_back(*message["msgId"].stringIf());
    }
    EXPECT_EQ(ids,
              (std::vector<std::string>{"mgr_watch_info_res", "mgr_clocks_list_res",
                                        "mgr_status_exchange_done", "extra_ind", "custom_res"}));
    EXPECT_EQ(phoneGot().front()["model_name"], Value("S"));
    EXPECT_EQ(program->responder().record().listRequests.size(), 2U);
}

// Several watches and a device that is no watch, side by side on one air, as scripts/run starts
// them: each watch advertises its own name for the setup wizard, the device its name alone.
TEST(SeveralDevicesTest, WatchesOfTheirOwnAndAPlainDeviceAdvertiseSideBySide) {
    platform::RunLoop loop{platform::RunLoop::Clock::virtualTime};
    platform::ScopedMainRunLoop scoped{loop};
    platform::bluetooth::SimulatedAir air{loop, {.seed = 5}};
    platform::bluetooth::ScriptedCentral scanner{air.attach(), loop};
    std::vector<std::unique_ptr<WatchProgram>> programs;
    for (const char* instance : {"1", "2", "3"}) {
        const auto options = parseArguments(std::vector<std::string_view>{"--instance", instance});
        ASSERT_TRUE(options);
        programs.push_back(std::make_unique<WatchProgram>(loop, simulatedRadios(air), *options,
                                                          Script{}));
        programs.back()->start();
    }
    const auto speakerOptions = parseArguments(
        std::vector<std::string_view>{"--device", "Speaker 1", "--instance", "91"});
    ASSERT_TRUE(speakerOptions);
    PlainDevice speaker(loop, simulatedRadios(air), speakerOptions->identifier,
                        *speakerOptions->device);
    speaker.powerOn();
    scanner.scan();
    loop.advance(1);

    ASSERT_TRUE(speaker.isAdvertising());
    const auto& seen = scanner.discoveries();
    ASSERT_EQ(seen.size(), 4U);
    std::set<std::string> names;
    for (const auto& program : programs) {
        const auto found = seen.find(program->watch().identifier());
        ASSERT_NE(found, seen.end());
        names.insert(found->second.data.localName.value_or(""));
        EXPECT_EQ(found->second.data.manufacturerData.value().at(7), 1) << "for the setup wizard";
    }
    EXPECT_EQ(names, (std::set<std::string>{"Kavo R5 (1A2B)", "Kavo R5 (1A2C)", "Kavo R5 (1A2D)"}));
    const auto plain = seen.find(speaker.identifier());
    ASSERT_NE(plain, seen.end());
    EXPECT_EQ(plain->second.data, (platform::bluetooth::AdvertisementData{.localName = "Speaker 1"}))
        << "a name and nothing a watch would send";
}

}  // namespace
