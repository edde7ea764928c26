#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "sim/store/StoreCatalogue.h"

namespace httplib {
class Server;
}

// The maker's store back end, simulated: an HTTP server on 127.0.0.1 that serves the store's
// routes from a catalogue, and the catalogue's packages, which it builds when it starts.
// Routes are a table of exact paths (and a few prefixes), so that more of the back end can be
// registered beside them. Answers come from the server's own threads.
namespace kavostore {

struct StoreRequest {
    std::string method;
    std::string path;
    std::string target;  // path and query as sent
    std::multimap<std::string, std::string> query;

    // The first value of a query parameter; "" when absent.
    [[nodiscard]] std::string parameter(std::string_view name) const;
};

struct StoreAnswer {
    int status = 200;
    std::string contentType = "text/xml";
    std::string body;
    // Sent in chunks, without a length.
    bool chunked = false;
};

// A server certificate with its key and the certificates between it and its anchor, as PEM.
struct TlsIdentity {
    std::string certificatePem;
    std::string privateKeyPem;
    std::vector<std::string> chainPem;
};

class StoreServer {
public:
    using Route = std::function<StoreAnswer(const StoreRequest&)>;

    // The back end's paths.
    static constexpr const char* kFeaturedPath = "/product/getRecommendAppList.as";
    static constexpr const char* kUpdateCheckPath = "/stub/kavoAppUpdateCheck.as";
    static constexpr const char* kDownloadPath = "/stub/kavoAppDownload.as";
    static constexpr const char* kDomainLookupPath = "/api/getDomain.as";
    static constexpr const char* kRegistrationPath = "/api/setMain.as";
    static constexpr const char* kMainPagePath = "/main/getMain.as";
    static constexpr const char* kPackagesPrefix = "/packages/";
    static constexpr const char* kIconsPrefix = "/icons/";

    // Builds the packages into `packages` (made when missing) and listens on port (0: any
    // free one). Fails with the reason when a package cannot be built or the port is taken.
    static platform::Result<std::unique_ptr<StoreServer>> start(std::vector<StoreApp> catalogue,
                                                                std::filesystem::path packages,
                                                                std::uint16_t port = 0);
    ~StoreServer();
    StoreServer(const StoreServer&) = delete;
    StoreServer& operator=(const StoreServer&) = delete;

    [[nodiscard]] std::uint16_t port() const { return port_; }
    // Serves the same routes over HTTPS on a port of its own, with this identity; again: on a
    // new port with the new identity.
    platform::Result<void> serveSecurely(const TlsIdentity& identity);
    [[nodiscard]] std::uint16_t securePort() const { return securePort_.load(); }
    // "https://127.0.0.1:<secure port>" followed by pathAndQuery.
    [[nodiscard]] std::string secureURL(std::string_view pathAndQuery = {}) const;
    // "http://127.0.0.1:<port>" followed by pathAndQuery.
    [[nodiscard]] std::string url(std::string_view pathAndQuery = {}) const;
    [[nodiscard]] const std::vector<StoreApp>& catalogue() const { return catalogue_; }
    // Where a catalogue entry's package is served, as the back end's addresses are: on the
    // HTTPS side once there is one, with the product and the package's size ("bsize") in the
    // query.
    [[nodiscard]] std::string packageURL(const StoreApp& app) const;
    [[nodiscard]] std::filesystem::path packagePath(const StoreApp& app) const;

    // Answers GET and POST requests (form bodies read as parameters) for this exact path; replaces an earlier route of the path, built-in
    // ones included (a test can make a package answer 404).
    void addRoute(std::string path, Route route);
    // The featured list the recommendation route pages through (the catalogue until set); its
    // hash changes with the list.
    void setFeatured(std::vector<StoreApp> featured);
    // Told of every request and its status, from the server's threads.
    void observe(std::function<void(const StoreRequest&, int status)> observer);
    // The targets asked so far, in order.
    [[nodiscard]] std::vector<std::string> requests() const;

private:
    StoreServer(std::vector<StoreApp> catalogue, std::filesystem::path packages);
    void serveOn(httplib::Server& server);
    void stopServingSecurely();
    StoreAnswer answer(const StoreRequest& request) const;
    StoreAnswer featured(const StoreRequest& request) const;
    StoreAnswer updateCheck(const StoreRequest& request) const;
    StoreAnswer downloadURL(const StoreRequest& request) const;
    StoreAnswer file(const std::filesystem::path& path, std::string contentType) const;
    [[nodiscard]] const StoreApp* byPackage(std::string_view packageName) const;

    const std::vector<StoreApp> catalogue_;
    const std::filesystem::path packages_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    std::uint16_t port_ = 0;
    std::unique_ptr<httplib::Server> secureServer_;
    std::thread secureThread_;
    // Read by the routes on the servers' threads.
    std::atomic<std::uint16_t> securePort_{0};
    std::atomic<bool> secureEnded_{false};
    mutable std::mutex mutex_;
    std::condition_variable listenEndedSignal_;
    bool listenEnded_ = false;
    std::map<std::string, Route, std::less<>> routes_;
    std::function<void(const StoreRequest&, int)> observer_;
    std::optional<std::vector<StoreApp>> featured_;
    std::vector<std::string> requests_;
};

// Compares dotted versions number by number ("1.10" after "1.9"); a missing number counts 0.
[[nodiscard]] int compareVersions(std::string_view a, std::string_view b);

}  // namespace kavostore
