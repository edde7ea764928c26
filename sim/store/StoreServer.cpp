#include "sim/store/StoreServer.h"

#include <httplib.h>
#include <openssl/pem.h>
#include <openssl/sha.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <utility>

#include "platform/foundation/Base64.h"
#include "platform/foundation/Value.h"
#include "platform/foundation/XmlParser.h"

namespace kavostore {

namespace {

std::string escaped(std::string_view text) {
    std::string out;
    platform::xml::appendEscapedText(out, text);
    return out;
}

void element(std::string& xml, std::string_view name, std::string_view text) {
    xml.append("<").append(name).append(">").append(escaped(text)).append("</").append(name).append(
        ">");
}

std::string document(const std::string& content) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<result>" + content + "</result>\n";
}

// "a:b:c" as its parts; an empty text has none.
std::vector<std::string> split(std::string_view text, char separator) {
    std::vector<std::string> parts;
    while (!text.empty()) {
        const auto at = text.find(separator);
        parts.emplace_back(text.substr(0, at));
        if (at == std::string_view::npos) {
            break;
        }
        text.remove_prefix(at + 1);
    }
    return parts;
}

// The salted hash the phone sends beside its list: Base64 of SHA-1 over the list and the salt.
std::string saltedHash(const std::string& list) {
    const std::string salted = list + "HOLBRIMACENTY";
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(salted.data()), salted.size(), digest);
    return platform::base64::encode(std::span<const std::uint8_t>(digest, sizeof digest));
}

// A list whose hash does not match was altered on the way: refused as the back end does.
std::optional<StoreAnswer> refusedHash(const StoreRequest& request) {
    if (saltedHash(request.parameter("appInfo")) == request.parameter("hashValue")) {
        return std::nullopt;
    }
    return StoreAnswer{200, "text/xml",
                       document("<resultCode>3001</resultCode><resultMsg>hash mismatch"
                                "</resultMsg>")};
}

// A version as the phone sends it ("00100200003": three digits, three, then the rest) in the
// dotted form the catalogue keeps.
std::string dottedVersion(std::string_view formatted) {
    std::string dotted;
    for (std::size_t at = 0; at < formatted.size() && at < 6; at += 3) {
        dotted += std::to_string(platform::stringIntValue(formatted.substr(at, 3))) + ".";
    }
    if (formatted.size() > 6) {
        dotted += std::to_string(platform::stringIntValue(formatted.substr(6))) + ".";
    }
    if (!dotted.empty()) {
        dotted.pop_back();
    }
    return dotted;
}

StoreAnswer notFound() {
    return {404, "text/html", "<html><body>404 Not Found</body></html>\n"};
}

}  // namespace

std::string StoreRequest::parameter(std::string_view name) const {
    const auto found = query.find(std::string(name));
    return found != query.end() ? found->second : std::string();
}

