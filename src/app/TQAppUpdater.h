#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "http/HCHTTPSessionManager.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/WeakPtr.h"

namespace platform::net {
class NetworkMonitor;
class URLLoader;
}  // namespace platform::net

// Asks the store's lookup service (over https) for the newest version of this application
// and, when it is newer than the running one, shows the update alert, whose update button
// opens the store page. Only a page of the lookup service's own host over https is ever
// opened: an answer with any other address, or one that is malformed, shows nothing and is
// logged. Runs on the main loop; alerts go through the application host.
class TQAppUpdater {
public:
    // The lookup service is the store's, the one the icon lookup asks as well
    // (TQAppIconLookup::kLookupAddressKey).
    struct Environment {
        platform::RunLoop& loop;
        std::string lookupAddress;
        std::string bundleIdentifier;
        std::string runningVersion;
        platform::net::NetworkMonitor& network;
        std::optional<platform::net::URLSessionConfiguration> configuration = std::nullopt;
        platform::net::URLLoader* loader = nullptr;
    };
    // (newer, the store's version when newer)
    using VersionCheck = std::function<void(bool, const std::optional<std::string>&)>;

    explicit TQAppUpdater(Environment environment);
    ~TQAppUpdater();
    TQAppUpdater(const TQAppUpdater&) = delete;
    TQAppUpdater& operator=(const TQAppUpdater&) = delete;

    [[nodiscard]] const std::string& alertTitle() const { return alertTitle_; }
    [[nodiscard]] const std::string& alertMessage() const { return alertMessage_; }
    [[nodiscard]] const std::string& alertUpdateButtonTitle() const { return updateTitle_; }
    [[nodiscard]] const std::string& alertCancelButtonTitle() const { return cancelTitle_; }

    void checkApplicationUpdate();
    void showUpdateWithConfirmation();
    void showUpdateWithForce();
    void forceOpenNewAppVersion(bool force);
    // Whether the lookup host is reachable without a connection to be made first.
    [[nodiscard]] bool hasConnection() const;
    void checkNewAppVersion(VersionCheck completion);
    void alertUpdateForVersion(const std::string& version, bool force);
    void alertCantOpenUpdateUrl();

    // The store page of the newer version found last.
    [[nodiscard]] const std::optional<std::string>& storePageAddress() const { return storePage_; }
    [[nodiscard]] std::size_t lookupsInFlight() const { return inFlight_; }

    // Digit runs compare as numbers, everything else by character: <0, 0 or >0.
    [[nodiscard]] static int compareVersions(std::string_view a, std::string_view b);

    struct StoreAnswer {
        std::string version;
        std::string page;  // without "&uo=4"
    };
    // The first result of a lookup answer; nothing for zero results. An error for an answer
    // that is no JSON object, a version that is no dotted number, or a page that is not an
    // https address of lookupHost.
    [[nodiscard]] static platform::Result<std::optional<StoreAnswer>> readAnswer(
        std::string_view body, std::string_view lookupHost);

private:
    void lookedUp(const HCResponseObject& body, const VersionCheck& completion);

    platform::RunLoop& loop_;
    std::string bundleIdentifier_;
    std::string runningVersion_;
    platform::net::NetworkMonitor& network_;
    std::string lookupAddress_;
    std::string lookupHost_;
    // Made at the first lookup, so that no network thread starts before the program is ready
    // for threads (its signal mask set).
    std::optional<platform::net::URLSessionConfiguration> configuration_;
    platform::net::URLLoader* loader_;
    std::unique_ptr<HCHTTPSessionManager> client_;
    std::string alertTitle_;
    std::string alertMessage_;
    std::string updateTitle_;
    std::string cancelTitle_;
    std::optional<std::string> storePage_;
    std::size_t inFlight_ = 0;
    platform::WeakPtrFactory<TQAppUpdater> weak_{*this, loop_};
};
