#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/StoreWorld.h"
#include "platform/foundation/FileSystem.h"
#include "sim/store/StoreCertificate.h"
#include "store/TQKavoAppsWebApi.h"
#include "support/TestCertificates.h"

namespace listener_test {
namespace {

using Api = TQKavoAppsWebApi;
using testing_support::TestCertificates;

Value item(std::string package, std::string version, std::optional<std::string> preload) {
    Value entry{{"PackageName", Value{{"text", package}}}, {"Version", Value{{"text", version}}}};
    if (preload) {
        entry["PreLoad"] = Value{{"text", *preload}};
    }
    return entry;
}

struct RecordingPage final : TQKavoAppsWebApiDelegate {
    void loadMainPage(const std::string& url) override { loaded.push_back(url); }
    void showServerAlert(const std::string& message) override { alerts.push_back(message); }
    std::vector<std::string> loaded;
    std::vector<std::string> alerts;
};

TEST(TQKavoAppsWebApiTest, ListsBodiesAndNamesAreBuiltAsTheStoreReadsThem) {
    // One preloaded app and no faces: the text ends with the separator; an entry whose
    // PreLoad is neither "true" nor "false" is in neither list.
    const std::vector<Value> apps{item("a.b", "1.2.3", "true"), item("x.y", "2.0", "maybe"),
                                  item("c.d", "1.2", std::nullopt)};
    EXPECT_EQ(Api::getAppList(apps, {}, true), "a.b@1.2.3@00100200003@0||");
    EXPECT_EQ(Api::getAppList(apps, {}, false), "");
    EXPECT_EQ(Api::getAppList({item("e.f", "3", "false")}, {item("g.h", "1.0.1", "false")}, false),
              "e.f@3@00300000000@1||g.h@1.0.1@00100000001@1");
    EXPECT_EQ(Api::versionCode("1.2"), "00100200000");
    EXPECT_EQ(Api::versionCode(""), "00000000000");

    // No SIM, signed out: neither carrier codes nor token; the empty list is still sent;
    // every value form-encoded.
    TQKavoAppsWebParams params;
    params.deviceModel = "1334x750_KV R500_i";
    params.kosversion = "3.0.1";
    params.acl = "api.example";
    params.preloadApp = "a.b@1.2.3@00100200003@0||";
    params.postloadApp = "";
    params.duid = "0000000000004000800000000000";
    EXPECT_EQ(Api::registrationBody(params),
              "deviceModel=1334x750_KV%20R500_i&kosversion=3.0.1&manufacturer=Apple&acl=api.example"
              "&preloadApp=a.b%401.2.3%4000100200003%400%7C%7C&postloadApp=&duid="
              "0000000000004000800000000000"
              "&webApiVersion=3.1");

    EXPECT_EQ(Api::getDeviceName("iPhone7,2"), "iPhone6");
    EXPECT_EQ(Api::getDeviceName("iPhone8,1"), "iPhone");
    EXPECT_EQ(Api::getDeviceName("iPod9,1"), "iPod Touch");
    EXPECT_EQ(Api::getDeviceName("x86_64"), std::nullopt);
    EXPECT_EQ(Api::masked(std::string("secret-token")), "(present)") << "no part of a secret";
    EXPECT_EQ(Api::masked(std::nullopt), "(null)");
}

TEST(TQKavoAppsWebApiTest, OnlyAHostNameOrAddressWithAnOptionalPortIsADomain) {
    for (const char* good :
         {"apps.kavoapps.com", "127.0.0.1:8443", "a", "x-1.example:1", "store.example:65535"}) {
        EXPECT_TRUE(Api::isHostAndPort(good)) << good;
    }
    for (const char* bad : {"", ":80", "host:", "host:0", "host:65536", "host:8a", "-a.example",
                            "a-.example", "a..example", "a.example.", "a/b", "a?b", "a#b",
                            "user@host", "a b", "[::1]:80", "h\x01st", "ex\xC3\xA4mple.com"}) {
        EXPECT_FALSE(Api::isHostAndPort(bad)) << bad;
    }
    EXPECT_TRUE(Api::isHostAndPort(std::string(63, 'a') + ".example"));
    EXPECT_FALSE(Api::isHostAndPort(std::string(64, 'a') + ".example"));
    EXPECT_FALSE(Api::isHostAndPort(std::string(250, 'a') + ".example"));
}

class StoreWebApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        const TestCertificates& pki = TestCertificates::shared();
        ASSERT_TRUE(t.store
                        ->serveSecurely({pki.localhost.certificatePem,
                                         pki.localhost.privateKeyPem,
                                         {pki.intermediate.certificatePem}})
                        .ok());
        t.busy = [this] { return api && api->requestInFlight(); };
    }
    Api& make(std::optional<platform::Carrier> carrier = platform::Carrier{"310", "260"}) {
        device.modelNumber = kModel;
        device.vendorIdentifier = "12345678-ABCD-4000-8000-000000000001";
        device.carrier = carrier;
        api = std::make_unique<Api>(
            Api::Environment{.defaults = t.world.defaults,
                             .delegate = page,
                             .lookupHost = "127.0.0.1:" + std::to_string(t.store->securePort()),
                             .aclHost = "api.example",
                             .accessToken = [] { return std::optional<std::string>("tok-123456"); },
                             .device = [this] { return device; },
                             .anchors = {TestCertificates::shared().ca.certificateDer},
                             .loader = &t.loader,
                             .appID = opener.appID,
                             .productID = opener.productID,
                             .referID = opener.referID});
        api->setParamValues({item("a.b", "1.2.3", "true")}, {});
        return *api;
    }
    bool settle() {
        return t.runUntil([&] { return !api->requestInFlight(); }, 60);
    }
    int asked(std::string_view path) const {
        int count = 0;
        for (const std::string& target : t.store->requests()) {
            count += target.starts_with(path) ? 1 : 0;
        }
        return count;
    }