int compareVersions(std::string_view a, std::string_view b) {
    const auto left = split(a, '.');
    const auto right = split(b, '.');
    for (std::size_t i = 0; i < std::max(left.size(), right.size()); ++i) {
        const std::int64_t x = i < left.size() ? platform::stringIntValue(left[i]) : 0;
        const std::int64_t y = i < right.size() ? platform::stringIntValue(right[i]) : 0;
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return 0;
}

StoreServer::StoreServer(std::vector<StoreApp> catalogue, std::filesystem::path packages)
    : catalogue_(std::move(catalogue)),
      packages_(std::move(packages)),
      server_(std::make_unique<httplib::Server>()) {
    routes_[kFeaturedPath] = [this](const StoreRequest& request) { return featured(request); };
    routes_[kUpdateCheckPath] = [this](const StoreRequest& request) {
        return updateCheck(request);
    };
    routes_[kDownloadPath] = [this](const StoreRequest& request) { return downloadURL(request); };
    routes_[kDomainLookupPath] = [this](const StoreRequest&) {
        // The store's domain is this server, on its HTTPS side when it has one.
        return StoreAnswer{200, "application/json",
                           "{\"domain\":\"127.0.0.1:" +
                               std::to_string(securePort() != 0 ? securePort() : port_) + "\"}"};
    };
    routes_[kRegistrationPath] = [](const StoreRequest& request) {
        // A registration names the phone; without one there is no id to give.
        const std::string duid = request.parameter("duid");
        if (request.method != "POST" || duid.empty()) {
            return StoreAnswer{200, "application/json",
                               "{\"returnCode\":\"1\",\"errorCode\":\"100\"}"};
        }
        return StoreAnswer{200, "application/json",
                           "{\"cID\":\"C-" + duid + "\",\"returnCode\":\"0\",\"errorCode\":\"0\"}"};
    };
    routes_[kMainPagePath] = [](const StoreRequest& request) {
        return StoreAnswer{200, "text/html",
                           "<html><body>Kavo apps for " + request.parameter("cID") +
                               "</body></html>\n"};
    };
}

platform::Result<std::unique_ptr<StoreServer>> StoreServer::start(std::vector<StoreApp> catalogue,
                                                                  std::filesystem::path packages,
                                                                  std::uint16_t port) {
    std::error_code error;
    std::filesystem::create_directories(packages, error);
    std::unique_ptr<StoreServer> store(new StoreServer(std::move(catalogue), std::move(packages)));
    for (const StoreApp& app : store->catalogue_) {
        if (auto written = writePackage(app, store->packagePath(app)); !written.ok()) {
            return written.error();
        }
    }
    StoreServer* self = store.get();
    self->serveOn(*self->server_);
    httplib::Server& server = *store->server_;
    server.set_keep_alive_timeout(1);
    const int bound = port == 0 ? server.bind_to_any_port("127.0.0.1")
                                : (server.bind_to_port("127.0.0.1", port) ? port : -1);
    if (bound <= 0) {
        return platform::Error{"kavostore", 1,
                               "cannot listen on 127.0.0.1:" + std::to_string(port)};
    }
    store->port_ = static_cast<std::uint16_t>(bound);
    store->thread_ = std::thread([self] {
        self->server_->listen_after_bind();
        std::lock_guard lock(self->mutex_);
        self->listenEnded_ = true;
        self->listenEndedSignal_.notify_all();
    });
    return store;
}

void StoreServer::stopServingSecurely() {
    if (!secureThread_.joinable()) {
        return;
    }
    // stop() only acts once the listening loop runs, which may not have begun yet.
    while (!secureEnded_.load()) {
        secureServer_->stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    secureThread_.join();
    secureEnded_ = false;
    securePort_ = 0;
}

StoreServer::~StoreServer() {
    stopServingSecurely();
    if (!thread_.joinable()) {
        return;
    }
    // stop() only acts once the listening loop runs, which may not have begun yet.
    std::unique_lock lock(mutex_);
    while (!listenEnded_) {
        lock.unlock();
        server_->stop();
        lock.lock();
        listenEndedSignal_.wait_for(lock, std::chrono::milliseconds(10));
    }
    lock.unlock();
    thread_.join();
}

void StoreServer::serveOn(httplib::Server& server) {
    const auto handler = [self = this](const httplib::Request& request, httplib::Response& response) {
        StoreRequest seen{request.method, request.path, request.target,
                          {request.params.begin(), request.params.end()}};
        StoreAnswer answer = self->answer(seen);
        response.status = answer.status;
        if (answer.chunked) {
            auto body = std::make_shared<std::string>(std::move(answer.body));
            response.set_chunked_content_provider(
                answer.contentType, [body](std::size_t offset, httplib::DataSink& sink) {
                    if (offset < body->size()) {
                        const std::size_t piece = std::min<std::size_t>(4096, body->size() - offset);
                        sink.write(body->data() + offset, piece);
                    } else {
                        sink.done();
                    }
                    return true;
                });
        } else {
            response.set_content(std::move(answer.body), answer.contentType);
        }
        std::function<void(const StoreRequest&, int)> observer;
        {
            std::lock_guard lock(self->mutex_);
            self->requests_.push_back(seen.target);
            observer = self->observer_;
        }
        if (observer) {
            observer(seen, answer.status);
        }
    };
    server.Get(".*", handler);
    server.Post(".*", handler);
}

platform::Result<void> StoreServer::serveSecurely(const TlsIdentity& identity) {
    // A new identity replaces the side that serves.
    stopServingSecurely();
    auto secure = std::make_unique<httplib::SSLServer>([&](SSL_CTX& context) {
        const auto load = [](const std::string& pem) {
            std::unique_ptr<BIO, decltype(&BIO_free)> bio(
                BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
            return bio;
        };
        auto certificateBio = load(identity.certificatePem);
        auto keyBio = load(identity.privateKeyPem);
        X509* certificate = PEM_read_bio_X509(certificateBio.get(), nullptr, nullptr, nullptr);
        EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr);
        const bool ok = certificate != nullptr && key != nullptr &&
                        SSL_CTX_use_certificate(&context, certificate) == 1 &&
                        SSL_CTX_use_PrivateKey(&context, key) == 1;
        X509_free(certificate);
        EVP_PKEY_free(key);
        for (const std::string& pem : identity.chainPem) {
            auto chainBio = load(pem);
            X509* extra = PEM_read_bio_X509(chainBio.get(), nullptr, nullptr, nullptr);
            if (extra != nullptr) {
                SSL_CTX_add1_chain_cert(&context, extra);
                X509_free(extra);
            }
        }
        return ok;
    });
    if (!secure->is_valid()) {
        return platform::Error{"kavostore", 2, "the TLS identity does not load"};
    }
    serveOn(*secure);
    secure->set_keep_alive_timeout(1);
    const int bound = secure->bind_to_any_port("127.0.0.1");
    if (bound <= 0) {
        return platform::Error{"kavostore", 1, "cannot listen on 127.0.0.1 for TLS"};
    }
    securePort_ = static_cast<std::uint16_t>(bound);
    secureServer_ = std::move(secure);
    secureThread_ = std::thread([this] {
        secureServer_->listen_after_bind();
        secureEnded_ = true;
    });
    return {};
}

std::string StoreServer::secureURL(std::string_view pathAndQuery) const {
    return "https://127.0.0.1:" + std::to_string(securePort()) + std::string(pathAndQuery);
}

std::string StoreServer::url(std::string_view pathAndQuery) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(pathAndQuery);
}

std::string StoreServer::packageURL(const StoreApp& app) const {
    std::string path = std::string(kPackagesPrefix) + app.fileName() + "?appId=" + app.productId;
    std::error_code error;
    if (const auto size = std::filesystem::file_size(packagePath(app), error); !error) {
        path += "&bsize=" + std::to_string(size);
    }
    return securePort() != 0 ? secureURL(path) : url(path);
}

std::filesystem::path StoreServer::packagePath(const StoreApp& app) const {
    return packages_ / app.fileName();
}

void StoreServer::addRoute(std::string path, Route route) {
    std::lock_guard lock(mutex_);
    routes_[std::move(path)] = std::move(route);
}

void StoreServer::setFeatured(std::vector<StoreApp> featured) {
    std::lock_guard lock(mutex_);
    featured_ = std::move(featured);
}

void StoreServer::observe(std::function<void(const StoreRequest&, int)> observer) {
    std::lock_guard lock(mutex_);
    observer_ = std::move(observer);
}

std::vector<std::string> StoreServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

const StoreApp* StoreServer::byPackage(std::string_view packageName) const {
    const auto found = std::find_if(catalogue_.begin(), catalogue_.end(), [&](const StoreApp& app) {
        return app.packageName == packageName;
    });
    return found != catalogue_.end() ? &*found : nullptr;
}

StoreAnswer StoreServer::answer(const StoreRequest& request) const {
    Route route;
    {
        std::lock_guard lock(mutex_);
        if (const auto found = routes_.find(request.path); found != routes_.end()) {
            route = found->second;
        }
    }
    if (route) {
        return route(request);
    }
    const std::string_view path = request.path;
    for (const StoreApp& app : catalogue_) {
        if (path == std::string(kPackagesPrefix) + app.fileName()) {
            return file(packagePath(app), "application/widget");
        }
        if (path == std::string(kIconsPrefix) + app.productId + ".png") {
            const platform::Bytes icon = solidPng(96, app.red, app.green, app.blue);
            return {200, "image/png", std::string(icon.begin(), icon.end())};
        }
    }
    return notFound();
}

StoreAnswer StoreServer::file(const std::filesystem::path& path, std::string contentType) const {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return notFound();
    }
    return {200, std::move(contentType),
            std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>())};
}

