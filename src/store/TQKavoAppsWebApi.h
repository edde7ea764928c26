#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Value.h"
#include "platform/net/HTTPMessage.h"
#include "store/TQStoreDevice.h"

class HCHTTPRequestOperation;
namespace platform::net {
class URLLoader;
}

// What the store screen does with the web API's outcome.
class TQKavoAppsWebApiDelegate {
public:
    virtual ~TQKavoAppsWebApiDelegate() = default;
    // The web view loads the store's main page.
    virtual void loadMainPage(const std::string& url) = 0;
    // The server failed or answered nothing usable: the loading overlay goes, the alert
    // ("ok" closes the store) comes.
    virtual void showServerAlert(const std::string& message) = 0;
};

// The parameters the store web site is told, once per screen.
struct TQKavoAppsWebParams {
    std::optional<std::string> mcc;
    std::optional<std::string> mnc;
    std::optional<std::string> deviceModel;
    std::optional<std::string> kosversion;
    std::optional<std::string> manufacturer = std::string("Apple");
    std::optional<std::string> at;
    std::optional<std::string> acl;
    std::optional<std::string> preloadApp;
    std::optional<std::string> postloadApp;
    std::optional<std::string> deviceName;
    std::optional<std::string> duid;
    std::string protocol = "https://";
    std::optional<std::string> webApiVersion = std::string("3.1");
};

// The store screen's own web API: fills its parameters (with the debug configuration's
// overrides in debug mode), looks the store domain up by the SIM's country (reused while the
// country stays), registers with the domain for a registration id and gives the main page's
// address. One request channel at a time. Main thread.
class TQKavoAppsWebApi {
public:
    static constexpr const char* kDomainLookupPath = "/api/getDomain.as";
    static constexpr const char* kRegistrationPath = "/api/setMain.as";
    static constexpr const char* kMainPagePath = "/main/getMain.as";
    static constexpr const char* kDomainKey = "domain";
    static constexpr const char* kMccKey = "MCC";
    static constexpr const char* kDebugModeKey = "WEB_APP_STORE_DEBUG_MODE";
    static constexpr const char* kDebugUseHttpsKey = "WEB_APP_STORE_DEBUG_USE_HTTPS";
    static constexpr const char* kConfigFile = "configFile.txt";
    // The user settings naming the domain-lookup host and the service-platform host (acl).
    static constexpr const char* kLookupHostKey = "kavo.store.domainLookupHost";
    static constexpr const char* kDefaultLookupHost = "apps.kavoapps.com";
    static constexpr const char* kAclHostKey = "kavo.store.aclHost";
    static constexpr const char* kDefaultAclHost = "api.kavoaccount.com";

    enum State : std::int32_t { skipNext = 0, domainAwaited = 2, registrationAwaited = 3 };

    struct Environment {
        platform::UserDefaults& defaults;
        TQKavoAppsWebApiDelegate& delegate;
        std::string lookupHost;
        std::string aclHost;
        // The signed-in user's token; nothing when signed out.
        std::function<std::optional<std::string>()> accessToken = [] {
            return std::optional<std::string>();
        };
        std::function<TQStoreDevice()> device = TQStoreDevice::current;
        std::vector<platform::Bytes> anchors;
        platform::net::URLLoader* loader = nullptr;
        // What the screen's opener gave it, for the main page.
        std::optional<std::string> appID = std::nullopt;
        std::optional<std::string> productID = std::nullopt;
        std::optional<std::string> referID = std::nullopt;
    };

    explicit TQKavoAppsWebApi(Environment environment);
    ~TQKavoAppsWebApi();
    TQKavoAppsWebApi(const TQKavoAppsWebApi&) = delete;
    TQKavoAppsWebApi& operator=(const TQKavoAppsWebApi&) = delete;

    // Fills the parameters from the phone and the watch's lists (Part of the screen's loading).
    void setParamValues(const std::vector<platform::Value>& apps,
                        const std::vector<platform::Value>& clocks);
    // The registration when the saved domain still holds for this SIM, else the lookup.
    void start();
    void getKavoAppsAccessURL();
    void setMainPageWebStore();
    // The main page with the registration id and the opener's identifiers.
    [[nodiscard]] std::string getMainPageWebStore() const;

    [[nodiscard]] const TQKavoAppsWebParams& params() const { return params_; }
    [[nodiscard]] const std::optional<std::string>& domain() const { return domain_; }
    [[nodiscard]] const std::optional<std::string>& cID() const { return cID_; }
    [[nodiscard]] State currentDownloadState() const { return state_; }
    void setCurrentDownloadState(State state) { state_ = state; }
    [[nodiscard]] bool requestInFlight() const { return request_ != nullptr; }

    // The installed-application texts ("pkg@version@code@0||...").
    [[nodiscard]] static std::string getAppList(const std::vector<platform::Value>& apps,
                                                const std::vector<platform::Value>& clocks,
                                                bool checkPreload);
    [[nodiscard]] static std::string convertAppList(const std::vector<platform::Value>& items,
                                                    bool checkPreload);
    // "1.2.3" is "00100200003"; missing parts count 0.
    [[nodiscard]] static std::string versionCode(std::string_view version);
    [[nodiscard]] static std::optional<std::string> getDeviceName(std::string_view machine);
    // The registration's form body, values percent-encoded.
    [[nodiscard]] static std::string registrationBody(const TQKavoAppsWebParams& params);
    // Whether text is a host name or IPv4 address, with a port or without, and nothing else: the
    // lookup's domain goes between the scheme and a path.
    [[nodiscard]] static bool isHostAndPort(std::string_view text);
    // A token, code or identity for a log line: only whether there is one.
    [[nodiscard]] static std::string masked(const std::optional<std::string>& secret);

private:
    void makeRequest(platform::net::URLRequest request);
    void connectionDidFinishLoading(const std::string& requestURL, const platform::Bytes& body);
    void didFail(const std::string& reason);
    [[nodiscard]] bool debugMode() const;

    Environment environment_;
    TQKavoAppsWebParams params_;
    std::optional<std::string> domain_;
    std::optional<std::string> cID_;
    State state_ = domainAwaited;
    std::shared_ptr<HCHTTPRequestOperation> request_;
    std::shared_ptr<TQKavoAppsWebApi*> self_;
};