    StoreWorld t;
    TQStoreDevice device;
    // What the store screen's opener gives it.
    struct {
        std::optional<std::string> appID, productID, referID;
    } opener;
    RecordingPage page;
    std::unique_ptr<Api> api;
};

TEST_F(StoreWebApiTest, TheDomainIsLookedUpRegisteredWithAndReusedForTheSameCountry) {
    make().start();
    ASSERT_TRUE(t.runUntil([&] { return !page.loaded.empty() || !page.alerts.empty(); }, 60));
    const std::string domain = "127.0.0.1:" + std::to_string(t.store->securePort());
    EXPECT_EQ(page.loaded, (std::vector<std::string>{"https://" + domain +
                                                     "/main/getMain.as?cID=C-12345678ABCD40008000" +
                                                     "0000000000"}));
    EXPECT_TRUE(page.alerts.empty());
    // The access token, the device's identity and the session's code reach no log line.
    for (const char* secret : {"tok-123456", "12345678ABCD4000", "C-12345678"}) {
        EXPECT_EQ(t.world.logs->containing(secret), 0) << secret;
    }
    EXPECT_EQ(t.store->requests().front(), "/api/getDomain.as?mcc=310");
    EXPECT_EQ(t.world.defaults.string(Api::kDomainKey), domain);
    EXPECT_EQ(t.world.defaults.string(Api::kMccKey), "310");

    // The same country again: straight to the registration.
    make().start();
    ASSERT_TRUE(t.runUntil([&] { return page.loaded.size() == 2; }, 60));
    EXPECT_EQ(asked(Api::kDomainLookupPath), 1);
    EXPECT_EQ(asked(Api::kRegistrationPath), 2);

    // No SIM: looked up every time, and the saved country removed.
    make(std::nullopt).start();
    ASSERT_TRUE(t.runUntil([&] { return page.loaded.size() == 3; }, 60));
    EXPECT_EQ(t.store->requests()[3], "/api/getDomain.as");
    EXPECT_EQ(t.world.defaults.string(Api::kMccKey), std::nullopt);
    make(std::nullopt).start();
    ASSERT_TRUE(t.runUntil([&] { return page.loaded.size() == 4; }, 60));
    EXPECT_EQ(asked(Api::kDomainLookupPath), 3);
}