StoreAnswer StoreServer::featured(const StoreRequest& request) const {
    std::vector<StoreApp> list;
    {
        std::lock_guard lock(mutex_);
        list = featured_.value_or(catalogue_);
    }
    std::string names;
    for (const StoreApp& app : list) {
        names += app.productId + ",";
    }
    // Items are numbered from 1; a page names its first and last.
    const std::int64_t first = std::max<std::int64_t>(1, platform::stringIntValue(
                                                             request.parameter("startNum")));
    const std::int64_t last = platform::stringIntValue(request.parameter("endNum"));
    std::string content = "<resultCode>0</resultCode>";
    element(content, "totalCount", std::to_string(list.size()));
    element(content, "hashValue", "list-" + std::to_string(std::hash<std::string>{}(names)));
    for (std::int64_t number = first;
         number <= last && number <= static_cast<std::int64_t>(list.size()); ++number) {
        const StoreApp& app = list[static_cast<std::size_t>(number - 1)];
        content += "<appInfo>";
        element(content, "productID", app.productId);
        element(content, "productName", app.productName);
        element(content, "kavoAppId", app.packageName);
        element(content, "hostAppId", app.hostAppId);
        element(content, "productIconImgURL", url(std::string(kIconsPrefix) + app.productId +
                                                  ".png"));
        element(content, "listRefreshCycle", "24");
        content += "</appInfo>";
    }
    return {200, "text/xml", document(content)};
}

