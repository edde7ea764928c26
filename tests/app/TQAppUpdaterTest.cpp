#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "UploadFixture.h"
#include "app/TQAppUpdater.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/Json.h"

namespace {

using platform::Value;

class TQAppUpdaterTest : public UploadFixture {
protected:
    std::string page(std::string_view pathAndQuery) const { return server->url(pathAndQuery); }

    static std::string lookupAnswer(const std::string& version, const std::string& page,
                                    int count = 1) {
        return platform::json::write(Value{
                                         {"resultCount", count},
                                         {"results", platform::Array{Value{
                                                         {"version", version},
                                                         {"trackViewUrl", page},
                                                         {"bundleId", platform::kBundleIdentifier},
                                                     }}},
                                     })
            .value();
    }

    // Runs one check against the scripted answer; the alerts it left.
    std::size_t check(const std::string& answer, int status = 200) {
        server->script("/lookup", {.status = status, .body = answer});
        const std::size_t before = server->received().size();
        updater.checkApplicationUpdate();
        EXPECT_TRUE(waitFor(
            [&] { return server->received().size() > before && updater.lookupsInFlight() == 0; }));
        loop.runUntilIdle();
        return host.app.alerts.size();
    }

    // Running version 2.1.9, asking the loopback server over the network given.
    TQAppUpdater::Environment environment(platform::net::NetworkMonitor& on) {
        return {.loop = loop,
                .lookupAddress = server->url("/scripted"),
                .bundleIdentifier = platform::kBundleIdentifier,
                .runningVersion = "2.1.9",
                .network = on,
                .configuration = trustingTheTestCA(),
                .loader = &loader};
    }

    TQAppUpdater updater{environment(*network)};
};

TEST(TQAppUpdaterVersions, DigitRunsCompareAsNumbers) {
    struct Case {
        const char* a;
        const char* b;
        int order;
    };
    const Case cases[] = {
        {"2.1.10", "2.1.9", 1}, {"2.1.9", "2.1.9", 0}, {"2.1.8", "2.1.9", -1}, {"2.2", "2.1.9", 1},
        {"10.0", "9.9", 1},     {"2.01", "2.1", 0},    {"2.1", "2.1.0", -1},   {"3", "20", -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TQAppUpdater::compareVersions(c.a, c.b), c.order) << c.a << " vs " << c.b;
        EXPECT_EQ(TQAppUpdater::compareVersions(c.b, c.a), -c.order) << c.b << " vs " << c.a;
    }
}

TEST_F(TQAppUpdaterTest, ANewerVersionShowsTheAlertWhoseUpdateOpensTheStorePage) {
    ASSERT_EQ(check(lookupAnswer("2.1.10", page("/app/id1?mt=8&uo=4&x=1&uo=4"))), 1U);
    const auto request = server->received().back();
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.target, "/scripted/lookup?bundleId=com.kavo.KavoManager");

    const platform::Alert& alert = host.app.alerts[0].alert;
    EXPECT_EQ(alert.title, "Update");
    EXPECT_EQ(alert.message, "A new version is available. Update the app to continue.");
    EXPECT_EQ(alert.buttons, (std::vector<std::string>{"Later", "Update"}));
    host.app.pressAlertButton(0, 0);
    EXPECT_TRUE(host.app.openedURLs.empty());

    ASSERT_EQ(check(lookupAnswer("2.1.10", page("/app/id1?mt=8&uo=4"))), 2U);
    host.app.pressAlertButton(1, 1);
    EXPECT_EQ(host.app.openedURLs, std::vector<std::string>{page("/app/id1?mt=8")});

    // A page nobody can open: the no-network alert instead.
    host.app.openableSchemes.clear();
    ASSERT_EQ(check(lookupAnswer("3.0", page("/app/id1"))), 3U);
    host.app.pressAlertButton(2, 1);
    ASSERT_EQ(host.app.alerts.size(), 4U);
    EXPECT_EQ(host.app.alerts[3].alert.title, "No network connection");
    EXPECT_EQ(host.app.alerts[3].alert.buttons, std::vector<std::string>{"OK"});
    EXPECT_EQ(host.app.openedURLs.size(), 1U);
}

// Equal, older, no results, a failed or malformed answer, and a page that is not the store's:
// nothing is shown, and nothing can be opened.
TEST_F(TQAppUpdaterTest, NothingIsShownForAnythingButANewerVersionOnTheStoresOwnPage) {
    const std::string storePage = page("/app/id1");
    const std::pair<const char*, std::string> cases[] = {
        {"equal", lookupAnswer("2.1.9", storePage)},
        {"older", lookupAnswer("2.1.8", storePage)},
        {"no results", lookupAnswer("9.0", storePage, 0)},
        {"no JSON", "<html>"},
        {"a list", "[1]"},
        {"counted but empty", R"({"resultCount":1,"results":[]})"},
        {"version no number", lookupAnswer("9.0; rm", storePage)},
        {"version missing", R"({"resultCount":1,"results":[{"trackViewUrl":"x"}]})"},
        {"another host", lookupAnswer("9.0", "https://evil.example/app/id1")},
        {"plain http", lookupAnswer("9.0", "http://127.0.0.1/app/id1")},
        {"user part", lookupAnswer("9.0", "https://127.0.0.1@evil.example/app")},
        {"hidden by the suffix", lookupAnswer("9.0", "https://127.0.0.1&uo=4.evil.example/")},
        {"another scheme", lookupAnswer("9.0", "javascript:alert(1)")},
    };
    for (const auto& [name, answer] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(check(answer), 0U);
        EXPECT_FALSE(updater.storePageAddress().has_value());
    }
    EXPECT_EQ(check("", 500), 0U);
}

TEST_F(TQAppUpdaterTest, WithoutANetworkNothingIsLookedUp) {
    EXPECT_TRUE(updater.hasConnection());
    // A link without a route; the fixture's updater is not asked again.
    network.reset();
    auto source = std::make_unique<platform::net::ScriptedNetlinkSource>();
    source->setPicture({FakeNetwork::link(2, FakeNetwork::Kind::wired)});
    network = std::make_unique<platform::net::NetworkMonitor>(loop, std::move(source));
    TQAppUpdater offline{environment(*network)};
    EXPECT_FALSE(offline.hasConnection());
    offline.checkApplicationUpdate();
    loop.runUntilIdle();
    EXPECT_EQ(offline.lookupsInFlight(), 0U);
    EXPECT_TRUE(server->received().empty());
}

}  // namespace