TEST_F(StoreWebApiTest, TheMainPageCarriesTheOpenersIdentifiers) {
    const std::string main = "https://127.0.0.1:" + std::to_string(t.store->securePort()) +
                             "/main/getMain.as?cID=C-12345678ABCD400080000000000000";
    const struct {
        const char* name;
        std::optional<std::string> appID, productID, referID;
        std::string query;
    } cases[] = {
        {"an application", "a b", std::nullopt, "r", "&appID=a%20b&referID=r"},
        {"a product", std::nullopt, "P7", std::nullopt, "&productID=P7"},
        {"all three", "x", "P1", "ref", "&appID=x&productID=P1&referID=ref"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        page.loaded.clear();
        opener = {test.appID, test.productID, test.referID};
        make().start();
        ASSERT_TRUE(t.runUntil([&] { return !page.loaded.empty() || !page.alerts.empty(); }, 60));
        EXPECT_EQ(page.loaded, (std::vector<std::string>{main + test.query}));
        EXPECT_EQ(api->getMainPageWebStore(), main + test.query);
    }
}

TEST_F(StoreWebApiTest, FailingAnswersShowTheServerAlertAndGoNoFurther) {
    const struct {
        const char* name;
        const char* path;
        kavostore::StoreAnswer answer;
    } cases[] = {
        {"lookup fails", Api::kDomainLookupPath, {500, "application/json", "{\"domain\":\"x\"}"}},
        {"lookup says nothing", Api::kDomainLookupPath, {204, "application/json", ""}},
        {"lookup is no JSON", Api::kDomainLookupPath, {200, "text/html", "<html>busy</html>"}},
        {"lookup names no domain", Api::kDomainLookupPath, {200, "application/json", "[1]"}},
        {"lookup names a path",
         Api::kDomainLookupPath,
         {200, "application/json", "{\"domain\":\"127.0.0.1:1/x?y=\"}"}},
        {"lookup names a user",
         Api::kDomainLookupPath,
         {200, "application/json", "{\"domain\":\"me@127.0.0.1:1\"}"}},
        {"lookup names a bad port",
         Api::kDomainLookupPath,
         {200, "application/json", "{\"domain\":\"127.0.0.1:99999\"}"}},
        {"registration refused",
         Api::kRegistrationPath,
         {200, "application/json", "{\"cID\":\"C\",\"returnCode\":\"1\",\"errorCode\":\"100\"}"}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        kavostore::StoreServer& store = *t.store;
        const std::string domain = "127.0.0.1:" + std::to_string(store.securePort());
        store.addRoute(Api::kDomainLookupPath, [domain](const kavostore::StoreRequest&) {
            return kavostore::StoreAnswer{200, "application/json",
                                          "{\"domain\":\"" + domain + "\"}"};
        });
        store.addRoute(test.path,
                       [answer = test.answer](const kavostore::StoreRequest&) { return answer; });
        const int registrations = asked(Api::kRegistrationPath);
        page.alerts.clear();
        t.world.defaults.remove(Api::kDomainKey);
        make().start();
        ASSERT_TRUE(t.runUntil([&] { return !page.alerts.empty(); }, 60));
        ASSERT_TRUE(settle());
        EXPECT_EQ(page.alerts.size(), 1U);
        EXPECT_NE(page.alerts.front().find("is not responding"), std::string::npos);
        EXPECT_TRUE(page.loaded.empty());
        if (std::string_view(test.path) == Api::kDomainLookupPath) {
            EXPECT_EQ(asked(Api::kRegistrationPath), registrations);
            EXPECT_EQ(t.world.defaults.string(Api::kDomainKey), std::nullopt);
        }
    }
}

TEST_F(StoreWebApiTest, DebugModeTakesTheConfigurationOnlyWhenItIsUsable) {
    t.world.defaults.set(Api::kDebugModeKey, true);
    const auto config = t.documents() / Api::kConfigFile;
    // Missing, then broken: no overrides, plain HTTP since HTTPS was not asked for.
    for (const char* text : {static_cast<const char*>(nullptr), "{not json"}) {
        if (text != nullptr) {
            ASSERT_TRUE(platform::fs::writeFileAtomically(config, text).ok());
        }
        const TQKavoAppsWebParams params = make().params();
        EXPECT_EQ(params.mcc, "310");
        EXPECT_EQ(params.webApiVersion, "3.1");
        EXPECT_EQ(params.protocol, "http://");
    }
    ASSERT_TRUE(platform::fs::writeFileAtomically(
                    config, "{\"mcc\":\"450\",\"mnc\":\"\",\"webApiVersion\":\"9.9\",\"acl\":7}")
                    .ok());
    t.world.defaults.set(Api::kDebugUseHttpsKey, true);
    const TQKavoAppsWebParams params = make().params();
    EXPECT_EQ(params.mcc, "450");
    EXPECT_EQ(params.mnc, "260");
    EXPECT_EQ(params.webApiVersion, "9.9");
    EXPECT_EQ(params.acl, "api.example");
    EXPECT_EQ(params.protocol, "https://");
    EXPECT_EQ(params.at, "tok-123456");
    EXPECT_EQ(params.duid, "12345678ABCD400080000000000000");
}

TEST(StoreCertificateTest, TheStoresOwnCertificateIsTrustedOnlyAsTheAnchor) {
    StoreWorld t;
    const auto made = kavostore::makeStoreCertificate();
    ASSERT_TRUE(made.ok());
    ASSERT_TRUE(t.store->serveSecurely(made.value().identity).ok());
    for (const bool anchored : {true, false}) {
        RecordingPage page;
        std::vector<platform::Bytes> anchors;
        if (anchored) {
            anchors.push_back(made.value().certificateDer);
        } else {
            anchors.push_back(TestCertificates::shared().ca.certificateDer);
        }
        Api api({.defaults = t.world.defaults,
                 .delegate = page,
                 .lookupHost = "127.0.0.1:" + std::to_string(t.store->securePort()),
                 .aclHost = "api.example",
                 .device =
                     [] {
                         TQStoreDevice device;
                         device.vendorIdentifier = "1";
                         return device;
                     },
                 .anchors = anchors,
                 .loader = &t.loader});
        api.setParamValues({}, {});
        t.busy = [&] { return api.requestInFlight(); };
        api.getKavoAppsAccessURL();
        ASSERT_TRUE(t.runUntil([&] { return !page.loaded.empty() || !page.alerts.empty(); }, 60));
        EXPECT_EQ(page.loaded.size(), anchored ? 1U : 0U) << anchored;
        EXPECT_EQ(page.alerts.size(), anchored ? 0U : 1U) << anchored;
        t.busy = nullptr;
    }
}

}  // namespace
}  // namespace listener_test