StoreAnswer StoreServer::updateCheck(const StoreRequest& request) const {
    if (auto refused = refusedHash(request)) {
        return *refused;
    }
    std::string content = "<resultCode>0</resultCode><resultMsg>success</resultMsg>";
    for (const std::string& list : {request.parameter("appInfo"),
                                    request.parameter("preloadAppInfo")}) {
        for (const std::string& entry : split(list, ':')) {
            const auto at = entry.find('@');
            const std::string packageName = entry.substr(0, at);
            const std::string version =
                at == std::string::npos ? "" : dottedVersion(entry.substr(at + 1));
            const StoreApp* app = byPackage(packageName);
            const bool newer = app != nullptr && compareVersions(app->version, version) > 0;
            content += "<appInfo>";
            element(content, "appId", packageName);
            element(content, "resultCode", newer ? "2" : "0");
            if (app != nullptr) {
                element(content, "version", app->version);
            }
            content += "</appInfo>";
        }
    }
    return {200, "text/xml", document(content)};
}

StoreAnswer StoreServer::downloadURL(const StoreRequest& request) const {
    if (auto refused = refusedHash(request)) {
        return *refused;
    }
    std::string content = "<resultCode>0</resultCode><resultMsg>success</resultMsg>";
    for (const std::string& list : {request.parameter("appInfo"),
                                    request.parameter("preloadAppInfo")}) {
        for (const std::string& id : split(list, ':')) {
            const StoreApp* app = byPackage(id);
            content += "<appInfo>";
            element(content, "appId", id);
            element(content, "resultCode", app != nullptr ? "1" : "0");
            if (app != nullptr) {
                element(content, "downloadURI", packageURL(*app));
                element(content, "productName", app->productName);
            }
            content += "</appInfo>";
        }
    }
    return {200, "text/xml", document(content)};
}

}  // namespace kavostore
